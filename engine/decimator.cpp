#include "decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

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

// A filter of the taps `h` (symmetric, an odd number), scaled to unit gain at 0 Hz.
Decimator::Filter filterOf(const std::vector<double>& h) {
    const int taps = static_cast<int>(h.size());
    double sum = 0.0;
    for (const double tap : h) sum += tap;
    Decimator::Filter filter{};
    filter.length = (taps + Decimator::kLanes - 1) / Decimator::kLanes * Decimator::kLanes;
    const int padding = filter.length - taps;
    for (int n = 0; n < taps; ++n)
        filter.taps[padding + n] = static_cast<float>(h[static_cast<size_t>(taps - 1 - n)] / sum);
    return filter;
}

// A Kaiser-windowed sinc of `taps` (odd) taps, cut off at `cutoff` cycles per input
// sample: for a wide transition.
Decimator::Filter kaiser(int taps, double cutoff, double beta) {
    const int middle = (taps - 1) / 2;
    std::vector<double> h(static_cast<size_t>(taps));
    for (int n = 0; n < taps; ++n) {
        const int offset = n - middle;
        const double sinc =
            offset == 0 ? 2.0 * cutoff : sinPi(2.0 * cutoff * offset) / (3.14159265358979323846 * offset);
        const double ratio = static_cast<double>(offset) / middle;
        h[static_cast<size_t>(n)] = sinc * besselI0(beta * std::sqrt(1.0 - ratio * ratio)) / besselI0(beta);
    }
    return filterOf(h);
}

double cosPi(double x) { return sinPi(x + 0.5); }

