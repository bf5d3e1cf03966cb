// The CLAP plug-in as a CLAP host loads it: clap_entry, the factory, the plug-in and its
// extensions; its sound against the VST 2.4 plug-in's, its parameters and its state.
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "clap_host.h"
#include "parameter_cases.h"
#include "plugin_loader.h"
#include "preset_sequence.h"
#include "song_cases.h"

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 512;

// The events of one call, in time order, as the host hands them over.
class EventList {
public:
    void note(uint32_t time, uint16_t type, int key, double velocity, int channel = 0, int32_t id = -1) {
        clap_event_note_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
        e.note_id = id, e.channel = static_cast<int16_t>(channel), e.key = static_cast<int16_t>(key);
        e.velocity = velocity;
        add(&e.header);
    }
    void midi(uint32_t time, int status, int data1, int data2) {
        clap_event_midi_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
        e.data[0] = static_cast<uint8_t>(status), e.data[1] = static_cast<uint8_t>(data1);
        e.data[2] = static_cast<uint8_t>(data2);
        add(&e.header);
    }
    void transport(uint32_t time, const clap_event_transport_t& transport) {
        clap_event_transport_t e = transport;
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
        add(&e.header);
    }
    void expression(uint32_t time, clap_note_expression which, int32_t id, int port, int channel, int key,
                    double value) {
        clap_event_note_expression_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_NOTE_EXPRESSION, 0};
        e.expression_id = which, e.note_id = id, e.port_index = static_cast<int16_t>(port);
        e.channel = static_cast<int16_t>(channel), e.key = static_cast<int16_t>(key), e.value = value;
        add(&e.header);
    }
    void parameter(uint32_t time, clap_id id, double value) {
        clap_event_param_value_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = id, e.note_id = -1, e.port_index = -1, e.channel = -1, e.key = -1, e.value = value;
        add(&e.header);
    }
    const clap_input_events_t* get() {
        list_ = {this, [](const clap_input_events_t* l) { return static_cast<uint32_t>(of(l).offsets_.size()); },
                 [](const clap_input_events_t* l, uint32_t i) {
                     return reinterpret_cast<const clap_event_header_t*>(of(l).bytes_.data() + of(l).offsets_[i]);
                 }};
        return &list_;
    }

private:
    static EventList& of(const clap_input_events_t* list) { return *static_cast<EventList*>(list->ctx); }
    void add(const clap_event_header_t* header) {
        offsets_.push_back(bytes_.size());
        const auto* at = reinterpret_cast<const uint8_t*>(header);
        bytes_.insert(bytes_.end(), at, at + header->size);
        bytes_.resize((bytes_.size() + 7) / 8 * 8);
    }
    std::vector<uint8_t> bytes_;
    std::vector<size_t> offsets_;
    clap_input_events_t list_{};
};

class ClapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.loaded()) << library.error();
        entry = static_cast<const clap_plugin_entry_t*>(library.symbol("clap_entry"));
        ASSERT_NE(entry, nullptr);
        ASSERT_TRUE(entry->init(BYTONE_CLAP_PATH));
        factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        ASSERT_NE(factory, nullptr);
        plugin = create();
    }
    void TearDown() override {
        for (const clap_plugin_t* p : made) p->destroy(p);
        if (entry) entry->deinit();
    }

    const clap_plugin_t* create(double rate = kRate) {
        const clap_plugin_t* p = factory->create_plugin(factory, &kPlainClapHost, "com.bytone.bytone");
        EXPECT_NE(p, nullptr);
        if (!p || !p->init(p) || !p->activate(p, rate, 1, kBlock) || !p->start_processing(p)) return nullptr;
        made.push_back(p);
        return p;
    }
    template <class Extension>
    const Extension* extension(const clap_plugin_t* p, const char* id) {
        return static_cast<const Extension*>(p->get_extension(p, id));
    }
    // One block into `left` and `right`; the notes the plug-in says ended go to `ended`
    // (time, channel, key, note id, port).
    void process(const clap_plugin_t* p, EventList& events, float* left, float* right,
                 const clap_event_transport_t* transport = nullptr) {
        float* channels[2] = {left, right};
        clap_audio_buffer_t out{channels, nullptr, 2, 0, 0};
        ended.clear();
        const clap_output_events_t sent{
            &ended, [](const clap_output_events_t* list, const clap_event_header_t* e) {
                if (e->type == CLAP_EVENT_NOTE_END) {
                    const auto* note = reinterpret_cast<const clap_event_note_t*>(e);
                    static_cast<std::vector<std::vector<int>>*>(list->ctx)->push_back(
                        {static_cast<int>(e->time), note->channel, note->key, note->note_id, note->port_index});
                }
                return true;
            }};
        const clap_process_t call{0, kBlock, transport, nullptr, &out, 0, 1, events.get(), &sent};
        EXPECT_EQ(p->process(p, &call), CLAP_PROCESS_CONTINUE);
    }
    void flush(const clap_plugin_t* p, EventList& events) {
        const clap_output_events_t none{nullptr,
                                        [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
        extension<clap_plugin_params_t>(p, CLAP_EXT_PARAMS)->flush(p, events.get(), &none);
    }
    double value(const clap_plugin_t* p, clap_id id) {
        double v = -1;
        EXPECT_TRUE(extension<clap_plugin_params_t>(p, CLAP_EXT_PARAMS)->get_value(p, id, &v));
        return v;
    }
    std::vector<uint8_t> save(const clap_plugin_t* p) {
        std::vector<uint8_t> bytes;
        const clap_ostream_t stream{&bytes, [](const clap_ostream_t* s, const void* data, uint64_t size) {
                                        auto& out = *static_cast<std::vector<uint8_t>*>(s->ctx);
                                        const auto* at = static_cast<const uint8_t*>(data);
                                        out.insert(out.end(), at, at + size);
                                        return static_cast<int64_t>(size);
                                    }};
        EXPECT_TRUE(extension<clap_plugin_state_t>(p, CLAP_EXT_STATE)->save(p, &stream));
        return bytes;
    }
    bool load(const clap_plugin_t* p, const std::vector<uint8_t>& bytes) {
        struct Reading {
            const std::vector<uint8_t>* bytes;
            size_t at;
        } reading{&bytes, 0};
        const clap_istream_t stream{&reading, [](const clap_istream_t* s, void* data, uint64_t size) {
                                        auto& r = *static_cast<Reading*>(s->ctx);
                                        const size_t n =
                                            std::min<size_t>(size, std::min<size_t>(7, r.bytes->size() - r.at));
                                        if (n > 0) std::memcpy(data, r.bytes->data() + r.at, n);  // a few bytes a call
                                        r.at += n;
                                        return static_cast<int64_t>(n);
                                    }};
        return extension<clap_plugin_state_t>(p, CLAP_EXT_STATE)->load(p, &stream);
    }

    PluginLibrary library{BYTONE_CLAP_PATH};
    const clap_plugin_entry_t* entry = nullptr;
    const clap_plugin_factory_t* factory = nullptr;
    const clap_plugin_t* plugin = nullptr;
    std::vector<const clap_plugin_t*> made;
    std::vector<std::vector<int>> ended;  // time, channel, key, note id, port of each note-end event
};

TEST_F(ClapTest, TheFactoryMakesOneInstrumentWithItsPortsAndExtensions) {
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "Bytone");
    EXPECT_STREQ(d->version, BYTONE_VERSION);
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f; ++f) features.push_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"instrument", "synthesizer", "stereo"}));
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    EXPECT_EQ(factory->create_plugin(factory, &kPlainClapHost, "another.plugin"), nullptr);
    ASSERT_NE(plugin, nullptr);

    const auto* audio = extension<clap_plugin_audio_ports_t>(plugin, CLAP_EXT_AUDIO_PORTS);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->count(plugin, true), 0u);
    ASSERT_EQ(audio->count(plugin, false), 1u);
    clap_audio_port_info_t port{};
    ASSERT_TRUE(audio->get(plugin, 0, false, &port));
    EXPECT_EQ(port.channel_count, 2u);
    EXPECT_STREQ(port.port_type, CLAP_PORT_STEREO);
    const auto* notes = extension<clap_plugin_note_ports_t>(plugin, CLAP_EXT_NOTE_PORTS);
    ASSERT_NE(notes, nullptr);
    ASSERT_EQ(notes->count(plugin, true), 1u);
    clap_note_port_info_t notePort{};
    ASSERT_TRUE(notes->get(plugin, 0, true, &notePort));
    EXPECT_EQ(notePort.supported_dialects, static_cast<uint32_t>(CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI));
    EXPECT_EQ(notePort.preferred_dialect, static_cast<uint32_t>(CLAP_NOTE_DIALECT_CLAP));
    EXPECT_NE(extension<clap_plugin_state_t>(plugin, CLAP_EXT_STATE), nullptr);
    EXPECT_EQ(plugin->get_extension(plugin, "clap.unknown"), nullptr);
}

