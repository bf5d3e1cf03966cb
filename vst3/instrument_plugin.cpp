#include "instrument_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "../plugin/state_stream.h"
#include "plug_view.h"
#include "unit_handler.h"

namespace vst3adapter {

// Made once for this plug-in; a host tells plug-ins apart by it.
const v3_tuid kClassId = V3_ID(0x6279746F, 0x6E65B3A1, 0x9D5C4E27, 0x8A41F06B);

namespace {

// The controllers that come as hidden parameters, per channel, in blocks: the mod wheel,
// the RPN data entry and selection (which set the bend range), all notes off, and pitch
// bend, which VST3's MIDI mapping numbers 129; then each channel's pressure (128) and
// controller 74, which the words pressure and timbre read; then the sustain pedal, all
// sound off and the reset of the controllers. Their ids follow this order, and hosts keep
// them in their sessions: a new block comes after the others.
constexpr int16_t kPitchBend = 129;
constexpr int16_t kChannelPressure = 128;
constexpr int16_t kMappedControllers[] = {1, 6, 38, 100, 101, 123, kPitchBend};
constexpr int16_t kExpressionControllers[] = {kChannelPressure, 74};
constexpr int16_t kPedalControllers[] = {64, 120, 121};
struct ControllerBlock {
    const int16_t* controllers;
    int count;  // per channel
};
constexpr ControllerBlock kControllerBlocks[] = {{kMappedControllers, std::size(kMappedControllers)},
                                                 {kExpressionControllers, std::size(kExpressionControllers)},
                                                 {kPedalControllers, std::size(kPedalControllers)}};
constexpr int kChannels = 16;
constexpr int kHiddenCount =
    kChannels * (std::size(kMappedControllers) + std::size(kExpressionControllers) + std::size(kPedalControllers));

// The channel and controller of hidden parameter `index` (0 to kHiddenCount - 1).
void controllerAt(int index, int& channel, int16_t& controller) {
    for (const ControllerBlock& block : kControllerBlocks) {
        if (index < kChannels * block.count) {
            channel = index / block.count;
            controller = block.controllers[index % block.count];
            return;
        }
        index -= kChannels * block.count;
    }
}
// The hidden parameter of a channel's controller; -1 for a controller it does not read.
int hiddenIndexOf(int channel, int16_t controller) {
    int first = 0;
    for (const ControllerBlock& block : kControllerBlocks) {
        for (int i = 0; i < block.count; ++i)
            if (block.controllers[i] == controller) return first + channel * block.count + i;
        first += kChannels * block.count;
    }
    return -1;
}

// What the host's process context says of its transport, in the instrument's terms.
engine::TransportReport reportOf(const v3_process_context& context) {
    engine::TransportReport report;
    report.playing = (context.state & V3_PROCESS_CTX_PLAYING) != 0;
    if (context.state & V3_PROCESS_CTX_TEMPO_VALID) {
        report.hasTempo = true;
        report.tempo = context.bpm;
    }
    if (context.state & V3_PROCESS_CTX_PROJECT_TIME_VALID) {
        report.hasPosition = true;
        report.quarterNotes = context.project_time_quarters;
    }
    report.hasSamples = true;  // always valid
    report.samples = context.project_time_in_samples;
    if (context.state & V3_PROCESS_CTX_BAR_POSITION_VALID) {
        report.hasBarStart = true;
        report.barStart = context.bar_position_quarters;
    }
    if (context.state & V3_PROCESS_CTX_TIME_SIG_VALID) {
        report.hasSignature = true;
        report.numerator = context.time_sig_numerator;
        report.denominator = context.time_sig_denom;
    }
    return report;
}
constexpr int kRootUnit = 0;
constexpr int kProgramList = 1;

void copyText(const std::string& text, v3_str_128 out) {
    size_t i = 0;
    for (; i < text.size() && i < 127; ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[i] = 0;
}

// A hidden controller parameter's channel and controller.
bool isController(v3_param_id id, int& channel, int16_t& controller) {
    if (id < Plugin::kFirstController || id >= Plugin::kFirstController + kHiddenCount) return false;
    controllerAt(static_cast<int>(id - Plugin::kFirstController), channel, controller);
    return true;
}

const char* controllerName(int16_t controller) {
    switch (controller) {
        case 1: return "Mod Wheel";
        case 6: return "Data Entry";
        case 38: return "Data Entry LSB";
        case 100: return "RPN LSB";
        case 101: return "RPN MSB";
        case 123: return "All Notes Off";
        case 64: return "Sustain";
        case 120: return "All Sound Off";
        case 121: return "Reset Controllers";
        case 74: return "Timbre";
        case kChannelPressure: return "Pressure";
        default: return "Pitch Bend";
    }
}

// A controller's value before any message moves it: the bend in the middle, the data
// entry at the instrument's own bend range (in the half semitones the RPN counts). Hosts
// that send every parameter's value again when they load a session then change nothing.
int32_t controllerDefault(int16_t controller) {
    if (controller == kPitchBend) return 8192;
    if (controller == 6) return static_cast<int32_t>(kDefaultBendRange * 2);
    return 0;
}

bool sameId(const v3_tuid a, const v3_tuid b) { return v3_tuid_match(a, b); }

}  // namespace

// The functions of each interface's table, in the tables' order.
const v3_component_cpp Plugin::kComponent = {
    {
        [](void* self, const v3_tuid iid, void** out) -> v3_result {
            *out = of(self).query(iid);
            return *out ? V3_OK : V3_NO_INTERFACE;
        },
        [](void* self) -> uint32_t { return of(self).ref(); },
        [](void* self) -> uint32_t { return of(self).unref(); },
    },
    {
        [](void* self, v3_funknown** context) -> v3_result {
            Plugin& plugin = of(self);
            if (plugin.hostContext_) return V3_FALSE;  // once only, though both faces have it
            if (context) (*context)->ref(context);
            plugin.hostContext_ = context;
            return V3_OK;
        },
        [](void* self) -> v3_result {
            Plugin& plugin = of(self);
            if (plugin.handler_) (*reinterpret_cast<v3_funknown**>(plugin.handler_))->unref(plugin.handler_);
            plugin.handler_ = nullptr;
            if (plugin.hostContext_) (*plugin.hostContext_)->unref(plugin.hostContext_);
            plugin.hostContext_ = nullptr;
            return V3_OK;
        },
    },
    {
        [](void*, v3_tuid) -> v3_result { return V3_NOT_IMPLEMENTED; },  // the controller is this object
        [](void*, int32_t) -> v3_result { return V3_OK; },
        [](void*, int32_t media, int32_t direction) -> int32_t {
            return (media == V3_AUDIO && direction == V3_OUTPUT) || (media == V3_EVENT && direction == V3_INPUT);
        },
        [](void*, int32_t media, int32_t direction, int32_t index, v3_bus_info* info) -> v3_result {
            if (!info || index != 0) return V3_INVALID_ARG;
            *info = v3_bus_info{};
            info->media_type = media;
            info->direction = direction;
            info->bus_type = V3_MAIN;
            info->flags = V3_DEFAULT_ACTIVE;
            if (media == V3_AUDIO && direction == V3_OUTPUT) {
                info->channel_count = 2;
                copyText("Output", info->bus_name);
            } else if (media == V3_EVENT && direction == V3_INPUT) {
                info->channel_count = kChannels;
                copyText("MIDI In", info->bus_name);
            } else {
                return V3_INVALID_ARG;
            }
            return V3_OK;
        },
        [](void*, v3_routing_info*, v3_routing_info*) -> v3_result { return V3_NOT_IMPLEMENTED; },
        [](void*, int32_t, int32_t, int32_t, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_bool active) -> v3_result {
            // The compilation a program change asked for happens here, on the main thread.
            if (active) {
                of(self).instrument_->syncProgramDisplay();
                of(self).instrument_->rewindSong();
            }
            return V3_OK;
        },
        [](void* self, v3_bstream** stream) { return of(self).readState(stream); },
        [](void* self, v3_bstream** stream) { return of(self).writeState(stream); },
    },
};

const v3_audio_processor_cpp Plugin::kProcessor = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    {
        [](void*, v3_speaker_arrangement*, int32_t inputs, v3_speaker_arrangement* outputs,
           int32_t outputCount) -> v3_result {
            const bool stereo =
                inputs == 0 && outputCount == 1 && outputs && outputs[0] == (V3_SPEAKER_L | V3_SPEAKER_R);
            return stereo ? V3_OK : V3_FALSE;
        },
        [](void*, int32_t direction, int32_t index, v3_speaker_arrangement* arrangement) -> v3_result {
            if (direction != V3_OUTPUT || index != 0 || !arrangement) return V3_INVALID_ARG;
            *arrangement = V3_SPEAKER_L | V3_SPEAKER_R;
            return V3_OK;
        },
        [](void*, int32_t size) -> v3_result { return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE; },
        [](void* self) -> uint32_t {
            of(self).reportedLatency_ = of(self).instrument_->latency();
            return static_cast<uint32_t>(of(self).reportedLatency_.load());
        },
        [](void* self, v3_process_setup* setup) -> v3_result {
            if (!setup || setup->symbolic_sample_size != V3_SAMPLE_32) return V3_FALSE;
            of(self).instrument_->setSampleRate(setup->sample_rate);
            return V3_OK;
        },
        [](void*, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_process_data* data) -> v3_result {
            return data ? of(self).process(*data) : static_cast<v3_result>(V3_INVALID_ARG);
        },
        [](void*) -> uint32_t { return 0; },
    },
};

const v3_edit_controller_cpp Plugin::kController = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    kComponent.base,
    {
        // The component's state is this object's own: nothing more to read.
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*) -> int32_t { return parameterCount(); },
        [](void* self, int32_t index, v3_param_info* info) -> v3_result {
            return info && of(self).parameterInfo(index, *info) ? V3_OK : V3_INVALID_ARG;
        },
        [](void* self, v3_param_id id, double normalised, v3_str_128 out) -> v3_result {
            return out && of(self).text(id, normalised, out) ? V3_OK : V3_INVALID_ARG;
        },
        [](void* self, v3_param_id id, int16_t* text, double* normalised) -> v3_result {
            return text && normalised && of(self).valueOfText(id, text, *normalised) ? V3_OK : V3_INVALID_ARG;
        },
        [](void* self, v3_param_id id, double normalised) { return of(self).plain(id, normalised); },
        [](void* self, v3_param_id id, double plain) { return of(self).normalised(id, plain); },
        [](void* self, v3_param_id id) {
            of(self).tellLatency();
            return of(self).currentNormalised(id);
        },
        // Values reach the instrument through process, at their frames; the controller
        // reads them back from the instrument.
        [](void* self, v3_param_id, double) -> v3_result {
            of(self).tellLatency();
            return V3_OK;
        },
        [](void* self, v3_component_handler** handler) -> v3_result {
            Plugin& plugin = of(self);
            if (handler) (*reinterpret_cast<v3_funknown**>(handler))->ref(handler);
            if (plugin.handler_) (*reinterpret_cast<v3_funknown**>(plugin.handler_))->unref(plugin.handler_);
            plugin.handler_ = handler;
            return V3_OK;
        },
        [](void* self, const char* name) { return of(self).createView(name); },
    },
};

