// Shunting-yard compilation of a formula into the record's queue, with the token-order
// rules that reject operands and operators in the wrong places.
#include "expression.h"

namespace {

// What the token before was, and what the token being read is.
enum class LastToken { Operator, Operand, Unary, Open, Close };
enum class TokenKind { Operand, Unary, Binary, Open, Close };

// What each token may follow: the table of token-order rules.
bool mayFollow(TokenKind token, LastToken previous) {
    switch (token) {
        case TokenKind::Operand:
        case TokenKind::Open: return previous != LastToken::Operand && previous != LastToken::Close;
        case TokenKind::Unary: return previous == LastToken::Operator || previous == LastToken::Open;
        case TokenKind::Binary:
        case TokenKind::Close: return previous == LastToken::Operand || previous == LastToken::Close;
    }
    return false;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetterCharacter(char c) { return upper(c) >= 'A' && upper(c) <= 'Z'; }

// The item kind of the word of `length` letters at `text`; 0 for no word.
uint8_t wordKind(const char* text, int length) {
    for (int w = 0; w < kWordCount; ++w) {
        const char* name = kWordNames[w];
        int i = 0;
        while (i < length && name[i] != '\0' && upper(text[i]) == upper(name[i])) ++i;
        if (i == length && name[i] == '\0') return static_cast<uint8_t>(kFirstWord + w);
    }
    return 0;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

class Compiler {
public:
    Compiler(CompiledExpression& record, const char* text, Language language, CompiledExpression* right)
        : record_(&record), left_(&record), right_(right), start_(text), text_(text), language_(language) {}

    const char* run();
    // Where a failed run stopped: the character it could not take (for too many closing
    // parentheses, the first one too many), or the text's end where it ended too soon.
    int32_t stoppedAt(const char* message) const {
        return static_cast<int32_t>((message == messages::kExtraClose && extraClose_ ? extraClose_ : text_) - start_);
    }

private:
    const char* symbol(char c, char next, int& length);
    const char* write(uint8_t kind, int32_t value = 0) {
        if (record_->queueLength >= record_->shape.queue) return messages::kQueueOverflow;
        RpnItem& item = record_->queue[record_->queueLength++];
        item.kind = kind;
        if (kind == kNumber) item.value = value;
        return nullptr;
    }
    const char* push(uint8_t code) {
        if (record_->operatorTop >= record_->shape.operators - 1) return messages::kStackOverflow;
        record_->operatorStack[++record_->operatorTop] = code;
        return nullptr;
    }
    uint8_t top() const { return record_->operatorTop >= 0 ? record_->operatorStack[record_->operatorTop] : 0; }
    bool stackEmpty() const { return record_->operatorTop < 0; }

    // Moves operators that bind at least as tightly as `code` from the stack to the queue.
    const char* popLoop(uint8_t code) {
        const int precedence = operatorPrecedence(code);
        while (!stackEmpty() && top() != kOpenParen && operatorPrecedence(top()) >= precedence) {
            if (const char* message = write(record_->operatorStack[record_->operatorTop--])) return message;
        }
        return nullptr;
    }
    const char* operatorToken(TokenKind type, uint8_t code) {
        if (!mayFollow(type, previous_)) return messages::kSyntaxError;
        if (const char* message = popLoop(code)) return message;
        if (const char* message = push(code)) return message;
        previous_ = type == TokenKind::Unary ? LastToken::Unary : LastToken::Operator;
        return nullptr;
    }
    const char* number();
    const char* variable();
    const char* closeParen();
    const char* comma();
    // Moves the operators left on the stack to the side's queue and ends it.
    const char* closeQueue();
    const char* finish();
    static void clear(CompiledExpression& record);

    CompiledExpression* record_;  // the side being compiled
    CompiledExpression* const left_;
    CompiledExpression* const right_;  // where a stereo formula's right side goes; null: no stereo
    const char* const start_;
    const char* text_;
    const char* extraClose_ = nullptr;  // the first ')' with more ')'s than '('s up to it
    const Language language_;
    LastToken previous_ = LastToken::Operator;
    int balance_ = 0;
    int open_ = 0;  // open parentheses on the operator stack
    bool sideHasToken_ = false;
    bool split_ = false;   // the comma has been read: the right side is being compiled
    int leftBalance_ = 0;  // the left side's, checked at the end
};

const char* Compiler::number() {
    if (!mayFollow(TokenKind::Operand, previous_)) return messages::kSyntaxError;
    uint32_t value = 0;  // wraps modulo 2^32
    if (*text_ == '0' && upper(text_[1]) == 'X') {
        text_ += 2;
        for (int digit; (digit = hexDigit(*text_)) >= 0; ++text_) value = value * 16 + static_cast<uint32_t>(digit);
    } else {
        for (; isDigit(*text_); ++text_) value = value * 10 + static_cast<uint32_t>(*text_ - '0');
    }
    previous_ = LastToken::Operand;
    return write(kNumber, static_cast<int32_t>(value));
}

// A letter, or in the extended language a word: a run of two or more letters.
const char* Compiler::variable() {
    if (!mayFollow(TokenKind::Operand, previous_)) return messages::kSyntaxError;
    int length = 1;
    if (language_ == Language::Extended)
        while (isLetterCharacter(text_[length])) ++length;
    const uint8_t kind = length == 1 ? static_cast<uint8_t>(upper(*text_)) : wordKind(text_, length);
    if (kind == 0) return messages::kSyntaxError;
    previous_ = LastToken::Operand;
    text_ += length;
    return write(kind);
}

const char* Compiler::closeParen() {
    if (!mayFollow(TokenKind::Close, previous_)) return messages::kSyntaxError;
    while (!stackEmpty() && top() != kOpenParen) {
        if (const char* message = write(record_->operatorStack[record_->operatorTop--])) return message;
    }
    if (top() == kOpenParen) --record_->operatorTop, --open_;
    --balance_;  // also without a matching '(': only the net count is checked at the end
    if (balance_ < 0 && !extraClose_) extraClose_ = text_;
    previous_ = LastToken::Close;
    return nullptr;
}

const char* Compiler::closeQueue() {
    while (!stackEmpty()) {
        const uint8_t code = record_->operatorStack[record_->operatorTop--];
        if (code == kOpenParen) continue;
        if (const char* message = write(code)) return message;
    }
    return write(kEnd);
}

// One comma outside every parenthesis ends the left side of a stereo formula.
const char* Compiler::comma() {
    if (open_ > 0 || split_) return messages::kUnexpectedSymbol;
    if (!sideHasToken_) return messages::kSyntaxError;
    if (const char* message = closeQueue()) return message;
    leftBalance_ = balance_;
    split_ = true;
    record_ = right_;
    record_->queueLength = 1;
    record_->operatorTop = -1;
    previous_ = LastToken::Operator;
    balance_ = 0;
    sideHasToken_ = false;
    return nullptr;
}

// The text is read: the sides' balance, and then they may run.
const char* Compiler::finish() {
    if (split_ && !sideHasToken_) return messages::kSyntaxError;
    if (const char* message = closeQueue()) return message;
    for (int balance : {split_ ? leftBalance_ : balance_, balance_}) {
        if (balance > 0) return messages::kMissingClose;
        if (balance < 0) return messages::kExtraClose;
    }
    for (CompiledExpression* side : {left_, right_}) {
        if (side == right_ && !split_) continue;
        side->queue[0].kind = kCompiled;
        side->reads = 0;
        for (int32_t i = 1; i < side->queueLength; ++i)
            if (isVariable(side->queue[i].kind)) side->reads |= uint64_t{1} << variableIndex(side->queue[i].kind);
        translateFast(*side);
    }
    return nullptr;
}

// The operator or parenthesis `c` (followed by `next`) at the text's place: null or the
// compiler's message, and in `length` the characters it takes.
const char* Compiler::symbol(char c, char next, int& length) {
    const char* message = nullptr;
    switch (c) {
        case '(':
            if (!mayFollow(TokenKind::Open, previous_)) return messages::kSyntaxError;
            if ((message = push(kOpenParen))) return message;
            ++balance_;
            ++open_;
            previous_ = LastToken::Open;
            break;
        case ')': message = closeParen(); break;
        case '-':
            message = (previous_ == LastToken::Operator || previous_ == LastToken::Open)
                          ? operatorToken(TokenKind::Unary, kNegate)
                          : operatorToken(TokenKind::Binary, kSubtract);
            break;
        case '~': message = operatorToken(TokenKind::Unary, kBitNot); break;
        case '!':
            if (next == '=') {
                length = 2;
                message = operatorToken(TokenKind::Binary, kNotEqual);
            } else {
                message = operatorToken(TokenKind::Unary, kLogicalNot);
            }
            break;
        case '<':
        case '>': {
            const bool less = c == '<';
            if (next == c) {
                length = 2;
                message = operatorToken(TokenKind::Binary, less ? kShiftLeft : kShiftRight);
            } else if (next == '=') {
                length = 2;
                message = operatorToken(TokenKind::Binary, less ? kLessEqual : kGreaterEqual);
            } else {
                message = operatorToken(TokenKind::Binary, less ? kLess : kGreater);
            }
            break;
        }
        case '=':
            if (next != '=') return messages::kUnexpectedSymbol;
            length = 2;
            message = operatorToken(TokenKind::Binary, kEqual);
            break;
        case '&':
        case '|': {
            const bool doubled = next == c;
            if (doubled) length = 2;
            const uint8_t code = c == '&' ? (doubled ? kLogicalAnd : kBitAnd) : (doubled ? kLogicalOr : kBitOr);
            message = operatorToken(TokenKind::Binary, code);
            break;
        }
        case '*':
        case '/':
        case '%':
        case '+':
        case '^':
        case '?':
        case ':': message = operatorToken(TokenKind::Binary, static_cast<uint8_t>(c)); break;
        default: return messages::kUnexpectedSymbol;
    }
    return message;
}

// Ready to compile into, and not compiled until the whole text is.
void Compiler::clear(CompiledExpression& record) {
    record.operatorTop = -1;
    record.queue[0].kind = kEnd;
    record.fastLength = 0;
    record.compiledFormula = nullptr;
    record.stretch = nullptr;
    record.queueLength = 1;
}

const char* Compiler::run() {
    clear(*record_);
    if (right_) clear(*right_);

    while (*text_ != '\0') {
        // Control characters, the space and every byte from 0x80 up separate tokens.
        if (static_cast<signed char>(*text_) <= 32) {
            ++text_;
            continue;
        }
        const char c = upper(*text_);
        const char next = upper(text_[1]);
        const char* message = nullptr;
        if (c == ',' && language_ == Language::Extended && right_) {
            if ((message = comma())) return message;
            ++text_;
            continue;
        }
        sideHasToken_ = true;

        if (isDigit(c)) {
            message = number();
            if (message) return message;
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            if ((message = variable())) return message;
            continue;
        }

        int length = 1;
        message = symbol(c, next, length);
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

const char* compileExpression(CompiledExpression& record, const char* text, Language language,
                              CompiledExpression* right, int32_t* stoppedAt) {
    Compiler compiler(record, text, language, right);
    const char* message = compiler.run();
    if (stoppedAt) *stoppedAt = message ? compiler.stoppedAt(message) : -1;
    return message;
}
