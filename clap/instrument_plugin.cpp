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

#include "../plugin/identity.h"
#include "../plugin/state_stream.h"

namespace clapadapter {

namespace {

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER,
                                 CLAP_PLUGIN_FEATURE_STEREO, nullptr};

// What the host's transport says, in the instrument's terms: beat times are in quarter notes.
engine::TransportReport reportOf(const clap_event_transport_t& transport) {
    constexpr double kBeatTime = static_cast<double>(CLAP_BEATTIME_FACTOR);
    engine::TransportReport report;
    report.playing = (transport.flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
    if (transport.flags & CLAP_TRANSPORT_HAS_TEMPO) {
        report.hasTempo = true;
        report.tempo = transport.tempo;
        report.tempoIncrement = transport.tempo_inc;
    }
    if (transport.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) {
        report.hasPosition = report.hasBarStart = true;
        report.quarterNotes = static_cast<double>(transport.song_pos_beats) / kBeatTime;
        report.barStart = static_cast<double>(transport.bar_start) / kBeatTime;
    }
    if (transport.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) {
        report.hasSignature = true;
        report.numerator = transport.tsig_num;
        report.denominator = transport.tsig_denom;
    }
    return report;
}

}  // namespace

extern "C" {
static bool clapInit(const clap_plugin_t*) { return true; }
static void clapDestroy(const clap_plugin_t* plugin) { delete static_cast<Plugin*>(plugin->plugin_data); }
static bool clapStartProcessing(const clap_plugin_t*) { return true; }
static void clapStopProcessing(const clap_plugin_t*) {}
}

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT,
    "com.bytone.bytone",
    "Bytone",
    plugin::kVendor,
    "",
    "",
    "",
    BYTONE_VERSION,
    "An instrument whose sound comes from short integer formulas",
    const_cast<const char**>(kFeatures),
};

Plugin::Plugin(const clap_host_t* host)
    : host_(host),
      instrument_(std::make_unique<engine::Instrument>(Language::Extended)),
      gestures_(*this),
      gui_(host, *instrument_, gestures_) {
    plugin_.desc = &kDescriptor;
    plugin_.plugin_data = this;
    plugin_.init = clapInit;
    plugin_.destroy = clapDestroy;
    plugin_.activate = [](const clap_plugin_t* p, double rate, uint32_t, uint32_t) { return of(p).activate(rate); };
    plugin_.deactivate = [](const clap_plugin_t* p) { of(p).active_ = false; };
    plugin_.start_processing = clapStartProcessing;
    plugin_.stop_processing = clapStopProcessing;
    plugin_.reset = [](const clap_plugin_t* p) { of(p).instrument_->allNotesOff(); };
    plugin_.process = [](const clap_plugin_t* p, const clap_process_t* process) { return of(p).process(process); };
    plugin_.get_extension = [](const clap_plugin_t* p, const char* id) { return of(p).extension(id); };
    plugin_.on_main_thread = [](const clap_plugin_t* p) { of(p).gui_.onMainThread(); };
}

bool Plugin::activate(double sampleRate) {
    activeLatency_ = instrument_->latency();
    restartAsked_ = false;
    active_ = true;
    instrument_->setSampleRate(sampleRate);
    instrument_->rewindSong();
    // The compilation a program change asked for happens here, on the main thread.
    instrument_->syncProgramDisplay();
    return true;
}

