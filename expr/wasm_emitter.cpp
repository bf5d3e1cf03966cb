// Formulas as WebAssembly, where the instrument itself runs as WebAssembly. Each record's
// fast form becomes two modules, each with one function "f" over the instrument's memory
// (imported as env.memory): the formula alone, a function of the record's address that
// returns its value and leaves slot 0 and the stack count as the interpreter does; and
// the formula inside a voice's loop over a stretch (VoiceStretch, formula_code.h). The
// host compiles each module and puts its function into the instrument's table
// (code_arena.cpp).
//
// The language's special cases (division by 0 and -1, shift counts past 63, conversions
// out of range) are written out, so no operation can trap. Every memory access is at the
// record's address plus an offset the emitter checks against the record's size, or at a
// field of the stretch, a frame of its mix below its count, or a byte of its sine table.
#if defined(__wasm__)

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "expression.h"
#include "formula_code.h"
#include "intops.h"

namespace {

using Local = uint8_t;        // a local's index
constexpr Local kRecord = 0;  // the first parameter

// The opcodes used, by their names in the WebAssembly text format.
enum Op : uint8_t {
    kBlock = 0x02,
    kLoop = 0x03,
    kIf = 0x04,
    kElse = 0x05,
    kEnd = 0x0B,
    kBrIf = 0x0D,
    kReturn = 0x0F,
    kSelect = 0x1B,
    kLocalGet = 0x20,
    kLocalSet = 0x21,
    kLocalTee = 0x22,
    kI32Load = 0x28,
    kI64Load = 0x29,
    kF32Load = 0x2A,
    kF64Load = 0x2B,
    kI32Load8U = 0x2D,
    kI32Store = 0x36,
    kI64Store = 0x37,
    kF32Store = 0x38,
    kF64Store = 0x39,
    kI32Const = 0x41,
    kI64Const = 0x42,
    kF32Const = 0x43,
    kI32Eqz = 0x45,
    kI32LtS = 0x48,
    kI32GeS = 0x4E,
    kI64Eqz = 0x50,
    kI64Eq = 0x51,
    kI64Ne = 0x52,
    kI64LtS = 0x53,
    kI64GtS = 0x55,
    kI64LeS = 0x57,
    kI64LeU = 0x58,
    kI64GeS = 0x59,
    kI32Add = 0x6A,
    kI32Mul = 0x6C,
    kI32And = 0x71,
    kI32Or = 0x72,
    kI32Shl = 0x74,
    kI32ShrU = 0x76,
    kI64Add = 0x7C,
    kI64Sub = 0x7D,
    kI64Mul = 0x7E,
    kI64DivS = 0x7F,
    kI64RemS = 0x81,
    kI64And = 0x83,
    kI64Or = 0x84,
    kI64Xor = 0x85,
    kI64Shl = 0x86,
    kI64ShrS = 0x87,
    kF32Add = 0x92,
    kF32Mul = 0x94,
    kF64Add = 0xA0,
    kF64Sub = 0xA1,
    kF64Mul = 0xA2,
    kI32WrapI64 = 0xA7,
    kI64ExtendI32U = 0xAD,
    kI64TruncF64S = 0xB0,
    kF32ConvertI64S = 0xB4,
    kF64ConvertI64S = 0xB9,
    kSaturating = 0xFC,  // followed by 6: i64.trunc_sat_f64_s
};
constexpr uint8_t kI32 = 0x7F, kI64 = 0x7E, kF64 = 0x7C, kEmpty = 0x40;

// A module around one function's body, of (i32) -> i64 or (i32, i32) -> (). Section and
// body sizes are written as padded five-byte numbers, set once the body is done.
constexpr uint8_t kMagic[] = {0x00, 0x61, 0x73, 0x6D, 0x01, 0x00, 0x00, 0x00};  // "\0asm", version 1
constexpr uint8_t kFormulaType[] = {0x01, 0x06, 0x01, 0x60, 0x01, kI32, 0x01, kI64};
constexpr uint8_t kStretchType[] = {0x01, 0x06, 0x01, 0x60, 0x02, kI32, kI32, 0x00};
constexpr uint8_t kModuleRest[] = {
    0x02, 0x0F, 0x01, 0x03, 'e', 'n',  'v',  0x06, 'm', 'e', 'm', 'o', 'r', 'y', 0x02, 0x00, 0x00,  // env.memory
    0x03, 0x02, 0x01, 0x00,                   // one function of type 0
    0x07, 0x05, 0x01, 0x01, 'f', 0x00, 0x00,  // exported as "f"
};

class Emitter {
public:
    Emitter(const CompiledExpression& record, uint8_t* out, size_t capacity)
        : record_(record), out_(out), capacity_(capacity) {}

