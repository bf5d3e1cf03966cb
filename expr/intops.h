// The language's operators on signed 64-bit values: wrapping arithmetic done in
// unsigned types, and the special cases of division, remainder and shifts in one place.
#pragma once

#include <cstdint>
#include <limits>

namespace intops {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

constexpr int64_t wrap(uint64_t v) { return static_cast<int64_t>(v); }
constexpr uint64_t bits(int64_t v) { return static_cast<uint64_t>(v); }

constexpr int64_t add(int64_t a, int64_t b) { return wrap(bits(a) + bits(b)); }
constexpr int64_t sub(int64_t a, int64_t b) { return wrap(bits(a) - bits(b)); }
constexpr int64_t mul(int64_t a, int64_t b) { return wrap(bits(a) * bits(b)); }
constexpr int64_t neg(int64_t v) { return wrap(0 - bits(v)); }

// A divisor of 0 counts as 1. The most negative value divided by -1 overflows the
// machine's division: its wrapped quotient is the value itself, its remainder 0.
constexpr int64_t div(int64_t a, int64_t b) {
    if (b == 0) return a;
    if (b == -1) return neg(a);
    return a / b;
}
constexpr int64_t rem(int64_t a, int64_t b) {
    if (b == 0 || b == -1) return 0;
    return a % b;
}

// Only the low six bits of the shift count count.
constexpr int64_t shl(int64_t a, int64_t b) { return wrap(bits(a) << (bits(b) & 63)); }
constexpr int64_t shr(int64_t a, int64_t b) { return a >> (bits(b) & 63); }

constexpr int64_t truth(bool v) { return v ? 1 : 0; }

}  // namespace intops