const v3_unit_information_cpp Plugin::kUnits = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    {
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_unit_info* info) -> v3_result {
            if (index != 0 || !info) return V3_INVALID_ARG;
            info->id = kRootUnit;
            info->parent_unit_id = -1;
            copyText("Bytone", info->name);
            info->program_list_id = kProgramList;
            return V3_OK;
        },
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_program_list_info* info) -> v3_result {
            if (index != 0 || !info) return V3_INVALID_ARG;
            info->id = kProgramList;
            copyText("Programs", info->name);
            info->programCount = kNumPrograms;
            return V3_OK;
        },
        [](void* self, int32_t list, int32_t program, v3_str_128 name) -> v3_result {
            if (list != kProgramList || program < 0 || program >= kNumPrograms || !name) return V3_INVALID_ARG;
            char text[kNameSize];
            of(self).instrument_->programName(program, text, sizeof text);
            copyText(text, name);
            return V3_OK;
        },
        [](void*, int32_t, int32_t, const char*, v3_str_128) -> v3_result { return V3_FALSE; },
        [](void*, int32_t, int32_t) -> v3_result { return V3_FALSE; },
        [](void*, int32_t, int32_t, int16_t, v3_str_128) -> v3_result { return V3_FALSE; },
        [](void*) -> int32_t { return kRootUnit; },
        [](void*, int32_t) -> v3_result { return V3_OK; },
        [](void*, int32_t, int32_t, int32_t, int32_t, int32_t* unit) -> v3_result {
            if (!unit) return V3_INVALID_ARG;
            *unit = kRootUnit;
            return V3_OK;
        },
        [](void*, int32_t, int32_t, v3_bstream**) -> v3_result { return V3_NOT_IMPLEMENTED; },
    },
};

