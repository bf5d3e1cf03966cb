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
    // Each extended setting away from its default, so that a state of settings that an
    // earlier release knew stays as that release saved it.
    for (int number = kClassicSettingCount; number < kSettingCount; ++number) {
        const auto setting = static_cast<Setting>(number);
        const int32_t value = instrument.setting(setting);
        if (value == settingInfo(setting).defaultValue) continue;
        state.push_back(chunkcodec::tagFloat(settingInfo(setting).chunkTag));
        state.push_back(static_cast<float>(value));
    }
    state.push_back(chunkcodec::tagFloat(chunktag::kCurrentProgram));
    state.push_back(static_cast<float>(instrument.program()));
    state.push_back(chunkcodec::tagFloat(chunktag::kEnd));
    std::vector<uint8_t> out(state.size() * sizeof(float));
    std::memcpy(out.data(), state.data(), out.size());
    return out;
}

bool restoreFullState(Instrument& instrument, const uint8_t* bytes, size_t size) {
    // Ours is a whole chunk (it begins with the chunk's start tag and ends with its end
    // tag); anything else is refused whole.
    const uint32_t start = chunktag::kStart;
    if (size > kMaxFullStateBytes || !chunkIsWhole(bytes, size) || std::memcmp(bytes, &start, 4) != 0) return false;
    std::vector<float> floats(size / 4);
    std::memcpy(floats.data(), bytes, size);
    // The Gain, the extended settings and the current program with their tags come out;
    // what remains is the VST 2.4 chunk, which fits the instrument's buffer. An extended
    // setting the state does not carry is at its default.
    int32_t gain = instrument.setting(Setting::Gain), program = instrument.program();
    int32_t extended[kSettingCount - kClassicSettingCount];
    for (int number = kClassicSettingCount; number < kSettingCount; ++number)
        extended[number - kClassicSettingCount] = settingInfo(static_cast<Setting>(number)).defaultValue;
    const auto slotOf = [&](uint32_t tag) -> int32_t* {
        if (tag == chunktag::kGain) return &gain;
        if (tag == chunktag::kCurrentProgram) return &program;
        for (int number = kClassicSettingCount; number < kSettingCount; ++number)
            if (tag == settingInfo(static_cast<Setting>(number)).chunkTag)
                return &extended[number - kClassicSettingCount];
        return nullptr;
    };
    std::vector<float> chunk;
    chunk.reserve(floats.size());
    for (size_t i = 0; i < floats.size(); ++i) {
        int32_t* slot = i > 0 && i + 2 < floats.size() ? slotOf(chunkcodec::floatBits(floats[i])) : nullptr;
        if (slot) {
            *slot = truncateToInt32(floats[i + 1]);
            ++i;
            continue;
        }
        chunk.push_back(floats[i]);
    }
    if (chunk.size() * 4 > static_cast<size_t>(kChunkCapacityBytes)) return false;
    if (!instrument.restoreState(chunk.data(), static_cast<int32_t>(chunk.size() * 4))) return false;
    instrument.setSetting(Setting::Gain, gain);
    for (int number = kClassicSettingCount; number < kSettingCount; ++number)
        instrument.setSetting(static_cast<Setting>(number), extended[number - kClassicSettingCount]);
    if (program >= 0 && program < kChunkPrograms) instrument.setProgram(program);
    instrument.syncProgramDisplay();
    return true;
}

}  // namespace engine
