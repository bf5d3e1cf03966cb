// Whole blocks: the instrument's render with eight voices of a mix of presets, against the same
// render loop running the presets in their fast form (what the WebAssembly build runs)
// and as native code.
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/render_loop.h"
#include "native_presets.h"

namespace {

constexpr int kBlock = 512;
constexpr int kPresetsPlayed[8] = {0, 4, 11, 15, 21, 23, 28, 35};

std::unique_ptr<engine::Instrument> eightVoices(bool lerp) {
    auto synth = std::make_unique<engine::Instrument>();
    synth->interpolate = lerp;
    for (int v = 0; v < 8; ++v) {
        synth->setProgram(kPresetsPlayed[v]);
        synth->noteOn(Event{Note, 0, 0, 48 + 3 * v, 100, 0, 0.0f, 0, 0});
    }
    return synth;
}

// Blocks of the eight voices, each formula run by `evaluate`.
template <class Evaluate>
void renderBlocks(benchmark::State& state, Evaluate&& evaluate) {
    auto synth = eightVoices(state.range(0) != 0);
    std::vector<float> left(kBlock), right(kBlock);
    for (auto _ : state) {
        synth->renderWith(left.data(), right.data(), kBlock, evaluate);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["ns_per_voice_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * 8,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Render(benchmark::State& state) {
    renderBlocks(state, [](CompiledExpression& code, int32_t) { return runExpression(code); });
}
void BM_RenderFastForm(benchmark::State& state) {
    renderBlocks(state, [](CompiledExpression& code, int32_t) { return runFastForm(code); });
}
void BM_RenderNative(benchmark::State& state) {
    renderBlocks(state,
                 [](CompiledExpression& code, int32_t program) { return nativePresets[program](code.variables); });
}

BENCHMARK(BM_Render)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_RenderFastForm)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_RenderNative)->Arg(0)->Arg(1)->ArgName("lerp");

}  // namespace
