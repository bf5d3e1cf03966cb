// The same eight voices rendered through each plug-in format's entry point: the VST 2.4
// plug-in's processReplacing, linked in as the benchmarks' other instances are, the
// CLAP plug-in's process, loaded from bytone.clap as a CLAP host loads it, and the VST3
// plug-in's, loaded from Bytone.vst3.
#include <benchmark/benchmark.h>
#include <clap/entry.h>
#include <clap/plugin-factory.h>
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/events.h>
#include <travesty/factory.h>

#include <vector>

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

void countVoiceSamples(benchmark::State& state) {
    state.counters["ns_per_voice_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * kVoices,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FormatVst(benchmark::State& state) {
    AEffect* effect = VSTPluginMain([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
        return opcode == audioMasterVersion ? 2400 : 0;
    });
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, kRate);
    effect->dispatcher(effect, effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    EventBlock start(startingMessages());
    effect->dispatcher(effect, effProcessEvents, 0, 0, start.get(), 0.0f);
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    for (auto _ : state) {
        effect->processReplacing(effect, nullptr, outputs, kBlock);
        benchmark::DoNotOptimize(left.data());
    }
    countVoiceSamples(state);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

void BM_FormatClap(benchmark::State& state) {
    PluginLibrary library(BYTONE_CLAP_PATH);
    const auto* entry = static_cast<const clap_plugin_entry_t*>(library.symbol("clap_entry"));
    if (!entry || !entry->init(BYTONE_CLAP_PATH)) {
        state.SkipWithError("bytone.clap does not load");
        return;
    }
    const auto* factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    static const clap_host_t host = {CLAP_VERSION_INIT, nullptr, "bench", "Bytone", "", "1",
                                     [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                                     [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host, "com.bytone.bytone");
    plugin->init(plugin);
    plugin->activate(plugin, kRate, 1, kBlock);
    plugin->start_processing(plugin);

    std::vector<clap_event_midi_t> midi;
    for (const VstMidiEvent& m : startingMessages()) {
        clap_event_midi_t e{};
        e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
        for (int i = 0; i < 3; ++i) e.data[i] = static_cast<uint8_t>(m.midiData[i]);
        midi.push_back(e);
    }
    size_t pending = midi.size();  // handed over with the first block only
    const clap_input_events_t in{&midi,
                                 [](const clap_input_events_t* list) {
                                     return static_cast<uint32_t>(static_cast<std::vector<clap_event_midi_t>*>(list->ctx)->size());
                                 },
                                 [](const clap_input_events_t* list, uint32_t i) -> const clap_event_header_t* {
                                     return &(*static_cast<std::vector<clap_event_midi_t>*>(list->ctx))[i].header;
                                 }};
    const clap_output_events_t out{nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
    std::vector<float> left(kBlock), right(kBlock);
    float* channels[2] = {left.data(), right.data()};
    clap_audio_buffer_t output{channels, nullptr, 2, 0, 0};
    clap_process_t process{};
    process.steady_time = -1;
    process.frames_count = kBlock;
    process.audio_outputs = &output;
    process.audio_outputs_count = 1;
    process.in_events = &in;
    process.out_events = &out;
    for (auto _ : state) {
        plugin->process(plugin, &process);
        if (pending) midi.clear(), pending = 0;
        benchmark::DoNotOptimize(left.data());
    }
    countVoiceSamples(state);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    entry->deinit();
}

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

void BM_FormatVst3(benchmark::State& state) {
    PluginLibrary library(BYTONE_VST3_PATH);
    auto* getFactory = reinterpret_cast<void* (*)()>(library.symbol("GetPluginFactory"));
    if (!getFactory) {
        state.SkipWithError("Bytone.vst3 does not load");
        return;
    }
    auto** factory = static_cast<v3_plugin_factory**>(getFactory());
    v3_class_info info{};
    v3_cpp_obj(factory)->get_class_info(factory, 0, &info);
    void* made = nullptr;
    v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_component_iid, &made);
    auto** component = static_cast<v3_component**>(made);
    reinterpret_cast<v3_component_cpp*>(*component)->base.initialize(component, nullptr);
    void* face = nullptr;
    unknown(component)->query_interface(component, v3_audio_processor_iid, &face);
    auto** processor = static_cast<v3_audio_processor**>(face);
    v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kBlock, kRate};
    v3_cpp_obj(processor)->setup_processing(processor, &setup);
    v3_cpp_obj(component)->set_active(component, true);

    NoteList notes{&kNoteListTable, {}};
    ProgramPoint program{&kProgramPointTable, 0};
    Changes changes{&kChangesTable, nullptr};
    std::vector<float> left(kBlock), right(kBlock);
    float* channels[2] = {left.data(), right.data()};
    v3_audio_bus_buffers output{};
    output.num_channels = 2;
    output.channel_buffers_32 = channels;
    v3_process_data data{};
    data.symbolic_sample_size = V3_SAMPLE_32;
    data.num_output_buses = 1;
    data.outputs = &output;
    data.input_events = reinterpret_cast<v3_event_list**>(&notes);
    data.input_params = reinterpret_cast<v3_param_changes**>(&changes);
    // Each voice in a block of one frame: its preset through the program parameter, as
    // VST3 hosts change programs, then its note.
    data.nframes = 1;
    changes.point = &program;
    for (int v = 0; v < kVoices; ++v) {
        v3_event e{};
        e.type = V3_EVENT_NOTE_ON;
        e.note_on = {0, static_cast<int16_t>(48 + 3 * v), 0.0f, 100 / 127.0f, 0, -1};
        notes.notes = {e};
        program.value = kPresetsPlayed[v] / 127.0;
        v3_cpp_obj(processor)->process(processor, &data);
    }
    notes.notes.clear();
    changes.point = nullptr;
    data.nframes = kBlock;
    for (auto _ : state) {
        v3_cpp_obj(processor)->process(processor, &data);
        benchmark::DoNotOptimize(left.data());
    }
    countVoiceSamples(state);
    v3_cpp_obj(component)->set_active(component, false);
    unknown(processor)->unref(processor);
    reinterpret_cast<v3_component_cpp*>(*component)->base.terminate(component);
    unknown(component)->unref(component);
    unknown(factory)->unref(factory);
}

BENCHMARK(BM_FormatVst);
BENCHMARK(BM_FormatClap);
BENCHMARK(BM_FormatVst3);

}  // namespace
