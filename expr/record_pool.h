// Records for a bank of programs that are compiled on one side and run on another: the
// compiling side compiles into a full record of its own and takes a packed copy of it
// (packExpression) from the pool, in memory of just the size that formula needs. At most
// `count` records are out at a time, each under a number 0..count-1 that its code in a
// CodeArena goes by. The pool is its one owner's, the compiling side's.
#pragma once

#include <memory>

struct CompiledExpression;

class RecordPool {
public:
    // Throws std::bad_alloc when its bookkeeping cannot be allocated.
    explicit RecordPool(int count);
    ~RecordPool();  // frees the records that are still out
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;

    // A packed copy of `compiled`, its every byte written, or null when every record is
    // out or the memory cannot be had. With `right`, a stereo formula's right side: its
    // packed copy lies in the same memory, as the record's `right`.
    CompiledExpression* take(const CompiledExpression& compiled, const CompiledExpression* right = nullptr);
    // Takes `record` back and frees it; nothing may use it any more.
    void give(CompiledExpression* record);
    // The record's number, 0..count-1.
    int indexOf(const CompiledExpression* record) const;
    int count() const { return count_; }

private:
    int count_ = 0;
    int freeCount_ = 0;
    std::unique_ptr<int[]> free_;                 // the numbers that are in
    std::unique_ptr<CompiledExpression*[]> out_;  // by number; null while in
};