const v3_midi_mapping_cpp Plugin::kMidiMapping = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    {
        [](void*, int32_t bus, int16_t channel, int16_t controller, v3_param_id* id) -> v3_result {
            if (bus != 0 || channel < 0 || channel >= kChannels || !id) return V3_FALSE;
            const int index = hiddenIndexOf(channel, controller);
            if (index < 0) return V3_FALSE;
            *id = kFirstController + static_cast<v3_param_id>(index);
            return V3_OK;
        },
    },
};

// What the words beat and bar read: the song's position, tempo, bar and signature, and
// whether the transport plays.
const Plugin::ContextRequirementsTable Plugin::kContextRequirements = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    {[](void*) -> uint32_t {
        return V3_PROCESS_CTX_NEED_PROJECT_TIME | V3_PROCESS_CTX_NEED_BAR_POSITION | V3_PROCESS_CTX_NEED_TEMPO |
               V3_PROCESS_CTX_NEED_TIME_SIG | V3_PROCESS_CTX_NEED_TRANSPORT_STATE;
    }},
};

namespace {

constexpr uint32_t kNoteExpressionTypes[] = {kTuningExpression, kBrightnessExpression};

// A note expression's plain value: semitones for the tuning, 0..1 for the brightness.
double plainExpression(uint32_t type, double normalised) {
    return type == kTuningExpression ? 240.0 * (normalised - 0.5) : normalised;
}

}  // namespace

