// The compiled records of the bank on their way from the compiling side to the audio
// thread, which takes no lock and never waits.
//
// The audio thread plays each program from a record of its own. The compiling side
// compiles into records that the audio thread cannot see and hands each over with one
// atomic store into one of the program's two boxes: `walked` for a compilation that the
// audio thread is to play from its next block, `edited` for an edit that waits for the
// next compilation walk (the compiling side's, or the audio thread's own on a MIDI
// program change). The audio thread takes a record out of a box by putting its old one
// in, so that a record is always either the audio thread's or the compiling side's; the
// compiling side takes old records back and reuses them. A program has four records:
// the one playing, one in each box, and one being made.
//
// The compilation walk passes the programs in order: each that is marked (an edit
// offered, or its formula already in its record) plays its newest record from then on,
// and the walk stops at the first whose record did not compile.
#pragma once

#include <atomic>
#include <cstdint>

#include "../expr/expression.h"
#include "../expr/formula_code.h"
#include "../expr/record_pool.h"

namespace engine {

class RecordHandOver {
public:
    static constexpr int kPrograms = 128;

    // Throws std::bad_alloc when memory runs out. Code goes into `codePages`.
    explicit RecordHandOver(const CodePages& codePages);
    RecordHandOver(const RecordHandOver&) = delete;
    RecordHandOver& operator=(const RecordHandOver&) = delete;

    // --- [compiling side] One caller at a time.

    // Takes back the records that the audio thread gave back.
    void collectGivenBack();
    // A packed copy of `compiled` (with `right`, a stereo formula's right side beside it)
    // as program `index`'s newest record, its code to be written at the next sealCode;
    // null when no record is free or memory runs out.
    CompiledExpression* take(int index, const CompiledExpression& compiled, const CompiledExpression* right = nullptr);
    // Writes the code of the records taken since the last seal and hands it to them.
    void sealCode();
    // Offers `record` (from take) as program `index`'s edit, for the next walk.
    void offer(int index, CompiledExpression* record);
    // The compiling side's walk: marked programs' offered records go to the audio
    // thread for its next block. True when it stopped at a program whose record did not
    // compile, with `message` that program's `messageOf(index)`; a program marked without
    // an offered record stops it when its message is not null.
    template <class MessageOf>
    bool walk(MessageOf messageOf, const char*& message);

    // --- [any thread]

    // Marks program `index` for the next walk: its record holds its formula already.
    void mark(int index) { programs_[index].marked = true; }
    // Whether the next walk passes program `index` as marked. [while no walk runs]
    bool isMarked(int index) const;
    // The record that program `index` plays from the next block on. [while no other
    // thread uses the hand-over]
    CompiledExpression& nextRecord(int index);

    // --- [audio thread]

    // Plays every program's walked record from now on: at the start of each block.
    void adoptWalked();
    // The walk as the audio thread makes it, with the records compiled ahead: marked
    // programs play their offered records, in order, up to the first that did not compile.
    void walkOnAudioThread();
    CompiledExpression& playing(int index) const { return *playing_[index]; }

private:
    // A record's address with kFresh set while the audio thread has not taken it;
    // without kFresh, a record that the audio thread gave back; 0, nothing.
    using Box = std::atomic<uintptr_t>;
    static constexpr uintptr_t kFresh = 1;
    struct Program {
        std::atomic<bool> marked{false};
        Box walked{0};
        Box edited{0};
    };
    static constexpr int kRecordCount = 4 * kPrograms;

    // Puts `record` into `box` and takes back what the box held.
    void publish(Box& box, CompiledExpression* record);
    void recycle(CompiledExpression* record);
    // [audio thread] Plays the record in `box` from now on, if there is a fresh one.
    void adopt(int index, Box& box);

    Program programs_[kPrograms];
    RecordPool records_{kRecordCount};
    CodeArena codeArena_;
    // The pool index of each program's newest record; -1 before the first.
    int32_t newest_[kPrograms];
    // [audio thread] The record each program plays.
    CompiledExpression* playing_[kPrograms]{};
};

template <class MessageOf>
bool RecordHandOver::walk(MessageOf messageOf, const char*& message) {
    for (int i = 0; i < kPrograms; ++i) {
        Program& program = programs_[i];
        const bool marked = program.marked.exchange(false);
        uintptr_t edited = program.edited.load(std::memory_order_acquire);
        // The audio thread's own walk may take the record meanwhile: then it has walked it.
        if ((edited & kFresh) && program.edited.compare_exchange_strong(edited, 0, std::memory_order_acq_rel)) {
            auto* record = reinterpret_cast<CompiledExpression*>(edited & ~kFresh);
            const bool failed = !record->isCompiled();
            publish(program.walked, record);
            if (failed) {
                message = messageOf(i);
                return true;
            }
        } else if (marked) {
            // Its record holds its formula already: whether the walk stops here is the
            // message of that formula's compilation.
            if ((message = messageOf(i))) return true;
        }
    }
    return false;
}

}  // namespace engine
