// The language's operators on signed 64-bit values: wrapping arithmetic done in
// unsigned types, and the special cases of division, remainder and shifts in one place.
// The interpreter, the constant folding and the fast form all compute through these.
#pragma once

#include <cstdint>
#include <limits>

#include "opcodes.h"

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

// The binary operators by their item codes, in the order of the fast form's table.
constexpr uint8_t kBinaryCodes[] = {kAdd,        kSubtract, kMultiply, kDivide,    kRemainder,    kShiftLeft,
                                    kShiftRight, kLess,     kGreater,  kLessEqual, kGreaterEqual, kEqual,
                                    kNotEqual,   kBitAnd,   kBitXor,   kBitOr,     kLogicalAnd,   kLogicalOr};

constexpr int64_t binary(uint8_t code, int64_t a, int64_t b) {
    switch (code) {
        case kAdd: return add(a, b);
        case kSubtract: return sub(a, b);
        case kMultiply: return mul(a, b);
        case kDivide: return div(a, b);
        case kRemainder: return rem(a, b);
        case kShiftLeft: return shl(a, b);
        case kShiftRight: return shr(a, b);
        case kLess: return truth(a < b);
        case kGreater: return truth(a > b);
        case kLessEqual: return truth(a <= b);
        case kGreaterEqual: return truth(a >= b);
        case kEqual: return truth(a == b);
        case kNotEqual: return truth(a != b);
        case kBitAnd: return a & b;
        case kBitXor: return a ^ b;
        case kBitOr: return a | b;
        case kLogicalAnd: return truth(a != 0 && b != 0);
        case kLogicalOr: return truth(a != 0 || b != 0);
        default: return 0;
    }
}

constexpr int64_t unary(uint8_t code, int64_t v) {
    switch (code) {
        case kNegate: return neg(v);
        case kLogicalNot: return truth(v == 0);
        default: return ~v;
    }
}

constexpr bool isUnary(uint8_t code) { return code == kNegate || code == kLogicalNot || code == kBitNot; }

// Division and remainder by constants as the fast form does them: by 2^k (k in 1..62)
// truncating toward zero, negative values biased by 2^k - 1 first; and by a divisor d
// through its magic number and shift (Hacker's Delight, 10-1).
constexpr int64_t divPow2(int64_t a, int32_t k) {
    const uint64_t bias = bits(a >> 63) >> (64 - k);
    return wrap(bits(a) + bias) >> k;
}
constexpr int64_t remPow2(int64_t a, int32_t k) { return sub(a, wrap(bits(divPow2(a, k)) << k)); }
constexpr int64_t divMagic(int64_t a, int64_t magic, int32_t shift) {
    int64_t q = static_cast<int64_t>((static_cast<__int128>(a) * magic) >> 64);
    if (magic < 0) q = add(q, a);
    return (q >> shift) + static_cast<int64_t>(bits(a) >> 63);
}
constexpr int64_t remMagic(int64_t a, int64_t magic, int32_t shift, int64_t divisor) {
    return sub(a, mul(divMagic(a, magic, shift), divisor));
}

}  // namespace intops
