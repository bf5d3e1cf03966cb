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

    std::unique_ptr<engine::Instrument> instrument = std::make_unique<engine::Instrument>();
    LV2_URID midiEvent = 0, chunk = 0, stateKey = 0, controlsKey = 0;
    const LV2_Atom_Sequence* midi = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    const float* controls[kControlCount]{};
    // What the ports held when last acted on; kept in the state, so that a host that sets
    // the saved port values before a restore does not undo what the state holds.
    std::atomic<int32_t> lastControls[kControlCount]{};

    // [audio thread] Queues the controls that moved, at the block's start.
    void controlChanges();
    // [audio thread] One block: the controls, the MIDI at its frames, the render.
    void run(uint32_t frames);
};

}  // namespace lv2adapter
