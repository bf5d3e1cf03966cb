// The 38 preset formulas written as C++ with the language's semantics (the same
// operator functions), compiled by the compiler: the limit an evaluator can approach.
// Inline, so that a loop over a block can have a formula inlined into it.
#pragma once

#include <cstdint>

#include "expr/intops.h"

using NativeFormula = int64_t (*)(const int64_t* variables);

constexpr int kNativePresetCount = 38;

namespace native_presets {

using intops::add;
using intops::div;
using intops::mul;
using intops::rem;
using intops::shr;
using intops::sub;

// Variables by letter.
#define P v['P' - 'A']
#define T v['T' - 'A']
#define V v['V' - 'A']
#define R v['R' - 'A']

// Each follows its formula's parse: & ^ | share one level, shifts bind looser than + -,
// and every operator of a level associates to the left.
inline int64_t saw(const int64_t* v) { return P & 255; }
inline int64_t pulse(const int64_t* v) { return P & 128; }
inline int64_t pulseVelocity(const int64_t* v) { return div(mul(P & 256, V), 128); }
inline int64_t sawDecay(const int64_t* v) { return div(mul(P & 255, sub(255, div(T, 500)) & 255), 256); }
inline int64_t phat(const int64_t* v) { return add(P & 255, div(mul(P, 257), 256) & 127); }
inline int64_t ringy(const int64_t* v) { return (P & 255) ^ (div(mul(P, 257), 256) & 127); }
inline int64_t pulsating(const int64_t* v) { return (div(P, 11) ^ (div(P, 12) & 4095)) & (T & 255); }
inline int64_t radio(const int64_t* v) { return div(mul(P, P), 200) & 255; }
inline int64_t velocity(const int64_t* v) { return P & V; }
inline int64_t arp1(const int64_t* v) { return mul(P, div(T, 4096) & 3) & 255; }
inline int64_t hover(const int64_t* v) { return P & (div(mul(P, 250), 256) & 255); }
inline int64_t harsh(const int64_t* v) { return (add(P, shr(P, 1)) ^ shr(P, 2)) & 255; }
inline int64_t noiseHit(const int64_t* v) { return shr(mul(P, P), div(T, 100)) & 255; }
inline int64_t copter(const int64_t* v) { return R & 255 & shr(P & 0xFF0, 4); }
inline int64_t wideBass(const int64_t* v) { return sub(P & 255, div(mul(P, 256), 257) & 128); }
inline int64_t space(const int64_t* v) { return rem(P, 256) ^ rem(P, 255) ^ rem(P, 254); }
inline int64_t glissDown(const int64_t* v) { return div(mul(T, 100), div(P, 2000)) & 128; }
inline int64_t synthKey(const int64_t* v) { return div(mul(P, 10), div(P, 200)) & 255; }
inline int64_t metallic1(const int64_t* v) { return div(mul(P, 1000000), T) & 255; }
inline int64_t metallic2(const int64_t* v) { return div(mul(P, 10000), div(T, 10)) & 128; }
inline int64_t distortion(const int64_t* v) { return ((add(P, P) ^ T) & div(mul(P, 257), 256)) & 255; }
inline int64_t digiPad(const int64_t* v) { return div(mul(P, 256), 257) & (P ^ div(mul(P, 257), 256)); }
inline int64_t arp2(const int64_t* v) { return mul(rem(div(T, 1500), 6), P) & 256; }
inline int64_t triangle(const int64_t* v) { return ((P & 256) != 0 ? P : ~P) & 255; }
inline int64_t discharge(const int64_t* v) { return P & mul(mul(255, P), P) & 255; }
inline int64_t metal(const int64_t* v) { return mul(mul(P & 255, P), P) & 255; }
inline int64_t groove(const int64_t* v) { return P & (255 & (shr(T, 6) & 255)); }
inline int64_t machineDown(const int64_t* v) { return div(P, shr(T, 4) & 255) & 255; }
inline int64_t siren(const int64_t* v) { return div(mul(P, shr(T, 4) & 255), 256) & 255; }
inline int64_t clicky(const int64_t* v) { return P & div(mul(P, 500), shr(P, 4)) & 255; }
inline int64_t sequencedSaw(const int64_t* v) { return div(P & 255, div(T, 32) & 128) & 255; }
inline int64_t teleport(const int64_t* v) { return div(div(mul(T, T), 100), rem(P, 2000)) & 255; }
inline int64_t arp3(const int64_t* v) { return mul(div(T, 5000), P) & 255; }
inline int64_t patrol(const int64_t* v) { return mul(T, rem(div(T, 1000), 15)) & 255; }
inline int64_t plasticSlide(const int64_t* v) {
    return div(rem(div(mul(T, T), 10000), 250), rem(div(P, 2500), 240)) & 255;
}
inline int64_t feedback(const int64_t* v) { return add(P & 255, mul(shr(T, 12) & 127, shr(T, 4) & 15)) & 255; }
inline int64_t restartingArp(const int64_t* v) { return div(mul(T, 50), div((T & 32767) & P, 3200)) & 255; }
inline int64_t pulsatingBass(const int64_t* v) { return (div(T, 50) ^ div(P, 3) ^ P) & P & 128; }

#undef P
#undef T
#undef V
#undef R

inline constexpr NativeFormula nativePresets[kNativePresetCount] = {
    saw,       pulse,    pulseVelocity, sawDecay,    phat,          ringy,         pulsating,    radio,
    velocity,  arp1,     hover,         harsh,       noiseHit,      copter,        wideBass,     space,
    glissDown, synthKey, metallic1,     metallic2,   distortion,    digiPad,       arp2,         triangle,
    discharge, metal,    groove,        machineDown, siren,         clicky,        sequencedSaw, teleport,
    arp3,      patrol,   plasticSlide,  feedback,    restartingArp, pulsatingBass,
};

}  // namespace native_presets

using native_presets::nativePresets;
