// State chunk: any bytes of any size through effSetChunk, then effGetChunk; a block
// renders within full scale, and a second save and restore gives the same chunk.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host/bytone.h"

namespace {

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 44100 : 0;
}

std::vector<uint8_t> save(AEffect* effect) {
    void* data = nullptr;
    const VstIntPtr size = effect->dispatcher(effect, effGetChunk, 0, 0, &data, 0.0f);
    if (size < 0 || (size > 0 && !data)) std::abort();
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Bytone* synth = new Bytone(host);
    AEffect* effect = synth->getAeffect();

    // Exactly the received bytes on the heap, so that a read past them is caught.
    std::unique_ptr<uint8_t[]> block(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(block.get(), data, size);
    effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(size), block.get(), 0.0f);

    std::vector<uint8_t> first = save(effect);
    effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(first.size()), first.data(), 0.0f);
    if (save(effect) != first) std::abort();

    VstMidiEvent note{};
    note.type = kVstMidiType;
    note.byteSize = sizeof note;
    note.midiData[0] = static_cast<char>(0x90);
    note.midiData[1] = 60;
    note.midiData[2] = 100;
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&note);
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    float left[64], right[64];
    float* outputs[2] = {left, right};
    effect->processReplacing(effect, nullptr, outputs, 64);
    for (float sample : left)
        if (!(sample >= -1.0f && sample <= 1.0f)) std::abort();
    synth->instrument().allNotesOff();
    return 0;
}
