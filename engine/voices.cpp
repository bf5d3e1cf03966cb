// Voice allocation: which voice a note takes, legato and glide in mono mode, the drum
// mapping of MIDI channel 10, and which voices a note-off frees.
#include <algorithm>
#include <cmath>

#include "instrument.h"

namespace {
constexpr int kDrumChannel = 9;  // MIDI channel 10
constexpr int kLowestDrumKey = 24;
}  // namespace

namespace engine {

void Instrument::updateGlideRate(const Voice& voice) {
    glideRate = std::log(1.0 - portamento / 100.0) * ((voice.pitch - voice.targetPitch) * 20.0);
}

void Instrument::noteOn(const Event& event) {
    heldKeys[event.note] = 1;
    offHeld_[event.note] = false;  // struck again: the note off the pedal held is the old note's
    // The editor may change the setting at any moment: one reading serves the whole event.
    const int32_t voiceCount = std::clamp<int32_t>(polyphony, 1, kNumVoices);
    if (voiceCount == 1) {
        startVoice(0, true, event);
        return;
    }
    // The key's own voice, sounding or releasing; else a free one; else the one that has
    // been releasing longest; else the note is dropped.
    int chosen = -1;
    for (int v = 0; v < voiceCount && chosen < 0; ++v)
        if (voices[v].note == event.note) chosen = v;
    for (int v = 0; v < voiceCount && chosen < 0; ++v)
        if (voices[v].note < 0) chosen = v;
    int longest = -1;
    for (int v = 0; v < voiceCount; ++v)
        if (voices[v].releasing && (longest < 0 || voices[v].releasedAt < voices[longest].releasedAt)) longest = v;
    if (chosen < 0) chosen = longest;
    if (chosen >= 0) startVoice(chosen, false, event);
}

void Instrument::startRamp(Voice& voice, bool fromLevel) {
    if (!fromLevel) voice.ramp = Ramp{0.0, 0.0, 0, 0};
    voice.ramp.restart(1.0, rampSteps(attack));
}

void Instrument::startVoice(int index, bool mono, const Event& note) {
    const int32_t channel = note.channel, key = note.note;
    Voice& voice = voices[index];
    const bool wasPlaying = voice.note >= 0;                  // sounding or releasing
    const bool wasSounding = wasPlaying && !voice.releasing;  // a held note, which mono plays on legato
    // The note it played ends, unless a mono voice goes on with the same key.
    if (wasPlaying && (voice.releasing || !mono || voice.note != key)) noteEnded(voice, firingFrame_);
    voice.note = key;
    voice.channel = channel;
    voice.noteId = note.noteId;
    voice.port = note.port;
    voice.targetPitch = key - 69;
    if (!wasSounding || !mono) voice.pitch = voice.targetPitch;
    updateGlideRate(voice);
    voice.velocity = note.velocity;
    voice.gate = 1;
    voice.tuning = 0.0;
    if (!wasSounding || !mono) {
        voice.pressure = channelPressure_[channel & 15];
        voice.timbre = channelTimbre_[channel & 15];
    }
    if (mono && wasSounding) return;  // legato: the voice keeps its program, counters, start and level
    // A retaken voice ramps up from where it stands.
    voice.releasing = false;
    startRamp(voice, wasPlaying);
    voice.start = song_.beat();

    voice.program = currentProgram;
    if (channel == kDrumChannel && !isMember(channel)) {  // an MPE zone's member plays no drum
        for (int i = 0; i < kNumPrograms; ++i) {
            const int32_t drumKey = programs[i].drumKey;
            if (drumKey >= kLowestDrumKey && drumKey == key) {
                voice.program = i;
                break;
            }
        }
    }
    voice.time = 0;
    voice.phase = 0;
    voice.timeFrac = 0.0;
    voice.phaseFrac = 0.0;
}

void Instrument::pressNotes(const Event& event) {
    const int32_t channel = event.channel & 15, value = std::clamp(static_cast<int32_t>(event.value), 0, 127);
    const bool pressure = event.kind == EventKind::Pressure;
    if (!pressure || event.note < 0) (pressure ? channelPressure_ : channelTimbre_)[channel] = value;
    for (Voice& voice : voices) {
        if (voice.note < 0 || voice.channel != event.channel || (event.note >= 0 && voice.note != event.note)) continue;
        (pressure ? voice.pressure : voice.timbre) = value;
    }
}

void Instrument::expressNotes(const Event& event) {
    constexpr double kFarthestTuning = 120.0;  // semitones either way, as CLAP bounds it
    const double value = std::isfinite(event.value) ? event.value : 0.0;
    for (Voice& voice : voices) {
        if (voice.note < 0 || (event.noteId >= 0 && voice.noteId != event.noteId) ||
            (event.port >= 0 && voice.port != event.port) || (event.channel >= 0 && voice.channel != event.channel) ||
            (event.note >= 0 && voice.note != event.note))
            continue;
        switch (event.expression) {
            case Expression::Tuning: voice.tuning = std::clamp(value, -kFarthestTuning, kFarthestTuning); break;
            case Expression::Pressure:
                voice.pressure = static_cast<int32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 127));
                break;
            case Expression::Timbre:
                voice.timbre = static_cast<int32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 127));
                break;
        }
    }
}

