// One record run on each of its evaluation paths from the same starting state, for the
// tests and the formula fuzzer that hold the faster paths to the interpreter.
#pragma once

#include <array>
#include <cstdint>

#include "expr/expression.h"

enum EvaluationPath { kMachineCode, kFastForm, kInterpreter, kPathCount };

// What a run returns and leaves in the record.
struct PathRun {
    int64_t value;
    int64_t slotZero;
    int32_t top;
    bool operator==(const PathRun&) const = default;
};

// Runs `record` on each path, each from the slot 0 it had before. A path the record
// lacks (no machine code, no fast form) falls back as runExpression does.
inline std::array<PathRun, kPathCount> runOnEveryPath(CompiledExpression& record) {
    const int64_t slotZero = record.valueStack[0];
    const FormulaFunction native = record.compiledFormula;
    std::array<PathRun, kPathCount> runs{};
    for (int path = 0; path < kPathCount; ++path) {
        record.valueStack[0] = slotZero;
        record.compiledFormula = path == kMachineCode ? native : nullptr;
        const int64_t value = path == kInterpreter ? interpretExpression(record) : runExpression(record);
        runs[path] = {value, record.valueStack[0], record.valueTop};
    }
    record.compiledFormula = native;
    return runs;
}
