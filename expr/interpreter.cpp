// Runs a compiled queue on the record's value stack. Results are stored in place: a
// unary result overwrites its operand, a binary or conditional result its lowest
// operand. An operator that finds too few values stores nothing and only lowers the
// count, so slot 0 keeps its value; a count outside 0..16383 ends the run with 0.
#include "expression.h"
#include "intops.h"

namespace {

int64_t applyBinary(uint8_t code, int64_t a, int64_t b) {
    using namespace intops;
    switch (code) {
        case kAdd: return add(a, b);
        case kSubtract: return sub(a, b);
        case kMultiply: return mul(a, b);
        case kDivide: return div(a, b);
        case kRemainder: return rem(a, b);
        case kShiftLeft: return shl(a, b);
        case kShiftRight: return shr(a, b);
        case kLess: return truth(a < b);
        case kGreater: return truth(a > b);
        case kLessEqual: return truth(a <= b);
        case kGreaterEqual: return truth(a >= b);
        case kEqual: return truth(a == b);
        case kNotEqual: return truth(a != b);
        case kBitAnd: return a & b;
        case kBitXor: return a ^ b;
        case kBitOr: return a | b;
        case kLogicalAnd: return truth(a != 0 && b != 0);
        case kLogicalOr: return truth(a != 0 || b != 0);
        default: return 0;
    }
}

int64_t applyUnary(uint8_t code, int64_t v) {
    switch (code) {
        case kNegate: return intops::neg(v);
        case kLogicalNot: return intops::truth(v == 0);
        default: return ~v;
    }
}

}  // namespace

int64_t runExpression(CompiledExpression& record) {
    int64_t* const stack = record.valueStack;
    int32_t top = 0;
    if (record.isCompiled()) {
        for (const RpnItem* item = record.queue + 1; item->kind != kEnd; ++item) {
            const uint8_t kind = item->kind;
            if (kind == kNumber) {
                stack[top++] = item->value;
            } else if (isVariable(kind)) {
                stack[top++] = record.variables[kind - kFirstVariable];
            } else if (kind == kNegate || kind == kLogicalNot || kind == kBitNot) {
                if (top >= 1) stack[top - 1] = applyUnary(kind, stack[top - 1]);
            } else if (kind == kElse) {
                if (top >= 3) stack[top - 3] = stack[top - 3] != 0 ? stack[top - 2] : stack[top - 1];
                top -= 2;
            } else if (kind != kThen) {
                if (top >= 2) stack[top - 2] = applyBinary(kind, stack[top - 2], stack[top - 1]);
                top -= 1;
            }
            if (top < 0 || top > kValueStackCapacity - 1) {
                record.valueTop = top;
                return 0;
            }
        }
    }
    record.valueTop = top;
    return stack[0];
}
