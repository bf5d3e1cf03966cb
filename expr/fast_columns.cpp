// The fast form over a column of samples. The accumulator is a column; an operand is a
// column (a variable that changes from sample to sample, or a spill slot) or one value for
// all samples (a constant, or a variable that holds still). Each instruction is one loop
// over the samples, which the compiler can keep in registers and often vectorize.
#include <algorithm>

#include "expression.h"
#include "intops.h"

namespace {

// An operand: its column, or else its one value.
struct Operand {
    const int64_t* column;
    int64_t value;
};

// out = in OP x for every sample, or x OP in when `reversed`. `out` is never a column
// an operand reads.
template <class F>
void combine(int64_t* out, const int64_t* in, int32_t count, const Operand& x, bool reversed, F f) {
    if (const int64_t* __restrict column = x.column) {
        if (reversed)
            for (int32_t i = 0; i < count; ++i) out[i] = f(column[i], in[i]);
        else
            for (int32_t i = 0; i < count; ++i) out[i] = f(in[i], column[i]);
    } else {
        const int64_t b = x.value;
        if (reversed)
            for (int32_t i = 0; i < count; ++i) out[i] = f(b, in[i]);
        else
            for (int32_t i = 0; i < count; ++i) out[i] = f(in[i], b);
    }
}

class ColumnRun {
public:
    ColumnRun(CompiledExpression& record, const int64_t* const* varying, int32_t count)
        : record_(record), varying_(varying), count_(count) {}

    // The record's spill slots, each given a column that starts as the slot is; false
    // when there are more than there are columns for.
    bool placeSpills() {
        const FastInstruction* ip = record_.fast + record_.shape.fast - 1;
        for (int32_t i = 0; i < record_.fastLength; ++i, --ip) {
            for (const int64_t* place : {static_cast<const int64_t*>(ip->slot), ip->operand, ip->other}) {
                if (!place || !isSlot(place) || spillOf(place) >= 0) continue;
                if (spillCount_ == kColumnSpills) return false;
                slots_[spillCount_] = static_cast<int32_t>(place - record_.valueStack);
                std::fill(spills_[spillCount_], spills_[spillCount_] + count_, *place);
                ++spillCount_;
            }
        }
        return true;
    }

    void run(int64_t* out) {
        const FastInstruction* ip = record_.fast + record_.shape.fast - 1;
        for (int32_t i = 0; i < record_.fastLength; ++i, --ip)
            if (instruction(*ip, out)) break;
        // As the last sample's run leaves the record.
        for (int32_t s = 0; s < spillCount_; ++s) record_.valueStack[slots_[s]] = spills_[s][count_ - 1];
        record_.valueStack[0] = out[count_ - 1];
        record_.valueTop = record_.fastDepth;
    }

private:
    // Runs one instruction; true when it was the return, with the values in `out`.
    bool instruction(const FastInstruction& in, int64_t* out) {
        using namespace intops;
        switch (in.op) {
            case kFastLoad: load(in); break;
            case kFastSpill: spill(in); break;
            case kFastSpillLoad:
                spill(in);
                load(in);
                break;
            case kFastNeg: transform([](int64_t a) { return neg(a); }); break;
            case kFastNot: transform([](int64_t a) { return truth(a == 0); }); break;
            case kFastBitNot: transform([](int64_t a) { return ~a; }); break;
            case kFastSelect: {
                const Operand x = operand(in.operand), y = operand(in.other);
                for (int32_t i = 0; i < count_; ++i)
                    acc_[i] = accAt_[i] != 0 ? (x.column ? x.column[i] : x.value) : (y.column ? y.column[i] : y.value);
                accAt_ = acc_;
                break;
            }
            case kFastDivPow2: transform([k = in.shift](int64_t a) { return divPow2(a, k); }); break;
            case kFastRemPow2: transform([k = in.shift](int64_t a) { return remPow2(a, k); }); break;
            case kFastDivMagic:
                transform([magic = in.magic, k = in.shift](int64_t a) { return divMagic(a, magic, k); });
                break;
            case kFastRemMagic:
                transform(
                    [magic = in.magic, k = in.shift, d = in.divisor](int64_t a) { return remMagic(a, magic, k, d); });
                break;
            case kFastReturn: std::copy(accAt_, accAt_ + count_, out); return true;
            case kFastReturnX:
                load(in);
                std::copy(accAt_, accAt_ + count_, out);
                return true;
            default: binary(in); break;
        }
        return false;
    }

