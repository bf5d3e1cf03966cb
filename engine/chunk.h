// The state chunk: a sequence of 32-bit floats in which tag floats, chosen far outside
// the range of any value, are each followed by a value or a zero-terminated string of
// one float per character. It carries six settings and, for every program, its index,
// name, formula and drum key.
//
// The codec is written once for any bank type that has the instrument's fields
// (`polyphony`, `portamento`, `timeScale`, `interpolate`, `clampOutput`, `scopeZoom`
// and `programs[128]` with `name`, `formula`, `drumKey`, `needsCompile`): the
// instrument itself, and the command-line host's plain copy of a bank.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "conversions.h"

namespace chunktag {
constexpr uint32_t kStart = 0x4d03520c;  // first float; never read as a tag
constexpr uint32_t kPolyphony = 0x4d33327d;
constexpr uint32_t kPortamento = 0x4d214e7d;
constexpr uint32_t kTimeScale = 0x4d030e9d;
constexpr uint32_t kInterpolate = 0x4d214a2d;
constexpr uint32_t kClamp = 0x4d213664;
constexpr uint32_t kScopeZoom = 0x4d2f164d;
constexpr uint32_t kProgramIndex = 0x4d0f3e95;
constexpr uint32_t kName = 0x4d0b360d;
constexpr uint32_t kFormula = 0x4d03520c;  // the same bits as the start marker
constexpr uint32_t kDrumKey = 0x4d21066c;
constexpr uint32_t kEnd = 0x4d0b3a7c;
// The Gain setting, which the VST 2.4 chunk leaves out and the other formats' states
// carry before the end tag; far from the other tags, and passed over by a reader that
// does not know it.
constexpr uint32_t kGain = 0x4d7a1e35;
// The current program, which VST 2.4 hosts keep beside the chunk and the other formats'
// states carry after the Gain; passed over alike.
constexpr uint32_t kCurrentProgram = 0x4d7a3a65;
// The extended settings, each carried after the Gain where it is not at its default.
constexpr uint32_t kMpe = 0x4d7a2a45;
constexpr uint32_t kAttack = 0x4d7a2e55;
constexpr uint32_t kRelease = 0x4d7a3275;
constexpr uint32_t kDcFilter = 0x4d7a3685;
constexpr uint32_t kOversample = 0x4d7a3a95;
}  // namespace chunktag

constexpr int kChunkPrograms = 128;
constexpr int kChunkNameLimit = 31;       // characters kept of a name
constexpr int kChunkFormulaLimit = 1023;  // characters kept of a formula

// The largest chunk: every name at 31 characters and every formula at 1023.
constexpr int kChunkCapacityFloats = 13 + kChunkPrograms * (8 + kChunkNameLimit + kChunkFormulaLimit) + 1;
constexpr int kChunkCapacityBytes = kChunkCapacityFloats * 4;  // 543,800

// Whether `size` bytes are a whole chunk: whole floats, ending with the end tag, which a
// chunk cut short lacks. A chunk is taken whole or not at all. (Its floats are in the
// machine's order, the x86's.)
inline bool chunkIsWhole(const void* bytes, size_t size) {
    constexpr uint32_t end = chunktag::kEnd;
    return bytes && size >= 8 && size % 4 == 0 &&
           std::memcmp(static_cast<const uint8_t*>(bytes) + size - 4, &end, 4) == 0;
}

