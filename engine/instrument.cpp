#include "instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "presets.h"
#include "sine_table.h"

namespace engine {

static_assert(kNumPrograms == RecordHandOver::kPrograms);

Instrument::Instrument(const CodePages& codePages, Language language) : language_(language), handOver_(codePages) {
    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
        slot.needsCompile = true;
        std::snprintf(slot.name, sizeof slot.name, "%3.3u default", static_cast<unsigned>(i + 1));
        std::snprintf(slot.formula, sizeof slot.formula, "%s", "P&255");
        slot.drumKey = 0;
    }
    for (int j = 0; j < std::min(presetCount(), kNumPrograms); ++j) {
        std::snprintf(programs[j].name, sizeof programs[j].name, "%3.3i %s", j + 1, presetTable[j].name);
        std::snprintf(programs[j].formula, sizeof programs[j].formula, "%s", presetTable[j].formula);
    }
    for (Voice& voice : voices) voice.note = -1;

    compileDirtyPrograms();
    handOver_.adoptWalked();  // no audio thread yet: this thread plays its part once
    fillSineTable(sineTable_);
    publishNames();
}

Instrument::~Instrument() = default;

void Instrument::publishEdits() {
    handOver_.collectGivenBack();
    CompiledExpression* fresh[kNumPrograms]{};
    for (int i = 0; i < kNumPrograms; ++i) {
        ProgramSlot& slot = programs[i];
        if (!slot.needsCompile) continue;
        LastCompile& last = lastCompiled_[i];
        if (last.valid && std::strcmp(last.formula, slot.formula) == 0) {
            // Its newest record holds this very formula: compiling it again would give the
            // same record, so the walk only has to pass the program again.
            slot.needsCompile = false;
            handOver_.mark(i);
            continue;
        }
        const char* message = compile(slot.formula);
        // A program has four records, and one is always free to take here. Were none, or
        // no memory, the edit would wait for the next walk.
        const CompiledExpression* right = workspaceRight_->isCompiled() ? workspaceRight_ : nullptr;
        if (!(fresh[i] = handOver_.take(i, *workspace_, right))) continue;
        slot.needsCompile = false;
        last.message = message;
        std::memcpy(last.formula, slot.formula, sizeof last.formula);
        last.valid = true;
    }
    handOver_.sealCode();
    for (int i = 0; i < kNumPrograms; ++i) {
        if (!fresh[i]) continue;
        // One run here touches every page that the audio thread's runs will touch.
        for (CompiledExpression* side : {fresh[i], fresh[i]->right}) {
            if (!side) continue;
            for (int64_t& variable : side->variables) variable = 0;
            runExpression(*side);
        }
        handOver_.offer(i, fresh[i]);
    }
}

const char* Instrument::messageOf(int index) {
    const LastCompile& last = lastCompiled_[index];
    if (last.valid && std::strcmp(last.formula, programs[index].formula) == 0) return last.message;
    return compile(programs[index].formula);
}

const char* Instrument::compile(const char* formula) {
    return compileExpression(*workspace_, formula, language_, workspaceRight_);
}

int32_t Instrument::stopOf(const char* formula) {
    int32_t stop = -1;
    compileExpression(*workspace_, formula, language_, workspaceRight_, &stop);
    return stop;
}

const char* Instrument::compileDirtyPrograms() {
    publishEdits();
    // Every compilation of the walk was made ahead by publishEdits; what remains is to
    // move marked programs' records, in order, to where the audio thread plays them
    // from its next block, up to the first that did not compile.
    const char* message = nullptr;
    if (handOver_.walk([this](int index) { return messageOf(index); }, message)) return message;
    return messageOf(currentProgram.load());
}

bool Instrument::isMarked(int index) const { return programs[index].needsCompile || handOver_.isMarked(index); }

CompiledExpression& Instrument::programRecord(int index) { return handOver_.nextRecord(index); }

CompiledExpression& Instrument::scopeRecord(int index) {
    compile(programs[index].formula);
    workspace_->valueStack[0] = scopeResults_[index];
    return *workspace_;
}

void Instrument::keepScopeResult(int index) { scopeResults_[index] = workspace_->valueStack[0]; }

bool Instrument::takeDisplayChange(Side side) {
    const int32_t current = currentProgram.load();
    if (lastSeenProgram.exchange(current) != current) {
        if (side == Side::Audio)
            handOver_.walkOnAudioThread();
        else
            compileDirtyPrograms();
        displayDirty = false;
    } else if (!displayDirty.exchange(false)) {
        return false;
    }
    if (programDisplay_) programDisplay_->requestReload();
    return true;
}

void Instrument::announceDisplay() {
    if (displayListener_) displayListener_->displayChanged();
}

void Instrument::syncProgramDisplay() {
    bool changed;
    {
        std::lock_guard<std::mutex> hold(bankLock_);
        changed = takeDisplayChange(Side::Compiling);
    }
    if (changed) announceDisplay();
}

void Instrument::setProgram(int32_t program) {
    if (program < 0) return;
    currentProgram = program > kNumPrograms - 1 ? kNumPrograms - 1 : program;
}

void Instrument::publishNames() {
    for (int i = 0; i < kNumPrograms; ++i) names_.publish(i, programs[i].name);
}

void Instrument::storeFormula(int32_t index, const char* text, size_t length) {
    if (index < 0 || index >= kNumPrograms) return;
    ProgramSlot& slot = programs[index];
    length = std::min(length, sizeof slot.formula - 1);
    std::memcpy(slot.formula, text, length);
    slot.formula[length] = '\0';
    slot.needsCompile = true;
}

void Instrument::setProgramName(const char* name) { setProgramName(currentProgram.load(), name); }

void Instrument::setProgramName(int32_t index, const char* name) {
    if (!name || index < 0 || index >= kNumPrograms) return;
    std::lock_guard<std::mutex> hold(bankLock_);
    char* field = programs[index].name;
    std::strncpy(field, name, kNameSize);
    field[kNameSize - 1] = '\0';
    names_.publish(index, field);
}

void Instrument::programName(int32_t index, char* name, int size) const {
    if (!name || size <= 0) return;
    char published[kNameSize] = "";
    if (index >= 0 && index < kNumPrograms) names_.read(index, published);
    std::snprintf(name, static_cast<size_t>(size), "%s", published);
}

void Instrument::setSampleRate(double rate) {
    if (rate > 0.0) sampleRate_ = rate;
}

std::atomic<int32_t>& Instrument::settingField(Setting which) {
    switch (which) {
        case Setting::Poly: return polyphony;
        case Setting::Porta: return portamento;
        case Setting::Time: return timeScale;
        case Setting::Gain: return gain;
        case Setting::Lerp: return interpolate;
        case Setting::Clamp: return clampOutput;
        case Setting::ScopeZoom: return scopeZoom;
        case Setting::Mpe: return mpe;
        case Setting::Attack: return attack;
        case Setting::Release: return release;
        case Setting::DcFilter: return dcFilter;
        case Setting::Oversample: return oversample;
        case Setting::DrumKey: break;
    }
    return programs[currentProgram.load()].drumKey;
}

int32_t Instrument::setting(Setting which) const { return const_cast<Instrument&>(*this).settingField(which).load(); }

void Instrument::setSetting(Setting which, int32_t value) {
    const SettingInfo& info = settingInfo(which);
    if (value != info.defaultValue) value = std::clamp(value, info.lowest, info.highest);
    settingField(which) = value;
}

}  // namespace engine