    // The accumulator becomes the operand: a column is read where it is.
    void load(const FastInstruction& in) {
        const Operand x = operand(in.operand);
        if (x.column) {
            accAt_ = x.column;
        } else {
            std::fill(acc_, acc_ + count_, x.value);
            accAt_ = acc_;
        }
    }

    template <class F>
    void transform(F f) {
        int64_t* out = acc_;
        const int64_t* in = accAt_;
        for (int32_t i = 0, count = count_; i < count; ++i) out[i] = f(in[i]);
        accAt_ = acc_;
    }

    void binary(const FastInstruction& in) {
        using namespace intops;
        const int index = (in.op - kFastFirstBinary) / 2;
        const bool reversed = (in.op - kFastFirstBinary) % 2 == 1;
        const Operand x = operand(in.operand);
        const auto with = [&](auto f) {
            combine(acc_, accAt_, count_, x, reversed, f);
            accAt_ = acc_;
        };
        switch (kBinaryCodes[index]) {
            case kAdd: return with([](int64_t a, int64_t b) { return add(a, b); });
            case kSubtract: return with([](int64_t a, int64_t b) { return sub(a, b); });
            case kMultiply: return with([](int64_t a, int64_t b) { return mul(a, b); });
            case kDivide: return with([](int64_t a, int64_t b) { return intops::div(a, b); });
            case kRemainder: return with([](int64_t a, int64_t b) { return rem(a, b); });
            case kShiftLeft: return with([](int64_t a, int64_t b) { return shl(a, b); });
            case kShiftRight: return with([](int64_t a, int64_t b) { return shr(a, b); });
            case kLess: return with([](int64_t a, int64_t b) { return truth(a < b); });
            case kGreater: return with([](int64_t a, int64_t b) { return truth(a > b); });
            case kLessEqual: return with([](int64_t a, int64_t b) { return truth(a <= b); });
            case kGreaterEqual: return with([](int64_t a, int64_t b) { return truth(a >= b); });
            case kEqual: return with([](int64_t a, int64_t b) { return truth(a == b); });
            case kNotEqual: return with([](int64_t a, int64_t b) { return truth(a != b); });
            case kBitAnd: return with([](int64_t a, int64_t b) { return a & b; });
            case kBitXor: return with([](int64_t a, int64_t b) { return a ^ b; });
            case kBitOr: return with([](int64_t a, int64_t b) { return a | b; });
            case kLogicalAnd: return with([](int64_t a, int64_t b) { return truth(a != 0 && b != 0); });
            case kLogicalOr: return with([](int64_t a, int64_t b) { return truth(a != 0 || b != 0); });
            default: return;
        }
    }

    void spill(const FastInstruction& in) {
        int64_t* column = spills_[spillOf(in.slot)];
        if (column != accAt_) std::copy(accAt_, accAt_ + count_, column);  // the slot it was loaded from holds it
    }

    Operand operand(const int64_t* place) const {
        if (place >= record_.variables && place < record_.variables + kVariableCount)
            if (const int64_t* column = varying_[place - record_.variables]) return {column, 0};
        if (isSlot(place)) return {spills_[spillOf(place)], 0};
        return {nullptr, *place};  // a constant in the instruction, or a variable that holds still
    }

    bool isSlot(const int64_t* place) const {
        return place >= record_.valueStack && place < record_.valueStack + record_.shape.values;
    }
    int32_t spillOf(const int64_t* place) const {
        for (int32_t s = 0; s < spillCount_; ++s)
            if (record_.valueStack + slots_[s] == place) return s;
        return -1;
    }

    CompiledExpression& record_;
    const int64_t* const* varying_;
    int32_t count_;
    int32_t spillCount_ = 0;
    int32_t slots_[kColumnSpills];
    int64_t spills_[kColumnSpills][kColumn];
    int64_t acc_[kColumn];         // where operations write the accumulator
    const int64_t* accAt_ = acc_;  // where it is: acc_, or the column it was loaded from
};

}  // namespace

bool runFastColumns(CompiledExpression& record, const int64_t* const varying[kVariableCount], int32_t count,
                    int64_t* out) {
    if (record.fastLength <= 0 || count < 1 || count > kColumn) return false;
    ColumnRun run(record, varying, count);
    if (!run.placeSpills()) return false;
    run.run(out);
    return true;
}
