// A voice's level over its note, and the outputs' filter against a constant part.
//
// A ramp goes linearly from one level to another over `length` samples: sample i of it
// (i = 1..length) is at to + (from - to) * (length - i) / length, its last at `to`. An attack ramps to 1 from 0 (or
// from where a retaken voice stood), a release to 0 from where the voice stands. A voice
// without a ramp plays at 1 and its values are mixed exactly as they always were.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace engine {

struct Ramp {
    double from = 1.0, to = 1.0;
    int32_t at = 0, length = 0;  // samples played of it, and its length; 0: no ramp

    bool active() const { return length > 0; }
    // The level after `played` more samples of the ramp; at its end past its end.
    double levelAfter(int32_t played) const {
        return active() ? to + (from - to) * std::max(length - at - played, 0) / length : to;
    }
    double level() const { return levelAfter(0); }
    int32_t left() const { return length - at; }
    // A ramp from the level now to `target` over `samples` (none: at `target` at once).
    void restart(double target, int32_t samples) {
        from = samples > 0 ? level() : target;
        to = target;
        at = 0;
        length = samples > 0 ? samples : 0;
    }
};

// Adds `count` values of a ramping voice (each a shaped value / 256, exactly) to `into`,
// times the ramp's level at each and `gainFactor`, and leaves the values 0. The ramp has
// at least `count` samples left: a stretch ends where a ramp ends.
void addRamped(const Ramp& ramp, double gainFactor, float* values, int32_t count, float* into);

// A ramp's length in samples for `milliseconds` at `rate`.
inline int32_t rampSamples(int32_t milliseconds, double rate) {
    const double samples = std::round(milliseconds * rate / 1000.0);
    return samples > 0.0 && samples < 2e9 ? static_cast<int32_t>(samples) : 0;
}

// A first-order high-pass at 10 Hz: y[n] = a (y[n-1] + x[n] - x[n-1]), two samples at a
// time: y[n+1] = a² y[n-1] + a² d[n] + a d[n+1] (d the input's differences), so that the
// chain from one output to the next is one multiplication and one addition per pair.
struct DcFilter {
    static constexpr double kCutoff = 10.0;
    double lastIn = 0.0, lastOut = 0.0;

    static double coefficient(double rate) { return 1.0 / (1.0 + 2.0 * std::numbers::pi * kCutoff / rate); }
    // Filters `in` and `next`, the next sample, into `out` and `outNext`.
    void passPair(double in, double next, double a, double& out, double& outNext) {
        const double d0 = in - lastIn, d1 = next - in, a2 = a * a;
        out = a * lastOut + a * d0;
        outNext = a2 * lastOut + (a2 * d0 + a * d1);
        if (std::fabs(outNext) < 1e-30) outNext = 0.0;  // no subnormals as the tail fades
        lastIn = next;
        lastOut = outNext;
    }
    double pass(double in, double a) {
        double out = a * lastOut + a * (in - lastIn);
        if (std::fabs(out) < 1e-30) out = 0.0;
        lastIn = in;
        lastOut = out;
        return out;
    }
};

}  // namespace engine
