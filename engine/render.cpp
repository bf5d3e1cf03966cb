// Block rendering: events fire at their sample, every sounding voice advances and runs
// its program's formula, and the shaped voices are mixed into both outputs.
#include "bytone.h"
#include "render_loop.h"

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
                programs[event.program].changeMarked = true;
                walkOnAudioThread();
                displayDirty = true;
                break;
            default: break;
        }
    }
}

void Bytone::processReplacing(float**, float** outputs, VstInt32 sampleFrames) {
    renderBlock(outputs, sampleFrames, [](CompiledExpression& code, int32_t) { return runExpression(code); });
}
