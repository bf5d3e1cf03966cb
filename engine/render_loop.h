// The render loop, written once for any evaluator of a voice's formula: the instrument's
// own (runExpression) and, in benchmarks, formulas compiled to native code.
#pragma once

#include <algorithm>
#include <cmath>

#include "conversions.h"
#include "instrument.h"
#include "random.h"

namespace engine {

template <class Evaluate>
int64_t Instrument::renderVoice(Voice& voice, double rate, double timeStep, Evaluate& evaluate) {
    CompiledExpression& code = *playing_[voice.program];
    // Every letter but the seven below reads 0: a record's variables start cleared and
    // nothing ever writes the other nineteen, so they need no clearing per sample.

    if (portamento >= 100) {
        voice.pitch = voice.targetPitch;
    } else {
        const double step = glideRate / rate;  // the block's rate: another may be set meanwhile
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

// The block is cut at the frames of its events: each stretch between two event frames
// renders without looking at the queue.
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
        const int32_t end = next < eventCount_ ? std::min(events_[next].frame, frames) : frames;
        for (; k < end; ++k) {
            float mix = 0.0f;
            for (Voice& voice : voices) {
                if (voice.note < 0) continue;
                mix += static_cast<float>(renderVoice(voice, rate, timeStep, evaluate)) * 0.00390625f;
            }
            const float sample = std::clamp(mix * 0.25f, -1.0f, 1.0f);
            if (left) left[k] = sample;
            if (right) right[k] = sample;
        }
    }
    eventCount_ = 0;  // events at or past the block's end are dropped with it
    if (takeDisplayChange(Side::Audio)) announceDisplay();
}

}  // namespace engine
