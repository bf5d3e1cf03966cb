// The x86-64 patterns of the fast form's instructions, and the voice's loop around them.
// Registers: rax the accumulator, rcx and rdx the operands and scratch, r9 the record; in
// the loop r8 the stretch, r10 the frame, r11 the phase, xmm0..xmm3 the fractions and
// their steps, xmm4 and xmm5 scratch. All of them are free for a called function in both
// the System V and the Windows conventions. A formula's code touches no stack, and the
// loop's call into it pushes only its return address, so every frame is a leaf to an
// unwinder and needs no unwind information.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "expression.h"
#include "formula_code.h"
#include "intops.h"

#if defined(__x86_64__) || defined(_M_X64)

namespace {

enum Register : uint8_t { kRax = 0, kRcx = 1, kRdx = 2 };

// One operand of an instruction: a constant, a place in the record, or rcx.
struct Source {
    enum Kind { Constant, Place, Rcx } kind;
    int64_t value;  // the constant, or the place's offset in the record
};

// Code written into a buffer of `capacity` bytes; anything past it fails the writing.
class CodeWriter {
public:
    CodeWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

protected:
    // A landing place for the indirect call that runs the code, where the processor and
    // the system check them (Intel CET); a no-op elsewhere. Then the record into r9.
    void entry() {
        bytes({0xF3, 0x0F, 0x1E, 0xFA});  // endbr64
#ifdef _WIN32
        bytes({0x49, 0x89, 0xC9});  // mov r9, rcx
#else
        bytes({0x49, 0x89, 0xF9});  // mov r9, rdi
#endif
    }

    // A jump with a 32-bit distance that `land` sets; returns where the distance goes.
    size_t jump(std::initializer_list<uint8_t> opcode) {
        bytes(opcode);
        const size_t at = size_;
        word(0);
        return at;
    }
    void land(size_t at) {
        if (!ok_) return;
        const auto distance = static_cast<uint32_t>(size_ - (at + 4));
        std::memcpy(out_ + at, &distance, 4);
    }

    bool move(Register reg, int64_t value) {
        if (value == static_cast<int32_t>(value))  // mov reg, imm32 (sign-extended)
            return bytes({0x48, 0xC7, static_cast<uint8_t>(0xC0 | reg)}) && word(static_cast<uint32_t>(value));
        uint8_t bytes8[8];
        std::memcpy(bytes8, &value, 8);                                      // x86 is little-endian, as the code is
        if (!bytes({0x48, static_cast<uint8_t>(0xB8 | reg)})) return false;  // mov reg, imm64
        for (uint8_t b : bytes8)
            if (!byte(b)) return false;
        return true;
    }

    bool word(uint32_t value) {
        for (int i = 0; i < 4; ++i)
            if (!byte(static_cast<uint8_t>(value >> (8 * i)))) return false;
        return true;
    }
    bool bytes(std::initializer_list<uint8_t> list) {
        for (uint8_t b : list)
            if (!byte(b)) return false;
        return true;
    }
    bool byte(uint8_t b) {
        if (size_ >= capacity_) return ok_ = false;
        out_[size_++] = b;
        return ok_;
    }

    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
    bool ok_ = true;
};

class Emitter : CodeWriter {
public:
    Emitter(const CompiledExpression& record, uint8_t* out, size_t capacity)
        : CodeWriter(out, capacity), record_(record) {}

