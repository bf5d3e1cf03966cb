// The fast machine: direct-threaded code (each handler jumps straight to the next
// instruction's handler) with the accumulator in a register.
#include "expression.h"
#include "intops.h"

namespace {

// Runs the record's fast form; with a null record, hands out the handler table instead.
int64_t execute(CompiledExpression* record, const void* const** table) {
#define BINARY_HANDLERS(name) &&name##Ax, &&name##Xa
#define EVERY_BINARY(X)                                                                                         \
    X(add), X(sub), X(mul), X(div), X(rem), X(shl), X(shr), X(less), X(greater), X(lessEqual), X(greaterEqual), \
        X(equal), X(notEqual), X(bitAnd), X(bitXor), X(bitOr), X(logicalAnd), X(logicalOr)
    // In FastOp order.
    static const void* const handlers[] = {
        &&load,    &&spill,   &&spillLoad, &&negate,   &&logicalNot, &&bitNot,  &&select,
        &&divPow2, &&remPow2, &&divMagic,  &&remMagic, &&returnAcc,  &&returnX, EVERY_BINARY(BINARY_HANDLERS),
    };
#undef EVERY_BINARY
#undef BINARY_HANDLERS
    static_assert(sizeof handlers / sizeof handlers[0] == kFastOpCount);
    if (!record) {
        *table = handlers;
        return 0;
    }

    using namespace intops;
    // The code runs from the end of the array downward.
    const FastInstruction* ip = record->fast + record->shape.fast - 1;
    int64_t acc = 0;
    int64_t result;
#define NEXT goto*(--ip)->handler
#define BINARY(name, expression)                 \
    name##Ax : {                                 \
        const int64_t a = acc, b = *ip->operand; \
        acc = (expression);                      \
        NEXT;                                    \
    }                                            \
    name##Xa : {                                 \
        const int64_t a = *ip->operand, b = acc; \
        acc = (expression);                      \
        NEXT;                                    \
    }

    goto * ip->handler;
load:
    acc = *ip->operand;
    NEXT;
spill:
    *ip->slot = acc;
    NEXT;
spillLoad:
    *ip->slot = acc;
    acc = *ip->operand;
    NEXT;
negate:
    acc = neg(acc);
    NEXT;
logicalNot:
    acc = truth(acc == 0);
    NEXT;
bitNot:
    acc = ~acc;
    NEXT;
select:
    acc = acc != 0 ? *ip->operand : *ip->other;
    NEXT;
divPow2:
    acc = intops::divPow2(acc, ip->shift);
    NEXT;
remPow2:
    acc = intops::remPow2(acc, ip->shift);
    NEXT;
divMagic:
    acc = intops::divMagic(acc, ip->magic, ip->shift);
    NEXT;
remMagic:
    acc = intops::remMagic(acc, ip->magic, ip->shift, ip->divisor);
    NEXT;
    BINARY(add, add(a, b))
    BINARY(sub, sub(a, b))
    BINARY(mul, mul(a, b))
    BINARY(div, intops::div(a, b))
    BINARY(rem, rem(a, b))
    BINARY(shl, shl(a, b))
    BINARY(shr, shr(a, b))
    BINARY(less, truth(a < b))
    BINARY(greater, truth(a > b))
    BINARY(lessEqual, truth(a <= b))
    BINARY(greaterEqual, truth(a >= b))
    BINARY(equal, truth(a == b))
    BINARY(notEqual, truth(a != b))
    BINARY(bitAnd, a & b)
    BINARY(bitXor, a ^ b)
    BINARY(bitOr, a | b)
    BINARY(logicalAnd, truth(a != 0 && b != 0))
    BINARY(logicalOr, truth(a != 0 || b != 0))
#undef BINARY
#undef NEXT
returnAcc:
    result = acc;
    goto done;
returnX:
    result = *ip->operand;
done:
    record->valueStack[0] = result;
    record->valueTop = record->fastDepth;
    return result;
}

}  // namespace

int64_t runFastForm(CompiledExpression& record) {
    return record.fastLength > 0 ? execute(&record, nullptr) : interpretExpression(record);
}

const void* const* fastHandlerTable() {
    const void* const* table = nullptr;
    execute(nullptr, &table);
    return table;
}
