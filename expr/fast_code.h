// The fast form of a compiled queue: an accumulator machine that the translator builds
// once after every successful compilation, and that runs without a memory stack for
// the values in flight and without per-item checks.
//
// The stack depth after every item of a queue is known in advance (there are no
// jumps), so the translator follows it at compile time: numbers and variables become
// operands of the operators that use them, the value being built lives in one machine
// register (the accumulator), operations on two constants are folded, and divisions by
// constants become shifts or multiplications. Values that wait below the accumulator
// are spilled to the record's value stack, at the slot the interpreter would use.
// Queues whose stack count would leave its range on the way (a trailing operator or a
// ':' without enough values) keep the plain interpreter, which gives their quirks.
#pragma once

#include <cstdint>

// Operations of the accumulator machine (acc is the accumulator, x the operand that
// `operand` points to: a variable, a constant inside the instruction, or a spill slot).
enum FastOp : uint8_t {
    kFastLoad,       // acc = x
    kFastSpill,      // s = acc (s is a value-stack slot)
    kFastSpillLoad,  // s = acc, then acc = x: a spill and the load after it in one step
    kFastNeg,        // acc = -acc
    kFastNot,        // acc = !acc
    kFastBitNot,     // acc = ~acc
    kFastSelect,     // acc = acc != 0 ? x : y
    kFastDivPow2,    // acc = acc / 2^k, k in `shift`
    kFastRemPow2,    // acc = acc % 2^k
    kFastDivMagic,   // acc = acc / d by multiplication: magic in `magic`, shift in `shift`, d in `divisor`
    kFastRemMagic,   // acc = acc % d
    kFastReturn,     // result = acc
    kFastReturnX,    // result = x
    // Binary operators, each as acc = acc OP x and, reversed, acc = x OP acc.
    kFastFirstBinary,
    kFastBinaryCount = 18,
    kFastOpCount = kFastFirstBinary + 2 * kFastBinaryCount,
};

struct FastInstruction {
    const void* handler;  // where the dispatch jumps: one code address per operation
    const int64_t* operand;
    const int64_t* other;  // the else-value of kSelect
    int64_t* slot;         // where a spill goes
    int64_t constant;      // an operand that is a constant points here
    int64_t magic;         // also the else-value of kSelect when that is a constant
    int64_t divisor;
    int32_t shift;
    uint8_t op;  // the FastOp, for the translator's peephole
};

// Enough for any formula of 1023 characters; longer queues use the interpreter.
constexpr int kFastCapacity = 1536;

struct CompiledExpression;

// Builds the fast form of a freshly compiled record; leaves it unusable when the queue
// has a quirk that only the interpreter reproduces, or does not fit.
void translateFast(CompiledExpression& record);
// The code addresses of the operations, in FastOp order (binary ones acc OP x, then x OP acc).
const void* const* fastHandlerTable();
