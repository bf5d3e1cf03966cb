// One evaluation of each preset: the instrument's evaluator (machine code), its fast form
// and its plain interpreter against native code.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_inputs.h"
#include "native_presets.h"

namespace {

engine::Instrument& presetBank() {
    static engine::Instrument instance;
    return instance;
}

// Evaluations of preset `state.range(0)` by `evaluate`, on the preset's own record.
template <int64_t (*evaluate)(CompiledExpression&)>
void evaluatePreset(benchmark::State& state) {
    engine::Instrument& bank = presetBank();
    CompiledExpression& code = bank.programRecord(static_cast<int>(state.range(0)));
    static const FormulaInputs inputs(bank.sineTable());
    int k = 0;
    for (auto _ : state) {
        inputs.fill(code.variables, k);
        benchmark::DoNotOptimize(evaluate(code));
        k = (k + 1) & (FormulaInputs::kLength - 1);
    }
}

void BM_Formula(benchmark::State& state) { evaluatePreset<runExpression>(state); }
void BM_FastForm(benchmark::State& state) { evaluatePreset<runFastForm>(state); }
void BM_PlainInterpreter(benchmark::State& state) { evaluatePreset<interpretExpression>(state); }

void BM_NativeFormula(benchmark::State& state) {
    const NativeFormula formula = nativePresets[state.range(0)];
    static const FormulaInputs inputs(presetBank().sineTable());
    int64_t variables[26] = {};
    int k = 0;
    for (auto _ : state) {
        inputs.fill(variables, k);
        benchmark::DoNotOptimize(formula(variables));
        k = (k + 1) & (FormulaInputs::kLength - 1);
    }
}

BENCHMARK(BM_Formula)->DenseRange(0, kNativePresetCount - 1);
BENCHMARK(BM_FastForm)->DenseRange(0, kNativePresetCount - 1);
BENCHMARK(BM_NativeFormula)->DenseRange(0, kNativePresetCount - 1);
BENCHMARK(BM_PlainInterpreter)->DenseRange(0, kNativePresetCount - 1);

}  // namespace
