// The costs around the sound: an instance's construction, compilations, one editor
// refresh, and saving and restoring the bank.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <memory>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "host/bytone.h"
#include "tests/instrument_probe.h"

namespace {

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Also counts the minor page faults an instance costs: a count that the machine's noise
// does not change.
void BM_Construction(benchmark::State& state) {
    const long before = minorFaults();
    for (auto _ : state) benchmark::DoNotOptimize(std::make_unique<Bytone>(nullptr));
    state.counters["minor_faults"] =
        benchmark::Counter(static_cast<double>(minorFaults() - before), benchmark::Counter::kAvgIterations);
}

void BM_CompilePreset(benchmark::State& state) {
    engine::Instrument bank;
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression& record = records[0];
    const char* formula = bank.formulaOf(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(compileExpression(record, formula));
}

void BM_EditorRefresh(benchmark::State& state) {
    auto synth = std::make_unique<engine::Instrument>();
    synth->setProgram(static_cast<int32_t>(state.range(0)));
    editor::GUI gui(*synth, std::make_unique<editor::HeadlessPlatform>());
    gui.open(nullptr);
    for (auto _ : state) {
        gui.refreshPending = true;
        gui.tick();  // one compilation and 580 runs of the formula for the scope
    }
}

void BM_GetChunk(benchmark::State& state) {
    auto synth = std::make_unique<engine::Instrument>();
    const void* data = nullptr;
    for (auto _ : state) benchmark::DoNotOptimize(synth->saveState(&data));
}

std::vector<char> stateOf(engine::Instrument& synth) {
    const void* data = nullptr;
    const int32_t size = synth.saveState(&data);
    return {static_cast<const char*>(data), static_cast<const char*>(data) + size};
}

// The bank the instance holds, restored again (as hosts do on reloading a project).
void BM_SetChunk(benchmark::State& state) {
    auto synth = std::make_unique<engine::Instrument>();
    std::vector<char> chunk = stateOf(*synth);
    for (auto _ : state) synth->restoreState(chunk.data(), static_cast<int32_t>(chunk.size()));
}

// Two banks in turn whose 128 formulas differ: every restore compiles them all.
void BM_SetChunkOfAnotherBank(benchmark::State& state) {
    auto synth = std::make_unique<engine::Instrument>();
    std::vector<char> banks[2];
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < kNumPrograms; ++i)
            std::snprintf(inside(*synth).programs[i].formula, kFormulaSize, "P*%d&255^T>>%d", i + 1, 9 + b);
        banks[b] = stateOf(*synth);
    }
    int b = 0;
    for (auto _ : state) {
        synth->restoreState(banks[b].data(), static_cast<int32_t>(banks[b].size()));
        b ^= 1;
    }
}

BENCHMARK(BM_Construction)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompilePreset)->Arg(0)->Arg(23)->Arg(34)->Arg(36)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_EditorRefresh)->Arg(0)->Arg(23)->Arg(36)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetChunk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetChunk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetChunkOfAnotherBank)->Unit(benchmark::kMicrosecond);

}  // namespace
