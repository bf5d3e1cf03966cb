// Oversampled sound back to the output rate: a cascade of linear-phase low-pass filters,
// each halving the rate. The last stage passes up to 0.42 of the output rate (within
// 0.1 dB) and stops from 0.5 of it on (at least 90 dB down); the stages before it stop
// what would fold into the output band. Each stage delays by a whole number of output
// samples, so the cascade's latency is whole: 27 output samples at 2x, 30 at 4x, 31 at 8x.
//
// The filters are designed when the library loads, with additions, multiplications,
// divisions and square roots alone, so that every build computes the same coefficients
// and every format plays the same samples.
// [audio thread] process; [any thread] the rest
#pragma once

#include <cstdint>

namespace engine {

class Decimator {
public:
    static constexpr int kLargestFactor = 8;
    // Input samples each stage takes at a time.
    static constexpr int kLargestInput = 256;

    // The factor the input runs at: 1 (nothing to do), 2, 4 or 8; a change clears the
    // filters' history.
    void setFactor(int factor);
    int factor() const { return factor_; }
    // The delay of a factor's filters in output samples.
    static int latencyOf(int factor);
    // Filters `frames` × factor() samples of `in` and writes `frames` samples to `out`
    // (which may be `in`). The input is overwritten.
    void process(float* in, int32_t frames, float* out);

    // A filter halving the rate: its taps in reverse order, the newest input's last,
    // padded with zeros at the front to a multiple of kLanes, the partial sums a filter's
    // output is added up in (enough to keep the machine's adders busy).
    static constexpr int kLanes = 16;
    struct Filter {
        static constexpr int kMostTaps = 112;
        float taps[kMostTaps];
        int length;  // padded
    };
    // The stage that takes `rate` times the output rate to half of it (2, 4 or 8).
    static const Filter& stageFrom(int rate);

private:
    // One stage's inputs: the last `length` - 1 of the ones before, then the new ones.
    struct Line {
        float samples[Filter::kMostTaps - 1 + kLargestInput];
    };
    // Halves `count` samples of `in` through the stage from `rate`, into `out`.
    static void halve(const Filter& filter, Line& line, const float* in, int32_t count, float* out);

    int factor_ = 1;
    Line lines_[3]{};  // of the stages from 8x, 4x and 2x
};

}  // namespace engine
