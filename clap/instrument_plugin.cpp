#include "instrument_plugin.h"

#include <clap/ext/audio-ports.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../engine/chunk.h"

namespace clapadapter {

namespace {

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER,
                                 CLAP_PLUGIN_FEATURE_STEREO, nullptr};

bool isSetting(clap_id id, engine::Setting& setting) {
    return engine::settingFromNumber(static_cast<int32_t>(std::min<clap_id>(id, 1000)), setting);
}

int32_t wholeValue(double value) {
    return std::isfinite(value) ? static_cast<int32_t>(std::lround(std::clamp(value, -1e9, 1e9))) : 0;
}

// The smallest value a setting's parameter takes: its range's, or its default below it
// (a program's drum key starts at 0, "none").
int32_t lowestOf(const engine::SettingInfo& info) { return std::min(info.lowest, info.defaultValue); }

// A state is the VST 2.4 chunk with the Gain tag and value before its end tag.
constexpr size_t kMaxStateBytes = kChunkCapacityBytes + 8;

float tagFloat(uint32_t bits) { return chunkcodec::tagFloat(bits); }

}  // namespace

extern "C" {
static bool clapInit(const clap_plugin_t*) { return true; }
static void clapDestroy(const clap_plugin_t* plugin) { delete static_cast<Plugin*>(plugin->plugin_data); }
static void clapDeactivate(const clap_plugin_t*) {}
static bool clapStartProcessing(const clap_plugin_t*) { return true; }
static void clapStopProcessing(const clap_plugin_t*) {}
}

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT,
    "com.bytone.bytone",
    "Bytone",
    "Kelmo",
    "",
    "",
    "",
    BYTONE_VERSION,
    "An instrument whose sound comes from short integer formulas",
    const_cast<const char**>(kFeatures),
};

Plugin::Plugin(const clap_host_t* host)
    : host_(host), instrument_(std::make_unique<engine::Instrument>()), gui_(host, *instrument_, *this) {
    plugin_.desc = &kDescriptor;
    plugin_.plugin_data = this;
    plugin_.init = clapInit;
    plugin_.destroy = clapDestroy;
    plugin_.activate = [](const clap_plugin_t* p, double rate, uint32_t, uint32_t) { return of(p).activate(rate); };
    plugin_.deactivate = clapDeactivate;
    plugin_.start_processing = clapStartProcessing;
    plugin_.stop_processing = clapStopProcessing;
    plugin_.reset = [](const clap_plugin_t* p) { of(p).instrument_->allNotesOff(); };
    plugin_.process = [](const clap_plugin_t* p, const clap_process_t* process) { return of(p).process(process); };
    plugin_.get_extension = [](const clap_plugin_t* p, const char* id) { return of(p).extension(id); };
    plugin_.on_main_thread = [](const clap_plugin_t* p) { of(p).gui_.onMainThread(); };
}

bool Plugin::activate(double sampleRate) {
    instrument_->setSampleRate(sampleRate);
    // The compilation a program change asked for happens here, on the main thread.
    instrument_->syncProgramDisplay();
    return true;
}

void Plugin::applyParameter(clap_id id, double value) {
    engine::Setting setting;
    if (isSetting(id, setting)) {
        instrument_->setSetting(setting, wholeValue(value));
    } else if (id == kProgramParameter) {
        // flush may come on the audio thread (active, not processing): no compilation
        // here; the next block's end takes the change, as it takes a MIDI program change.
        instrument_->setProgram(std::clamp(wholeValue(value), 0, kNumPrograms - 1));
    }
}

