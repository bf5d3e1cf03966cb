// The CLAP plug-in: an adapter that owns one instrument and answers a CLAP host with it.
// The settings of the instrument's table and the current program are parameters; notes
// come as CLAP note events or MIDI; the state is the VST 2.4 chunk with the Gain and the current program added;
// the editor opens inside the host's window and tells the host of the user's edits.
//
// Threads, as CLAP tags them: `process` and `reset` on the audio thread, `flush` on the
// audio thread while active and on the main thread otherwise, everything else on the
// main thread. Parameter values reach the instrument as events at their frames inside a
// block, or at once through `flush` when the host is not processing. The editor's edits
// go back to the host as events of the next `process` or `flush`.
#pragma once

#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin.h>

#include <atomic>
#include <memory>

#include "../engine/instrument.h"
#include "../plugin/edit_gestures.h"
#include "editor_gui.h"
#include "parameter_edits.h"

namespace clapadapter {

extern const clap_plugin_descriptor_t kDescriptor;

class Plugin final : plugin::EditGestures::Host {
public:
    explicit Plugin(const clap_host_t* host);
    const clap_plugin_t* clapPlugin() const { return &plugin_; }

private:
    static Plugin& of(const clap_plugin_t* plugin) { return *static_cast<Plugin*>(plugin->plugin_data); }

    // clap_plugin
    bool activate(double sampleRate);
    clap_process_status process(const clap_process_t* process);
    const void* extension(const char* id) const;
    static const clap_plugin_audio_ports_t kAudioPorts;
    static const clap_plugin_note_ports_t kNotePorts;
    static const clap_plugin_params_t kParams;
    static const clap_plugin_gui_t kGui;
    static const clap_plugin_timer_support_t kTimers;
    static const clap_plugin_state_t kState;
    static const clap_plugin_latency_t kLatency;

    // The oversampling's latency: reported as it was at activation, and a change told to
    // the host, which restarts an active plug-in for it. [any thread]
    void tellLatency();
    std::atomic<bool> active_{false};
    std::atomic<int32_t> activeLatency_{0};
    std::atomic<bool> restartAsked_{false};

    // The host's events: inside a block queued at their frames; outside one (flush) the
    // parameter values take effect at once.
    void take(const clap_input_events_t* events, bool insideBlock);

    // clap.params: the parameters of plugin/parameters.h, under their ids.
    bool parameterInfo(uint32_t index, clap_param_info_t* info) const;
    bool parameterValue(clap_id id, double* value) const;
    bool valueToText(clap_id id, double value, char* text, uint32_t size) const;
    bool textToValue(clap_id id, const char* text, double* value) const;

    // clap.state
    bool save(const clap_ostream_t* stream);
    bool load(const clap_istream_t* stream);

    // [main thread] The editor's edits, queued for the host, which is asked for a flush.
    void beginEdit(plugin::ParameterId id) override;
    void performEdit(plugin::ParameterId id, int32_t value) override;
    void endEdit(plugin::ParameterId id) override;
    void addEdit(ParameterEdits::Kind kind, clap_id id, double value = 0);

    const clap_host_t* host_;
    clap_plugin_t plugin_;
    std::unique_ptr<engine::Instrument> instrument_;
    ParameterEdits edits_;
    plugin::EditGestures gestures_;
    EditorGui gui_;  // after the instrument, which it shows
};

}  // namespace clapadapter
