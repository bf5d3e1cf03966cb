// The VST3 plug-in as a VST3 host loads it: the module's entry points, the factory, the
// component with its processor, controller, program list and MIDI mapping; its sound
// against the VST 2.4 plug-in's, its parameters, its state against the other formats',
// and every reference it hands out given back.
#include <clap/entry.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <gtest/gtest.h>
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/events.h>
#include <travesty/factory.h>
#include <travesty/unit.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "clap_host.h"
#include "parameter_cases.h"
#include "plugin_loader.h"
#include "preset_sequence.h"
#include "song_cases.h"
#include "vst3/note_expression.h"
#include "vst3/unit_handler.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 512;
constexpr v3_param_id kProgram = 100, kGain = 3;

std::string ascii(const int16_t* text) {
    std::string s;
    for (int i = 0; i < 128 && text[i]; ++i) s += static_cast<char>(text[i]);
    return s;
}
std::vector<int16_t> utf16(const std::string& text) {
    std::vector<int16_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// The host's objects, in the binary convention: the first member points to a table whose
// first three functions are funknown's. The plug-in takes no references to them.
v3_result noInterface(void*, const v3_tuid, void** out) {
    *out = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t oneReference(void*) { return 1; }
constexpr v3_funknown kUnknown{noInterface, oneReference, oneReference};

// Bytes in memory, read a few at a time as a file would give them.
struct Stream {
    struct Table {
        v3_funknown unknown;
        v3_bstream stream;
    };
    static Stream& of(void* self) { return *static_cast<Stream*>(self); }
    static const Table kTable;

    const Table* table = &kTable;
    std::vector<uint8_t> bytes;
    size_t at = 0;
    v3_bstream** get() { return reinterpret_cast<v3_bstream**>(this); }
};
const Stream::Table Stream::kTable{
    kUnknown,
    {[](void* self, void* buffer, int32_t size, int32_t* read) -> v3_result {
         Stream& s = of(self);
         const auto n = static_cast<int32_t>(std::min<size_t>(std::min(size, 1000), s.bytes.size() - s.at));
         if (n > 0) std::memcpy(buffer, s.bytes.data() + s.at, static_cast<size_t>(n));
         s.at += static_cast<size_t>(n);
         if (read) *read = n;
         return V3_OK;
     },
     [](void* self, void* buffer, int32_t size, int32_t* written) -> v3_result {
         const auto* at = static_cast<const uint8_t*>(buffer);
         of(self).bytes.insert(of(self).bytes.end(), at, at + size);
         if (written) *written = size;
         return V3_OK;
     },
     [](void*, int64_t, int32_t, int64_t*) -> v3_result { return V3_NOT_IMPLEMENTED; },
     [](void* self, int64_t* position) -> v3_result {
         *position = static_cast<int64_t>(of(self).at);
         return V3_OK;
     }},
};
// A host's component handler with its unit handler, writing down what it is told
// ("restart 4", "list 1 -1").
struct HostHandler {
    struct Table {
        v3_funknown unknown;
        v3_component_handler handler;
    };
    struct UnitsTable {
        v3_funknown unknown;
        v3_unit_handler units;
    };
    struct Units {
        const UnitsTable* table;
        HostHandler* host;
    };
    static HostHandler& of(void* self) { return *static_cast<HostHandler*>(self); }
    static const Table kTable;
    static const UnitsTable kUnitsTable;

    const Table* table = &kTable;
    Units units{&kUnitsTable, this};
    std::vector<std::string> told;
};
const HostHandler::Table HostHandler::kTable{
    {[](void* self, const v3_tuid iid, void** out) -> v3_result {
         *out = v3_tuid_match(iid, v3_unit_handler_iid) ? &of(self).units : nullptr;
         return *out ? V3_OK : V3_NO_INTERFACE;
     },
     oneReference, oneReference},
    {[](void*, v3_param_id) -> v3_result { return V3_OK; },
     [](void*, v3_param_id, double) -> v3_result { return V3_OK; },
     [](void*, v3_param_id) -> v3_result { return V3_OK; },
     [](void* self, int32_t flags) -> v3_result {
         of(self).told.push_back("restart " + std::to_string(flags));
         return V3_OK;
     }},
};
const HostHandler::UnitsTable HostHandler::kUnitsTable{
    kUnknown,
    {[](void*, int32_t) -> v3_result { return V3_OK; },
     [](void* self, int32_t list, int32_t program) -> v3_result {
         static_cast<HostHandler::Units*>(self)->host->told.push_back("list " + std::to_string(list) + " " +
                                                                      std::to_string(program));
         return V3_OK;
     }},
};
// One parameter's points in a block.
struct Queue {
    struct Table {
        v3_funknown unknown;
        v3_param_value_queue queue;
    };
    static Queue& of(void* self) { return *static_cast<Queue*>(self); }
    static const Table kTable;

    const Table* table = &kTable;
    v3_param_id id = 0;
    std::vector<std::pair<int32_t, double>> points;
};
const Queue::Table Queue::kTable{
    kUnknown,
    {[](void* self) { return of(self).id; }, [](void* self) { return static_cast<int32_t>(of(self).points.size()); },
     [](void* self, int32_t i, int32_t* offset, double* value) -> v3_result {
         if (i < 0 || i >= static_cast<int32_t>(of(self).points.size())) return V3_INVALID_ARG;
         *offset = of(self).points[static_cast<size_t>(i)].first;
         *value = of(self).points[static_cast<size_t>(i)].second;
         return V3_OK;
     },
     [](void*, int32_t, double, int32_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }},
};
// What a host hands to one process call: parameter points and note events.
struct BlockInput {
    struct ChangesTable {
        v3_funknown unknown;
        v3_param_changes changes;
    };
    struct EventsTable {
        v3_funknown unknown;
        v3_event_list events;
    };
    struct Changes {
        const ChangesTable* table;
        BlockInput* input;
    };
    struct Events {
        const EventsTable* table;
        BlockInput* input;
    };
    static BlockInput& of(void* self) { return *static_cast<Changes*>(self)->input; }
    static const ChangesTable kChanges;

    static const EventsTable kEvents;

    void point(v3_param_id id, int32_t offset, double value) {
        for (Queue& q : queues)
            if (q.id == id) return q.points.push_back({offset, value});
        queues.push_back(Queue{});
        queues.back().id = id;
        queues.back().points.push_back({offset, value});
    }
    void note(int32_t offset, bool on, int channel, int key, float velocity) {
        v3_event e{};
        e.sample_offset = offset;
        e.type = on ? V3_EVENT_NOTE_ON : V3_EVENT_NOTE_OFF;
        if (on)
            e.note_on = {static_cast<int16_t>(channel), static_cast<int16_t>(key), 0.0f, velocity, 0, -1};
        else
            e.note_off = {static_cast<int16_t>(channel), static_cast<int16_t>(key), 0.0f, -1, 0.0f};
        notes.push_back(e);
    }
    std::vector<Queue> queues;
    std::vector<v3_event> notes;
    Changes changes{&kChanges, this};
    Events events{&kEvents, this};
};
const BlockInput::EventsTable BlockInput::kEvents{
    kUnknown,
    {[](void* self) { return static_cast<uint32_t>(of(self).notes.size()); },
     [](void* self, int32_t i, v3_event* e) -> v3_result {
         *e = of(self).notes[static_cast<size_t>(i)];
         return V3_OK;
     },
     [](void*, v3_event*) -> v3_result { return V3_NOT_IMPLEMENTED; }},
};
const BlockInput::ChangesTable BlockInput::kChanges{
    kUnknown,
    {[](void* self) { return static_cast<int32_t>(of(self).queues.size()); },
     [](void* self, int32_t i) -> v3_param_value_queue** {
         return reinterpret_cast<v3_param_value_queue**>(&of(self).queues[static_cast<size_t>(i)]);
     },
     [](void*, v3_param_id*, int32_t*) -> v3_param_value_queue** { return nullptr; }},
};
class Vst3Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.loaded()) << library.error();
#ifdef _WIN32
        auto* enter = reinterpret_cast<bool (*)()>(library.symbol("InitDll"));
        ASSERT_TRUE(enter && enter());
#else
        auto* enter = reinterpret_cast<bool (*)(void*)>(library.symbol("ModuleEntry"));
        ASSERT_TRUE(enter && enter(nullptr));
#endif
        auto* getFactory = reinterpret_cast<void* (*)()>(library.symbol("GetPluginFactory"));
        ASSERT_NE(getFactory, nullptr);
        factory = static_cast<v3_plugin_factory**>(getFactory());
        ASSERT_NE(factory, nullptr);
        component = create();
    }
    void TearDown() override {
        for (v3_component** c : made) {
            auto* controller = face<v3_edit_controller>(c, v3_edit_controller_iid);
            base(controller)->terminate(controller);
            release(controller);
            EXPECT_EQ(release(c), 0u) << "a reference of the plug-in was not given back";
        }
        if (factory) {
            EXPECT_EQ(release(factory), 0u) << "a reference of the factory was not given back";
        }
#ifdef _WIN32
        if (auto* leave = reinterpret_cast<bool (*)()>(library.symbol("ExitDll"))) leave();
#else
        if (auto* leave = reinterpret_cast<bool (*)()>(library.symbol("ModuleExit"))) leave();
#endif
    }

    // The initialize and terminate of a component or controller, which follow funknown's.
    template <class T>
    static v3_plugin_base* base(T** object) {
        return &reinterpret_cast<v3_component_cpp*>(*object)->base;
    }
    template <class T>
    static uint32_t release(T** object) {
        return reinterpret_cast<v3_funknown*>(*object)->unref(object);
    }
    // Another interface of the same object; the test gives each back.
    template <class T, class From>
    T** face(From** object, const v3_tuid iid) {
        void* out = nullptr;
        EXPECT_EQ(reinterpret_cast<v3_funknown*>(*object)->query_interface(object, iid, &out), V3_OK);
        return static_cast<T**>(out);
    }
    template <class T, class From, class Call>
    auto with(From** object, const v3_tuid iid, Call&& call) {
        T** f = face<T>(object, iid);
        auto result = call(f, v3_cpp_obj(f));
        release(f);
        return result;
    }

    v3_component** create(double rate = kRate) {
        v3_tuid classId{};
        v3_class_info info{};
        EXPECT_EQ(v3_cpp_obj(factory)->get_class_info(factory, 0, &info), V3_OK);
        std::memcpy(classId, info.class_id, sizeof classId);
        void* out = nullptr;
        EXPECT_EQ(v3_cpp_obj(factory)->create_instance(factory, classId, v3_component_iid, &out), V3_OK);
        auto* c = static_cast<v3_component**>(out);
        if (!c) return nullptr;
        EXPECT_EQ(base(c)->initialize(c, nullptr), V3_OK);
        v3_speaker_arrangement stereo = V3_SPEAKER_L | V3_SPEAKER_R;
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kBlock, rate};
        with<v3_audio_processor>(c, v3_audio_processor_iid, [&](auto* self, auto* p) {
            EXPECT_EQ(p->set_bus_arrangements(self, nullptr, 0, &stereo, 1), V3_OK);
            EXPECT_EQ(p->setup_processing(self, &setup), V3_OK);
            return 0;
        });
        EXPECT_EQ(v3_cpp_obj(c)->set_active(c, true), V3_OK);
        made.push_back(c);
        return c;
    }

    // One block (or, with no frames, a flush of parameters).
    void process(v3_component** c, BlockInput& input, float* left, float* right, int32_t frames = kBlock,
                 v3_process_context* context = nullptr) {
        float* channels[2] = {left, right};
        v3_audio_bus_buffers out{};
        out.num_channels = 2;
        out.channel_buffers_32 = channels;
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = frames;
        data.num_output_buses = 1;
        data.outputs = &out;
        data.input_params = reinterpret_cast<v3_param_changes**>(&input.changes);
        data.input_events = reinterpret_cast<v3_event_list**>(&input.events);
        data.ctx = context;
        with<v3_audio_processor>(c, v3_audio_processor_iid, [&](auto* self, auto* p) {
            EXPECT_EQ(p->process(self, &data), V3_OK);
            return 0;
        });
    }
    double normalised(v3_component** c, v3_param_id id) {
        return with<v3_edit_controller>(c, v3_edit_controller_iid,
                                        [&](auto* self, auto* e) { return e->get_parameter_normalised(self, id); });
    }
    double plain(v3_component** c, v3_param_id id) {
        return with<v3_edit_controller>(c, v3_edit_controller_iid, [&](auto* self, auto* e) {
            return e->normalised_parameter_to_plain(self, id, e->get_parameter_normalised(self, id));
        });
    }
    double toNormalised(v3_param_id id, double value) {
        return with<v3_edit_controller>(component, v3_edit_controller_iid, [&](auto* self, auto* e) {
            return e->plain_parameter_to_normalised(self, id, value);
        });
    }
    std::vector<uint8_t> save(v3_component** c) {
        Stream stream;
        EXPECT_EQ(v3_cpp_obj(c)->get_state(c, stream.get()), V3_OK);
        return stream.bytes;
    }
    v3_result load(v3_component** c, const std::vector<uint8_t>& bytes) {
        Stream stream;
        stream.bytes = bytes;
        return v3_cpp_obj(c)->set_state(c, stream.get());
    }

    PluginLibrary library{BYTONE_VST3_PATH};
    v3_plugin_factory** factory = nullptr;
    v3_component** component = nullptr;
    std::vector<v3_component**> made;
};

