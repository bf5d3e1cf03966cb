#include "bytone.h"

#include <cstdio>
#include <cstring>

namespace {

// Set while this thread renders a block: the host calls it makes meanwhile (the sample
// rate, updateDisplay) may call back into the plug-in on this thread.
thread_local bool insideAudioCallback = false;

bool copyText(char* destination, const char* text) {
    if (!destination) return false;
    std::strcpy(destination, text);
    return true;
}

// The opcodes that take the bank lock, compile or touch the editor's window.
bool needsTheCompilingSide(VstInt32 opcode) {
    switch (opcode) {
        case effSetProgramName:
        case effGetChunk:
        case effSetChunk:
        case effEditOpen:
        case effEditClose:
        case effEditIdle:
        case effEditKeyDown:
        case effEditKeyUp: return true;
        default: return false;
    }
}

}  // namespace

Bytone::Bytone(audioMasterCallback audioMaster, Language language)
    : AudioEffectX(audioMaster, kNumPrograms, 0), instrument_(language) {
    cEffect.numInputs = 0;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth;
    cEffect.uniqueID = fourCharCode('b', 'y', 't', 'o');
    cEffect.version = 1;
    instrument_.setDisplayListener(this);
}

Bytone::~Bytone() { deleteEditor(); }

VstIntPtr Bytone::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (insideAudioCallback && needsTheCompilingSide(opcode)) {
        if (opcode == effGetChunk && ptr) *static_cast<void**>(ptr) = nullptr;
        return 0;
    }
    return AudioEffectX::dispatcher(opcode, index, value, ptr, opt);
}

void Bytone::displayChanged() { updateDisplay(); }

VstInt32 Bytone::getProgram() {
    if (!insideAudioCallback) instrument_.syncProgramDisplay();
    return instrument_.program();
}

void Bytone::getProgramName(char* name) { getProgramNameIndexed(-1, instrument_.program(), name); }

bool Bytone::getProgramNameIndexed(VstInt32, VstInt32 index, char* name) {
    if (!name || index < 0 || index >= kNumPrograms) return false;
    instrument_.programName(index, name, kVstMaxProgNameLen + 1);
    return true;
}

bool Bytone::getEffectName(char* name) { return copyText(name, "BYTONE"); }

bool Bytone::getVendorString(char* text) { return copyText(text, "Kelmo"); }

bool Bytone::getProductString(char* text) { return copyText(text, "v1.2 16.02.20"); }

VstInt32 Bytone::canDo(const char* text) {
    if (text && (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0)) return 1;
    return -1;
}

VstInt32 Bytone::processEvents(VstEvents* events) {
    if (!events) return 1;
    // `events` holds numEvents entries, not the two it is declared with: read it as a list.
    VstEvent* const* list = events->events;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (!event || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        instrument_.queueMidi(static_cast<unsigned char>(midi->midiData[0]),
                              static_cast<unsigned char>(midi->midiData[1]),
                              static_cast<unsigned char>(midi->midiData[2]), midi->deltaFrames);
    }
    return 1;
}

void Bytone::processReplacing(float**, float** outputs, VstInt32 sampleFrames) {
    insideAudioCallback = true;
    instrument_.setSampleRate(updateSampleRate());
    instrument_.render(outputs ? outputs[0] : nullptr, outputs ? outputs[1] : nullptr, sampleFrames);
    insideAudioCallback = false;
}

VstInt32 Bytone::getChunk(void** data, bool) {
    if (!data) return 0;
    const void* chunk = nullptr;
    const int32_t bytes = instrument_.saveState(&chunk);
    *data = const_cast<void*>(chunk);
    return bytes;
}

VstInt32 Bytone::setChunk(void* data, VstInt32 byteSize, bool) {
    instrument_.restoreState(data, byteSize);
    return 0;
}
