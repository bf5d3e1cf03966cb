// The LV2 plug-in as a host loads it through lilv: the bundle's description against the
// code's ports and programs, the presets' sound against the VST 2.4 plug-in's, controls
// and MIDI at their frames, and the state.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/instrument.h"
#include "lv2/ports.h"
#include "parameter_cases.h"
#include "plugin_loader.h"
#include "preset_sequence.h"
#include "song_cases.h"

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 512;

std::vector<std::string> mapped;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < mapped.size(); ++i)
        if (mapped[i] == uri) return static_cast<LV2_URID>(i + 1);
    mapped.push_back(uri);
    return static_cast<LV2_URID>(mapped.size());
}
LV2_URID_Map map{nullptr, mapUri};
const LV2_Feature mapFeature{LV2_URID__map, &map};
const LV2_Feature* const features[] = {&mapFeature, nullptr};

// One instance with its ports connected: a MIDI sequence, the outputs and the controls.
struct Instance {
    explicit Instance(const LilvPlugin* plugin, double rate = kRate)
        : instance(lilv_plugin_instantiate(plugin, rate, features)) {
        if (!instance) return;
        for (uint32_t p = lv2adapter::kFirstSettingPort; p < lv2adapter::kPortCount; ++p) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            LilvNode* value = nullptr;
            lilv_port_get_range(plugin, port, &value, nullptr, nullptr);
            controls[p] = lilv_node_as_float(value);
            lilv_node_free(value);
            lilv_instance_connect_port(instance, p, &controls[p]);
        }
        lilv_instance_connect_port(instance, lv2adapter::kMidiPort, midi.data());
        lilv_instance_connect_port(instance, lv2adapter::kLeftPort, left.data());
        lilv_instance_connect_port(instance, lv2adapter::kRightPort, right.data());
        lilv_instance_activate(instance);
    }
    ~Instance() {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    // One block with these MIDI events and transport positions (each at its frame, the
    // positions first).
    void run(const std::vector<VstMidiEvent>& events = {}, const std::vector<songcases::Report>& positions = {},
             uint32_t frames = kBlock) {
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(midi.data());
        sequence->atom = {sizeof(LV2_Atom_Sequence_Body), mapUri(nullptr, LV2_ATOM__Sequence)};
        sequence->body = {0, 0};
        for (const songcases::Report& r : positions) {
            // A time:Position as hosts send it: the bar, the beat in it and the tempo in the
            // signature's unit.
            uint64_t event[32]{};
            event[0] = static_cast<uint64_t>(r.frame);
            LV2_Atom_Forge forge;
            lv2_atom_forge_init(&forge, &map);
            lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(event + 1), sizeof event - 8);
            const double beats = r.quarterNotes * r.denominator / 4.0;
            const auto bar = static_cast<int64_t>(std::floor(beats / r.numerator));
            LV2_Atom_Forge_Frame frame;
            lv2_atom_forge_object(&forge, &frame, 0, mapUri(nullptr, LV2_TIME__Position));
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__bar));
            lv2_atom_forge_long(&forge, bar);
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__barBeat));
            lv2_atom_forge_float(&forge, static_cast<float>(beats - static_cast<double>(bar) * r.numerator));
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__beatUnit));
            lv2_atom_forge_int(&forge, r.denominator);
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__beatsPerBar));
            lv2_atom_forge_float(&forge, static_cast<float>(r.numerator));
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__beatsPerMinute));
            lv2_atom_forge_float(&forge, static_cast<float>(r.tempo * r.denominator / 4.0));
            lv2_atom_forge_key(&forge, mapUri(nullptr, LV2_TIME__speed));
            lv2_atom_forge_float(&forge, r.playing ? 1.0f : 0.0f);
            lv2_atom_forge_pop(&forge, &frame);
            lv2_atom_sequence_append_event(sequence, static_cast<uint32_t>(midi.size() * 8),
                                           reinterpret_cast<LV2_Atom_Event*>(event));
        }
        for (const VstMidiEvent& e : events) {
            struct {
                LV2_Atom_Event header;
                uint8_t bytes[8];
            } event{};
            event.header.time.frames = e.deltaFrames;
            event.header.body = {3, mapUri(nullptr, LV2_MIDI__MidiEvent)};
            std::memcpy(event.bytes, e.midiData, 3);
            lv2_atom_sequence_append_event(sequence, static_cast<uint32_t>(midi.size() * 8), &event.header);
        }
        lilv_instance_run(instance, frames);
    }
    // The state's bytes; the controls stored beside them go to `savedControls`.
    std::vector<uint8_t> save() {
        std::map<uint32_t, std::vector<uint8_t>> properties;
        state()->save(
            lilv_instance_get_handle(instance),
            [](LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t, uint32_t) {
                const auto* at = static_cast<const uint8_t*>(value);
                (*static_cast<std::map<uint32_t, std::vector<uint8_t>>*>(handle))[key].assign(at, at + size);
                return LV2_STATE_SUCCESS;
            },
            &properties, 0, nullptr);
        savedControls = properties[mapUri(nullptr, lv2adapter::kControlsKey)];
        return properties[mapUri(nullptr, lv2adapter::kStateKey)];
    }
    LV2_State_Status restore(std::vector<uint8_t> bytes, const char* type = LV2_ATOM__Chunk,
                             std::vector<uint8_t> controls = {}) {
        struct Stored {
            std::vector<uint8_t> bytes, controls;
            LV2_URID type;
        } stored{std::move(bytes), std::move(controls), mapUri(nullptr, type)};
        return state()->restore(
            lilv_instance_get_handle(instance),
            [](LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) -> const void* {
                const auto& s = *static_cast<Stored*>(handle);
                const std::vector<uint8_t>* value = key == mapUri(nullptr, lv2adapter::kStateKey)      ? &s.bytes
                                                    : key == mapUri(nullptr, lv2adapter::kControlsKey) ? &s.controls
                                                                                                       : nullptr;
                if (!value || value->empty()) return nullptr;
                *size = value->size(), *type = s.type, *flags = LV2_STATE_IS_POD;
                return value->data();
            },
            &stored, 0, nullptr);
    }
    const LV2_State_Interface* state() {
        return static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    }

    LilvInstance* instance;
    std::vector<uint64_t> midi = std::vector<uint64_t>(4096);  // 8-byte aligned atoms
    std::vector<float> left = std::vector<float>(kBlock), right = std::vector<float>(kBlock);
    float controls[lv2adapter::kPortCount]{};
    std::vector<uint8_t> savedControls;
};