void Plugin::take(const clap_input_events_t* events, bool insideBlock) {
    if (!events) return;
    const uint32_t count = events->size(events);
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = events->get(events, i);
        if (!header || header->space_id != CLAP_CORE_EVENT_SPACE_ID) continue;
        const auto frame = static_cast<int32_t>(std::min<uint32_t>(header->time, INT32_MAX));
        Event event{};
        event.frame = frame;
        switch (header->type) {
            case CLAP_EVENT_NOTE_ON:
            case CLAP_EVENT_NOTE_OFF:
            case CLAP_EVENT_NOTE_CHOKE: {
                if (!insideBlock || header->size < sizeof(clap_event_note_t)) break;
                const auto* note = reinterpret_cast<const clap_event_note_t*>(header);
                if (note->key < 0 || note->key > 127) break;  // a wildcard key: no note of ours
                event.kind = Note;
                event.channel = std::clamp<int16_t>(note->channel, 0, 15);
                event.note = note->key;
                // v x 127, rounded, so that a host's v/127 gives v back; a note-on is never an off.
                event.velocity =
                    header->type == CLAP_EVENT_NOTE_ON ? std::clamp(wholeValue(note->velocity * 127.0), 1, 127) : 0;
                instrument_->queueEvent(event);
                break;
            }
            case CLAP_EVENT_MIDI: {
                if (!insideBlock || header->size < sizeof(clap_event_midi_t)) break;
                const auto* midi = reinterpret_cast<const clap_event_midi_t*>(header);
                instrument_->queueMidi(midi->data[0], midi->data[1], midi->data[2], frame);
                break;
            }
            case CLAP_EVENT_PARAM_VALUE: {
                if (header->size < sizeof(clap_event_param_value_t)) break;
                const auto* change = reinterpret_cast<const clap_event_param_value_t*>(header);
                engine::Setting setting;
                if (!insideBlock) {
                    applyParameter(change->param_id, change->value);
                } else if (isSetting(change->param_id, setting)) {
                    event.kind = SettingChange;
                    event.setting = static_cast<int32_t>(setting);
                    event.value = static_cast<float>(wholeValue(change->value));
                    instrument_->queueEvent(event);
                } else if (change->param_id == kProgramParameter) {
                    event.kind = ProgramChange;
                    event.program = std::clamp(wholeValue(change->value), 0, kNumPrograms - 1);
                    instrument_->queueEvent(event);
                }
                break;
            }
            default: break;
        }
    }
}

clap_process_status Plugin::process(const clap_process_t* process) {
    take(process->in_events, true);
    float* left = nullptr;
    float* right = nullptr;
    if (process->audio_outputs_count > 0 && process->audio_outputs[0].data32) {
        const clap_audio_buffer_t& out = process->audio_outputs[0];
        left = out.channel_count > 0 ? out.data32[0] : nullptr;
        right = out.channel_count > 1 ? out.data32[1] : nullptr;
    }
    instrument_->render(left, right, static_cast<int32_t>(std::min<uint32_t>(process->frames_count, INT32_MAX)));
    // Each voice that stopped, so that the host can follow its voices.
    const clap_output_events_t* out = process->out_events;
    for (int32_t i = 0; out && i < instrument_->endedCount(); ++i) {
        const engine::Instrument::EndedNote& ended = instrument_->endedNotes()[i];
        clap_event_note_t end{};
        end.header = {sizeof end, static_cast<uint32_t>(std::max(ended.frame, 0)), CLAP_CORE_EVENT_SPACE_ID,
                      CLAP_EVENT_NOTE_END, 0};
        end.note_id = -1;
        end.port_index = 0;
        end.channel = static_cast<int16_t>(ended.channel);
        end.key = static_cast<int16_t>(ended.key);
        out->try_push(out, &end.header);
    }
    edits_.send(out);
    return CLAP_PROCESS_CONTINUE;
}

void Plugin::addEdit(ParameterEdits::Kind kind, engine::Setting setting, double value) {
    edits_.add({kind, static_cast<clap_id>(setting), value});
    const auto* params = static_cast<const clap_host_params_t*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
    if (params && params->request_flush) params->request_flush(host_);
}

void Plugin::gestureBegan(engine::Setting setting) {
    inGesture_[static_cast<int>(setting)] = true;
    addEdit(ParameterEdits::GestureBegin, setting);
}

void Plugin::gestureEnded(engine::Setting setting) {
    inGesture_[static_cast<int>(setting)] = false;
    addEdit(ParameterEdits::GestureEnd, setting);
}

// An edit outside a drag (a click, the wheel, a reset) is a gesture of its own.
void Plugin::settingEdited(engine::Setting setting, int32_t value) {
    const bool alone = !inGesture_[static_cast<int>(setting)];
    if (alone) addEdit(ParameterEdits::GestureBegin, setting);
    addEdit(ParameterEdits::Value, setting, value);
    if (alone) addEdit(ParameterEdits::GestureEnd, setting);
}

uint32_t Plugin::parameterCount() const { return engine::kSettingCount + 1; }

bool Plugin::parameterInfo(uint32_t index, clap_param_info_t* info) const {
    if (!info || index >= parameterCount()) return false;
    *info = clap_param_info_t{};
    info->flags = CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE;
    if (index == engine::kSettingCount) {
        info->id = kProgramParameter;
        std::snprintf(info->name, sizeof info->name, "Program");
        info->min_value = 0;
        info->max_value = kNumPrograms - 1;
        info->default_value = 0;
        return true;
    }
    const engine::SettingInfo& setting = engine::settingInfo(static_cast<engine::Setting>(index));
    info->id = index;
    std::snprintf(info->name, sizeof info->name, "%s", setting.name);
    info->min_value = lowestOf(setting);
    info->max_value = setting.highest;
    info->default_value = setting.defaultValue;
    return true;
}

