#include "engine_fixture.h"
#include "instrument_probe.h"

namespace {

using IntakeTest = EngineTest;

TEST_F(IntakeTest, NoteMessagesBecomeNoteRecords) {
    send({midiEvent(0x90, 60, 100, 17), midiEvent(0x93, 61, 0, 3), midiEvent(0x8F, 62, 64, 5),
          midiEvent(0x90, 0xC1, 0xFF, 1)});
    ASSERT_EQ(queued().size(), 4u);
    struct Expected {
        int frame, channel, note, velocity;
    };
    const Expected expected[] = {{17, 0, 60, 100}, {3, 3, 61, 0}, {5, 15, 62, 0}, {1, 0, 0x41, 0x7F}};
    for (size_t i = 0; i < 4; ++i) {
        const Event e = queued()[i];
        EXPECT_EQ(e.kind, EventKind::Note);
        EXPECT_EQ(e.frame, expected[i].frame);
        EXPECT_EQ(e.channel, expected[i].channel);
        EXPECT_EQ(e.note, expected[i].note);
        EXPECT_EQ(e.velocity, expected[i].velocity);
    }
}

TEST_F(IntakeTest, ControllersOfTheModeRangeReleaseEverything) {
    for (int controller = 118; controller <= 130; ++controller) send(0xB5, controller, 0);
    ASSERT_EQ(queued().size(), 5u);  // 123..127; 120, 121 and 128 up give nothing
    for (const Event& e : queued()) {
        EXPECT_EQ(e.kind, EventKind::Note);
        EXPECT_EQ(e.note, -1);
        EXPECT_EQ(e.velocity, 0);
        EXPECT_EQ(e.channel, 5);
    }
}

TEST_F(IntakeTest, TheModWheelAndProgramChangesAreQueued) {
    send({midiEvent(0xB2, 1, 99, 4), midiEvent(0xC7, 0x85, 0, 9), midiEvent(0xB0, 0x81, 50)});
    ASSERT_EQ(queued().size(), 2u);
    EXPECT_EQ(queued()[0].kind, EventKind::ModWheel);
    EXPECT_EQ(queued()[0].value, 99.0f);
    EXPECT_EQ(queued()[0].frame, 4);
    EXPECT_EQ(queued()[1].kind, EventKind::ProgramChange);
    EXPECT_EQ(queued()[1].program, 5);
    EXPECT_EQ(queued()[1].channel, 7);
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
        EXPECT_EQ(inside(*synth).bendRange, step.bendRange) << step.controller << "=" << step.value;
    }
    EXPECT_TRUE(queued().empty());
}

TEST_F(IntakeTest, PitchBendIsScaledByTheRangeInForce) {
    send({midiEvent(0xE0, 0, 64), midiEvent(0xE0, 0, 0), midiEvent(0xE0, 127, 127), midiEvent(0xB0, 6, 24),
          midiEvent(0xE0, 0, 0), midiEvent(0xE0, 0xFF, 0xFF)});
    ASSERT_EQ(queued().size(), 5u);
    const float expected[] = {0.0f, -2.0f, static_cast<float>(2.0 * 8191 / 8192), -12.0f,
                              static_cast<float>(12.0 * 8191 / 8192)};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(queued()[i].kind, EventKind::PitchBend);
        EXPECT_EQ(queued()[i].value, expected[i]) << i;
    }
}

TEST_F(IntakeTest, OtherMessagesAddNothing) {
    send({midiEvent(0xA0, 60, 10), midiEvent(0xD0, 60, 0), midiEvent(0xF8, 0, 0), midiEvent(0xFF, 0, 0),
          midiEvent(0x70, 60, 100)});
    EXPECT_TRUE(queued().empty());
}

TEST_F(IntakeTest, EventsAccumulateAcrossCallsUntilTheBlockEnds) {
    send(0x90, 60, 100, 2);
    send(0x90, 64, 100, 1);
    ASSERT_EQ(queued().size(), 2u);
    EXPECT_EQ(queued()[0].note, 60);
    EXPECT_EQ(queued()[1].note, 64);
    render(8);
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(inside(*synth).voices[0].note, 64);  // its frame came first
    EXPECT_EQ(inside(*synth).voices[1].note, 60);
}

TEST_F(IntakeTest, ABlockHoldsAtMostItsCapacityAndCountsWhatItDrops) {
    for (int i = 0; i < kEventCapacity; ++i) ASSERT_TRUE(synth->queueMidi(0x90, 60, 100, 0));
    EXPECT_FALSE(synth->queueMidi(0x80, 60, 0, 0));
    EXPECT_FALSE(synth->queueMidi(0x90, 61, 100, 0));
    EXPECT_EQ(synth->queuedCount(), kEventCapacity);
    EXPECT_EQ(synth->droppedEvents(), 2);
    render(1);
    EXPECT_TRUE(queued().empty());
    EXPECT_TRUE(synth->queueMidi(0x90, 61, 100, 0));
}

TEST_F(IntakeTest, EventsFireInFrameOrderAndInQueuedOrderWithinAFrame) {
    // Queued out of order: the frame decides first, then the order queued.
    send({midiEvent(0x90, 62, 100, 3), midiEvent(0x90, 60, 100, 1), midiEvent(0x80, 60, 0, 1),
          midiEvent(0x90, 61, 100, 1), midiEvent(0x90, 63, 100, -1), midiEvent(0x90, 64, 100, 4)});
    render(4);  // frame -1 and frame 4 are outside the block
    std::vector<int> notes;
    for (const Voice& voice : inside(*synth).voices) notes.push_back(voice.note);
    EXPECT_EQ(notes, (std::vector<int>{61, 62, -1, -1, -1, -1, -1, -1}));
}

}  // namespace
