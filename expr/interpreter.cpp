// Runs a compiled queue on the record's value stack. Results are stored in place: a
// unary result overwrites its operand, a binary or conditional result its lowest
// operand. An operator that finds too few values stores nothing and only lowers the
// count, so slot 0 keeps its value; a count outside the value stack (0..16383 in a full
// record) ends the run with 0.
#include "expression.h"
#include "intops.h"

int64_t interpretExpression(CompiledExpression& record) {
    int64_t* const stack = record.valueStack;
    int32_t top = 0;
    if (record.isCompiled()) {
        for (const RpnItem* item = record.queue + 1; item->kind != kEnd; ++item) {
            const uint8_t kind = item->kind;
            if (kind == kNumber) {
                stack[top++] = item->value;
            } else if (isVariable(kind)) {
                stack[top++] = record.variables[variableIndex(kind)];
            } else if (intops::isUnary(kind)) {
                if (top >= 1) stack[top - 1] = intops::unary(kind, stack[top - 1]);
            } else if (kind == kElse) {
                if (top >= 3) stack[top - 3] = stack[top - 3] != 0 ? stack[top - 2] : stack[top - 1];
                top -= 2;
            } else if (kind != kThen) {
                if (top >= 2) stack[top - 2] = intops::binary(kind, stack[top - 2], stack[top - 1]);
                top -= 1;
            }
            if (top < 0 || top > record.shape.values - 1) {
                record.valueTop = top;
                return 0;
            }
        }
    }
    record.valueTop = top;
    return stack[0];
}
