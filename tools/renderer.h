// Offline rendering through a hosted plug-in: MIDI messages at exact frames, cut into
// blocks of any size, with the song's transport and state restores at given frames,
// written to a sink.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "instrument_host.h"
#include "midi_file.h"

struct TimedMidi {
    int64_t frame;
    uint8_t status, data1, data2;
};

// A state chunk restored before the given frame is rendered.
struct StateCue {
    int64_t frame;
    std::vector<uint8_t> chunk;
};

// The song's tempo and time signature from a frame on, as a playing transport gives them.
struct TimedMeter {
    int64_t frame;
    MeterChange meter;
};

struct RenderPlan {
    std::vector<TimedMidi> events;   // in frame order
    std::vector<StateCue> cues;      // in frame order
    std::vector<TimedMeter> meters;  // in frame order, the first at frame 0
    int64_t frames = 0;              // length of the output
    int32_t blockSize = 512;
    int64_t rate = 48000;  // the frames' sample rate
};

// The song's messages and transport at their frames at `rate`, and its length plus `tailFrames`.
RenderPlan planFromMidi(const MidiSong& song, int64_t rate, int64_t tailFrames);
// What the transport of a plan says at `frame`: playing, from the song's start.
engine::TransportReport transportAt(const RenderPlan& plan, int64_t frame, int64_t rate);

// MIDI channels 1..16 as bits 0..15.
using ChannelSet = uint16_t;
constexpr ChannelSet kAllChannels = 0xFFFF;
// The plan with only the messages of the given channels (and every message that has no
// channel); its cues and length stay.
RenderPlan onlyChannels(const RenderPlan& plan, ChannelSet channels);
// The channels that play at least one note.
ChannelSet channelsWithNotes(const RenderPlan& plan);

// Receives each rendered stretch as two channels.
using AudioSink = std::function<void(const float* left, const float* right, int32_t frames)>;
// Told how many frames are done so far.
using Progress = std::function<void(int64_t done, int64_t total)>;

// Blocks end early at cue frames, so the output does not depend on the block size. The
// plug-in's latency is made up for: the sink's sound lines up with the plan's events.
void renderPlan(InstrumentHost& host, const RenderPlan& plan, const AudioSink& sink, const Progress& progress = {});

// What one instance played: its highest absolute sample, and how many frames reached
// full scale (the instrument's own limit) on either channel.
struct InstanceLevels {
    float peak = 0.0f;
    int64_t atFullScale = 0;
};

// Several instances, each playing its own plan, in step, their latencies made up for;
// the plans must share their cues and length. The sink receives their sum, each instance's output times `gain`;
// `levels` receives each instance's levels before that.
void renderMix(const std::vector<InstrumentHost*>& hosts, const std::vector<RenderPlan>& plans, float gain,
               const AudioSink& sink, std::vector<InstanceLevels>& levels, const Progress& progress = {});

// A one-pole high-pass filter that takes out the constant part of a signal, for a
// mix whose voices swing on one side of zero.
class DcBlocker {
public:
    DcBlocker(double cutoffHz, double sampleRate);
    void process(float* samples, int32_t frames);

private:
    double pole_;
    double lastInput_ = 0.0, lastOutput_ = 0.0;
};
