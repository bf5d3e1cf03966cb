// MIDI events as a VST 2.4 host hands them to the plug-in's processEvents.
#pragma once

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