TEST_F(ClapTest, ThePresetsSoundAsTheVst24PluginsDoSampleForSample) {
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    PluginEntry vstEntry = vstLibrary.entry("VSTPluginMain");
    ASSERT_NE(vstEntry, nullptr) << vstLibrary.error();
    AEffect* effect = vstEntry([](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
        return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? kRate : 0;
    });
    ASSERT_NE(effect, nullptr);
    const std::vector<TimedMessage> messages = sequence();
    std::vector<float> vst(kBlock), clapLeft(kBlock), clapRight(kBlock), unused(kBlock);
    float* outputs[2] = {vst.data(), unused.data()};
    int differ = 0;
    for (int preset = 0; preset < kPresets; ++preset) {
        effect->dispatcher(effect, effSetProgram, 0, preset, nullptr, 0.0f);
        effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f);
        EventList program;
        program.parameter(0, 100, preset);
        flush(plugin, program);
        for (long start = 0; start < kRate * 4L; start += kBlock) {
            EventBlock block(blockEvents(messages, kRate, start, kBlock));
            EventList clapEvents;
            for (int i = 0; i < block.get()->numEvents; ++i) {
                const auto* e = reinterpret_cast<const VstMidiEvent*>(block.get()->events[i]);
                const uint32_t frame = static_cast<uint32_t>(e->deltaFrames);
                const int status = e->midiData[0] & 0xFF, key = e->midiData[1], value = e->midiData[2];
                // Notes as CLAP notes (velocity v/127), everything else as MIDI.
                const int kind = status & 0xF0, channel = status & 0x0F;
                if (kind == 0x90 && value > 0)
                    clapEvents.note(frame, CLAP_EVENT_NOTE_ON, key, value / 127.0, channel);
                else if (kind == 0x80)
                    clapEvents.note(frame, CLAP_EVENT_NOTE_OFF, key, 0.0, channel);
                else
                    clapEvents.midi(frame, status, key, value);
            }
            effect->dispatcher(effect, effProcessEvents, 0, 0, block.get(), 0.0f);
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            process(plugin, clapEvents, clapLeft.data(), clapRight.data());
            for (uint32_t k = 0; k < kBlock; ++k) differ += vst[k] != clapLeft[k] || clapLeft[k] != clapRight[k];
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(differ, 0);
}

// The host's transport as CLAP gives it, at a block's start and inside blocks.
clap_event_transport_t transportOf(const songcases::Report& report) {
    clap_event_transport_t t{};
    t.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE |
              (report.playing ? CLAP_TRANSPORT_IS_PLAYING : 0);
    const double bar = report.numerator * 4.0 / report.denominator;
    t.song_pos_beats = std::llround(report.quarterNotes * CLAP_BEATTIME_FACTOR);
    t.bar_start = std::llround(std::floor(report.quarterNotes / bar) * bar * CLAP_BEATTIME_FACTOR);
    t.tempo = report.tempo;
    t.tsig_num = static_cast<uint16_t>(report.numerator);
    t.tsig_denom = static_cast<uint16_t>(report.denominator);
    return t;
}

TEST_F(ClapTest, FormulasFollowTheHostsTransportAndTheirNote) {
    using namespace songcases;
    const auto play = [&](const char* formula, const Scenario& s) {
        const clap_plugin_t* p = create(songcases::kRate);
        EXPECT_TRUE(p && load(p, stateWith(formula))) << formula;
        std::vector<float> outLeft, outRight, left(kBlock), right(kBlock);
        for (int64_t at = 0; p && at < s.frames; at += kBlock) {
            EventList events;
            if (at == 0)
                for (const auto& m : kNoteMidi) events.midi(0, m[0], m[1], m[2]);
            for (int64_t frame : reportFramesIn(s, at, kBlock))
                events.transport(static_cast<uint32_t>(frame - at), transportOf(reportAt(s, frame)));
            const clap_event_transport_t start = transportOf(reportAt(s, at));
            process(p, events, left.data(), right.data(), &start);
            outLeft.insert(outLeft.end(), left.begin(), left.end());
            outRight.insert(outRight.end(), right.begin(), right.end());
        }
        return std::pair{outLeft, outRight};
    };
    expectEveryCase(play);
}

// A note expression acts on the notes its id, port, channel and key name, -1 naming any.
TEST_F(ClapTest, NoteExpressionsActOnTheNotesTheyName) {
    const struct {
        clap_note_expression which;
        int32_t id;
        int port, channel, key;
        double value;
        int64_t pressure, timbre;  // then
    } cases[] = {
        {CLAP_NOTE_EXPRESSION_PRESSURE, 7, 0, 0, 60, 0.5, 64, 64},
        {CLAP_NOTE_EXPRESSION_PRESSURE, -1, -1, -1, -1, 1.0, 127, 64},
        {CLAP_NOTE_EXPRESSION_PRESSURE, 8, 0, 0, 60, 0.5, 0, 64},
        {CLAP_NOTE_EXPRESSION_PRESSURE, -1, -1, 1, -1, 0.5, 0, 64},
        {CLAP_NOTE_EXPRESSION_BRIGHTNESS, -1, -1, -1, 60, 0.0, 0, 0},
        {CLAP_NOTE_EXPRESSION_BRIGHTNESS, -1, -1, -1, 61, 0.0, 0, 64},
        {CLAP_NOTE_EXPRESSION_BRIGHTNESS, -1, 1, -1, -1, 0.0, 0, 64},
        {CLAP_NOTE_EXPRESSION_VOLUME, 7, 0, 0, 60, 0.0, 0, 64},  // not read
    };
    std::vector<float> left(kBlock), right(kBlock);
    for (const auto& c : cases) {
        const clap_plugin_t* p = create();
        ASSERT_TRUE(p && load(p, songcases::stateWith("pressure,timbre")));
        EventList events;
        events.note(0, CLAP_EVENT_NOTE_ON, 60, 1.0, 0, 7);
        events.expression(100, c.which, c.id, c.port, c.channel, c.key, c.value);
        process(p, events, left.data(), right.data());
        EXPECT_EQ(left[99], songcases::sampleOf(0)) << c.which << " " << c.id;
        EXPECT_EQ(left[100], songcases::sampleOf(c.pressure)) << c.which << " " << c.id;
        EXPECT_EQ(right[100], songcases::sampleOf(c.timbre)) << c.which << " " << c.id;
    }
    // Tuning bends the note's own pitch: an octave up, its phase counts twice as fast.
    float ends[2];
    for (double tuning : {0.0, 12.0}) {
        const clap_plugin_t* p = create();
        ASSERT_TRUE(p && load(p, songcases::stateWith("P>>4")));
        EventList events;
        events.note(0, CLAP_EVENT_NOTE_ON, 40, 1.0, 0, 3);
        events.expression(0, CLAP_NOTE_EXPRESSION_TUNING, 3, -1, -1, -1, tuning);
        process(p, events, left.data(), right.data());
        ends[tuning > 0] = left[kBlock - 1];
    }
    EXPECT_NEAR(ends[1] / ends[0], 2.0, 0.05);
}

// With the MPE parameter on, a member channel's bend moves its own notes only, by up
// to 48 semitones; off, any channel's bend moves every note by up to 2.
// Oversampling delays the sound by its filters: the latency extension says how much as
// the plug-in was activated, and a change while active asks the host for a restart.
TEST_F(ClapTest, OversamplingReportsItsLatencyAndAsksForARestart) {
    static int restarts;
    restarts = 0;
    clap_host_t host = kPlainClapHost;
    host.request_restart = [](const clap_host_t*) { ++restarts; };
    const clap_plugin_t* p = factory->create_plugin(factory, &host, "com.bytone.bytone");
    ASSERT_TRUE(p && p->init(p) && p->activate(p, kRate, 1, kBlock) && p->start_processing(p));
    made.push_back(p);
    const auto* latency = extension<clap_plugin_latency_t>(p, CLAP_EXT_LATENCY);
    ASSERT_NE(latency, nullptr);
    EXPECT_EQ(latency->get(p), 0u);
    std::vector<float> left(kBlock), right(kBlock);
    EventList changes;
    changes.parameter(0, static_cast<clap_id>(engine::Setting::Oversample), 3);
    process(p, changes, left.data(), right.data());
    EventList none;
    process(p, none, left.data(), right.data());
    EXPECT_EQ(restarts, 1) << "asked once";
    EXPECT_EQ(latency->get(p), 0u) << "until the restart";
    p->stop_processing(p);
    p->deactivate(p);
    ASSERT_TRUE(p->activate(p, kRate, 1, kBlock));
    EXPECT_EQ(latency->get(p), static_cast<uint32_t>(engine::Decimator::latencyOf(8)));
}

TEST_F(ClapTest, MpeBendsEachMemberChannelsNotes) {
    // The phase at the block's end of a note of key 30 on channel 2, bent all the way up on
    // `bendChannel` (0-based): shifted right by `shift`.
    const auto end = [&](bool mpe, int bendChannel, int shift) {
        const clap_plugin_t* p = create();
        EXPECT_TRUE(p && load(p, songcases::stateWith(("P>>" + std::to_string(shift)).c_str())));
        EventList setup;
        setup.parameter(0, 8, mpe);
        flush(p, setup);
        EventList events;
        events.midi(0, 0x91, 30, 100);
        events.midi(0, 0xE0 | bendChannel, 127, 127);
        std::vector<float> left(kBlock), right(kBlock);
        process(p, events, left.data(), right.data());
        return left[kBlock - 1] * 1024;
    };
    const double two = std::pow(2.0, 2 * (8191.0 / 8192) / 12), fortyEight = std::pow(2.0, 48 * (8191.0 / 8192) / 12);
    EXPECT_NEAR(end(true, 1, 5) / end(true, 2, 5), fortyEight, 2.0);  // its own channel, not another member
    EXPECT_NEAR(end(true, 0, 0) / end(true, 2, 0), two, 0.02);        // the manager's moves every note
    EXPECT_NEAR(end(false, 2, 0) / end(false, 3, 0), 1.0, 1e-6);      // off: any channel's, as every note's
    EXPECT_NEAR(end(false, 2, 0) / end(true, 2, 0), two, 0.02);
}

TEST_F(ClapTest, AParameterChangeIsHeardFromItsFrame) {
    const clap_plugin_t* other = create();
    ASSERT_NE(other, nullptr);
    std::vector<float> plain(kBlock), louder(kBlock), right(kBlock);
    EventList first, second;
    first.note(0, CLAP_EVENT_NOTE_ON, 69, 1.0);
    second.note(0, CLAP_EVENT_NOTE_ON, 69, 1.0);
    second.parameter(100, 3, 200);  // Gain 200 at frame 100 of 512
    process(plugin, first, plain.data(), right.data());
    process(other, second, louder.data(), right.data());
    for (uint32_t k = 0; k < kBlock; ++k) ASSERT_EQ(louder[k], k < 100 ? plain[k] : 2 * plain[k]) << k;
    EXPECT_EQ(value(other, 3), 200);
    EXPECT_EQ(value(plugin, 3), 100);
}

TEST_F(ClapTest, ValuesAndTextsGoBothWays) {
    const auto* params = extension<clap_plugin_params_t>(plugin, CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->count(plugin), 14u);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < 14; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(plugin, i, &info));
        names.push_back(info.name);
        // The scope's zoom is a view setting and MPE a mode: in the state, but no lane of automation.
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0,
                  std::string(info.name) != "Zoom" && std::string(info.name) != "MPE")
            << info.name;
        EXPECT_LE(info.min_value, info.default_value);
        EXPECT_LE(info.default_value, info.max_value);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Poly", "Porta", "Time", "Gain", "Lerp", "Clamp", "Zoom", "Ch10",
                                               "Program", "MPE", "Attack", "Release", "DC filter", "Oversample"}));
    for (const ParameterCase& c : kParameterTexts) {
        char text[64] = {};
        ASSERT_TRUE(params->value_to_text(plugin, c.id, c.value, text, sizeof text)) << c.text;
        EXPECT_STREQ(text, c.text);
        double back = -1;
        EXPECT_TRUE(params->text_to_value(plugin, c.id, c.text, &back)) << c.text;
        EXPECT_EQ(back, c.value) << c.text;
    }
    for (const ParameterCase& c : kEditorTexts) {
        double back = -1;
        EXPECT_TRUE(params->text_to_value(plugin, c.id, c.text, &back)) << c.text;
        EXPECT_EQ(back, c.value) << c.text;
    }
    for (const ParameterCase& c : kRefusedTexts) {
        double back = -1;
        EXPECT_FALSE(params->text_to_value(plugin, c.id, c.text, &back)) << c.text;
    }
}