    // The formula alone: locals 1 and 2 the accumulator and an operand.
    size_t formulaModule() {
        acc_ = 1;
        x_ = 2;
        const size_t body = begin(kFormulaType, sizeof kFormulaType);
        byte(1), byte(2), byte(kI64);  // locals: two i64
        formula(true);
        return end(body);
    }

    // The voice's loop over a stretch: parameter 1 the stretch; the locals below.
    size_t stretchModule() {
        enum : Local { kStretch = 1, kAcc = 2, kX, kPhase, kTime, kHeld, kGain };  // i64 from kAcc
        enum : Local { kFrame = 8, kFrames, kRandom, kMultiplier, kIncrement, kMix, kTable, kLerp, kClamp, kAt };
        enum : Local { kPhaseFrac = 18, kPhaseStep, kTimeFrac, kTimeStep };
        acc_ = kAcc;
        x_ = kX;
        const uint64_t read = variablesRead(record_);
        const auto reads = [&](auto variable) { return (read & readBit(variable)) != 0; };
        const size_t body = begin(kStretchType, sizeof kStretchType);
        byte(3), byte(6), byte(kI64), byte(10), byte(kI32), byte(4), byte(kF64);  // locals

        const auto field = [&](uint8_t op, uint32_t offset, Local into) {
            get(kStretch), memory(op, offset), set(into);
        };
        field(kF64Load, offsetof(VoiceStretch, phaseFrac), kPhaseFrac);
        field(kF64Load, offsetof(VoiceStretch, phaseStep), kPhaseStep);
        field(kF64Load, offsetof(VoiceStretch, timeFrac), kTimeFrac);
        field(kF64Load, offsetof(VoiceStretch, timeStep), kTimeStep);
        field(kI64Load, offsetof(VoiceStretch, phase), kPhase);
        field(kI64Load, offsetof(VoiceStretch, time), kTime);
        field(kI64Load, offsetof(VoiceStretch, gain), kGain);
        field(kI32Load, offsetof(VoiceStretch, mix), kMix);
        field(kI32Load, offsetof(VoiceStretch, sineTable), kTable);
        field(kI32Load, offsetof(VoiceStretch, random), kRandom);
        field(kI32Load, offsetof(VoiceStretch, randomMultiplier), kMultiplier);
        field(kI32Load, offsetof(VoiceStretch, randomIncrement), kIncrement);
        field(kI32Load, offsetof(VoiceStretch, frames), kFrames);
        field(kI32Load8U, offsetof(VoiceStretch, lerp), kLerp);
        field(kI32Load8U, offsetof(VoiceStretch, clamp), kClamp);
        byte(kBlock), byte(kEmpty);
        get(kFrame), get(kFrames), byte(kI32GeS), byte(kBrIf), byte(0);  // no frames: done
        byte(kLoop), byte(kEmpty);

        // A counter's fraction moves its whole part (below 2^52, so the truncation) out.
        const auto count = [&](Local frac, Local step, Local counter) {
            get(frac), get(step), byte(kF64Add), tee(frac), byte(kI64TruncF64S), set(x_);
            get(frac), get(x_), byte(kF64ConvertI64S), byte(kF64Sub), set(frac);
            get(counter), get(x_), byte(kI64Add), set(counter);
        };
        const auto setVariable = [&](char letter, Local from) { address(), get(from), variable(letter); };
        count(kPhaseFrac, kPhaseStep, kPhase);
        setVariable('P', kPhase);
        count(kTimeFrac, kTimeStep, kTime);
        setVariable('T', kTime);
        if (reads('R')) {
            address(), get(kRandom), i32(16), byte(kI32ShrU), i32(0x7FFF), byte(kI32And), byte(kI64ExtendI32U);
            variable('R');
            get(kRandom), get(kMultiplier), byte(kI32Mul), get(kIncrement), byte(kI32Add), set(kRandom);
        }
        // beat and bar: the frame's entry of their columns.
        for (const auto& [w, offset] : {std::pair{Word::Beat, offsetof(VoiceStretch, beats)},
                                        std::pair{Word::Bar, offsetof(VoiceStretch, bars)}}) {
            if (!reads(w)) continue;
            address(), get(kStretch), memory(kI32Load, static_cast<uint32_t>(offset)), get(kFrame), i32(3),
                byte(kI32Shl), byte(kI32Add), memory(kI64Load, 0);
            memory(kI64Store, offsetOf(&record_.variables[26 + static_cast<int>(w)]));
        }
        // S and C: the phase with its low byte replaced by the table's entry at it plus `shift`.
        const auto sines = [&](int32_t shift) {
            for (const auto& [letter, offset] : {std::pair{'S', 0}, std::pair{'C', 64}}) {
                if (!reads(letter)) continue;
                address(), get(kPhase), constant(-256), byte(kI64And);
                get(kTable), get(kPhase), byte(kI32WrapI64), i32(shift + offset), byte(kI32Add), i32(255),
                    byte(kI32And), byte(kI32Add), memory(kI32Load8U, 0), byte(kI64ExtendI32U), byte(kI64Add);
                variable(letter);
            }
        };
        sines(0);
        formula(false);

        // Lerp: the reading at P + 1, blended with the first by the phase fraction, the sum
        // converted as the instrument converts it (out of range to the nearer end).
        get(kLerp), byte(kIf), byte(kEmpty);
        get(acc_), set(kHeld);
        address(), get(kPhase), constant(1), byte(kI64Add), variable('P');
        sines(1);
        formula(false);
        get(acc_), get(kHeld), byte(kI64Sub), byte(kF64ConvertI64S), get(kPhaseFrac), byte(kF64Mul);
        get(kHeld), byte(kF64ConvertI64S), byte(kF64Add), byte(kSaturating), byte(6), set(acc_);
        byte(kEnd);

        // The shape: clamped to -256..256, or masked to a byte.
        get(kClamp), byte(kIf), byte(kEmpty);
        constant(-256), get(acc_), get(acc_), constant(-256), byte(kI64LtS), byte(kSelect), set(acc_);
        constant(256), get(acc_), get(acc_), constant(256), byte(kI64GtS), byte(kSelect), set(acc_);
        byte(kElse);
        get(acc_), constant(255), byte(kI64And), set(acc_);
        byte(kEnd);
        // mix[i] += (value * gain / 100) / 256
        get(kMix), get(kFrame), i32(2), byte(kI32Shl), byte(kI32Add), tee(kAt);
        get(kAt), memory(kF32Load, 0);
        get(acc_), get(kGain), byte(kI64Mul), constant(100), byte(kI64DivS), byte(kF32ConvertI64S);
        byte(kF32Const), byte(0x00), byte(0x00), byte(0x80), byte(0x3B), byte(kF32Mul);  // 1/256
        byte(kF32Add), memory(kF32Store, 0);
        get(kFrame), i32(1), byte(kI32Add), tee(kFrame), get(kFrames), byte(kI32LtS), byte(kBrIf), byte(0);
        byte(kEnd), byte(kEnd);  // loop, block

        get(kStretch), get(kPhase), memory(kI64Store, offsetof(VoiceStretch, phase));
        get(kStretch), get(kTime), memory(kI64Store, offsetof(VoiceStretch, time));
        get(kStretch), get(kPhaseFrac), memory(kF64Store, offsetof(VoiceStretch, phaseFrac));
        get(kStretch), get(kTimeFrac), memory(kF64Store, offsetof(VoiceStretch, timeFrac));
        return formulas_ == 2 ? end(body) : 0;
    }

private:
    // The module up to the function's locals; returns where the body's size goes.
    size_t begin(const uint8_t* type, size_t typeBytes) {
        bytes(kMagic, sizeof kMagic);
        bytes(type, typeBytes);
        bytes(kModuleRest, sizeof kModuleRest);
        byte(0x0A);  // code
        sectionSize_ = size_;
        padded(0);
        byte(1);  // one body
        const size_t bodySize = size_;
        padded(0);
        return bodySize;
    }
    // Ends the body and the module; returns the module's size, 0 when it failed.
    size_t end(size_t bodySize) {
        byte(kEnd);
        if (!ok_) return 0;
        setPadded(sectionSize_, size_ - sectionSize_ - 5);
        setPadded(bodySize, size_ - bodySize - 5);
        return size_;
    }

