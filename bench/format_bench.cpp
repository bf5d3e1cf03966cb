// The same eight voices rendered through each plug-in format's entry point: the VST 2.4
// plug-in's processReplacing, linked in as the benchmarks' other instances are, and the
// CLAP plug-in's process, loaded from bytone.clap as a CLAP host loads it.
#include <benchmark/benchmark.h>
#include <clap/entry.h>
#include <clap/plugin-factory.h>

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

BENCHMARK(BM_FormatVst);
BENCHMARK(BM_FormatClap);

}  // namespace
