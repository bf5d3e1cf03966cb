// Translation of a compiled queue into the accumulator machine of fast_code.h.
#include <cstring>

#include "expression.h"
#include "intops.h"

namespace {

// What the interpreter's value stack would hold at one depth, known at compile time.
struct Operand {
    enum Kind : int32_t { Accumulator, Slot, Variable, Constant };
    int64_t value;  // of a constant
    Kind kind;
    int32_t index;  // of a slot or variable
};

const void* handlerOf(int op) {
    static const void* const* table = fastHandlerTable();
    return table[op];
}

// Signed division by a constant d >= 3 that is not a power of two, as a multiplication
// by a magic number (Hacker's Delight, 10-1, for 64 bits).
void magicOf(int64_t d, int64_t& magic, int32_t& shift) {
    const uint64_t two63 = uint64_t{1} << 63;
    const auto ad = static_cast<uint64_t>(d);
    const uint64_t anc = two63 - 1 - two63 % ad;
    int p = 63;
    uint64_t q1 = two63 / anc, r1 = two63 - q1 * anc;
    uint64_t q2 = two63 / ad, r2 = two63 - q2 * ad;
    uint64_t delta;
    do {
        ++p;
        q1 *= 2, r1 *= 2;
        if (r1 >= anc) ++q1, r1 -= anc;
        q2 *= 2, r2 *= 2;
        if (r2 >= ad) ++q2, r2 -= ad;
        delta = ad - r2;
    } while (q1 < delta || (q1 == delta && r1 == 0));
    magic = static_cast<int64_t>(q2 + 1);
    shift = p - 64;
}

class Translator {
public:
    explicit Translator(CompiledExpression& r) : r_(r) {}

    // False when the queue keeps the interpreter.
    bool run() {
        for (const RpnItem* item = r_.queue + 1; item->kind != kEnd; ++item) {
            if (!step(*item)) return false;
        }
        if (depth_ == 0) return false;  // an empty run yields the last result: the interpreter's job
        const Operand bottom = at(0);
        if (bottom.kind == Operand::Accumulator) return emit(kFastReturn);
        FastInstruction* ret = emit(kFastReturnX);
        return ret && point(*ret, bottom);
    }
    int depth() const { return depth_; }
    int length() const { return length_; }

private:
    // The operand stack lives in the compiler's operator stack, which is empty once a
    // compilation has succeeded: no allocation, nothing more in the record.
    Operand at(int i) const {
        Operand o;
        std::memcpy(&o, r_.operatorStack + i * sizeof(Operand), sizeof o);
        return o;
    }
    void put(int i, const Operand& o) { std::memcpy(r_.operatorStack + i * sizeof(Operand), &o, sizeof o); }
    bool push(const Operand& o) {
        if (depth_ >= r_.shape.operators / static_cast<int>(sizeof(Operand))) return false;
        // Only the top can be the accumulator: a new value on top of it spills it.
        if (depth_ > 0 && at(depth_ - 1).kind == Operand::Accumulator && !spill(depth_ - 1)) return false;
        put(depth_++, o);
        return true;
    }
    bool spill(int i) {
        FastInstruction* in = i < r_.shape.values ? emit(kFastSpill) : nullptr;
        if (!in) return false;
        in->slot = &r_.valueStack[i];
        put(i, {0, Operand::Slot, i});
        return true;
    }
    FastInstruction* emit(int op) {
        if (length_ >= r_.shape.fast) return nullptr;
        FastInstruction& in = r_.fast[r_.shape.fast - 1 - length_++];
        in = FastInstruction{handlerOf(op), nullptr, nullptr, nullptr, 0, 0, 0, 0, static_cast<uint8_t>(op)};
        return &in;
    }
    FastInstruction* previous() { return length_ > 0 ? &r_.fast[r_.shape.fast - length_] : nullptr; }
    void retag(FastInstruction& in, int op) {
        in.op = static_cast<uint8_t>(op);
        in.handler = handlerOf(op);
    }
    // Makes the instruction's operand (or, with `second`, its other operand) read `o`.
    bool point(FastInstruction& in, const Operand& o, bool second = false) {
        const int64_t*& target = second ? in.other : in.operand;
        switch (o.kind) {
            case Operand::Slot: target = &r_.valueStack[o.index]; break;
            case Operand::Variable: target = &r_.variables[o.index]; break;
            case Operand::Constant:
                (second ? in.magic : in.constant) = o.value;
                target = second ? &in.magic : &in.constant;
                break;
            case Operand::Accumulator: return false;
        }
        return true;
    }
    bool load(const Operand& o) {
        if (o.kind == Operand::Accumulator) return true;
        // A load right after a spill joins it.
        FastInstruction* last = previous();
        if (last && last->op == kFastSpill) {
            retag(*last, kFastSpillLoad);
            return point(*last, o);
        }
        FastInstruction* in = emit(kFastLoad);
        return in && point(*in, o);
    }

