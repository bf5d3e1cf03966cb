// An instrument driven as the host's audio thread drives it: MIDI through processEvents,
// blocks through processReplacing, with a recording host answering 44,100 Hz.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/bytone.h"
#include "recording_host.h"

inline VstMidiEvent midiEvent(int status, int data1, int data2, int deltaFrames = 0) {
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

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        RecordingHost::reset();
        synth = std::make_unique<Bytone>(RecordingHost::callback);
    }

    void send(std::vector<VstMidiEvent> events) {
        EventBlock block(std::move(events));
        EXPECT_EQ(synth->processEvents(block.get()), 1);
    }
    void send(int status, int data1, int data2, int deltaFrames = 0) {
        send({midiEvent(status, data1, data2, deltaFrames)});
    }

    // Renders one block and returns output 0, checking that output 1 is the same.
    std::vector<float> render(int frames) {
        std::vector<float> left(frames, -9.0f), right(frames, -9.0f);
        float* outputs[2] = {left.data(), right.data()};
        synth->processReplacing(nullptr, outputs, frames);
        EXPECT_EQ(left, right);
        return left;
    }

    void setFormula(int program, const char* formula) {
        std::strcpy(synth->programs[program].formula, formula);
        synth->programs[program].needsCompile = true;
        std::lock_guard<std::mutex> hold(synth->bankLock);
        ASSERT_EQ(synth->compileDirtyPrograms(), nullptr) << formula;
    }

    std::unique_ptr<Bytone> synth;
};
