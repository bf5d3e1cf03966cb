// Formula text: any bytes are compiled, then run with variables taken from the input;
// the machine code and the fast form must each give exactly what the plain interpreter
// gives, slot 0 and count included, and a failed compilation must answer one of the six
// messages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "expr/expression.h"
#include "expr/native_code.h"

namespace {

bool isKnownMessage(const char* message) {
    for (const char* known : {messages::kUnexpectedSymbol, messages::kSyntaxError, messages::kMissingClose,
                              messages::kExtraClose, messages::kQueueOverflow, messages::kStackOverflow})
        if (message == known) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CompiledExpressions records = allocateCompiledExpressions(1);
    static NativeCodeArena arena(1);
    CompiledExpression& record = records[0];

    // The first bytes give the variables' values, the rest is the text.
    const size_t variableBytes = size < 64 ? size / 2 : 32;
    const std::string text(reinterpret_cast<const char*>(data) + variableBytes, size - variableBytes);
    const char* message = compileExpression(record, text.c_str());
    if (message && !isKnownMessage(message)) std::abort();
    if (!message) {
        arena.install(record, 0);
        arena.seal();
    }

    for (int i = 0; i < kVariableCount; ++i) {
        int64_t v = 0;
        const size_t at = (static_cast<size_t>(i) * 8) % (variableBytes ? variableBytes : 1);
        std::memcpy(&v, data + at, std::min<size_t>(8, variableBytes - at));
        record.variables[i] = (i % 3 == 0) ? v % 1024 : v;
    }
    const int64_t slotZero = record.valueStack[0];
    const NativeFunction native = record.native;
    int64_t value[3], slot[3];
    int32_t top[3];
    for (int path = 0; path < 3; ++path) {  // machine code, fast form, interpreter
        record.valueStack[0] = slotZero;
        record.native = path == 0 ? native : nullptr;
        value[path] = path == 2 ? interpretExpression(record) : runExpression(record);
        slot[path] = record.valueStack[0];
        top[path] = record.valueTop;
    }
    record.native = native;
    for (int path = 0; path < 2; ++path)
        if (value[path] != value[2] || slot[path] != slot[2] || top[path] != top[2]) std::abort();
    return 0;
}
