// What the renderer and the render command ask of the instrument they host, whichever
// plug-in format carries it: a VST 2.4 plug-in (plugin_host.h) or bytone.clap
// (clap_instrument.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/song_position.h"
#include "state_file.h"

// One MIDI channel message at a frame of the coming block.
struct BlockEvent {
    int32_t deltaFrames;
    uint8_t status, data1, data2;
};

// What the song's transport says at a frame of the coming block.
struct BlockTransport {
    int32_t deltaFrames;
    engine::TransportReport report;
};

class InstrumentHost {
public:
    virtual ~InstrumentHost() = default;

    // Switches processing on.
    virtual void start(int32_t maxBlockSize) = 0;
    // The frames by which its sound lags its events once started, as it reports them.
    virtual int32_t latency() const = 0;
    // Hands the block's events and transport (the first at frame 0) to the plug-in, then
    // renders `frames` frames into two channels of at least that length. A VST 2.4
    // plug-in is given no transport.
    virtual void process(const std::vector<BlockEvent>& events, const std::vector<BlockTransport>& transport,
                         float* left, float* right, int32_t frames) = 0;

    // The plug-in's state (empty if it keeps none), and a restore of one; who it is in
    // state files.
    virtual bool keepsChunk() const { return true; }
    virtual std::vector<uint8_t> chunk() const = 0;
    virtual void setChunk(std::vector<uint8_t> chunk) const = 0;
    virtual PluginIdentity identity() const = 0;
    // The current program, a change of it, and its name.
    virtual int32_t program() const = 0;
    virtual void setProgram(int32_t program) = 0;
    virtual std::string programName() const = 0;
};