TEST_F(ClapTest, AStateOfAnEarlierReleaseLoadsAndSavesByteForByte) {
    const std::vector<uint8_t> state = savedStateFixture();
    ASSERT_TRUE(load(plugin, state));
    for (const ParameterCase& c : kFixtureValues) EXPECT_EQ(value(plugin, c.id), c.value) << c.text;
    EXPECT_EQ(save(plugin), state);
}

TEST_F(ClapTest, TheStateCarriesTheBankAndTheGainAndRefusesWhatIsNotOurs) {
    EventList changes;
    changes.parameter(0, 3, 150);  // Gain
    changes.parameter(0, 0, 3);    // Poly
    changes.parameter(0, 100, 9);  // Program
    changes.parameter(0, 8, 1);    // MPE
    flush(plugin, changes);
    const std::vector<uint8_t> state = save(plugin);

    const clap_plugin_t* other = create();
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(load(other, state));
    EXPECT_EQ(value(other, 3), 150);
    EXPECT_EQ(value(other, 0), 3);
    EXPECT_EQ(value(other, 100), 9);
    EXPECT_EQ(value(other, 8), 1);
    EXPECT_EQ(save(other), state);

    // The VST 2.4 plug-in reads the same state and keeps its own Gain; its chunk loads here,
    // with MPE at its default.
    PluginLibrary vstLibrary(BYTONE_PLUGIN_PATH);
    const std::vector<uint8_t> vstChunk = throughVst24(vstLibrary.entry("VSTPluginMain"), state);
    EXPECT_EQ(vstChunk.size() + 24, state.size());  // all but the Gain, MPE and the program
    const clap_plugin_t* third = create();
    ASSERT_TRUE(load(third, vstChunk));
    EXPECT_EQ(value(third, 0), 3);
    EXPECT_EQ(value(third, 3), 100);
    ASSERT_TRUE(load(third, state));
    EXPECT_EQ(value(third, 8), 1);
    ASSERT_TRUE(load(third, vstChunk));
    EXPECT_EQ(value(third, 8), 0);

    // Foreign bytes and states cut short (the first half, all but the last byte) change nothing.
    for (const std::vector<uint8_t>& foreign :
         {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, std::vector<uint8_t>{}, std::vector<uint8_t>(600000, 0),
          std::vector<uint8_t>(state.begin(), state.begin() + static_cast<long>(state.size() / 2)),
          std::vector<uint8_t>(state.begin(), state.end() - 1)}) {
        EXPECT_FALSE(load(other, foreign));
        EXPECT_EQ(value(other, 3), 150);
        EXPECT_EQ(save(other), state);
    }
}