    // The formula's instructions, the value in the accumulator; `returns` ends them in the
    // function's return. Either way they end in their one finish.
    void formula(bool returns) {
        returns_ = 0;
        returning_ = returns;
        const FastInstruction* ip = record_.fast + record_.shape.fast - 1;
        for (int i = 0; i < record_.fastLength && ok_; ++i, --ip) instruction(*ip);
        if (returns_ != 1 || returnEnd_ != size_) fail();
        ++formulas_;
    }

    void instruction(const FastInstruction& in) {
        switch (in.op) {
            case kFastLoad: return load(in, in.operand, acc_);
            case kFastSpill: return store(in.slot);
            case kFastSpillLoad: store(in.slot); return load(in, in.operand, acc_);
            case kFastNeg: byte(kI64Const), byte(0), get(acc_), byte(kI64Sub); return set(acc_);
            case kFastNot: get(acc_), byte(kI64Eqz), byte(kI64ExtendI32U); return set(acc_);
            case kFastBitNot: get(acc_), byte(kI64Const), byte(0x7F), byte(kI64Xor); return set(acc_);
            case kFastSelect:
                push(in, in.operand), push(in, in.other), get(acc_), byte(kI64Eqz), byte(kI32Eqz), byte(kSelect);
                return set(acc_);
            case kFastDivPow2:
            case kFastRemPow2:
                if (in.shift < 1 || in.shift > 62) return fail();
                return byConstant(in.op == kFastDivPow2 ? kI64DivS : kI64RemS, int64_t{1} << in.shift);
            case kFastDivMagic: return byConstant(kI64DivS, in.divisor);
            case kFastRemMagic: return byConstant(kI64RemS, in.divisor);
            case kFastReturn: return finish();
            case kFastReturnX: load(in, in.operand, acc_); return finish();
            default: return binaryInstruction(in);
        }
    }