    // The formula as a function of the record, returning its value.
    size_t formulaFunction() {
        entry();
        const FastInstruction* ip = record_.fast + record_.shape.fast - 1;
        for (int i = 0; i < record_.fastLength; ++i, --ip)
            if (!instruction(*ip)) return 0;
        // The code must end in its one return: nothing may run past the block.
        return ok_ && returns_ == 1 && returnEnd_ == size_ ? size_ : 0;
    }

private:
    bool instruction(const FastInstruction& in) {
        switch (in.op) {
            case kFastLoad: return load(kRax, in, in.operand);
            case kFastSpill: return store(in.slot);
            case kFastSpillLoad: return store(in.slot) && load(kRax, in, in.operand);
            case kFastNeg: return bytes({0x48, 0xF7, 0xD8});  // neg rax
            case kFastNot:
                return bytes({0x48, 0x85, 0xC0, 0x0F, 0x94, 0xC0, 0x0F, 0xB6, 0xC0});  // test; sete al; movzx
            case kFastBitNot: return bytes({0x48, 0xF7, 0xD0});                        // not rax
            case kFastSelect:
                // rax = rax != 0 ? x : y, without a branch.
                return load(kRcx, in, in.operand) && load(kRdx, in, in.other) &&
                       bytes({0x48, 0x85, 0xC0, 0x48, 0x89, 0xD0, 0x48, 0x0F, 0x45, 0xC1});         // test; mov; cmovne
            case kFastDivPow2: return quotientByPowerOfTwo(in.shift) && bytes({0x48, 0x89, 0xC8});  // mov rax, rcx
            case kFastRemPow2:
                return quotientByPowerOfTwo(in.shift) && bytes({0x48, 0xC1, 0xE1}) && byte(in.shift) &&  // shl rcx, k
                       bytes({0x48, 0x29, 0xC8});                                                        // sub rax, rcx
            case kFastDivMagic: return quotientByMagic(in) && bytes({0x48, 0x01, 0xD0});                 // add rax, rdx
            case kFastRemMagic:
                // rax = q, then a - q * d: imul rax, rdx; sub rcx, rax; mov rax, rcx
                return quotientByMagic(in) && bytes({0x48, 0x01, 0xD0}) && move(kRdx, in.divisor) &&
                       bytes({0x48, 0x0F, 0xAF, 0xC2, 0x48, 0x29, 0xC1, 0x48, 0x89, 0xC8});
            case kFastReturn: return finish();
            case kFastReturnX: return load(kRax, in, in.operand) && finish();
            default: return binaryInstruction(in);
        }
    }

    bool binaryInstruction(const FastInstruction& in) {
        if (in.op < kFastFirstBinary || in.op >= kFastOpCount) return false;
        // Both forms become rax = rax OP b, with b a constant, a place or rcx.
        const int index = (in.op - kFastFirstBinary) / 2;
        Source b = sourceOf(in, in.operand);
        if ((in.op - kFastFirstBinary) % 2 == 1) {  // x OP acc
            const uint8_t code = intops::kBinaryCodes[index];
            if (isCommutative(code)) return binaryOperator(code, b);
            if (const uint8_t swapped = swappedComparison(code)) return binaryOperator(swapped, b);
            if (!bytes({0x48, 0x89, 0xC1}) || !load(kRax, in, in.operand)) return false;  // mov rcx, rax
            b = {Source::Rcx, 0};
        }
        return binaryOperator(intops::kBinaryCodes[index], b);
    }

    static bool isCommutative(uint8_t code) {
        return code == kAdd || code == kMultiply || code == kBitAnd || code == kBitXor || code == kBitOr ||
               code == kEqual || code == kNotEqual;
    }
    // The comparison that gives x OP acc when written acc OP' x; 0 for other operators.
    static uint8_t swappedComparison(uint8_t code) {
        switch (code) {
            case kLess: return kGreater;
            case kGreater: return kLess;
            case kLessEqual: return kGreaterEqual;
            case kGreaterEqual: return kLessEqual;
            default: return 0;
        }
    }

