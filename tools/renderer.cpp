#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <memory>

RenderPlan planFromMidi(const MidiSong& song, int64_t rate, int64_t tailFrames) {
    RenderPlan plan;
    plan.events.reserve(song.messages.size());
    for (const MidiMessage& m : song.messages)
        plan.events.push_back({song.frameAt(m.time, rate), m.status, m.data1, m.data2});
    plan.frames = song.frameAt(song.endTime, rate) + tailFrames;
    return plan;
}

RenderPlan onlyChannels(const RenderPlan& plan, ChannelSet channels) {
    RenderPlan only = plan;
    only.events.clear();
    for (const TimedMidi& e : plan.events)
        if (e.status >= 0xF0 || (channels >> (e.status & 0x0F)) & 1) only.events.push_back(e);
    return only;
}

ChannelSet channelsWithNotes(const RenderPlan& plan) {
    ChannelSet channels = 0;
    for (const TimedMidi& e : plan.events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) channels |= static_cast<ChannelSet>(1u << (e.status & 0x0F));
    return channels;
}

namespace {

// One instance going through its plan block by block.
class PlanPlayer {
public:
    PlanPlayer(PluginHost& host, const RenderPlan& plan, int32_t blockSize)
        : host_(host), plan_(plan), left_(static_cast<size_t>(blockSize)), right_(static_cast<size_t>(blockSize)) {
        host_.start(blockSize);
    }

    // Renders [start, end) into the player's buffers, restoring the cues due at `start`.
    void render(int64_t start, int64_t end) {
        while (nextCue_ < plan_.cues.size() && plan_.cues[nextCue_].frame <= start)
            host_.setChunk(plan_.cues[nextCue_++].chunk);
        events_.clear();
        while (nextEvent_ < plan_.events.size() && plan_.events[nextEvent_].frame < end) {
            const TimedMidi& e = plan_.events[nextEvent_++];
            if (e.frame < start) continue;
            events_.push_back({static_cast<int32_t>(e.frame - start), e.status, e.data1, e.data2});
        }
        host_.process(events_, left_.data(), right_.data(), static_cast<int32_t>(end - start));
    }
    const float* left() const { return left_.data(); }
    const float* right() const { return right_.data(); }

private:
    PluginHost& host_;
    const RenderPlan& plan_;
    std::vector<float> left_, right_;
    std::vector<BlockEvent> events_;
    size_t nextEvent_ = 0;
    size_t nextCue_ = 0;
};

// Walks the plan's blocks: each ends at the block size, the end, or the next cue.
template <class RenderBlock>
void forEachBlock(const RenderPlan& plan, int32_t blockSize, const Progress& progress, RenderBlock&& renderBlock) {
    size_t nextCue = 0;
    for (int64_t start = 0; start < plan.frames;) {
        while (nextCue < plan.cues.size() && plan.cues[nextCue].frame <= start) ++nextCue;
        int64_t end = std::min<int64_t>(start + blockSize, plan.frames);
        if (nextCue < plan.cues.size()) end = std::min(end, plan.cues[nextCue].frame);
        renderBlock(start, end);
        start = end;
        if (progress) progress(start, plan.frames);
    }
}

}  // namespace

void renderPlan(PluginHost& host, const RenderPlan& plan, const AudioSink& sink, const Progress& progress) {
    const int32_t blockSize = std::max<int32_t>(1, plan.blockSize);
    PlanPlayer player(host, plan, blockSize);
    forEachBlock(plan, blockSize, progress, [&](int64_t start, int64_t end) {
        player.render(start, end);
        sink(player.left(), player.right(), static_cast<int32_t>(end - start));
    });
}

void renderMix(const std::vector<PluginHost*>& hosts, const std::vector<RenderPlan>& plans, float gain,
               const AudioSink& sink, std::vector<InstanceLevels>& levels, const Progress& progress) {
    if (hosts.empty() || plans.size() != hosts.size()) return;
    const int32_t blockSize = std::max<int32_t>(1, plans[0].blockSize);
    std::vector<std::unique_ptr<PlanPlayer>> players;
    for (size_t i = 0; i < hosts.size(); ++i)
        players.push_back(std::make_unique<PlanPlayer>(*hosts[i], plans[i], blockSize));
    levels.assign(hosts.size(), InstanceLevels{});
    std::vector<float> left(static_cast<size_t>(blockSize)), right(static_cast<size_t>(blockSize));
    forEachBlock(plans[0], blockSize, progress, [&](int64_t start, int64_t end) {
        const auto frames = static_cast<int32_t>(end - start);
        std::fill(left.begin(), left.begin() + frames, 0.0f);
        std::fill(right.begin(), right.begin() + frames, 0.0f);
        for (size_t i = 0; i < players.size(); ++i) {
            players[i]->render(start, end);
            for (int32_t k = 0; k < frames; ++k) {
                const float l = players[i]->left()[k], r = players[i]->right()[k];
                levels[i].peak = std::max({levels[i].peak, std::fabs(l), std::fabs(r)});
                levels[i].atFullScale += std::fabs(l) >= 1.0f || std::fabs(r) >= 1.0f;
                left[k] += l * gain;
                right[k] += r * gain;
            }
        }
        sink(left.data(), right.data(), frames);
    });
}

DcBlocker::DcBlocker(double cutoffHz, double sampleRate)
    : pole_(std::exp(-2.0 * 3.141592653589793 * cutoffHz / sampleRate)) {}

void DcBlocker::process(float* samples, int32_t frames) {
    for (int32_t k = 0; k < frames; ++k) {
        const double input = samples[k];
        lastOutput_ = input - lastInput_ + pole_ * lastOutput_;
        lastInput_ = input;
        samples[k] = static_cast<float>(lastOutput_);
    }
}
