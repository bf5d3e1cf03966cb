// The program bank: each input is a sequence of formula edits (short formulas, long ones
// whose code fills pages, formulas that fail, empty ones), program selections,
// compilation walks on the editor's side, and blocks with MIDI program changes that walk
// on the audio thread's. After every walk and block, every program's record must give
// on each of its paths what the plain interpreter gives, and only a compiled record may
// have machine code. Stale code kept through a failed compilation or a record handed
// over twice shows here.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "engine/instrument.h"
#include "tests/every_path.h"
#include "tests/instrument_probe.h"

namespace {

constexpr int kPrograms = 8;  // the bank's first programs; the others stay as they are

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::string formulaFrom(Input& in) {
    static const char* const tokens[] = {"P", "T", "V", "R", "S", "C", "1",  "3",  "7", "256", "1000", "+", "-",
                                         "*", "/", "%", "&", "^", "|", "<<", ">>", "?", ":",   "(",    ")"};
    std::string text;
    switch (in.next() % 4) {
        case 0:  // short, from tokens
            for (int n = in.next() % 16; n >= 0; --n) text += tokens[in.next() % (sizeof tokens / sizeof tokens[0])];
            break;
        case 1: {  // long: kilobytes of code
            text = "P";
            for (int n = 4 * in.next(); n > 0 && text.size() < 1000; --n) text += "^T";
            text += '^';
            text += std::to_string(in.next());
            break;
        }
        case 2:  // does not compile
            text = "P+(";
            text += std::to_string(in.next());
            break;
        default: break;  // empty
    }
    return text;
}

void checkEveryProgram(engine::Instrument& synth) {
    static int64_t step = 0;
    for (int i = 0; i < kPrograms; ++i) {
        CompiledExpression& record = synth.programRecord(i);
        if (record.compiledFormula && !record.isCompiled()) std::abort();
        record.variable('P') = ++step * 37 % 5000;
        record.variable('T') = step * 101 % 70000;
        const auto runs = runOnEveryPath(record);
        if (runs[kMachineCode] != runs[kInterpreter] || runs[kFastForm] != runs[kInterpreter]) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static engine::Instrument* synth = new engine::Instrument;
    std::lock_guard<std::mutex> hold(synth->bankLock());
    for (int i = 0; i < kPrograms; ++i) {
        std::snprintf(inside(*synth).programs[i].formula, kFormulaSize, "P&255");
        inside(*synth).programs[i].needsCompile = true;
    }
    inside(*synth).currentProgram = 0;
    synth->compileDirtyPrograms();

    Input in(data, size);
    while (in.more()) {
        const uint8_t op = in.next();
        engine::ProgramSlot& slot = inside(*synth).programs[(op >> 3) % kPrograms];
        switch (op & 7) {
            case 0:
            case 1:
            case 2:
                std::snprintf(slot.formula, kFormulaSize, "%s", formulaFrom(in).c_str());
                slot.needsCompile = true;
                break;
            case 3: inside(*synth).currentProgram = (op >> 3) % kPrograms; break;
            case 4:
            case 5:
                synth->compileDirtyPrograms();
                checkEveryProgram(*synth);
                break;
            default: {  // a block, with a MIDI program change (the audio thread's walk) or without
                if ((op & 7) == 6) synth->queueMidi(0xC0, (op >> 3) % kPrograms, 0, 0);
                float left[8], right[8];
                synth->render(left, right, 8);
                checkEveryProgram(*synth);
                break;
            }
        }
    }
    return 0;
}
