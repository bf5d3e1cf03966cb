// The instrument's whole state through a host's stream, which reads and writes in pieces
// of its own choosing. [main thread] Both calls, as the formats' state calls come.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../engine/full_state.h"

namespace plugin {

// Restores the state that `read(buffer, size)` gives piece by piece (the count of bytes
// read, 0 at the stream's end, negative on a failure). False, with nothing changed, when
// the stream fails, holds more than any state of ours, or is no state of ours.
template <class Read>
bool loadState(engine::Instrument& instrument, Read read) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (;;) {
        const int64_t got = read(buffer, static_cast<int64_t>(sizeof buffer));
        if (got < 0) return false;
        if (got == 0) break;
        // A host that says it read more than it was asked for is taken at the buffer's size.
        bytes.insert(bytes.end(), buffer, buffer + std::min<int64_t>(got, sizeof buffer));
        if (bytes.size() > engine::kMaxFullStateBytes) return false;
    }
    return engine::restoreFullState(instrument, bytes.data(), bytes.size());
}

// Saves the state through `write(data, size)` (the count of bytes written, 0 or negative
// on a failure), in pieces of at most 1 MiB, as the formats' streams count in 32 bits.
template <class Write>
bool saveState(engine::Instrument& instrument, Write write) {
    const std::vector<uint8_t> state = engine::saveFullState(instrument);
    size_t at = 0;
    while (at < state.size()) {
        const int64_t piece = static_cast<int64_t>(std::min<size_t>(state.size() - at, 1 << 20));
        const int64_t written = write(state.data() + at, piece);
        if (written <= 0) return false;
        at += static_cast<size_t>(std::min(written, piece));
    }
    return !state.empty();
}

}  // namespace plugin
