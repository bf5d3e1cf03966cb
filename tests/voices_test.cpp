#include <cmath>

#include "engine_fixture.h"
#include "instrument_probe.h"

namespace {

using VoicesTest = EngineTest;

std::vector<int> soundingNotes(engine::Instrument& synth) {
    std::vector<int> notes;
    for (const Voice& voice : inside(synth).voices) notes.push_back(voice.note);
    return notes;
}

TEST_F(VoicesTest, PolyNotesTakeTheLowestFreeVoiceAndExtraNotesAreDropped) {
    for (int key = 60; key < 69; ++key) send(0x90, key, 100);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{60, 61, 62, 63, 64, 65, 66, 67}));
    EXPECT_EQ(inside(*synth).heldKeys[68], 1);  // dropped, but held
    send(0x80, 63, 0);
    send(0x90, 70, 90);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{60, 61, 62, 70, 64, 65, 66, 67}));
}

TEST_F(VoicesTest, ARepeatedKeyRestartsItsOwnVoice) {
    send(0x90, 60, 100);
    render(100);
    EXPECT_GT(inside(*synth).voices[0].time, 0);
    synth->setProgram(4);
    send(0x90, 60, 30);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{60, -1, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(inside(*synth).voices[0].velocity, 30);
    EXPECT_EQ(inside(*synth).voices[0].program, 4);
    EXPECT_EQ(inside(*synth).voices[0].time, 1);
    EXPECT_EQ(inside(*synth).voices[0].phase, 1);  // key 60 advances about 1.52 steps a sample
}

TEST_F(VoicesTest, PolyNotesNeverGlide) {
    inside(*synth).portamento = 10;
    send(0x90, 60, 100);
    send(0x90, 72, 100);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].pitch, -9.0);
    EXPECT_EQ(inside(*synth).voices[1].pitch, 3.0);
}

TEST_F(VoicesTest, MonoLegatoGlidesAtTheRateOfThePortamento) {
    inside(*synth).polyphony = 1;
    inside(*synth).portamento = 50;
    send(0x90, 60, 100);
    render(10);
    const int64_t time = inside(*synth).voices[0].time;
    send(0x90, 64, 77);
    std::vector<float> ignored = render(1);
    EXPECT_NEAR(inside(*synth).glideRate, std::log(0.5) * -80.0, 1e-12);
    EXPECT_NEAR(inside(*synth).voices[0].pitch, -9.0 + std::log(0.5) * -80.0 / 44100.0, 1e-12);
    EXPECT_EQ(inside(*synth).voices[0].velocity, 77);
    EXPECT_GT(inside(*synth).voices[0].time, time);  // legato: the counters go on
    // The first step was on the note-on's sample; the pitch arrives at step 3182.
    render(3180);
    EXPECT_LT(inside(*synth).voices[0].pitch, -5.0);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].pitch, -5.0);
}

TEST_F(VoicesTest, MonoFallsBackToTheHighestHeldKeyWithoutRestarting) {
    inside(*synth).polyphony = 1;
    inside(*synth).portamento = 90;
    send({midiEvent(0x90, 72, 100), midiEvent(0x90, 60, 100), midiEvent(0x90, 65, 100)});
    render(50);
    EXPECT_EQ(inside(*synth).voices[0].note, 65);
    const int64_t time = inside(*synth).voices[0].time;
    send(0x80, 60, 0);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].note, 72);
    EXPECT_EQ(inside(*synth).voices[0].targetPitch, 3.0);
    EXPECT_LT(inside(*synth).voices[0].pitch, 3.0);  // gliding up
    EXPECT_GT(inside(*synth).voices[0].time, time);
    send(0x80, 72, 0);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].note, 65);
    send(0x80, 65, 0);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].note, -1);
}

