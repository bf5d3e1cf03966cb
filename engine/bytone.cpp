#include "bytone.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "presets.h"

namespace {

void fillSineTable(uint8_t table[256]) {
    // The angle is summed step by step, as the table has always been built; computing
    // i * step directly would change entries that lie on a rounding boundary.
    double angle = 0.0;
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(static_cast<int>(std::sin(angle) * 127.0 + 128.0));
        angle += 0.02454369260617026;
    }
}

bool copyText(char* destination, const char* text) {
    if (!destination) return false;
    std::strcpy(destination, text);
    return true;
}

}  // namespace

Bytone::Bytone(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, kNumPrograms, 0) {
    cEffect.numInputs = 0;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing | effFlagsProgramChunks | effFlagsIsSynth;
    cEffect.uniqueID = fourCharCode('b', 'y', 't', 'o');
    cEffect.version = 1;

    compiled = allocateCompiledExpressions(kNumPrograms);
    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
        slot.code = &compiled[i];
        slot.needsCompile = true;
        std::snprintf(slot.name, sizeof slot.name, "%3.3u default", static_cast<unsigned>(i + 1));
        std::snprintf(slot.formula, sizeof slot.formula, "%s", "P&255");
        slot.drumKey = 0;
    }
    for (int j = 0; j < kNumPrograms && static_cast<unsigned char>(presetTable[j].name[0]) >= 32; ++j) {
        std::snprintf(programs[j].name, sizeof programs[j].name, "%3.3i %s", j + 1, presetTable[j].name);
        std::snprintf(programs[j].formula, sizeof programs[j].formula, "%s", presetTable[j].formula);
    }
    for (Voice& voice : voices) voice.note = -1;
    pendingEvents.reserve(kEventReserve);

    compileDirtyPrograms();
    fillSineTable(sineTable);
}

// The editor goes first, while the instrument it refers to is still whole.
Bytone::~Bytone() { deleteEditor(); }

const char* Bytone::compileDirtyPrograms(CodeWrites writes) {
    const char* message = nullptr;
    for (int i = 0; i < kNumPrograms && !message; ++i)
        if (programs[i].needsCompile.exchange(false)) message = compileProgram(i);
    if (!message) message = compileProgram(currentProgram.load());
    nativeCode.seal(writes == CodeWrites::Allowed);
    return message;
}

const char* Bytone::compileProgram(int index) {
    ProgramSlot& slot = programs[index];
    const char* message = compileExpression(*slot.code, slot.formula);
    nativeCode.install(*slot.code, index);  // a failed compilation loses its code too
    return message;
}

bool Bytone::takeDisplayChange(CodeWrites writes) {
    const int32_t current = currentProgram.load();
    if (current != lastSeenProgram) {
        lastSeenProgram = current;
        compileDirtyPrograms(writes);
        displayDirty = false;
    } else if (!displayDirty.exchange(false)) {
        return false;
    }
    if (programDisplay) programDisplay->requestReload();
    return true;
}

void Bytone::syncProgramDisplay() {
    bool changed;
    {
        std::lock_guard<BankLock> hold(bankLock);
        changed = takeDisplayChange(CodeWrites::Allowed);
    }
    if (changed) updateDisplay();
}

VstInt32 Bytone::getProgram() {
    syncProgramDisplay();
    return currentProgram.load();
}

void Bytone::setProgram(VstInt32 program) {
    if (program < 0) return;
    currentProgram = program > kNumPrograms - 1 ? kNumPrograms - 1 : program;
}

void Bytone::setProgramName(const char* name) {
    if (!name) return;
    std::lock_guard<BankLock> hold(bankLock);
    char* field = programs[currentProgram.load()].name;
    std::strncpy(field, name, kNameSize);
    field[kNameSize - 1] = '\0';
}

void Bytone::getProgramName(char* name) {
    if (!name) return;
    std::lock_guard<BankLock> hold(bankLock);
    std::snprintf(name, kVstMaxProgNameLen + 1, "%s", programs[currentProgram.load()].name);
}

bool Bytone::getEffectName(char* name) { return copyText(name, "BYTONE"); }

bool Bytone::getVendorString(char* text) { return copyText(text, "Kelmo"); }

bool Bytone::getProductString(char* text) { return copyText(text, "v1.2 16.02.20"); }

VstInt32 Bytone::canDo(const char* text) {
    if (text && (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0)) return 1;
    return -1;
}
