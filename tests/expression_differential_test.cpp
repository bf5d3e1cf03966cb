// Compile-and-run against a small independent evaluator: recursive descent over the
// same grammar, computing directly on the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "expr/expression.h"

namespace {

class ReferenceEvaluator {
public:
    ReferenceEvaluator(const std::string& text, const int64_t* variables) : text_(text), vars_(variables) {}

    int64_t evaluate() {
        const int64_t value = conditional();
        skipBlanks();
        EXPECT_EQ(pos_, text_.size()) << "reference parser stopped early in " << text_;
        return value;
    }

private:
    static int64_t wrap(uint64_t v) { return static_cast<int64_t>(v); }

    void skipBlanks() {
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    }
    bool accept(const char* token) {
        skipBlanks();
        const std::string t(token);
        if (text_.compare(pos_, t.size(), t) != 0) return false;
        // "<" must not take the first half of "<<" or "<=", "&" of "&&", and so on.
        if (t.size() == 1 && pos_ + 1 < text_.size()) {
            const char next = text_[pos_ + 1];
            if ((t == "<" || t == ">") && (next == t[0] || next == '=')) return false;
            if ((t == "&" || t == "|") && next == t[0]) return false;
            if (t == "!" && next == '=') return false;
        }
        pos_ += t.size();
        return true;
    }

    int64_t conditional() {
        const int64_t condition = binary(0);
        if (!accept("?")) return condition;
        const int64_t then = binary(0);
        EXPECT_TRUE(accept(":"));
        const int64_t otherwise = binary(0);
        return condition != 0 ? then : otherwise;
    }

    // Levels from loosest to tightest; operators of one level associate to the left.
    int64_t binary(int level) {
        static const std::vector<std::vector<const char*>> levels = {
            {"&&", "||"}, {"&", "^", "|"}, {"==", "!="},   {"<=", ">=", "<", ">"},
            {"<<", ">>"}, {"+", "-"},      {"*", "/", "%"}};
        if (level == static_cast<int>(levels.size())) return unary();
        int64_t left = binary(level + 1);
        for (;;) {
            const char* op = nullptr;
            for (const char* candidate : levels[level])
                if (accept(candidate)) {
                    op = candidate;
                    break;
                }
            if (!op) return left;
            left = apply(op, left, binary(level + 1));
        }
    }

    static int64_t apply(const std::string& op, int64_t a, int64_t b) {
        const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
        if (op == "+") return wrap(ua + ub);
        if (op == "-") return wrap(ua - ub);
        if (op == "*") return wrap(ua * ub);
        if (op == "/" || op == "%") {
            if (b == 0) b = 1;
            if (a == INT64_MIN && b == -1) return op == "/" ? INT64_MIN : 0;
            return op == "/" ? a / b : a % b;
        }
        if (op == "<<") return wrap(ua << (ub % 64));
        if (op == ">>") return a >> (ub % 64);
        if (op == "<") return a < b;
        if (op == ">") return a > b;
        if (op == "<=") return a <= b;
        if (op == ">=") return a >= b;
        if (op == "==") return a == b;
        if (op == "!=") return a != b;
        if (op == "&") return a & b;
        if (op == "^") return a ^ b;
        if (op == "|") return a | b;
        if (op == "&&") return a != 0 && b != 0;
        return a != 0 || b != 0;  // "||"
    }

    int64_t unary() {
        if (accept("-")) return wrap(0 - static_cast<uint64_t>(primary()));
        if (accept("!")) return primary() == 0;
        if (accept("~")) return ~primary();
        return primary();
    }

    int64_t primary() {
        skipBlanks();
        if (accept("(")) {
            const int64_t value = conditional();
            EXPECT_TRUE(accept(")"));
            return value;
        }
        const char c = text_[pos_];
        if (std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            return vars_[std::toupper(static_cast<unsigned char>(c)) - 'A'];
        }
        uint32_t value = 0;
        if (text_.compare(pos_, 2, "0x") == 0 || text_.compare(pos_, 2, "0X") == 0) {
            pos_ += 2;
            while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_])))
                value = value * 16 + static_cast<uint32_t>(std::stoi(std::string(1, text_[pos_++]), nullptr, 16));
        } else {
            while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
                value = value * 10 + static_cast<uint32_t>(text_[pos_++] - '0');
        }
        return static_cast<int32_t>(value);
    }

    const std::string& text_;
    const int64_t* vars_;
    size_t pos_ = 0;
};

class FormulaGenerator {
public:
    explicit FormulaGenerator(uint32_t seed) : rng_(seed) {}

    std::string expression(int depth) {
        const int choice = pick(depth <= 0 ? 2 : 8);
        if (choice < 2) return atom();
        std::string text;
        if (choice == 2) {
            text += unaryOperator();
            text += parenthesised(depth - 1);
        } else if (choice == 3) {
            text += '(';
            text += expression(depth - 1);
            text += '?';
            text += expression(depth - 1);
            text += ':';
            text += expression(depth - 1);
            text += ')';
        } else if (choice == 4) {
            text += parenthesised(depth - 1);
        } else {
            text += expression(depth - 1);
            text += blank();
            text += binaryOperator();
            text += blank();
            text += expression(depth - 1);
        }
        return text;
    }

private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    std::string blank() { return pick(4) == 0 ? " " : ""; }
    std::string parenthesised(int depth) {
        std::string text(1, '(');
        text += expression(depth);
        text += ')';
        return text;
    }

    std::string atom() {
        std::string text = pick(5) == 0 ? unaryOperator() : "";
        const int kind = pick(4);
        if (kind == 0) return text + "PTVMRSCAZptv"[pick(12)];
        if (kind == 1) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, pick(2) ? "0x%X" : "0X%x", static_cast<unsigned>(rng_()));
            return text + buffer;
        }
        if (kind == 2) return text + std::to_string(rng_() % 300);
        return text + std::to_string(static_cast<uint64_t>(rng_()) * (pick(2) ? 3 : 1));
    }
    std::string unaryOperator() { return std::string(1, "-!~"[pick(3)]); }
    std::string binaryOperator() {
        static const char* const ops[] = {"+",  "-",  "*",  "/",  "%", "<<", ">>", "<",  ">",
                                          "<=", ">=", "==", "!=", "&", "^",  "|",  "&&", "||"};
        return ops[pick(18)];
    }

    std::mt19937 rng_;
};

TEST(ExpressionDifferential, CompileAndRunAgreesWithARecursiveDescentReading) {
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression* record = &records[0];
    FormulaGenerator generator(2024);
    std::mt19937_64 values(99);
    for (int round = 0; round < 20000; ++round) {
        const std::string text = generator.expression(1 + round % 6);
        ASSERT_EQ(compileExpression(*record, text.c_str()), nullptr) << text;
        for (int trial = 0; trial < 4; ++trial) {
            int64_t vars[kVariableCount];
            for (int64_t& v : vars) {
                const uint64_t r = values();
                v = trial == 0   ? static_cast<int64_t>(r % 512)
                    : trial == 1 ? static_cast<int64_t>(r)
                                 : static_cast<int64_t>(r % 7) - 3;
            }
            std::copy(std::begin(vars), std::end(vars), record->variables);
            const int64_t expected = ReferenceEvaluator(text, vars).evaluate();
            ASSERT_EQ(runExpression(*record), expected) << text;
        }
    }
}

}  // namespace
