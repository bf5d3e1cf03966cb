// A plain copy of the instrument's bank as its state chunk carries it, for reading and
// editing chunks outside the plug-in.
#pragma once

#include <cstdint>
#include <vector>

struct BankProgram {
    char name[32];
    char formula[1024];
    int32_t drumKey;
    bool needsCompile;
};

struct Bank {
    int32_t polyphony = 8;
    int32_t portamento = 100;
    int32_t timeScale = 50;
    bool interpolate = false;
    bool clampOutput = true;
    int32_t scopeZoom = 0;
    BankProgram programs[128] = {};
};

// Reads a chunk's bytes into `bank` (fields the chunk lacks keep their values).
void decodeBank(Bank& bank, const std::vector<uint8_t>& chunk);
std::vector<uint8_t> encodeBank(const Bank& bank);