TEST_F(VoicesTest, MonoWithoutPortamentoMovementKeepsThePitch) {
    inside(*synth).polyphony = 1;
    inside(*synth).portamento = 0;
    send(0x90, 60, 100);
    render(1);
    send(0x90, 64, 100);
    render(100);
    EXPECT_EQ(inside(*synth).voices[0].pitch, -9.0);
    inside(*synth).portamento = 100;
    send(0x90, 67, 100);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].pitch, -2.0);
}

TEST_F(VoicesTest, ChannelTenPlaysTheProgramOfTheDrumKey) {
    inside(*synth).programs[5].drumKey = 36;
    inside(*synth).programs[9].drumKey = 36;
    inside(*synth).programs[11].drumKey = 20;
    synth->setProgram(2);
    struct Case {
        int status, key, program;
    };
    const Case cases[] = {{0x99, 36, 5}, {0x99, 20, 2}, {0x99, 37, 2}, {0x90, 36, 2}};
    for (const Case& c : cases) {
        send(c.status, c.key, 100);
        render(1);
        EXPECT_EQ(inside(*synth).voices[0].program, c.program) << c.key;
        send(0xB0, 123, 0);
        render(1);
    }
}

TEST_F(VoicesTest, MonoLegatoOnChannelTenKeepsTheSoundingProgram) {
    inside(*synth).polyphony = 1;
    inside(*synth).programs[5].drumKey = 40;
    send(0x99, 36, 100);
    render(1);
    send(0x99, 40, 100);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].program, 0);
    EXPECT_EQ(inside(*synth).voices[0].note, 40);
}

TEST_F(VoicesTest, AllNotesOffClearsEveryVoiceAndHeldKey) {
    for (int key = 40; key < 50; ++key) send(0x90, key, 100);
    render(1);
    send(0xBC, 127, 0);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), std::vector<int>(8, -1));
    for (uint8_t held : inside(*synth).heldKeys) EXPECT_EQ(held, 0);
}

TEST_F(VoicesTest, LoweringPolyphonyLeavesUpperVoicesSounding) {
    for (int key = 60; key < 66; ++key) send(0x90, key, 100);
    render(1);
    inside(*synth).polyphony = 2;
    send(0x80, 61, 0);
    send(0x90, 70, 100);
    send(0x90, 64, 100);  // still sounds on voice 4: a new key for voices 0 and 1
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{60, 70, 62, 63, 64, 65, -1, -1}));
    send(0x80, 60, 0);
    send(0x90, 64, 100);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{64, 70, 62, 63, 64, 65, -1, -1}));
    send(0x80, 64, 0);
    render(1);
    EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{-1, 70, 62, 63, -1, 65, -1, -1}));
}

TEST_F(VoicesTest, APolyphonyOutOfRangeNeverReachesPastTheEightVoices) {
    for (const int32_t polyphony : {9, 1000, INT32_MAX}) {
        inside(*synth).polyphony = polyphony;
        for (int key = 40; key < 60; ++key) send(0x90, key, 100);
        render(1);
        EXPECT_EQ(soundingNotes(*synth), (std::vector<int>{40, 41, 42, 43, 44, 45, 46, 47})) << polyphony;
        send(0xB0, 123, 0);
    }
}

}  // namespace

