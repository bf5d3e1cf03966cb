// Blocks of machine code: each batch of new code goes into fresh pages that no record
// points into, filled with int3 around the code, made read-and-execute once, and only
// then handed out. A block is released once no record's code lies in it.
#include <algorithm>
#include <cstring>
#include <new>

#include "expression.h"
#include "native_code.h"

#ifdef _WIN32
#include <windows.h>
#elif defined(__wasm__)
#include <cstdlib>
#else
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kPageBytes = 4096;
constexpr size_t kAlignment = 16;  // where each record's code starts
constexpr uint8_t kTrap = 0xCC;    // int3

constexpr size_t aligned(size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }
constexpr size_t wholePages(size_t bytes) { return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes; }

#ifdef _WIN32
// Made executable without marking its addresses as call targets in a process built with
// Control Flow Guard (the code is only ever called through the instrument's own
// pointer); systems that do not know the flag get plain read-and-execute.
#ifndef PAGE_TARGETS_NO_UPDATE
#define PAGE_TARGETS_NO_UPDATE 0x40000000
#endif
uint8_t* mapPages(size_t bytes) {
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}
bool sealPages(uint8_t* pages, size_t bytes) {
    DWORD previous;
    if (!VirtualProtect(pages, bytes, PAGE_EXECUTE_READ | PAGE_TARGETS_NO_UPDATE, &previous) &&
        !VirtualProtect(pages, bytes, PAGE_EXECUTE_READ, &previous))
        return false;
    return FlushInstructionCache(GetCurrentProcess(), pages, bytes);
}
void releasePages(uint8_t* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }
#elif defined(__wasm__)
// The host compiles a formula's module and puts its function into the instrument's table,
// answering the function's index there, or 0 when it cannot; and takes it out again.
extern "C" __attribute__((import_module("env"), import_name("bytoneEnterCode"))) uint32_t bytoneEnterCode(
    const uint8_t* code, size_t bytes);
extern "C" __attribute__((import_module("env"), import_name("bytoneLeaveCode"))) void bytoneLeaveCode(
    uint32_t function);

uint8_t* mapPages(size_t bytes) { return static_cast<uint8_t*>(std::malloc(bytes)); }
bool sealPages(uint8_t*, size_t) { return true; }
void releasePages(uint8_t* pages, size_t) { std::free(pages); }
CodeFunction enterCode(uint8_t* code, size_t bytes) {
    return reinterpret_cast<CodeFunction>(static_cast<uintptr_t>(bytoneEnterCode(code, bytes)));
}
void leaveCode(CodeFunction function) { bytoneLeaveCode(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function))); }
#else
uint8_t* mapPages(size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<uint8_t*>(pages);
}
bool sealPages(uint8_t* pages, size_t bytes) { return mprotect(pages, bytes, PROT_READ | PROT_EXEC) == 0; }
void releasePages(uint8_t* pages, size_t bytes) { munmap(pages, bytes); }
#endif

#ifndef __wasm__
CodeFunction enterCode(uint8_t* code, size_t) { return reinterpret_cast<CodeFunction>(code); }
void leaveCode(CodeFunction) {}
#endif

void takeAway(CompiledExpression& record) {
    record.native = nullptr;
    record.stretch = nullptr;
}

}  // namespace

const CodePages& systemCodePages() {
    static const CodePages pages{mapPages, sealPages, releasePages, enterCode, leaveCode};
    return pages;
}

NativeCodeArena::NativeCodeArena(int count, const CodePages& pages) : pages_(pages) {
    if (count <= 0) return;
    entries_.reset(new Entry[count]);
    blocks_.reset(new Block[count + 1]);
    scratch_.reset(new uint8_t[kMaxCodeBytes]);
    count_ = count;
}

NativeCodeArena::~NativeCodeArena() {
    if (driver_) pages_.leave(driver_);
    for (int b = 0; b <= count_ && count_ > 0; ++b)
        if (blocks_[b].memory) pages_.release(blocks_[b].memory, blocks_[b].bytes);
}

void NativeCodeArena::forget(Entry& entry) {
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

void NativeCodeArena::handOut(const Entry& entry) {
    entry.owner->native = reinterpret_cast<NativeFunction>(entry.function);
    entry.owner->stretch = !entry.function ? nullptr
                           : entry.stretch ? reinterpret_cast<NativeStretch>(entry.stretch)
                                           : reinterpret_cast<NativeStretch>(driver_);
}

void NativeCodeArena::install(CompiledExpression& record, int index) {
    takeAway(record);
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.owner && entry.owner != &record) takeAway(*entry.owner);  // the index changes hands
    entry.owner = &record;
    entry.waiting = false;
    size_t stretchAt = 0;
    const size_t length = refused_ ? 0 : emitNativeCode(record, scratch_.get(), kMaxCodeBytes, &stretchAt);
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

void NativeCodeArena::retire(int index) {
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.retired) return;
    entry.retired = true;
    if (entry.block >= 0) live_ -= aligned(entry.length);
    entry.waiting = false;  // a retired record is past getting code
}

void NativeCodeArena::drop(int index) {
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.owner) takeAway(*entry.owner);
    entry.owner = nullptr;  // the record may go
    forget(entry);
    entry.waiting = false;
}

void NativeCodeArena::seal() {
    if (refused_) return;
    // The first block also holds the voice loop, ahead of the batch's code, for as long as
    // the area lives.
    const size_t driverLength = driver_ ? 0 : emitStretchDriver(scratch_.get(), kMaxCodeBytes);
    const size_t start = aligned(driverLength);
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
        if (driverLength && emitStretchDriver(block.memory, driverLength) != driverLength)  // cannot happen
            std::memset(block.memory, kTrap, driverLength);
        for (int i = 0; i < count_; ++i) {
            Entry& entry = entries_[i];
            size_t stretchAt = 0;
            if (entry.waiting &&
                (emitNativeCode(*entry.owner, block.memory + entry.offset, entry.length, &stretchAt) != entry.length ||
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
    if (driverLength) {
        driver_ = pages_.enter(block.memory, driverLength);
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
