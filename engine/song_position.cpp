#include "song_position.h"

#include <cmath>

#include "../expr/words.h"

namespace engine {

namespace {

// Positions beyond about 4 million bars are out of reason; so are tempos outside these.
constexpr double kFarthestQuarterNotes = 1u << 24;
constexpr double kSlowestTempo = 1.0, kFastestTempo = 10000.0;
// How far a host's position may lie from the running one and still confirm it, in beat's
// units: 1/256 of a quarter note.
constexpr double kJitter = 128.0;
// The anchor moves on before the samples counted from it lose their exactness.
constexpr int64_t kLongestRun = int64_t{1} << 31;

bool reasonable(double quarterNotes) {
    return std::isfinite(quarterNotes) && std::fabs(quarterNotes) <= kFarthestQuarterNotes;
}

int64_t floorDivide(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

// Rounded down, and within reach of the counters for any value.
int64_t SongPosition::wholeUnits(double units) {
    constexpr double kReach = 4e18;
    if (!(units > -kReach)) return units < 0 ? static_cast<int64_t>(-kReach) : 0;
    if (units >= kReach) return static_cast<int64_t>(kReach);
    return static_cast<int64_t>(std::floor(units));
}

double SongPosition::unitsAt(double samples) const {
    if (samples == 0.0 || rate_ <= 0.0) return anchor_;
    // n * tempo * units is exact for whole tempos, so a beat that falls on a sample is exact.
    double moved = samples * tempo_ * kBeatUnits;
    if (increment_ != 0.0) moved += increment_ * kBeatUnits * samples * (samples - 1.0) / 2.0;
    return anchor_ + moved / (60.0 * rate_);
}

double SongPosition::tempoAt(int64_t n) const { return tempo_ + increment_ * static_cast<double>(n); }

void SongPosition::anchor(double units, double tempo, double increment) {
    anchor_ = units;
    elapsed_ = 0;
    tempo_ = std::fmin(std::fmax(tempo, kSlowestTempo), kFastestTempo);
    increment_ = std::isfinite(increment) ? increment : 0.0;
}

void SongPosition::follow(const TransportReport& report) {
    double tempo = tempoAt(elapsed_), increment = increment_;
    if (report.hasTempo && std::isfinite(report.tempo)) {
        tempo = report.tempo;
        increment = report.tempoIncrement;
    }
    if (report.hasSignature && report.numerator > 0 && report.numerator <= 64 && report.denominator > 0 &&
        report.denominator <= 64)
        barLength_ = std::llround(report.numerator * 4.0 * kBeatUnits / report.denominator);
    // The position is followed while playing, and while stopped where it is new.
    bool followed = false;
    if (report.hasPosition && reasonable(report.quarterNotes)) {
        if (report.playing) {
            stoppedKnown_ = false;
            followed = true;
        } else if (!stoppedKnown_ || report.quarterNotes != stoppedAt_) {
            stoppedKnown_ = true;
            stoppedAt_ = report.quarterNotes;
            followed = true;
        }
    }
    // A position that agrees with the running one to within kJitter confirms it: the
    // song goes on from its anchor, and with it the exactness of each sample's beat, also
    // where a host rounds its positions (Ardour counts 1,920ths of a quarter note).
    // Anything farther is a jump (a loop, a seek), followed at once. Where the host also
    // counts the song's samples and they give its position at its tempo from the start
    // (a song of one tempo), they give it exactly.
    double units = report.quarterNotes * kBeatUnits;
    const double here = unitsAt(elapsed_);
    bool counted = false;
    if (report.hasSamples && increment == 0.0 && rate_ > 0.0 && std::fabs(static_cast<double>(report.samples)) < 1e15) {
        const double fromStart = static_cast<double>(report.samples) * tempo * kBeatUnits / (60.0 * rate_);
        if (std::fabs(fromStart - units) <= kJitter) units = fromStart, counted = true;
    }
    const bool sameTempo = tempo == tempoAt(elapsed_) && increment == increment_;
    if ((followed && std::fabs(units - here) > kJitter) || !sameTempo) {
        if (counted) {
            // From the song's start, the host's samples ago: each sample's beat as exact.
            anchor(0.0, tempo, 0.0);
            elapsed_ = report.samples;
        } else {
            // A tempo that changes where the host says the song is starts there.
            anchor(followed ? units : here, tempo, increment);
        }
    }
    if (report.hasBarStart && reasonable(report.barStart) && (followed || !report.hasPosition))
        barStart_ = wholeUnits(report.barStart * kBeatUnits);
    findBar(beat());
}

void SongPosition::findBar(int64_t beat) {
    if (beat < barStart_ || beat - barStart_ >= barLength_)
        barStart_ += floorDivide(beat - barStart_, barLength_) * barLength_;
}

void SongPosition::advance(int64_t* beats, int64_t* bars, int32_t frames, double rate, int32_t factor) {
    if (rate != rate_) {
        // The samples so far counted at the old rate; from here on at the new.
        const double here = unitsAt(elapsed_), tempo = tempoAt(elapsed_);
        rate_ = rate;
        anchor(here, tempo, increment_);
    }
    for (int32_t i = 0; beats && bars && i < frames * factor; ++i) {
        const int64_t beat =
            factor == 1 ? beatAt(static_cast<double>(elapsed_ + i))
                        : beatAt(static_cast<double>(elapsed_ + i / factor) + static_cast<double>(i % factor) / factor);
        if (beat - barStart_ >= barLength_ || beat < barStart_) findBar(beat);
        beats[i] = beat;
        bars[i] = barStart_;
    }
    elapsed_ += frames;
    if (elapsed_ >= kLongestRun) anchor(unitsAt(elapsed_), tempoAt(elapsed_), increment_);
}

void SongPosition::rewind() {
    anchor(0.0, tempo_, 0.0);
    stoppedKnown_ = false;
    findBar(0);
}

}  // namespace engine