TEST_F(ClapTest, TheHostIsToldWhenEachVoiceEnds) {
    std::vector<float> left(kBlock), right(kBlock);
    EventList notes;
    // Each end carries its note's id; a note that came as MIDI has none.
    notes.note(0, CLAP_EVENT_NOTE_ON, 60, 0.8, 2, 41);
    notes.note(10, CLAP_EVENT_NOTE_ON, 64, 0.8, 3, 42);
    notes.midi(10, 0x90, 67, 100);
    notes.note(100, CLAP_EVENT_NOTE_OFF, 60, 0.0, 2, 41);
    notes.note(200, CLAP_EVENT_NOTE_ON, 64, 0.5, 3, 43);  // the same key again: its first note ends
    process(plugin, notes, left.data(), right.data());
    EXPECT_EQ(ended, (std::vector<std::vector<int>>{{100, 2, 60, 41, 0}, {200, 3, 64, 42, 0}}));
    EventList allOff;
    allOff.midi(30, 0xB0, 123, 0);
    process(plugin, allOff, left.data(), right.data());
    EXPECT_EQ(ended, (std::vector<std::vector<int>>{{30, 3, 64, 43, 0}, {30, 0, 67, -1, 0}}));
    EventList nothing;
    process(plugin, nothing, left.data(), right.data());
    EXPECT_TRUE(ended.empty());
}

}  // namespace
