// Each record in a block of its own from the C library, with its number in front of it.
#include "record_pool.h"

#include <cstdlib>
#include <cstring>

#include "expression.h"

namespace {

// In front of each record, keeping it aligned as malloc aligns.
struct alignas(std::max_align_t) Prefix {
    int index;
};

Prefix* prefixOf(const CompiledExpression* record) {
    return reinterpret_cast<Prefix*>(const_cast<CompiledExpression*>(record)) - 1;
}

}  // namespace

RecordPool::RecordPool(int count)
    : count_(count > 0 ? count : 0),
      freeCount_(count_),
      free_(new int[count_]),
      out_(new CompiledExpression*[count_]()) {
    for (int i = 0; i < count_; ++i) free_[i] = count_ - 1 - i;  // handed out from 0 up
}

RecordPool::~RecordPool() {
    for (int i = 0; i < count_; ++i)
        if (out_[i]) std::free(prefixOf(out_[i]));
}

CompiledExpression* RecordPool::take(const CompiledExpression& compiled, const CompiledExpression* right) {
    if (freeCount_ == 0) return nullptr;
    const size_t leftBytes = recordBytes(packedShape(compiled));
    const size_t bytes = sizeof(Prefix) + leftBytes + (right ? recordBytes(packedShape(*right)) : 0);
    void* memory = std::malloc(bytes);
    if (!memory) return nullptr;
    // Every byte written here, on the compiling side, so that no run touches a page first.
    std::memset(memory, 0, bytes);
    auto* prefix = static_cast<Prefix*>(memory);
    prefix->index = free_[--freeCount_];
    CompiledExpression* record = packExpression(compiled, prefix + 1);
    if (right) record->right = packExpression(*right, reinterpret_cast<unsigned char*>(prefix + 1) + leftBytes);
    out_[prefix->index] = record;
    return record;
}

void RecordPool::give(CompiledExpression* record) {
    const int index = indexOf(record);
    out_[index] = nullptr;
    free_[freeCount_++] = index;
    std::free(prefixOf(record));
}

int RecordPool::indexOf(const CompiledExpression* record) const { return prefixOf(record)->index; }
