// The 15-bit generator behind the formula variable R: the classic runtime LCG, starting
// from the runtime's unseeded state and never seeded. One generator serves the whole
// process (all instances, the voices and the editor's scope), where a Windows C runtime
// would keep one state per thread. Relaxed atomics make it race-free
// without a lock; threads that draw at the same moment may see the same value.
#pragma once

#include <atomic>
#include <cstdint>

namespace random15 {

extern std::atomic<uint32_t> state;

// [any thread] The next value, 0..32767.
inline int32_t next() {
    const uint32_t s = state.load(std::memory_order_relaxed) * 214013u + 2531011u;
    state.store(s, std::memory_order_relaxed);
    return static_cast<int32_t>((s >> 16) & 0x7FFF);
}

// [any thread] The next `count` values, as `count` calls of next() give them.
inline void fill(int32_t* out, int32_t count) {
    uint32_t s = state.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < count; ++i) {
        s = s * 214013u + 2531011u;
        out[i] = static_cast<int32_t>((s >> 16) & 0x7FFF);
    }
    state.store(s, std::memory_order_relaxed);
}

}  // namespace random15
