#include <windows.h>

#include "code_pages.h"

// Made executable without marking its addresses as call targets in a process built with
// Control Flow Guard (the code is only ever called through the instrument's own
// pointer); systems that do not know the flag get plain read-and-execute.
#ifndef PAGE_TARGETS_NO_UPDATE
#define PAGE_TARGETS_NO_UPDATE 0x40000000
#endif

namespace {

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

}  // namespace

const CodePages& systemCodePages() {
    static const CodePages pages{mapPages, sealPages, releasePages, machineCodeAt, machineCodeGone};
    return pages;
}
