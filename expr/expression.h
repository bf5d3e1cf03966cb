// The formula language: infix text over signed 64-bit integers compiled by a
// shunting-yard pass into a reverse-Polish queue, and an interpreter that walks it.
//
// A CompiledExpression is one fixed-size record that holds the queue, the working
// stacks of both the compiler and the interpreter, and the 26 variables A..Z that the
// caller fills before each run. Neither compiling nor running allocates. Because the
// working storage lives in the record, one record serves one use at a time: callers
// must never let a compilation and a run, or two runs, of the same record overlap.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fast_code.h"
#include "opcodes.h"

constexpr int kQueueCapacity = 16384;          // items, the header and the End item included
constexpr int kOperatorStackCapacity = 16384;  // pending operators and parentheses
constexpr int kValueStackCapacity = 16384;     // interpreter values
constexpr int kVariableCount = 26;             // A..Z

// One queue entry. `value` is written and read for Number items only.
struct RpnItem {
    int32_t value;
    uint8_t kind;
};

struct CompiledExpression;
using NativeFunction = int64_t (*)(CompiledExpression* record);

struct CompiledExpression {
    // The fast form of the queue (fast_code.h), in use while `fastLength` is above 0. Its
    // instructions fill `fast` from the end downward, so that a formula's code, these
    // counts, the variables and the bottom of the value stack, all that a run touches,
    // share one page of memory.
    FastInstruction fast[kFastCapacity];
    int32_t fastLength;
    int32_t fastDepth;  // the stack count at the end of a run
    // The fast form as machine code (native_code.h), when the record has it: a function
    // of the record's address. Cleared by every compilation.
    NativeFunction native;
    int64_t variables[kVariableCount];
    int32_t valueTop;
    int64_t valueStack[kValueStackCapacity];

    int32_t queueLength;
    RpnItem queue[kQueueCapacity];  // item 0 is the header, then the program, closed by End
    int32_t operatorTop;            // -1 when empty
    uint8_t operatorStack[kOperatorStackCapacity];

    int64_t& variable(char letter) { return variables[letter - 'A']; }
    bool isCompiled() const { return queue[0].kind == kCompiled; }
};

// A plain record: zero-filled it reads as not compiled, with 0 in slot 0 of the value
// stack and in every variable. allocateCompiledExpressions gives such records from
// zero pages that the system maps on first touch, so the parts a record never uses (most
// of its 360 KB) cost no memory and no time.
struct CompiledExpressionsFree {
    void operator()(CompiledExpression* records) const { std::free(records); }
};
using CompiledExpressions = std::unique_ptr<CompiledExpression[], CompiledExpressionsFree>;
// Throws std::bad_alloc when the memory cannot be had.
CompiledExpressions allocateCompiledExpressions(size_t count);

// Compiler messages, word for word as the user sees them. Each has one address, so a
// message can be told by comparing pointers.
namespace messages {
inline constexpr char kUnexpectedSymbol[] = "Unexpected symbol during parsing";
inline constexpr char kSyntaxError[] = "Syntax error";
inline constexpr char kMissingClose[] = "Missing closing parenthesis";
inline constexpr char kExtraClose[] = "Extra closing parenthesis";
inline constexpr char kQueueOverflow[] = "Queue overflow";
inline constexpr char kStackOverflow[] = "Stack overflow";
}  // namespace messages

// Compiles the NUL-terminated `text` into `record`. Returns null on success, else one
// of the six messages above (static; the caller neither copies nor frees it). After a
// failure the record is marked not compiled. Leaves the value stack and variables alone.
const char* compileExpression(CompiledExpression& record, const char* text);

// Runs the compiled queue over the record's variables and returns slot 0 of the value
// stack. Never fails: a record that is not compiled yields what an earlier run left in
// slot 0, and a run whose stack count leaves 0..16383 yields 0. Uses the machine code or
// the fast form when the record has one; the result is the interpreter's in every case.
// Inline, so that a run of machine code costs the caller one call.
int64_t runFastForm(CompiledExpression& record);  // the fast form, else the interpreter
inline int64_t runExpression(CompiledExpression& record) {
    return record.native ? record.native(&record) : runFastForm(record);
}

// The plain interpreter: the reading of the language that every faster path must match.
int64_t interpretExpression(CompiledExpression& record);