bool Plugin::parameterValue(clap_id id, double* value) const {
    engine::Setting setting;
    if (!value) return false;
    if (isSetting(id, setting))
        *value = instrument_->setting(setting);
    else if (id == kProgramParameter)
        *value = instrument_->program();
    else
        return false;
    return true;
}

bool Plugin::valueToText(clap_id id, double value, char* text, uint32_t size) const {
    engine::Setting setting;
    if (!text || size == 0) return false;
    if (isSetting(id, setting)) {
        std::snprintf(text, size, "%s", engine::settingText(setting, wholeValue(value)).c_str());
        return true;
    }
    if (id != kProgramParameter) return false;
    char name[kNameSize];
    instrument_->programName(std::clamp(wholeValue(value), 0, kNumPrograms - 1), name, sizeof name);
    std::snprintf(text, size, "%s", name);
    return true;
}

bool Plugin::textToValue(clap_id id, const char* text, double* value) const {
    engine::Setting setting;
    if (!text || !value) return false;
    // The number in the text, after the name and colon the texts begin with.
    const char* number = std::strchr(text, ':') ? std::strchr(text, ':') + 1 : text;
    char* end = nullptr;
    const double read = std::strtod(number, &end);
    const bool hasNumber = end != number;
    if (id == kProgramParameter) {
        if (!hasNumber || read < 1 || read > kNumPrograms) return false;  // "006 Ringy": programs count from 1
        *value = std::floor(read) - 1;
        return true;
    }
    if (!isSetting(id, setting)) return false;
    const engine::SettingInfo& info = engine::settingInfo(setting);
    double result = read;
    switch (info.show) {
        case engine::SettingShow::Voices:
            if (std::strstr(text, "Mono")) result = 1;
            break;
        case engine::SettingShow::Switch:
            if (std::strstr(text, "on"))
                result = 1;
            else if (std::strstr(text, "off"))
                result = 0;
            else if (!hasNumber)
                return false;
            break;
        case engine::SettingShow::TimeFactor:  // the factor back to the setting
            result = read >= 1.0 ? (read - 1.0) / 0.06 + 50.0 : (read - 0.25) / 0.015;
            break;
        case engine::SettingShow::Zoom: result = 8 - read; break;
        case engine::SettingShow::Key: {  // "C-4", "C#2" (octave 1 from key 24), or "---" for none
            while (*number == ' ') ++number;
            static const char kNames[] = "C-C#D-D#E-F-F#G-G#A-A#B-";
            if (std::strncmp(number, "---", 3) == 0) {
                *value = info.defaultValue;
                return true;
            }
            for (int semitone = 0; semitone < 12; ++semitone) {
                if (std::strncmp(number, kNames + 2 * semitone, 2) != 0) continue;
                const double octave = std::strtod(number + 2, &end);
                if (end == number + 2) return false;
                result = (octave - 1) * 12 + 24 + semitone;
                break;
            }
            if (result == read && !hasNumber) return false;
            break;
        }
        default: break;
    }
    if ((info.show == engine::SettingShow::Number || info.show == engine::SettingShow::TimeFactor ||
         info.show == engine::SettingShow::Zoom) &&
        !hasNumber)
        return false;
    if (info.show == engine::SettingShow::Voices && !hasNumber && !std::strstr(text, "Mono")) return false;
    result = std::round(result);
    if (result < lowestOf(info) || result > info.highest) return false;
    *value = result;
    return true;
}

bool Plugin::save(const clap_ostream_t* stream) {
    const void* data = nullptr;
    const int32_t bytes = instrument_->saveState(&data);
    if (!stream || bytes < 4) return false;
    std::vector<float> state(static_cast<const float*>(data), static_cast<const float*>(data) + bytes / 4);
    state.back() = tagFloat(chunktag::kGain);  // in place of the end tag, which follows
    state.push_back(static_cast<float>(instrument_->setting(engine::Setting::Gain)));
    state.push_back(tagFloat(chunktag::kEnd));
    const auto* at = reinterpret_cast<const uint8_t*>(state.data());
    uint64_t left = state.size() * sizeof(float);
    while (left > 0) {
        const int64_t written = stream->write(stream, at, left);
        if (written <= 0) return false;
        at += written;
        left -= static_cast<uint64_t>(written);
    }
    return true;
}