void Instrument::noteEnded(const Voice& voice, int32_t frame) {
    if (endedCount_ < kEndedCapacity)
        ended_[endedCount_++] = {frame, voice.channel, voice.note, voice.noteId, voice.port};
}

void Instrument::freeVoice(Voice& voice, int32_t frame) {
    noteEnded(voice, frame);
    voice.note = -1;
    voice.releasing = false;
}

void Instrument::releaseNote(int32_t key, const Voice* except) {
    const int32_t samples = rampSteps(release);
    for (Voice& voice : voices) {
        if (voice.note < 0 || (key >= 0 && voice.note != key)) continue;
        if (&voice == except) {
            noteEnded(voice, firingFrame_);
        } else if (samples == 0) {
            freeVoice(voice, firingFrame_);
        } else if (!voice.releasing) {
            voice.releasing = true;
            voice.releasedAt = releases_++;
            voice.gate = 0;
            voice.ramp.restart(0.0, samples);
        }
    }
}

void Instrument::noteOff(const Event& event) {
    if (sustains(event.channel)) {
        heldOffs_[event.note] = event;
        offHeld_[event.note] = true;
        return;
    }
    heldKeys[event.note] = 0;
    // Mono falls back to the highest key still held, without restarting.
    int32_t fallback = -1;
    for (int key = 127; polyphony <= 1 && key >= 0 && fallback < 0; --key)
        if (heldKeys[key]) fallback = key;
    releaseNote(event.note, fallback >= 0 ? &voices[0] : nullptr);
    if (fallback < 0) return;
    // The key sounds again without a note of the host's: it has no id.
    Voice& voice = voices[0];
    voice.note = fallback;
    voice.noteId = -1;
    voice.targetPitch = fallback - 69;
    updateGlideRate(voice);
    if (voice.releasing) {
        voice.releasing = false;
        voice.gate = 1;
        startRamp(voice, true);
    }
}

bool Instrument::sustains(int32_t channel) const {
    return pedalDown_[channel & 15] || (isMember(channel) && pedalDown_[0]);
}

void Instrument::pedal(const Event& event) {
    const bool down = event.value >= 64.0f;
    bool& pedal = pedalDown_[event.channel & 15];
    if (pedal == down) return;
    pedal = down;
    for (int key = 0; !down && key < 128; ++key) {
        if (!offHeld_[key] || sustains(heldOffs_[key].channel)) continue;
        offHeld_[key] = false;
        noteOff(heldOffs_[key]);
    }
}

void Instrument::releaseAll() {
    for (uint8_t& held : heldKeys) held = 0;
    for (bool& held : offHeld_) held = false;
    releaseNote(-1);
}

void Instrument::silence() {
    for (uint8_t& held : heldKeys) held = 0;
    for (bool& held : offHeld_) held = false;
    for (Voice& voice : voices)
        if (voice.note >= 0) freeVoice(voice, firingFrame_);
}

void Instrument::allNotesOff() {
    silence();
    for (bool& down : pedalDown_) down = false;
    dcLeft_ = dcRight_ = DcFilter{};
}

int32_t Instrument::framesToRampEnd(int32_t limit) const {
    for (const Voice& voice : voices)
        if (voice.note >= 0 && voice.ramp.active())
            limit = std::min(limit, (voice.ramp.left() + factor_ - 1) / factor_);
    return limit;
}

void Instrument::advanceRamps(int32_t steps, int32_t frame) {
    for (Voice& voice : voices) {
        if (voice.note < 0 || !voice.ramp.active()) continue;
        voice.ramp.at += steps;
        if (voice.ramp.at < voice.ramp.length) continue;
        if (voice.releasing)
            freeVoice(voice, frame);  // after the release's last sample
        else
            voice.ramp = Ramp{};
    }
}

}  // namespace engine
