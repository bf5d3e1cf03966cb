#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "expr/expression.h"

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

class InterpreterTest : public ::testing::Test {
protected:
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression* record = &records[0];

    int64_t eval(const char* formula, int64_t p = 0) {
        EXPECT_EQ(compileExpression(*record, formula), nullptr) << formula;
        record->variable('P') = p;
        return runExpression(*record);
    }
};

struct ValueCase {
    const char* formula;
    int64_t p;
    int64_t expected;
};

TEST_F(InterpreterTest, ComputesTheLanguagesValues) {
    const ValueCase cases[] = {
        {"7/0", 0, 7},
        {"7%0", 0, 0},
        {"0-7/2", 0, -3},
        {"-7%3", 0, -1},
        {"7%-3", 0, 1},
        {"(0-1)>>1", 0, -1},
        {"(1<<63)>>63", 0, -1},
        {"1<<64", 0, 1},
        {"1<<65", 0, 2},
        {"1<<-1", 0, kMin},
        {"-(1<<63)", 0, kMin},
        {"(1<<62)*4", 0, 0},
        {"(1<<63)/-1", 0, kMin},
        {"(1<<63)%-1", 0, 0},
        {"(1<<63)-1+2", 0, kMin + 1},
        {"3&&2", 0, 1},
        {"0&&2", 0, 0},
        {"0||5", 0, 1},
        {"0||0", 0, 0},
        {"!5", 0, 0},
        {"!0", 0, 1},
        {"~0", 0, -1},
        {"0XFFFFFFFF", 0, -1},
        {"2147483648", 0, -2147483648LL},
        {"0?7:9", 0, 9},
        {"2?7:9", 0, 7},
        {"1?2?3:4:5", 0, 3},
        {"1?0:5?6:7", 0, 6},
        {"0?1:2?3:4", 0, 4},
        {"P+", 42, 42},
        {"P?7", 42, 42},
        {"5:6", 0, 5},
        {"5:6:7", 0, 0},
        {"(P&256?P:~P)&255", 300, 44},
        {"(P&256?P:~P)&255", 0, 255},
        {"P<300", 299, 1},
        {"P<=300", 300, 1},
        {"P>=301", 300, 0},
        {"P>-1", 0, 1},
        {"P==300", 300, 1},
        {"P!=300", 300, 0},
        {"12^10|1", 0, 7},
        {"P*P/200&255", 1000, 5000 & 255},
        {"Q", 5, 0},
    };
    for (const ValueCase& c : cases) EXPECT_EQ(eval(c.formula, c.p), c.expected) << c.formula;
}

TEST_F(InterpreterTest, ReadsEveryVariableByItsLetter) {
    ASSERT_EQ(compileExpression(*record, "A+B*2+Z*4+t*8"), nullptr);
    for (int i = 0; i < kVariableCount; ++i) record->variables[i] = 0;
    record->variable('A') = 1;
    record->variable('B') = 10;
    record->variable('T') = 100;
    record->variable('Z') = 1000;
    EXPECT_EQ(runExpression(*record), 1 + 20 + 4000 + 800);
}

TEST_F(InterpreterTest, ARecordThatDoesNotRunYieldsTheLastResult) {
    EXPECT_EQ(runExpression(*record), 0);  // never compiled, never run
    EXPECT_EQ(eval("P*3", 5), 15);
    EXPECT_EQ(eval("", 0), 15);
    ASSERT_STREQ(compileExpression(*record, "P)"), messages::kExtraClose);
    EXPECT_EQ(runExpression(*record), 15);
    ASSERT_STREQ(compileExpression(*record, "#"), messages::kUnexpectedSymbol);
    EXPECT_EQ(runExpression(*record), 15);
}

TEST_F(InterpreterTest, AStackCountBelowZeroEndsTheRunWithZero) {
    EXPECT_EQ(eval("5:6:7"), 0);
    EXPECT_EQ(record->valueTop, -1);
}

TEST_F(InterpreterTest, TheDeepestCompilableQueueStaysInsideTheStack) {
    // A right-nested sum pushes all 8191 operands before the first operator runs.
    std::string text;
    for (int i = 0; i < 8190; ++i) text += "(1+";
    text += "1";
    for (int i = 0; i < 8190; ++i) text += ")";
    EXPECT_EQ(eval(text.c_str()), 8191);
}

}  // namespace