// MPE's lower zone: each member channel bends its own notes, the manager channel every note.
TEST_F(VoicesTest, MpeMemberChannelsBendTheirOwnNotes) {
    const double full = 8191.0 / 8192.0;  // a bend all the way up, of its range
    const struct {
        const char* name;
        bool mpe;
        std::vector<Midi> messages;
        double bends[3];  // of the notes on channels 2, 3 and 1
    } cases[] = {
        {"a member's bend, of 48 semitones", true, {midiEvent(0xE1, 127, 127)}, {48 * full, 0, 0}},
        {"the manager's, every note", true, {midiEvent(0xE0, 127, 127)}, {2 * full, 2 * full, 2 * full}},
        {"both", true, {midiEvent(0xE1, 127, 127), midiEvent(0xE0, 127, 127)}, {50 * full, 2 * full, 2 * full}},
        {"a member's RPN 0 sets every member's range in semitones",
         true,
         {midiEvent(0xB2, 101, 0), midiEvent(0xB2, 100, 0), midiEvent(0xB2, 6, 12), midiEvent(0xE1, 127, 127)},
         {12 * full, 0, 0}},
        {"a zone of one member: channel 3 is outside, as without MPE",
         true,
         {midiEvent(0xB0, 101, 0), midiEvent(0xB0, 100, 6), midiEvent(0xB0, 6, 1), midiEvent(0xE2, 127, 127)},
         {2 * full, 2 * full, 2 * full}},
        {"MPE off: every channel's bend moves every note",
         false,
         {midiEvent(0xE1, 127, 127)},
         {2 * full, 2 * full, 2 * full}},
    };
    for (const auto& c : cases) {
        language = Language::Extended;
        SetUp();
        inside(*synth).programs[0].drumKey = 60;
        synth->setSetting(engine::Setting::Mpe, c.mpe);
        send({midiEvent(0x91, 60, 100), midiEvent(0x92, 64, 100), midiEvent(0x90, 67, 100)});
        send(c.messages);
        render(1);
        for (int v = 0; v < 3; ++v) {
            const Voice& voice = inside(*synth).voices[v];
            EXPECT_NEAR(voice.stepPitch - voice.pitch, c.bends[v], 1e-5) << c.name << ", voice " << v;
        }
    }
    // Channel 10 plays the drum kit, but with MPE on it is a member like any other.
    synth->setProgram(3);
    for (bool mpe : {false, true}) {
        synth->setSetting(engine::Setting::Mpe, mpe);
        send({midiEvent(0xB0, 123, 0), midiEvent(0x99, 60, 100)});
        render(1);
        EXPECT_EQ(inside(*synth).voices[0].program, mpe ? 3 : 0) << mpe;
    }
}

namespace {

// What the first three voices play: each one's key, "r" after it while it releases, "-" when free.
std::string voiceStates(engine::Instrument& synth) {
    std::string states;
    for (int v = 0; v < 3; ++v) {
        const Voice& voice = inside(synth).voices[v];
        if (v) states += ' ';
        states += voice.note < 0 ? "-" : std::to_string(voice.note);
        if (voice.note >= 0 && voice.releasing) states += 'r';
    }
    return states;
}

}  // namespace

