#include "record_hand_over.h"

namespace engine {

// The code of record i lies under i in the area, that of its right side under i + kRecordCount.
RecordHandOver::RecordHandOver(const CodePages& codePages) : codeArena_(2 * kRecordCount, codePages) {
    for (int32_t& index : newest_) index = -1;
}

void RecordHandOver::recycle(CompiledExpression* record) {
    const int index = records_.indexOf(record);
    codeArena_.drop(index);
    codeArena_.drop(index + kRecordCount);
    records_.give(record);
}

void RecordHandOver::publish(Box& box, CompiledExpression* record) {
    const uintptr_t old = box.exchange(reinterpret_cast<uintptr_t>(record) | kFresh, std::memory_order_acq_rel);
    if (old) recycle(reinterpret_cast<CompiledExpression*>(old & ~kFresh));  // given back, or never taken
}

void RecordHandOver::collectGivenBack() {
    for (Program& program : programs_) {
        for (Box* box : {&program.walked, &program.edited}) {
            uintptr_t held = box->load(std::memory_order_acquire);
            // A fresh record stays until the audio thread takes it.
            if (held && !(held & kFresh) && box->compare_exchange_strong(held, 0, std::memory_order_acq_rel))
                recycle(reinterpret_cast<CompiledExpression*>(held));
        }
    }
}

CompiledExpression* RecordHandOver::take(int index, const CompiledExpression& compiled,
                                         const CompiledExpression* right) {
    CompiledExpression* record = records_.take(compiled, right);
    if (!record) return nullptr;
    if (newest_[index] >= 0) {  // older records are on their way out
        codeArena_.retire(newest_[index]);
        codeArena_.retire(newest_[index] + kRecordCount);
    }
    newest_[index] = records_.indexOf(record);
    codeArena_.install(*record, newest_[index]);  // a failed compilation gets no code
    if (record->right) codeArena_.install(*record->right, newest_[index] + kRecordCount);
    return record;
}

void RecordHandOver::sealCode() { codeArena_.seal(); }

void RecordHandOver::offer(int index, CompiledExpression* record) { publish(programs_[index].edited, record); }

bool RecordHandOver::isMarked(int index) const {
    const Program& program = programs_[index];
    return program.marked || (program.edited.load() & kFresh);
}

CompiledExpression& RecordHandOver::nextRecord(int index) {
    const uintptr_t walked = programs_[index].walked.load();
    return walked & kFresh ? *reinterpret_cast<CompiledExpression*>(walked & ~kFresh) : *playing_[index];
}

void RecordHandOver::adopt(int index, Box& box) {
    uintptr_t held = box.load(std::memory_order_acquire);
    if (!(held & kFresh)) return;
    CompiledExpression* old = playing_[index];
    // Slot 0 carries over: a formula that fails or pushes nothing yields the last result,
    // on each side.
    const int64_t lastResult = old ? old->valueStack[0] : 0;
    const int64_t lastRight = old && old->right ? old->right->valueStack[0] : lastResult;
    // The compiling side may put a newer record in at the same moment: then this one is
    // taken at the next look, never waited for.
    if (!box.compare_exchange_strong(held, reinterpret_cast<uintptr_t>(old), std::memory_order_acq_rel)) return;
    playing_[index] = reinterpret_cast<CompiledExpression*>(held & ~kFresh);
    playing_[index]->valueStack[0] = lastResult;
    if (playing_[index]->right) playing_[index]->right->valueStack[0] = lastRight;
}

void RecordHandOver::adoptWalked() {
    for (int i = 0; i < kPrograms; ++i) adopt(i, programs_[i].walked);
}

void RecordHandOver::walkOnAudioThread() {
    for (int i = 0; i < kPrograms; ++i) {
        Program& program = programs_[i];
        adopt(i, program.walked);  // older than what `edited` holds
        const bool marked = program.marked.exchange(false);
        if (!(program.edited.load(std::memory_order_acquire) & kFresh) && !marked) continue;
        adopt(i, program.edited);
        if (!playing_[i]->isCompiled()) return;
    }
}

}  // namespace engine
