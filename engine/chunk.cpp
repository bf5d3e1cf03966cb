// Saving and restoring the instrument's state as the host's opaque chunk.
#include "chunk.h"

#include <algorithm>
#include <cstring>

#include "bytone.h"
#include "conversions.h"

namespace {

float tagFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t floatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

class ChunkWriter {
public:
    explicit ChunkWriter(float* out) : out_(out) {}
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

class ChunkReader {
public:
    ChunkReader(const float* in, int count) : in_(in), count_(count) {}
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

}  // namespace

int Bytone::writeChunk(float* out) const {
    ChunkWriter w(out);
    w.tag(chunktag::kStart);
    w.tag(chunktag::kPolyphony);
    w.value(polyphony);
    w.tag(chunktag::kPortamento);
    w.value(portamento);
    w.tag(chunktag::kTimeScale);
    w.value(timeScale);
    w.tag(chunktag::kInterpolate);
    w.value(interpolate ? 1 : 0);
    w.tag(chunktag::kClamp);
    w.value(clampOutput ? 1 : 0);
    w.tag(chunktag::kScopeZoom);
    w.value(scopeZoom);
    for (int i = 0; i < kNumPrograms; ++i) {
        w.tag(chunktag::kProgramIndex);
        w.value(i);
        w.tag(chunktag::kName);
        w.string(programs[i].name);
        w.tag(chunktag::kFormula);
        w.string(programs[i].formula);
        w.tag(chunktag::kDrumKey);
        w.value(programs[i].drumKey);
    }
    w.tag(chunktag::kEnd);
    return w.count();
}

void Bytone::readChunk(const float* in, int count) {
    ChunkReader r(in, count);
    // A program index outside the bank selects no program: its record is read and dropped.
    ProgramSlot* selected = &programs[0];
    char discarded[kFormulaSize];
    while (!r.atEnd()) {
        const uint32_t tag = r.tag();
        if (tag == chunktag::kEnd) break;
        switch (tag) {
            case chunktag::kPolyphony: polyphony = std::clamp(r.value(polyphony), 1, kNumVoices); break;
            case chunktag::kPortamento: portamento = r.value(portamento); break;
            case chunktag::kTimeScale: timeScale = r.value(timeScale); break;
            case chunktag::kInterpolate: interpolate = r.value(interpolate) != 0; break;
            case chunktag::kClamp: clampOutput = r.value(clampOutput) != 0; break;
            case chunktag::kScopeZoom: scopeZoom = std::clamp(r.value(scopeZoom), 0, 7); break;
            case chunktag::kProgramIndex: {
                const int32_t index = r.value(-1);
                selected = index >= 0 && index < kNumPrograms ? &programs[index] : nullptr;
                if (selected) selected->needsCompile = true;
                break;
            }
            case chunktag::kName: r.string(selected ? selected->name : discarded, kNameSize - 1); break;
            case chunktag::kFormula: r.string(selected ? selected->formula : discarded, kFormulaSize - 1); break;
            case chunktag::kDrumKey: {
                const int32_t key = r.value(selected ? selected->drumKey.load() : 0);
                if (selected) selected->drumKey = key;
                break;
            }
            default: break;  // not a tag: passed over by itself
        }
    }
    compileDirtyPrograms();
    displayDirty = true;
}

VstInt32 Bytone::getChunk(void** data, bool) {
    if (!data) return 0;
    std::lock_guard<std::mutex> hold(bankLock);
    *data = chunkBuffer;
    return writeChunk(chunkBuffer) * 4;
}

VstInt32 Bytone::setChunk(void* data, VstInt32 byteSize, bool) {
    if (byteSize < 0 || byteSize > kChunkCapacityBytes || (!data && byteSize > 0)) return 0;
    std::lock_guard<std::mutex> hold(bankLock);
    // A host may hand back the very buffer that getChunk gave it.
    if (byteSize > 0) std::memmove(chunkBuffer, data, static_cast<size_t>(byteSize));
    readChunk(chunkBuffer, byteSize / 4);
    return 0;
}