void Plugin::take(const clap_input_events_t* events, bool insideBlock) {
    if (!events) return;
    const uint32_t count = events->size(events);
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = events->get(events, i);
        if (!header || header->space_id != CLAP_CORE_EVENT_SPACE_ID) continue;
        const auto frame = static_cast<int32_t>(std::min<uint32_t>(header->time, INT32_MAX));
        engine::Event event{};
        event.frame = frame;
        switch (header->type) {
            case CLAP_EVENT_NOTE_ON:
            case CLAP_EVENT_NOTE_OFF:
            case CLAP_EVENT_NOTE_CHOKE: {
                if (!insideBlock || header->size < sizeof(clap_event_note_t)) break;
                const auto* note = reinterpret_cast<const clap_event_note_t*>(header);
                if (note->key < 0 || note->key > 127) break;  // a wildcard key: no note of ours
                event.kind = engine::EventKind::Note;
                event.channel = std::clamp<int16_t>(note->channel, 0, 15);
                event.note = note->key;
                event.noteId = note->note_id;
                event.port = note->port_index;
                event.velocity = header->type == CLAP_EVENT_NOTE_ON ? plugin::midiVelocity(note->velocity) : 0;
                instrument_->queueEvent(event);
                break;
            }
            case CLAP_EVENT_TRANSPORT:
                if (insideBlock && header->size >= sizeof(clap_event_transport_t))
                    instrument_->queueTransport(reportOf(*reinterpret_cast<const clap_event_transport_t*>(header)),
                                                frame);
                break;
            case CLAP_EVENT_NOTE_EXPRESSION: {
                if (!insideBlock || header->size < sizeof(clap_event_note_expression_t)) break;
                const auto* e = reinterpret_cast<const clap_event_note_expression_t*>(header);
                if (e->expression_id == CLAP_NOTE_EXPRESSION_TUNING)
                    event.expression = engine::Expression::Tuning;
                else if (e->expression_id == CLAP_NOTE_EXPRESSION_PRESSURE)
                    event.expression = engine::Expression::Pressure;
                else if (e->expression_id == CLAP_NOTE_EXPRESSION_BRIGHTNESS)
                    event.expression = engine::Expression::Timbre;
                else
                    break;
                event.kind = engine::EventKind::NoteExpression;
                event.noteId = e->note_id;
                event.port = e->port_index;
                event.channel = e->channel;
                event.note = e->key;
                event.value = static_cast<float>(e->value);
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
                const int32_t value = plugin::wholeValue(change->value);
                // flush may come on the audio thread (active, not processing): the
                // parameter layer compiles nothing there.
                if (!insideBlock)
                    plugin::applyParameter(*instrument_, change->param_id, value);
                else if (plugin::parameterEvent(change->param_id, value, frame, event))
                    instrument_->queueEvent(event);
                break;
            }
            default: break;
        }
    }
}

clap_process_status Plugin::process(const clap_process_t* process) {
    if (process->transport) instrument_->queueTransport(reportOf(*process->transport), 0);
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
        end.note_id = ended.noteId;
        end.port_index = static_cast<int16_t>(ended.port);
        end.channel = static_cast<int16_t>(ended.channel);
        end.key = static_cast<int16_t>(ended.key);
        out->try_push(out, &end.header);
    }
    edits_.send(out);
    tellLatency();
    return CLAP_PROCESS_CONTINUE;
}

void Plugin::tellLatency() {
    if (instrument_->latency() == activeLatency_) return;
    if (active_) {
        if (!restartAsked_.exchange(true)) host_->request_restart(host_);
        return;
    }
    // Inactive, on the main thread (a parameter or a state): the latency reported from now on.
    activeLatency_ = instrument_->latency();
    const auto* latency = static_cast<const clap_host_latency_t*>(host_->get_extension(host_, CLAP_EXT_LATENCY));
    if (latency && latency->changed) latency->changed(host_);
}

void Plugin::addEdit(ParameterEdits::Kind kind, clap_id id, double value) {
    edits_.add({kind, id, value});
    const auto* params = static_cast<const clap_host_params_t*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
    if (params && params->request_flush) params->request_flush(host_);
}

void Plugin::beginEdit(plugin::ParameterId id) { addEdit(ParameterEdits::GestureBegin, id); }
void Plugin::performEdit(plugin::ParameterId id, int32_t value) {
    addEdit(ParameterEdits::Value, id, value);
    tellLatency();
}
void Plugin::endEdit(plugin::ParameterId id) { addEdit(ParameterEdits::GestureEnd, id); }

bool Plugin::parameterInfo(uint32_t index, clap_param_info_t* info) const {
    if (!info || index >= plugin::kParameterCount) return false;
    const plugin::ParameterInfo parameter = plugin::parameterAt(static_cast<int>(index));
    *info = clap_param_info_t{};
    info->flags = CLAP_PARAM_IS_STEPPED | (parameter.automatable ? CLAP_PARAM_IS_AUTOMATABLE : 0);
    info->id = parameter.id;
    std::snprintf(info->name, sizeof info->name, "%s", parameter.name);
    info->min_value = parameter.lowest;
    info->max_value = parameter.highest;
    info->default_value = parameter.defaultValue;
    return true;
}

