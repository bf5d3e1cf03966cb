// The pool's memory: reserved at once, pages given to the system as records use them,
// and given back when a record comes back.
#include "record_pool.h"

#include <cstdint>
#include <new>

#include "expression.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <unistd.h>

#include <cstring>
#else
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kPageBytes = 4096;

// The whole pages inside [begin, end).
void innerPages(unsigned char* begin, unsigned char* end, unsigned char*& first, size_t& bytes) {
    const auto b = (reinterpret_cast<uintptr_t>(begin) + kPageBytes - 1) / kPageBytes * kPageBytes;
    const auto e = reinterpret_cast<uintptr_t>(end) / kPageBytes * kPageBytes;
    first = reinterpret_cast<unsigned char*>(b);
    bytes = e > b ? e - b : 0;
}

#ifdef _WIN32
// Reserved only; a record's pages are committed when it is handed out, decommitted when
// it comes back, so that records that are in cost no commit charge.
unsigned char* reserve(size_t bytes) {
    return static_cast<unsigned char*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS));
}
void unreserve(unsigned char* memory, size_t) { VirtualFree(memory, 0, MEM_RELEASE); }
bool commit(unsigned char* begin, size_t bytes) {
    return VirtualAlloc(begin, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}
void discard(unsigned char* begin, size_t bytes) {
    unsigned char* first;
    size_t inner;
    innerPages(begin, begin + bytes, first, inner);
    if (inner) VirtualFree(first, inner, MEM_DECOMMIT);
}
#elif defined(__EMSCRIPTEN__)
// WebAssembly memory only grows, and grows zeroed; the pool takes its part at the end and
// keeps it for the process (a page holds one instrument). Given-back pages are zeroed.
unsigned char* reserve(size_t bytes) {
    void* memory = sbrk(static_cast<intptr_t>(bytes));
    return memory == reinterpret_cast<void*>(-1) ? nullptr : static_cast<unsigned char*>(memory);
}
void unreserve(unsigned char*, size_t) {}
bool commit(unsigned char*, size_t) { return true; }
void discard(unsigned char* begin, size_t bytes) {
    unsigned char* first;
    size_t inner;
    innerPages(begin, begin + bytes, first, inner);
    if (inner) std::memset(first, 0, inner);
}
#else
unsigned char* reserve(size_t bytes) {
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<unsigned char*>(memory);
}
void unreserve(unsigned char* memory, size_t bytes) { munmap(memory, bytes); }
bool commit(unsigned char*, size_t) { return true; }  // pages come on first touch
void discard(unsigned char* begin, size_t bytes) {
    unsigned char* first;
    size_t inner;
    innerPages(begin, begin + bytes, first, inner);
    if (inner) madvise(first, inner, MADV_DONTNEED);  // reads as zeros from now on
}
#endif

}  // namespace

RecordPool::RecordPool(int count) {
    if (count <= 0) return;
    bytes_ = static_cast<size_t>(count) * sizeof(CompiledExpression);
    free_ = new int[count];
    if (!(memory_ = reserve(bytes_))) {
        delete[] free_;
        throw std::bad_alloc();
    }
    count_ = freeCount_ = count;
    for (int i = 0; i < count; ++i) free_[i] = count - 1 - i;  // handed out from index 0 up
}

RecordPool::~RecordPool() {
    if (memory_) unreserve(memory_, bytes_);
    delete[] free_;
}

CompiledExpression* RecordPool::take() {
    if (freeCount_ == 0) return nullptr;
    unsigned char* at = recordAt(free_[freeCount_ - 1]);
    if (warm_ == 0 && !commit(at, sizeof(CompiledExpression))) return nullptr;
    --freeCount_;
    if (warm_ > 0) --warm_;
    return reinterpret_cast<CompiledExpression*>(at);
}

void RecordPool::give(CompiledExpression* record) {
    // Cleared as a new record reads (not compiled, 0 in slot 0 and in every variable);
    // its pages stay while it is among the kWarm records given back last, which the
    // next takes hand out again, and go back to the system after that.
    record->queue[0].kind = kEnd;
    record->valueStack[0] = 0;
    for (int64_t& v : record->variables) v = 0;
    record->native = nullptr;
    record->fastLength = 0;
    free_[freeCount_++] = indexOf(record);
    if (++warm_ > kWarm) {
        discard(recordAt(free_[freeCount_ - warm_]), sizeof(CompiledExpression));
        --warm_;
    }
}

unsigned char* RecordPool::recordAt(int index) const {
    return memory_ + static_cast<size_t>(index) * sizeof(CompiledExpression);
}

int RecordPool::indexOf(const CompiledExpression* record) const {
    return static_cast<int>((reinterpret_cast<const unsigned char*>(record) - memory_) / sizeof(CompiledExpression));
}
