// The same eight voices rendered through each plug-in format's entry point: the VST 2.4
// plug-in's processReplacing, linked in as the benchmarks' other instances are, the
// CLAP plug-in's process, loaded from bytone.clap as a CLAP host loads it, the VST3
// plug-in's, loaded from Bytone.vst3, and the LV2 plug-in's run, from bytone.lv2. Each
// format alone, and the four in turn, block by block, so that the ratios between them
// are measured side by side under the same noise.
#include <benchmark/benchmark.h>
#include <clap/entry.h>
#include <clap/plugin-factory.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/events.h>
#include <travesty/factory.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lv2/ports.h"
#include "plugin/parameters.h"
#include "tests/clap_host.h"
#include "tests/vst_events.h"
#include "tools/plugin_loader.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr int kVoices = 8;
constexpr int kPresetsPlayed[kVoices] = {0, 4, 11, 15, 21, 23, 28, 35};

// The messages that start the voices, each preset selected just before its note.
std::vector<VstMidiEvent> startingMessages() {
    std::vector<VstMidiEvent> messages;
    for (int v = 0; v < kVoices; ++v) {
        messages.push_back(vstMidiEvent(0xC0, kPresetsPlayed[v], 0));
        messages.push_back(vstMidiEvent(0x90, 48 + 3 * v, 100));
    }
    return messages;
}

// One format's instance playing the eight voices, a block a call.
class Player {
public:
    virtual ~Player() = default;
    // False when the plug-in did not load; nothing else may be called then.
    virtual bool loaded() const = 0;
    virtual void block() = 0;

protected:
    std::vector<float> left_ = std::vector<float>(kBlock), right_ = std::vector<float>(kBlock);
};

class VstPlayer final : public Player {
public:
    VstPlayer() {
        effect_ = VSTPluginMain([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            return opcode == audioMasterVersion ? 2400 : 0;
        });
        effect_->dispatcher(effect_, effSetSampleRate, 0, 0, nullptr, kRate);
        effect_->dispatcher(effect_, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
        effect_->dispatcher(effect_, effMainsChanged, 0, 1, nullptr, 0.0f);
        EventBlock start(startingMessages());
        effect_->dispatcher(effect_, effProcessEvents, 0, 0, start.get(), 0.0f);
    }
    ~VstPlayer() override { effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f); }
    bool loaded() const override { return true; }
    void block() override {
        float* outputs[2] = {left_.data(), right_.data()};
        effect_->processReplacing(effect_, nullptr, outputs, kBlock);
        benchmark::DoNotOptimize(left_.data());
    }

private:
    AEffect* effect_;
};