// The sustain pedal, all notes off, all sound off and the release, message by message.
TEST_F(VoicesTest, ThePedalHoldsNoteOffsAndTheReleaseKeepsVoicesSounding) {
    const Midi on60 = midiEvent(0x90, 60, 100), off60 = midiEvent(0x80, 60, 0), on62 = midiEvent(0x90, 62, 100),
               off62 = midiEvent(0x80, 62, 0), down = midiEvent(0xB0, 64, 127), up = midiEvent(0xB0, 64, 0);
    const struct {
        const char* name;
        Language language;
        int poly, release;  // the voices and the release in milliseconds
        std::vector<Midi> messages;
        const char* voices;
    } cases[] = {
        {"the pedal holds a note off", Language::Extended, 8, 0, {down, on60, off60}, "60 - -"},
        {"and plays it as it goes up", Language::Extended, 8, 0, {down, on60, off60, up}, "- - -"},
        {"down at 64, up below", Language::Extended, 8, 0, {midiEvent(0xB0, 64, 64), on60, off60}, "60 - -"},
        {"up at 63", Language::Extended, 8, 0, {midiEvent(0xB0, 64, 63), on60, off60}, "- - -"},
        {"a held key struck again retakes its voice, and sounds on after the pedal",
         Language::Extended,
         8,
         0,
         {down, on60, off60, on60, up},
         "60 - -"},
        {"another channel's pedal holds nothing",
         Language::Extended,
         8,
         0,
         {midiEvent(0xB1, 64, 127), on60, off60},
         "- - -"},
        {"all notes off releases held notes too",
         Language::Extended,
         8,
         100,
         {down, on60, on62, off60, midiEvent(0xB0, 123, 0)},
         "60r 62r -"},
        {"a reset of the controllers lifts the pedal",
         Language::Extended,
         8,
         0,
         {down, on60, off60, midiEvent(0xB0, 121, 0)},
         "- - -"},
        {"all sound off silences at once",
         Language::Extended,
         8,
         100,
         {on60, on62, off60, midiEvent(0xB0, 120, 0)},
         "- - -"},
        {"a released note sounds on", Language::Extended, 8, 100, {on60, on62, off60}, "60r 62 -"},
        {"its key struck again retakes it", Language::Extended, 8, 100, {on60, on62, off60, on60}, "60 62 -"},
        {"without a free voice the one releasing longest is taken",
         Language::Extended,
         2,
         100,
         {on60, on62, off60, off62, midiEvent(0x90, 64, 100)},
         "64 62r -"},
        {"and none while none releases", Language::Extended, 2, 100, {on60, on62, midiEvent(0x90, 64, 100)}, "60 62 -"},
        {"mono falls back to a held key without releasing", Language::Extended, 1, 100, {on60, on62, off62}, "60 - -"},
        {"mono releases its last key", Language::Extended, 1, 100, {on60, off60}, "60r - -"},
        {"the classic instrument has no pedal", Language::Classic, 8, 0, {down, on60, off60}, "- - -"},
        {"nor all sound off", Language::Classic, 8, 0, {on60, midiEvent(0xB0, 120, 0)}, "60 - -"},
    };
    for (const auto& c : cases) {
        language = c.language;
        SetUp();
        synth->setSetting(engine::Setting::Poly, c.poly);
        synth->setSetting(engine::Setting::Release, c.release);
        for (const Midi& m : c.messages) {
            send(m.status, m.data1, m.data2);
            render(1);
        }
        EXPECT_EQ(voiceStates(*synth), c.voices) << c.name;
    }
}

// A ramp multiplies the voice's value sample by sample: an attack of N samples scales the
// note's i-th sample by i/N, a release by 1 - i/N, from the level reached, and frees the
// voice after its N-th sample. A release of 1 ms is 44 samples at 44,100 Hz.
TEST_F(VoicesTest, AttackAndReleaseRampTheVoiceLinearly) {
    language = Language::Extended;
    SetUp();
    setFormula(0, "200");                           // clamped: 200 / 1024 at full level
    synth->setSetting(engine::Setting::Attack, 2);  // 88 samples
    synth->setSetting(engine::Setting::Release, 1);
    send(0x90, 60, 100);
    const std::vector<float> attack = render(100);
    for (int i = 0; i < 100; ++i) ASSERT_FLOAT_EQ(attack[i], 200.0f * std::min(i + 1, 88) / 88 / 1024) << i;
    send(0x80, 60, 0);
    const std::vector<float> release = render(50);
    for (int i = 0; i < 50; ++i) ASSERT_FLOAT_EQ(release[i], 200.0f * std::max(0, 44 - (i + 1)) / 44 / 1024) << i;
    EXPECT_EQ(inside(*synth).voices[0].note, -1);
    ASSERT_EQ(synth->endedCount(), 1);
    EXPECT_EQ(synth->endedNotes()[0].frame, 43) << "its last sample";

    // A release during the attack falls from the level reached, and a sawtooth never
    // jumps by more than its own step and the ramp's; a note struck while it falls rises
    // from where it stands.
    setFormula(0, "P&255");
    send(0x90, 69, 100);
    render(22);
    send(0x80, 69, 0);
    const std::vector<float> out = render(30);
    EXPECT_NEAR(inside(*synth).voices[0].ramp.from, 0.25, 1e-12);
    for (size_t i = 1; i < out.size(); ++i)
        EXPECT_LE(std::abs(out[i] - out[i - 1]), (3.0f + 255.0f / 44) / 1024 + 1e-6f) << i;
    send(0x90, 69, 100);
    render(1);
    EXPECT_NEAR(inside(*synth).voices[0].ramp.from, 0.25 * 14 / 44, 1e-12);
}
