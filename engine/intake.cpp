// Event intake: each understood MIDI message becomes one queued event, fired by block
// rendering at its frame; RPN selection and the bend range take effect at once.
#include <algorithm>

#include "instrument.h"

namespace {

constexpr int kStatusNoteOff = 0x80;
constexpr int kStatusNoteOn = 0x90;
constexpr int kStatusKeyPressure = 0xA0;
constexpr int kStatusControlChange = 0xB0;
constexpr int kStatusProgramChange = 0xC0;
constexpr int kStatusChannelPressure = 0xD0;
constexpr int kStatusPitchBend = 0xE0;

constexpr int kControllerModWheel = 1;
constexpr int kControllerDataEntry = 6;
constexpr int kControllerSustain = 64;
constexpr int kControllerSoundOff = 120;
constexpr int kControllerResetControllers = 121;
constexpr int kControllerTimbre = 74;  // MPE's "slide"
constexpr int kControllerRpnLsb = 100;
constexpr int kControllerRpnMsb = 101;
constexpr int kControllerAllNotesOff = 123;  // 123..127: all notes off and the mode messages

}  // namespace

namespace engine {

bool Instrument::queueEvent(const Event& event) {
    if (eventCount_ >= kEventCapacity) {
        ++dropped_;
        return false;
    }
    Event& queued = events_[eventCount_];
    queued = event;
    queued.order = eventCount_++;
    return true;
}

bool Instrument::queueTransport(const TransportReport& report, int32_t frame) {
    if (transportCount_ >= kTransportCapacity || eventCount_ >= kEventCapacity) {
        ++dropped_;
        return false;
    }
    Event queued{};
    queued.kind = EventKind::Transport;
    queued.frame = frame;
    queued.program = transportCount_;
    transports_[transportCount_++] = report;
    return queueEvent(queued);
}

bool Instrument::queueMidi(int status, int data1, int data2, int32_t frame) {
    status &= 0xFF;
    data1 &= 0xFF;
    data2 &= 0x7F;
    Event queued{};
    queued.frame = frame;
    queued.channel = status & 0x0F;
    switch (status & 0xF0) {
        case kStatusNoteOff:
        case kStatusNoteOn:
            queued.kind = EventKind::Note;
            queued.note = data1 & 0x7F;
            queued.velocity = (status & 0xF0) == kStatusNoteOn ? data2 : 0;
            return queueEvent(queued);
        case kStatusControlChange:
            // The controller number is compared unmasked: 128 and up match nothing.
            if (language_ == Language::Extended && mpe.load(std::memory_order_relaxed) != 0 &&
                (data1 == kControllerRpnLsb || data1 == kControllerRpnMsb || data1 == kControllerDataEntry)) {
                mpeController(queued.channel, data1, data2);
            } else if (data1 == kControllerRpnLsb) {
                rpnLsb = data2;
            } else if (data1 == kControllerRpnMsb) {
                rpnMsb = data2;
            } else if (data1 == kControllerModWheel) {
                queued.kind = EventKind::ModWheel;
                queued.value = static_cast<float>(data2);
                return queueEvent(queued);
            } else if (data1 == kControllerDataEntry) {
                if (rpnLsb == 0 && rpnMsb == 0) bendRange = data2 * 0.5;
            } else if (data1 == kControllerTimbre && language_ == Language::Extended) {
                queued.kind = EventKind::Timbre;
                queued.value = static_cast<float>(data2);
                return queueEvent(queued);
            } else if (language_ == Language::Extended &&
                       (data1 == kControllerSustain || data1 == kControllerResetControllers)) {
                queued.kind = EventKind::Pedal;  // a reset of the controllers lifts it
                queued.value = data1 == kControllerSustain ? static_cast<float>(data2) : 0.0f;
                return queueEvent(queued);
            } else if (data1 == kControllerSoundOff && language_ == Language::Extended) {
                queued.kind = EventKind::SoundOff;
                return queueEvent(queued);
            } else if (data1 >= kControllerAllNotesOff && data1 <= 127) {
                queued.kind = EventKind::Note;
                queued.note = -1;
                return queueEvent(queued);
            }
            return true;
        case kStatusProgramChange:
            queued.kind = EventKind::ProgramChange;
            queued.program = data1 & 0x7F;
            return queueEvent(queued);
        case kStatusPitchBend: {
            const int position = (data2 << 7) | (data1 & 0x7F);
            const double range = isMember(queued.channel) ? memberBendRange_ : bendRange;
            queued.kind = EventKind::PitchBend;
            queued.value = static_cast<float>((position - 8192) * range * 0.0001220703125);
            return queueEvent(queued);
        }
        case kStatusKeyPressure:
        case kStatusChannelPressure:
            // Only the extended language's words read them.
            if (language_ != Language::Extended) return true;
            queued.kind = EventKind::Pressure;
            queued.note = (status & 0xF0) == kStatusKeyPressure ? (data1 & 0x7F) : -1;
            queued.value = static_cast<float>((status & 0xF0) == kStatusKeyPressure ? data2 : (data1 & 0x7F));
            return queueEvent(queued);
        default: return true;  // system messages
    }
}

void Instrument::mpeController(int32_t channel, int data1, int data2) {
    int32_t(&rpn)[2] = channelRpn_[channel & 15];
    if (data1 == kControllerRpnMsb) rpn[0] = data2;
    if (data1 == kControllerRpnLsb) rpn[1] = data2;
    if (data1 != kControllerDataEntry || rpn[0] != 0) return;
    if (rpn[1] == 0) {
        // The bend range: a member's sets every member's, in semitones as MPE has it.
        if (isMember(channel))
            memberBendRange_ = data2;
        else
            bendRange = data2 * 0.5;
    } else if (rpn[1] == 6 && channel == 0) {
        // MPE's configuration message: the zone's member channels, 0 for none.
        mpeMembers_ = std::min(data2, 15);
        memberBendRange_ = 48.0;
    }
}

}  // namespace engine
