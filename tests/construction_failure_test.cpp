// The entry point under an allocator that runs out of memory at every possible step of
// construction: the host gets null or a whole instance, and nothing leaks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "host/aeffect.h"
#include "recording_host.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

int allocationsLeft = -1;  // -1: never fail
long liveAllocations = 0;

void* allocate(std::size_t size) {
    if (allocationsLeft == 0) throw std::bad_alloc();
    if (allocationsLeft > 0) --allocationsLeft;
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++liveAllocations;
    return p;
}

void release(void* p) {
    if (!p) return;
    --liveAllocations;
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

TEST(ConstructionFailure, TheHostGetsNullOrAWholeInstanceAndNothingLeaks) {
    RecordingHost::calls.reserve(64);
    int failures = 0;
    for (int budget = 0;; ++budget) {
        RecordingHost::calls.clear();  // keeps its room: the callback allocates nothing
        const long before = liveAllocations;
        allocationsLeft = budget;
        AEffect* effect = VSTPluginMain(RecordingHost::callback);
        allocationsLeft = -1;
        if (!effect) {
            ++failures;
            EXPECT_EQ(liveAllocations, before) << "leak when allocation " << budget << " fails";
            continue;
        }
        EXPECT_EQ(effect->magic, kEffectMagic);
        EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
        EXPECT_EQ(liveAllocations, before);
        break;
    }
    // One allocation for the instance and one per program at least.
    EXPECT_GE(failures, 129);
}

}  // namespace
