// Standard MIDI Files (format 0 and 1): the channel messages of every track merged in
// time order, with exact times from the tempo map. Sysex and meta events other than
// tempo are read and passed over.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Thrown for a file that is not a readable Standard MIDI File: says what and where.
class MidiFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MidiMessage {
    // The time is exactly `time / timeUnitsPerSecond` seconds.
    int64_t time;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

struct MidiSong {
    int format = 0;
    int tracks = 0;
    int64_t timeUnitsPerSecond = 1;
    std::vector<MidiMessage> messages;  // in time order; equal times keep track and file order
    int64_t endTime = 0;                // the latest end of track, in the same units

    // The sample frame of a time at `rate`, rounded to the nearest frame.
    int64_t frameAt(int64_t time, int64_t rate) const;
};

MidiSong parseMidiFile(const std::vector<uint8_t>& bytes);
// Reads and parses a file; unreadable files throw MidiFileError too.
MidiSong loadMidiFile(const std::string& path);
