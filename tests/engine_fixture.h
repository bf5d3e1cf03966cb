// The instrument driven directly, as a plug-in adapter's audio thread drives it: MIDI
// messages queued at their frames, blocks rendered at 44,100 Hz, display changes counted.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/instrument.h"
#include "instrument_probe.h"

// The engine's types as its tests name them.
using engine::Event;
using engine::EventKind;
using engine::kEventCapacity;
using engine::Voice;

struct Midi {
    int status, data1, data2, frame;
};
inline Midi midiEvent(int status, int data1, int data2, int frame = 0) { return {status, data1, data2, frame}; }

struct DisplayCounter : engine::DisplayListener {
    void displayChanged() override { ++count; }
    int count = 0;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        synth = std::make_unique<engine::Instrument>(language);
        synth->setDisplayListener(&display);
        synth->setSampleRate(44100.0);
    }

    void send(const std::vector<Midi>& events) {
        for (const Midi& e : events) EXPECT_TRUE(synth->queueMidi(e.status, e.data1, e.data2, e.frame));
    }
    void send(int status, int data1, int data2, int frame = 0) { send({midiEvent(status, data1, data2, frame)}); }

    // Renders one block and returns output 0, checking that output 1 is the same.
    std::vector<float> render(int frames) {
        std::vector<float> left(frames, -9.0f), right(frames, -9.0f);
        synth->render(left.data(), right.data(), frames);
        EXPECT_EQ(left, right);
        return left;
    }

    // The queued events of the coming block.
    std::vector<Event> queued() const { return {synth->queuedEvents(), synth->queuedEvents() + synth->queuedCount()}; }

    void setFormula(int program, const char* formula) {
        std::strcpy(inside(*synth).programs[program].formula, formula);
        inside(*synth).programs[program].needsCompile = true;
        std::lock_guard<std::mutex> hold(synth->bankLock());
        ASSERT_EQ(synth->compileDirtyPrograms(), nullptr) << formula;
    }

    Language language = Language::Classic;
    std::unique_ptr<engine::Instrument> synth;
    DisplayCounter display;
};
