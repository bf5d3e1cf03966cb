// The formula language: infix text over signed 64-bit integers compiled by a
// shunting-yard pass into a reverse-Polish queue, and an interpreter that walks it.
//
// A CompiledExpression is a record that holds the queue, the working stacks of both the
// compiler and the interpreter, and the variables (A..Z, then the words of words.h) that
// the caller fills before each run, all in one block of memory: the header below, then its arrays. A full record
// has the arrays at the language's limits and is what compilations go into; a packed
// record (packExpression) is a compiled one cut to the arrays its formula needs, for
// running. Neither compiling nor running allocates. Because the working storage lives in
// the record, one record serves one use at a time: callers must never let a compilation
// and a run, or two runs, of the same record overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fast_code.h"
#include "opcodes.h"
#include "words.h"

constexpr int kQueueCapacity = 16384;            // items, the header and the End item included
constexpr int kOperatorStackCapacity = 16384;    // pending operators and parentheses
constexpr int kValueStackCapacity = 16384;       // interpreter values
constexpr int kVariableCount = 26 + kWordCount;  // A..Z, then the words

// One queue entry. `value` is written and read for Number items only.
struct RpnItem {
    int32_t value;
    uint8_t kind;
};

struct CompiledExpression;
struct VoiceStretch;
using FormulaFunction = int64_t (*)(CompiledExpression* record);
using StretchFunction = void (*)(CompiledExpression* record, VoiceStretch* stretch);

// The lengths of a record's arrays.
struct RecordShape {
    int32_t fast, values, queue, operators;
};
constexpr RecordShape kFullShape{kFastCapacity, kValueStackCapacity, kQueueCapacity, kOperatorStackCapacity};

struct CompiledExpression {
    // The fast form compiled to code the machine runs (formula_code.h: x86-64 machine
    // code, or WebAssembly on the page), when the record has it: a function of the
    // record's address. Cleared by every compilation.
    FormulaFunction compiledFormula;
    // The same formula inside a voice's loop over a stretch of samples (formula_code.h),
    // when the record has code for it. Cleared with `compiledFormula`.
    StretchFunction stretch;
    // The right side of a stereo formula, a record of its own that a packed record keeps
    // beside it (RecordPool); null for a formula that plays the same on both sides.
    CompiledExpression* right;
    // The fast form of the queue (fast_code.h), in use while `fastLength` is above 0. Its
    // instructions fill `fast` from the end downward.
    int32_t fastLength;
    int32_t fastDepth;  // the stack count at the end of a run
    uint64_t reads;     // variablesRead, as the compilation found it
    int64_t variables[kVariableCount];
    int32_t valueTop;
    int32_t queueLength;
    int32_t operatorTop;  // -1 when empty
    RecordShape shape;
    size_t bytes;  // of the header and the arrays, which follow it in this order:
    int64_t* valueStack;
    FastInstruction* fast;
    RpnItem* queue;  // item 0 is the header, then the program, closed by End
    uint8_t* operatorStack;

    int64_t& variable(char letter) { return variables[letter - 'A']; }
    int64_t& word(Word w) { return variables[26 + static_cast<int>(w)]; }
    bool isCompiled() const { return queue[0].kind == kCompiled; }
};

// The bytes of a record of `shape`, header and arrays.
size_t recordBytes(const RecordShape& shape);
// Lays a record of `shape` out in `memory` (recordBytes of it, zero-filled, aligned as
// malloc aligns): zero-filled it reads as not compiled, with 0 in slot 0 of the value
// stack and in every variable.
CompiledExpression* placeRecord(void* memory, const RecordShape& shape);

// The shape of the smallest record that runs `record` as it runs: its queue, a value
// stack as deep as the queue can push, and its fast form. A record that is not compiled
// packs to one queue item and one value.
RecordShape packedShape(const CompiledExpression& record);
// Copies `record` into `memory` (recordBytes of packedShape(record), aligned as malloc
// aligns) as a record of that shape: the same queue, fast form, variables, slot 0 and
// stack count, without machine code and without room to compile into.
CompiledExpression* packExpression(const CompiledExpression& record, void* memory);

// Full records, each reading as not compiled, in one block of memory. They come from
// zero pages that the system maps on first touch, so the parts a record never uses
// (most of its 377 KB) cost no memory and no time.
class CompiledExpressions {
public:
    CompiledExpression& operator[](size_t index) const {
        return *reinterpret_cast<CompiledExpression*>(memory_.get() + index * stride_);
    }

private:
    friend CompiledExpressions allocateCompiledExpressions(size_t count);
    struct Free {
        void operator()(unsigned char* memory) const { std::free(memory); }
    };
    std::unique_ptr<unsigned char, Free> memory_;
    size_t stride_ = 0;
};
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

// Compiles the NUL-terminated `text`, read in `language`, into `record`. In the extended
// language, with a `right` record (a full record too), one comma outside every
// parenthesis splits the text into a stereo formula's left side, compiled into `record`,
// and its right side, compiled into `right`; `right` is left not compiled for a text
// without one. Without `right` a comma is an unexpected symbol. Returns null on success, else one
// of the six messages above (static; the caller neither copies nor frees it); the
// overflow messages come at the record's queue and operator stack lengths, which a full
// record has at the language's limits. After a failure the record is marked not
// compiled. Leaves the value stack and variables alone. With `stoppedAt`, it receives
// -1 on success, else the offset in `text` where the compiler stopped: the character it
// could not take (for "Extra closing parenthesis" the first closing parenthesis too
// many), or the text's length where the text ended too soon.
const char* compileExpression(CompiledExpression& record, const char* text, Language language = Language::Classic,
                              CompiledExpression* right = nullptr, int32_t* stoppedAt = nullptr);

// Runs the compiled queue over the record's variables and returns slot 0 of the value
// stack. Never fails: a record that is not compiled yields what an earlier run left in
// slot 0, and a run whose stack count leaves 0..16383 yields 0. Uses the machine code or
// the fast form when the record has one; the result is the interpreter's in every case.
// Inline, so that a run of machine code costs the caller one call.
int64_t runFastForm(CompiledExpression& record);  // the fast form, else the interpreter
inline int64_t runExpression(CompiledExpression& record) {
    return record.compiledFormula ? record.compiledFormula(&record) : runFastForm(record);
}

// The fast form over a column of samples: each instruction runs over every sample before
// the next, so that its dispatch is paid once a column instead of once a sample.
constexpr int kColumn = 64;       // samples at most
constexpr int kColumnSpills = 8;  // spill slots at most, each a column of its own
// Runs the fast form of `record` once for each of `count` samples (1..kColumn) into
// `out`: a variable with a column in `varying` (indexed as the variables, A is 0) reads that
// column's value for the sample, the others the record's. Leaves slot 0, the stack count
// and the spill slots as the run of the last sample leaves them; the variables stay as
// they are. Returns false, running nothing, for a record without a fast form or with more
// spill slots than kColumnSpills.
bool runFastColumns(CompiledExpression& record, const int64_t* const varying[kVariableCount], int32_t count,
                    int64_t* out);

// The variables a compiled record's formula reads, a bit for each at its variableIndex
// (bit 0 for A); none for a record that is not compiled.
inline uint64_t variablesRead(const CompiledExpression& record) { return record.isCompiled() ? record.reads : 0; }
constexpr uint64_t readBit(char letter) { return uint64_t{1} << (letter - 'A'); }
constexpr uint64_t readBit(Word w) { return uint64_t{1} << (26 + static_cast<int>(w)); }

// The plain interpreter: the reading of the language that every faster path must match.
int64_t interpretExpression(CompiledExpression& record);
