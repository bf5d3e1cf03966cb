// The state chunk: a sequence of 32-bit floats in which tag floats, chosen far outside
// the range of any value, are each followed by a value or a zero-terminated string of
// one float per character. It carries six settings and, for every program, its index,
// name, formula and drum key.
#pragma once

#include <cstdint>

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
}  // namespace chunktag

// The largest chunk: every name at 31 characters and every formula at 1023.
constexpr int kChunkCapacityFloats = 13 + 128 * (8 + 31 + 1023) + 1;  // 135,950
constexpr int kChunkCapacityBytes = kChunkCapacityFloats * 4;         // 543,800
