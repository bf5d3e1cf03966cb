// A CLAP host for one instance of bytone.clap: loads the binary, creates the plug-in,
// and drives its processing with MIDI and the song's transport as CLAP events; the state
// through its state extension, the program through its Program parameter.
#pragma once

#include <clap/plugin.h>

#include <string>
#include <vector>

#include "instrument_host.h"
#include "plugin_loader.h"

class ClapInstrument final : public InstrumentHost {
public:
    // Loads `path` and creates an instance of Bytone running at `sampleRate`; on failure
    // `error()` says why.
    ClapInstrument(const std::string& path, double sampleRate);
    ~ClapInstrument() override;
    ClapInstrument(const ClapInstrument&) = delete;
    ClapInstrument& operator=(const ClapInstrument&) = delete;

    bool ready() const { return plugin_ != nullptr; }
    const std::string& error() const { return error_; }

    void start(int32_t maxBlockSize) override;
    int32_t latency() const override;
    void process(const std::vector<BlockEvent>& events, const std::vector<BlockTransport>& transport, float* left,
                 float* right, int32_t frames) override;
    std::vector<uint8_t> chunk() const override;
    void setChunk(std::vector<uint8_t> chunk) const override;
    PluginIdentity identity() const override { return kBytoneIdentity; }
    int32_t program() const override;
    void setProgram(int32_t program) override;
    std::string programName() const override;

private:
    // A parameter's new value, handed over outside processing.
    void setParameter(clap_id id, double value) const;

    PluginLibrary library_;
    const struct clap_plugin_entry* entry_ = nullptr;
    const clap_plugin_t* plugin_ = nullptr;
    double sampleRate_;
    bool active_ = false;
    std::string error_;
    std::vector<uint8_t> events_;  // the block's events, each 8-byte aligned
    std::vector<uint32_t> offsets_;
};
