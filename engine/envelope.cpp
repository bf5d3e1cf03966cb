#include "envelope.h"

namespace engine {

namespace {

// The loop, written once: the same operations on each value wherever it is compiled.
[[gnu::always_inline]] inline void rampLoop(const Ramp& ramp, double gainFactor, const float* values, int32_t count,
                                            float* into) {
    const double step = (ramp.to - ramp.from) / ramp.length;
    const double first = ramp.from + step * ramp.at;
    for (int32_t i = 0; i < count; ++i) {
        into[i] += static_cast<float>(values[i] * (first + step * (i + 1)) * gainFactor);
    }
}

void rampPlainly(const Ramp& ramp, double gainFactor, const float* values, int32_t count, float* into) {
    rampLoop(ramp, gainFactor, values, count, into);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four values at a time where the processor has AVX.
__attribute__((target("avx"))) void rampByFours(const Ramp& ramp, double gainFactor, const float* values, int32_t count,
                                                float* into) {
    rampLoop(ramp, gainFactor, values, count, into);
}
using Ramping = void (*)(const Ramp&, double, const float*, int32_t, float*);
const Ramping kRamping = __builtin_cpu_supports("avx") ? rampByFours : rampPlainly;
#else
const auto kRamping = rampPlainly;
#endif

}  // namespace

void addRamped(const Ramp& ramp, double gainFactor, const float* values, int32_t count, float* into) {
    kRamping(ramp, gainFactor, values, count, into);
}

}  // namespace engine
