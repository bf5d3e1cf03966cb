#include "command.h"

#include <charconv>

int64_t parseInteger(const std::string& text, const std::string& context) {
    const bool negative = !text.empty() && text[0] == '-';
    const char* digits = text.c_str() + (negative ? 1 : 0);
    const char* end = text.c_str() + text.size();
    int base = 10;
    if (end - digits > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) base = 16, digits += 2;
    uint64_t magnitude = 0;
    const auto [stop, error] = std::from_chars(digits, end, magnitude, base);
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (digits == end || stop != end || error != std::errc() || magnitude > limit)
        throw UsageError("'" + text + "' in " + context + " is not a whole number of the 64-bit range");
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}
