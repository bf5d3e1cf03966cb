// The render loop, written once for any evaluator of a voice's formula: the instrument's
// own and, in tests and benchmarks, others (the fast form alone, C++ functions). A block
// is cut into stretches at its events' frames; each voice renders a stretch through the
// steps of voice_steps.h.
#pragma once

#include <algorithm>

#include "../expr/formula_code.h"
#include "instrument.h"
#include "voice_steps.h"

namespace engine {

// The instrument's own evaluators of a record: `kCompiled`, its compiled code (a whole
// stretch at a time where the voice allows, else once a sample) and, without that, its
// fast form a column of samples at a time, else the interpreter; without `kCompiled`,
// never its compiled code, as where the system has none.
template <bool kCompiled>
struct RecordEvaluator {
    int64_t operator()(CompiledExpression& code, int32_t) const {
        return kCompiled ? runExpression(code) : runFastForm(code);
    }
    // The stretch's loop runs the formula's own code: without it, none.
    static StretchFunction stretchOf(const CompiledExpression& code) {
        return kCompiled && code.compiledFormula ? code.stretch : nullptr;
    }
    static bool byColumns(const CompiledExpression& code) { return !kCompiled || !code.compiledFormula; }
};
// What the instrument plays.
using CompiledCode = RecordEvaluator<true>;
// Its fast form only.
using FastFormOnly = RecordEvaluator<false>;

template <class Evaluate>
void Instrument::renderVoice(Voice& voice, int32_t frames, random15::Every draws, double rate, double timeStep,
                             Evaluate& evaluate, float* mix, float* mixRight) {
    CompiledExpression& code = handOver_.playing(voice.program);
    const int32_t scale = gain;
    // A ramping voice renders each side at full gain, its shaped values exactly, into a
    // mix of its own (zero between uses), and adds them scaled by its level and then by
    // the gain.
    const auto side = [&](CompiledExpression& formula, Voice& v, float* into) {
        if (!voice.ramp.active()) {
            renderSide(formula, v, frames, draws, rate, timeStep, evaluate, into, scale);
            return;
        }
        renderSide(formula, v, frames, draws, rate, timeStep, evaluate, rampMix_, 100);
        addRamped(voice.ramp, scale / 100.0, rampMix_, frames, into);
    };
    if (code.right && mixRight) {
        // The right side reads what the left reads, sample by sample, R included.
        Voice again = voice;
        side(*code.right, again, mixRight);
    }
    side(code, voice, mix);
}

template <class Evaluate>
void Instrument::renderSide(CompiledExpression& code, Voice& voice, int32_t frames, random15::Every draws, double rate,
                            double timeStep, Evaluate& evaluate, float* mix, int32_t scale) {
    // Every letter but the seven below reads 0: a record's variables start cleared and
    // nothing ever writes the other nineteen. V, M and the words but beat and bar hold
    // over the stretch; S and C are read from the table only for a formula that reads them.
    const uint64_t read = variablesRead(code);
    code.variable('V') = voice.velocity;
    code.variable('M') = modWheel;
    code.word(Word::Start) = voice.start;
    code.word(Word::Note) = voice.note;
    code.word(Word::Gate) = voice.gate;
    code.word(Word::Pressure) = voice.pressure;
    code.word(Word::Timbre) = voice.timbre;
    voice::Plan plan{voice,
                     rate,
                     timeStep,
                     glideRate / rate,  // the block's rate: another may be set meanwhile
                     bendOf(voice),
                     scale,
                     interpolate != 0,
                     clampOutput != 0,
                     portamento < 100 && voice.pitch != voice.targetPitch,
                     (read & readBit('R')) != 0,
                     (read & readBit('S')) != 0,
                     (read & readBit('C')) != 0,
                     (read & readBit(Word::Beat)) != 0,
                     (read & readBit(Word::Bar)) != 0};
    if (portamento >= 100) plan.v.pitch = plan.v.targetPitch;
    if (!plan.gliding) plan.followPitch();

    if constexpr (requires { Evaluate::stretchOf(code); }) {
        if (voice::runStretch(Evaluate::stretchOf(code), code, plan, draws, mix, sineTable_, stretchBeats_,
                              stretchBars_, frames)) {
            voice = plan.v;
            return;
        }
    }

    bool byColumns = false;
    if constexpr (requires { Evaluate::byColumns(code); }) byColumns = Evaluate::byColumns(code);
    voice::Columns columns;
    int32_t shaping = 0, shapedAt = 0;  // the column waiting to be shaped: its length and first frame
    for (int32_t at = 0, column = 0;; at += kColumn, column ^= 1) {
        const int32_t count = std::max(0, std::min(kColumn, frames - at));
        double* fraction = columns.fractions[column];
        const double* shapedFraction = columns.fractions[column ^ 1];
        for (int32_t i = 0; i < std::max(count, shaping); ++i) {
            if (i < count) voice::count(plan, columns, fraction, i, draws);
            if (i < shaping)
                mix[shapedAt + i] += voice::shape(plan, columns.atPhase[i], columns.atNextPhase[i], shapedFraction[i]);
        }
        if (count == 0) break;
        columns.song(stretchBeats_ + at, stretchBars_ + at);
        voice::evaluate(code, plan, columns, count, sineTable_, byColumns, evaluate, voice.program);
        shaping = count;
        shapedAt = at;
    }
    voice = plan.v;
}

// The voices render one after another over the stretch, each adding its values to the
// mix: every sample's float sum is the one a sample-by-sample loop over the voices makes,
// in voice order. The random numbers are those that loop draws, sample by sample and
// voice by voice: each voice takes every count-th of them. Where a voice plays a stereo
// formula the outputs have a mix each, to which a voice of one formula adds the same
// values.
template <class Evaluate>
void Instrument::renderStretch(float* left, float* right, int32_t from, int32_t frames, double rate, double timeStep,
                               Evaluate& evaluate) {
    // The voices run at `factor_` times the rate, `steps` values over the stretch.
    const int32_t steps = frames * factor_;
    const double voiceRate = rate * factor_;
    Voice* sounding[kNumVoices];
    int32_t count = 0;
    for (Voice& voice : voices)
        if (voice.note >= 0) sounding[count++] = &voice;
    const uint32_t drawn = random_.take(static_cast<uint32_t>(steps * count));
    if (language_ == Language::Extended) {
        // The song's position for each frame where a voice reads it; else only onward.
        constexpr uint64_t kSong = readBit(Word::Beat) | readBit(Word::Bar);
        uint64_t reads = 0;
        for (int32_t j = 0; j < count; ++j) {
            const CompiledExpression& code = handOver_.playing(sounding[j]->program);
            reads |= variablesRead(code) | (code.right ? variablesRead(*code.right) : 0);
        }
        const bool song = (reads & kSong) != 0;
        song_.advance(song ? stretchBeats_ : nullptr, song ? stretchBars_ : nullptr, frames, rate, factor_);
    }
    bool stereo = false;
    for (int32_t j = 0; j < count; ++j) stereo |= handOver_.playing(sounding[j]->program).right != nullptr;
    std::fill(stretchMix_, stretchMix_ + steps, 0.0f);
    if (stereo) std::fill(stretchMixRight_, stretchMixRight_ + steps, 0.0f);
    for (int32_t j = 0; j < count; ++j) {
        const random15::Every draws(drawn, j + 1, count);
        if (!stereo || handOver_.playing(sounding[j]->program).right) {
            renderVoice(*sounding[j], steps, draws, voiceRate, timeStep, evaluate, stretchMix_, stretchMixRight_);
            continue;
        }
        std::fill(voiceMix_, voiceMix_ + steps, 0.0f);
        renderVoice(*sounding[j], steps, draws, voiceRate, timeStep, evaluate, voiceMix_, nullptr);
        for (int32_t i = 0; i < steps; ++i) stretchMix_[i] += voiceMix_[i], stretchMixRight_[i] += voiceMix_[i];
    }
    if (factor_ > 1) decimate(frames, stereo);
    const float* rightMix = stereo ? stretchMixRight_ : stretchMix_;
    if (dcFilter.load(std::memory_order_relaxed) != 0) {
        // Between the mix and the limit; both sides run, so that they agree while the mix is one.
        const double a = DcFilter::coefficient(rate);
        const auto put = [&](float* out, int32_t i, double value) {
            if (out) out[from + i] = std::clamp(static_cast<float>(value), -1.0f, 1.0f);
        };
        int32_t i = 0;
        for (double l0, l1, r0, r1; i + 1 < frames; i += 2) {
            dcLeft_.passPair(stretchMix_[i] * 0.25f, stretchMix_[i + 1] * 0.25f, a, l0, l1);
            dcRight_.passPair(rightMix[i] * 0.25f, rightMix[i + 1] * 0.25f, a, r0, r1);
            put(left, i, l0), put(left, i + 1, l1), put(right, i, r0), put(right, i + 1, r1);
        }
        if (i < frames)
            put(left, i, dcLeft_.pass(stretchMix_[i] * 0.25f, a)), put(right, i, dcRight_.pass(rightMix[i] * 0.25f, a));
    } else {
        for (int32_t i = 0; i < frames; ++i) {
            if (left) left[from + i] = std::clamp(stretchMix_[i] * 0.25f, -1.0f, 1.0f);
            if (right) right[from + i] = std::clamp(rightMix[i] * 0.25f, -1.0f, 1.0f);
        }
    }
    advanceRamps(steps, from + frames - 1);
}

// The block is cut at the frames of its events and of the voices' ramps' ends, and into
// stretches of at most kStretch frames between them; each stretch renders without looking
// at the queue.
template <class Evaluate>
void Instrument::renderWith(float* left, float* right, int32_t frames, Evaluate&& evaluate) {
    const double rate = sampleRate_.load();
    factor_ = 1 << std::clamp<int32_t>(oversample.load(std::memory_order_relaxed), 0, 3);
    decimateLeft_.setFactor(factor_);
    decimateRight_.setFactor(factor_);
    const double timeStep = 65536.0 / (rate * factor_) * timeFactorOf(timeScale);
    handOver_.adoptWalked();
    sortEvents();
    endedCount_ = 0;
    int32_t next = 0;
    while (next < eventCount_ && events_[next].frame < 0) ++next;  // before the block: never fire
    for (int32_t k = 0; k < frames;) {
        while (next < eventCount_ && events_[next].frame <= k) fire(events_[next++]);
        // Stretches end at events and where a voice's ramp ends.
        const int32_t end = std::min(next < eventCount_ ? std::min(events_[next].frame, frames) : frames,
                                     k + framesToRampEnd(kStretch));
        renderStretch(left, right, k, end - k, rate, timeStep, evaluate);
        k = end;
    }
    eventCount_ = 0;  // events at or past the block's end are dropped with it
    transportCount_ = 0;
    if (takeDisplayChange(Side::Audio)) announceDisplay();
}

}  // namespace engine