class Lv2Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, BYTONE_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, lv2adapter::kUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    static void TearDownTestSuite() { lilv_world_free(world); }
    void SetUp() override { ASSERT_NE(plugin, nullptr) << "the bundle holds no plug-in " << lv2adapter::kUri; }

    static inline LilvWorld* world = nullptr;
    static inline const LilvPlugin* plugin = nullptr;
};

TEST_F(Lv2Test, TheDescriptionIsWhatTheCodeDoes) {
    EXPECT_EQ(lilv_plugin_get_num_ports(plugin), lv2adapter::kPortCount);
    EXPECT_EQ(lilv_plugin_get_latency_port_index(plugin), lv2adapter::kLatencyPort);
    LilvNode* midiEvent = lilv_new_uri(world, LV2_MIDI__MidiEvent);
    EXPECT_TRUE(
        lilv_port_supports_event(plugin, lilv_plugin_get_port_by_index(plugin, lv2adapter::kMidiPort), midiEvent));
    lilv_node_free(midiEvent);
    // The first release's settings, the program, then the settings that came after.
    for (int i = 0; i <= engine::kSettingCount; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, lv2adapter::portOfParameter(i));
        ASSERT_NE(port, nullptr);
        const bool program = i == engine::kClassicSettingCount;
        const int number = i < engine::kClassicSettingCount ? i : i - 1;
        const engine::SettingInfo& info = engine::settingInfo(static_cast<engine::Setting>(program ? 0 : number));
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), program ? "program" : info.key);
        LilvNode *byDefault = nullptr, *lowest = nullptr, *highest = nullptr;
        lilv_port_get_range(plugin, port, &byDefault, &lowest, &highest);
        EXPECT_EQ(lilv_node_as_float(byDefault), program ? 0 : info.defaultValue) << i;
        EXPECT_EQ(lilv_node_as_float(lowest), program ? 0 : engine::lowestValue(info)) << i;
        EXPECT_EQ(lilv_node_as_float(highest), program ? 127 : info.highest) << i;
        lilv_node_free(byDefault), lilv_node_free(lowest), lilv_node_free(highest);
    }
    // The switches' labels are the editor's texts.
    LilvScalePoints* points =
        lilv_port_get_scale_points(plugin, lilv_plugin_get_port_by_index(plugin, lv2adapter::kFirstSettingPort + 4));
    std::vector<std::string> labels;
    LILV_FOREACH(scale_points, i, points)
    labels.push_back(lilv_node_as_string(lilv_scale_point_get_label(lilv_scale_points_get(points, i))));
    lilv_scale_points_free(points);
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels, (std::vector<std::string>{"off", "on"}));
    // The scope's zoom is a view setting, MPE (after the Program) a mode: no lane of automation.
    LilvNode* notAutomatic = lilv_new_uri(world, "http://lv2plug.in/ns/ext/port-props#notAutomatic");
    for (int i = 0; i <= engine::kSettingCount; ++i)
        EXPECT_EQ(lilv_port_has_property(plugin, lilv_plugin_get_port_by_index(plugin, lv2adapter::portOfParameter(i)),
                                         notAutomatic),
                  i == 6 || i == engine::kClassicSettingCount + 1)
            << i;
    lilv_node_free(notAutomatic);

    // One preset per built-in program, labelled as the program is named; the bank's other
    // programs are no presets.
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(world, LILV_NS_RDFS "label");
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    std::vector<std::string> names;
    LILV_FOREACH(nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        lilv_world_load_resource(world, preset);
        LilvNodes* labelled = lilv_world_find_nodes(world, preset, label, nullptr);
        if (labelled) names.push_back(lilv_node_as_string(lilv_nodes_get_first(labelled)));
        lilv_nodes_free(labelled);
    }
    lilv_nodes_free(presets);
    lilv_node_free(label), lilv_node_free(presetClass);
    std::sort(names.begin(), names.end());
    engine::Instrument instrument;
    std::vector<std::string> programs;
    for (int p = 0; p < 38; ++p) {
        char name[kNameSize];
        instrument.programName(p, name, sizeof name);
        programs.push_back(name);
    }
    std::sort(programs.begin(), programs.end());
    EXPECT_EQ(names, programs);
}

