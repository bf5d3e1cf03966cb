// Formulas as WebAssembly, where the instrument itself runs as WebAssembly: each record's
// fast form becomes a module of its own with one function, "f", of the record's address
// that runs the formula over the instrument's memory (imported as env.memory) and returns
// its value, leaving slot 0 and the stack count as the interpreter does. The host compiles
// the module and puts the function into the instrument's table (native_arena.cpp).
//
// The accumulator is local 1, an operand local 2; the language's special cases (division
// by 0 and -1, shift counts past 63) are written out, so no operation can trap. Every
// memory access is at the record's address plus an offset the emitter checks against the
// record's size.
#if defined(__wasm__)

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "expression.h"
#include "intops.h"
#include "native_code.h"

namespace {

enum Local : uint8_t { kRecord = 0, kAcc = 1, kX = 2 };

// The opcodes used, by their names in the WebAssembly text format.
enum Op : uint8_t {
    kIf = 0x04,
    kElse = 0x05,
    kEnd = 0x0B,
    kReturn = 0x0F,
    kSelect = 0x1B,
    kLocalGet = 0x20,
    kLocalSet = 0x21,
    kI64Load = 0x29,
    kI32Store = 0x36,
    kI64Store = 0x37,
    kI32Const = 0x41,
    kI64Const = 0x42,
    kI32Eqz = 0x45,
    kI64Eqz = 0x50,
    kI64Eq = 0x51,
    kI64Ne = 0x52,
    kI64LtS = 0x53,
    kI64GtS = 0x55,
    kI64LeS = 0x57,
    kI64LeU = 0x58,
    kI64GeS = 0x59,
    kI32Or = 0x72,
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
    kI64ExtendI32U = 0xAD,
};
constexpr uint8_t kI64 = 0x7E;

// The module around the function's body. Section and body sizes are written as padded
// five-byte numbers, so that they can be set once the body is done.
constexpr uint8_t kModuleHead[] = {
    0x00, 0x61, 0x73, 0x6D, 0x01, 0x00, 0x00, 0x00,  // "\0asm", version 1
    0x01, 0x06, 0x01, 0x60, 0x01, 0x7F, 0x01, kI64,  // types: (i32) -> i64
    0x02, 0x0F, 0x01, 0x03, 'e',  'n',  'v',  0x06, 'm', 'e', 'm', 'o', 'r', 'y', 0x02, 0x00, 0x00,  // env.memory
    0x03, 0x02, 0x01, 0x00,                    // one function of type 0
    0x07, 0x05, 0x01, 0x01, 'f',  0x00, 0x00,  // exported as "f"
};

class Emitter {
public:
    Emitter(const CompiledExpression& record, uint8_t* out, size_t capacity)
        : record_(record), out_(out), capacity_(capacity) {}

    size_t run() {
        bytes(kModuleHead, sizeof kModuleHead);
        byte(0x0A);  // code
        const size_t sectionSize = size_;
        padded(0);
        byte(1);  // one body
        const size_t bodySize = size_;
        padded(0);
        byte(1);  // locals: two i64 (the accumulator, an operand)
        byte(2);
        byte(kI64);
        const FastInstruction* ip = record_.fast + record_.shape.fast - 1;
        for (int i = 0; i < record_.fastLength && ok_; ++i, --ip) instruction(*ip);
        // The body must end in its one return, past which nothing runs.
        if (!ok_ || returns_ != 1 || returnEnd_ != size_) return 0;
        byte(kEnd);
        if (!ok_) return 0;
        setPadded(sectionSize, size_ - sectionSize - 5);
        setPadded(bodySize, size_ - bodySize - 5);
        return size_;
    }

private:
    void instruction(const FastInstruction& in) {
        switch (in.op) {
            case kFastLoad: return load(in, in.operand, kAcc);
            case kFastSpill: return store(in.slot);
            case kFastSpillLoad: store(in.slot); return load(in, in.operand, kAcc);
            case kFastNeg: byte(kI64Const), byte(0), get(kAcc), byte(kI64Sub); return set(kAcc);
            case kFastNot: get(kAcc), byte(kI64Eqz), byte(kI64ExtendI32U); return set(kAcc);
            case kFastBitNot: get(kAcc), byte(kI64Const), byte(0x7F), byte(kI64Xor); return set(kAcc);
            case kFastSelect:
                push(in, in.operand), push(in, in.other), get(kAcc), byte(kI64Eqz), byte(kI32Eqz), byte(kSelect);
                return set(kAcc);
            case kFastDivPow2:
            case kFastRemPow2:
                if (in.shift < 1 || in.shift > 62) return fail();
                return byConstant(in.op == kFastDivPow2 ? kI64DivS : kI64RemS, int64_t{1} << in.shift);
            case kFastDivMagic: return byConstant(kI64DivS, in.divisor);
            case kFastRemMagic: return byConstant(kI64RemS, in.divisor);
            case kFastReturn: return finish();
            case kFastReturnX: load(in, in.operand, kAcc); return finish();
            default: return binaryInstruction(in);
        }
    }

    void binaryInstruction(const FastInstruction& in) {
        if (in.op < kFastFirstBinary || in.op >= kFastOpCount) return fail();
        const int index = (in.op - kFastFirstBinary) / 2;
        const bool reversed = (in.op - kFastFirstBinary) % 2 == 1;  // x OP acc
        load(in, in.operand, kX);
        binary(intops::kBinaryCodes[index], reversed ? kX : kAcc, reversed ? kAcc : kX);
        set(kAcc);
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
        get(kAcc), constant(divisor), byte(op), set(kAcc);
    }

    // Slot 0 and the stack count as the interpreter leaves them, then return the value.
    void finish() {
        ++returns_;
        address(), get(kAcc), memory(kI64Store, offsetOf(&record_.valueStack[0]));
        address(), byte(kI32Const), signedNumber(record_.fastDepth), memory(kI32Store, offsetOf(&record_.valueTop));
        get(kAcc), byte(kReturn);
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
        address(), get(kAcc), memory(kI64Store, offsetOf(slot));
    }

    void address() { get(kRecord); }
    void get(Local local) { byte(kLocalGet), byte(local); }
    void set(Local local) { byte(kLocalSet), byte(local); }
    void constant(int64_t value) { byte(kI64Const), signedNumber(value); }
    void memory(uint8_t op, uint32_t offset) { byte(op), byte(op == kI32Store ? 2 : 3), unsignedNumber(offset); }

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
    size_t returnEnd_ = 0;
    int returns_ = 0;
    bool ok_ = true;
};

}  // namespace

size_t emitNativeCode(const CompiledExpression& record, uint8_t* out, size_t capacity, size_t* stretchAt) {
    *stretchAt = 0;
    if (record.fastLength <= 0) return 0;
    return Emitter(record, out, capacity).run();
}

#endif
