// Standard MIDI Files (format 0 and 1): the channel messages of every track merged in
// time order, with exact times from the tempo map, and the tempo map and time signatures
// as a host's transport gives them. Sysex and meta events other than tempo and time
// signature are read and passed over.
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

// A change of the tempo or the time signature, at a time (in the song's units) and a
// place in the song (in quarter notes), with the tempo and signature from there on and
// where the signature began (its bars are counted from there).
struct MeterChange {
    int64_t time;
    double quarterNotes;
    double tempo;  // quarter notes per minute
    int32_t numerator, denominator;
    double meterStart;
};

struct MidiSong {
    int format = 0;
    int tracks = 0;
    int64_t timeUnitsPerSecond = 1;
    std::vector<MidiMessage> messages;  // in time order; equal times keep track and file order
    int64_t endTime = 0;                // the latest end of track, in the same units
    // From time 0 on (120 BPM in 4/4 until a file says otherwise); a file timed in SMPTE
    // frames has only that first.
    std::vector<MeterChange> meters;

    // The sample frame of a time at `rate`, rounded to the nearest frame.
    int64_t frameAt(int64_t time, int64_t rate) const;
};

MidiSong parseMidiFile(const std::vector<uint8_t>& bytes);
// Reads and parses a file; unreadable files throw MidiFileError too.
MidiSong loadMidiFile(const std::string& path);
