// What the editor tests in real windows share: a host callback and the view of the state
// chunk through which they read what the editor changed.
#pragma once

#include <string>
#include <vector>

#include "host/aeffect.h"

inline VstIntPtr VSTCALLBACK editorHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return kVstVersion;
    if (opcode == audioMasterGetSampleRate) return 44100;
    return 0;
}

// The settings and program 0's formula and drum key, read from the state chunk.
struct ChunkView {
    std::vector<float> floats;
    enum Setting { Polyphony, Portamento, TimeScale, Interpolate, Clamp, Zoom };
    int setting(int s) const { return static_cast<int>(floats[2 + 2 * s]); }
    std::string formula0() const {
        std::string text;
        for (size_t i = formulaStart(); floats[i] != 0.0f; ++i) text += static_cast<char>(floats[i]);
        return text;
    }
    int drumKey0() const {
        size_t i = formulaStart();
        while (floats[i] != 0.0f) ++i;
        return static_cast<int>(floats[i + 2]);  // past the zero and the drum key's tag
    }

private:
    size_t formulaStart() const {
        size_t i = 16;  // past the settings, the index and the name tag
        while (floats[i] != 0.0f) ++i;
        return i + 2;  // past the name's zero and the formula's tag
    }
};
