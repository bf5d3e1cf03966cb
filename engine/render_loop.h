// The per-sample render loop, written once for any evaluator of a voice's formula: the
// instrument's own (runExpression) and, in benchmarks, formulas compiled to native code.
#pragma once

#include <algorithm>
#include <cmath>

#include "bytone.h"
#include "conversions.h"
#include "random.h"

template <class Evaluate>
int64_t Bytone::renderVoice(Voice& voice, double rate, double timeStep, Evaluate& evaluate) {
    CompiledExpression& code = *playing_[voice.program];
    // Every letter but the seven below reads 0: a record's variables start cleared and
    // nothing ever writes the other nineteen, so they need no clearing per sample.

    if (portamento >= 100) {
        voice.pitch = voice.targetPitch;
    } else {
        const double step = glideRate / rate;  // the block's rate: the host may set another meanwhile
        if (voice.targetPitch > voice.pitch) {
            voice.pitch += step;
            if (voice.pitch > voice.targetPitch) voice.pitch = voice.targetPitch;
        }
        if (voice.pitch > voice.targetPitch) {
            voice.pitch += step;
            if (voice.pitch < voice.targetPitch) voice.pitch = voice.targetPitch;
        }
    }

    // pow costs more than a whole formula; the step changes only with the pitch.
    const double pitchSum = voice.pitch + pitchBend;
    if (pitchSum != voice.stepPitch || rate != voice.stepRate) {
        voice.stepPitch = pitchSum;
        voice.stepRate = rate;
        voice.phaseStep = std::pow(2.0, pitchSum / 12.0) * 440.0 * 256.0 / rate;
    }
    voice.phaseFrac += voice.phaseStep;
    voice.phase = static_cast<int64_t>(static_cast<uint64_t>(voice.phase) +
                                       static_cast<uint64_t>(takeWholePart(voice.phaseFrac)));
    voice.timeFrac += timeStep;
    voice.time =
        static_cast<int64_t>(static_cast<uint64_t>(voice.time) + static_cast<uint64_t>(takeWholePart(voice.timeFrac)));

    code.variable('T') = voice.time;
    code.variable('P') = voice.phase;
    code.variable('V') = voice.velocity;
    code.variable('M') = modWheel;
    code.variable('R') = random15::next();
    code.variable('S') = sineReading(sineTable, voice.phase, 0);
    code.variable('C') = sineReading(sineTable, voice.phase, 64);
    int64_t d = evaluate(code, voice.program);

    if (interpolate) {
        code.variable('P') = static_cast<int64_t>(static_cast<uint64_t>(voice.phase) + 1);
        code.variable('S') = sineReading(sineTable, voice.phase, 1);
        code.variable('C') = sineReading(sineTable, voice.phase, 65);
        const int64_t e = evaluate(code, voice.program);
        const double difference =
            static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(e) - static_cast<uint64_t>(d)));
        d = truncateToInt64(difference * voice.phaseFrac + static_cast<double>(d));
    }

    if (clampOutput)
        d = std::clamp<int64_t>(d, -256, 256);
    else
        d &= 255;
    return d * gain / 100;
}

template <class Evaluate>
void Bytone::renderBlock(float** outputs, VstInt32 sampleFrames, Evaluate&& evaluate) {
    const double rate = updateSampleRate();
    const double timeStep = 65536.0 / rate * timeFactorOf(timeScale);
    float* out0 = outputs ? outputs[0] : nullptr;
    float* out1 = outputs ? outputs[1] : nullptr;
    adoptWalked();
    for (VstInt32 k = 0; k < sampleFrames; ++k) {
        applyDueEvents();
        float mix = 0.0f;
        for (Voice& voice : voices) {
            if (voice.note < 0) continue;
            mix += static_cast<float>(renderVoice(voice, rate, timeStep, evaluate)) * 0.00390625f;
        }
        const float sample = std::clamp(mix * 0.25f, -1.0f, 1.0f);
        if (out0) out0[k] = sample;
        if (out1) out1[k] = sample;
    }
    pendingEvents.clear();
    if (takeDisplayChange(Side::Audio)) updateDisplay();  // syncProgramDisplay
}
