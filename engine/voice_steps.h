// The steps of one voice over a stretch of samples, as Instrument::renderVoice runs them:
//   stretch:  the whole stretch in one call of the formula's voice loop, where the
//             formula has one and the voice keeps within its bounds; else, a column of
//             up to kColumn samples at a time,
//   count:    the voice's counters one sample on (the glide, the pitch's step, the phase
//             and time) and the sample's random number,
//   evaluate: the formula's values over a counted column, from the fast form a column at
//             a time or once a sample, and with Lerp a second reading one phase step on,
//   shape:    each value blended, clamped or masked, scaled by the gain and added to the
//             stretch's mix.
// A column is shaped in the loop that counts the next one: the counters are one long
// chain of dependent steps, and the shaping fills its gaps. The steps are inlined into
// that loop: each runs per sample.
#pragma once

#include <algorithm>
#include <cmath>

#include "../expr/formula_code.h"
#include "conversions.h"
#include "instrument.h"
#include "random.h"

namespace engine::voice {

#define BYTONE_STEP [[gnu::always_inline]] inline

// The settings as the stretch begins (the user's changes take effect at the next), and
// the voice in locals, which the formula's calls cannot reach.
struct Plan {
    Voice v;
    double rate, timeStep, glideStep, bend;
    int64_t scale;
    bool lerp, clamp, gliding;
    bool readsRandom, readsSine, readsCosine, readsBeat, readsBar;

    // The phase step for the pitch now. pow costs more than a whole formula; the step
    // changes only with the pitch, so only while the voice glides.
    BYTONE_STEP void followPitch() {
        const double pitchSum = v.pitch + bend;
        if (pitchSum != v.stepPitch || rate != v.stepRate) {
            v.stepPitch = pitchSum;
            v.stepRate = rate;
            v.phaseStep = std::pow(2.0, pitchSum / 12.0) * 440.0 * 256.0 / rate;
        }
    }
};

// The readings of a column and the formula's values over them: `atPhase`, and with Lerp
// `atNextPhase`, one phase step on. `fractions` holds the column being counted's phase
// fractions and the one being shaped's.
struct Columns {
    int64_t phases[kColumn], times[kColumn], randoms[kColumn], sines[kColumn], cosines[kColumn];
    int64_t atPhase[kColumn], atNextPhase[kColumn];
    double fractions[2][kColumn];
    const int64_t* varying[kVariableCount] = {};
    const int64_t *beats = nullptr, *bars = nullptr;  // the song's, from the column's first frame

    // The song's position over the column being evaluated.
    void song(const int64_t* beatsAt, const int64_t* barsAt) {
        beats = varying[26 + static_cast<int>(Word::Beat)] = beatsAt;
        bars = varying[26 + static_cast<int>(Word::Bar)] = barsAt;
    }

