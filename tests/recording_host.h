// A host callback that answers like a plain VST 2.4 host and records every call, for
// tests that check what the plug-in asks of its host.
#pragma once

#include <vector>

#include "host/aeffect.h"

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
};

struct RecordingHost {
    static inline std::vector<HostCall> calls;
    static inline VstIntPtr version = 2400;
    static inline VstIntPtr sampleRate = 44100;

    static void reset() {
        calls.clear();
        version = 2400;
        sampleRate = 44100;
    }

    static int count(VstInt32 opcode) {
        int n = 0;
        for (const HostCall& call : calls) n += call.opcode == opcode;
        return n;
    }

    static VstIntPtr VSTCALLBACK callback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void*, float) {
        calls.push_back({opcode, index, value});
        switch (opcode) {
            case audioMasterVersion: return version;
            case audioMasterGetSampleRate: return sampleRate;
            default: return 0;
        }
    }
};
