// Formulas as code the machine runs: x86-64 machine code in the plug-ins and the tool
// (x86_64_emitter.cpp), WebAssembly on the page (wasm_emitter.cpp). The fast form of a
// record (fast_code.h) is already the plan of a register machine: one accumulator,
// operands that are variables, constants or spill slots, and no jumps. Each of its
// instructions becomes a fixed pattern of code, so a formula runs as a short straight
// line of instructions without any dispatch. The code arena (code_arena.cpp) owns the
// code of an instrument's records.
//
// A voice's loop over a stretch of samples (VoiceStretch below) keeps the voice's
// counters in registers and calls the formula's function for each reading: one call from
// the instrument per voice and stretch instead of one per sample. One loop serves every
// record of an area.
//
// Safety of code made from untrusted text: the only values a formula puts into the code
// are the immediates of its constants. Every jump is a fixed jump inside one pattern or
// the loop's own, every memory access is at the record's own address plus an offset that
// the translator chose and the emitter checks against the record's size, or at a field of
// the stretch, a frame of its mix below its count, or a byte of its sine table, and each
// function ends in its one return. Code is written into fresh pages that nothing points
// into, which are then made read-and-execute once and for all: no page that holds code
// anybody may run ever changes its protection, and no page is ever writable and
// executable at once. Where the system refuses executable memory, records keep the fast
// form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "../system/code_pages.h"
#include "expression.h"

// A voice's run over a stretch of samples, as the machine code runs it. For each of the
// `frames` samples, as the instrument's own loop does when the voice does not glide:
//   the phase and time fractions advance by their steps and their whole parts move to
//   the counters P and T; R takes the random state's value, (random >> 16) & 0x7FFF, and
//   the state leaps (state * multiplier + increment); S and C read the sine table;
//   the words beat and bar take the sample's entries of `beats` and `bars`;
//   with `lerp` the formula runs again with P + 1 (and S, C a step on), and the two
//   readings are blended by the phase fraction;
//   the value is clamped to -256..256 (`clamp`) or masked to 0..255, scaled by gain / 100
//   and added to mix[i] as value / 256.
// The caller vouches for what keeps the loop free of special cases: both fractions in
// [0, 1), both steps in [0, 2^51), |gain| at most 2^22, frames at most the mix's length.
// V, M and the other variables are the record's as the caller left them. The counters and
// fractions are written back.
struct VoiceStretch {
    double phaseFrac, phaseStep, timeFrac, timeStep;
    int64_t phase, time;
    int64_t gain;
    int64_t held;  // the code's own: the first reading while the second is made
    float* mix;
    const uint8_t* sineTable;  // 256 entries
    const int64_t* beats;      // a value of beat and of bar for each frame
    const int64_t* bars;
    uint32_t random, randomMultiplier, randomIncrement;
    int32_t frames;
    uint8_t lerp, clamp;
    uint8_t readsRandom, readsSine, readsCosine;  // whether the formula reads R, S and C
    uint8_t readsBeat, readsBar;                  // and beat and bar
};

// Writes the code of `record`'s fast form into `out`: a function that takes the record's
// address (the platform's first argument), runs the formula and returns its value,
// leaving slot 0 and the stack count as the interpreter does. Where the code is
// WebAssembly, a second module follows at `*stretchAt`: the formula inside a voice's loop
// over a stretch, a function of the record and a VoiceStretch; 0 there when it would not
// fit or the formula's code is longer than kMaxStretchedBytes (a long formula is called
// per sample, where the call costs nothing worth saving). Returns the code's size, or 0
// when the record has no fast form, the code would not fit in `capacity`, or this build
// has no code generator.
size_t emitFormulaCode(const CompiledExpression& record, uint8_t* out, size_t capacity, size_t* stretchAt);
constexpr size_t kMaxStretchedBytes = 4096;
// Writes the x86-64 voice loop that serves every record with machine code: a function of
// the record and a VoiceStretch that calls the record's formula function for each
// reading. Returns its size, or 0 where formulas bring their own loop or there is no code
// generator.
size_t emitVoiceLoop(uint8_t* out, size_t capacity);

