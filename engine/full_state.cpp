#include "full_state.h"

#include <algorithm>
#include <cstring>

#include "instrument.h"

namespace engine {

std::vector<uint8_t> saveFullState(Instrument& instrument) {
    const void* data = nullptr;
    const int32_t bytes = instrument.saveState(&data);
    std::vector<float> state(static_cast<const float*>(data), static_cast<const float*>(data) + bytes / 4);
    if (state.empty()) return {};
    state.back() = chunkcodec::tagFloat(chunktag::kGain);  // in place of the end tag, which follows
    state.push_back(static_cast<float>(instrument.setting(Setting::Gain)));
    state.push_back(chunkcodec::tagFloat(chunktag::kCurrentProgram));
    state.push_back(static_cast<float>(instrument.program()));
    state.push_back(chunkcodec::tagFloat(chunktag::kEnd));
    std::vector<uint8_t> out(state.size() * sizeof(float));
    std::memcpy(out.data(), state.data(), out.size());
    return out;
}

bool restoreFullState(Instrument& instrument, const uint8_t* bytes, size_t size) {
    // Ours begins with the chunk's start tag; anything else is refused whole.
    const uint32_t start = chunktag::kStart;
    if (!bytes || size < 4 || size > kMaxFullStateBytes || std::memcmp(bytes, &start, 4) != 0) return false;
    std::vector<float> floats(size / 4);
    std::memcpy(floats.data(), bytes, floats.size() * 4);
    int32_t gain = instrument.setting(Setting::Gain), program = instrument.program();
    for (size_t i = 1; i + 1 < floats.size(); ++i) {
        const uint32_t tag = chunkcodec::floatBits(floats[i]);
        if (tag == chunktag::kGain) gain = truncateToInt32(floats[i + 1]);
        if (tag == chunktag::kCurrentProgram) program = truncateToInt32(floats[i + 1]);
    }
    // The fullest bank's chunk fills the instrument's buffer; what ours add after it is
    // read above, so the chunk reader sees no more than the buffer holds.
    const size_t chunkBytes = std::min(size, static_cast<size_t>(kChunkCapacityBytes));
    if (!instrument.restoreState(bytes, static_cast<int32_t>(chunkBytes))) return false;
    instrument.setSetting(Setting::Gain, gain);
    if (program >= 0 && program < kChunkPrograms) instrument.setProgram(program);
    instrument.syncProgramDisplay();
    return true;
}

}  // namespace engine
