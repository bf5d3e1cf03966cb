// Formulas as x86-64 machine code. The fast form of a record (fast_code.h) is already
// the plan of a register machine: one accumulator, operands that are variables,
// constants or spill slots, and no jumps. Each of its instructions becomes a fixed
// machine-code pattern with the accumulator in rax and the record's address in r9, so a
// formula runs as a short straight line of native instructions without any dispatch.
//
// Safety of code made from untrusted text: the only values a formula puts into the code
// are the immediates of its constants. Every jump is a fixed short jump inside one
// pattern, every memory access is at the record's own address plus an offset that the
// translator chose and the emitter checks against the record's size, and no page is ever
// writable and executable at once (pages are written, then turned read-and-execute).
// Where the system refuses executable memory, records keep the fast form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct CompiledExpression;

// Writes the machine code of `record`'s fast form into `out`: a function that takes the
// record's address (the platform's first argument), runs the formula and returns its
// value, leaving slot 0 and the stack count as the interpreter does. Returns the code's
// size, or 0 when the record has no fast form, the code would not fit in `capacity`, or
// this build has no x86-64 code generator.
size_t emitNativeCode(const CompiledExpression& record, uint8_t* out, size_t capacity);

// Executable memory for `count` records, in slots of kSlotBytes, one record's code a
// slot. Only the pages of slots that hold code take memory. Writing happens in
// batches: `install` stages the code of freshly compiled records, `seal` makes the
// memory executable again and hands the staged records their code, so a batch of any
// size costs two changes of protection, and a batch that changes no code costs none.
// [any thread, under the lock that orders the records' compilations and runs]
class NativeCodeSlots {
public:
    static constexpr size_t kSlotBytes = 1024;

    // Holds no memory, and gives no record machine code, when the system refuses.
    // Throws std::bad_alloc when its bookkeeping cannot be allocated.
    explicit NativeCodeSlots(int count);
    ~NativeCodeSlots();
    NativeCodeSlots(const NativeCodeSlots&) = delete;
    NativeCodeSlots& operator=(const NativeCodeSlots&) = delete;

    // Stages the machine code of freshly compiled `record` in slot `index`; the record
    // runs its fast form until `seal`. A record whose code does not fit a slot (very
    // long formulas), or that has no fast form, is staged without code.
    void install(CompiledExpression& record, int index);
    // Ends the batch: the memory becomes executable and staged records get their code.
    void seal();

private:
    uint8_t* memory_ = nullptr;
    size_t size_ = 0;
    int count_ = 0;
    bool writable_ = false;
    std::unique_ptr<CompiledExpression*[]> owners_;  // the record of each slot, or null
    std::unique_ptr<bool[]> staged_;                 // holds code waiting for seal
};
