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
#include "expr/formula_code.h"
#include "tests/every_path.h"

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
    static CodeArena arena(1);
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
    const auto runs = runOnEveryPath(record);
    if (runs[kMachineCode] != runs[kInterpreter] || runs[kFastForm] != runs[kInterpreter]) std::abort();
    return 0;
}