    // rax = rax OP b for the operators with a form that takes b as it is: `opcode` the
    // register-or-memory form (OP rax, r/m), `digit` the one with a 32-bit immediate.
    bool direct(uint8_t opcode, uint8_t digit, const Source& b) {
        switch (b.kind) {
            case Source::Place:
                return bytes({0x49, opcode, 0x81}) && word(static_cast<uint32_t>(b.value));  // OP rax, [r9 + d]
            case Source::Constant:
                if (b.value == static_cast<int32_t>(b.value))  // OP rax, imm32
                    return bytes({0x48, 0x81, static_cast<uint8_t>(0xC0 | digit << 3)}) &&
                           word(static_cast<uint32_t>(b.value));
                if (!move(kRcx, b.value)) return false;
                [[fallthrough]];
            case Source::Rcx: return bytes({0x48, opcode, 0xC1});  // OP rax, rcx
        }
        return false;
    }

    bool inRcx(const Source& b) {
        switch (b.kind) {
            case Source::Constant: return move(kRcx, b.value);
            case Source::Place: return bytes({0x49, 0x8B, 0x89}) && word(static_cast<uint32_t>(b.value));
            case Source::Rcx: return true;
        }
        return false;
    }

    // rax = rax OP b, as the language's operator functions compute it.
    bool binaryOperator(uint8_t code, const Source& b) {
        switch (code) {
            case kAdd: return direct(0x03, 0, b);
            case kSubtract: return direct(0x2B, 5, b);
            case kBitAnd: return direct(0x23, 4, b);
            case kBitXor: return direct(0x33, 6, b);
            case kBitOr: return direct(0x0B, 1, b);
            case kMultiply:
                if (b.kind == Source::Constant && b.value == static_cast<int32_t>(b.value))
                    return bytes({0x48, 0x69, 0xC0}) && word(static_cast<uint32_t>(b.value));  // imul rax, rax, imm32
                if (b.kind == Source::Place)
                    return bytes({0x49, 0x0F, 0xAF, 0x81}) && word(static_cast<uint32_t>(b.value));
                return inRcx(b) && bytes({0x48, 0x0F, 0xAF, 0xC1});  // imul rax, rcx
            case kLess: return compare(0x9C, b);
            case kGreater: return compare(0x9F, b);
            case kLessEqual: return compare(0x9E, b);
            case kGreaterEqual: return compare(0x9D, b);
            case kEqual: return compare(0x94, b);
            case kNotEqual: return compare(0x95, b);
            case kShiftLeft:
            case kShiftRight: {
                const uint8_t digit = code == kShiftLeft ? 0xE0 : 0xF8;  // shl / sar
                if (b.kind == Source::Constant)  // the machine, like the language, counts b & 63
                    return bytes({0x48, 0xC1, digit}) && byte(static_cast<uint8_t>(b.value & 63));
                return inRcx(b) && bytes({0x48, 0xD3, digit});  // OP rax, cl
            }
            default: return inRcx(b) && registerOperator(code);
        }
    }

    // cmp rax, b; setCC al; movzx eax, al
    bool compare(uint8_t setcc, const Source& b) {
        return direct(0x3B, 7, b) && bytes({0x0F, setcc, 0xC0, 0x0F, 0xB6, 0xC0});
    }

    // rax = rax OP rcx for the operators without a direct form.
    bool registerOperator(uint8_t code) {
        switch (code) {
            case kDivide:
                // A divisor of 0 leaves a, -1 negates it (no fault for the most negative
                // value), anything else divides.
                return bytes({0x48, 0x85, 0xC9, 0x74, 0x10,        // test rcx, rcx; jz done
                              0x48, 0x83, 0xF9, 0xFF, 0x75, 0x05,  // cmp rcx, -1; jne divide
                              0x48, 0xF7, 0xD8, 0xEB, 0x05,        // neg rax; jmp done
                              0x48, 0x99, 0x48, 0xF7, 0xF9});      // divide: cqo; idiv rcx
            case kRemainder:
                // Divisors 0 and -1 (rcx + 1 at most 1, unsigned) give 0.
                return bytes({0x48, 0x8D, 0x51, 0x01, 0x48, 0x83, 0xFA, 0x01, 0x77, 0x04,  // lea; cmp; ja divide
                              0x31, 0xC0, 0xEB, 0x08,                                      // xor eax, eax; jmp done
                              0x48, 0x99, 0x48, 0xF7, 0xF9, 0x48, 0x89, 0xD0});            // cqo; idiv; mov rax, rdx
            case kLogicalAnd:
                return bytes({0x48, 0x85, 0xC0, 0x0F, 0x95, 0xC0,  // test rax, rax; setne al
                              0x48, 0x85, 0xC9, 0x0F, 0x95, 0xC2,  // test rcx, rcx; setne dl
                              0x20, 0xD0, 0x0F, 0xB6, 0xC0});      // and al, dl; movzx eax, al
            case kLogicalOr: return bytes({0x48, 0x09, 0xC8, 0x0F, 0x95, 0xC0, 0x0F, 0xB6, 0xC0});
            default: return false;
        }
    }

