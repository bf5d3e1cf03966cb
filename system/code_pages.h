// Pages for machine code as the operating system hands them out: the one place where the
// core calls the system. Each system has a file of its own (code_pages_posix.cpp,
// code_pages_windows.cpp, code_pages_wasm.cpp); a build links the one of its system.
#pragma once

#include <cstddef>
#include <cstdint>

// A function of code in sealed pages, of whichever type: the formula's or the stretch's.
using CodeFunction = void (*)();

// Tests put a system that refuses in its place.
struct CodePages {
    // Fresh pages, readable and writable but not executable; null when refused.
    uint8_t* (*map)(size_t bytes);
    // Turns pages from `map` read-and-execute, for good; false when refused.
    bool (*seal)(uint8_t* pages, size_t bytes);
    void (*release)(uint8_t* pages, size_t bytes);
    // The function that a record's code in sealed pages is (the formula's, and apart the
    // stretch's), null when there is none; and the end of that function, before its pages
    // go. Machine code is its own address; WebAssembly code is a module that the host
    // compiles into the instrument's table.
    CodeFunction (*enter)(uint8_t* code, size_t bytes);
    void (*leave)(CodeFunction function);
};

// The pages of the system this build runs on.
const CodePages& systemCodePages();

// Where code is machine code, it is its own address, and nothing is left to do when it goes.
inline CodeFunction machineCodeAt(uint8_t* code, size_t) { return reinterpret_cast<CodeFunction>(code); }
inline void machineCodeGone(CodeFunction) {}
