#include "clap_instrument.h"

#include <clap/entry.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/host.h>
#include <clap/plugin-factory.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr clap_id kProgramParameter = 100;

// A host that offers the plug-in no extensions: the tool renders offline, alone.
const clap_host_t kHost = {CLAP_VERSION_INIT,
                           nullptr,
                           "bytone",
                           "Bytone",
                           "",
                           "1",
                           [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                           [](const clap_host_t*) {},
                           [](const clap_host_t*) {},
                           [](const clap_host_t*) {}};

// The song's transport as a CLAP host gives it: beat times are quarter notes.
clap_event_transport_t transportOf(const engine::TransportReport& report, uint32_t time) {
    constexpr double kBeatTime = static_cast<double>(CLAP_BEATTIME_FACTOR);
    clap_event_transport_t t{};
    t.header = {sizeof t, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
    t.flags = (report.playing ? CLAP_TRANSPORT_IS_PLAYING : 0) | (report.hasTempo ? CLAP_TRANSPORT_HAS_TEMPO : 0) |
              (report.hasPosition ? CLAP_TRANSPORT_HAS_BEATS_TIMELINE : 0) |
              (report.hasSignature ? CLAP_TRANSPORT_HAS_TIME_SIGNATURE : 0);
    t.song_pos_beats = std::llround(report.quarterNotes * kBeatTime);
    t.bar_start = std::llround(report.barStart * kBeatTime);
    t.tempo = report.tempo;
    t.tsig_num = static_cast<uint16_t>(report.numerator);
    t.tsig_denom = static_cast<uint16_t>(report.denominator);
    return t;
}

// An event list over events laid out one after another.
struct EventList {
    const std::vector<uint8_t>* bytes;
    const std::vector<uint32_t>* offsets;
    clap_input_events_t list() const {
        return {const_cast<EventList*>(this),
                [](const clap_input_events_t* l) {
                    return static_cast<uint32_t>(static_cast<const EventList*>(l->ctx)->offsets->size());
                },
                [](const clap_input_events_t* l, uint32_t i) {
                    const auto* self = static_cast<const EventList*>(l->ctx);
                    return reinterpret_cast<const clap_event_header_t*>(self->bytes->data() + (*self->offsets)[i]);
                }};
    }
};

const clap_output_events_t kNoOutput = {nullptr,
                                        [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};

}  // namespace

ClapInstrument::ClapInstrument(const std::string& path, double sampleRate) : library_(path), sampleRate_(sampleRate) {
    if (!library_.loaded()) {
        error_ = "cannot load " + path + ": " + library_.error();
        return;
    }
    entry_ = static_cast<const clap_plugin_entry_t*>(library_.symbol("clap_entry"));
    if (!entry_ || !entry_->init(path.c_str())) {
        error_ = path + " has no CLAP entry point";
        entry_ = nullptr;
        return;
    }
    const auto* factory = static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    plugin_ = factory ? factory->create_plugin(factory, &kHost, "com.bytone.bytone") : nullptr;
    if (!plugin_ || !plugin_->init(plugin_)) {
        error_ = path + " did not create an instance of Bytone";
        if (plugin_) plugin_->destroy(plugin_);
        plugin_ = nullptr;
    }
}

ClapInstrument::~ClapInstrument() {
    if (plugin_) {
        if (active_) plugin_->stop_processing(plugin_), plugin_->deactivate(plugin_);
        plugin_->destroy(plugin_);
    }
    if (entry_) entry_->deinit();
}

void ClapInstrument::start(int32_t maxBlockSize) {
    if (active_) return;
    active_ = plugin_->activate(plugin_, sampleRate_, 1, static_cast<uint32_t>(maxBlockSize)) &&
              plugin_->start_processing(plugin_);
}

int32_t ClapInstrument::latency() const {
    const auto* latency = static_cast<const clap_plugin_latency_t*>(plugin_->get_extension(plugin_, CLAP_EXT_LATENCY));
    const uint32_t frames = active_ && latency ? latency->get(plugin_) : 0;
    return static_cast<int32_t>(std::min<uint32_t>(frames, 1u << 20));
}

void ClapInstrument::process(const std::vector<BlockEvent>& events, const std::vector<BlockTransport>& transport,
                             float* left, float* right, int32_t frames) {
    events_.clear();
    offsets_.clear();
    const auto add = [this](const void* event, size_t size) {
        offsets_.push_back(static_cast<uint32_t>(events_.size()));
        const auto* bytes = static_cast<const uint8_t*>(event);
        events_.insert(events_.end(), bytes, bytes + size);
        events_.resize((events_.size() + 7) / 8 * 8);
    };
    // In time order, the transport before the notes of its frame.
    size_t t = transport.empty() ? 0 : 1;
    for (size_t e = 0; e <= events.size(); ++e) {
        const int32_t until = e < events.size() ? events[e].deltaFrames : frames;
        for (; t < transport.size() && transport[t].deltaFrames <= until; ++t) {
            const clap_event_transport_t change =
                transportOf(transport[t].report, static_cast<uint32_t>(transport[t].deltaFrames));
            add(&change, sizeof change);
        }
        if (e == events.size()) break;
        clap_event_midi_t midi{};
        midi.header = {sizeof midi, static_cast<uint32_t>(events[e].deltaFrames), CLAP_CORE_EVENT_SPACE_ID,
                       CLAP_EVENT_MIDI, 0};
        midi.data[0] = events[e].status, midi.data[1] = events[e].data1, midi.data[2] = events[e].data2;
        add(&midi, sizeof midi);
    }
    const EventList list{&events_, &offsets_};
    const clap_input_events_t in = list.list();
    float* channels[2] = {left, right};
    clap_audio_buffer_t out{channels, nullptr, 2, 0, 0};
    const clap_event_transport_t start =
        transport.empty() ? clap_event_transport_t{} : transportOf(transport[0].report, 0);
    const clap_process_t call{
        -1, static_cast<uint32_t>(frames), transport.empty() ? nullptr : &start, nullptr, &out, 0, 1, &in, &kNoOutput};
    plugin_->process(plugin_, &call);
}

std::vector<uint8_t> ClapInstrument::chunk() const {
    const auto* state = static_cast<const clap_plugin_state_t*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
    std::vector<uint8_t> bytes;
    const clap_ostream_t stream{&bytes, [](const clap_ostream_t* s, const void* data, uint64_t size) {
                                    auto& out = *static_cast<std::vector<uint8_t>*>(s->ctx);
                                    out.insert(out.end(), static_cast<const uint8_t*>(data),
                                               static_cast<const uint8_t*>(data) + size);
                                    return static_cast<int64_t>(size);
                                }};
    if (!state || !state->save(plugin_, &stream)) return {};
    return bytes;
}

void ClapInstrument::setChunk(std::vector<uint8_t> chunk) const {
    const auto* state = static_cast<const clap_plugin_state_t*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
    struct Reading {
        const std::vector<uint8_t>* bytes;
        size_t at;
    } reading{&chunk, 0};
    const clap_istream_t stream{&reading, [](const clap_istream_t* s, void* data, uint64_t size) {
                                    auto& r = *static_cast<Reading*>(s->ctx);
                                    const size_t n = std::min<size_t>(size, r.bytes->size() - r.at);
                                    if (n > 0) std::memcpy(data, r.bytes->data() + r.at, n);
                                    r.at += n;
                                    return static_cast<int64_t>(n);
                                }};
    if (state) state->load(plugin_, &stream);
}

int32_t ClapInstrument::program() const {
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
    double value = 0;
    return params && params->get_value(plugin_, kProgramParameter, &value) ? static_cast<int32_t>(value) : 0;
}

void ClapInstrument::setParameter(clap_id id, double value) const {
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
    if (!params) return;
    clap_event_param_value_t change{};
    change.header = {sizeof change, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    change.param_id = id, change.note_id = -1, change.port_index = -1, change.channel = -1, change.key = -1;
    change.value = value;
    const std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&change),
                                     reinterpret_cast<const uint8_t*>(&change) + sizeof change);
    const std::vector<uint32_t> offsets{0};
    const EventList list{&bytes, &offsets};
    const clap_input_events_t in = list.list();
    params->flush(plugin_, &in, &kNoOutput);
}

void ClapInstrument::setProgram(int32_t program) { setParameter(kProgramParameter, program); }

std::string ClapInstrument::programName() const {
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
    char text[256] = {};
    if (!params || !params->value_to_text(plugin_, kProgramParameter, program(), text, sizeof text)) return "";
    return text;
}
