#include "bank.h"

#include <algorithm>
#include <cstring>

#include "engine/chunk.h"

void decodeBank(Bank& bank, const std::vector<uint8_t>& chunk) {
    const size_t count = std::min(chunk.size(), static_cast<size_t>(kChunkCapacityBytes)) / 4;
    std::vector<float> floats(count);
    if (count) std::memcpy(floats.data(), chunk.data(), count * 4);
    readChunk(bank, floats.data(), static_cast<int>(count));
}

std::vector<uint8_t> encodeBank(const Bank& bank) {
    std::vector<float> floats(kChunkCapacityFloats);
    const int count = writeChunk(bank, floats.data());
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * 4);
    std::memcpy(bytes.data(), floats.data(), bytes.size());
    return bytes;
}
