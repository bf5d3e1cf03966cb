// Queued MIDI events: what the event intake takes from the host and block rendering
// fires at its sample.
#pragma once

#include <cstdint>

enum EventKind : int32_t {
    Note = 0,           // note, velocity (0 = off; note -1 = all notes off)
    PitchBend = 1,      // value: bend in semitones
    ModWheel = 2,       // value: wheel position 0..127
    ProgramChange = 3,  // program
};

struct PendingEvent {
    int32_t kind;
    int32_t framesLeft;  // fires at the sample where it runs out; negative once fired
    int32_t channel;
    int32_t note;
    int32_t velocity;
    int32_t program;
    float value;
};

// Room reserved at construction, so that the audio thread never allocates for the hosts'
// usual event counts.
constexpr int kEventReserve = 4096;
