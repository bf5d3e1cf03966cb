#include <cstdlib>

#include "code_pages.h"

// The host compiles a formula's module and puts its function into the instrument's table,
// answering the function's index there, or 0 when it cannot; and takes it out again.
extern "C" __attribute__((import_module("env"), import_name("bytoneEnterCode"))) uint32_t bytoneEnterCode(
    const uint8_t* code, size_t bytes);
extern "C" __attribute__((import_module("env"), import_name("bytoneLeaveCode"))) void bytoneLeaveCode(
    uint32_t function);

namespace {

uint8_t* mapPages(size_t bytes) { return static_cast<uint8_t*>(std::malloc(bytes)); }
bool sealPages(uint8_t*, size_t) { return true; }
void releasePages(uint8_t* pages, size_t) { std::free(pages); }
CodeFunction enterCode(uint8_t* code, size_t bytes) {
    return reinterpret_cast<CodeFunction>(static_cast<uintptr_t>(bytoneEnterCode(code, bytes)));
}
void leaveCode(CodeFunction function) { bytoneLeaveCode(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function))); }

}  // namespace

const CodePages& systemCodePages() {
    static const CodePages pages{mapPages, sealPages, releasePages, enterCode, leaveCode};
    return pages;
}
