// Writes the fixed test sequence as a Standard MIDI File (format 0, 960 ticks to the
// quarter at 120 beats a minute, so that every message falls on a tick), for hosts that
// play it from a file: `make test` renders it in Ardour through each plug-in format.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "midi_builder.h"
#include "preset_sequence.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sequence_file OUTPUT.mid\n");
        return 2;
    }
    constexpr int kTicksPerSecond = 1920;
    // And a program change to the first program: Ardour hands any program change to a VST3
    // plug-in as program 0, so the formats can agree on this one.
    std::vector<TimedMessage> messages = sequence();
    messages.push_back({7.0, 0xC0, 0, 0});
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.seconds < b.seconds; });
    MidiTrack track;
    track.tempo(0, 500000);
    long previous = 0;
    for (const TimedMessage& m : messages) {
        const long tick = std::lround(m.seconds * kTicksPerSecond);
        std::vector<uint8_t> bytes = {static_cast<uint8_t>(m.status), static_cast<uint8_t>(m.data1)};
        if ((m.status & 0xE0) != 0xC0)
            bytes.push_back(static_cast<uint8_t>(m.data2));  // program change, pressure: 2 bytes
        track.event(static_cast<uint32_t>(tick - previous), bytes);
        previous = tick;
    }
    track.end();
    const std::vector<uint8_t> bytes = midiFile(0, 960, {track});
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
