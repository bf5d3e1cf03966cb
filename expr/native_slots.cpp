// Executable memory for machine-code formulas: pages that are either writable or
// executable, never both. They are mapped executable (and read as zeros, which no code
// equals) and made writable only while a batch of slots is written.
#include <cstring>

#include "expression.h"
#include "native_code.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kPageBytes = 4096;  // the protection unit on both systems
static_assert(kPageBytes % NativeCodeSlots::kSlotBytes == 0);

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

NativeCodeSlots::NativeCodeSlots(int count) {
    if (count <= 0) return;
    owners_.reset(new CompiledExpression*[count]());
    staged_.reset(new bool[count]());
    const size_t size = (count * kSlotBytes + kPageBytes - 1) / kPageBytes * kPageBytes;
    if ((memory_ = reserve(size))) size_ = size, count_ = count;
}

NativeCodeSlots::~NativeCodeSlots() {
    if (memory_) release(memory_, size_);
}

void NativeCodeSlots::install(CompiledExpression& record, int index) {
    record.native = nullptr;
    if (index < 0 || index >= count_) return;
    CompiledExpression*& owner = owners_[index];
    if (owner && owner != &record) owner->native = nullptr;  // the slot changes hands
    owner = &record;
    uint8_t code[kSlotBytes];
    const size_t length = emitNativeCode(record, code, sizeof code);
    uint8_t* slot = memory_ + index * kSlotBytes;
    staged_[index] = length > 0;
    if (length == 0 || std::memcmp(slot, code, length) == 0) return;
    if (!writable_) {
        if (!protect(memory_, size_, false)) {
            staged_[index] = false;
            return;
        }
        writable_ = true;
    }
    std::memcpy(slot, code, length);
}

void NativeCodeSlots::seal() {
    if (writable_ && !protect(memory_, size_, true)) {
        // Nothing in the slots may run: every record keeps its fast form from now on.
        for (int i = 0; i < count_; ++i)
            if (owners_[i]) owners_[i]->native = nullptr;
        count_ = 0;
        return;
    }
    writable_ = false;
    for (int i = 0; i < count_; ++i) {
        if (!staged_[i]) continue;
        staged_[i] = false;
        owners_[i]->native = reinterpret_cast<NativeFunction>(memory_ + i * kSlotBytes);
    }
}
