// The record hand-over alone: records offered, walked, adopted and given back, as the
// compiling side and the audio thread take turns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/record_hand_over.h"

namespace {

// One step of a turn: the compiling side offers a formula for a program (and takes back
// what was given back), walks or marks; the audio thread adopts or walks.
enum class Step { Offer, Mark, Walk, Adopt, AudioWalk };
struct Action {
    Step step;
    int program = 0;
    const char* formula = "";
};

struct Case {
    const char* name;
    std::vector<Action> actions;
    int stoppedAt;  // the program the last compiling walk stopped at, or -1
    // What the programs 1 to 4 play after the actions: their formula's value, or -1 for
    // a record that did not compile.
    std::vector<int64_t> playing;
    std::vector<bool> marked;  // programs 1 to 4 left marked for the next walk
};

class HandOverTest : public ::testing::Test {
protected:
    // The compiler's message of each program's newest formula; notes the last program asked.
    struct MessageOf {
        HandOverTest* test;
        const char* operator()(int program) const {
            test->asked = program;
            return test->messages[program];
        }
    };
    MessageOf messageOf() { return {this}; }

    void SetUp() override {
        // Every program plays 0, as a new instrument's programs play their formulas.
        for (int i = 0; i < engine::RecordHandOver::kPrograms; ++i) offer(i, "0");
        const char* message = nullptr;
        ASSERT_FALSE(handOver.walk(messageOf(), message));
        handOver.adoptWalked();
    }
    void offer(int program, const char* formula) {
        handOver.collectGivenBack();
        messages[program] = compileExpression(workspace[0], formula);
        CompiledExpression* record = handOver.take(program, workspace[0]);
        ASSERT_NE(record, nullptr) << program << " " << formula;
        handOver.sealCode();
        handOver.offer(program, record);
    }
    int64_t played(int program) {
        CompiledExpression& record = handOver.playing(program);
        return record.isCompiled() ? runExpression(record) : -1;
    }

    engine::RecordHandOver handOver{systemCodePages()};
    CompiledExpressions workspace = allocateCompiledExpressions(1);
    const char* messages[engine::RecordHandOver::kPrograms] = {};
    int asked = -1;
};

TEST_F(HandOverTest, RecordsReachTheAudioThreadInTheWalksOrder) {
    const Case cases[] = {
        {"an offer plays from the block after the walk",
         {{Step::Offer, 1, "5"}, {Step::Walk}, {Step::Adopt}},
         -1,
         {5, 0, 0, 0},
         {false, false, false, false}},
        {"an offer the walk has not passed does not play",
         {{Step::Offer, 1, "5"}, {Step::Adopt}},
         -1,
         {0, 0, 0, 0},
         {true, false, false, false}},
        {"the walk stops at the first failure and later offers wait",
         {{Step::Offer, 1, "7"}, {Step::Offer, 2, "7)"}, {Step::Offer, 3, "9"}, {Step::Walk}, {Step::Adopt}},
         2,
         {7, -1, 0, 0},
         {false, false, true, false}},
        {"a marked program whose formula fails stops the walk without a record",
         {{Step::Offer, 2, "1)"},
          {Step::Walk},
          {Step::Adopt},
          {Step::Offer, 3, "3"},
          {Step::Mark, 2},
          {Step::Walk},
          {Step::Adopt}},
         2,
         {0, -1, 0, 0},
         {false, false, true, false}},
        {"the audio thread's walk plays offers up to the first failure",
         {{Step::Offer, 1, "4"}, {Step::Offer, 3, "(("}, {Step::Offer, 4, "6"}, {Step::AudioWalk}},
         -1,
         {4, 0, -1, 0},
         {false, false, false, true}},
        {"a newer offer replaces one that waits",
         {{Step::Offer, 4, "1"}, {Step::Offer, 4, "2"}, {Step::AudioWalk}},
         -1,
         {0, 0, 0, 2},
         {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SetUp();
        int stoppedAt = -1;
        for (const Action& a : c.actions) {
            const char* message = nullptr;
            switch (a.step) {
                case Step::Offer: offer(a.program, a.formula); break;
                case Step::Mark: handOver.mark(a.program); break;
                case Step::Walk:
                    stoppedAt = handOver.walk(messageOf(), message) ? asked : -1;
                    if (stoppedAt >= 0) {
                        EXPECT_EQ(message, messages[stoppedAt]) << c.name;
                    }
                    break;
                case Step::Adopt: handOver.adoptWalked(); break;
                case Step::AudioWalk: handOver.walkOnAudioThread(); break;
            }
        }
        EXPECT_EQ(stoppedAt, c.stoppedAt) << c.name;
        for (int p = 1; p <= 4; ++p) {
            EXPECT_EQ(played(p), c.playing[p - 1]) << c.name << ", program " << p;
            EXPECT_EQ(handOver.isMarked(p), c.marked[p - 1]) << c.name << ", program " << p;
        }
    }
}

// Each program has four records: without records coming back, a few hundred edits would
// find none free.
TEST_F(HandOverTest, RecordsGivenBackAreTakenAgain) {
    for (int round = 1; round <= 2000; ++round) {
        offer(round % 3, std::to_string(round).c_str());
        const char* message = nullptr;
        ASSERT_FALSE(handOver.walk(messageOf(), message));
        handOver.adoptWalked();
        ASSERT_EQ(played(round % 3), round);
    }
}

}  // namespace