    // rcx = rax / 2^k truncated toward zero: negative values are biased by 2^k - 1.
    bool quotientByPowerOfTwo(int32_t k) {
        if (k < 1 || k > 62) return false;
        return bytes({0x48, 0x89, 0xC1, 0x48, 0xC1, 0xF9, 0x3F, 0x48, 0xC1, 0xE9}) &&  // mov; sar rcx, 63; shr rcx,
               byte(static_cast<uint8_t>(64 - k)) && bytes({0x48, 0x01, 0xC1, 0x48, 0xC1, 0xF9}) &&  // add; sar rcx,
               byte(static_cast<uint8_t>(k));
    }

    // rcx = the dividend, rdx = the quotient's shifted high product, rax = the dividend's
    // sign bit; the quotient is rax + rdx (Hacker's Delight, 10-1).
    bool quotientByMagic(const FastInstruction& in) {
        if (in.shift < 0 || in.shift > 63) return false;
        if (!bytes({0x48, 0x89, 0xC1}) || !move(kRdx, in.magic) ||
            !bytes({0x48, 0xF7, 0xEA}))  // mov rcx, rax; imul rdx
            return false;
        if (in.magic < 0 && !bytes({0x48, 0x01, 0xCA})) return false;                // add rdx, rcx
        return bytes({0x48, 0xC1, 0xFA}) && byte(static_cast<uint8_t>(in.shift)) &&  // sar rdx, shift
               bytes({0x48, 0x89, 0xC8, 0x48, 0xC1, 0xE8, 0x3F});                    // mov rax, rcx; shr rax, 63
    }

    // Slot 0 and the stack count as the interpreter leaves them, then return rax.
    bool finish() {
        const auto depth = static_cast<uint32_t>(record_.fastDepth);
        ++returns_;
        const bool done = bytes({0x49, 0x89, 0x81}) && word(offsetOf(&record_.valueStack[0])) &&  // mov [r9+d], rax
                          bytes({0x41, 0xC7, 0x81}) && word(offsetOf(&record_.valueTop)) && word(depth) &&
                          byte(0xC3);  // ret
        returnEnd_ = size_;
        return done;
    }

    Source sourceOf(const FastInstruction& in, const int64_t* operand) {
        if (!operand) {
            ok_ = false;
            return {Source::Constant, 0};
        }
        if (operand == &in.constant) return {Source::Constant, in.constant};
        if (operand == &in.magic) return {Source::Constant, in.magic};
        return {Source::Place, static_cast<int64_t>(offsetOf(operand))};
    }

    bool load(Register reg, const FastInstruction& in, const int64_t* operand) {
        const Source source = sourceOf(in, operand);
        if (source.kind == Source::Constant) return move(reg, source.value);
        return bytes({0x49, 0x8B, static_cast<uint8_t>(0x81 | reg << 3)}) &&  // mov reg, [r9 + d]
               word(static_cast<uint32_t>(source.value));
    }

    bool store(const int64_t* slot) {
        return slot && bytes({0x49, 0x89, 0x81}) && word(offsetOf(slot));  // mov [r9 + d], rax
    }

