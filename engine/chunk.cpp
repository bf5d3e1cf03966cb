// Saving and restoring the instrument's state as one opaque chunk.
#include "chunk.h"

#include <cstring>

#include "instrument.h"

namespace engine {

int32_t Instrument::saveState(const void** data) {
    if (!data) return 0;
    std::lock_guard<std::mutex> hold(bankLock_);
    *data = chunkBuffer;
    return writeChunk(*this, chunkBuffer) * 4;
}

bool Instrument::restoreState(const void* data, int32_t byteSize) {
    if (byteSize < 0 || byteSize > kChunkCapacityBytes || !chunkIsWhole(data, static_cast<size_t>(byteSize)))
        return false;
    std::lock_guard<std::mutex> hold(bankLock_);
    // A host may hand back the very buffer that saveState gave it.
    std::memmove(chunkBuffer, data, static_cast<size_t>(byteSize));
    readChunk(*this, chunkBuffer, byteSize / 4);
    publishNames();
    compileDirtyPrograms();
    displayDirty = true;
    return true;
}

}  // namespace engine
