// Renders each of the 38 presets over ten seconds of one fixed MIDI sequence through the
// plug-in binary, as a host would, and writes the samples as raw 32-bit floats. Built
// for Linux and for Windows; `make test` compares the two files sample for sample.
#include <cstdio>
#include <vector>

#include "plugin_loader.h"
#include "preset_sequence.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr int kSeconds = 10;

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return kVstVersion;
    if (opcode == audioMasterGetSampleRate) return kRate;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: preset_render OUTPUT\n");
        return 2;
    }
    PluginLibrary library(BYTONE_PLUGIN_PATH);
    PluginEntry entry = library.entry("VSTPluginMain");
    AEffect* effect = entry ? entry(hostCallback) : nullptr;
    if (!effect) {
        std::fprintf(stderr, "cannot load %s: %s\n", BYTONE_PLUGIN_PATH, library.error().c_str());
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    const std::vector<TimedMessage> messages = sequence();
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    for (int preset = 0; preset < kPresets; ++preset) {
        effect->dispatcher(effect, effSetProgram, 0, preset, nullptr, 0.0f);
        effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f);
        for (long start = 0; start < static_cast<long>(kRate) * kSeconds; start += kBlock) {
            EventBlock block(blockEvents(messages, kRate, start, kBlock));
            effect->dispatcher(effect, effProcessEvents, 0, 0, block.get(), 0.0f);
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            std::fwrite(left.data(), sizeof(float), kBlock, out);
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return std::fclose(out) == 0 ? 0 : 1;
}
