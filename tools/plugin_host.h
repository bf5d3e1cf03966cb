// A VST 2.4 host for one plug-in instance: loads the binary, calls its entry point with
// a host callback, and wraps the dispatcher. The callback answers as a plain host: the
// VST version, the sample rate, MIDI wanted, display updates accepted.
#pragma once

#include <string>

#include "plugin_loader.h"

class PluginHost {
public:
    // Loads `path` and creates an instance; on failure `error()` says why.
    explicit PluginHost(const std::string& path, double sampleRate = 48000.0);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    bool ready() const { return effect_ != nullptr; }
    const std::string& error() const { return error_; }
    AEffect* effect() const { return effect_; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;
    // A text answer of the plug-in (names, vendor, product), read into a generous buffer.
    std::string text(VstInt32 opcode, VstInt32 index = 0) const;

private:
    static VstIntPtr VSTCALLBACK callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt);

    PluginLibrary library_;
    AEffect* effect_ = nullptr;
    double sampleRate_;
    std::string error_;
};
