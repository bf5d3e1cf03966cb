// Shunting-yard compilation of a formula into the record's queue, with the token-order
// rules that reject operands and operators in the wrong places.
#include "expression.h"

namespace {

enum class TokenClass { Operator, Operand, Unary, Open, Close };

enum class TokenType { Operand, Unary, Binary, Open, Close };

// What each token may follow: the table of token-order rules.
bool mayFollow(TokenType token, TokenClass previous) {
    switch (token) {
        case TokenType::Operand:
        case TokenType::Open: return previous != TokenClass::Operand && previous != TokenClass::Close;
        case TokenType::Unary: return previous == TokenClass::Operator || previous == TokenClass::Open;
        case TokenType::Binary:
        case TokenType::Close: return previous == TokenClass::Operand || previous == TokenClass::Close;
    }
    return false;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

class Compiler {
public:
    Compiler(CompiledExpression& record, const char* text) : r_(record), text_(text) {}

    const char* run();

private:
    const char* write(uint8_t kind, int32_t value = 0) {
        if (r_.queueLength >= r_.shape.queue) return messages::kQueueOverflow;
        RpnItem& item = r_.queue[r_.queueLength++];
        item.kind = kind;
        if (kind == kNumber) item.value = value;
        return nullptr;
    }
    const char* push(uint8_t code) {
        if (r_.operatorTop >= r_.shape.operators - 1) return messages::kStackOverflow;
        r_.operatorStack[++r_.operatorTop] = code;
        return nullptr;
    }
    uint8_t top() const { return r_.operatorTop >= 0 ? r_.operatorStack[r_.operatorTop] : 0; }
    bool stackEmpty() const { return r_.operatorTop < 0; }

    // Moves operators that bind at least as tightly as `code` from the stack to the queue.
    const char* popLoop(uint8_t code) {
        const int precedence = operatorPrecedence(code);
        while (!stackEmpty() && top() != kOpenParen && operatorPrecedence(top()) >= precedence) {
            if (const char* message = write(r_.operatorStack[r_.operatorTop--])) return message;
        }
        return nullptr;
    }
    const char* operatorToken(TokenType type, uint8_t code) {
        if (!mayFollow(type, previous_)) return messages::kSyntaxError;
        if (const char* message = popLoop(code)) return message;
        if (const char* message = push(code)) return message;
        previous_ = type == TokenType::Unary ? TokenClass::Unary : TokenClass::Operator;
        return nullptr;
    }
    const char* number();
    const char* closeParen();
    const char* finish();

    CompiledExpression& r_;
    const char* text_;
    TokenClass previous_ = TokenClass::Operator;
    int balance_ = 0;
};

const char* Compiler::number() {
    if (!mayFollow(TokenType::Operand, previous_)) return messages::kSyntaxError;
    uint32_t value = 0;  // wraps modulo 2^32
    if (*text_ == '0' && upper(text_[1]) == 'X') {
        text_ += 2;
        for (int digit; (digit = hexDigit(*text_)) >= 0; ++text_) value = value * 16 + static_cast<uint32_t>(digit);
    } else {
        for (; isDigit(*text_); ++text_) value = value * 10 + static_cast<uint32_t>(*text_ - '0');
    }
    previous_ = TokenClass::Operand;
    return write(kNumber, static_cast<int32_t>(value));
}

const char* Compiler::closeParen() {
    if (!mayFollow(TokenType::Close, previous_)) return messages::kSyntaxError;
    while (!stackEmpty() && top() != kOpenParen) {
        if (const char* message = write(r_.operatorStack[r_.operatorTop--])) return message;
    }
    if (top() == kOpenParen) --r_.operatorTop;
    --balance_;  // also without a matching '(': only the net count is checked at the end
    previous_ = TokenClass::Close;
    return nullptr;
}

const char* Compiler::finish() {
    while (!stackEmpty()) {
        const uint8_t code = r_.operatorStack[r_.operatorTop--];
        if (code == kOpenParen) continue;
        if (const char* message = write(code)) return message;
    }
    if (const char* message = write(kEnd)) return message;
    if (balance_ > 0) return messages::kMissingClose;
    if (balance_ < 0) return messages::kExtraClose;
    r_.queue[0].kind = kCompiled;
    translateFast(r_);
    return nullptr;
}

const char* Compiler::run() {
    r_.queueLength = 0;
    r_.operatorTop = -1;
    r_.queue[0].kind = kEnd;
    r_.fastLength = 0;
    r_.native = nullptr;
    r_.stretch = nullptr;
    r_.queueLength = 1;

    while (*text_ != '\0') {
        // Control characters, the space and every byte from 0x80 up separate tokens.
        if (static_cast<signed char>(*text_) <= 32) {
            ++text_;
            continue;
        }
        const char c = upper(*text_);
        const char next = upper(text_[1]);
        const char* message = nullptr;

        if (isDigit(c)) {
            message = number();
            if (message) return message;
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            if (!mayFollow(TokenType::Operand, previous_)) return messages::kSyntaxError;
            if ((message = write(static_cast<uint8_t>(c)))) return message;
            previous_ = TokenClass::Operand;
            ++text_;
            continue;
        }

        int length = 1;
        switch (c) {
            case '(':
                if (!mayFollow(TokenType::Open, previous_)) return messages::kSyntaxError;
                if ((message = push(kOpenParen))) return message;
                ++balance_;
                previous_ = TokenClass::Open;
                break;
            case ')': message = closeParen(); break;
            case '-':
                message = (previous_ == TokenClass::Operator || previous_ == TokenClass::Open)
                              ? operatorToken(TokenType::Unary, kNegate)
                              : operatorToken(TokenType::Binary, kSubtract);
                break;
            case '~': message = operatorToken(TokenType::Unary, kBitNot); break;
            case '!':
                if (next == '=') {
                    length = 2;
                    message = operatorToken(TokenType::Binary, kNotEqual);
                } else {
                    message = operatorToken(TokenType::Unary, kLogicalNot);
                }
                break;
            case '<':
            case '>': {
                const bool less = c == '<';
                if (next == c) {
                    length = 2;
                    message = operatorToken(TokenType::Binary, less ? kShiftLeft : kShiftRight);
                } else if (next == '=') {
                    length = 2;
                    message = operatorToken(TokenType::Binary, less ? kLessEqual : kGreaterEqual);
                } else {
                    message = operatorToken(TokenType::Binary, less ? kLess : kGreater);
                }
                break;
            }
            case '=':
                if (next != '=') return messages::kUnexpectedSymbol;
                length = 2;
                message = operatorToken(TokenType::Binary, kEqual);
                break;
            case '&':
            case '|': {
                const bool doubled = next == c;
                if (doubled) length = 2;
                const uint8_t code = c == '&' ? (doubled ? kLogicalAnd : kBitAnd) : (doubled ? kLogicalOr : kBitOr);
                message = operatorToken(TokenType::Binary, code);
                break;
            }
            case '*':
            case '/':
            case '%':
            case '+':
            case '^':
            case '?':
            case ':': message = operatorToken(TokenType::Binary, static_cast<uint8_t>(c)); break;
            default: return messages::kUnexpectedSymbol;
        }
        if (message) return message;
        text_ += length;
    }
    return finish();
}

}  // namespace

int operatorPrecedence(uint8_t code) {
    switch (code) {
        case kNegate:
        case kLogicalNot:
        case kBitNot: return 110;
        case kMultiply:
        case kDivide:
        case kRemainder: return 100;
        case kAdd:
        case kSubtract: return 90;
        case kShiftLeft:
        case kShiftRight: return 80;
        case kLess:
        case kGreater:
        case kLessEqual:
        case kGreaterEqual: return 70;
        case kEqual:
        case kNotEqual: return 60;
        case kBitAnd:
        case kBitXor:
        case kBitOr: return 50;
        case kLogicalAnd:
        case kLogicalOr: return 40;
        case kThen: return 30;
        case kElse: return 20;
        default: return 0;
    }
}

const char* compileExpression(CompiledExpression& record, const char* text) { return Compiler(record, text).run(); }

uint32_t variablesRead(const CompiledExpression& record) {
    if (!record.isCompiled()) return 0;
    uint32_t read = 0;
    for (int32_t i = 1; i < record.queueLength; ++i)
        if (isVariable(record.queue[i].kind)) read |= 1u << (record.queue[i].kind - kFirstVariable);
    return read;
}
