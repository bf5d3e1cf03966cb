#include "envelope.h"

#include <cstring>
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace engine {

namespace {

// The loop, written once: the same operations on each value wherever it is compiled.
// Sample i of the ramp is at to + (from - to) * (length - i) / length, the samples left
// counted exactly in doubles, four lanes at a time: the ramp's last sample is at `to`.
using Floats = float __attribute__((vector_size(16)));
using Doubles = double __attribute__((vector_size(32)));

// Four doubles rounded to floats: in WebAssembly two at a time, which its compiler does
// not find by itself.
[[gnu::always_inline]] inline Floats rounded(Doubles d) {
#if defined(__wasm_simd128__)
    const v128_t low = wasm_f32x4_demote_f64x2_zero(wasm_f64x2_make(d[0], d[1]));
    const v128_t high = wasm_f32x4_demote_f64x2_zero(wasm_f64x2_make(d[2], d[3]));
    return reinterpret_cast<Floats>(wasm_i64x2_shuffle(low, high, 0, 2));
#else
    return __builtin_convertvector(d, Floats);
#endif
}

[[gnu::always_inline]] inline void rampLoop(const Ramp& ramp, double gainFactor, float* values, int32_t count,
                                            float* into) {
    const double span = (ramp.from - ramp.to) / ramp.length * gainFactor, end = ramp.to * gainFactor;
    const double first = ramp.length - ramp.at - 1;
    Doubles left{first, first - 1, first - 2, first - 3};
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Floats value, sum;
        std::memcpy(&value, values + i, sizeof value);
        std::memset(values + i, 0, sizeof value);
        std::memcpy(&sum, into + i, sizeof sum);
        sum += rounded(__builtin_convertvector(value, Doubles) * (end + span * left));
        std::memcpy(into + i, &sum, sizeof sum);
        left -= 4.0;
    }
    for (int32_t j = 0; i < count; ++i, ++j) {
        into[i] += static_cast<float>(values[i] * (end + span * left[j]));
        values[i] = 0.0f;
    }
}

void rampPlainly(const Ramp& ramp, double gainFactor, float* values, int32_t count, float* into) {
    rampLoop(ramp, gainFactor, values, count, into);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four values at a time where the processor has AVX.
__attribute__((target("avx"))) void rampByFours(const Ramp& ramp, double gainFactor, float* values, int32_t count,
                                                float* into) {
    rampLoop(ramp, gainFactor, values, count, into);
}
using Ramping = void (*)(const Ramp&, double, float*, int32_t, float*);
const Ramping kRamping = __builtin_cpu_supports("avx") ? rampByFours : rampPlainly;
#else
const auto kRamping = rampPlainly;
#endif

}  // namespace

void addRamped(const Ramp& ramp, double gainFactor, float* values, int32_t count, float* into) {
    kRamping(ramp, gainFactor, values, count, into);
}

}  // namespace engine