    void binaryInstruction(const FastInstruction& in) {
        if (in.op < kFastFirstBinary || in.op >= kFastOpCount) return fail();
        const int index = (in.op - kFastFirstBinary) / 2;
        const bool reversed = (in.op - kFastFirstBinary) % 2 == 1;  // x OP acc
        load(in, in.operand, x_);
        binary(intops::kBinaryCodes[index], reversed ? x_ : acc_, reversed ? acc_ : x_);
        set(acc_);
    }

    // Pushes a OP b, as the language's operator functions compute it.
    void binary(uint8_t code, Local a, Local b) {
        const auto simple = [&](uint8_t op) { get(a), get(b), byte(op); };
        const auto truth = [&](uint8_t op) { simple(op), byte(kI64ExtendI32U); };
        switch (code) {
            case kAdd: return simple(kI64Add);
            case kSubtract: return simple(kI64Sub);
            case kMultiply: return simple(kI64Mul);
            case kBitAnd: return simple(kI64And);
            case kBitXor: return simple(kI64Xor);
            case kBitOr: return simple(kI64Or);
            case kShiftLeft: return simple(kI64Shl);  // the machine, like the language, counts b & 63
            case kShiftRight: return simple(kI64ShrS);
            case kLess: return truth(kI64LtS);
            case kGreater: return truth(kI64GtS);
            case kLessEqual: return truth(kI64LeS);
            case kGreaterEqual: return truth(kI64GeS);
            case kEqual: return truth(kI64Eq);
            case kNotEqual: return truth(kI64Ne);
            case kLogicalAnd:
                get(a), byte(kI64Eqz), get(b), byte(kI64Eqz), byte(kI32Or);
                return byte(kI32Eqz), byte(kI64ExtendI32U);
            case kLogicalOr: get(a), get(b), byte(kI64Or), byte(kI64Eqz), byte(kI32Eqz); return byte(kI64ExtendI32U);
            case kDivide:
                // b == 0 ? a : b == -1 ? 0 - a : a / b
                get(b), byte(kI64Eqz), byte(kIf), byte(kI64), get(a), byte(kElse);
                get(b), constant(-1), byte(kI64Eq), byte(kIf), byte(kI64), constant(0), get(a), byte(kI64Sub);
                byte(kElse), simple(kI64DivS), byte(kEnd);
                return byte(kEnd);
            case kRemainder:
                // b + 1 <= 1 (unsigned), that is b is 0 or -1: 0; else a % b
                get(b), constant(1), byte(kI64Add), constant(1), byte(kI64LeU), byte(kIf), byte(kI64), constant(0);
                byte(kElse), simple(kI64RemS);
                return byte(kEnd);
            default: return fail();
        }
    }

    // acc = acc OP d for a divisor that is neither 0 nor -1, where the machine's
    // operation is the language's.
    void byConstant(uint8_t op, int64_t divisor) {
        if (divisor == 0 || divisor == -1) return fail();
        get(acc_), constant(divisor), byte(op), set(acc_);
    }

