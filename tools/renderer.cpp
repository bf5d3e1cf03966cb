#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "engine/events.h"

RenderPlan planFromMidi(const MidiSong& song, int64_t rate, int64_t tailFrames) {
    RenderPlan plan;
    plan.rate = rate;
    plan.events.reserve(song.messages.size());
    for (const MidiMessage& m : song.messages)
        plan.events.push_back({song.frameAt(m.time, rate), m.status, m.data1, m.data2});
    plan.frames = song.frameAt(song.endTime, rate) + tailFrames;
    for (const MeterChange& m : song.meters) plan.meters.push_back({song.frameAt(m.time, rate), m});
    return plan;
}

engine::TransportReport transportAt(const RenderPlan& plan, int64_t frame, int64_t rate) {
    MeterChange now{0, 0.0, 120.0, 4, 4, 0.0};
    int64_t from = 0;
    for (const TimedMeter& m : plan.meters)
        if (m.frame <= frame) now = m.meter, from = m.frame;
    engine::TransportReport report;
    report.playing = report.hasPosition = report.hasTempo = report.hasSignature = report.hasBarStart = true;
    report.quarterNotes =
        now.quarterNotes + static_cast<double>(frame - from) * now.tempo / 60.0 / static_cast<double>(rate);
    report.tempo = now.tempo;
    report.numerator = now.numerator;
    report.denominator = now.denominator;
    const double bar = now.numerator * 4.0 / now.denominator;
    report.barStart = now.meterStart + std::floor((report.quarterNotes - now.meterStart) / bar + 1e-9) * bar;
    report.hasSamples = plan.meters.size() <= 1;  // a song of one tempo: its samples count its beats
    report.samples = frame;
    return report;
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

// MIDI events handed to a plug-in in one block at most: half of what Bytone's queue
// holds, the rest left for the transport's reports. A block with more is cut short, and
// events due at one frame beyond it come a frame later, so that none is dropped.
constexpr size_t kBlockEvents = engine::kEventCapacity / 2;

// One instance going through its plan block by block, its sound delayed to lag by
// `lag` frames where the plug-in lags by fewer.
class PlanPlayer {
public:
    PlanPlayer(InstrumentHost& host, const RenderPlan& plan, int32_t blockSize, int64_t rate)
        : host_(host),
          plan_(plan),
          rate_(rate),
          left_(static_cast<size_t>(blockSize)),
          right_(static_cast<size_t>(blockSize)) {
        host_.start(blockSize);
    }
    int32_t latency() const { return host_.latency(); }
    void lagBy(int32_t lag) {
        const auto delay = static_cast<size_t>(std::max(0, lag - latency()));
        delayLeft_.assign(delay, 0.0f);
        delayRight_.assign(delay, 0.0f);
    }

    // Where a block from `start` to `end` must end so that it holds no more than
    // kBlockEvents events: `end`, or the frame of the first event past them (a frame on
    // from `start` at least).
    int64_t endFor(int64_t start, int64_t end) const {
        const size_t past = nextEvent_ + kBlockEvents;
        if (past >= plan_.events.size() || plan_.events[past].frame >= end) return end;
        return std::max(start + 1, plan_.events[past].frame);
    }

    // Renders [start, end) into the player's buffers, restoring the cues due at `start`.
    // Events left over from a full block come first, at its start.
    void render(int64_t start, int64_t end) {
        while (nextCue_ < plan_.cues.size() && plan_.cues[nextCue_].frame <= start)
            host_.setChunk(plan_.cues[nextCue_++].chunk);
        events_.clear();
        while (nextEvent_ < plan_.events.size() && plan_.events[nextEvent_].frame < end &&
               events_.size() < kBlockEvents) {
            const TimedMidi& e = plan_.events[nextEvent_++];
            events_.push_back(
                {static_cast<int32_t>(std::max<int64_t>(e.frame - start, 0)), e.status, e.data1, e.data2});
        }
        // The transport at the block's start, and where the tempo or signature changes in it.
        transport_.assign(1, {0, transportAt(plan_, start, rate_)});
        for (const TimedMeter& m : plan_.meters)
            if (m.frame > start && m.frame < end)
                transport_.push_back({static_cast<int32_t>(m.frame - start), transportAt(plan_, m.frame, rate_)});
        const auto frames = static_cast<size_t>(end - start);
        host_.process(events_, transport_, left_.data(), right_.data(), static_cast<int32_t>(frames));
        delay(delayLeft_, left_, frames);
        delay(delayRight_, right_, frames);
    }
    const float* left() const { return left_.data(); }
    const float* right() const { return right_.data(); }

private:
    // The block's `frames` come out `line`'s length later.
    static void delay(std::vector<float>& line, std::vector<float>& block, size_t frames) {
        if (line.empty()) return;
        line.insert(line.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames));
        std::copy(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(frames), block.begin());
        line.erase(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(frames));
    }

    InstrumentHost& host_;
    const RenderPlan& plan_;
    const int64_t rate_;
    std::vector<float> left_, right_;
    std::vector<float> delayLeft_, delayRight_;
    std::vector<BlockEvent> events_;
    std::vector<BlockTransport> transport_;
    size_t nextEvent_ = 0;
    size_t nextCue_ = 0;
};