    // The offset of a place inside the record; an address outside it ends the emission.
    uint32_t offsetOf(const void* place) {
        const auto at = reinterpret_cast<uintptr_t>(place), base = reinterpret_cast<uintptr_t>(&record_);
        if (at < base || at + sizeof(int64_t) > base + record_.bytes) ok_ = false;
        return static_cast<uint32_t>(at - base);
    }

    const CompiledExpression& record_;
    size_t returnEnd_ = 0;  // where the finish ends
    int returns_ = 0;       // finishes emitted
};

// The voice's loop over a stretch (VoiceStretch), the same for every formula: it calls
// the record's formula function (its `compiledFormula`) for each reading. The call and its return
// are the only use of the stack: the formula's code touches none, so each frame is a leaf
// to an unwinder, and the return address is all it finds.
class VoiceLoopWriter : CodeWriter {
public:
    using CodeWriter::CodeWriter;

    size_t run() {
        loadRegisters();
        bytes({0x41, 0x83, 0xB8}) && word(kFrames) && byte(0);  // cmp dword [r8 + frames], 0
        const size_t toEnd = jump({0x0F, 0x8E});                // jle end
        const size_t loop = size_;
        count();
        readSines(0);
        formula();
        blend();
        shapeAndMix();
        bytes({0x49, 0xFF, 0xC2, 0x45, 0x3B, 0x90}) && word(kFrames);            // inc r10; cmp r10d, [r8 + frames]
        bytes({0x0F, 0x8C}) && word(static_cast<uint32_t>(loop - (size_ + 4)));  // jl loop
        land(toEnd);
        storeRegisters();
        return ok_ ? size_ : 0;
    }

private:
    // The stretch into the registers: r8, the fractions and their steps, the phase; r10 0.
    void loadRegisters() {
        entry();
#ifdef _WIN32
        bytes({0x49, 0x89, 0xD0});  // mov r8, rdx
#else
        bytes({0x49, 0x89, 0xF0});  // mov r8, rsi
#endif
        const uint32_t fractions[] = {kPhaseFrac, kPhaseStep, kTimeFrac, kTimeStep};  // into xmm0..xmm3
        for (uint8_t xmm = 0; xmm < 4; ++xmm)
            bytes({0xF2, 0x41, 0x0F, 0x10, static_cast<uint8_t>(0x80 | xmm << 3)}) && word(fractions[xmm]);
        bytes({0x4D, 0x8B, 0x98}) && word(kPhase);  // mov r11, [r8 + phase]
        bytes({0x45, 0x31, 0xD2});                  // xor r10d, r10d
    }

    // A sample on: the counters P and T, and R.
    void count() {
        // The counters: each fraction's whole part (below 2^52, so the truncation) moves out.
        bytes({0xF2, 0x0F, 0x58, 0xC1, 0xF2, 0x48, 0x0F, 0x2C, 0xC0});  // addsd xmm0, xmm1; cvttsd2si rax, xmm0
        bytes({0x0F, 0x57, 0xE4, 0xF2, 0x48, 0x0F, 0x2A, 0xE0});        // xorps xmm4, xmm4; cvtsi2sd xmm4, rax
        bytes({0xF2, 0x0F, 0x5C, 0xC4, 0x49, 0x01, 0xC3});              // subsd xmm0, xmm4; add r11, rax
        bytes({0x4D, 0x89, 0x99}) && word(variable('P'));               // mov [r9 + P], r11
        bytes({0xF2, 0x0F, 0x58, 0xD3, 0xF2, 0x48, 0x0F, 0x2C, 0xC2});  // addsd xmm2, xmm3; cvttsd2si rax, xmm2
        bytes({0x0F, 0x57, 0xE4, 0xF2, 0x48, 0x0F, 0x2A, 0xE0});        // xorps xmm4, xmm4; cvtsi2sd xmm4, rax
        bytes({0xF2, 0x0F, 0x5C, 0xD4});                                // subsd xmm2, xmm4
        bytes({0x49, 0x03, 0x80}) && word(kTime);                       // add rax, [r8 + time]
        bytes({0x49, 0x89, 0x80}) && word(kTime);                       // mov [r8 + time], rax
        bytes({0x49, 0x89, 0x81}) && word(variable('T'));               // mov [r9 + T], rax
        {
            const size_t past = unless(kReadsRandom);
            bytes({0x41, 0x8B, 0x80}) && word(kRandom);                                 // mov eax, [r8 + random]
            bytes({0x89, 0xC1, 0xC1, 0xE9, 0x10, 0x81, 0xE1, 0xFF, 0x7F, 0x00, 0x00});  // ecx = eax >> 16 & 0x7FFF
            bytes({0x49, 0x89, 0x89}) && word(variable('R'));                           // mov [r9 + R], rcx
            bytes({0x41, 0x0F, 0xAF, 0x80}) && word(kMultiplier);                       // imul eax, [r8 + multiplier]
            bytes({0x41, 0x03, 0x80}) && word(kIncrement);                              // add eax, [r8 + increment]
            bytes({0x41, 0x89, 0x80}) && word(kRandom);                                 // mov [r8 + random], eax
            land(past);
        }
        readColumn(kReadsBeat, kBeats, Word::Beat);
        readColumn(kReadsBar, kBars, Word::Bar);
    }