bool Plugin::parameterValue(clap_id id, double* value) const {
    int32_t whole = 0;
    if (!value || !plugin::parameterValue(*instrument_, id, whole)) return false;
    *value = whole;
    return true;
}

bool Plugin::valueToText(clap_id id, double value, char* text, uint32_t size) const {
    std::string shown;
    if (!text || size == 0 || !plugin::parameterText(*instrument_, id, plugin::wholeValue(value), shown)) return false;
    std::snprintf(text, size, "%s", shown.c_str());
    return true;
}

bool Plugin::textToValue(clap_id id, const char* text, double* value) const {
    int32_t read = 0;
    if (!text || !value || !plugin::parameterValueOfText(id, text, read)) return false;
    *value = read;
    return true;
}

bool Plugin::save(const clap_ostream_t* stream) {
    return stream && plugin::saveState(*instrument_, [stream](const uint8_t* data, int64_t size) {
               return stream->write(stream, data, static_cast<uint64_t>(size));
           });
}

bool Plugin::load(const clap_istream_t* stream) {
    const bool loaded = stream && plugin::loadState(*instrument_, [stream](uint8_t* buffer, int64_t size) {
                            return stream->read(stream, buffer, static_cast<uint64_t>(size));
                        });
    tellLatency();
    return loaded;
}

// The extensions' tables, whose functions call the instance the plug-in pointer names.
const clap_plugin_audio_ports_t Plugin::kAudioPorts = {
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

const clap_plugin_note_ports_t Plugin::kNotePorts = {
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

const clap_plugin_params_t Plugin::kParams = {
    [](const clap_plugin_t*) -> uint32_t { return plugin::kParameterCount; },
    [](const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) { return of(p).parameterInfo(index, info); },
    [](const clap_plugin_t* p, clap_id id, double* value) { return of(p).parameterValue(id, value); },
    [](const clap_plugin_t* p, clap_id id, double value, char* text, uint32_t size) {
        return of(p).valueToText(id, value, text, size);
    },
    [](const clap_plugin_t* p, clap_id id, const char* text, double* value) {
        return of(p).textToValue(id, text, value);
    },
    [](const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
        of(p).take(in, false);
        of(p).tellLatency();
        of(p).edits_.send(out);
    },
};

const clap_plugin_gui_t Plugin::kGui = {
    [](const clap_plugin_t*, const char* api, bool floating) { return EditorGui::supports(api, floating); },
    [](const clap_plugin_t*, const char** api, bool* floating) {
        if (!api || !floating) return false;
        *api = EditorGui::windowApi();
        *floating = false;
        return true;
    },
    [](const clap_plugin_t* p, const char* api, bool floating) { return of(p).gui_.create(api, floating); },
    [](const clap_plugin_t* p) { of(p).gui_.destroy(); },
    [](const clap_plugin_t*, double) { return false; },  // the editor reads the screen's density itself
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

const clap_plugin_timer_support_t Plugin::kTimers = {
    [](const clap_plugin_t* p, clap_id timer) { of(p).gui_.onTimer(timer); },
};

const clap_plugin_state_t Plugin::kState = {
    [](const clap_plugin_t* p, const clap_ostream_t* stream) { return of(p).save(stream); },
    [](const clap_plugin_t* p, const clap_istream_t* stream) { return of(p).load(stream); },
};

const clap_plugin_latency_t Plugin::kLatency = {
    [](const clap_plugin_t* p) { return static_cast<uint32_t>(of(p).activeLatency_.load()); },
};

const void* Plugin::extension(const char* id) const {
    if (!id) return nullptr;
    const std::pair<const char*, const void*> extensions[] = {
        {CLAP_EXT_AUDIO_PORTS, &kAudioPorts},
        {CLAP_EXT_NOTE_PORTS, &kNotePorts},
        {CLAP_EXT_PARAMS, &kParams},
        {CLAP_EXT_STATE, &kState},
        {CLAP_EXT_GUI, &kGui},
        {CLAP_EXT_TIMER_SUPPORT, &kTimers},
        {CLAP_EXT_LATENCY, &kLatency},
    };
    for (const auto& [name, extension] : extensions)
        if (std::strcmp(id, name) == 0) return extension;
    return nullptr;
}

}  // namespace clapadapter
