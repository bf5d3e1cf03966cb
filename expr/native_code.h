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

// Executable memory for the machine code of `count` records, record `index` of them
// being the one installed under that index. Code is position-independent, so it is
// packed one after another and moved down when the area is compacted; only the pages
// that hold code take memory (a few kilobytes for a bank of ordinary formulas).
// Writing happens in batches: `install` stages the code of freshly compiled records,
// `seal` makes the area executable again and hands the staged records their code. A
// batch of any size costs two changes of protection, and a batch that changes no code
// costs none.
// [any thread, under the lock that orders the records' compilations and runs]
class NativeCodeArena {
public:
    static constexpr size_t kMaxCodeBytes = 16384;  // more than any 1023-character formula needs

    // Holds no executable memory, and gives no record machine code, when the system
    // refuses. Throws std::bad_alloc when its bookkeeping cannot be allocated.
    explicit NativeCodeArena(int count);
    ~NativeCodeArena();
    NativeCodeArena(const NativeCodeArena&) = delete;
    NativeCodeArena& operator=(const NativeCodeArena&) = delete;

    // Stages the machine code of freshly compiled `record` under `index`; the record
    // runs its fast form until `seal`. A record without a fast form is staged without
    // code. The record must not be compiled again, except through `install`, before
    // `seal`. Installed records must outlive the arena, which writes their `native`.
    void install(CompiledExpression& record, int index);
    // Ends the batch: the area becomes executable and staged records get their code.
    void seal();

private:
    struct Entry {
        CompiledExpression* owner = nullptr;
        uint32_t offset = 0;
        uint32_t length = 0;  // 0: no code
        bool staged = false;
    };
    bool makeWritable();
    bool place(Entry& entry, const uint8_t* code, uint32_t length);
    void compact();

    uint8_t* memory_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;  // the packed code ends here
    size_t live_ = 0;  // bytes of code that records own
    int count_ = 0;
    bool writable_ = false;
    std::unique_ptr<Entry[]> entries_;
    std::unique_ptr<uint8_t[]> scratch_;  // kMaxCodeBytes, where code is emitted first
};