    // For a formula that reads `w`: its variable takes the frame's entry of the column at `field`.
    void readColumn(uint32_t flag, uint32_t field, Word w) {
        const size_t past = unless(flag);
        bytes({0x49, 0x8B, 0x80}) && word(field);                                 // mov rax, [r8 + field]
        bytes({0x4A, 0x8B, 0x0C, 0xD0});                                          // mov rcx, [rax + r10 * 8]
        bytes({0x49, 0x89, 0x89}) && word(variableAt(26 + static_cast<int>(w)));  // mov [r9 + w], rcx
        land(past);
    }

    // S and C `shift` steps on, for a formula that reads them.
    void readSines(uint8_t shift) {
        const size_t noSine = unless(kReadsSine);
        sineReading('S', shift);
        land(noSine);
        const size_t noCosine = unless(kReadsCosine);
        sineReading('C', static_cast<uint8_t>(shift + 64));
        land(noCosine);
    }

    // With Lerp, the second reading and the blend of the two.
    void blend() {
        // Lerp: the reading at P + 1, blended with the first by the phase fraction.
        bytes({0x41, 0xF6, 0x80}) && word(kLerp) && byte(1);                       // test byte [r8 + lerp], 1
        const size_t toShape = jump({0x0F, 0x84});                                 // jz shape
        bytes({0x49, 0x89, 0x80}) && word(kHeld);                                  // mov [r8 + held], rax
        bytes({0x49, 0x8D, 0x43, 0x01, 0x49, 0x89, 0x81}) && word(variable('P'));  // lea rax, [r11+1]; mov [P], rax
        readSines(1);
        formula();
        bytes({0x49, 0x2B, 0x80}) && word(kHeld);                       // sub rax, [r8 + held]
        bytes({0x0F, 0x57, 0xE4, 0xF2, 0x48, 0x0F, 0x2A, 0xE0});        // xorps xmm4, xmm4; cvtsi2sd xmm4, rax
        bytes({0xF2, 0x0F, 0x59, 0xE0, 0x0F, 0x57, 0xED});              // mulsd xmm4, xmm0; xorps xmm5, xmm5
        bytes({0xF2, 0x49, 0x0F, 0x2A, 0xA8}) && word(kHeld);           // cvtsi2sd xmm5, qword [r8 + held]
        bytes({0xF2, 0x0F, 0x58, 0xE5, 0xF2, 0x48, 0x0F, 0x2C, 0xC4});  // addsd xmm4, xmm5; cvttsd2si rax, xmm4
        // Out of range the conversion gives the most negative value; above it, the largest.
        move(kRcx, INT64_MIN);
        bytes({0x48, 0x39, 0xC8, 0x75, 0x0C,              // cmp rax, rcx; jne shape
               0x0F, 0x57, 0xED, 0x66, 0x0F, 0x2E, 0xE5,  // xorps xmm5, xmm5; ucomisd xmm4, xmm5
               0x76, 0x03, 0x48, 0xFF, 0xC8});            // jbe shape; dec rax
        land(toShape);
    }

