#include <sys/mman.h>

#include "code_pages.h"

namespace {

uint8_t* mapPages(size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<uint8_t*>(pages);
}
bool sealPages(uint8_t* pages, size_t bytes) { return mprotect(pages, bytes, PROT_READ | PROT_EXEC) == 0; }
void releasePages(uint8_t* pages, size_t bytes) { munmap(pages, bytes); }

}  // namespace

const CodePages& systemCodePages() {
    static const CodePages pages{mapPages, sealPages, releasePages, machineCodeAt, machineCodeGone};
    return pages;
}
