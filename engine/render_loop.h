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

// The instrument's own evaluator: a formula's machine code, a whole stretch at a time
// where the voice allows, else once a sample; without machine code its fast form, a
// column of samples at a time, else the interpreter. `MachineCode` false leaves the
// machine code out, as where the system has none.
template <bool MachineCode = true>
struct OwnCode {
    int64_t operator()(CompiledExpression& code, int32_t) const {
        return MachineCode ? runExpression(code) : runFastForm(code);
    }
    // The stretch's loop runs the formula's own code: without it, none.
    static NativeStretch stretchOf(const CompiledExpression& code) {
        return MachineCode && code.native ? code.stretch : nullptr;
    }
    static bool byColumns(const CompiledExpression& code) { return !MachineCode || !code.native; }
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
                             clamp,
                             (read >> ('R' - 'A') & 1) != 0,
                             readsSine,
                             readsCosine};
            stretch(&code, &run);
            v.phaseFrac = run.phaseFrac;
            v.timeFrac = run.timeFrac;
            v.phase = run.phase;
            v.time = run.time;
            voice = v;
            return;
        }
    }

    // Column by column: the counters and readings of up to kColumn samples; the formula's
    // values over them, once a sample or, from the fast form, once a column; and the shaped
    // values into the mix. A column is shaped in the loop that counts the next one: the
    // counters are one long chain of dependent steps, and the shaping fills its gaps.
    bool byColumns = false;
    if constexpr (requires { Evaluate::byColumns(code); }) byColumns = Evaluate::byColumns(code);
    int64_t phases[kColumn], times[kColumn], randoms[kColumn], sines[kColumn], cosines[kColumn];
    int64_t first[kColumn], second[kColumn];
    double fractions[2][kColumn];  // the column being counted's, and the one being shaped's
    const int64_t* varying[kVariableCount] = {};
    varying['P' - 'A'] = phases;
    varying['T' - 'A'] = times;
    varying['R' - 'A'] = randoms;
    varying['S' - 'A'] = sines;
    varying['C' - 'A'] = cosines;
    const auto nextPhase = [](int64_t phase) { return static_cast<int64_t>(static_cast<uint64_t>(phase) + 1); };
    int32_t shaping = 0, shapedAt = 0;  // the column waiting to be shaped: its length and first frame
    for (int32_t at = 0, column = 0;; at += kColumn, column ^= 1) {
        const int32_t count = std::max(0, std::min(kColumn, frames - at));
        double* fraction = fractions[column];
        const double* shapedFraction = fractions[column ^ 1];
        for (int32_t i = 0; i < std::max(count, shaping); ++i) {
            if (i < count) {
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
                v.phase = static_cast<int64_t>(static_cast<uint64_t>(v.phase) +
                                               static_cast<uint64_t>(takeWholePart(v.phaseFrac)));
                v.timeFrac += timeStep;
                v.time = static_cast<int64_t>(static_cast<uint64_t>(v.time) +
                                              static_cast<uint64_t>(takeWholePart(v.timeFrac)));
                phases[i] = v.phase;
                times[i] = v.time;
                randoms[i] = draws.next();
                fraction[i] = v.phaseFrac;
            }
            if (i < shaping) {
                int64_t d = first[i];
                if (lerp) {
                    const double difference = static_cast<double>(
                        static_cast<int64_t>(static_cast<uint64_t>(second[i]) - static_cast<uint64_t>(d)));
                    d = truncateToInt64(difference * shapedFraction[i] + static_cast<double>(d));
                }
                if (clamp)
                    d = std::clamp<int64_t>(d, -256, 256);
                else
                    d &= 255;
                stretchMix_[shapedAt + i] += static_cast<float>(d * scale / 100) * 0.00390625f;
            }
        }
        if (count == 0) break;

        // S and C `shift` steps on.
        const auto readSines = [&](int64_t shift) {
            for (int32_t i = 0; i < count; ++i) {
                if (readsSine) sines[i] = sineReading(sineTable, phases[i], shift);
                if (readsCosine) cosines[i] = sineReading(sineTable, phases[i], shift + 64);
            }
        };
        readSines(0);
        if (byColumns && runFastColumns(code, varying, count, first)) {
            if (lerp) {
                readSines(1);
                std::transform(phases, phases + count, phases, nextPhase);
                runFastColumns(code, varying, count, second);
            }
            // The variables as the last sample's run leaves them.
            code.variable('T') = times[count - 1];
            code.variable('P') = phases[count - 1];
            code.variable('R') = randoms[count - 1];
            if (readsSine) code.variable('S') = sines[count - 1];
            if (readsCosine) code.variable('C') = cosines[count - 1];
        } else {
            for (int32_t i = 0; i < count; ++i) {
                code.variable('T') = times[i];
                code.variable('P') = phases[i];
                code.variable('R') = randoms[i];
                if (readsSine) code.variable('S') = sines[i];
                if (readsCosine) code.variable('C') = cosines[i];
                first[i] = evaluate(code, program);
                if (lerp) {
                    code.variable('P') = nextPhase(phases[i]);
                    if (readsSine) code.variable('S') = sineReading(sineTable, phases[i], 1);
                    if (readsCosine) code.variable('C') = sineReading(sineTable, phases[i], 65);
                    second[i] = evaluate(code, program);
                }
            }
        }
        shaping = count;
        shapedAt = at;
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
