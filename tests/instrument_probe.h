// The whole state of an instrument, as the engine's tests, benchmarks and fuzz targets
// read and set it directly: `inside(instrument).voices[0]`.
#pragma once

#include "engine/instrument.h"

namespace engine {

struct InstrumentProbe {
    explicit InstrumentProbe(Instrument& i)
        : currentProgram(i.currentProgram),
          lastSeenProgram(i.lastSeenProgram),
          polyphony(i.polyphony),
          portamento(i.portamento),
          timeScale(i.timeScale),
          gain(i.gain),
          interpolate(i.interpolate),
          clampOutput(i.clampOutput),
          scopeZoom(i.scopeZoom),
          programs(i.programs),
          heldKeys(i.heldKeys),
          pitchBend(i.pitchBend),
          bendRange(i.bendRange),
          modWheel(i.modWheel),
          voices(i.voices),
          glideRate(i.glideRate),
          displayDirty(i.displayDirty),
          random(i.random_),
          instrument(i) {}

    std::atomic<int32_t>& currentProgram;
    std::atomic<int32_t>& lastSeenProgram;
    std::atomic<int32_t>& polyphony;
    std::atomic<int32_t>& portamento;
    std::atomic<int32_t>& timeScale;
    std::atomic<int32_t>& gain;
    std::atomic<int32_t>& interpolate;
    std::atomic<int32_t>& clampOutput;
    std::atomic<int32_t>& scopeZoom;
    ProgramSlot (&programs)[kNumPrograms];
    uint8_t (&heldKeys)[128];
    double& pitchBend;
    double& bendRange;
    int64_t& modWheel;
    Voice (&voices)[kNumVoices];
    double& glideRate;
    std::atomic<bool>& displayDirty;
    random15::Generator& random;  // the voices' R

    // [audio thread] Voice allocation, as queued note events fire it.
    void noteOn(const Event& event) { instrument.noteOn(event); }
    void noteOff(const Event& event) { instrument.noteOff(event); }

private:
    Instrument& instrument;
};

}  // namespace engine

inline engine::InstrumentProbe inside(engine::Instrument& instrument) { return engine::InstrumentProbe(instrument); }
