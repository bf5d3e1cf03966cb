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
    // The editor may change the setting at any moment: one reading serves the whole event.
    const int32_t voiceCount = std::clamp<int32_t>(polyphony, 1, kNumVoices);
    if (voiceCount == 1) {
        startVoice(0, true, event);
        return;
    }
    int chosen = -1;
    for (int v = 0; v < voiceCount && chosen < 0; ++v)
        if (voices[v].note == event.note) chosen = v;
    for (int v = 0; v < voiceCount && chosen < 0; ++v)
        if (voices[v].note < 0) chosen = v;
    if (chosen >= 0) startVoice(chosen, false, event);
}

void Instrument::startVoice(int index, bool mono, const Event& note) {
    const int32_t channel = note.channel, key = note.note;
    Voice& voice = voices[index];
    const bool wasSounding = voice.note >= 0;
    // The note it played ends, unless a mono voice goes on with the same key.
    if (wasSounding && (!mono || voice.note != key)) noteEnded(voice);
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
    if (mono && wasSounding) return;  // legato: the voice keeps its program, counters and start
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

void Instrument::noteEnded(const Voice& voice) {
    if (endedCount_ < kEndedCapacity)
        ended_[endedCount_++] = {firingFrame_, voice.channel, voice.note, voice.noteId, voice.port};
}

void Instrument::releaseNote(int32_t key) {
    for (Voice& voice : voices) {
        if (voice.note < 0 || (key >= 0 && voice.note != key)) continue;
        noteEnded(voice);
        voice.note = -1;
    }
}

void Instrument::noteOff(const Event& event) {
    heldKeys[event.note] = 0;
    releaseNote(event.note);
    if (polyphony > 1) return;
    // Mono falls back to the highest key still held, without restarting.
    for (int key = 127; key >= 0; --key) {
        if (!heldKeys[key]) continue;
        // The key sounds again without a note of the host's: it has no id.
        Voice& voice = voices[0];
        voice.note = key;
        voice.noteId = -1;
        voice.targetPitch = key - 69;
        updateGlideRate(voice);
        return;
    }
}

void Instrument::allNotesOff() {
    for (uint8_t& held : heldKeys) held = 0;
    releaseNote(-1);
}

}  // namespace engine
