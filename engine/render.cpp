// Block rendering: events fire at their frames, every sounding voice advances and runs
// its program's formula, and the shaped voices are mixed into both outputs.
#include <algorithm>

#include "instrument.h"
#include "render_loop.h"

namespace engine {

void Instrument::sortEvents() {
    // In place, without allocating; `order` keeps events of one frame as queued.
    std::sort(events_, events_ + eventCount_, [](const Event& a, const Event& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.order < b.order;
    });
}

void Instrument::fire(const Event& event) {
    firingFrame_ = event.frame;
    switch (event.kind) {
        case EventKind::Note:
            if (event.velocity > 0)
                noteOn(event);
            else if (event.note < 0)
                releaseAll();
            else
                noteOff(event);
            break;
        case EventKind::PitchBend:
            (isMember(event.channel) ? channelBend_[event.channel] : pitchBend) = event.value;
            break;
        case EventKind::ModWheel: modWheel = static_cast<int64_t>(event.value); break;
        case EventKind::ProgramChange:
            if (event.program == currentProgram) break;
            currentProgram = event.program;
            handOver_.mark(event.program);
            handOver_.walkOnAudioThread();
            displayDirty = true;
            break;
        case EventKind::SettingChange: {
            Setting which;
            if (settingFromNumber(event.setting, which)) setSetting(which, static_cast<int32_t>(event.value));
            break;
        }
        case EventKind::Pressure:
        case EventKind::Timbre: pressNotes(event); break;
        case EventKind::NoteExpression: expressNotes(event); break;
        case EventKind::Pedal: pedal(event); break;
        case EventKind::SoundOff: silence(); break;
        case EventKind::Transport:
            if (event.program >= 0 && event.program < transportCount_) song_.follow(transports_[event.program]);
            break;
        default: break;
    }
}

void Instrument::decimate(int32_t frames, bool stereo) {
    if (stereo && sidesAgree_) decimateRight_ = decimateLeft_;
    decimateLeft_.process(stretchMix_, frames, stretchMix_);
    if (stereo) decimateRight_.process(stretchMixRight_, frames, stretchMixRight_);
    sidesAgree_ = !stereo;
}

void Instrument::render(float* left, float* right, int32_t frames) { renderWith(left, right, frames, CompiledCode{}); }

}  // namespace engine
