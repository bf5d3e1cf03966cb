#include "command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <filesystem>

#include "expr/expression.h"

namespace {

// The digits of a whole number: its sign, base and the digits' span; false when the text
// holds anything else.
struct Digits {
    bool negative = false;
    int base = 10;
    const char* begin = nullptr;
    const char* end = nullptr;
};

bool digitsOf(const std::string& text, Digits& d) {
    d.negative = !text.empty() && text[0] == '-';
    d.begin = text.c_str() + (d.negative ? 1 : 0);
    d.end = text.c_str() + text.size();
    if (d.end - d.begin > 2 && d.begin[0] == '0' && (d.begin[1] == 'x' || d.begin[1] == 'X')) d.base = 16, d.begin += 2;
    if (d.begin == d.end) return false;
    for (const char* c = d.begin; c < d.end; ++c)
        if (!(d.base == 16 ? std::isxdigit(static_cast<unsigned char>(*c))
                           : std::isdigit(static_cast<unsigned char>(*c))))
            return false;
    return true;
}

[[noreturn]] void notWhole(const std::string& text, const std::string& context) {
    throw UsageError("'" + text + "' in " + context + " is not a whole number");
}

}  // namespace

int64_t parseInteger(const std::string& text, const std::string& context) {
    Digits d;
    if (!digitsOf(text, d)) notWhole(text, context);
    uint64_t magnitude = 0;
    const auto [stop, error] = std::from_chars(d.begin, d.end, magnitude, d.base);
    const uint64_t limit = d.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (stop != d.end || error != std::errc() || magnitude > limit)
        throw UsageError("'" + text + "' in " + context + " is outside the 64-bit range");
    return d.negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

int64_t parseFormulaNumber(const std::string& text, const std::string& context) {
    Digits d;
    if (!digitsOf(text, d)) notWhole(text, context);
    // Only digits: the compiler reads them, and the formula's value is the number.
    CompiledExpressions records = allocateCompiledExpressions(1);
    if (compileExpression(records[0], text.c_str())) notWhole(text, context);
    return runExpression(records[0]);
}

CLI::Validator wholeNumber(int64_t lowest, int64_t highest) {
    const std::string range = std::to_string(lowest) + " to " + std::to_string(highest);
    return CLI::Validator(
        [lowest, highest, range](std::string& text) -> std::string {
            Digits d;
            if (!digitsOf(text, d)) return "'" + text + "' is not a whole number from " + range;
            try {
                const int64_t value = parseInteger(text, "");
                if (value < lowest || value > highest) return text + " is outside " + range;
                text = std::to_string(value);
            } catch (const UsageError&) {
                return text + " is outside " + range;
            }
            return {};
        },
        range);
}

void inform(const ToolOptions& tool, const std::string& output, const char* format, ...) {
    if (tool.quiet) return;
    std::FILE* stream = output == "-" ? stderr : stdout;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stream, format, arguments);
    va_end(arguments);
    std::fflush(stream);
}

std::string shownPath(const std::string& output) {
    return output == "-" ? "standard output" : std::filesystem::absolute(output).string();
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
