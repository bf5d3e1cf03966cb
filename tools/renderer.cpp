#include "renderer.h"

#include <algorithm>

RenderPlan planFromMidi(const MidiSong& song, int64_t rate, int64_t tailFrames) {
    RenderPlan plan;
    plan.events.reserve(song.messages.size());
    for (const MidiMessage& m : song.messages)
        plan.events.push_back({song.frameAt(m.time, rate), m.status, m.data1, m.data2});
    plan.frames = song.frameAt(song.endTime, rate) + tailFrames;
    return plan;
}

void renderPlan(PluginHost& host, const RenderPlan& plan, const AudioSink& sink, const Progress& progress) {
    const int32_t blockSize = std::max<int32_t>(1, plan.blockSize);
    host.start(blockSize);
    std::vector<float> left(static_cast<size_t>(blockSize)), right(static_cast<size_t>(blockSize));
    std::vector<BlockEvent> events;
    size_t nextEvent = 0;
    size_t nextCue = 0;
    for (int64_t start = 0; start < plan.frames;) {
        while (nextCue < plan.cues.size() && plan.cues[nextCue].frame <= start)
            host.setChunk(plan.cues[nextCue++].chunk);
        int64_t end = std::min<int64_t>(start + blockSize, plan.frames);
        if (nextCue < plan.cues.size()) end = std::min(end, plan.cues[nextCue].frame);
        const auto frames = static_cast<int32_t>(end - start);

        events.clear();
        while (nextEvent < plan.events.size() && plan.events[nextEvent].frame < end) {
            const TimedMidi& e = plan.events[nextEvent++];
            if (e.frame < start) continue;
            events.push_back({static_cast<int32_t>(e.frame - start), e.status, e.data1, e.data2});
        }
        host.process(events, left.data(), right.data(), frames);
        sink(left.data(), right.data(), frames);
        start = end;
        if (progress) progress(start, plan.frames);
    }
}
