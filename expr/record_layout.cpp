// Where a record's arrays lie, full records, and packing a compiled record to its size.
#include <algorithm>
#include <cstring>
#include <new>

#include "expression.h"

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);

constexpr size_t roundUp(size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

// Each array's offset from the header, and the whole size: in the order of the header.
struct Offsets {
    size_t values, fast, queue, operators, end;
};
Offsets offsetsOf(const RecordShape& shape) {
    Offsets at{};
    at.values = roundUp(sizeof(CompiledExpression));
    at.fast = roundUp(at.values + sizeof(int64_t) * static_cast<size_t>(shape.values));
    at.queue = roundUp(at.fast + sizeof(FastInstruction) * static_cast<size_t>(shape.fast));
    at.operators = roundUp(at.queue + sizeof(RpnItem) * static_cast<size_t>(shape.queue));
    at.end = roundUp(at.operators + static_cast<size_t>(shape.operators));
    return at;
}

// Where `place`, a pointer of `from`'s fast instruction `in`, lies in `to`, whose
// instruction `out` is `in`'s copy; null for a place outside the record.
const int64_t* relocate(const int64_t* place, const CompiledExpression& from, const FastInstruction& in,
                        const CompiledExpression& to, const FastInstruction& out) {
    if (place == &in.constant) return &out.constant;
    if (place == &in.magic) return &out.magic;
    if (place >= from.variables && place < from.variables + kVariableCount)
        return to.variables + (place - from.variables);
    if (place >= from.valueStack && place < from.valueStack + to.shape.values)
        return to.valueStack + (place - from.valueStack);
    return nullptr;
}

}  // namespace

size_t recordBytes(const RecordShape& shape) { return offsetsOf(shape).end; }

CompiledExpression* placeRecord(void* memory, const RecordShape& shape) {
    auto* bytes = static_cast<unsigned char*>(memory);
    const Offsets at = offsetsOf(shape);
    auto* record = new (memory) CompiledExpression{};
    record->operatorTop = -1;
    record->shape = shape;
    record->bytes = at.end;
    record->valueStack = reinterpret_cast<int64_t*>(bytes + at.values);
    record->fast = reinterpret_cast<FastInstruction*>(bytes + at.fast);
    record->queue = reinterpret_cast<RpnItem*>(bytes + at.queue);
    record->operatorStack = bytes + at.operators;
    return record;
}

RecordShape packedShape(const CompiledExpression& record) {
    if (!record.isCompiled()) return {0, 1, 1, 0};
    // A run pushes at most one value per item, so it never goes deeper than the queue is long.
    return {record.fastLength, std::max(record.queueLength, 1), record.queueLength, 0};
}

CompiledExpression* packExpression(const CompiledExpression& record, void* memory) {
    const RecordShape shape = packedShape(record);
    CompiledExpression* packed = placeRecord(memory, shape);
    std::memcpy(packed->variables, record.variables, sizeof packed->variables);
    std::memcpy(packed->valueStack, record.valueStack, sizeof(int64_t) * static_cast<size_t>(shape.values));
    std::memcpy(packed->queue, record.queue, sizeof(RpnItem) * static_cast<size_t>(shape.queue));
    packed->queueLength = shape.queue;
    packed->valueTop = record.valueTop;
    packed->fastDepth = record.fastDepth;
    packed->reads = record.reads;
    packed->fastLength = shape.fast;
    const FastInstruction* from = record.fast + (record.shape.fast - shape.fast);
    for (int i = 0; i < shape.fast; ++i) {
        FastInstruction& out = packed->fast[i];
        out = from[i];
        // A place outside the record would be a translator's fault: the copy then keeps
        // the interpreter, which needs no places.
        const auto move = [&](const int64_t* place) {
            const int64_t* moved = place ? relocate(place, record, from[i], *packed, out) : nullptr;
            if (place && !moved) packed->fastLength = 0;
            return moved;
        };
        out.operand = move(out.operand);
        out.other = move(out.other);
        out.slot = const_cast<int64_t*>(move(out.slot));
    }
    return packed;
}

CompiledExpressions allocateCompiledExpressions(size_t count) {
    CompiledExpressions records;
    records.stride_ = recordBytes(kFullShape);
    if (count > SIZE_MAX / records.stride_) throw std::bad_alloc();
    // calloc's large blocks are fresh zero pages: only the headers are written here.
    records.memory_.reset(static_cast<unsigned char*>(std::calloc(count, records.stride_)));
    if (!records.memory_) throw std::bad_alloc();
    for (size_t i = 0; i < count; ++i) placeRecord(records.memory_.get() + i * records.stride_, kFullShape);
    return records;
}
