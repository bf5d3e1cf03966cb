// The fixed MIDI sequence the presets are rendered with, to compare the plug-in's builds
// and formats sample for sample.
#pragma once

#include <vector>

#include "vst_events.h"

constexpr int kPresets = 38;

struct TimedMessage {
    double seconds;
    int status, data1, data2;
};

// Chords, a glide of held notes, a bend, the wheel, short melody notes and drums.
inline std::vector<TimedMessage> sequence() {
    std::vector<TimedMessage> messages = {
        {0.0, 0x90, 60, 100}, {0.5, 0x90, 64, 80}, {1.0, 0x90, 67, 60}, {2.0, 0x80, 60, 0},
        {2.5, 0xE0, 0, 96},   {3.0, 0xB0, 1, 64},  {3.5, 0xE0, 0, 32},  {4.0, 0xB0, 123, 0},
        {4.0, 0xE0, 0, 64},   {9.0, 0xB0, 1, 127}, {9.5, 0xB0, 123, 0},
    };
    for (int i = 0; i < 36; ++i) {
        const double t = 4.25 + i * 0.125;
        const int key = 48 + (i * 7) % 36;
        messages.push_back({t, 0x90, key, 20 + i * 3});
        messages.push_back({t + 0.1, 0x80, key, 0});
        if (i % 4 == 0) messages.push_back({t, 0x99, 36 + i % 12, 127});
    }
    return messages;
}

// The messages that fall in the block of `frames` from frame `start`, as VST 2.4 MIDI
// events at their frames inside it (the other formats' tests translate these).
inline std::vector<VstMidiEvent> blockEvents(const std::vector<TimedMessage>& messages, double rate, long start,
                                             long frames) {
    std::vector<VstMidiEvent> events;
    for (const TimedMessage& m : messages) {
        const long frame = static_cast<long>(m.seconds * rate) - start;
        if (frame >= 0 && frame < frames)
            events.push_back(vstMidiEvent(m.status, m.data1, m.data2, static_cast<int>(frame)));
    }
    return events;
}