const NoteExpressionControllerTable Plugin::kNoteExpressions = {
    {kComponent.query_interface, kComponent.ref, kComponent.unref},
    {[](void*, int32_t bus, int16_t) -> int32_t { return bus == 0 ? 2 : 0; },
     [](void*, int32_t bus, int16_t, int32_t index, NoteExpressionTypeInfo* info) -> v3_result {
         if (bus != 0 || index < 0 || index >= 2 || !info) return V3_INVALID_ARG;
         *info = NoteExpressionTypeInfo{};
         info->typeId = kNoteExpressionTypes[index];
         const bool tuning = info->typeId == kTuningExpression;
         copyText(tuning ? "Tuning" : "Brightness", info->title);
         copyText(tuning ? "Tune" : "Bright", info->shortTitle);
         copyText(tuning ? "semitones" : "", info->units);
         info->unitId = -1;
         info->valueDescription = {0.5, 0.0, 1.0, 0};
         info->associatedParameterId = UINT32_MAX;
         info->flags = tuning ? kNoteExpressionIsBipolar : 0;
         return V3_OK;
     },
     [](void*, int32_t bus, int16_t, uint32_t type, double value, v3_str_128 out) -> v3_result {
         if (bus != 0 || (type != kTuningExpression && type != kBrightnessExpression) || !out) return V3_INVALID_ARG;
         char text[32];
         std::snprintf(text, sizeof text, type == kTuningExpression ? "%+.2f" : "%.2f", plainExpression(type, value));
         copyText(text, out);
         return V3_OK;
     },
     [](void*, int32_t bus, int16_t, uint32_t type, const int16_t* text, double* value) -> v3_result {
         if (bus != 0 || (type != kTuningExpression && type != kBrightnessExpression) || !text || !value)
             return V3_INVALID_ARG;
         std::string ascii;
         for (int i = 0; i < 128 && text[i]; ++i)
             ascii += text[i] > 0 && text[i] < 128 ? static_cast<char>(text[i]) : '?';
         char* end = nullptr;
         const double plain = std::strtod(ascii.c_str(), &end);
         if (end == ascii.c_str() || !std::isfinite(plain)) return V3_FALSE;
         *value = std::clamp(type == kTuningExpression ? plain / 240.0 + 0.5 : plain, 0.0, 1.0);
         return V3_OK;
     }},
};