    // The value shaped, scaled by the gain and added to the mix.
    void shapeAndMix() {
        // The shape: masked to a byte, or clamped to -256..256.
        bytes({0x41, 0xF6, 0x80}) && word(kClamp) && byte(1);               // test byte [r8 + clamp], 1
        bytes({0x75, 0x05, 0x0F, 0xB6, 0xC0, 0xEB, 0x1A});                  // jnz clamp; movzx eax, al; jmp gain
        bytes({0x48, 0xC7, 0xC1, 0x00, 0xFF, 0xFF, 0xFF, 0x48, 0x39, 0xC8,  // clamp: mov rcx, -256; cmp rax, rcx
               0x48, 0x0F, 0x4C, 0xC1, 0xB9, 0x00, 0x01, 0x00, 0x00,        // cmovl rax, rcx; mov ecx, 256
               0x48, 0x39, 0xC8, 0x48, 0x0F, 0x4F, 0xC1});                  // cmp rax, rcx; cmovg rax, rcx
        // gain: value * gain / 100, truncated (|value * gain| < 2^31: Hacker's Delight, 10-1).
        bytes({0x49, 0x0F, 0xAF, 0x80}) && word(kGain);                     // imul rax, [r8 + gain]
        bytes({0x48, 0x89, 0xC1, 0x48, 0x69, 0xC9, 0x1F, 0x85, 0xEB, 0x51,  // mov rcx, rax; imul rcx, rcx, magic
               0x48, 0xC1, 0xF9, 0x25, 0x48, 0xC1, 0xE8, 0x3F, 0x48, 0x01, 0xC8});  // sar rcx, 37; shr rax, 63; add
        // mix[i] += value / 256
        bytes({0x0F, 0x57, 0xE4, 0xF3, 0x48, 0x0F, 0x2A, 0xE0});        // xorps xmm4, xmm4; cvtsi2ss xmm4, rax
        bytes({0xB8, 0x00, 0x00, 0x80, 0x3B, 0x66, 0x0F, 0x6E, 0xE8});  // mov eax, 1/256f; movd xmm5, eax
        bytes({0xF3, 0x0F, 0x59, 0xE5});                                // mulss xmm4, xmm5
        bytes({0x49, 0x8B, 0x80}) && word(kMix);                        // mov rax, [r8 + mix]
        bytes({0xF3, 0x42, 0x0F, 0x58, 0x24, 0x90});                    // addss xmm4, [rax + r10 * 4]
        bytes({0xF3, 0x42, 0x0F, 0x11, 0x24, 0x90});                    // movss [rax + r10 * 4], xmm4
    }

    // The counters and fractions back into the stretch, and the return.
    void storeRegisters() {
        bytes({0x4D, 0x89, 0x98}) && word(kPhase);                  // mov [r8 + phase], r11
        bytes({0xF2, 0x41, 0x0F, 0x11, 0x80}) && word(kPhaseFrac);  // movsd [r8 + phaseFrac], xmm0
        bytes({0xF2, 0x41, 0x0F, 0x11, 0x90}) && word(kTimeFrac);   // movsd [r8 + timeFrac], xmm2
        byte(0xC3);                                                 // ret: the function's one, at its end
    }

