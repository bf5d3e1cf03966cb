#include "song_position.h"

#include <cmath>

#include "../expr/words.h"

namespace engine {

namespace {

// Positions beyond about 4 million bars are out of reason; so are tempos outside these.
constexpr double kFarthestQuarterNotes = 1u << 24;
constexpr double kSlowestTempo = 1.0, kFastestTempo = 10000.0;
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

double SongPosition::unitsAt(int64_t n) const {
    if (n == 0 || rate_ <= 0.0) return anchor_;
    const auto samples = static_cast<double>(n);
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
    // A report that agrees with the running position to within half a unit, at the same
    // tempo, confirms it: the anchor stays, and with it the exactness of each sample's beat.
    const double units = report.quarterNotes * kBeatUnits;
    const bool sameTempo = tempo == tempoAt(elapsed_) && increment == increment_;
    if (followed && !(sameTempo && std::fabs(units - unitsAt(elapsed_)) <= 0.5))
        anchor(units, tempo, increment);
    else if (!sameTempo)
        anchor(unitsAt(elapsed_), tempo, increment);
    if (report.hasBarStart && reasonable(report.barStart) && (followed || !report.hasPosition))
        barStart_ = wholeUnits(report.barStart * kBeatUnits);
    findBar(beat());
}

void SongPosition::findBar(int64_t beat) {
    if (beat < barStart_ || beat - barStart_ >= barLength_)
        barStart_ += floorDivide(beat - barStart_, barLength_) * barLength_;
}

void SongPosition::advance(int64_t* beats, int64_t* bars, int32_t frames, double rate) {
    if (rate != rate_) {
        // The samples so far counted at the old rate; from here on at the new.
        const double here = unitsAt(elapsed_), tempo = tempoAt(elapsed_);
        rate_ = rate;
        anchor(here, tempo, increment_);
    }
    if (beats && bars) {
        for (int32_t i = 0; i < frames; ++i) {
            const int64_t beat = beatAt(elapsed_ + i);
            if (beat - barStart_ >= barLength_ || beat < barStart_) findBar(beat);
            beats[i] = beat;
            bars[i] = barStart_;
        }
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
