// The VST3 plug-in: one object that is the component, its audio processor and its edit
// controller at once (a host that asks the component for its controller's class is told
// there is none and takes the component's own), around one instrument. The settings of
// the instrument's table and the program are parameters; the controllers VST3 carries no
// events for (the mod wheel, pitch bend, the RPN messages that set the bend range, all
// notes off) are hidden parameters of each channel that hosts map MIDI to; the programs
// are one unit's program list; the state is the VST 2.4 chunk with the Gain and the current program added; the
// editor's view tells the host of the user's edits through the component handler.
//
// Objects follow the VST3 binary convention: each interface is a pointer to a table of
// functions whose first argument is the address of that pointer, and the object counts
// its references. Threads, as VST3 tags them: `process` on the audio thread, everything
// else on the host's main thread.
#pragma once

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/unit.h>

#include <atomic>
#include <memory>

#include "../editor/editor_view.h"
#include "../engine/instrument.h"
#include "../plugin/edit_gestures.h"
#include "note_expression.h"

namespace vst3adapter {

// The plug-in's class.
extern const v3_tuid kClassId;

class Plugin final : plugin::EditGestures::Host {
public:
    Plugin();
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // The interface `iid`, its reference counted, or null.
    void* query(const v3_tuid iid);
    uint32_t ref() { return ++references_; }
    uint32_t unref();

    // Parameter ids: those of plugin/parameters.h, then the hidden controllers.
    static constexpr v3_param_id kFirstController = 1000;

private:
    // One interface: the pointer to its table, and the plug-in it belongs to.
    struct Face {
        const void* table;
        Plugin* plugin;
    };
    static Plugin& of(void* self) { return *static_cast<Face*>(self)->plugin; }
    static const v3_component_cpp kComponent;
    static const v3_audio_processor_cpp kProcessor;
    static const v3_edit_controller_cpp kController;
    static const v3_unit_information_cpp kUnits;
    static const v3_midi_mapping_cpp kMidiMapping;
    // The processor's answer of what it reads of the host's process context.
    struct ContextRequirementsTable {
        v3_funknown unknown;
        v3_process_context_requirements requirements;
    };
    static const ContextRequirementsTable kContextRequirements;
    // The expressions of a single note it reads: tuning and brightness (pressure comes as
    // polyphonic pressure events).
    static const NoteExpressionControllerTable kNoteExpressions;

    // The parameters: their count, and each one's plain range.
    static int32_t parameterCount();
    bool parameterInfo(int32_t index, v3_param_info& info) const;
    static bool rangeOf(v3_param_id id, int32_t& lowest, int32_t& highest);
    double normalised(v3_param_id id, double plain) const;
    double plain(v3_param_id id, double normalised) const;
    bool text(v3_param_id id, double normalised, v3_str_128 out) const;
    bool valueOfText(v3_param_id id, const int16_t* text, double& normalised) const;
    double currentNormalised(v3_param_id id) const;

    // [audio thread] A parameter's value at `frame` of the block: queued as an event, or
    // applied at once outside a block.
    void applyParameter(v3_param_id id, double normalised, int32_t frame, bool insideBlock);
    v3_result process(v3_process_data& data);

    // [ui thread] The editor's edits, told to the host.
    void beginEdit(plugin::ParameterId id) override;
    void performEdit(plugin::ParameterId id, int32_t value) override;
    void endEdit(plugin::ParameterId id) override;
    v3_plugin_view** createView(const char* name);

    v3_result readState(v3_bstream** stream);
    // [main thread] After a restore: tells the host to read the parameters' values and
    // the program list's names again.
    void tellHostOfNewBank();
    // [UI thread] Asks the host to restart for the oversampling's latency where it
    // changed since the host last read it (through a parameter, the editor or a state).
    void tellLatency();
    std::atomic<int32_t> reportedLatency_{0};
    v3_result writeState(v3_bstream** stream);

    Face component_{&kComponent, this};
    Face processor_{&kProcessor, this};
    Face controller_{&kController, this};
    Face units_{&kUnits, this};
    Face midiMapping_{&kMidiMapping, this};
    Face contextRequirements_{&kContextRequirements, this};
    Face noteExpressions_{&kNoteExpressions, this};
    std::atomic<uint32_t> references_{1};
    std::unique_ptr<engine::Instrument> instrument_;
    v3_funknown** hostContext_ = nullptr;
    v3_component_handler** handler_ = nullptr;
    plugin::EditGestures gestures_;
};

}  // namespace vst3adapter