bool Plugin::load(const clap_istream_t* stream) {
    if (!stream) return false;
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (;;) {
        const int64_t got = stream->read(stream, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > kMaxStateBytes) return false;  // no state of ours is this large
    }
    // Ours begins with the chunk's start tag; anything else is refused whole.
    const uint32_t start = chunktag::kStart;
    if (bytes.size() < 4 || std::memcmp(bytes.data(), &start, 4) != 0) return false;
    std::vector<float> floats(bytes.size() / 4);
    std::memcpy(floats.data(), bytes.data(), floats.size() * 4);
    int32_t gain = instrument_->setting(engine::Setting::Gain);
    for (size_t i = 1; i + 1 < floats.size(); ++i)
        if (chunkcodec::floatBits(floats[i]) == chunktag::kGain) gain = truncateToInt32(floats[i + 1]);
    if (!instrument_->restoreState(bytes.data(), static_cast<int32_t>(bytes.size()))) return false;
    instrument_->setSetting(engine::Setting::Gain, gain);
    instrument_->syncProgramDisplay();
    return true;
}

const void* Plugin::extension(const char* id) const {
    if (!id) return nullptr;
    static const clap_plugin_audio_ports_t audioPorts = {
        [](const clap_plugin_t*, bool isInput) -> uint32_t { return isInput ? 0 : 1; },
        [](const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
            if (isInput || index != 0 || !info) return false;
            *info = clap_audio_port_info_t{};
            info->id = 0;
            std::snprintf(info->name, sizeof info->name, "Output");
            info->flags = CLAP_AUDIO_PORT_IS_MAIN;
            info->channel_count = 2;
            info->port_type = CLAP_PORT_STEREO;
            info->in_place_pair = CLAP_INVALID_ID;
            return true;
        },
    };
    static const clap_plugin_note_ports_t notePorts = {
        [](const clap_plugin_t*, bool isInput) -> uint32_t { return isInput ? 1 : 0; },
        [](const clap_plugin_t*, uint32_t index, bool isInput, clap_note_port_info_t* info) {
            if (!isInput || index != 0 || !info) return false;
            *info = clap_note_port_info_t{};
            info->id = 0;
            info->supported_dialects = CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI;
            info->preferred_dialect = CLAP_NOTE_DIALECT_CLAP;
            std::snprintf(info->name, sizeof info->name, "Notes");
            return true;
        },
    };
    static const clap_plugin_params_t params = {
        [](const clap_plugin_t* p) { return of(p).parameterCount(); },
        [](const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) {
            return of(p).parameterInfo(index, info);
        },
        [](const clap_plugin_t* p, clap_id id, double* value) { return of(p).parameterValue(id, value); },
        [](const clap_plugin_t* p, clap_id id, double value, char* text, uint32_t size) {
            return of(p).valueToText(id, value, text, size);
        },
        [](const clap_plugin_t* p, clap_id id, const char* text, double* value) {
            return of(p).textToValue(id, text, value);
        },
        [](const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
            of(p).take(in, false);
            of(p).edits_.send(out);
        },
    };
    static const clap_plugin_gui_t gui = {
        [](const clap_plugin_t*, const char* api, bool floating) { return EditorGui::supports(api, floating); },
        [](const clap_plugin_t*, const char** api, bool* floating) {
            if (!api || !floating) return false;
            *api = EditorGui::windowApi();
            *floating = false;
            return true;
        },
        [](const clap_plugin_t* p, const char* api, bool floating) { return of(p).gui_.create(api, floating); },
        [](const clap_plugin_t* p) { of(p).gui_.destroy(); },
        [](const clap_plugin_t*, double) { return false; },  // the window has one size
        [](const clap_plugin_t* p, uint32_t* width, uint32_t* height) { return of(p).gui_.size(width, height); },
        [](const clap_plugin_t*) { return false; },
        [](const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; },
        [](const clap_plugin_t*, uint32_t*, uint32_t*) { return false; },
        [](const clap_plugin_t* p, uint32_t width, uint32_t height) {
            uint32_t w = 0, h = 0;
            return of(p).gui_.size(&w, &h) && w == width && h == height;
        },
        [](const clap_plugin_t* p, const clap_window_t* window) { return of(p).gui_.setParent(window); },
        [](const clap_plugin_t*, const clap_window_t*) { return false; },  // embedded only
        [](const clap_plugin_t*, const char*) {},
        [](const clap_plugin_t* p) { return of(p).gui_.show(); },
        [](const clap_plugin_t* p) { return of(p).gui_.hide(); },
    };
    static const clap_plugin_timer_support_t timers = {
        [](const clap_plugin_t* p, clap_id timer) { of(p).gui_.onTimer(timer); },
    };
    static const clap_plugin_state_t state = {
        [](const clap_plugin_t* p, const clap_ostream_t* stream) { return of(p).save(stream); },
        [](const clap_plugin_t* p, const clap_istream_t* stream) { return of(p).load(stream); },
    };
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &audioPorts;
    if (std::strcmp(id, CLAP_EXT_NOTE_PORTS) == 0) return &notePorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &params;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &state;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &gui;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &timers;
    return nullptr;
}

}  // namespace clapadapter
