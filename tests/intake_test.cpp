#include "engine_fixture.h"

namespace {

using IntakeTest = EngineTest;

TEST_F(IntakeTest, NoteMessagesBecomeNoteRecords) {
    send({midiEvent(0x90, 60, 100, 17), midiEvent(0x93, 61, 0, 3), midiEvent(0x8F, 62, 64, 5),
          midiEvent(0x90, 0xC1, 0xFF, 1)});
    ASSERT_EQ(synth->pendingEvents.size(), 4u);
    struct Expected {
        int framesLeft, channel, note, velocity;
    };
    const Expected expected[] = {{17, 0, 60, 100}, {3, 3, 61, 0}, {5, 15, 62, 0}, {1, 0, 0x41, 0x7F}};
    for (size_t i = 0; i < 4; ++i) {
        const PendingEvent& e = synth->pendingEvents[i];
        EXPECT_EQ(e.kind, Note);
        EXPECT_EQ(e.framesLeft, expected[i].framesLeft);
        EXPECT_EQ(e.channel, expected[i].channel);
        EXPECT_EQ(e.note, expected[i].note);
        EXPECT_EQ(e.velocity, expected[i].velocity);
    }
}

TEST_F(IntakeTest, ControllersOfTheModeRangeReleaseEverything) {
    for (int controller = 118; controller <= 130; ++controller) send(0xB5, controller, 0);
    ASSERT_EQ(synth->pendingEvents.size(), 5u);  // 123..127; 120, 121 and 128 up give nothing
    for (const PendingEvent& e : synth->pendingEvents) {
        EXPECT_EQ(e.kind, Note);
        EXPECT_EQ(e.note, -1);
        EXPECT_EQ(e.velocity, 0);
        EXPECT_EQ(e.channel, 5);
    }
}

TEST_F(IntakeTest, TheModWheelAndProgramChangesAreQueued) {
    send({midiEvent(0xB2, 1, 99, 4), midiEvent(0xC7, 0x85, 0, 9), midiEvent(0xB0, 0x81, 50)});
    ASSERT_EQ(synth->pendingEvents.size(), 2u);
    EXPECT_EQ(synth->pendingEvents[0].kind, ModWheel);
    EXPECT_EQ(synth->pendingEvents[0].value, 99.0f);
    EXPECT_EQ(synth->pendingEvents[0].framesLeft, 4);
    EXPECT_EQ(synth->pendingEvents[1].kind, ProgramChange);
    EXPECT_EQ(synth->pendingEvents[1].program, 5);
    EXPECT_EQ(synth->pendingEvents[1].channel, 7);
}

TEST_F(IntakeTest, DataEntrySetsTheBendRangeOnlyUnderRpnZeroZero) {
    struct Step {
        int controller, value;
        double bendRange;
    };
    const Step steps[] = {
        {6, 24, 12.0},   // no RPN selected yet: both registers are 0
        {100, 1, 12.0},  // RPN 0/1
        {6, 4, 12.0},     {100, 0, 12.0},   {6, 4, 2.0},   {6, 127, 63.5},
        {101, 127, 63.5}, {100, 127, 63.5}, {6, 10, 63.5},  // the null RPN
        {101, 0, 63.5},   {100, 0, 63.5},   {6, 0, 0.0},
    };
    for (const Step& step : steps) {
        send(0xB0, step.controller, step.value);
        EXPECT_EQ(synth->bendRange, step.bendRange) << step.controller << "=" << step.value;
    }
    EXPECT_TRUE(synth->pendingEvents.empty());
}

TEST_F(IntakeTest, PitchBendIsScaledByTheRangeInForce) {
    send({midiEvent(0xE0, 0, 64), midiEvent(0xE0, 0, 0), midiEvent(0xE0, 127, 127), midiEvent(0xB0, 6, 24),
          midiEvent(0xE0, 0, 0), midiEvent(0xE0, 0xFF, 0xFF)});
    ASSERT_EQ(synth->pendingEvents.size(), 5u);
    const float expected[] = {0.0f, -2.0f, static_cast<float>(2.0 * 8191 / 8192), -12.0f,
                              static_cast<float>(12.0 * 8191 / 8192)};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(synth->pendingEvents[i].kind, PitchBend);
        EXPECT_EQ(synth->pendingEvents[i].value, expected[i]) << i;
    }
}

TEST_F(IntakeTest, OtherMessagesAndEventTypesAddNothing) {
    VstMidiEvent sysex = midiEvent(0x90, 60, 100);
    sysex.type = kVstSysExType;
    send({midiEvent(0xA0, 60, 10), midiEvent(0xD0, 60, 0), midiEvent(0xF8, 0, 0), midiEvent(0xFF, 0, 0), sysex,
          midiEvent(0x70, 60, 100)});
    EXPECT_TRUE(synth->pendingEvents.empty());
}

TEST_F(IntakeTest, EventsAccumulateAcrossCallsUntilTheBlockEnds) {
    send(0x90, 60, 100, 2);
    send(0x90, 64, 100, 1);
    ASSERT_EQ(synth->pendingEvents.size(), 2u);
    EXPECT_EQ(synth->pendingEvents[0].note, 60);
    EXPECT_EQ(synth->pendingEvents[1].note, 64);
    render(8);
    EXPECT_TRUE(synth->pendingEvents.empty());
    EXPECT_EQ(synth->voices[0].note, 64);  // its frame came first
    EXPECT_EQ(synth->voices[1].note, 60);
}

TEST_F(IntakeTest, UnreadableBlocksAreSkippedAndStillAnswerOne) {
    EXPECT_EQ(synth->processEvents(nullptr), 1);
    VstEvents empty{};
    EXPECT_EQ(synth->processEvents(&empty), 1);
    empty.numEvents = -5;
    EXPECT_EQ(synth->processEvents(&empty), 1);
    VstMidiEvent note = midiEvent(0x90, 60, 100);
    VstEvents withNull{};
    withNull.numEvents = 2;
    withNull.events[0] = nullptr;
    withNull.events[1] = reinterpret_cast<VstEvent*>(&note);
    EXPECT_EQ(synth->processEvents(&withNull), 1);
    ASSERT_EQ(synth->pendingEvents.size(), 1u);
    EXPECT_EQ(synth->pendingEvents[0].note, 60);
}

}  // namespace
