#include "decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace engine {

namespace {

// sin(pi x), from its series after bringing x to -1/2..1/2: the same on every machine.
double sinPi(double x) {
    x -= 2.0 * std::floor(x / 2.0 + 0.5);  // -1..1
    if (x > 0.5) x = 1.0 - x;
    if (x < -0.5) x = -1.0 - x;
    const double y = 3.14159265358979323846 * x, y2 = y * y;
    double term = y, sum = y;
    for (int n = 1; n <= 12; ++n) {
        term *= -y2 / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

// The modified Bessel function of the first kind, order 0, from its series.
double besselI0(double x) {
    double term = 1.0, sum = 1.0;
    for (int k = 1; k <= 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// A Kaiser-windowed sinc of `taps` (odd) taps, cut off at `cutoff` cycles per input
// sample, with unit gain at 0 Hz.
Decimator::Filter design(int taps, double cutoff, double beta) {
    Decimator::Filter filter{};
    filter.length = (taps + Decimator::kLanes - 1) / Decimator::kLanes * Decimator::kLanes;
    const int middle = (taps - 1) / 2, padding = filter.length - taps;
    double sum = 0.0;
    double h[Decimator::Filter::kMostTaps] = {};
    for (int n = 0; n < taps; ++n) {
        const int offset = n - middle;
        const double sinc =
            offset == 0 ? 2.0 * cutoff : sinPi(2.0 * cutoff * offset) / (3.14159265358979323846 * offset);
        const double ratio = static_cast<double>(offset) / middle;
        h[n] = sinc * besselI0(beta * std::sqrt(1.0 - ratio * ratio)) / besselI0(beta);
        sum += h[n];
    }
    for (int n = 0; n < taps; ++n) filter.taps[padding + n] = static_cast<float>(h[taps - 1 - n] / sum);
    return filter;
}

// Each stage passes 0.42 of the output rate and stops what would fold below 0.5 of it
// (from 0.5, 1.5 and 3.5 times the output rate); a stage's delay, (taps - 1) / 2 input
// samples, is a whole number of output samples. The betas give 100 dB by Kaiser's rule.
constexpr int kTapsFromTwo = 161, kTapsFromFour = 25, kTapsFromEight = 17;
static_assert((kTapsFromTwo + Decimator::kLanes - 1) / Decimator::kLanes * Decimator::kLanes <=
              Decimator::Filter::kMostTaps);
const Decimator::Filter kFromTwo = design(kTapsFromTwo, 0.23, 10.06);      // 0.21 to 0.25 of its input rate
const Decimator::Filter kFromFour = design(kTapsFromFour, 0.24, 10.17);    // 0.105 to 0.375
const Decimator::Filter kFromEight = design(kTapsFromEight, 0.245, 9.62);  // 0.0525 to 0.4375
// In output samples, from 2x, 4x and 8x.
constexpr int kDelays[3] = {(kTapsFromTwo - 1) / 2 / 2, (kTapsFromFour - 1) / 2 / 4, (kTapsFromEight - 1) / 2 / 8};

// The filter's outputs over a line: output t from the `length` inputs from line[2t] on.
// Each adds its products in sixteen partial sums, lane by lane, and those pairwise in
// one order: the same results from four lanes at a time, eight, or one.
using Filtering = void (*)(const float* taps, int length, const float* line, int32_t outputs, float* out);
using Four = float __attribute__((vector_size(16)));
static_assert(Decimator::kLanes == 16);

inline float added(const Four (&sums)[4]) {
    const Four all = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    return (all[0] + all[1]) + (all[2] + all[3]);
}

void filterByFours(const float* taps, int length, const float* line, int32_t outputs, float* out) {
    const auto four = [](const float* at) {
        Four lanes;
        std::memcpy(&lanes, at, sizeof lanes);
        return lanes;
    };
    for (int32_t t = 0; t < outputs; ++t) {
        const float* window = line + 2 * t;
        Four sums[4] = {};
        for (int i = 0; i < length; i += 16)
            for (int j = 0; j < 4; ++j) sums[j] += four(taps + i + 4 * j) * four(window + i + 4 * j);
        out[t] = added(sums);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight lanes at a time where the processor has AVX.
using Eight = float __attribute__((vector_size(32)));
__attribute__((target("avx"))) void filterByEights(const float* taps, int length, const float* line, int32_t outputs,
                                                   float* out) {
    for (int32_t t = 0; t < outputs; ++t) {
        const float* window = line + 2 * t;
        Eight low = {}, high = {};
        for (int i = 0; i < length; i += 16) {
            Eight a, b, c, d;
            std::memcpy(&a, taps + i, sizeof a);
            std::memcpy(&b, window + i, sizeof b);
            std::memcpy(&c, taps + i + 8, sizeof c);
            std::memcpy(&d, window + i + 8, sizeof d);
            low += a * b;
            high += c * d;
        }
        const Four sums[4] = {{low[0], low[1], low[2], low[3]},
                              {low[4], low[5], low[6], low[7]},
                              {high[0], high[1], high[2], high[3]},
                              {high[4], high[5], high[6], high[7]}};
        out[t] = added(sums);
    }
}
const Filtering kFiltering = __builtin_cpu_supports("avx") ? filterByEights : filterByFours;
#else
const Filtering kFiltering = filterByFours;
#endif

}  // namespace

const Decimator::Filter& Decimator::stageFrom(int rate) {
    return rate == 8 ? kFromEight : rate == 4 ? kFromFour : kFromTwo;
}

int Decimator::latencyOf(int factor) {
    int latency = 0;
    for (int stage = 0, rate = 2; rate <= factor && stage < 3; ++stage, rate *= 2) latency += kDelays[stage];
    return latency;
}

void Decimator::setFactor(int factor) {
    factor = factor >= 8 ? 8 : factor >= 4 ? 4 : factor >= 2 ? 2 : 1;
    if (factor == factor_) return;
    factor_ = factor;
    for (Line& line : lines_) std::fill(std::begin(line.samples), std::end(line.samples), 0.0f);
}

void Decimator::halve(const Filter& filter, Line& line, const float* in, int32_t count, float* out) {
    const int kept = filter.length - 1;
    std::memcpy(line.samples + kept, in, sizeof(float) * static_cast<size_t>(count));
    // Output t's newest input is input 2t, the first of its pair: the delay is whole.
    kFiltering(filter.taps, filter.length, line.samples, count / 2, out);
    std::memmove(line.samples, line.samples + count, sizeof(float) * static_cast<size_t>(kept));
}

void Decimator::process(float* in, int32_t frames, float* out) {
    if (factor_ == 1) {
        std::copy(in, in + frames, out);
        return;
    }
    // A part at a time, each halved in place down to the rate from 2x, which the last
    // stage brings to `out`.
    const int32_t most = kLargestInput / factor_;
    for (int32_t done = 0; done < frames; done += most) {
        float* part = in + done * factor_;
        int32_t count = std::min(most, frames - done) * factor_;
        for (int rate = factor_, stage = rate == 8 ? 0 : 1; rate > 2; rate /= 2, ++stage) {
            halve(stageFrom(rate), lines_[stage], part, count, part);
            count /= 2;
        }
        halve(kFromTwo, lines_[2], part, count, out + done);
    }
}

}  // namespace engine
