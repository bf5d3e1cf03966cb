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

    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
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
    // Reserved and touched, so that the audio thread meets no fresh page in it.
    pendingEvents.resize(kEventReserve);
    pendingEvents.clear();

    scope_ = records_.take();
    compileDirtyPrograms();
    adoptWalked();  // no audio thread yet: this thread plays its part once
    fillSineTable(sineTable);
}

// The editor goes first, while the instrument it refers to is still whole.
Bytone::~Bytone() { deleteEditor(); }

void Bytone::recycle(CompiledExpression* record) {
    nativeCode_.drop(records_.indexOf(record));
    records_.give(record);
}

void Bytone::publish(RecordBox& box, CompiledExpression* record) {
    const uintptr_t old = box.exchange(reinterpret_cast<uintptr_t>(record) | kFresh, std::memory_order_acq_rel);
    if (old) recycle(reinterpret_cast<CompiledExpression*>(old & ~kFresh));  // given back, or never taken
}

void Bytone::collectGivenBack() {
    for (ProgramSlot& slot : programs) {
        for (RecordBox* box : {&slot.walked, &slot.edited}) {
            uintptr_t held = box->load(std::memory_order_acquire);
            // A fresh record stays until the audio thread takes it.
            if (held && !(held & kFresh) && box->compare_exchange_strong(held, 0, std::memory_order_acq_rel))
                recycle(reinterpret_cast<CompiledExpression*>(held));
        }
    }
}

void Bytone::publishEdits() {
    collectGivenBack();
    CompiledExpression* fresh[kNumPrograms]{};
    for (int i = 0; i < kNumPrograms; ++i) {
        if (!programs[i].needsCompile) continue;
        // Four a program: one is always in. Were none, the edit would wait for the next walk.
        if (!(fresh[i] = records_.take())) continue;
        programs[i].needsCompile = false;
        compileExpression(*fresh[i], programs[i].formula);
        nativeCode_.install(*fresh[i], records_.indexOf(fresh[i]));  // a failed compilation gets no code
    }
    nativeCode_.seal();
    for (int i = 0; i < kNumPrograms; ++i) {
        if (!fresh[i]) continue;
        // One run here touches every page that the audio thread's runs will touch.
        for (char letter : {'T', 'P', 'V', 'M', 'R', 'S', 'C'}) fresh[i]->variable(letter) = 0;
        runExpression(*fresh[i]);
        publish(programs[i].edited, fresh[i]);
    }
}

const char* Bytone::compileDirtyPrograms() {
    publishEdits();
    // Every compilation of the walk was made ahead by publishEdits; what remains is to
    // move marked programs' records, in order, to where the audio thread plays them
    // from its next block, up to the first that did not compile.
    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
        const bool changeMarked = slot.changeMarked.exchange(false);
        uintptr_t edited = slot.edited.load(std::memory_order_acquire);
        // The audio thread's own walk may take the record meanwhile: then it has walked it.
        if ((edited & kFresh) && slot.edited.compare_exchange_strong(edited, 0, std::memory_order_acq_rel)) {
            auto* record = reinterpret_cast<CompiledExpression*>(edited & ~kFresh);
            const bool failed = !record->isCompiled();
            publish(slot.walked, record);
            if (failed) return compileExpression(*scope_, slot.formula);  // its message
        } else if (changeMarked) {
            // Its record holds its formula already: compiling it again changes nothing
            // but tells whether the walk stops here.
            if (const char* message = compileExpression(*scope_, slot.formula)) return message;
        }
    }
    return compileExpression(*scope_, programs[currentProgram.load()].formula);
}

bool Bytone::isMarked(int index) const {
    const ProgramSlot& slot = programs[index];
    return slot.needsCompile || slot.changeMarked || (slot.edited.load() & kFresh);
}

CompiledExpression& Bytone::programRecord(int index) {
    const uintptr_t walked = programs[index].walked.load();
    return walked & kFresh ? *reinterpret_cast<CompiledExpression*>(walked & ~kFresh) : *playing_[index];
}

CompiledExpression& Bytone::scopeRecord(int index) {
    compileExpression(*scope_, programs[index].formula);
    scope_->valueStack[0] = scopeResults_[index];
    return *scope_;
}

void Bytone::keepScopeResult(int index) { scopeResults_[index] = scope_->valueStack[0]; }

void Bytone::adopt(int index, RecordBox& box) {
    uintptr_t held = box.load(std::memory_order_acquire);
    if (!(held & kFresh)) return;
    CompiledExpression* old = playing_[index];
    // Slot 0 carries over: a formula that fails or pushes nothing yields the last result.
    const int64_t lastResult = old ? old->valueStack[0] : 0;
    // The compiling side may put a newer record in at the same moment: then this one is
    // taken at the next look, never waited for.
    if (!box.compare_exchange_strong(held, reinterpret_cast<uintptr_t>(old), std::memory_order_acq_rel)) return;
    playing_[index] = reinterpret_cast<CompiledExpression*>(held & ~kFresh);
    playing_[index]->valueStack[0] = lastResult;
}

void Bytone::adoptWalked() {
    for (int i = 0; i < kNumPrograms; ++i) adopt(i, programs[i].walked);
}

void Bytone::walkOnAudioThread() {
    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
        adopt(i, slot.walked);  // older than what `edited` holds
        const bool changeMarked = slot.changeMarked.exchange(false);
        if (!(slot.edited.load(std::memory_order_acquire) & kFresh) && !changeMarked) continue;
        adopt(i, slot.edited);
        if (!playing_[i]->isCompiled()) return;
    }
}

bool Bytone::takeDisplayChange(Side side) {
    const int32_t current = currentProgram.load();
    if (lastSeenProgram.exchange(current) != current) {
        if (side == Side::Audio)
            walkOnAudioThread();
        else
            compileDirtyPrograms();
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
        std::lock_guard<std::mutex> hold(bankLock);
        changed = takeDisplayChange(Side::Compiling);
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
    std::lock_guard<std::mutex> hold(bankLock);
    char* field = programs[currentProgram.load()].name;
    std::strncpy(field, name, kNameSize);
    field[kNameSize - 1] = '\0';
}

void Bytone::getProgramName(char* name) { getProgramNameIndexed(-1, currentProgram.load(), name); }

bool Bytone::getProgramNameIndexed(VstInt32, VstInt32 index, char* name) {
    if (!name || index < 0 || index >= kNumPrograms) return false;
    std::lock_guard<std::mutex> hold(bankLock);
    std::snprintf(name, kVstMaxProgNameLen + 1, "%s", programs[index].name);
    return true;
}

bool Bytone::getEffectName(char* name) { return copyText(name, "BYTONE"); }

bool Bytone::getVendorString(char* text) { return copyText(text, "Kelmo"); }

bool Bytone::getProductString(char* text) { return copyText(text, "v1.2 16.02.20"); }

VstInt32 Bytone::canDo(const char* text) {
    if (text && (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0)) return 1;
    return -1;
}