    // Slot 0 and the stack count as the interpreter leaves them, then return the value
    // when the formula is the function.
    void finish() {
        ++returns_;
        address(), get(acc_), memory(kI64Store, offsetOf(&record_.valueStack[0]));
        address(), i32(record_.fastDepth), memory(kI32Store, offsetOf(&record_.valueTop));
        if (returning_) get(acc_), byte(kReturn);
        returnEnd_ = size_;
    }

    // Pushes an operand: a constant, or a place in the record.
    void push(const FastInstruction& in, const int64_t* operand) {
        if (!operand) return fail();
        if (operand == &in.constant) return constant(in.constant);
        if (operand == &in.magic) return constant(in.magic);
        address(), memory(kI64Load, offsetOf(operand));
    }
    void load(const FastInstruction& in, const int64_t* operand, Local into) { push(in, operand), set(into); }
    void store(const int64_t* slot) {
        if (!slot) return fail();
        address(), get(acc_), memory(kI64Store, offsetOf(slot));
    }

    void address() { get(kRecord); }
    void variable(char letter) { memory(kI64Store, offsetOf(&record_.variables[letter - 'A'])); }
    void tee(Local local) { byte(kLocalTee), byte(local); }
    void i32(int32_t value) { byte(kI32Const), signedNumber(value); }
    void get(Local local) { byte(kLocalGet), byte(local); }
    void set(Local local) { byte(kLocalSet), byte(local); }
    void constant(int64_t value) { byte(kI64Const), signedNumber(value); }
    // A load or store with its natural alignment.
    void memory(uint8_t op, uint32_t offset) {
        const uint8_t alignment = op == kI32Load8U                                                         ? 0
                                  : op == kI32Load || op == kI32Store || op == kF32Load || op == kF32Store ? 2
                                                                                                           : 3;
        byte(op), byte(alignment), unsignedNumber(offset);
    }

    // The offset of a place inside the record; an address outside it ends the emission.
    uint32_t offsetOf(const void* place) {
        const auto at = reinterpret_cast<uintptr_t>(place), base = reinterpret_cast<uintptr_t>(&record_);
        if (at < base || at + sizeof(int64_t) > base + record_.bytes) fail();
        return static_cast<uint32_t>(at - base);
    }

    // LEB128, as WebAssembly writes numbers.
    void signedNumber(int64_t value) {
        for (bool more = true; more;) {
            const auto low = static_cast<uint8_t>(value & 0x7F);
            value >>= 7;
            more = !((value == 0 && !(low & 0x40)) || (value == -1 && (low & 0x40)));
            byte(more ? low | 0x80 : low);
        }
    }
    void unsignedNumber(uint32_t value) {
        do {
            const auto low = static_cast<uint8_t>(value & 0x7F);
            value >>= 7;
            byte(value ? low | 0x80 : low);
        } while (value);
    }
    void padded(uint32_t value) {
        for (int i = 0; i < 5; ++i) byte(static_cast<uint8_t>((value >> (7 * i) & 0x7F) | (i < 4 ? 0x80 : 0)));
    }
    void setPadded(size_t at, size_t value) {
        const size_t end = size_;
        size_ = at;
        padded(static_cast<uint32_t>(value));
        size_ = end;
    }

    void fail() { ok_ = false; }
    void bytes(const uint8_t* list, size_t count) {
        for (size_t i = 0; i < count; ++i) byte(list[i]);
    }
    void byte(uint8_t b) {
        if (size_ >= capacity_) return fail();
        out_[size_++] = b;
    }

    const CompiledExpression& record_;
    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
    size_t sectionSize_ = 0;  // where the code section's size goes
    size_t returnEnd_ = 0;
    int returns_ = 0;
    int formulas_ = 0;
    bool returning_ = true;
    bool ok_ = true;
    Local acc_ = 1, x_ = 2;  // the accumulator's local, and an operand's
};

}  // namespace

size_t emitFormulaCode(const CompiledExpression& record, uint8_t* out, size_t capacity, size_t* stretchAt) {
    *stretchAt = 0;
    if (record.fastLength <= 0) return 0;
    const size_t alone = Emitter(record, out, capacity).formulaModule();
    if (alone == 0 || alone > kMaxStretchedBytes) return alone;
    const size_t loop = Emitter(record, out + alone, capacity - alone).stretchModule();
    if (loop == 0) return alone;
    *stretchAt = alone;
    return alone + loop;
}

size_t emitVoiceLoop(uint8_t*, size_t) { return 0; }  // each formula has a loop of its own

#endif
