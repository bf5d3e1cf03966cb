// A formula as the instrument plays it: the input gives six settings, the mod wheel, four
// notes at their frames and the formula's text. Each voice's loop of machine code, the
// fast form a column at a time and the formula called sample by sample must play the
// same samples: in Mono with glide and in Poly, with Lerp and Clamp on and off, at any
// gain and time scale, with notes starting and ending within the block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/instrument.h"
#include "engine/random.h"
#include "engine/render_loop.h"
#include "tests/instrument_probe.h"

namespace {

constexpr size_t kSettingBytes = 6 * 2, kNoteBytes = 4 * 3, kHead = kSettingBytes + 1 + kNoteBytes;
constexpr int32_t kBlock = 256;

enum Take { kMachineLoop, kColumns, kSampleBySample };

std::vector<float> play(const uint8_t* data, size_t size, Take take) {
    const auto instrument = std::make_unique<engine::Instrument>();
    engine::Instrument& synth = *instrument;
    synth.setSampleRate(44100.0);
    // Poly, Porta, Time, Gain, Lerp and Clamp, each from two bytes; out of range, the
    // nearest end, as a host's value would be.
    for (int s = 0; s < 6; ++s)
        synth.setSetting(static_cast<engine::Setting>(s), static_cast<int16_t>(data[2 * s] << 8 | data[2 * s + 1]));
    {
        std::lock_guard<std::mutex> hold(synth.bankLock());
        synth.storeFormula(0, reinterpret_cast<const char*>(data + kHead), size - kHead);
        if (synth.compileDirtyPrograms()) return {};
    }
    inside(synth).random = random15::Generator(11);
    synth.queueMidi(0xB0, 1, data[kSettingBytes] & 127, 0);
    const uint8_t* notes = data + kSettingBytes + 1;
    for (int n = 0; n < 4; ++n)  // a velocity of 0 ends the note
        synth.queueMidi(0x90, notes[3 * n] & 127, notes[3 * n + 1] & 127, notes[3 * n + 2]);
    std::vector<float> left(2 * kBlock);
    for (int block = 0; block < 2; ++block) {
        float* out = left.data() + block * kBlock;
        if (block == 1)  // the first two notes again in the second block, where the others sound
            for (int n = 0; n < 2; ++n) synth.queueMidi(0x90, notes[3 * n] & 127, 100, notes[3 * n + 2] / 2);
        if (take == kMachineLoop)
            synth.render(out, nullptr, kBlock);
        else if (take == kColumns)
            synth.renderWith(out, nullptr, kBlock, engine::FastFormOnly{});
        else
            synth.renderWith(out, nullptr, kBlock,
                             [](CompiledExpression& code, int32_t) { return runExpression(code); });
    }
    return left;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHead) return 0;
    const std::vector<float> expected = play(data, size, kSampleBySample);
    for (Take take : {kMachineLoop, kColumns})
        if (play(data, size, take) != expected) std::abort();
    return 0;
}
