// Whole blocks: the instrument's render with eight voices of a mix of presets, against the same
// render loop running the presets in their fast form (what the WebAssembly build runs)
// and as native code called per sample, and against the limit: the eight formulas written
// in C++ and inlined into a loop over the block, voice by voice, with the instrument's
// semantics (phase and time fractions, R drawn in the same order, mask or clamp, gain,
// the same mix order).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/render_loop.h"
#include "native_presets.h"
#include "tests/instrument_probe.h"
#include "tests/oversampling_measures.h"

namespace {

constexpr int kBlock = 512;
constexpr double kRate = 44100.0;
constexpr int kPresetsPlayed[8] = {0, 4, 11, 15, 21, 23, 28, 35};

std::unique_ptr<engine::Instrument> eightVoices(bool lerp) {
    auto synth = std::make_unique<engine::Instrument>();
    synth->setSampleRate(kRate);
    inside(*synth).interpolate = lerp;
    for (int v = 0; v < 8; ++v) {
        synth->setProgram(kPresetsPlayed[v]);
        inside(*synth).noteOn(engine::Event{engine::EventKind::Note, 0, 0, 48 + 3 * v, 100, 0, 0.0f, 0, 0});
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

void BM_Render(benchmark::State& state) { renderBlocks(state, engine::CompiledCode{}); }
void BM_RenderFastForm(benchmark::State& state) { renderBlocks(state, engine::FastFormOnly{}); }
// One voice of preset `Preset` over `frames` frames, the formula inlined.
template <int Preset>
void inlinedVoice(engine::Instrument& synth, engine::Voice& voice, int32_t frames, random15::Every draws, float* mix,
                  double timeStep) {
    int64_t v[kVariableCount] = {};
    v['V' - 'A'] = voice.velocity;
    v['M' - 'A'] = inside(synth).modWheel;
    const bool lerp = inside(synth).interpolate, clamp = inside(synth).clampOutput;
    const int64_t gain = inside(synth).gain;
    const double phaseStep = voice.phaseStep;
    double phaseFrac = voice.phaseFrac, timeFrac = voice.timeFrac;
    auto phase = static_cast<uint64_t>(voice.phase), time = static_cast<uint64_t>(voice.time);
    for (int32_t i = 0; i < frames; ++i) {
        phaseFrac += phaseStep;
        phase += static_cast<uint64_t>(takeWholePart(phaseFrac));
        timeFrac += timeStep;
        time += static_cast<uint64_t>(takeWholePart(timeFrac));
        v['P' - 'A'] = static_cast<int64_t>(phase);
        v['T' - 'A'] = static_cast<int64_t>(time);
        v['R' - 'A'] = draws.next();
        int64_t d = nativePresets[Preset](v);
        if (lerp) {
            v['P' - 'A'] = static_cast<int64_t>(phase + 1);
            const int64_t e = nativePresets[Preset](v);
            const double difference =
                static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(e) - static_cast<uint64_t>(d)));
            d = truncateToInt64(difference * phaseFrac + static_cast<double>(d));
        }
        d = clamp ? std::clamp<int64_t>(d, -256, 256) : d & 255;
        mix[i] += static_cast<float>(d * gain / 100) * 0.00390625f;
    }
    voice.phaseFrac = phaseFrac;
    voice.timeFrac = timeFrac;
    voice.phase = static_cast<int64_t>(phase);
    voice.time = static_cast<int64_t>(time);
}

using InlinedVoice = void (*)(engine::Instrument&, engine::Voice&, int32_t, random15::Every, float*, double);
constexpr InlinedVoice kInlinedVoices[8] = {inlinedVoice<0>,  inlinedVoice<4>,  inlinedVoice<11>, inlinedVoice<15>,
                                            inlinedVoice<21>, inlinedVoice<23>, inlinedVoice<28>, inlinedVoice<35>};

// A block of the eight voices with their formulas inlined: the limit.
class InlinedLimit {
public:
    explicit InlinedLimit(bool lerp) : synth_(eightVoices(lerp)), mix_(kBlock) {
        std::vector<float> out(kBlock);
        synth_->render(out.data(), out.data(), kBlock);  // the voices' phase steps
    }
    void block(float* left, float* right) {
        const double timeStep = 65536.0 / kRate * engine::timeFactorOf(inside(*synth_).timeScale);
        const uint32_t drawn = inside(*synth_).random.take(kBlock * 8);
        std::fill(mix_.begin(), mix_.end(), 0.0f);
        for (int j = 0; j < 8; ++j)
            kInlinedVoices[j](*synth_, inside(*synth_).voices[j], kBlock, random15::Every(drawn, j + 1, 8), mix_.data(),
                              timeStep);
        for (int i = 0; i < kBlock; ++i) {
            const float sample = std::clamp(mix_[i] * 0.25f, -1.0f, 1.0f);
            left[i] = sample;
            right[i] = sample;
        }
    }

private:
    std::unique_ptr<engine::Instrument> synth_;
    std::vector<float> mix_;
};

// Paths run in turn, a block each per iteration; each one's fastest block, in ns per
// voice-sample of eight voices, as a counter of its name: their ratios are what the
// machine's noise touches least.
struct Path {
    const char* name;
    std::function<void()> block;
};
void fastestInTurn(benchmark::State& state, const std::vector<Path>& paths) {
    std::vector<double> fastest(paths.size(), 1e30);
    for (auto _ : state) {
        for (size_t i = 0; i < paths.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            paths[i].block();
            const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
            fastest[i] = std::min(fastest[i], took.count());
        }
    }
    for (size_t i = 0; i < paths.size(); ++i) state.counters[paths[i].name] = fastest[i] / (kBlock * 8);
}

// The four in turn: the instrument, its fast form, the native formulas called per sample
// from the instrument's loop, and the limit.
void BM_RenderInTurn(benchmark::State& state) {
    const bool lerp = state.range(0) != 0;
    auto machine = eightVoices(lerp), fast = eightVoices(lerp), native = eightVoices(lerp);
    InlinedLimit limit(lerp);
    std::vector<float> left(kBlock), right(kBlock);
    fastestInTurn(state,
                  {
                      {"instrument", [&] { machine->render(left.data(), right.data(), kBlock); }},
                      {"fast", [&] { fast->renderWith(left.data(), right.data(), kBlock, engine::FastFormOnly{}); }},
                      {"native",
                       [&] {
                           native->renderWith(left.data(), right.data(), kBlock,
                                              [](CompiledExpression& code, int32_t program) {
                                                  return nativePresets[program](code.variables);
                                              });
                       }},
                      {"limit", [&] { limit.block(left.data(), right.data()); }},
                  });
    benchmark::DoNotOptimize(left.data());
}

// Eight voices, voice v playing formula v of `formulas` on program v, in `language`.
std::unique_ptr<engine::Instrument> eightVoicesOf(const char* const (&formulas)[8], Language language, bool lerp) {
    auto synth = std::make_unique<engine::Instrument>(language);
    synth->setSampleRate(kRate);
    inside(*synth).interpolate = lerp;
    {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        for (int v = 0; v < 8; ++v) synth->storeFormula(v, formulas[v], std::strlen(formulas[v]));
        synth->compileDirtyPrograms();
    }
    synth->queueMidi(0xD0, 64, 0, 0);
    for (int v = 0; v < 8; ++v) {
        synth->setProgram(v);
        synth->queueMidi(0x90, 48 + 3 * v, 100, 0);
    }
    return synth;
}

// Formulas that read the song's position, the note and its pressure; the same with T, P
// and V in their places; and stereo formulas whose left side is the second set's.
constexpr const char* kWordFormulas[8] = {"beat>>7&P",
                                          "P*note>>5&255",
                                          "P&255^pressure",
                                          "(beat>>10)*(note&7)&P",
                                          "P*(pressure+1)>>7&255",
                                          "(beat^P)&(note+pressure)",
                                          "beat*note>>9&255",
                                          "(P>>1)+(beat>>13&63)+pressure&255"};
constexpr const char* kLetterFormulas[8] = {"T>>7&P",         "P*P>>5&255",  "P&255^V",    "(T>>10)*(P&7)&P",
                                            "P*(V+1)>>7&255", "(T^P)&(P+V)", "T*P>>9&255", "(P>>1)+(T>>13&63)+V&255"};
constexpr const char* kStereoFormulas[8] = {"T>>7&P,T>>6&P",
                                            "P*P>>5&255,P*P>>4&255",
                                            "P&255^V,P&127^V",
                                            "(T>>10)*(P&7)&P,(T>>9)*(P&7)&P",
                                            "P*(V+1)>>7&255,P*(V+2)>>7&255",
                                            "(T^P)&(P+V),(T^P)&(P-V)",
                                            "T*P>>9&255,T*P>>8&255",
                                            "(P>>1)+(T>>13&63)+V&255,(P>>1)+(T>>12&63)+V&255"};

// Words against letters in the extended instrument, stereo against its left sides, and
// the letters in the classic instrument (which counts no song position), in turn.
void BM_WordsInTurn(benchmark::State& state) {
    const bool lerp = state.range(0) != 0;
    auto words = eightVoicesOf(kWordFormulas, Language::Extended, lerp);
    auto letters = eightVoicesOf(kLetterFormulas, Language::Extended, lerp);
    auto stereo = eightVoicesOf(kStereoFormulas, Language::Extended, lerp);
    auto classic = eightVoicesOf(kLetterFormulas, Language::Classic, lerp);
    std::vector<float> left(kBlock), right(kBlock);
    const auto block = [&](engine::Instrument& synth) {
        return [&] { synth.render(left.data(), right.data(), kBlock); };
    };
    fastestInTurn(state, {{"words", block(*words)},
                          {"letters", block(*letters)},
                          {"stereo", block(*stereo)},
                          {"classic", block(*classic)}});
    benchmark::DoNotOptimize(left.data());
}

// The extended instrument's eight voices of letters at each oversampling factor, in
// turn; at 1x with the DC filter on; and with each block's notes struck again, plainly
// and while a 2 s attack ramps them.
void BM_OversampleInTurn(benchmark::State& state) {
    std::unique_ptr<engine::Instrument> factors[4];
    for (int exponent = 0; exponent < 4; ++exponent) {
        factors[exponent] = eightVoicesOf(kLetterFormulas, Language::Extended, false);
        factors[exponent]->setSetting(engine::Setting::Oversample, exponent);
    }
    auto struck = eightVoicesOf(kLetterFormulas, Language::Extended, false);
    auto ramped = eightVoicesOf(kLetterFormulas, Language::Extended, false);
    ramped->setSetting(engine::Setting::Attack, 2000);
    auto filtered = eightVoicesOf(kLetterFormulas, Language::Extended, false);
    filtered->setSetting(engine::Setting::DcFilter, 1);
    std::vector<float> left(kBlock), right(kBlock);
    const auto block = [&](engine::Instrument& synth) {
        return [&] { synth.render(left.data(), right.data(), kBlock); };
    };
    const auto again = [&](engine::Instrument& synth) {
        return [&] {
            for (int v = 0; v < 8; ++v) synth.queueMidi(0x90, 48 + 3 * v, 100, 0);
            synth.render(left.data(), right.data(), kBlock);
        };
    };
    fastestInTurn(state, {{"1x", block(*factors[0])},
                          {"2x", block(*factors[1])},
                          {"4x", block(*factors[2])},
                          {"8x", block(*factors[3])},
                          {"dc", block(*filtered)},
                          {"struck", again(*struck)},
                          {"ramped", again(*ramped)}});
    benchmark::DoNotOptimize(left.data());
}

// What the oversampling does to the sound: the decimator's ripple and rejection (dB) at
// each factor, and the aliased share of a sawtooth at each factor and at the limit.
void BM_OversampleMeasures(benchmark::State& state) {
    for (auto _ : state) {
        for (const int factor : {1, 2, 4, 8}) {
            const std::string at = std::to_string(factor) + "x";
            state.counters["aliased_" + at] = oversampling::atFactor(factor);
            if (factor == 1) continue;
            const oversampling::Response response = oversampling::decimatorResponse(factor);
            state.counters["ripple_" + at] = response.ripple;
            state.counters["rejection_" + at] = response.rejection;
        }
        state.counters["aliased_ideal"] = oversampling::ideal();
    }
}

BENCHMARK(BM_Render)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_RenderFastForm)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_RenderInTurn)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_WordsInTurn)->Arg(0)->Arg(1)->ArgName("lerp");
BENCHMARK(BM_OversampleInTurn);
BENCHMARK(BM_OversampleMeasures)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
