// MIDI events as a VST 2.4 host hands them to the plug-in's processEvents.
#pragma once

#include <cstdint>
#include <vector>

#include "host/aeffect.h"

inline VstMidiEvent vstMidiEvent(int status, int data1, int data2, int deltaFrames = 0) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    return event;
}

// A VstEvents block of any length, laid out as hosts do (pointers after the header).
class EventBlock {
public:
    explicit EventBlock(std::vector<VstMidiEvent> events) : events_(std::move(events)) {
        storage_.resize(sizeof(VstEvents) + events_.size() * sizeof(VstEvent*));
        block_ = reinterpret_cast<VstEvents*>(storage_.data());
        block_->numEvents = static_cast<VstInt32>(events_.size());
        VstEvent** list = block_->events;  // room for every event follows the header
        for (size_t i = 0; i < events_.size(); ++i) list[i] = reinterpret_cast<VstEvent*>(&events_[i]);
    }
    VstEvents* get() { return block_; }

private:
    std::vector<VstMidiEvent> events_;
    std::vector<unsigned char> storage_;
    VstEvents* block_;
};

// The chunk a VST 2.4 instance of `entry` saves after loading `state`: what the other
// formats' states come to when a bank passes through the VST 2.4 plug-in.
inline std::vector<uint8_t> throughVst24(AEffect* (*entry)(audioMasterCallback), const std::vector<uint8_t>& state) {
    AEffect* effect = entry([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
        return opcode == audioMasterVersion ? 2400 : 0;
    });
    effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(state.size()), const_cast<uint8_t*>(state.data()),
                       0.0f);
    void* chunk = nullptr;
    const auto size = static_cast<size_t>(effect->dispatcher(effect, effGetChunk, 0, 0, &chunk, 0.0f));
    std::vector<uint8_t> saved(static_cast<uint8_t*>(chunk), static_cast<uint8_t*>(chunk) + size);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return saved;
}