AEffect* vstInstance(PluginLibrary& library) {
    return library.entry("VSTPluginMain")(
        [](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? kRate : 0;
        });
}

TEST_F(Vst3Test, TheFactoryDescribesOneInstrumentWithItsBusesParametersAndPrograms) {
    ASSERT_NE(component, nullptr);
    v3_factory_info factoryInfo{};
    EXPECT_EQ(v3_cpp_obj(factory)->get_factory_info(factory, &factoryInfo), V3_OK);
    EXPECT_STREQ(factoryInfo.vendor, "Kelmo");
    EXPECT_EQ(v3_cpp_obj(factory)->num_classes(factory), 1);
    auto** factory2 = face<v3_plugin_factory_2>(factory, v3_plugin_factory_2_iid);
    v3_class_info_2 info{};
    EXPECT_EQ(v3_cpp_obj(factory2)->get_class_info_2(factory2, 0, &info), V3_OK);
    release(factory2);
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.name, "Bytone");
    EXPECT_STREQ(info.sub_categories, "Instrument|Synth");
    EXPECT_STREQ(info.version, BYTONE_VERSION);

    // No audio in, one stereo output, one event input of 16 channels.
    auto* c = v3_cpp_obj(component);
    EXPECT_EQ(c->get_bus_count(component, V3_AUDIO, V3_INPUT), 0);
    EXPECT_EQ(c->get_bus_count(component, V3_AUDIO, V3_OUTPUT), 1);
    EXPECT_EQ(c->get_bus_count(component, V3_EVENT, V3_INPUT), 1);
    v3_bus_info bus{};
    EXPECT_EQ(c->get_bus_info(component, V3_EVENT, V3_INPUT, 0, &bus), V3_OK);
    EXPECT_EQ(bus.channel_count, 16);
    EXPECT_EQ(c->get_bus_info(component, V3_AUDIO, V3_OUTPUT, 0, &bus), V3_OK);
    EXPECT_EQ(bus.channel_count, 2);
    v3_tuid controllerClass{};
    EXPECT_NE(c->get_controller_class_id(component, controllerClass), V3_OK) << "the component is its controller";

    // The settings, the program, and each channel's hidden controllers.
    with<v3_edit_controller>(component, v3_edit_controller_iid, [&](auto* self, auto* e) {
        EXPECT_EQ(e->get_parameter_count(self), 8 + 1 + 5 + 16 * 7 + 16 * 2 + 16 * 3);
        v3_param_info p{};
        EXPECT_EQ(e->get_parameter_info(self, 3, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Gain");
        EXPECT_EQ(p.step_count, 199);
        EXPECT_TRUE(p.flags & V3_PARAM_CAN_AUTOMATE);
        // The scope's zoom is a view setting: in the state, but no lane of automation.
        EXPECT_EQ(e->get_parameter_info(self, 6, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Zoom");
        EXPECT_FALSE(p.flags & V3_PARAM_CAN_AUTOMATE);
        EXPECT_EQ(e->get_parameter_info(self, 8, &p), V3_OK);
        EXPECT_EQ(p.param_id, kProgram);
        EXPECT_EQ(p.step_count, 127);
        EXPECT_TRUE(p.flags & V3_PARAM_PROGRAM_CHANGE);
        EXPECT_EQ(e->get_parameter_info(self, 9, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "MPE");
        EXPECT_EQ(p.param_id, 8u);
        EXPECT_FALSE(p.flags & V3_PARAM_CAN_AUTOMATE);
        EXPECT_EQ(e->get_parameter_info(self, 14 + 7 * 2 + 6, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Ch3 Pitch Bend");
        EXPECT_TRUE(p.flags & V3_PARAM_IS_HIDDEN);
        EXPECT_DOUBLE_EQ(p.default_normalised_value, 8192.0 / 16383.0);
        // A host that sends the data entry's default again leaves the bend range at 2.
        EXPECT_EQ(e->get_parameter_info(self, 14 + 1, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Ch1 Data Entry");
        EXPECT_DOUBLE_EQ(p.default_normalised_value, 4.0 / 127.0);
        EXPECT_EQ(e->get_parameter_info(self, 14 + 16 * 7 + 2 * 2 + 1, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Ch3 Timbre");
        EXPECT_EQ(e->get_parameter_info(self, 14 + 16 * 7 + 16 * 2 + 3 * 15, &p), V3_OK);
        EXPECT_EQ(ascii(p.title), "Ch16 Sustain");
        EXPECT_NE(e->get_parameter_info(self, 14 + 16 * 7 + 16 * 2 + 16 * 3, &p), V3_OK);
        return 0;
    });
    with<v3_midi_mapping>(component, v3_midi_mapping_iid, [&](auto* self, auto* m) {
        v3_param_id id = 0;
        EXPECT_EQ(m->get_midi_controller_assignment(self, 0, 2, 129, &id), V3_OK);
        EXPECT_EQ(id, 1000u + 2 * 7 + 6);
        EXPECT_EQ(m->get_midi_controller_assignment(self, 0, 2, 128, &id), V3_OK);  // pressure, after them all
        EXPECT_EQ(id, 1000u + 16 * 7 + 2 * 2);
        EXPECT_EQ(m->get_midi_controller_assignment(self, 0, 15, 74, &id), V3_OK);
        EXPECT_EQ(id, 1000u + 16 * 7 + 15 * 2 + 1);
        EXPECT_NE(m->get_midi_controller_assignment(self, 0, 0, 7, &id), V3_OK) << "volume is not read";
        return 0;
    });
    // The processor asks for what beat and bar read of the host's process context.
    with<v3_process_context_requirements>(component, v3_process_context_requirements_iid, [&](auto* self, auto* r) {
        EXPECT_EQ(
            r->get_process_context_requirements(self),
            uint32_t{V3_PROCESS_CTX_NEED_PROJECT_TIME | V3_PROCESS_CTX_NEED_BAR_POSITION | V3_PROCESS_CTX_NEED_TEMPO |
                     V3_PROCESS_CTX_NEED_TIME_SIG | V3_PROCESS_CTX_NEED_TRANSPORT_STATE});
        return 0;
    });
    with<v3_unit_information>(component, v3_unit_information_iid, [&](auto* self, auto* u) {
        v3_unit_info unit{};
        EXPECT_EQ(u->get_unit_info(self, 0, &unit), V3_OK);
        v3_program_list_info list{};
        EXPECT_EQ(u->get_program_list_info(self, 0, &list), V3_OK);
        EXPECT_EQ(list.id, unit.program_list_id);
        EXPECT_EQ(list.programCount, 128);
        v3_str_128 name{};
        EXPECT_EQ(u->get_program_name(self, list.id, 5, name), V3_OK);
        EXPECT_EQ(ascii(name), "006 Ringy");
        EXPECT_NE(u->get_program_name(self, list.id, 128, name), V3_OK);
        return 0;
    });
}

TEST_F(Vst3Test, ValuesAndTextsConvertBothWays) {
    std::vector<ParameterCase> both(std::begin(kParameterTexts), std::end(kParameterTexts));
    // The hidden controllers' values read as numbers.
    both.push_back({1000 + 7 * 3 + 0, 64, "64"});
    both.push_back({1000 + 6, 16383, "16383"});
    std::vector<ParameterCase> refused(std::begin(kRefusedTexts), std::end(kRefusedTexts));
    refused.push_back({1006, 0, "16384"});
    with<v3_edit_controller>(component, v3_edit_controller_iid, [&](auto* self, auto* e) {
        for (const ParameterCase& c : both) {
            const double value = e->plain_parameter_to_normalised(self, c.id, c.value);
            EXPECT_EQ(e->normalised_parameter_to_plain(self, c.id, value), c.value) << c.text;
            v3_str_128 text{};
            EXPECT_EQ(e->get_parameter_string_for_value(self, c.id, value, text), V3_OK);
            EXPECT_EQ(ascii(text), c.text);
            double back = -1;
            EXPECT_EQ(e->get_parameter_value_for_string(self, c.id, utf16(c.text).data(), &back), V3_OK) << c.text;
            EXPECT_EQ(back, value) << c.text;
        }
        for (const ParameterCase& c : kEditorTexts) {
            double back = -1;
            EXPECT_EQ(e->get_parameter_value_for_string(self, c.id, utf16(c.text).data(), &back), V3_OK) << c.text;
            EXPECT_EQ(e->normalised_parameter_to_plain(self, c.id, back), c.value) << c.text;
        }
        for (const ParameterCase& c : refused) {
            double back = -1;
            EXPECT_NE(e->get_parameter_value_for_string(self, c.id, utf16(c.text).data(), &back), V3_OK) << c.text;
        }
        return 0;
    });
}

TEST_F(Vst3Test, AStateOfAnEarlierReleaseLoadsAndSavesByteForByte) {
    const std::vector<uint8_t> state = savedStateFixture();
    ASSERT_EQ(load(component, state), V3_OK);
    for (const ParameterCase& c : kFixtureValues) EXPECT_EQ(plain(component, c.id), c.value) << c.text;
    EXPECT_EQ(save(component), state);
}

TEST_F(Vst3Test, ThePresetsSoundAsTheVst24PluginsDoSampleForSample) {
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    AEffect* effect = vstInstance(vstLibrary);
    ASSERT_NE(effect, nullptr);
    const std::vector<TimedMessage> messages = sequence();
    std::vector<float> vst(kBlock), left(kBlock), right(kBlock), unused(kBlock);
    float* outputs[2] = {vst.data(), unused.data()};
    // The controllers through the MIDI mapping, as a host maps them.
    auto* mapping = face<v3_midi_mapping>(component, v3_midi_mapping_iid);
    long differ = 0, sounding = 0;
    for (int preset = 0; preset < kPresets; ++preset) {
        effect->dispatcher(effect, effSetProgram, 0, preset, nullptr, 0.0f);
        effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f);
        BlockInput program;
        program.point(kProgram, 0, toNormalised(kProgram, preset));
        process(component, program, left.data(), right.data(), 0);
        for (long start = 0; start < kRate * 4L; start += kBlock) {
            EventBlock block(blockEvents(messages, kRate, start, kBlock));
            BlockInput input;
            for (int i = 0; i < block.get()->numEvents; ++i) {
                const auto* e = reinterpret_cast<const VstMidiEvent*>(block.get()->events[i]);
                const int status = e->midiData[0] & 0xFF, data1 = e->midiData[1], data2 = e->midiData[2];
                const int kind = status & 0xF0, channel = status & 0x0F;
                if (kind == 0x90 && data2 > 0) {
                    input.note(e->deltaFrames, true, channel, data1, static_cast<float>(data2 / 127.0));
                } else if (kind == 0x80) {
                    input.note(e->deltaFrames, false, channel, data1, 0.0f);
                } else {
                    const bool bend = kind == 0xE0;
                    v3_param_id id = 0;
                    ASSERT_EQ(
                        v3_cpp_obj(mapping)->get_midi_controller_assignment(
                            mapping, 0, static_cast<int16_t>(channel), static_cast<int16_t>(bend ? 129 : data1), &id),
                        V3_OK);
                    input.point(id, e->deltaFrames, bend ? (data1 + 128 * data2) / 16383.0 : data2 / 127.0);
                }
            }
            effect->dispatcher(effect, effProcessEvents, 0, 0, block.get(), 0.0f);
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            process(component, input, left.data(), right.data());
            for (int k = 0; k < kBlock; ++k) differ += vst[k] != left[k] || left[k] != right[k];
            for (int k = 0; k < kBlock; ++k) sounding += left[k] != 0;
        }
    }
    release(mapping);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(differ, 0);
    EXPECT_GT(sounding, kPresets * kRate) << "the presets are silent";
}

// The host's transport as a VST3 host gives it: a process context for each block, the
// blocks cut where the song jumps or the tempo changes.
TEST_F(Vst3Test, FormulasFollowTheHostsTransportAndTheirNote) {
    using namespace songcases;
    const auto play = [&](const char* formula, const Scenario& s) {
        v3_component** c = create(songcases::kRate);
        EXPECT_EQ(load(c, stateWith(formula)), V3_OK) << formula;
        std::vector<float> outLeft, outRight, left(kBlock), right(kBlock);
        for (int64_t at = 0; at < s.frames;) {
            BlockInput input;
            if (at == 0) {
                input.point(1000 + 16 * 7, 0, 77 / 127.0);      // channel 1's pressure
                input.point(1000 + 16 * 7 + 1, 0, 20 / 127.0);  // and its controller 74
                input.note(0, true, 0, 60, 100 / 127.0f);
            }
            const std::vector<int64_t> cuts = reportFramesIn(s, at, kBlock);
            const auto frames = static_cast<int32_t>(cuts.empty() ? kBlock : cuts.front() - at);
            const Report report = reportAt(s, at);
            v3_process_context context{};
            context.state = V3_PROCESS_CTX_TEMPO_VALID | V3_PROCESS_CTX_PROJECT_TIME_VALID |
                            V3_PROCESS_CTX_BAR_POSITION_VALID | V3_PROCESS_CTX_TIME_SIG_VALID |
                            (report.playing ? V3_PROCESS_CTX_PLAYING : 0);
            context.sample_rate = songcases::kRate;
            context.project_time_quarters = report.quarterNotes;
            const double bar = report.numerator * 4.0 / report.denominator;
            context.bar_position_quarters = std::floor(report.quarterNotes / bar) * bar;
            context.bpm = report.tempo;
            context.time_sig_numerator = report.numerator;
            context.time_sig_denom = report.denominator;
            process(c, input, left.data(), right.data(), frames, &context);
            outLeft.insert(outLeft.end(), left.begin(), left.begin() + frames);
            outRight.insert(outRight.end(), right.begin(), right.begin() + frames);
            at += frames;
        }
        return std::pair{outLeft, outRight};
    };
    expectEveryCase(play);
}

// Tuning and brightness come as note expressions of the note's id, which the controller
// offers; pressure as polyphonic pressure.
TEST_F(Vst3Test, NoteExpressionsAndPressureActOnTheirNotes) {
    using namespace vst3adapter;
    with<NoteExpressionController>(component, kNoteExpressionControllerIid, [&](auto* self, auto* n) {
        EXPECT_EQ(n->count(self, 0, 0), 2);
        NoteExpressionTypeInfo info{};
        EXPECT_EQ(n->info(self, 0, 0, 0, &info), V3_OK);
        EXPECT_EQ(info.typeId, kTuningExpression);
        EXPECT_EQ(ascii(info.title), "Tuning");
        EXPECT_EQ(n->info(self, 0, 0, 1, &info), V3_OK);
        EXPECT_EQ(info.typeId, kBrightnessExpression);
        EXPECT_NE(n->info(self, 0, 0, 2, &info), V3_OK);
        v3_str_128 text{};
        EXPECT_EQ(n->text(self, 0, 0, kTuningExpression, 0.55, text), V3_OK);
        EXPECT_EQ(ascii(text), "+12.00");
        double value = 0;
        EXPECT_EQ(n->value(self, 0, 0, kTuningExpression, text, &value), V3_OK);
        EXPECT_NEAR(value, 0.55, 1e-12);
        return 0;
    });
    const auto event = [](uint16_t type, int32_t offset) {
        v3_event e{};
        e.type = type;
        e.sample_offset = offset;
        return e;
    };
    const struct {
        v3_event e;
        int64_t pressure, timbre;
    } cases[] = {
        {[&] {
             v3_event e = event(V3_EVENT_NOTE_EXP_VALUE, 100);
             e.note_exp_value = {kBrightnessExpression, 5, 1.0};
             return e;
         }(),
         0, 127},
        {[&] {
             v3_event e = event(V3_EVENT_NOTE_EXP_VALUE, 100);
             e.note_exp_value = {kBrightnessExpression, 6, 1.0};
             return e;
         }(),
         0, 64},
        {[&] {
             v3_event e = event(V3_EVENT_POLY_PRESSURE, 100);
             e.poly_pressure = {0, 60, 0.5f, 5};
             return e;
         }(),
         64, 64},
        {[&] {
             v3_event e = event(V3_EVENT_POLY_PRESSURE, 100);
             e.poly_pressure = {1, 60, 0.5f, 5};
             return e;
         }(),
         0, 64},
    };
    std::vector<float> left(kBlock), right(kBlock);
    for (const auto& c : cases) {
        v3_component** p = create();
        ASSERT_EQ(load(p, songcases::stateWith("pressure,timbre")), V3_OK);
        BlockInput input;
        input.note(0, true, 0, 60, 1.0f);
        input.notes.back().note_on.note_id = 5;
        input.notes.push_back(c.e);
        process(p, input, left.data(), right.data());
        EXPECT_EQ(left[99], songcases::sampleOf(0)) << c.e.type;
        EXPECT_EQ(left[100], songcases::sampleOf(c.pressure)) << c.e.type;
        EXPECT_EQ(right[100], songcases::sampleOf(c.timbre)) << c.e.type;
    }
    // An octave up through the tuning: the phase counts twice as fast.
    float ends[2];
    for (double tuning : {0.5, 0.55}) {
        v3_component** p = create();
        ASSERT_EQ(load(p, songcases::stateWith("P>>4")), V3_OK);
        BlockInput input;
        input.note(0, true, 0, 40, 1.0f);
        input.notes.back().note_on.note_id = 9;
        v3_event e = event(V3_EVENT_NOTE_EXP_VALUE, 0);
        e.note_exp_value = {kTuningExpression, 9, tuning};
        input.notes.push_back(e);
        process(p, input, left.data(), right.data());
        ends[tuning > 0.5] = left[kBlock - 1];
    }
    EXPECT_NEAR(ends[1] / ends[0], 2.0, 0.05);
}

TEST_F(Vst3Test, AParameterPointIsHeardFromItsOffset) {
    v3_component** other = create();
    std::vector<float> quiet(kBlock), louder(kBlock), right(kBlock);
    BlockInput first, second;
    first.note(0, true, 0, 69, 1.0f);
    second.note(0, true, 0, 69, 1.0f);
    second.point(kGain, 100, toNormalised(kGain, 200));
    process(component, first, quiet.data(), right.data());
    process(other, second, louder.data(), right.data());
    for (int k = 0; k < 100; ++k) ASSERT_EQ(quiet[k], louder[k]) << k;
    int differ = 0;
    for (int k = 100; k < kBlock; ++k) differ += quiet[k] != louder[k];
    EXPECT_GT(differ, 300);
    EXPECT_EQ(plain(other, kGain), 200);
}

TEST_F(Vst3Test, TheStateIsTheClapStateAndReadsTheVst24Chunk) {
    BlockInput changes;
    changes.point(kGain, 0, toNormalised(kGain, 150));
    changes.point(0, 0, toNormalised(0, 3));
    changes.point(kProgram, 0, toNormalised(kProgram, 8));
    std::vector<float> left(kBlock), right(kBlock);
    process(component, changes, left.data(), right.data(), 0);
    const std::vector<uint8_t> state = save(component);
    v3_component** other = create();
    // The host is told to read the values and the program names again, and nothing for a
    // state that is refused.
    HostHandler handler;
    with<v3_edit_controller>(other, v3_edit_controller_iid, [&](auto* self, auto* e) {
        return e->set_component_handler(self, reinterpret_cast<v3_component_handler**>(&handler));
    });
    ASSERT_EQ(load(other, state), V3_OK);
    EXPECT_EQ(handler.told, (std::vector<std::string>{"restart 4", "list 1 -1"}));
    EXPECT_EQ(plain(other, kGain), 150);
    EXPECT_EQ(plain(other, 0), 3);
    EXPECT_EQ(plain(other, kProgram), 8);
    EXPECT_EQ(save(other), state);

    // The CLAP plug-in reads it and saves the same bytes.
    PluginLibrary clapLibrary(BYTONE_CLAP_PATH);
    const auto* entry = static_cast<const clap_plugin_entry_t*>(clapLibrary.symbol("clap_entry"));
    ASSERT_TRUE(entry && entry->init(BYTONE_CLAP_PATH));
    const auto* clapFactory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* clap = clapFactory->create_plugin(clapFactory, &kPlainClapHost, "com.bytone.bytone");
    ASSERT_TRUE(clap && clap->init(clap));
    const auto* clapState = static_cast<const clap_plugin_state_t*>(clap->get_extension(clap, CLAP_EXT_STATE));
    Stream in;
    in.bytes = state;
    const clap_istream_t clapIn{&in, [](const clap_istream_t* s, void* buffer, uint64_t size) -> int64_t {
                                    int32_t read = 0;
                                    Stream::kTable.stream.read(
                                        s->ctx, buffer, static_cast<int32_t>(std::min<uint64_t>(size, 1 << 20)), &read);
                                    return read;
                                }};
    ASSERT_TRUE(clapState->load(clap, &clapIn));
    Stream out;
    const clap_ostream_t clapOut{&out, [](const clap_ostream_t* s, const void* buffer, uint64_t size) -> int64_t {
                                     int32_t written = 0;
                                     Stream::kTable.stream.write(s->ctx, const_cast<void*>(buffer),
                                                                 static_cast<int32_t>(size), &written);
                                     return written;
                                 }};
    ASSERT_TRUE(clapState->save(clap, &clapOut));
    EXPECT_EQ(out.bytes, state);
    clap->destroy(clap);
    entry->deinit();

    // The VST 2.4 plug-in's chunk, which holds all but the Gain and the program, loads here.
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    const std::vector<uint8_t> vstChunk = throughVst24(vstLibrary.entry("VSTPluginMain"), state);
    EXPECT_EQ(vstChunk.size() + 16, state.size());
    v3_component** third = create();
    ASSERT_EQ(load(third, vstChunk), V3_OK);
    EXPECT_EQ(plain(third, 0), 3);
    EXPECT_EQ(plain(third, kGain), 100);
    EXPECT_EQ(plain(third, kProgram), 0);

    // Foreign and cut states change nothing.
    for (const std::vector<uint8_t>& foreign :
         {std::vector<uint8_t>{'h', 'i'}, std::vector<uint8_t>{}, std::vector<uint8_t>(600000, 0),
          std::vector<uint8_t>(state.begin() + 4, state.end()),
          std::vector<uint8_t>(state.begin(), state.begin() + static_cast<long>(state.size() / 2)),
          std::vector<uint8_t>(state.begin(), state.end() - 1)}) {
        EXPECT_NE(load(other, foreign), V3_OK);
        EXPECT_EQ(save(other), state);
    }
    EXPECT_EQ(handler.told.size(), 2u);

    // Oversampling delays the sound by its filters: a change in a block is told to the
    // host at the controller's next call, and the processor then reports the new latency.
    const auto latency = [&] {
        return with<v3_audio_processor>(other, v3_audio_processor_iid,
                                        [](auto* self, auto* p) { return p->get_latency_samples(self); });
    };
    EXPECT_EQ(latency(), 0u);
    BlockInput eightfold;
    eightfold.point(12, 0, toNormalised(12, 3));
    process(other, eightfold, left.data(), right.data(), 0);
    EXPECT_EQ(plain(other, 12), 3);
    EXPECT_EQ(handler.told.back(), "restart 8");
    EXPECT_EQ(latency(), static_cast<uint32_t>(engine::Decimator::latencyOf(8)));
    with<v3_edit_controller>(other, v3_edit_controller_iid,
                             [&](auto* self, auto* e) { return e->set_component_handler(self, nullptr); });
}

}  // namespace
