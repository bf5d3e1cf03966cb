#include "command.h"

#include <algorithm>
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

std::string formulaFault(const char* message, const std::string& formula, int32_t stop) {
    // Characters, not bytes: a UTF-8 sequence takes one column; control characters show
    // as spaces, so that the caret stands under the character it points at.
    const auto end = static_cast<size_t>(std::clamp<int32_t>(stop, 0, static_cast<int32_t>(formula.size())));
    std::string shown, caret;
    size_t column = 0;
    for (size_t i = 0; i < formula.size(); ++i) {
        const auto byte = static_cast<unsigned char>(formula[i]);
        const bool continues = (byte & 0xC0) == 0x80;
        if (!continues && i < end) ++column;
        shown += byte < 32 || byte == 127 ? ' ' : formula[i];
    }
    caret.assign(column, ' ');
    return std::string(message) + " at " + std::to_string(column + 1) + "\n  " + shown + "\n  " + caret + "^";
}