// Walks the plan's blocks: each ends at the block size, the end, the next cue, or where
// `cut` ends it so that the players' events fit. The plug-ins' sound lags by `lag`
// frames: as many more are rendered, and the sink is given the sound from there on, so
// that it starts with the plan.
template <class Cut, class RenderBlock>
void forEachBlock(const RenderPlan& plan, int32_t blockSize, int32_t lag, const Progress& progress,
                  const AudioSink& sink, Cut&& cut, RenderBlock&& renderBlock) {
    const int64_t frames = plan.frames + lag;
    size_t nextCue = 0;
    for (int64_t start = 0; start < frames;) {
        while (nextCue < plan.cues.size() && plan.cues[nextCue].frame <= start) ++nextCue;
        int64_t end = std::min<int64_t>(start + blockSize, frames);
        if (nextCue < plan.cues.size()) end = std::min(end, plan.cues[nextCue].frame);
        end = cut(start, end);
        const auto [left, right] = renderBlock(start, end);
        const int64_t skipped = std::clamp<int64_t>(lag - start, 0, end - start);
        if (end - start > skipped) sink(left + skipped, right + skipped, static_cast<int32_t>(end - start - skipped));
        start = end;
        if (progress) progress(std::max<int64_t>(0, start - lag), plan.frames);
    }
}

}  // namespace

void renderPlan(InstrumentHost& host, const RenderPlan& plan, const AudioSink& sink, const Progress& progress) {
    const int32_t blockSize = std::max<int32_t>(1, plan.blockSize);
    PlanPlayer player(host, plan, blockSize, plan.rate);
    const auto cut = [&](int64_t start, int64_t end) { return player.endFor(start, end); };
    forEachBlock(plan, blockSize, player.latency(), progress, sink, cut, [&](int64_t start, int64_t end) {
        player.render(start, end);
        return std::pair{player.left(), player.right()};
    });
}

void renderMix(const std::vector<InstrumentHost*>& hosts, const std::vector<RenderPlan>& plans, float gain,
               const AudioSink& sink, std::vector<InstanceLevels>& levels, const Progress& progress) {
    if (hosts.empty() || plans.size() != hosts.size()) return;
    const int32_t blockSize = std::max<int32_t>(1, plans[0].blockSize);
    std::vector<std::unique_ptr<PlanPlayer>> players;
    for (size_t i = 0; i < hosts.size(); ++i)
        players.push_back(std::make_unique<PlanPlayer>(*hosts[i], plans[i], blockSize, plans[i].rate));
    // The instances that lag less are delayed to lag as the one that lags the most.
    int32_t lag = 0;
    for (const auto& player : players) lag = std::max(lag, player->latency());
    for (const auto& player : players) player->lagBy(lag);
    levels.assign(hosts.size(), InstanceLevels{});
    std::vector<float> left(static_cast<size_t>(blockSize)), right(static_cast<size_t>(blockSize));
    const auto cut = [&](int64_t start, int64_t end) {
        for (const auto& player : players) end = player->endFor(start, end);
        return end;
    };
    forEachBlock(plans[0], blockSize, lag, progress, sink, cut, [&](int64_t start, int64_t end) {
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
        return std::pair{static_cast<const float*>(left.data()), static_cast<const float*>(right.data())};
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