    bool step(const RpnItem& item) {
        const uint8_t kind = item.kind;
        if (kind == kNumber) return push({item.value, Operand::Constant, 0});
        if (isVariable(kind)) return push({0, Operand::Variable, variableIndex(kind)});
        if (kind == kThen) return true;
        if (intops::isUnary(kind)) {
            if (depth_ < 1) return false;
            const Operand v = at(depth_ - 1);
            if (v.kind == Operand::Constant) {
                put(depth_ - 1, {intops::unary(kind, v.value), Operand::Constant, 0});
                return true;
            }
            if (!load(v)) return false;
            put(depth_ - 1, {0, Operand::Accumulator, 0});
            return emit(kind == kNegate ? kFastNeg : kind == kLogicalNot ? kFastNot : kFastBitNot) != nullptr;
        }
        if (kind == kElse) return conditional();
        return binaryOperator(kind);
    }

    bool conditional() {
        if (depth_ < 3) return false;
        if (at(depth_ - 1).kind == Operand::Accumulator && !spill(depth_ - 1)) return false;
        const Operand otherwise = at(depth_ - 1), then = at(depth_ - 2), condition = at(depth_ - 3);
        depth_ -= 2;
        if (condition.kind == Operand::Constant) {
            const Operand chosen = condition.value != 0 ? then : otherwise;
            // A spilled value keeps its slot only at its own depth: a later spill at that
            // depth would overwrite it. Elsewhere it comes back into the accumulator.
            if (chosen.kind == Operand::Slot && chosen.index != depth_ - 1) {
                if (!load(chosen)) return false;
                put(depth_ - 1, {0, Operand::Accumulator, 0});
            } else {
                put(depth_ - 1, chosen);
            }
            return true;
        }
        if (!load(condition)) return false;
        FastInstruction* in = emit(kFastSelect);
        if (!in || !point(*in, then) || !point(*in, otherwise, true)) return false;
        put(depth_ - 1, {0, Operand::Accumulator, 0});
        return true;
    }

    bool binaryOperator(uint8_t code) {
        if (depth_ < 2) return false;
        const Operand b = at(depth_ - 1), a = at(depth_ - 2);
        --depth_;
        if (a.kind == Operand::Constant && b.kind == Operand::Constant) {
            put(depth_ - 1, {intops::binary(code, a.value, b.value), Operand::Constant, 0});
            return true;
        }
        int index = 0;
        while (intops::kBinaryCodes[index] != code) ++index;
        FastInstruction* in = nullptr;
        if (b.kind == Operand::Accumulator) {
            in = emit(kFastFirstBinary + 2 * index + 1);  // acc = a OP acc
            if (!in || !point(*in, a)) return false;
        } else {
            if (!load(a)) return false;
            const bool byConstant =
                b.kind == Operand::Constant && b.value >= 2 && (code == kDivide || code == kRemainder);
            if (byConstant && (b.value & (b.value - 1)) == 0) {
                in = emit(code == kDivide ? kFastDivPow2 : kFastRemPow2);
                if (!in) return false;
                while ((int64_t{1} << in->shift) != b.value) ++in->shift;
            } else if (byConstant && b.value >= 3) {
                in = emit(code == kDivide ? kFastDivMagic : kFastRemMagic);
                if (!in) return false;
                magicOf(b.value, in->magic, in->shift);
                in->divisor = b.value;
            } else {
                in = emit(kFastFirstBinary + 2 * index);  // acc = acc OP b
                if (!in || !point(*in, b)) return false;
            }
        }
        put(depth_ - 1, {0, Operand::Accumulator, 0});
        return true;
    }

    CompiledExpression& r_;
    int depth_ = 0;
    int length_ = 0;
};

}  // namespace

void translateFast(CompiledExpression& record) {
    record.fastLength = 0;
    Translator translator(record);
    if (!translator.run()) return;
    record.fastDepth = translator.depth();
    record.fastLength = translator.length();
}
