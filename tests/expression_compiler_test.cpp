#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "expr/expression.h"

namespace {

std::string spelling(uint8_t kind) {
    switch (kind) {
        case kShiftLeft: return "<<";
        case kShiftRight: return ">>";
        case kNegate: return "neg";
        case kLogicalAnd: return "&&";
        case kLogicalOr: return "||";
        case kLessEqual: return "<=";
        case kGreaterEqual: return ">=";
        case kEqual: return "==";
        case kNotEqual: return "!=";
        case kEnd: return "End";
        default: return isWord(kind) ? kWordNames[kind - kFirstWord] : std::string(1, static_cast<char>(kind));
    }
}

// The items after the header, as text: "P 255 & End".
std::string queueText(const CompiledExpression& record) {
    std::string text;
    for (int i = 1; i < record.queueLength; ++i) {
        const RpnItem& item = record.queue[i];
        if (!text.empty()) text += ' ';
        text += item.kind == kNumber ? std::to_string(item.value) : spelling(item.kind);
    }
    return text;
}

class CompilerTest : public ::testing::Test {
protected:
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression* record = &records[0];

    const char* compile(const std::string& text, Language language = Language::Classic) {
        return compileExpression(*record, text.c_str(), language);
    }
};

struct QueueCase {
    const char* formula;
    const char* queue;
};

TEST_F(CompilerTest, CompilesToTheExpectedQueues) {
    const QueueCase cases[] = {
        {"", "End"},
        {"  \t ", "End"},
        {"P&255", "P 255 & End"},
        {"(p&255)", "P 255 & End"},
        {"(P&256?P:~P)&255", "P 256 & P ? P ~ : 255 & End"},
        {"R&255&((P&0XFF0)>>4)", "R 255 & P 4080 & 4 >> & End"},
        {"(T/50^P/3^P&P)&128", "T 50 / P 3 / ^ P ^ P & 128 & End"},
        {"A?B:C?D:E", "A B ? C D ? : E : End"},
        {"0x1f", "31 End"},
        {"0X1F", "31 End"},
        {"0XFFFFFFFF", "-1 End"},
        {"4294967295", "-1 End"},
        {"2147483648", "-2147483648 End"},
        {"4294967296", "0 End"},
        {"0X", "0 End"},
        {"P<=Q>=R", "P Q <= R >= End"},
        {"P--Q", "P Q neg - End"},
        {"-(-P)", "P neg neg End"},
        {"P)+(P", "P P + End"},
        {"P+", "P + End"},
        {"P\xA0+\xA0Q", "P Q + End"},
        {"1<<2>>3", "1 2 << 3 >> End"},
        {"A&&B||C", "A B && C || End"},
        {"A==B!=C", "A B == C != End"},
        {"A|B^C&D", "A B | C ^ D & End"},
        {"-A*B", "A neg B * End"},
        {"!A+~B%C", "A ! B ~ C % + End"},
        {"A<B>C", "A B < C > End"},
        {"1-2-3", "1 2 - 3 - End"},
        {"P*(Q+R)", "P Q R + * End"},
    };
    // The extended language reads every formula of the classic one as it does.
    for (Language language : {Language::Classic, Language::Extended}) {
        for (const QueueCase& c : cases) {
            EXPECT_EQ(compile(c.formula, language), nullptr) << c.formula;
            EXPECT_TRUE(record->isCompiled()) << c.formula;
            EXPECT_EQ(queueText(*record), c.queue) << c.formula;
        }
    }
}

struct MessageCase {
    const char* formula;
    const char* message;
    int32_t stop;  // where the compiler stopped
};

TEST_F(CompilerTest, ReportsTheFirstFaultWithItsMessageAndWhereItStopped) {
    using namespace messages;
    const MessageCase cases[] = {
        {"P<>Q", kSyntaxError, 2},       {"P&&&Q", kSyntaxError, 3},      {"1 2", kSyntaxError, 2},
        {"2P", kSyntaxError, 1},         {"P(Q)", kSyntaxError, 1},       {"()", kSyntaxError, 1},
        {")", kSyntaxError, 0},          {"?", kSyntaxError, 0},          {"!=P", kSyntaxError, 0},
        {"--P", kSyntaxError, 1},        {"-~P", kSyntaxError, 1},        {"!!P", kSyntaxError, 1},
        {"!-P", kSyntaxError, 1},        {"P T", kSyntaxError, 2},        {"0XG", kSyntaxError, 2},
        {"(P)Q", kSyntaxError, 3},       {"(P)(Q)", kSyntaxError, 3},     {"P+*Q", kSyntaxError, 2},
        {"(*P)", kSyntaxError, 1},       {"P+)", kSyntaxError, 2},        {"P===Q", kUnexpectedSymbol, 3},
        {"A=B", kUnexpectedSymbol, 1},   {"P< =Q", kUnexpectedSymbol, 3}, {"P\"", kUnexpectedSymbol, 1},
        {"#", kUnexpectedSymbol, 0},     {"$", kUnexpectedSymbol, 0},     {"'", kUnexpectedSymbol, 0},
        {",", kUnexpectedSymbol, 0},     {".", kUnexpectedSymbol, 0},     {";", kUnexpectedSymbol, 0},
        {"@", kUnexpectedSymbol, 0},     {"[", kUnexpectedSymbol, 0},     {"\\", kUnexpectedSymbol, 0},
        {"]", kUnexpectedSymbol, 0},     {"_", kUnexpectedSymbol, 0},     {"`", kUnexpectedSymbol, 0},
        {"{", kUnexpectedSymbol, 0},     {"}", kUnexpectedSymbol, 0},     {"\x7F", kUnexpectedSymbol, 0},
        {"P+1.5", kUnexpectedSymbol, 3}, {"1 2 #", kSyntaxError, 2},      {"(P", kMissingClose, 2},
        {"((P)", kMissingClose, 4},      {"P)", kExtraClose, 1},          {"(P))", kExtraClose, 3},
        {"P**3", kSyntaxError, 2},       {"P*)", kSyntaxError, 2},        {"P)+(T))", kExtraClose, 1},
    };
    for (Language language : {Language::Classic, Language::Extended}) {
        for (const MessageCase& c : cases) {
            int32_t stop = 0;
            EXPECT_STREQ(compileExpression(*record, c.formula, language, nullptr, &stop), c.message) << c.formula;
            EXPECT_EQ(stop, c.stop) << c.formula;
            EXPECT_FALSE(record->isCompiled()) << c.formula;
        }
    }
    int32_t stop = 0;
    EXPECT_EQ(compileExpression(*record, "P&255", Language::Classic, nullptr, &stop), nullptr);
    EXPECT_EQ(stop, -1);
}

TEST_F(CompilerTest, OneCommaOutsideEveryParenthesisSplitsAStereoFormula) {
    using namespace messages;
    CompiledExpressions rights = allocateCompiledExpressions(1);
    CompiledExpression& right = rights[0];
    const struct {
        const char* formula;
        const char* message;
        const char* left = nullptr;
        const char* right = nullptr;  // null: the formula plays the same on both sides
        int32_t stop = -1;
    } cases[] = {
        {"P,T", nullptr, "P End", "T End"},
        {" (P&255) , beat>>8 ", nullptr, "P 255 & End", "beat 8 >> End"},
        {"P+,-T", nullptr, "P + End", "T neg End"},
        {"P*2", nullptr, "P 2 * End", nullptr},
        {"(P,T)", kUnexpectedSymbol, nullptr, nullptr, 2},
        {"P,T,R", kUnexpectedSymbol, nullptr, nullptr, 3},
        {"P,", kSyntaxError, nullptr, nullptr, 2},
        {",P", kSyntaxError, nullptr, nullptr, 0},
        {",", kSyntaxError, nullptr, nullptr, 0},
        {"P,T T", kSyntaxError, nullptr, nullptr, 4},
        {"P),T", kExtraClose, nullptr, nullptr, 1},
        {"P,(T", kMissingClose, nullptr, nullptr, 4},
        {"P),(T", kExtraClose, nullptr, nullptr, 1},        // the left side's fault first
        {"P),T#", kUnexpectedSymbol, nullptr, nullptr, 4},  // a symbol before any parenthesis is counted
        {"P,T)", kExtraClose, nullptr, nullptr, 3},
    };
    for (const auto& c : cases) {
        int32_t stop = 0;
        const char* message = compileExpression(*record, c.formula, Language::Extended, &right, &stop);
        EXPECT_STREQ(message, c.message) << c.formula;
        EXPECT_EQ(stop, c.stop) << c.formula;
        EXPECT_EQ(record->isCompiled(), !c.message) << c.formula;
        EXPECT_EQ(right.isCompiled(), !c.message && c.right) << c.formula;
        if (c.message) continue;
        EXPECT_EQ(queueText(*record), c.left) << c.formula;
        if (c.right) {
            EXPECT_EQ(queueText(right), c.right) << c.formula;
        }
        // Without a right record, and in the classic language, a comma is unexpected.
        EXPECT_STREQ(compile(c.formula, Language::Extended), c.right ? kUnexpectedSymbol : nullptr) << c.formula;
        EXPECT_STREQ(compileExpression(*record, c.formula, Language::Classic, &right),
                     c.right ? kUnexpectedSymbol : nullptr)
            << c.formula;
        EXPECT_FALSE(right.isCompiled()) << c.formula;
    }
}

// Words are runs of letters, which the classic language refuses.
TEST_F(CompilerTest, TheExtendedLanguageReadsWordsWhereTheClassicRefusesThem) {
    using namespace messages;
    const struct {
        const char* formula;
        const char* queue;  // in the extended language; null where it refuses the text too
        const char* message;
    } cases[] = {
        {"beat>>12&3", "beat 12 >> 3 & End", kSyntaxError},
        {"(BEAT-Bar)/note", "beat bar - note / End", kSyntaxError},
        {"T*(beat-start)", "T beat start - * End", kSyntaxError},
        {"gate?pressure:timbre", "gate pressure ? timbre : End", kSyntaxError},
        {"-note", "note neg End", kSyntaxError},
        {"0xbeat", nullptr, kSyntaxError},  // hex digits, then T after a number
        {"beats", nullptr, kSyntaxError},
        {"PT", nullptr, kSyntaxError},
        {"P beat", nullptr, kSyntaxError},
        {"beat(P)", nullptr, kSyntaxError},
        {"beat+", "beat + End", kSyntaxError},
        {"(note)", "note End", kSyntaxError},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(compile(c.formula), c.message) << c.formula;
        if (c.queue) {
            EXPECT_EQ(compile(c.formula, Language::Extended), nullptr) << c.formula;
            EXPECT_EQ(queueText(*record), c.queue) << c.formula;
        } else {
            EXPECT_STREQ(compile(c.formula, Language::Extended), c.message) << c.formula;
        }
    }
}

TEST_F(CompilerTest, QueueOverflowsPastItsCapacity) {
    // "P" then n times "+P": 2n + 1 items between the header and End.
    auto sum = [](int terms) {
        std::string text = "P";
        for (int i = 1; i < terms; ++i) text += "+P";
        return text;
    };
    EXPECT_EQ(compile(sum(8191)), nullptr);  // 16381 items
    EXPECT_EQ(record->queueLength, 16383);
    EXPECT_EQ(compile(sum(8191) + "+"), nullptr);  // 16382 items: the queue is full with End
    EXPECT_EQ(record->queueLength, kQueueCapacity);
    EXPECT_STREQ(compile(sum(8192)), messages::kQueueOverflow);  // 16383 items
    EXPECT_FALSE(record->isCompiled());
}

TEST_F(CompilerTest, OperatorStackOverflowsPastItsCapacity) {
    EXPECT_STREQ(compile(std::string(16384, '(') + "P" + std::string(16384, ')')), nullptr);
    EXPECT_STREQ(compile(std::string(16385, '(')), messages::kStackOverflow);
    EXPECT_FALSE(record->isCompiled());
}

TEST_F(CompilerTest, AFailedCompilationLeavesTheRecordNotCompiled) {
    ASSERT_EQ(compile("P&255"), nullptr);
    ASSERT_TRUE(record->isCompiled());
    EXPECT_STREQ(compile("P&"), nullptr);
    EXPECT_STREQ(compile("P&#"), messages::kUnexpectedSymbol);
    EXPECT_FALSE(record->isCompiled());
    EXPECT_EQ(compile("P"), nullptr);
    EXPECT_TRUE(record->isCompiled());
}

TEST_F(CompilerTest, AnyBytesGetAResultOrAMessage) {
    // Random texts of every byte value and length: the compiler must end at the text's
    // zero, never read past it, and answer with nothing or one of the six messages.
    const char* const known[] = {messages::kUnexpectedSymbol, messages::kSyntaxError,   messages::kMissingClose,
                                 messages::kExtraClose,       messages::kQueueOverflow, messages::kStackOverflow};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const std::string alphabet = "PTVMRSC0123456789x+-*/%&|^!~<>=?:() ";
    for (int round = 0; round < 3000; ++round) {
        const size_t length = next() % (round % 100 == 0 ? 40000 : 64);
        std::unique_ptr<char[]> text(new char[length + 1]);
        for (size_t i = 0; i < length; ++i) {
            const uint32_t r = next();
            text[i] = (r & 1) ? alphabet[r % alphabet.size()] : static_cast<char>(1 + (r >> 1) % 255);
        }
        text[length] = '\0';
        const char* message = compileExpression(*record, text.get());
        if (message) {
            EXPECT_TRUE(std::find(std::begin(known), std::end(known), message) != std::end(known));
        } else {
            EXPECT_TRUE(record->isCompiled());
            EXPECT_EQ(record->queue[record->queueLength - 1].kind, kEnd);
        }
    }
}

TEST(OperatorPrecedence, FollowsTheTable) {
    EXPECT_EQ(operatorPrecedence(kNegate), 110);
    EXPECT_EQ(operatorPrecedence('*'), 100);
    EXPECT_EQ(operatorPrecedence('+'), 90);
    EXPECT_EQ(operatorPrecedence(kShiftRight), 80);
    EXPECT_EQ(operatorPrecedence(kLessEqual), 70);
    EXPECT_EQ(operatorPrecedence(kNotEqual), 60);
    EXPECT_EQ(operatorPrecedence('|'), 50);
    EXPECT_EQ(operatorPrecedence(kLogicalOr), 40);
    EXPECT_EQ(operatorPrecedence('?'), 30);
    EXPECT_EQ(operatorPrecedence(':'), 20);
    EXPECT_EQ(operatorPrecedence('('), 0);
    EXPECT_EQ(operatorPrecedence('P'), 0);
}

}  // namespace
