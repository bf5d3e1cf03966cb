// Builds Standard MIDI Files byte by byte for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MidiTrack {
public:
    // An event `delta` ticks after the previous one; `bytes` as they stand in the file.
    MidiTrack& event(uint32_t delta, std::vector<uint8_t> bytes) {
        variableLength(delta);
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    MidiTrack& tempo(uint32_t delta, uint32_t microsPerQuarter) {
        return event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsPerQuarter >> 16),
                             static_cast<uint8_t>(microsPerQuarter >> 8), static_cast<uint8_t>(microsPerQuarter)});
    }
    MidiTrack& end(uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }
    const std::vector<uint8_t>& bytes() const { return data_; }

private:
    void variableLength(uint32_t v) {
        uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = v & 0x7F;
            v >>= 7;
        } while (v);
        while (n > 1) data_.push_back(groups[--n] | 0x80);
        data_.push_back(groups[0]);
    }
    std::vector<uint8_t> data_;
};

inline void appendBigEndian(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline std::vector<uint8_t> midiFile(int format, uint16_t division, const std::vector<MidiTrack>& tracks) {
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd'};
    appendBigEndian(out, 6, 4);
    appendBigEndian(out, static_cast<uint32_t>(format), 2);
    appendBigEndian(out, static_cast<uint32_t>(tracks.size()), 2);
    appendBigEndian(out, division, 2);
    for (const MidiTrack& track : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        appendBigEndian(out, static_cast<uint32_t>(track.bytes().size()), 4);
        out.insert(out.end(), track.bytes().begin(), track.bytes().end());
    }
    return out;
}
