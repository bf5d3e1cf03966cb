// Executable memory for machine-code formulas: pages that are either writable or
// executable, never both. The area is mapped executable (its untouched pages read as
// zeros and cost nothing) and made writable only while a batch of code is written.
#include <cstring>
#include <new>

#include "expression.h"
#include "native_code.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kPageBytes = 4096;
constexpr size_t kAlignment = 16;  // where each record's code starts
// Compaction starts once the code that no record owns exceeds what they own by this.
constexpr size_t kCompactionSlack = 4 * kPageBytes;

constexpr size_t aligned(size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }

#ifdef _WIN32
uint8_t* reserve(size_t size) {
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READ));
}
void release(uint8_t* memory, size_t) { VirtualFree(memory, 0, MEM_RELEASE); }
bool protect(uint8_t* memory, size_t size, bool executable) {
    DWORD previous;
    if (!VirtualProtect(memory, size, executable ? PAGE_EXECUTE_READ : PAGE_READWRITE, &previous)) return false;
    return !executable || FlushInstructionCache(GetCurrentProcess(), memory, size);
}
#else
uint8_t* reserve(size_t size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<uint8_t*>(memory);
}
void release(uint8_t* memory, size_t size) { munmap(memory, size); }
bool protect(uint8_t* memory, size_t size, bool executable) {
    return mprotect(memory, size, executable ? PROT_READ | PROT_EXEC : PROT_READ | PROT_WRITE) == 0;
}
#endif

}  // namespace

NativeCodeArena::NativeCodeArena(int count) {
    if (count <= 0) return;
    entries_.reset(new Entry[count]);
    scratch_.reset(new uint8_t[kMaxCodeBytes]);
    count_ = count;
    // A page a record, and room for two of the longest.
    const size_t size = static_cast<size_t>(count) * kPageBytes + 2 * kMaxCodeBytes;
    if ((memory_ = reserve(size))) size_ = size;
}

NativeCodeArena::~NativeCodeArena() {
    if (memory_) release(memory_, size_);
}

void NativeCodeArena::install(CompiledExpression& record, int index) {
    record.native = nullptr;
    if (index < 0 || index >= count_) return;
    Entry& entry = entries_[index];
    if (entry.owner && entry.owner != &record) entry.owner->native = nullptr;  // the index changes hands
    entry.owner = &record;
    entry.staged = false;
    if (!memory_) return;
    const size_t length = emitNativeCode(record, scratch_.get(), kMaxCodeBytes);
    if (length > 0 && length == entry.length && std::memcmp(memory_ + entry.offset, scratch_.get(), length) == 0) {
        entry.staged = true;  // the same code: nothing to write
        return;
    }
    live_ -= aligned(entry.length);
    entry.length = 0;
    entry.staged = length > 0 && place(entry, scratch_.get(), static_cast<uint32_t>(length));
}

bool NativeCodeArena::place(Entry& entry, const uint8_t* code, uint32_t length) {
    if (used_ + aligned(length) > size_ || used_ - live_ > live_ + kCompactionSlack) compact();
    if (used_ + aligned(length) > size_ || !makeWritable()) return false;
    std::memcpy(memory_ + used_, code, length);
    entry.offset = static_cast<uint32_t>(used_);
    entry.length = length;
    used_ += aligned(length);
    live_ += aligned(length);
    return true;
}

// Moves every record's code down over the code that nobody owns, in the order of the
// offsets; the records get their code back at `seal`.
void NativeCodeArena::compact() {
    if (!makeWritable()) return;
    size_t to = 0;
    for (int64_t lastFrom = -1;;) {
        Entry* next = nullptr;
        for (int i = 0; i < count_; ++i) {
            Entry& entry = entries_[i];
            if (entry.length > 0 && entry.offset > lastFrom && (!next || entry.offset < next->offset)) next = &entry;
        }
        if (!next) break;
        lastFrom = next->offset;
        std::memmove(memory_ + to, memory_ + next->offset, next->length);
        next->offset = static_cast<uint32_t>(to);
        next->owner->native = nullptr;
        next->staged = true;
        to += aligned(next->length);
    }
    used_ = live_ = to;
}

bool NativeCodeArena::makeWritable() {
    if (!writable_) writable_ = protect(memory_, size_, false);
    return writable_;
}

void NativeCodeArena::seal() {
    if (writable_ && !protect(memory_, size_, true)) {
        // Nothing here may ever run: every record keeps its fast form from now on.
        for (int i = 0; i < count_; ++i)
            if (entries_[i].owner) entries_[i].owner->native = nullptr;
        release(memory_, size_);
        memory_ = nullptr;
        return;
    }
    writable_ = false;
    for (int i = 0; i < count_; ++i) {
        Entry& entry = entries_[i];
        if (!entry.staged) continue;
        entry.staged = false;
        if (entry.length > 0) entry.owner->native = reinterpret_cast<NativeFunction>(memory_ + entry.offset);
    }
}