Plugin::Plugin() : instrument_(std::make_unique<engine::Instrument>(Language::Extended)), gestures_(*this) {}

Plugin::~Plugin() = default;

void* Plugin::query(const v3_tuid iid) {
    void* face = nullptr;
    if (sameId(iid, v3_funknown_iid) || sameId(iid, v3_plugin_base_iid) || sameId(iid, v3_component_iid))
        face = &component_;
    else if (sameId(iid, v3_audio_processor_iid))
        face = &processor_;
    else if (sameId(iid, v3_edit_controller_iid))
        face = &controller_;
    else if (sameId(iid, v3_unit_information_iid))
        face = &units_;
    else if (sameId(iid, v3_midi_mapping_iid))
        face = &midiMapping_;
    else if (sameId(iid, v3_process_context_requirements_iid))
        face = &contextRequirements_;
    else if (sameId(iid, kNoteExpressionControllerIid))
        face = &noteExpressions_;
    if (face) ref();
    return face;
}

uint32_t Plugin::unref() {
    const uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
}

int32_t Plugin::parameterCount() { return plugin::kParameterCount + kHiddenCount; }

bool Plugin::rangeOf(v3_param_id id, int32_t& lowest, int32_t& highest) {
    plugin::ParameterInfo parameter;
    int channel;
    int16_t controller;
    if (plugin::parameterOf(id, parameter)) {
        lowest = parameter.lowest, highest = parameter.highest;
    } else if (isController(id, channel, controller)) {
        lowest = 0, highest = controller == kPitchBend ? 16383 : 127;
    } else {
        return false;
    }
    return true;
}

bool Plugin::parameterInfo(int32_t index, v3_param_info& info) const {
    if (index < 0 || index >= parameterCount()) return false;
    info = v3_param_info{};
    info.unit_id = kRootUnit;
    info.flags = V3_PARAM_CAN_AUTOMATE;
    int32_t lowest = 0, highest = 0, defaultValue = 0;
    if (index < plugin::kParameterCount) {
        const plugin::ParameterInfo parameter = plugin::parameterAt(index);
        info.param_id = parameter.id;
        copyText(parameter.name, info.title);
        copyText(parameter.name, info.short_title);
        defaultValue = parameter.defaultValue;
        if (!parameter.automatable) info.flags &= ~V3_PARAM_CAN_AUTOMATE;
        if (parameter.id == plugin::kProgramParameter) info.flags |= V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST;
    } else {
        const int controllerIndex = index - plugin::kParameterCount;
        info.param_id = kFirstController + static_cast<v3_param_id>(controllerIndex);
        int channel = 0;
        int16_t controller = 0;
        controllerAt(controllerIndex, channel, controller);
        copyText("Ch" + std::to_string(channel + 1) + " " + controllerName(controller), info.title);
        copyText(controllerName(controller), info.short_title);
        info.flags |= V3_PARAM_IS_HIDDEN;
        defaultValue = controllerDefault(controller);
    }
    rangeOf(info.param_id, lowest, highest);
    info.step_count = highest - lowest;
    info.default_normalised_value = normalised(info.param_id, defaultValue);
    return true;
}

double Plugin::normalised(v3_param_id id, double plain) const {
    int32_t lowest = 0, highest = 0;
    if (!rangeOf(id, lowest, highest) || !std::isfinite(plain)) return 0;
    return std::clamp((plain - lowest) / (highest - lowest), 0.0, 1.0);
}

double Plugin::plain(v3_param_id id, double normalised) const {
    int32_t lowest = 0, highest = 0;
    if (!rangeOf(id, lowest, highest) || !std::isfinite(normalised)) return 0;
    return lowest + std::lround(std::clamp(normalised, 0.0, 1.0) * (highest - lowest));
}

double Plugin::currentNormalised(v3_param_id id) const {
    int32_t value = 0;
    if (plugin::parameterValue(*instrument_, id, value)) return normalised(id, value);
    int channel;
    int16_t controller;
    if (isController(id, channel, controller)) return normalised(id, controllerDefault(controller));
    return 0;
}

