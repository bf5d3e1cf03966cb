// Renders each of the 38 presets over ten seconds of one fixed MIDI sequence through the
// plug-in binary, as a host would, and writes the samples as raw 32-bit floats. Built
// for Linux and for Windows; `make test` compares the two files sample for sample.
#include <cstdio>
#include <vector>

#include "plugin_loader.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr int kSeconds = 10;
constexpr int kPresets = 38;

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return kVstVersion;
    if (opcode == audioMasterGetSampleRate) return kRate;
    return 0;
}

struct TimedMessage {
    double seconds;
    int status, data1, data2;
};

// Chords, a glide of held notes, a bend, the wheel, short melody notes and drums.
std::vector<TimedMessage> sequence() {
    std::vector<TimedMessage> messages = {
        {0.0, 0x90, 60, 100}, {0.5, 0x90, 64, 80}, {1.0, 0x90, 67, 60}, {2.0, 0x80, 60, 0},
        {2.5, 0xE0, 0, 96},   {3.0, 0xB0, 1, 64},  {3.5, 0xE0, 0, 32},  {4.0, 0xB0, 123, 0},
        {4.0, 0xE0, 0, 64},   {9.0, 0xB0, 1, 127}, {9.5, 0xB0, 123, 0},
    };
    for (int i = 0; i < 36; ++i) {
        const double t = 4.25 + i * 0.125;
        const int key = 48 + (i * 7) % 36;
        messages.push_back({t, 0x90, key, 20 + i * 3});
        messages.push_back({t + 0.1, 0x80, key, 0});
        if (i % 4 == 0) messages.push_back({t, 0x99, 36 + i % 12, 127});
    }
    return messages;
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
            std::vector<VstMidiEvent> events;
            for (const TimedMessage& m : messages) {
                const long frame = static_cast<long>(m.seconds * kRate) - start;
                if (frame < 0 || frame >= kBlock) continue;
                VstMidiEvent e{};
                e.type = kVstMidiType;
                e.byteSize = sizeof e;
                e.deltaFrames = static_cast<VstInt32>(frame);
                e.midiData[0] = static_cast<char>(m.status);
                e.midiData[1] = static_cast<char>(m.data1);
                e.midiData[2] = static_cast<char>(m.data2);
                events.push_back(e);
            }
            std::vector<unsigned char> storage(sizeof(VstEvents) + events.size() * sizeof(VstEvent*));
            auto* block = reinterpret_cast<VstEvents*>(storage.data());
            block->numEvents = static_cast<VstInt32>(events.size());
            VstEvent** list = block->events;  // room for every event follows the header
            for (size_t i = 0; i < events.size(); ++i) list[i] = reinterpret_cast<VstEvent*>(&events[i]);
            effect->dispatcher(effect, effProcessEvents, 0, 0, block, 0.0f);
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            std::fwrite(left.data(), sizeof(float), kBlock, out);
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return std::fclose(out) == 0 ? 0 : 1;
}
