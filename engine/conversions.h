// Conversions of floating-point values to integers that are defined for every input,
// including NaN, infinities and values outside the integer's range: the state chunk and
// extreme settings can produce all of them.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Truncates toward zero; NaN and infinities give 0, finite values outside the range the
// nearest limit.
inline int32_t truncateToInt32(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

inline int64_t truncateToInt64(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// Moves the whole part of a fraction of 1 or more out of `frac` and returns it, wrapped
// modulo 2^64 like the counter it is added to. Anything else (below 1, NaN) moves nothing.
inline int64_t takeWholePart(double& frac) {
    if (!(frac >= 1.0)) return 0;
    // The usual case, without the library's floor and fmod: a whole part below 2^52 is
    // the truncated value, exactly, and the subtraction below is exact as well.
    if (frac < 4503599627370496.0) {
        const auto whole = static_cast<int64_t>(frac);
        frac -= static_cast<double>(whole);
        return whole;
    }
    if (!std::isfinite(frac)) {
        frac = 0.0;
        return 0;
    }
    const double whole = std::floor(frac);
    frac -= whole;
    return static_cast<int64_t>(static_cast<uint64_t>(std::fmod(whole, 18446744073709551616.0)));
}