bool Plugin::text(v3_param_id id, double value, v3_str_128 out) const {
    std::string shown;
    int channel;
    int16_t controller;
    const int32_t whole = plugin::wholeValue(plain(id, value));
    if (plugin::parameterText(*instrument_, id, whole, shown)) {
        copyText(shown, out);
    } else if (isController(id, channel, controller)) {
        copyText(std::to_string(whole), out);
    } else {
        return false;
    }
    return true;
}

bool Plugin::valueOfText(v3_param_id id, const int16_t* text, double& value) const {
    std::string ascii;
    for (int i = 0; i < 128 && text[i]; ++i) ascii += text[i] > 0 && text[i] < 128 ? static_cast<char>(text[i]) : '?';
    plugin::ParameterInfo parameter;
    int channel;
    int16_t controller;
    int32_t read = 0;
    if (plugin::parameterOf(id, parameter)) {
        if (!plugin::parameterValueOfText(id, ascii.c_str(), read)) return false;
    } else if (isController(id, channel, controller)) {
        char* end = nullptr;
        const long number = std::strtol(ascii.c_str(), &end, 10);
        int32_t lowest = 0, highest = 0;
        rangeOf(id, lowest, highest);
        if (end == ascii.c_str() || number < lowest || number > highest) return false;
        read = static_cast<int32_t>(number);
    } else {
        return false;
    }
    value = normalised(id, read);
    return true;
}

void Plugin::applyParameter(v3_param_id id, double value, int32_t frame, bool insideBlock) {
    int channel;
    int16_t controller;
    engine::Event event;
    const int32_t whole = plugin::wholeValue(plain(id, value));
    if (!insideBlock && plugin::applyParameter(*instrument_, id, whole)) return;
    if (insideBlock && plugin::parameterEvent(id, whole, frame, event)) {
        instrument_->queueEvent(event);
    } else if (isController(id, channel, controller) && insideBlock) {
        if (controller == kPitchBend)
            instrument_->queueMidi(0xE0 | channel, whole & 127, whole >> 7, frame);
        else if (controller == kChannelPressure)
            instrument_->queueMidi(0xD0 | channel, whole, 0, frame);
        else
            instrument_->queueMidi(0xB0 | channel, controller, whole, frame);
    }
}

v3_result Plugin::process(v3_process_data& data) {
    const bool insideBlock = data.nframes > 0;
    if (data.ctx && insideBlock) instrument_->queueTransport(reportOf(*data.ctx), 0);
    if (v3_param_changes** changes = data.input_params) {
        const int32_t count = v3_cpp_obj(changes)->get_param_count(changes);
        for (int32_t i = 0; i < count; ++i) {
            v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, i);
            if (!queue) continue;
            const v3_param_id id = v3_cpp_obj(queue)->get_param_id(queue);
            const int32_t points = v3_cpp_obj(queue)->get_point_count(queue);
            for (int32_t p = 0; p < points; ++p) {
                int32_t offset = 0;
                double value = 0;
                if (v3_cpp_obj(queue)->get_point(queue, p, &offset, &value) == V3_OK)
                    applyParameter(id, value, offset, insideBlock);
            }
        }
    }
    if (v3_event_list** events = data.input_events; events && insideBlock) {
        const uint32_t count = v3_cpp_obj(events)->get_event_count(events);
        for (uint32_t i = 0; i < count; ++i) {
            v3_event e{};
            if (v3_cpp_obj(events)->get_event(events, static_cast<int32_t>(i), &e) != V3_OK) continue;
            engine::Event event{};
            event.kind = engine::EventKind::Note;
            event.frame = e.sample_offset;
            if (e.type == V3_EVENT_NOTE_ON) {
                event.channel = std::clamp<int16_t>(e.note_on.channel, 0, 15);
                event.note = e.note_on.pitch;
                event.noteId = e.note_on.note_id;
                event.velocity = plugin::midiVelocity(e.note_on.velocity);
            } else if (e.type == V3_EVENT_NOTE_OFF) {
                event.channel = std::clamp<int16_t>(e.note_off.channel, 0, 15);
                event.note = e.note_off.pitch;
                event.velocity = 0;
            } else if (e.type == V3_EVENT_NOTE_EXP_VALUE) {
                // Of the note the host named when it began; a note without an id has none.
                const uint32_t type = e.note_exp_value.type_id;
                if (e.note_exp_value.note_id < 0 || (type != kTuningExpression && type != kBrightnessExpression))
                    continue;
                event.kind = engine::EventKind::NoteExpression;
                event.expression = type == kTuningExpression ? engine::Expression::Tuning : engine::Expression::Timbre;
                event.noteId = e.note_exp_value.note_id;
                event.port = event.channel = event.note = -1;
                event.value = static_cast<float>(plainExpression(type, e.note_exp_value.value));
                instrument_->queueEvent(event);
                continue;
            } else if (e.type == V3_EVENT_POLY_PRESSURE) {
                event.kind = engine::EventKind::Pressure;
                event.channel = std::clamp<int16_t>(e.poly_pressure.channel, 0, 15);
                event.note = e.poly_pressure.pitch;
                event.value = static_cast<float>(std::lround(std::clamp(e.poly_pressure.pressure, 0.0f, 1.0f) * 127));
            } else {
                continue;
            }
            if (event.note >= 0 && event.note <= 127) instrument_->queueEvent(event);
        }
    }
    if (!insideBlock) return V3_OK;
    float* left = nullptr;
    float* right = nullptr;
    if (data.num_output_buses > 0 && data.outputs && data.outputs[0].channel_buffers_32) {
        v3_audio_bus_buffers& out = data.outputs[0];
        left = out.num_channels > 0 ? out.channel_buffers_32[0] : nullptr;
        right = out.num_channels > 1 ? out.channel_buffers_32[1] : nullptr;
        out.channel_silence_bitset = 0;
    }
    instrument_->render(left, right, data.nframes);
    return V3_OK;
}

