// The events of a block: what the adapters take from their hosts (MIDI messages, notes,
// setting changes) and block rendering fires at its frame.
#pragma once

#include <cstdint>

namespace engine {

enum class EventKind : int32_t {
    Note = 0,           // note, velocity (0 = off; note -1 = all notes off)
    PitchBend = 1,      // value: bend in semitones
    ModWheel = 2,       // value: wheel position 0..127
    ProgramChange = 3,  // program
    SettingChange = 4,  // setting (engine::Setting as a number), value: its new value
    // The extended language's: what its words read.
    Pressure = 5,   // value 0..127 for the note of key `note` on `channel`, or every note of it (note -1)
    Timbre = 6,     // value 0..127 for the notes of `channel`
    Transport = 7,  // program: the index of the host's report among the block's (Instrument::queueTransport)
    // A host's expression of the notes its noteId, port, channel and note (the key) name,
    // -1 in any of them naming every one; value: semitones for Tuning, 0..1 for the others.
    NoteExpression = 8,
    // The sustain pedal of `channel`: value 0..127, down from 64; and all sound off, which
    // silences every voice at once.
    Pedal = 9,
    SoundOff = 10,
};

// What a note expression moves: the note's own pitch bend, its pressure, its timbre.
enum class Expression : int32_t { Tuning, Pressure, Timbre };

struct Event {
    EventKind kind;
    int32_t frame;  // of the block; fires before the sample of that frame is rendered
    int32_t channel;
    int32_t note;
    int32_t velocity;
    int32_t program;
    float value;
    int32_t setting;
    int32_t order;  // its place in the block's queue, which orders events of one frame
    // A note's id and port as a host that tracks voices names them (CLAP); -1 and 0 for
    // a note that came as MIDI. The voice it starts keeps them.
    int32_t noteId = -1;
    int32_t port = 0;
    Expression expression = Expression::Tuning;  // of a NoteExpression
};

// Events one block holds at most; what a host sends beyond it is dropped (and counted).
// Hosts send far fewer: a dense MIDI file has a few hundred events per second.
constexpr int kEventCapacity = 4096;

}  // namespace engine
