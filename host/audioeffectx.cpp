
#include "aeffeditor.h"
#include "audioeffect.h"

namespace {

bool isDeprecatedExtendedOpcode(VstInt32 opcode) {
    switch (opcode) {
        case effGetNumProgramCategories:
        case effCopyProgram:
        case effConnectInput:
        case effConnectOutput:
        case effGetCurrentPosition:
        case effGetDestinationBuffer:
        case effSetBlockSizeAndSampleRate:
        case effGetErrorText:
        case effIdle:
        case effGetIcon:
        case effSetViewPosition:
        case effKeysRequired: return true;
        default: return false;
    }
}

VstKeyCode keyCode(VstInt32 index, VstIntPtr value, float opt) {
    VstKeyCode key{};
    key.character = index;
    key.virt = static_cast<unsigned char>(value & 0xFF);
    // A modifier outside the int range cannot be converted; it reads as no modifier.
    key.modifier = (opt > -2147483648.0f && opt < 2147483648.0f)
                       ? static_cast<unsigned char>(static_cast<VstInt32>(opt) & 0xFF)
                       : 0;
    return key;
}

}  // namespace

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (opcode < effProcessEvents || opcode > effGetNumMidiOutputChannels || isDeprecatedExtendedOpcode(opcode))
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);

    switch (opcode) {
        case effProcessEvents: return processEvents(static_cast<VstEvents*>(ptr));
        case effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
        case effGetPlugCategory: return getPlugCategory();
        case effGetEffectName: return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
        case effGetVendorString: return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
        case effGetProductString: return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
        case effGetVendorVersion: return getVendorVersion();
        case effCanDo: return canDo(static_cast<const char*>(ptr));
        case effGetVstVersion: return getVstVersion();
        case effEditKeyDown:
        case effEditKeyUp: {
            if (!editor) return 0;
            VstKeyCode key = keyCode(index, value, opt);
            const bool used = opcode == effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key);
            return used ? 1 : 0;
        }
        case effSetEditKnobMode:
            if (editor) editor->setKnobMode(static_cast<VstInt32>(value));
            return 0;
        case effGetCurrentMidiProgram: return getCurrentMidiProgram(index, ptr);
        case effGetProgramNameIndexed:
            return getProgramNameIndexed(static_cast<VstInt32>(value), index, static_cast<char*>(ptr)) ? 1 : 0;
        case effGetSpeakerArrangement:
            if (value) *reinterpret_cast<void**>(value) = nullptr;
            if (ptr) *static_cast<void**>(ptr) = nullptr;
            return 0;
        case effSetTotalSampleToProcess: return setTotalSampleToProcess(static_cast<VstInt32>(value));
        case effGetNumMidiInputChannels: return getNumMidiInputChannels();
        case effGetNumMidiOutputChannels: return getNumMidiOutputChannels();
        default:
            // The remaining opcodes of the range have nothing to do here and answer 0.
            return 0;
    }
}

void AudioEffectX::resume() {
    if ((cEffect.flags & effFlagsIsSynth) || canDo("receiveVstMidiEvent") == 1) wantEvents(1);
}

bool AudioEffectX::wantEvents(VstInt32 filter) { return callHost(audioMasterWantMidi, 0, filter) != 0; }

double AudioEffectX::updateSampleRate() {
    const VstIntPtr rate = callHost(audioMasterGetSampleRate);
    if (rate > 0) sampleRate = static_cast<float>(rate);
    return sampleRate.load();
}

bool AudioEffectX::updateDisplay() { return callHost(audioMasterUpdateDisplay) != 0; }
