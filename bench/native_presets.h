// The 38 preset formulas written as C++ with the language's semantics (the same
// operator functions), compiled by the compiler: the limit an evaluator can approach.
#pragma once

#include <cstdint>

using NativeFormula = int64_t (*)(const int64_t* variables);

constexpr int kNativePresetCount = 38;
extern const NativeFormula nativePresets[kNativePresetCount];
