// A host session: the input is read as a sequence of dispatcher calls (every opcode from
// 0 to 80 with arguments of the shapes the interface gives them), MIDI event blocks
// (every status byte, odd sizes, frames outside the block, other event types) and
// processReplacing calls of any size. Every sample must be finite and within -1..1.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/aeffect.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 48000 : 0;
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t int32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return static_cast<int32_t>(v);
    }
    // A few bytes as a zero-terminated text.
    std::vector<char> text() {
        std::vector<char> t(byte() % 48);
        for (char& c : t) c = static_cast<char>(byte());
        t.push_back('\0');
        return t;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void dispatcherCall(AEffect* effect, Input& in) {
    const VstInt32 opcode = in.byte() % 81;
    if (opcode == effClose) return;  // the session owns the instance to its end
    const VstInt32 index = in.byte() % 4 == 0 ? in.int32() : in.byte();
    const VstIntPtr value = in.byte() % 4 == 0 ? in.int32() : in.byte();
    const float opt = static_cast<float>(in.int32()) / 65536.0f;
    char buffer[512];
    std::memset(buffer, 0, sizeof buffer);
    void* pointers[2] = {buffer, buffer};
    switch (opcode) {
        case effSetProgramName:
        case effCanDo: {
            std::vector<char> text = in.text();
            effect->dispatcher(effect, opcode, index, value, text.data(), opt);
            return;
        }
        case effGetChunk:
        case effEditGetRect: effect->dispatcher(effect, opcode, index, value, pointers, opt); return;
        case effSetChunk: {
            std::vector<uint8_t> chunk(in.byte() * 4);
            for (uint8_t& b : chunk) b = in.byte();
            effect->dispatcher(effect, opcode, index, static_cast<VstIntPtr>(chunk.size()), chunk.data(), opt);
            return;
        }
        case effGetSpeakerArrangement:
            effect->dispatcher(effect, opcode, index, reinterpret_cast<VstIntPtr>(&pointers[0]), &pointers[1], opt);
            return;
        case effProcessEvents: return;  // MIDI comes through the event blocks below
        case effEditOpen: effect->dispatcher(effect, opcode, index, value, nullptr, opt); return;
        default:
            // Text answers and everything else: a generous buffer.
            effect->dispatcher(effect, opcode, index, value, buffer, opt);
    }
}

void eventBlock(AEffect* effect, Input& in) {
    const int count = in.byte() % 24;
    std::vector<VstMidiEvent> events(static_cast<size_t>(count));
    std::vector<unsigned char> storage(sizeof(VstEvents) + static_cast<size_t>(count) * sizeof(VstEvent*));
    auto* block = reinterpret_cast<VstEvents*>(storage.data());
    block->numEvents = in.byte() % 16 == 0 ? -count : count;
    VstEvent** list = block->events;  // room for every event follows the header
    for (int i = 0; i < count; ++i) {
        VstMidiEvent& e = events[static_cast<size_t>(i)];
        e.type = in.byte() % 8 == 0 ? static_cast<VstInt32>(in.byte()) : static_cast<VstInt32>(kVstMidiType);
        e.byteSize = in.byte();
        e.deltaFrames = in.byte() % 8 == 0 ? in.int32() : in.byte() * 8;
        for (char& b : e.midiData) b = static_cast<char>(in.byte());
        list[i] = in.byte() % 32 == 0 ? nullptr : reinterpret_cast<VstEvent*>(&e);
    }
    effect->dispatcher(effect, effProcessEvents, 0, 0, block, 0.0f);
}

void render(AEffect* effect, Input& in) {
    // Sizes from -16 to 2024 frames; mostly short, so that a session holds many blocks.
    const int size = in.byte();
    const int frames = size < 240 ? size - 16 : (size - 239) * 128;
    static float left[2048], right[2048];
    float* outputs[2] = {left, right};
    const bool noOutputs = in.byte() % 16 == 0;
    effect->processReplacing(effect, nullptr, noOutputs ? nullptr : outputs, frames);
    if (noOutputs) return;
    for (int k = 0; k < frames; ++k)
        if (!(left[k] >= -1.0f && left[k] <= 1.0f) || left[k] != right[k]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AEffect* effect = VSTPluginMain(host);
    Input in(data, size);
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.byte() % 3) {
            case 0: dispatcherCall(effect, in); break;
            case 1: eventBlock(effect, in); break;
            default: render(effect, in); break;
        }
    }
    // Leave the instrument quiet for the next input.
    VstMidiEvent off{};
    off.type = kVstMidiType;
    off.midiData[0] = static_cast<char>(0xB0);
    off.midiData[1] = 123;
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&off);
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    effect->processReplacing(effect, nullptr, nullptr, 1);
    return 0;
}