// An equiripple linear-phase low-pass of `taps` (odd) taps, by the Remez exchange: it
// passes 0 to `pass` and stops `stop` to 0.5 cycles per input sample, the stopband's
// error weighted `weight` times the passband's: for a narrow transition, in the fewest taps.
Decimator::Filter equiripple(int taps, double pass, double stop, double weight) {
    const int cosines = (taps + 1) / 2;  // the response: a sum of cos(2 pi k f), k < cosines
    // The bands on a grid of 16 points a cosine, both edges of each band on it.
    struct Point {
        double x, desired, weight;  // x = cos(2 pi f)
    };
    std::vector<Point> grid;
    std::vector<int> bandEnds;  // the index after each band's last point
    const auto band = [&](double from, double to, double desired, double w) {
        const int points = static_cast<int>(std::ceil((to - from) * 32.0 * cosines)) + 1;
        for (int i = 0; i < points; ++i)
            grid.push_back({cosPi(2.0 * (from + (to - from) * i / (points - 1))), desired, w});
        bandEnds.push_back(static_cast<int>(grid.size()));
    };
    band(0.0, pass, 1.0, 1.0);
    band(stop, 0.5, 0.0, weight);
    const int size = static_cast<int>(grid.size());

    // The extremal points: cosines + 1 of the grid, where the error alternates.
    std::vector<int> extremal(static_cast<size_t>(cosines + 1));
    for (int k = 0; k <= cosines; ++k)
        extremal[static_cast<size_t>(k)] = static_cast<int>(static_cast<long>(k) * (size - 1) / cosines);
    std::vector<double> xs(static_cast<size_t>(cosines + 1)), weights(xs.size()), values(xs.size());
    // The response through the first `cosines` extremal points, by barycentric interpolation.
    const auto response = [&](double x) {
        double above = 0.0, below = 0.0;
        for (int k = 0; k < cosines; ++k) {
            const double d = x - xs[static_cast<size_t>(k)];
            if (std::fabs(d) < 1e-14) return values[static_cast<size_t>(k)];
            const double c = weights[static_cast<size_t>(k)] / d;
            above += c * values[static_cast<size_t>(k)];
            below += c;
        }
        return above / below;
    };
    std::vector<double> error(static_cast<size_t>(size));
    for (int round = 0; round < 100; ++round) {
        for (int k = 0; k <= cosines; ++k)
            xs[static_cast<size_t>(k)] = grid[static_cast<size_t>(extremal[static_cast<size_t>(k)])].x;
        // The deviation that the extremal points alternate by.
        double above = 0.0, below = 0.0;
        for (int k = 0; k <= cosines; ++k) {
            double b = 1.0;  // the products scaled by 2 a factor, which the ratios cancel
            for (int j = 0; j <= cosines; ++j)
                if (j != k) b /= 2.0 * (xs[static_cast<size_t>(k)] - xs[static_cast<size_t>(j)]);
            const Point& p = grid[static_cast<size_t>(extremal[static_cast<size_t>(k)])];
            above += b * p.desired;
            below += (k % 2 == 0 ? b : -b) / p.weight;
            // Interpolating over the first `cosines` points leaves out the last one's factor.
            weights[static_cast<size_t>(k)] = b * 2.0 * (xs[static_cast<size_t>(k)] - xs[static_cast<size_t>(cosines)]);
        }
        const double deviation = above / below;
        for (int k = 0; k < cosines; ++k) {
            const Point& p = grid[static_cast<size_t>(extremal[static_cast<size_t>(k)])];
            values[static_cast<size_t>(k)] = p.desired - (k % 2 == 0 ? deviation : -deviation) / p.weight;
        }
        for (int i = 0; i < size; ++i) {
            const Point& p = grid[static_cast<size_t>(i)];
            error[static_cast<size_t>(i)] = p.weight * (p.desired - response(p.x));
        }
        // The error's peaks in each band, alternating in sign (of two alike the larger).
        std::vector<int> peaks;
        for (int i = 0, from = 0; i < size; ++i) {
            const int to = *std::upper_bound(bandEnds.begin(), bandEnds.end(), i);
            from = i == 0 || std::binary_search(bandEnds.begin(), bandEnds.end(), i) ? i : from;
            const double e = std::fabs(error[static_cast<size_t>(i)]);
            if ((i > from && e < std::fabs(error[static_cast<size_t>(i - 1)])) ||
                (i + 1 < to && e <= std::fabs(error[static_cast<size_t>(i + 1)])))
                continue;
            if (!peaks.empty() &&
                (error[static_cast<size_t>(peaks.back())] > 0) == (error[static_cast<size_t>(i)] > 0)) {
                if (e > std::fabs(error[static_cast<size_t>(peaks.back())])) peaks.back() = i;
                continue;
            }
            peaks.push_back(i);
        }
        while (static_cast<int>(peaks.size()) > cosines + 1) {
            if (std::fabs(error[static_cast<size_t>(peaks.front())]) <
                std::fabs(error[static_cast<size_t>(peaks.back())]))
                peaks.erase(peaks.begin());
            else
                peaks.pop_back();
        }
        if (static_cast<int>(peaks.size()) < cosines + 1) {
            // Too few: each extremal point moves to the error's largest of its sign
            // between its neighbours.
            peaks.assign(extremal.begin(), extremal.end());
            for (int k = 0; k <= cosines; ++k) {
                const double sign = (k % 2 == 0) == (deviation > 0) ? 1.0 : -1.0;
                const int from = k == 0 ? 0 : peaks[static_cast<size_t>(k - 1)] + 1;
                const int to = k == cosines ? size : extremal[static_cast<size_t>(k + 1)];
                for (int i = from; i < to; ++i)
                    if (sign * error[static_cast<size_t>(i)] >
                        sign * error[static_cast<size_t>(peaks[static_cast<size_t>(k)])])
                        peaks[static_cast<size_t>(k)] = i;
            }
        }
        double largest = 0.0;
        for (const int i : peaks) largest = std::max(largest, std::fabs(error[static_cast<size_t>(i)]));
        const bool settled = peaks == extremal || largest - std::fabs(deviation) <= 1e-9 * std::fabs(deviation);
        extremal = peaks;
        if (settled) break;
    }

    // The taps from the response at `taps` frequencies (an inverse cosine transform).
    const int middle = (taps - 1) / 2;
    std::vector<double> at(static_cast<size_t>(cosines));
    for (int j = 0; j < cosines; ++j) at[static_cast<size_t>(j)] = response(cosPi(2.0 * j / taps));
    std::vector<double> h(static_cast<size_t>(taps));
    for (int n = 0; n < taps; ++n) {
        const int offset = std::abs(n - middle);
        double value = at[0];
        for (int j = 1; j < cosines; ++j)
            value += 2.0 * at[static_cast<size_t>(j)] * cosPi(static_cast<double>(2 * j * offset % (2 * taps)) / taps);
        h[static_cast<size_t>(n)] = value / taps;
    }
    return filterOf(h);
}

// Each stage passes 0.42 of the output rate and stops what would fold below 0.5 of it
// (from 0.5, 1.5 and 3.5 times the output rate); a stage's delay, (taps - 1) / 2 input
// samples, is a whole number of output samples.
constexpr int kTapsFromTwo = 109, kTapsFromFour = 25, kTapsFromEight = 17;
static_assert((kTapsFromTwo + Decimator::kLanes - 1) / Decimator::kLanes * Decimator::kLanes <=
              Decimator::Filter::kMostTaps);
const Decimator::Filter kFromTwo = equiripple(kTapsFromTwo, 0.21, 0.25, 100.0);
const Decimator::Filter kFromFour = kaiser(kTapsFromFour, 0.24, 10.17);    // 0.105 to 0.375
const Decimator::Filter kFromEight = kaiser(kTapsFromEight, 0.245, 9.62);  // 0.0525 to 0.4375
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
