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

constexpr uint32_t kMultiplier = 214013u, kIncrement = 2531011u;

constexpr int32_t valueOf(uint32_t s) { return static_cast<int32_t>((s >> 16) & 0x7FFF); }

// [any thread] The next value, 0..32767.
inline int32_t next() {
    const uint32_t s = state.load(std::memory_order_relaxed) * kMultiplier + kIncrement;
    state.store(s, std::memory_order_relaxed);
    return valueOf(s);
}

// `count` steps of the generator at once: a state s becomes multiplier * s + increment.
struct Leap {
    uint32_t multiplier = 1, increment = 0;

    explicit constexpr Leap(uint32_t count) {
        uint32_t stepMultiplier = kMultiplier, stepIncrement = kIncrement;  // 1, 2, 4, ... steps
        for (; count; count >>= 1) {
            if (count & 1) {
                increment = increment * stepMultiplier + stepIncrement;
                multiplier *= stepMultiplier;
            }
            stepIncrement = stepIncrement * stepMultiplier + stepIncrement;
            stepMultiplier *= stepMultiplier;
        }
    }
    constexpr uint32_t from(uint32_t s) const { return s * multiplier + increment; }
};

// [any thread] Takes the next `count` values at once and returns the state they follow,
// from which Every hands them out.
inline uint32_t take(uint32_t count) {
    const uint32_t s = state.load(std::memory_order_relaxed);
    state.store(Leap(count).from(s), std::memory_order_relaxed);
    return s;
}

// Every `stride`th of the values that follow state `from`, from the `first`th on (1 is
// the value next() would give): the values one of `stride` takers gets when they draw
// in turn.
class Every {
public:
    constexpr Every(uint32_t from, uint32_t first, uint32_t stride) : state_(Leap(first).from(from)), leap_(stride) {}
    int32_t next() {
        const int32_t value = valueOf(state_);
        state_ = leap_.from(state_);
        return value;
    }
    // The state the next value comes from, and the leap to the one after.
    constexpr uint32_t state() const { return state_; }
    constexpr const Leap& leap() const { return leap_; }

private:
    uint32_t state_;
    Leap leap_;
};

}  // namespace random15