    Columns() {
        varying['P' - 'A'] = phases;
        varying['T' - 'A'] = times;
        varying['R' - 'A'] = randoms;
        varying['S' - 'A'] = sines;
        varying['C' - 'A'] = cosines;
    }
};

constexpr int64_t nextPhase(int64_t phase) { return static_cast<int64_t>(static_cast<uint64_t>(phase) + 1); }

// stretch: runs all `frames` samples through `loop`, the formula's voice loop, when the
// voice keeps within the loop's bounds: no glide, both fractions in [0, 1), both steps
// below 2^51 (whole parts stay below 2^52), |gain| at most 2^22. False, with nothing
// done, where it does not or there is no loop.
inline bool runStretch(StretchFunction loop, CompiledExpression& code, Plan& plan, const random15::Every& draws,
                       float* mix, const uint8_t* sineTable, const int64_t* beats, const int64_t* bars,
                       int32_t frames) {
    constexpr double kStepLimit = 2251799813685248.0;
    const auto within = [](double frac, double step) {
        return frac >= 0.0 && frac < 1.0 && step >= 0.0 && step < kStepLimit;
    };
    Voice& v = plan.v;
    if (!loop || plan.gliding || !within(v.phaseFrac, v.phaseStep) || !within(v.timeFrac, plan.timeStep) ||
        plan.scale < -(1 << 22) || plan.scale > (1 << 22))
        return false;
    VoiceStretch run{v.phaseFrac,
                     v.phaseStep,
                     v.timeFrac,
                     plan.timeStep,
                     v.phase,
                     v.time,
                     plan.scale,
                     0,
                     mix,
                     sineTable,
                     beats,
                     bars,
                     draws.state(),
                     draws.leap().multiplier,
                     draws.leap().increment,
                     frames,
                     plan.lerp,
                     plan.clamp,
                     plan.readsRandom,
                     plan.readsSine,
                     plan.readsCosine,
                     plan.readsBeat,
                     plan.readsBar};
    loop(&code, &run);
    v.phaseFrac = run.phaseFrac;
    v.timeFrac = run.timeFrac;
    v.phase = run.phase;
    v.time = run.time;
    return true;
}

// count: sample `i` of the column being counted, whose phase fractions are `fraction`.
BYTONE_STEP void count(Plan& plan, Columns& columns, double* fraction, int32_t i, random15::Every& draws) {
    Voice& v = plan.v;
    if (plan.gliding) {
        if (v.targetPitch > v.pitch) {
            v.pitch += plan.glideStep;
            if (v.pitch > v.targetPitch) v.pitch = v.targetPitch;
        }
        if (v.pitch > v.targetPitch) {
            v.pitch += plan.glideStep;
            if (v.pitch < v.targetPitch) v.pitch = v.targetPitch;
        }
        plan.followPitch();
    }
    v.phaseFrac += v.phaseStep;
    v.phase = static_cast<int64_t>(static_cast<uint64_t>(v.phase) + static_cast<uint64_t>(takeWholePart(v.phaseFrac)));
    v.timeFrac += plan.timeStep;
    v.time = static_cast<int64_t>(static_cast<uint64_t>(v.time) + static_cast<uint64_t>(takeWholePart(v.timeFrac)));
    columns.phases[i] = v.phase;
    columns.times[i] = v.time;
    columns.randoms[i] = draws.next();
    fraction[i] = v.phaseFrac;
}

// shape: the value of readings `atPhase` and `atNextPhase` at phase fraction `fraction`,
// as the mix adds it: Lerp's blend, the clamp to -256..256 or the byte's mask, the gain.
BYTONE_STEP float shape(const Plan& plan, int64_t atPhase, int64_t atNextPhase, double fraction) {
    int64_t d = atPhase;
    if (plan.lerp) {
        const double difference =
            static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(atNextPhase) - static_cast<uint64_t>(d)));
        d = truncateToInt64(difference * fraction + static_cast<double>(d));
    }
    if (plan.clamp)
        d = std::clamp<int64_t>(d, -256, 256);
    else
        d &= 255;
    return static_cast<float>(d * plan.scale / 100) * 0.00390625f;
}

// evaluate: the formula's values over the `count` samples counted, from its fast form a
// column at a time where `byColumns` asks for it and the form allows, else through
// `evaluate` once a sample. The record's variables are left as the last sample's run
// leaves them.
template <class Evaluate>
BYTONE_STEP void evaluate(CompiledExpression& code, const Plan& plan, Columns& c, int32_t count,
                          const uint8_t* sineTable, bool byColumns, Evaluate& evaluate, int32_t program) {
    // S and C `shift` steps on.
    const auto readSines = [&](int64_t shift) {
        for (int32_t i = 0; i < count; ++i) {
            if (plan.readsSine) c.sines[i] = sineReading(sineTable, c.phases[i], shift);
            if (plan.readsCosine) c.cosines[i] = sineReading(sineTable, c.phases[i], shift + 64);
        }
    };
    readSines(0);
    if (byColumns && runFastColumns(code, c.varying, count, c.atPhase)) {
        if (plan.lerp) {
            readSines(1);
            std::transform(c.phases, c.phases + count, c.phases, nextPhase);
            runFastColumns(code, c.varying, count, c.atNextPhase);
        }
        code.variable('T') = c.times[count - 1];
        code.variable('P') = c.phases[count - 1];
        code.variable('R') = c.randoms[count - 1];
        if (plan.readsSine) code.variable('S') = c.sines[count - 1];
        if (plan.readsCosine) code.variable('C') = c.cosines[count - 1];
        if (plan.readsBeat) code.word(Word::Beat) = c.beats[count - 1];
        if (plan.readsBar) code.word(Word::Bar) = c.bars[count - 1];
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        code.variable('T') = c.times[i];
        code.variable('P') = c.phases[i];
        code.variable('R') = c.randoms[i];
        if (plan.readsSine) code.variable('S') = c.sines[i];
        if (plan.readsCosine) code.variable('C') = c.cosines[i];
        if (plan.readsBeat) code.word(Word::Beat) = c.beats[i];
        if (plan.readsBar) code.word(Word::Bar) = c.bars[i];
        c.atPhase[i] = evaluate(code, program);
        if (plan.lerp) {
            code.variable('P') = nextPhase(c.phases[i]);
            if (plan.readsSine) code.variable('S') = sineReading(sineTable, c.phases[i], 1);
            if (plan.readsCosine) code.variable('C') = sineReading(sineTable, c.phases[i], 65);
            c.atNextPhase[i] = evaluate(code, program);
        }
    }
}

#undef BYTONE_STEP

}  // namespace engine::voice