// The machine code of `count` records, record `index` of them being the one installed
// under that index. The area is the one owner of the records' code: it hands a record its
// code and takes it away when the record is compiled again or dropped.
//
// Code is written in batches: `install` takes each compilation, `seal` writes the new
// code of the batch into one block of fresh pages, makes it executable and hands the
// records their code. A block is released when no record's code lies in it any more, so
// code is never moved or changed under a record that some thread may be running. A batch
// that changes no code maps nothing and makes no system call.
//
// Two limits keep the memory bounded: the code of the records that are not retired (the
// newest of each program) may take kMaxLiveBytes, and all blocks together, retired code
// and the rest of the blocks it holds included, kMaxMappedBytes. A retired record's code
// runs until the record is dropped; it no longer counts against the first limit, so that
// a new bank gets its code while the old one still plays.
// [the compiling threads, one at a time; never a thread that runs the records]
class CodeArena {
public:
    // The code of one formula: the longest formulas of 1023 characters need about 31 KB
    // (`P%3%3...`); a formula whose code is longer keeps its fast form.
    static constexpr size_t kMaxCodeBytes = 40960;
    // The code of the records that are not retired, at most; records past it keep their
    // fast form.
    static constexpr size_t kMaxLiveBytes = 4 << 20;
    // Pages held for code at most, retired code included.
    static constexpr size_t kMaxMappedBytes = 12 << 20;

    // Throws std::bad_alloc when its bookkeeping cannot be allocated.
    explicit CodeArena(int count, const CodePages& pages = systemCodePages());
    ~CodeArena();
    CodeArena(const CodeArena&) = delete;
    CodeArena& operator=(const CodeArena&) = delete;

    // Takes every compilation of `record` under `index`, failed or not. The record loses
    // its old code at once. Code equal to what the index already has is handed back at
    // once; other code waits for `seal`, and a failed compilation or a form without
    // code gets none. Installed records must outlive the area, which writes `compiledFormula`.
    void install(CompiledExpression& record, int index);
    // The record of `index` has been replaced by a newer one and will be dropped: its
    // code stays until then but no longer counts as live.
    void retire(int index);
    // Takes the code of `index` away: its record is not run again until installed anew,
    // and may be freed.
    void drop(int index);
    // Ends the batch: writes the waiting code and hands it out. When the system has no
    // pages for it, the batch keeps its fast form for good (its records may be running
    // by then); when the system refuses to make pages executable, no record gets new
    // code again.
    void seal();

    // Bytes of pages held for code, and bytes of code that is not retired.
    size_t mappedBytes() const { return mapped_; }
    size_t liveBytes() const { return live_; }

private:
    struct Entry {
        CompiledExpression* owner = nullptr;
        int block = -1;                   // where its code lies; -1 while it has none
        uint32_t offset = 0;              // in the block
        uint32_t length = 0;              // of its code, or of the code waiting for `seal`
        uint32_t stretchAt = 0;           // where its stretch function starts; 0 without one
        CodeFunction function = nullptr;  // what the code is, once sealed
        CodeFunction stretch = nullptr;
        bool waiting = false;
        bool retired = false;
    };
    struct Block {
        uint8_t* memory = nullptr;
        size_t bytes = 0;
        int users = 0;
    };
    // Takes the entry's code away from its block, releasing the block when it empties.
    void forget(Entry& entry);
    // Hands the record of `entry` its code, where the entry says it lies.
    void handOut(const Entry& entry);

    CodePages pages_;
    int count_ = 0;
    bool refused_ = false;
    size_t mapped_ = 0;
    size_t live_ = 0;
    std::unique_ptr<Entry[]> entries_;
    std::unique_ptr<Block[]> blocks_;     // count_ + 1: each live block has a user, and one is new
    std::unique_ptr<uint8_t[]> scratch_;  // kMaxCodeBytes, where code is emitted first
    // The voice loop that serves every record with machine code: in the first block that
    // was sealed, which it keeps until the area goes.
    CodeFunction voiceLoop_ = nullptr;
};
