// Item kinds and operator codes of the compiled queue. Multi-character operators and
// unary minus have codes below 32; every other operator is coded by its own character,
// a variable by its upper-case letter, and a word by a code of its own below 32.
#pragma once

#include <cstdint>

enum ItemKind : uint8_t {
    kEnd = 0,       // end of the program
    kCompiled = 1,  // header only: the queue may be run
    kNumber = 2,    // push the item's 32-bit value, sign-extended

    kShiftLeft = 10,     // a << (b & 63)
    kShiftRight = 11,    // a >> (b & 63), arithmetic
    kNegate = 12,        // 0 - v, wrapping
    kLogicalAnd = 13,    // a != 0 && b != 0
    kLogicalOr = 14,     // a != 0 || b != 0
    kLessEqual = 15,     // a <= b
    kGreaterEqual = 16,  // a >= b
    kEqual = 17,         // a == b
    kNotEqual = 18,      // a != b

    kFirstWord = 20,  // the words of words.h, in their order
    kLastWord = 26,

    kLogicalNot = '!',  // v == 0
    kRemainder = '%',   // a % b, b == 0 taken as 1
    kBitAnd = '&',      // a & b
    kOpenParen = '(',   // operator stack only
    kMultiply = '*',    // a * b, wrapping
    kAdd = '+',         // a + b, wrapping
    kSubtract = '-',    // a - b, wrapping
    kDivide = '/',      // a / b truncated, b == 0 taken as 1
    kElse = ':',        // cond, then, else -> cond ? then : else
    kLess = '<',        // a < b
    kGreater = '>',     // a > b
    kThen = '?',        // nothing: leaves condition and then-value for ':'
    kFirstVariable = 'A',
    kLastVariable = 'Z',
    kBitXor = '^',  // a ^ b
    kBitOr = '|',   // a | b
    kBitNot = '~',  // ~v
};

constexpr bool isLetter(uint8_t kind) { return kind >= kFirstVariable && kind <= kLastVariable; }
constexpr bool isWord(uint8_t kind) { return kind >= kFirstWord && kind <= kLastWord; }
constexpr bool isVariable(uint8_t kind) { return isLetter(kind) || isWord(kind); }
// A variable's place among a record's variables: the letters A..Z, then the words.
constexpr int variableIndex(uint8_t kind) { return isLetter(kind) ? kind - kFirstVariable : 26 + kind - kFirstWord; }

// How tightly an operator binds; 0 for anything that is not an operator.
int operatorPrecedence(uint8_t code);
