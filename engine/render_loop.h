// The render loop, written once for any evaluator of a voice's formula: the instrument's
// own (runExpression) and, in benchmarks, formulas compiled to native code.
#pragma once

#include <algorithm>
#include <cmath>

#include "../expr/native_code.h"
#include "conversions.h"
#include "instrument.h"
#include "random.h"

namespace engine {

// The instrument's own evaluator: a formula's machine code, else its fast form or the
// interpreter; and where the voice allows, the whole stretch as one call of machine code.
struct OwnCode {
    int64_t operator()(CompiledExpression& code, int32_t) const { return runExpression(code); }
    static NativeStretch stretchOf(const CompiledExpression& code) { return code.stretch; }
};

template <class Evaluate>
void Instrument::renderVoice(Voice& voice, int32_t frames, random15::Every draws, double rate, double timeStep,
                             Evaluate& evaluate) {
    CompiledExpression& code = *playing_[voice.program];
    // Every letter but the seven below reads 0: a record's variables start cleared and
    // nothing ever writes the other nineteen. V and M hold over the stretch; S and C are
    // read from the table only for a formula that reads them.
    const uint32_t read = variablesRead(code);
    const bool readsSine = read & (1u << ('S' - 'A')), readsCosine = read & (1u << ('C' - 'A'));
    code.variable('V') = voice.velocity;
    code.variable('M') = modWheel;
    // The settings as the stretch begins: the user's changes take effect at the next.
    const bool lerp = interpolate, clamp = clampOutput;
    const int64_t scale = gain;
    const bool gliding = portamento < 100 && voice.pitch != voice.targetPitch;
    const double glideStep = glideRate / rate;  // the block's rate: another may be set meanwhile
    const double bend = pitchBend;
    const int32_t program = voice.program;
    // The voice in locals over the stretch, which the formula's calls cannot reach.
    Voice v = voice;
    if (portamento >= 100) v.pitch = v.targetPitch;

    // pow costs more than a whole formula; the step changes only with the pitch, so only
    // while the voice glides.
    const auto followPitch = [&] {
        const double pitchSum = v.pitch + bend;
        if (pitchSum != v.stepPitch || rate != v.stepRate) {
            v.stepPitch = pitchSum;
            v.stepRate = rate;
            v.phaseStep = std::pow(2.0, pitchSum / 12.0) * 440.0 * 256.0 / rate;
        }
    };
    if (!gliding) followPitch();

    if constexpr (requires { Evaluate::stretchOf(code); }) {
        const NativeStretch stretch = Evaluate::stretchOf(code);
        constexpr double kStepLimit = 2251799813685248.0;  // 2^51: whole parts stay below 2^52
        const auto within = [](double frac, double step) {
            return frac >= 0.0 && frac < 1.0 && step >= 0.0 && step < kStepLimit;
        };
        if (stretch && !gliding && within(v.phaseFrac, v.phaseStep) && within(v.timeFrac, timeStep) &&
            scale >= -(1 << 22) && scale <= (1 << 22)) {
            VoiceStretch run{v.phaseFrac,
                             v.phaseStep,
                             v.timeFrac,
                             timeStep,
                             v.phase,
                             v.time,
                             scale,
                             0,
                             stretchMix_,
                             sineTable,
                             draws.state(),
                             draws.leap().multiplier,
                             draws.leap().increment,
                             frames,
                             lerp,
                             clamp};
            stretch(&code, &run);
            v.phaseFrac = run.phaseFrac;
            v.timeFrac = run.timeFrac;
            v.phase = run.phase;
            v.time = run.time;
            voice = v;
            return;
        }
    }

    for (int32_t i = 0; i < frames; ++i) {
        if (gliding) {
            if (v.targetPitch > v.pitch) {
                v.pitch += glideStep;
                if (v.pitch > v.targetPitch) v.pitch = v.targetPitch;
            }
            if (v.pitch > v.targetPitch) {
                v.pitch += glideStep;
                if (v.pitch < v.targetPitch) v.pitch = v.targetPitch;
            }
            followPitch();
        }
        v.phaseFrac += v.phaseStep;
        v.phase =
            static_cast<int64_t>(static_cast<uint64_t>(v.phase) + static_cast<uint64_t>(takeWholePart(v.phaseFrac)));
        v.timeFrac += timeStep;
        v.time = static_cast<int64_t>(static_cast<uint64_t>(v.time) + static_cast<uint64_t>(takeWholePart(v.timeFrac)));

        code.variable('T') = v.time;
        code.variable('P') = v.phase;
        code.variable('R') = draws.next();
        if (readsSine) code.variable('S') = sineReading(sineTable, v.phase, 0);
        if (readsCosine) code.variable('C') = sineReading(sineTable, v.phase, 64);
        int64_t d = evaluate(code, program);

        if (lerp) {
            code.variable('P') = static_cast<int64_t>(static_cast<uint64_t>(v.phase) + 1);
            if (readsSine) code.variable('S') = sineReading(sineTable, v.phase, 1);
            if (readsCosine) code.variable('C') = sineReading(sineTable, v.phase, 65);
            const int64_t e = evaluate(code, program);
            const double difference =
                static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(e) - static_cast<uint64_t>(d)));
            d = truncateToInt64(difference * v.phaseFrac + static_cast<double>(d));
        }

