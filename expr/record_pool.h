// Compiled records for a bank of programs that are compiled on one side and run on
// another: a fixed number in one reservation of address space, handed out and taken back
// by their one owner (the compiling side). A record taken back reads as a new record
// (not compiled, 0 in slot 0 and in every variable) when handed out again; records cost
// only the pages they use. The last few records taken back keep their pages for the next
// takes, so that editing one formula after another makes no system call; the others
// give their memory back to the system.
#pragma once

#include <cstddef>

struct CompiledExpression;

class RecordPool {
public:
    // Throws std::bad_alloc when the address space cannot be had.
    explicit RecordPool(int count);
    ~RecordPool();
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;

    // A new record, or null when every record is out.
    CompiledExpression* take();
    // Takes `record` back; nothing may use it any more.
    void give(CompiledExpression* record);
    // The record's place in the pool, 0..count-1.
    int indexOf(const CompiledExpression* record) const;
    int count() const { return count_; }

    // Records taken back that keep their pages, at most.
    static constexpr int kWarm = 8;

private:
    unsigned char* recordAt(int index) const;

    unsigned char* memory_ = nullptr;
    size_t bytes_ = 0;
    int count_ = 0;
    int freeCount_ = 0;
    int* free_ = nullptr;  // indexes of the records that are in; the last `warm_` keep their pages
    int warm_ = 0;
};
