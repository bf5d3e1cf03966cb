// The 15-bit generator behind the formula variable R: the classic runtime LCG, starting
// from the runtime's unseeded state and never seeded. Each instance of the instrument
// draws its voices' values from a generator of its own, and the editor's scope from
// another, so that what one instance plays depends on nothing that another instance, its
// editor or the host's threads do: the same project renders the same samples every time,
// and an instance sounds as one alone in its process.
#pragma once

#include <cstdint>

namespace random15 {

constexpr uint32_t kMultiplier = 214013u, kIncrement = 2531011u;
// The runtime's state before any draw.
constexpr uint32_t kUnseeded = 1;

constexpr int32_t valueOf(uint32_t s) { return static_cast<int32_t>((s >> 16) & 0x7FFF); }

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

// One generator. [the thread of its owner]
class Generator {
public:
    explicit constexpr Generator(uint32_t state = kUnseeded) : state_(state) {}
    // The next value, 0..32767.
    int32_t next() {
        state_ = state_ * kMultiplier + kIncrement;
        return valueOf(state_);
    }
    // Takes the next `count` values at once and returns the state they follow, from which
    // Every hands them out.
    uint32_t take(uint32_t count) {
        const uint32_t s = state_;
        state_ = Leap(count).from(s);
        return s;
    }

private:
    uint32_t state_;
};

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