class ClapPlayer final : public Player {
public:
    ClapPlayer() {
        entry_ = static_cast<const clap_plugin_entry_t*>(library_.symbol("clap_entry"));
        if (!entry_ || !entry_->init(BYTONE_CLAP_PATH)) {
            entry_ = nullptr;
            return;
        }
        const auto* factory = static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        plugin_ = factory->create_plugin(factory, &kPlainClapHost, "com.bytone.bytone");
        plugin_->init(plugin_);
        plugin_->activate(plugin_, kRate, 1, kBlock);
        plugin_->start_processing(plugin_);
        for (const VstMidiEvent& m : startingMessages()) {
            clap_event_midi_t e{};
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
            for (int i = 0; i < 3; ++i) e.data[i] = static_cast<uint8_t>(m.midiData[i]);
            midi_.push_back(e);
        }
        channels_[0] = left_.data(), channels_[1] = right_.data();
        output_ = {channels_, nullptr, 2, 0, 0};
        process_.steady_time = -1;
        process_.frames_count = kBlock;
        process_.audio_outputs = &output_;
        process_.audio_outputs_count = 1;
        process_.in_events = &in_;
        process_.out_events = &out_;
    }
    ~ClapPlayer() override {
        if (!entry_) return;
        plugin_->stop_processing(plugin_);
        plugin_->deactivate(plugin_);
        plugin_->destroy(plugin_);
        entry_->deinit();
    }
    bool loaded() const override { return entry_ != nullptr; }
    void block() override {
        plugin_->process(plugin_, &process_);
        midi_.clear();  // the notes go with the first block only
        benchmark::DoNotOptimize(left_.data());
    }

private:
    PluginLibrary library_{BYTONE_CLAP_PATH};
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_t* plugin_ = nullptr;
    std::vector<clap_event_midi_t> midi_;
    const clap_input_events_t in_{
        &midi_,
        [](const clap_input_events_t* list) {
            return static_cast<uint32_t>(static_cast<std::vector<clap_event_midi_t>*>(list->ctx)->size());
        },
        [](const clap_input_events_t* list, uint32_t i) -> const clap_event_header_t* {
            return &(*static_cast<std::vector<clap_event_midi_t>*>(list->ctx))[i].header;
        }};
    const clap_output_events_t out_{nullptr,
                                    [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
    float* channels_[2]{};
    clap_audio_buffer_t output_{};
    clap_process_t process_{};
};

// The VST3 host's side: a block's notes, and the program parameter's one point.
v3_result noInterface(void*, const v3_tuid, void** out) {
    *out = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t oneReference(void*) { return 1; }
struct NoteList {
    const v3_event_list_cpp* table;
    std::vector<v3_event> notes;
};
const v3_event_list_cpp kNoteListTable = {
    {noInterface, oneReference, oneReference},
    {[](void* self) { return static_cast<uint32_t>(static_cast<NoteList*>(self)->notes.size()); },
     [](void* self, int32_t i, v3_event* e) -> v3_result {
         *e = static_cast<NoteList*>(self)->notes[static_cast<size_t>(i)];
         return V3_OK;
     },
     [](void*, v3_event*) -> v3_result { return V3_NOT_IMPLEMENTED; }},
};
struct ProgramPoint {
    const v3_param_value_queue_cpp* table;
    double value;
};
const v3_param_value_queue_cpp kProgramPointTable = {
    {noInterface, oneReference, oneReference},
    {[](void*) -> v3_param_id { return 100; }, [](void*) -> int32_t { return 1; },
     [](void* self, int32_t, int32_t* offset, double* value) -> v3_result {
         *offset = 0;
         *value = static_cast<ProgramPoint*>(self)->value;
         return V3_OK;
     },
     [](void*, int32_t, double, int32_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }},
};
struct Changes {
    const v3_param_changes_cpp* table;
    ProgramPoint* point;  // null: none
};
const v3_param_changes_cpp kChangesTable = {
    {noInterface, oneReference, oneReference},
    {[](void* self) -> int32_t { return static_cast<Changes*>(self)->point ? 1 : 0; },
     [](void* self, int32_t) { return reinterpret_cast<v3_param_value_queue**>(static_cast<Changes*>(self)->point); },
     [](void*, v3_param_id*, int32_t*) -> v3_param_value_queue** { return nullptr; }},
};

template <class T>
v3_funknown* unknown(T** object) {
    return reinterpret_cast<v3_funknown*>(*object);
}

class Vst3Player final : public Player {
public:
    Vst3Player() {
        auto* getFactory = reinterpret_cast<void* (*)()>(library_.symbol("GetPluginFactory"));
        if (!getFactory) return;
        factory_ = static_cast<v3_plugin_factory**>(getFactory());
        v3_class_info info{};
        v3_cpp_obj(factory_)->get_class_info(factory_, 0, &info);
        void* made = nullptr;
        v3_cpp_obj(factory_)->create_instance(factory_, info.class_id, v3_component_iid, &made);
        component_ = static_cast<v3_component**>(made);
        reinterpret_cast<v3_component_cpp*>(*component_)->base.initialize(component_, nullptr);
        void* face = nullptr;
        unknown(component_)->query_interface(component_, v3_audio_processor_iid, &face);
        processor_ = static_cast<v3_audio_processor**>(face);
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kBlock, kRate};
        v3_cpp_obj(processor_)->setup_processing(processor_, &setup);
        v3_cpp_obj(component_)->set_active(component_, true);

        channels_[0] = left_.data(), channels_[1] = right_.data();
        output_.num_channels = 2;
        output_.channel_buffers_32 = channels_;
        data_.symbolic_sample_size = V3_SAMPLE_32;
        data_.num_output_buses = 1;
        data_.outputs = &output_;
        data_.input_events = reinterpret_cast<v3_event_list**>(&notes_);
        data_.input_params = reinterpret_cast<v3_param_changes**>(&changes_);
        // Each voice in a block of one frame: its preset through the program parameter, as
        // VST3 hosts change programs, then its note.
        data_.nframes = 1;
        changes_.point = &program_;
        for (int v = 0; v < kVoices; ++v) {
            v3_event e{};
            e.type = V3_EVENT_NOTE_ON;
            e.note_on = {0, static_cast<int16_t>(48 + 3 * v), 0.0f, 100 / 127.0f, 0, -1};
            notes_.notes = {e};
            program_.value = kPresetsPlayed[v] / 127.0;
            v3_cpp_obj(processor_)->process(processor_, &data_);
        }
        notes_.notes.clear();
        changes_.point = nullptr;
        data_.nframes = kBlock;
    }
    ~Vst3Player() override {
        if (!factory_) return;
        v3_cpp_obj(component_)->set_active(component_, false);
        unknown(processor_)->unref(processor_);
        reinterpret_cast<v3_component_cpp*>(*component_)->base.terminate(component_);
        unknown(component_)->unref(component_);
        unknown(factory_)->unref(factory_);
    }
    bool loaded() const override { return factory_ != nullptr; }
    void block() override {
        v3_cpp_obj(processor_)->process(processor_, &data_);
        benchmark::DoNotOptimize(left_.data());
    }

private:
    PluginLibrary library_{BYTONE_VST3_PATH};
    v3_plugin_factory** factory_ = nullptr;
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    NoteList notes_{&kNoteListTable, {}};
    ProgramPoint program_{&kProgramPointTable, 0};
    Changes changes_{&kChangesTable, nullptr};
    float* channels_[2]{};
    v3_audio_bus_buffers output_{};
    v3_process_data data_{};
};

// The host's URID map: a URI's number is its place in the list, from 1.
LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto& uris = *static_cast<std::vector<std::string>*>(handle);
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

class Lv2Player final : public Player {
public:
    Lv2Player() {
        auto* descriptorOf = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(library_.symbol("lv2_descriptor"));
        descriptor_ = descriptorOf ? descriptorOf(0) : nullptr;
        if (!descriptor_) return;
        const LV2_Feature mapFeature{LV2_URID__map, &map_};
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        plugin_ = descriptor_->instantiate(descriptor_, kRate, BYTONE_LV2_BUNDLE "/", features);
        // The controls at their defaults: the settings' and program 0.
        for (int i = 0; i < plugin::kParameterCount; ++i)
            controls_[lv2adapter::kFirstSettingPort + i] = static_cast<float>(plugin::parameterAt(i).defaultValue);
        for (uint32_t port = lv2adapter::kFirstSettingPort; port < lv2adapter::kPortCount; ++port)
            descriptor_->connect_port(plugin_, port, &controls_[port]);
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(midi_.data());
        descriptor_->connect_port(plugin_, lv2adapter::kMidiPort, sequence);
        descriptor_->connect_port(plugin_, lv2adapter::kLeftPort, left_.data());
        descriptor_->connect_port(plugin_, lv2adapter::kRightPort, right_.data());
        descriptor_->activate(plugin_);
        const LV2_URID sequenceType = mapUri(&uris_, LV2_ATOM__Sequence),
                       midiType = mapUri(&uris_, LV2_MIDI__MidiEvent);
        sequence->atom = {sizeof(LV2_Atom_Sequence_Body), sequenceType};
        sequence->body = {0, 0};
        for (const VstMidiEvent& message : startingMessages()) {
            struct {
                LV2_Atom_Event header;
                uint8_t bytes[8];
            } event{};
            event.header.body = {3, midiType};
            std::memcpy(event.bytes, message.midiData, 3);
            lv2_atom_sequence_append_event(sequence, static_cast<uint32_t>(midi_.size() * 8), &event.header);
        }
        descriptor_->run(plugin_, 1);
        sequence->atom = {sizeof(LV2_Atom_Sequence_Body), sequenceType};  // empty from now on
    }
    ~Lv2Player() override {
        if (!descriptor_) return;
        descriptor_->deactivate(plugin_);
        descriptor_->cleanup(plugin_);
    }
    bool loaded() const override { return descriptor_ != nullptr; }
    void block() override {
        descriptor_->run(plugin_, kBlock);
        benchmark::DoNotOptimize(left_.data());
    }

private:
    PluginLibrary library_{BYTONE_LV2_BUNDLE "/bytone.so"};
    const LV2_Descriptor* descriptor_ = nullptr;
    LV2_Handle plugin_ = nullptr;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{&uris_, mapUri};
    float controls_[lv2adapter::kPortCount]{};
    std::vector<uint64_t> midi_ = std::vector<uint64_t>(1024);  // 8-byte aligned atoms
};

void countVoiceSamples(benchmark::State& state) {
    state.counters["ns_per_voice_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * kVoices,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class Format>
void BM_Format(benchmark::State& state) {
    Format player;
    if (!player.loaded()) return state.SkipWithError("the plug-in does not load");
    for (auto _ : state) player.block();
    countVoiceSamples(state);
}

// The four in turn, a block each per iteration; each format's fastest block, in ns per
// voice-sample, as counters: their ratios are what the noise touches least.
void BM_FormatsInTurn(benchmark::State& state) {
    std::unique_ptr<Player> players[] = {std::make_unique<VstPlayer>(), std::make_unique<ClapPlayer>(),
                                         std::make_unique<Vst3Player>(), std::make_unique<Lv2Player>()};
    for (const auto& player : players)
        if (!player->loaded()) return state.SkipWithError("a plug-in does not load");
    double fastest[std::size(players)];
    std::fill(std::begin(fastest), std::end(fastest), 1e30);
    for (auto _ : state) {
        for (size_t i = 0; i < std::size(players); ++i) {
            const auto start = std::chrono::steady_clock::now();
            players[i]->block();
            const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
            fastest[i] = std::min(fastest[i], took.count());
        }
    }
    const char* names[] = {"vst", "clap", "vst3", "lv2"};
    for (size_t i = 0; i < std::size(players); ++i) state.counters[names[i]] = fastest[i] / (kBlock * kVoices);
}

BENCHMARK_TEMPLATE(BM_Format, VstPlayer)->Name("BM_FormatVst");
BENCHMARK_TEMPLATE(BM_Format, ClapPlayer)->Name("BM_FormatClap");
BENCHMARK_TEMPLATE(BM_Format, Vst3Player)->Name("BM_FormatVst3");
BENCHMARK_TEMPLATE(BM_Format, Lv2Player)->Name("BM_FormatLv2");
BENCHMARK(BM_FormatsInTurn);

}  // namespace
