// MIDI intake: each understood message becomes one queued event, fired by block
// rendering at its frame; RPN selection and the bend range take effect at once.
#include "bytone.h"

namespace {

constexpr int kStatusNoteOff = 0x80;
constexpr int kStatusNoteOn = 0x90;
constexpr int kStatusControlChange = 0xB0;
constexpr int kStatusProgramChange = 0xC0;
constexpr int kStatusPitchBend = 0xE0;

constexpr int kControllerModWheel = 1;
constexpr int kControllerDataEntry = 6;
constexpr int kControllerRpnLsb = 100;
constexpr int kControllerRpnMsb = 101;
constexpr int kControllerAllNotesOff = 123;  // 123..127: all notes off and the mode messages

}  // namespace

void Bytone::appendEvent(const PendingEvent& event) {
    try {
        pendingEvents.push_back(event);
    } catch (...) {
        // Out of memory past the reserved room: the event is dropped.
    }
}

VstInt32 Bytone::processEvents(VstEvents* events) {
    if (!events) return 1;
    // `events` holds numEvents entries, not the two it is declared with: read it as a list.
    VstEvent* const* list = events->events;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const int status = static_cast<unsigned char>(midi->midiData[0]);
        const int data1 = static_cast<unsigned char>(midi->midiData[1]);
        const int data2 = static_cast<unsigned char>(midi->midiData[2]) & 0x7F;

        PendingEvent queued{};
        queued.framesLeft = midi->deltaFrames;
        queued.channel = status & 0x0F;
        switch (status & 0xF0) {
            case kStatusNoteOff:
            case kStatusNoteOn:
                queued.kind = Note;
                queued.note = data1 & 0x7F;
                queued.velocity = (status & 0xF0) == kStatusNoteOn ? data2 : 0;
                appendEvent(queued);
                break;
            case kStatusControlChange:
                // The controller number is compared unmasked: 128 and up match nothing.
                if (data1 == kControllerRpnLsb) {
                    rpnLsb = data2;
                } else if (data1 == kControllerRpnMsb) {
                    rpnMsb = data2;
                } else if (data1 == kControllerModWheel) {
                    queued.kind = ModWheel;
                    queued.value = static_cast<float>(data2);
                    appendEvent(queued);
                } else if (data1 == kControllerDataEntry) {
                    if (rpnLsb == 0 && rpnMsb == 0) bendRange = data2 * 0.5;
                } else if (data1 >= kControllerAllNotesOff && data1 <= 127) {
                    queued.kind = Note;
                    queued.note = -1;
                    appendEvent(queued);
                }
                break;
            case kStatusProgramChange:
                queued.kind = ProgramChange;
                queued.program = data1 & 0x7F;
                appendEvent(queued);
                break;
            case kStatusPitchBend: {
                const int position = (data2 << 7) | (data1 & 0x7F);
                queued.kind = PitchBend;
                queued.value = static_cast<float>((position - 8192) * bendRange * 0.0001220703125);
                appendEvent(queued);
                break;
            }
            default: break;  // aftertouch, channel pressure, system messages
        }
    }
    return 1;
}