v3_plugin_view** Plugin::createView(const char* name) {
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    auto* view = new (std::nothrow) PlugView(reinterpret_cast<v3_funknown**>(&component_), *instrument_, gestures_);
    return view ? view->view() : nullptr;
}

void Plugin::beginEdit(plugin::ParameterId id) {
    if (handler_) v3_cpp_obj(handler_)->begin_edit(handler_, id);
}

void Plugin::performEdit(plugin::ParameterId id, int32_t value) {
    if (handler_) v3_cpp_obj(handler_)->perform_edit(handler_, id, normalised(id, value));
    tellLatency();
}

void Plugin::endEdit(plugin::ParameterId id) {
    if (handler_) v3_cpp_obj(handler_)->end_edit(handler_, id);
}

v3_result Plugin::readState(v3_bstream** stream) {
    if (!stream) return V3_INVALID_ARG;
    const bool restored = plugin::loadState(*instrument_, [stream](uint8_t* buffer, int64_t size) -> int64_t {
        int32_t got = 0;
        if (v3_cpp_obj(stream)->read(stream, buffer, static_cast<int32_t>(size), &got) != V3_OK) return -1;
        return got;
    });
    if (!restored) return V3_FALSE;
    tellHostOfNewBank();
    tellLatency();
    return V3_OK;
}

void Plugin::tellLatency() {
    if (!handler_ || instrument_->latency() == reportedLatency_) return;
    reportedLatency_ = instrument_->latency();
    v3_cpp_obj(handler_)->restart_component(handler_, V3_RESTART_LATENCY_CHANGED);
}

void Plugin::tellHostOfNewBank() {
    if (!handler_) return;
    v3_cpp_obj(handler_)->restart_component(handler_, V3_RESTART_PARAM_VALUES_CHANGED);
    v3_unit_handler** units = nullptr;
    if (v3_cpp_obj_query_interface(handler_, v3_unit_handler_iid, &units) == V3_OK && units) {
        v3_cpp_obj(units)->notify_program_list_change(units, kProgramList, -1);
        v3_cpp_obj_unref(units);
    }
}

v3_result Plugin::writeState(v3_bstream** stream) {
    if (!stream) return V3_INVALID_ARG;
    const bool saved = plugin::saveState(*instrument_, [stream](const uint8_t* data, int64_t size) -> int64_t {
        int32_t written = 0;
        // The stream's call takes a pointer to bytes it does not change.
        if (v3_cpp_obj(stream)->write(stream, const_cast<uint8_t*>(data), static_cast<int32_t>(size), &written) !=
            V3_OK)
            return -1;
        return written;
    });
    return saved ? V3_OK : V3_FALSE;
}

}  // namespace vst3adapter
