// Saving and restoring the instrument's state as the host's opaque chunk.
#include "chunk.h"

#include <cstring>

#include "bytone.h"

VstInt32 Bytone::getChunk(void** data, bool) {
    if (!data) return 0;
    std::lock_guard<std::mutex> hold(bankLock);
    *data = chunkBuffer;
    return writeChunk(*this, chunkBuffer) * 4;
}

VstInt32 Bytone::setChunk(void* data, VstInt32 byteSize, bool) {
    if (byteSize < 0 || byteSize > kChunkCapacityBytes || (!data && byteSize > 0)) return 0;
    std::lock_guard<std::mutex> hold(bankLock);
    // A host may hand back the very buffer that getChunk gave it.
    if (byteSize > 0) std::memmove(chunkBuffer, data, static_cast<size_t>(byteSize));
    readChunk(*this, chunkBuffer, byteSize / 4);
    compileDirtyPrograms();
    displayDirty = true;
    return 0;
}
