// Offline rendering through a hosted plug-in: MIDI messages at exact frames, cut into
// blocks of any size, with state restores at given frames, written to a sink.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "midi_file.h"
#include "plugin_host.h"

struct TimedMidi {
    int64_t frame;
    uint8_t status, data1, data2;
};

// A state chunk restored before the given frame is rendered.
struct StateCue {
    int64_t frame;
    std::vector<uint8_t> chunk;
};

struct RenderPlan {
    std::vector<TimedMidi> events;  // in frame order
    std::vector<StateCue> cues;     // in frame order
    int64_t frames = 0;             // length of the output
    int32_t blockSize = 512;
};

// The song's messages at their frames at `rate`, and its length plus `tailFrames`.
RenderPlan planFromMidi(const MidiSong& song, int64_t rate, int64_t tailFrames);

// Receives each rendered stretch as two channels.
using AudioSink = std::function<void(const float* left, const float* right, int32_t frames)>;
// Told how many frames are done so far.
using Progress = std::function<void(int64_t done, int64_t total)>;

// Blocks end early at cue frames, so the output does not depend on the block size.
void renderPlan(PluginHost& host, const RenderPlan& plan, const AudioSink& sink, const Progress& progress = {});
