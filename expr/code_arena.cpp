// Blocks of machine code: each batch of new code goes into fresh pages that no record
// points into, filled with int3 around the code, made read-and-execute once, and only
// then handed out. A block is released once no record's code lies in it.
#include <algorithm>
#include <cstring>
#include <new>

#include "expression.h"
#include "formula_code.h"

namespace {

constexpr size_t kPageBytes = 4096;
constexpr size_t kAlignment = 16;  // where each record's code starts
constexpr uint8_t kTrap = 0xCC;    // int3

constexpr size_t aligned(size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }
constexpr size_t wholePages(size_t bytes) { return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes; }

void takeAway(CompiledExpression& record) {
    record.compiledFormula = nullptr;
    record.stretch = nullptr;
}

}  // namespace

CodeArena::CodeArena(int count, const CodePages& pages) : pages_(pages) {
    if (count <= 0) return;
    entries_.reset(new Entry[count]);
    blocks_.reset(new Block[count + 1]);
    scratch_.reset(new uint8_t[kMaxCodeBytes]);
    count_ = count;
}

CodeArena::~CodeArena() {
    if (voiceLoop_) pages_.leave(voiceLoop_);
    for (int b = 0; b <= count_ && count_ > 0; ++b)
        if (blocks_[b].memory) pages_.release(blocks_[b].memory, blocks_[b].bytes);
}

void CodeArena::forget(Entry& entry) {
    if (entry.block < 0) return;
    if (entry.function) pages_.leave(entry.function);
    if (entry.stretch) pages_.leave(entry.stretch);
    entry.function = nullptr;
    entry.stretch = nullptr;
    if (!entry.retired) live_ -= aligned(entry.length);
    Block& block = blocks_[entry.block];
    entry.block = -1;
    if (--block.users == 0) {
        pages_.release(block.memory, block.bytes);
        mapped_ -= block.bytes;
        block = Block{};
    }
}

void CodeArena::handOut(const Entry& entry) {
    entry.owner->compiledFormula = reinterpret_cast<FormulaFunction>(entry.function);
    entry.owner->stretch = !entry.function ? nullptr
                           : entry.stretch ? reinterpret_cast<StretchFunction>(entry.stretch)
                                           : reinterpret_cast<StretchFunction>(voiceLoop_);
}

void CodeArena::install(CompiledExpression& record, int index) {
    takeAway(record);
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.owner && entry.owner != &record) takeAway(*entry.owner);  // the index changes hands
    entry.owner = &record;
    entry.waiting = false;
    size_t stretchAt = 0;
    const size_t length = refused_ ? 0 : emitFormulaCode(record, scratch_.get(), kMaxCodeBytes, &stretchAt);
    if (entry.block >= 0 && length == entry.length && stretchAt == entry.stretchAt &&
        std::memcmp(blocks_[entry.block].memory + entry.offset, scratch_.get(), length) == 0) {
        handOut(entry);
        if (entry.retired) live_ += aligned(entry.length);
        entry.retired = false;
        return;  // the same code: nothing to write
    }
    forget(entry);
    entry.retired = false;
    entry.length = static_cast<uint32_t>(length);
    entry.stretchAt = static_cast<uint32_t>(stretchAt);
    entry.waiting = length > 0;
}

void CodeArena::retire(int index) {
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.retired) return;
    entry.retired = true;
    if (entry.block >= 0) live_ -= aligned(entry.length);
    entry.waiting = false;  // a retired record is past getting code
}

void CodeArena::drop(int index) {
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.owner) takeAway(*entry.owner);
    entry.owner = nullptr;  // the record may go
    forget(entry);
    entry.waiting = false;
}

void CodeArena::seal() {
    if (refused_) return;
    // The first block also holds the voice loop, ahead of the batch's code, for as long as
    // the area lives.
    const size_t voiceLoopLength = voiceLoop_ ? 0 : emitVoiceLoop(scratch_.get(), kMaxCodeBytes);
    const size_t start = aligned(voiceLoopLength);
    size_t bytes = start;
    for (int i = 0; i < count_; ++i) {
        Entry& entry = entries_[i];
        if (!entry.waiting) continue;
        if (live_ + (bytes - start) + aligned(entry.length) > kMaxLiveBytes ||
            mapped_ + wholePages(bytes + aligned(entry.length)) > kMaxMappedBytes) {
            entry.waiting = false;  // keeps its fast form
            continue;
        }
        entry.offset = static_cast<uint32_t>(bytes);
        bytes += aligned(entry.length);
    }
    if (bytes == start) return;

    int b = 0;
    while (blocks_[b].memory) ++b;  // count_ + 1 blocks: one is always free
    Block& block = blocks_[b];
    block.bytes = wholePages(bytes);
    block.memory = pages_.map(block.bytes);
    if (block.memory) {
        std::memset(block.memory, kTrap, block.bytes);
        if (voiceLoopLength && emitVoiceLoop(block.memory, voiceLoopLength) != voiceLoopLength)  // cannot happen
            std::memset(block.memory, kTrap, voiceLoopLength);
        for (int i = 0; i < count_; ++i) {
            Entry& entry = entries_[i];
            size_t stretchAt = 0;
            if (entry.waiting &&
                (emitFormulaCode(*entry.owner, block.memory + entry.offset, entry.length, &stretchAt) != entry.length ||
                 stretchAt != entry.stretchAt)) {
                std::memset(block.memory + entry.offset, kTrap, entry.length);  // cannot happen: the same record
                entry.waiting = false;                                          // gives the same code
            }
        }
    }
    if (!block.memory || !pages_.seal(block.memory, block.bytes)) {
        if (block.memory) {
            // The system refuses executable memory from now on: the code that runs stays,
            // nothing new is made, and these pages, which nobody points into, go back.
            pages_.release(block.memory, block.bytes);
            refused_ = true;
        }
        block = Block{};
        // The batch's records are handed out with their fast form and belong to another
        // thread from now on: none of them gets code later. Out of memory, the next batch
        // asks for pages again; refused, never.
        for (int i = 0; i < count_; ++i) entries_[i].waiting = false;
        return;
    }
    mapped_ += block.bytes;
    if (voiceLoopLength) {
        voiceLoop_ = pages_.enter(block.memory, voiceLoopLength);
        ++block.users;  // the loop's: the block stays
    }
    for (int i = 0; i < count_; ++i) {
        Entry& entry = entries_[i];
        if (!entry.waiting) continue;
        entry.waiting = false;
        entry.block = b;
        uint8_t* code = block.memory + entry.offset;
        entry.function = pages_.enter(code, entry.stretchAt ? entry.stretchAt : entry.length);
        if (entry.function && entry.stretchAt)
            entry.stretch = pages_.enter(code + entry.stretchAt, entry.length - entry.stretchAt);
        live_ += aligned(entry.length);
        ++block.users;
        handOut(entry);
    }
}
