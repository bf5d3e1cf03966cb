// The song's position as the words beat and bar read it, sample by sample: taken from
// what the host says of its transport (at a block's start or at a frame inside it) and
// advanced at the host's tempo. While the transport is stopped, or where a host says
// nothing, the position runs on at the last tempo from where it stood, so that a pattern
// keeps playing while the user plays with the song stopped.
// [audio thread]
#pragma once

#include <cstdint>

namespace engine {

// What a host says of its transport at one frame; each part only where it gives it.
struct TransportReport {
    bool playing = false;
    bool hasPosition = false;
    double quarterNotes = 0.0;  // the song position at the frame
    bool hasTempo = false;
    double tempo = 120.0;         // quarter notes per minute
    double tempoIncrement = 0.0;  // per sample, until the next report (a tempo ramp)
    bool hasBarStart = false;
    double barStart = 0.0;  // in quarter notes, where the current bar began
    bool hasSignature = false;
    int32_t numerator = 4, denominator = 4;
    bool hasSamples = false;
    int64_t samples = 0;  // the host's own count of the song's samples at the frame
};

class SongPosition {
public:
    // Follows a report at the sample reached: its tempo and time signature always; its
    // position while playing, and while stopped only where it differs from the stopped
    // position last reported (a seek), so that a host repeating the same stopped
    // position does not pull the running position back; a position within a 256th of a
    // quarter note of the running one only confirms it. Values out of reason are passed over.
    void follow(const TransportReport& report);
    // Writes the position at each of the next `frames` samples into `beats` and the start
    // of its bar into `bars` (in the units of beat), and moves on past them; with null
    // arrays it only moves on. With a `factor` above 1 it writes `factor` positions a
    // sample, at each fraction 1 / `factor` of it.
    void advance(int64_t* beats, int64_t* bars, int32_t frames, double rate, int32_t factor = 1);
    // The position at the sample reached.
    int64_t beat() const { return beatAt(elapsed_); }
    // Back to the song's start, as at activation: the tempo and signature stay.
    void rewind();

private:
    // The position `n` samples after the anchor, rounded down. Each is computed from the
    // anchor, not summed step by step, so that a beat that falls on a sample is that
    // sample's, and a stretch that nobody reads costs nothing.
    int64_t beatAt(double n) const { return wholeUnits(unitsAt(n)); }
    double unitsAt(double n) const;
    double tempoAt(int64_t n) const;
    static int64_t wholeUnits(double units);
    // The position at the sample reached becomes the anchor, to go on from it at `tempo`.
    void anchor(double units, double tempo, double increment);
    // Moves the bar's start to the bar that holds `beat`, on the current grid.
    void findBar(int64_t beat);

    double anchor_ = 0.0;                     // the position at the anchor, in beat's units
    int64_t elapsed_ = 0;                     // samples since the anchor
    double tempo_ = 120.0, increment_ = 0.0;  // at the anchor, and per sample after it
    double rate_ = 0.0;                       // the sample rate the anchor counts in
    int64_t barStart_ = 0;
    int64_t barLength_ = 4 * 32768;
    bool stoppedKnown_ = false;  // a stopped position has been reported since the transport last played
    double stoppedAt_ = 0.0;
};

}  // namespace engine
