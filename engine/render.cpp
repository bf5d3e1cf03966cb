// Block rendering: events fire at their sample, every sounding voice advances and runs
// its program's formula, and the shaped voices are mixed into both outputs.
#include <algorithm>
#include <cmath>

#include "bytone.h"
#include "conversions.h"
#include "random.h"

void Bytone::applyDueEvents() {
    for (PendingEvent& event : pendingEvents) {
        if (event.framesLeft < 0) continue;
        if (--event.framesLeft >= 0) continue;
        switch (event.kind) {
            case Note:
                if (event.velocity > 0)
                    noteOn(event);
                else if (event.note < 0)
                    allNotesOff();
                else
                    noteOff(event);
                break;
            case PitchBend: pitchBend = event.value; break;
            case ModWheel: modWheel = static_cast<int64_t>(event.value); break;
            case ProgramChange:
                if (event.program == currentProgram) break;
                currentProgram = event.program;
                programs[event.program].needsCompile = true;
                compileDirtyPrograms();
                displayDirty = true;
                break;
            default: break;
        }
    }
}

int64_t Bytone::renderVoice(Voice& voice, double rate, double timeStep) {
    CompiledExpression& code = *programs[voice.program].code;
    std::fill(std::begin(code.variables), std::end(code.variables), 0);

    if (portamento >= 100) {
        voice.pitch = voice.targetPitch;
    } else {
        const double step = glideRate / static_cast<double>(sampleRate);
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
    int64_t d = runExpression(code);

    if (interpolate) {
        code.variable('P') = static_cast<int64_t>(static_cast<uint64_t>(voice.phase) + 1);
        code.variable('S') = sineReading(sineTable, voice.phase, 1);
        code.variable('C') = sineReading(sineTable, voice.phase, 65);
        const int64_t e = runExpression(code);
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

void Bytone::processReplacing(float**, float** outputs, VstInt32 sampleFrames) {
    const double rate = updateSampleRate();
    const double timeStep = 65536.0 / rate * timeFactorOf(timeScale);
    float* out0 = outputs ? outputs[0] : nullptr;
    float* out1 = outputs ? outputs[1] : nullptr;
    {
        std::lock_guard<std::mutex> hold(bankLock);
        for (VstInt32 k = 0; k < sampleFrames; ++k) {
            applyDueEvents();
            float mix = 0.0f;
            for (Voice& voice : voices) {
                if (voice.note < 0) continue;
                mix += static_cast<float>(renderVoice(voice, rate, timeStep)) * 0.00390625f;
            }
            const float sample = std::clamp(mix * 0.25f, -1.0f, 1.0f);
            if (out0) out0[k] = sample;
            if (out1) out1[k] = sample;
        }
        pendingEvents.clear();
    }
    syncProgramDisplay();
}
