// The instrument's state as the plug-in formats with automatable settings save it: the
// chunk that VST 2.4 saves, with the Gain's and the current program's tags and values
// added before its end tag (a VST 2.4 host keeps the program beside the chunk; these
// formats' hosts restore it from the state). The VST 2.4 reader passes over the unknown
// tags, so it reads such a state and keeps its own Gain and program; these formats read
// a VST 2.4 chunk and keep theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chunk.h"

namespace engine {

class Instrument;

// No state of ours is larger.
constexpr size_t kMaxFullStateBytes = kChunkCapacityBytes + 16;

// [compiling side] The state's bytes.
std::vector<uint8_t> saveFullState(Instrument& instrument);
// [compiling side] Restores a state of ours or a VST 2.4 chunk and compiles what it
// changed; false, with nothing changed, for bytes that are not a whole state of ours
// (cut short, without its end tag, foreign) or are larger than any of ours.
bool restoreFullState(Instrument& instrument, const uint8_t* bytes, size_t size);

}  // namespace engine