        if (clamp)
            d = std::clamp<int64_t>(d, -256, 256);
        else
            d &= 255;
        stretchMix_[i] += static_cast<float>(d * scale / 100) * 0.00390625f;
    }
    voice = v;
}

// The voices render one after another over the stretch, each adding its values to the
// mix: every sample's float sum is the one a sample-by-sample loop over the voices makes,
// in voice order. The random numbers are those that loop draws, sample by sample and
// voice by voice: each voice takes every count-th of them.
template <class Evaluate>
void Instrument::renderStretch(float* left, float* right, int32_t from, int32_t frames, double rate, double timeStep,
                               Evaluate& evaluate) {
    Voice* sounding[kNumVoices];
    int32_t count = 0;
    for (Voice& voice : voices)
        if (voice.note >= 0) sounding[count++] = &voice;
    const uint32_t drawn = random15::take(static_cast<uint32_t>(frames * count));
    std::fill(stretchMix_, stretchMix_ + frames, 0.0f);
    for (int32_t j = 0; j < count; ++j)
        renderVoice(*sounding[j], frames, random15::Every(drawn, j + 1, count), rate, timeStep, evaluate);
    for (int32_t i = 0; i < frames; ++i) {
        const float sample = std::clamp(stretchMix_[i] * 0.25f, -1.0f, 1.0f);
        if (left) left[from + i] = sample;
        if (right) right[from + i] = sample;
    }
}

// The block is cut at the frames of its events, and into stretches of at most kStretch
// frames between them; each stretch renders without looking at the queue.
template <class Evaluate>
void Instrument::renderWith(float* left, float* right, int32_t frames, Evaluate&& evaluate) {
    const double rate = sampleRate_.load();
    const double timeStep = 65536.0 / rate * timeFactorOf(timeScale);
    adoptWalked();
    sortEvents();
    endedCount_ = 0;
    int32_t next = 0;
    while (next < eventCount_ && events_[next].frame < 0) ++next;  // before the block: never fire
    for (int32_t k = 0; k < frames;) {
        while (next < eventCount_ && events_[next].frame <= k) fire(events_[next++]);
        const int32_t end = std::min(next < eventCount_ ? std::min(events_[next].frame, frames) : frames, k + kStretch);
        renderStretch(left, right, k, end - k, rate, timeStep, evaluate);
        k = end;
    }
    eventCount_ = 0;  // events at or past the block's end are dropped with it
    if (takeDisplayChange(Side::Audio)) announceDisplay();
}

}  // namespace engine