namespace chunkcodec {

inline float tagFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline uint32_t floatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

class Writer {
public:
    explicit Writer(float* out) : out_(out) {}
    void tag(uint32_t bits) { out_[n_++] = tagFloat(bits); }
    void value(int32_t v) { out_[n_++] = static_cast<float>(v); }
    void string(const char* text) {
        for (; *text; ++text) out_[n_++] = static_cast<float>(static_cast<signed char>(*text));
        out_[n_++] = 0.0f;
    }
    int count() const { return n_; }

private:
    float* out_;
    int n_ = 0;
};

class Reader {
public:
    Reader(const float* in, int count) : in_(in), count_(count) {}
    bool atEnd() const { return i_ >= count_; }
    uint32_t tag() { return floatBits(in_[i_++]); }
    // A value cut off by the end of the chunk reads as `fallback`.
    int32_t value(int32_t fallback) { return atEnd() ? fallback : truncateToInt32(in_[i_++]); }
    // Reads at most `limit` characters into `field`, which always ends up terminated. A
    // longer string leaves its rest in the chunk, to be passed over as non-tags.
    void string(char* field, int limit) {
        int stored = 0;
        while (stored < limit && !atEnd()) {
            const int32_t c = truncateToInt32(in_[i_++]);
            field[stored++] = static_cast<char>(c & 0xFF);
            if (c == 0) return;
        }
        field[stored] = '\0';
    }

private:
    const float* in_;
    int count_;
    int i_ = 1;  // past the start marker
};

}  // namespace chunkcodec

// Writes the whole bank into `out` (room for kChunkCapacityFloats) and returns the
// number of floats written.
template <class Bank>
int writeChunk(const Bank& bank, float* out) {
    chunkcodec::Writer w(out);
    w.tag(chunktag::kStart);
    w.tag(chunktag::kPolyphony);
    w.value(bank.polyphony);
    w.tag(chunktag::kPortamento);
    w.value(bank.portamento);
    w.tag(chunktag::kTimeScale);
    w.value(bank.timeScale);
    w.tag(chunktag::kInterpolate);
    w.value(bank.interpolate ? 1 : 0);
    w.tag(chunktag::kClamp);
    w.value(bank.clampOutput ? 1 : 0);
    w.tag(chunktag::kScopeZoom);
    w.value(bank.scopeZoom);
    for (int i = 0; i < kChunkPrograms; ++i) {
        w.tag(chunktag::kProgramIndex);
        w.value(i);
        w.tag(chunktag::kName);
        w.string(bank.programs[i].name);
        w.tag(chunktag::kFormula);
        w.string(bank.programs[i].formula);
        w.tag(chunktag::kDrumKey);
        w.value(bank.programs[i].drumKey);
    }
    w.tag(chunktag::kEnd);
    return w.count();
}

// Reads `count` floats into the bank, up to the end tag or the end of the data. Fields
// without a tag keep their values; every program named by an index tag is marked
// `needsCompile`. A program index outside the bank selects no program: its record is
// read and dropped. `polyphony` is brought into 1..8 and `scopeZoom` into 0..7, since
// other code indexes with them; other values are stored as read.
template <class Bank>
void readChunk(Bank& bank, const float* in, int count) {
    chunkcodec::Reader r(in, count);
    auto* selected = &bank.programs[0];
    char discarded[kChunkFormulaLimit + 1];
    while (!r.atEnd()) {
        const uint32_t tag = r.tag();
        if (tag == chunktag::kEnd) break;
        switch (tag) {
            case chunktag::kPolyphony: bank.polyphony = std::clamp(r.value(bank.polyphony), 1, 8); break;
            case chunktag::kPortamento: bank.portamento = r.value(bank.portamento); break;
            case chunktag::kTimeScale: bank.timeScale = r.value(bank.timeScale); break;
            case chunktag::kInterpolate: bank.interpolate = r.value(bank.interpolate) != 0; break;
            case chunktag::kClamp: bank.clampOutput = r.value(bank.clampOutput) != 0; break;
            case chunktag::kScopeZoom: bank.scopeZoom = std::clamp(r.value(bank.scopeZoom), 0, 7); break;
            case chunktag::kProgramIndex: {
                const int32_t index = r.value(-1);
                selected = index >= 0 && index < kChunkPrograms ? &bank.programs[index] : nullptr;
                if (selected) selected->needsCompile = true;
                break;
            }
            case chunktag::kName: r.string(selected ? selected->name : discarded, kChunkNameLimit); break;
            case chunktag::kFormula: r.string(selected ? selected->formula : discarded, kChunkFormulaLimit); break;
            case chunktag::kDrumKey: {
                const int32_t key = r.value(selected ? static_cast<int32_t>(selected->drumKey) : 0);
                if (selected) selected->drumKey = key;
                break;
            }
            default: break;  // not a tag: passed over by itself
        }
    }
}
