#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {

int allocationsLeft = -1;
long allocationCount = 0;
long liveAllocations = 0;

void* allocate(std::size_t size) {
    if (allocationsLeft == 0) throw std::bad_alloc();
    if (allocationsLeft > 0) --allocationsLeft;
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++allocationCount;
    ++liveAllocations;
    return p;
}

void release(void* p) {
    if (!p) return;
    --liveAllocations;
    std::free(p);
}

}  // namespace

long counting_allocator::allocations() { return allocationCount; }
long counting_allocator::live() { return liveAllocations; }
void counting_allocator::failAfter(int count) { allocationsLeft = count; }

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
