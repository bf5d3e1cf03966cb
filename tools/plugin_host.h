// A VST 2.4 host for one plug-in instance: loads the binary, calls its entry point with
// a host callback, and drives the dispatcher and processReplacing. The callback answers
// as a plain host: the VST version, the sample rate, MIDI wanted, display updates
// accepted.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "instrument_host.h"
#include "plugin_loader.h"

class PluginHost final : public InstrumentHost {
public:
    // Loads `path` and creates an instance running at `sampleRate`; on failure
    // `error()` says why.
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

    // Switches processing on: sample rate, block size, then resume.
    void start(int32_t maxBlockSize) override;
    int32_t latency() const override { return std::clamp<int32_t>(effect_->initialDelay, 0, 1 << 20); }
    // Hands the block's events to the plug-in, then renders `frames` frames into two
    // channels of at least that length.
    void process(const std::vector<BlockEvent>& events, float* left, float* right, int32_t frames);
    void process(const std::vector<BlockEvent>& events, const std::vector<BlockTransport>&, float* left, float* right,
                 int32_t frames) override {
        process(events, left, right, frames);
    }

    // The plug-in's state chunk (empty if it keeps none), and a restore of one.
    bool keepsChunk() const override { return effect_->flags & effFlagsProgramChunks; }
    std::vector<uint8_t> chunk() const override;
    void setChunk(std::vector<uint8_t> chunk) const override;
    PluginIdentity identity() const override { return {effect_->uniqueID, effect_->version, effect_->numPrograms}; }
    int32_t program() const override { return static_cast<int32_t>(dispatch(effGetProgram)); }
    void setProgram(int32_t program) override { dispatch(effSetProgram, 0, program); }
    std::string programName() const override { return text(effGetProgramName); }

private:
    static VstIntPtr VSTCALLBACK callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt);

    PluginLibrary library_;
    AEffect* effect_ = nullptr;
    double sampleRate_;
    std::string error_;
    std::vector<VstMidiEvent> midi_;
    std::vector<unsigned char> eventBlock_;
};