TEST_F(Lv2Test, ThePresetsSoundAsTheVst24PluginsDoSampleForSample) {
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    AEffect* effect = vstLibrary.entry("VSTPluginMain")(
        [](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            return opcode == audioMasterVersion ? 2400 : opcode == audioMasterGetSampleRate ? kRate : 0;
        });
    ASSERT_NE(effect, nullptr);
    Instance lv2(plugin);
    ASSERT_NE(lv2.instance, nullptr);
    const std::vector<TimedMessage> messages = sequence();
    std::vector<float> vst(kBlock), unused(kBlock);
    float* outputs[2] = {vst.data(), unused.data()};
    long differ = 0, sounding = 0;
    for (int preset = 0; preset < kPresets; ++preset) {
        effect->dispatcher(effect, effSetProgram, 0, preset, nullptr, 0.0f);
        effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f);
        lv2.controls[lv2adapter::kProgramPort] = static_cast<float>(preset);
        for (long start = 0; start < kRate * 4L; start += kBlock) {
            EventBlock block(blockEvents(messages, kRate, start, kBlock));
            effect->dispatcher(effect, effProcessEvents, 0, 0, block.get(), 0.0f);
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            std::vector<VstMidiEvent> events;
            for (int i = 0; i < block.get()->numEvents; ++i)
                events.push_back(*reinterpret_cast<const VstMidiEvent*>(block.get()->events[i]));
            lv2.run(events);
            for (uint32_t k = 0; k < kBlock; ++k) {
                differ += vst[k] != lv2.left[k] || lv2.left[k] != lv2.right[k];
                sounding += vst[k] != 0;
            }
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(differ, 0);
    EXPECT_GT(sounding, kPresets * kRate) << "the presets are silent";
}

// The host's transport as time:Position objects: one at each block's start, and one
// where the song jumps or the tempo changes inside a block.
TEST_F(Lv2Test, FormulasFollowTheHostsTransportAndTheirNote) {
    using namespace songcases;
    const auto play = [&](const char* formula, const Scenario& s) {
        Instance lv2(plugin, songcases::kRate);
        EXPECT_EQ(lv2.restore(stateWith(formula)), LV2_STATE_SUCCESS) << formula;
        std::vector<float> left, right;
        for (int64_t at = 0; at < s.frames; at += kBlock) {
            std::vector<VstMidiEvent> events;
            if (at == 0)
                for (const auto& m : kNoteMidi) events.push_back(vstMidiEvent(m[0], m[1], m[2], 0));
            std::vector<Report> positions = {reportAt(s, at)};
            for (int64_t frame : reportFramesIn(s, at, kBlock)) positions.push_back(reportAt(s, frame));
            for (Report& r : positions) r.frame -= at;
            lv2.run(events, positions);
            left.insert(left.end(), lv2.left.begin(), lv2.left.end());
            right.insert(right.end(), lv2.right.begin(), lv2.right.end());
        }
        return std::pair{left, right};
    };
    expectEveryCase(play);
}

TEST_F(Lv2Test, AControlActsWhenItMovesAndNotOtherwise) {
    Instance quiet(plugin), loud(plugin);
    const std::vector<VstMidiEvent> note = {vstMidiEvent(0x90, 69, 100, 0)};
    loud.controls[lv2adapter::kFirstSettingPort + 3] = 200;  // Gain, from the block's start
    quiet.run(note);
    loud.run(note);
    int differ = 0;
    for (uint32_t k = 0; k < kBlock; ++k) differ += quiet.left[k] != loud.left[k];
    EXPECT_GT(differ, 400);
    // A state that sets the Gain is not undone by the port, which did not move.
    std::vector<uint8_t> state = loud.save();
    ASSERT_EQ(quiet.restore(state), LV2_STATE_SUCCESS);
    quiet.run();
    EXPECT_EQ(quiet.save(), state);

    // A host that sets the saved port values and then restores: the Program port still
    // holds the preset's 8 while MIDI chose program 3 afterwards, and 3 stays.
    Instance played(plugin), reloaded(plugin);
    played.controls[lv2adapter::kProgramPort] = reloaded.controls[lv2adapter::kProgramPort] = 8;
    played.run();
    played.run({vstMidiEvent(0xC0, 3, 0, 0)});
    played.run();
    state = played.save();
    ASSERT_EQ(reloaded.restore(state, LV2_ATOM__Chunk, played.savedControls), LV2_STATE_SUCCESS);
    reloaded.run();
    EXPECT_EQ(reloaded.save(), state);

    // The latency port reports the oversampling's delay.
    Instance oversampled(plugin);
    EXPECT_EQ(std::string(lilv_node_as_string(lilv_port_get_symbol(
                  plugin, lilv_plugin_get_port_by_index(plugin, lv2adapter::portOfParameter(13))))),
              "oversample");
    oversampled.controls[lv2adapter::portOfParameter(13)] = 3;
    oversampled.run();
    EXPECT_EQ(oversampled.controls[lv2adapter::kLatencyPort], engine::Decimator::latencyOf(8));
    quiet.run();
    EXPECT_EQ(quiet.controls[lv2adapter::kLatencyPort], 0);
}

TEST_F(Lv2Test, AStateOfAnEarlierReleaseLoadsAndSavesByteForByte) {
    const std::vector<uint8_t> state = savedStateFixture();
    Instance instance(plugin);
    ASSERT_EQ(instance.restore(state), LV2_STATE_SUCCESS);
    EXPECT_EQ(instance.save(), state);
}

TEST_F(Lv2Test, TheStateRoundTripsAndRefusesWhatIsNotOurs) {
    Instance first(plugin), second(plugin);
    first.controls[lv2adapter::kFirstSettingPort + 3] = 150;  // Gain
    first.controls[lv2adapter::kFirstSettingPort + 0] = 3;    // Poly
    first.run();
    const std::vector<uint8_t> state = first.save();
    ASSERT_EQ(second.restore(state), LV2_STATE_SUCCESS);
    EXPECT_EQ(second.save(), state);
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    EXPECT_EQ(throughVst24(vstLibrary.entry("VSTPluginMain"), state).size() + 16, state.size())
        << "all but the Gain and the program";
    Instance third(plugin);
    const std::vector<uint8_t> fresh = third.save();
    for (const std::vector<uint8_t>& foreign :
         {std::vector<uint8_t>{'h', 'i'}, std::vector<uint8_t>(600000, 0),
          std::vector<uint8_t>(state.begin() + 4, state.end()),
          std::vector<uint8_t>(state.begin(), state.begin() + static_cast<long>(state.size() / 2)),
          std::vector<uint8_t>(state.begin(), state.end() - 1)})
        EXPECT_NE(third.restore(foreign), LV2_STATE_SUCCESS);
    EXPECT_NE(third.restore(state, LV2_ATOM__String), LV2_STATE_SUCCESS);
    EXPECT_EQ(third.save(), fresh);
}

}  // namespace
