// An instance of the LV2 plug-in, as its descriptor's functions and, through the host's
// instance-access feature, its editor see it: the instrument and the ports.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "../engine/instrument.h"
#include "../plugin/parameters.h"
#include "ports.h"

namespace lv2adapter {

struct Plugin {
    static constexpr int kControlCount = plugin::kParameterCount;  // a port each, in the layer's order

    std::unique_ptr<engine::Instrument> instrument = std::make_unique<engine::Instrument>(Language::Extended);
    LV2_URID midiEvent = 0, chunk = 0, stateKey = 0, controlsKey = 0;
    // The host's transport, as time:Position objects on the MIDI input.
    struct TimeUrids {
        LV2_URID object, blank, position, bar, barBeat, beat, beatUnit, beatsPerBar, beatsPerMinute, speed, frame;
        LV2_URID atomInt, atomLong, atomFloat, atomDouble;
    } time{};
    // [audio thread] What the host last said: a Position may give only what changed.
    struct Meter {
        double beatUnit = 4.0, beatsPerBar = 4.0;
        bool playing = false;
    } meter;
    const LV2_Atom_Sequence* midi = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    float* latency = nullptr;  // the oversampling's delay in samples, as run last wrote it
    const float* controls[kControlCount]{};
    // What the ports held when last acted on; kept in the state, so that a host that sets
    // the saved port values before a restore does not undo what the state holds.
    std::atomic<int32_t> lastControls[kControlCount]{};

    // [audio thread] Queues the controls that moved, at the block's start.
    void controlChanges();
    // [audio thread] One block: the controls, the MIDI and the transport at their frames,
    // the render.
    void run(uint32_t frames);
    // [audio thread] A time:Position object's body at `frame`.
    void position(const LV2_Atom_Object* object, int32_t frame);
    bool numberOf(const LV2_Atom* atom, double& value) const;
};

}  // namespace lv2adapter