    // The fields of a stretch.
    static constexpr uint32_t kPhaseFrac = offsetof(VoiceStretch, phaseFrac),
                              kPhaseStep = offsetof(VoiceStretch, phaseStep),
                              kTimeFrac = offsetof(VoiceStretch, timeFrac),
                              kTimeStep = offsetof(VoiceStretch, timeStep), kPhase = offsetof(VoiceStretch, phase),
                              kTime = offsetof(VoiceStretch, time), kGain = offsetof(VoiceStretch, gain),
                              kHeld = offsetof(VoiceStretch, held), kMix = offsetof(VoiceStretch, mix),
                              kSineTable = offsetof(VoiceStretch, sineTable), kRandom = offsetof(VoiceStretch, random),
                              kMultiplier = offsetof(VoiceStretch, randomMultiplier),
                              kIncrement = offsetof(VoiceStretch, randomIncrement),
                              kFrames = offsetof(VoiceStretch, frames), kLerp = offsetof(VoiceStretch, lerp),
                              kClamp = offsetof(VoiceStretch, clamp),
                              kReadsRandom = offsetof(VoiceStretch, readsRandom),
                              kReadsSine = offsetof(VoiceStretch, readsSine),
                              kReadsCosine = offsetof(VoiceStretch, readsCosine),
                              kBeats = offsetof(VoiceStretch, beats), kBars = offsetof(VoiceStretch, bars),
                              kReadsBeat = offsetof(VoiceStretch, readsBeat),
                              kReadsBar = offsetof(VoiceStretch, readsBar);

    // The record's formula, the value in rax.
    void formula() {
#ifdef _WIN32
        bytes({0x4C, 0x89, 0xC9});  // mov rcx, r9
#else
        bytes({0x4C, 0x89, 0xCF});  // mov rdi, r9
#endif
        bytes({0x41, 0xFF, 0x91}) &&
            word(offsetof(CompiledExpression, compiledFormula));  // call [r9 + compiledFormula]
    }

    // Tests the stretch's flag `field`; returns where the jump past what follows when it
    // is clear lands.
    size_t unless(uint32_t field) {
        bytes({0x41, 0xF6, 0x80}) && word(field) && byte(1);  // test byte [r8 + field], 1
        return jump({0x0F, 0x84});                            // jz past
    }

    // The variable `letter` of a sine reading, the phase with its low byte replaced by
    // the table's entry at that byte plus `shift`.
    void sineReading(char letter, uint8_t shift) {
        bytes({0x49, 0x8B, 0x88}) && word(kSineTable);         // mov rcx, [r8 + sineTable]
        bytes({0x44, 0x89, 0xD8, 0x83, 0xC0}) && byte(shift);  // mov eax, r11d; add eax, shift
        bytes({0x0F, 0xB6, 0xC0, 0x0F, 0xB6, 0x04, 0x01});     // movzx eax, al; movzx eax, byte [rcx + rax]
        bytes({0x4C, 0x89, 0xDA, 0x48, 0x81, 0xE2, 0x00, 0xFF, 0xFF, 0xFF});    // mov rdx, r11; and rdx, -256
        bytes({0x48, 0x01, 0xC2, 0x49, 0x89, 0x91}) && word(variable(letter));  // add rdx, rax; mov [r9 + v], rdx
    }

    static uint32_t variable(char letter) { return variableAt(letter - 'A'); }
    static uint32_t variableAt(int index) {
        return static_cast<uint32_t>(offsetof(CompiledExpression, variables) + sizeof(int64_t) * index);
    }
};

}  // namespace

size_t emitFormulaCode(const CompiledExpression& record, uint8_t* out, size_t capacity, size_t* stretchAt) {
    *stretchAt = 0;
    if (record.fastLength <= 0) return 0;
    return Emitter(record, out, capacity).formulaFunction();
}

size_t emitVoiceLoop(uint8_t* out, size_t capacity) { return VoiceLoopWriter(out, capacity).run(); }

#elif !defined(__wasm__)  // WebAssembly has an emitter of its own

size_t emitFormulaCode(const CompiledExpression&, uint8_t*, size_t, size_t* stretchAt) {
    *stretchAt = 0;
    return 0;
}

size_t emitVoiceLoop(uint8_t*, size_t) { return 0; }

#endif
