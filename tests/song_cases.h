// Formulas that read the song and the note, played under a host's transport, with the
// values they must give computed here from the transport: for the CLAP, VST3 and LV2 host
// tests, each handing the transport over in its format.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/full_state.h"
#include "engine/instrument.h"

namespace songcases {

constexpr double kRate = 48000.0;
constexpr int64_t kUnits = 32768;  // beat's, a quarter note
constexpr int64_t kPerMinute = 60 * 48000;

// What the host says of its transport from a frame on; a playing transport moves on from
// it at its tempo, a stopped one repeats it.
struct Report {
    int64_t frame;
    bool playing;
    double quarterNotes, tempo;
    int32_t numerator = 4, denominator = 4;
};

struct Scenario {
    const char* name;
    std::vector<Report> reports;  // the first at frame 0
    int64_t frames;
    // beat at each sample, exactly, and the length of a bar in beat's units
    std::function<int64_t(int64_t)> beat;
    int64_t barLength = 4 * kUnits;
};

// Units `samples` on from `units` at a whole `tempo`, rounded down.
inline int64_t unitsOn(int64_t units, int64_t samples, int64_t tempo) {
    const int64_t sum = units * kPerMinute + samples * tempo * kUnits;
    return sum / kPerMinute - (sum % kPerMinute != 0 && sum < 0);
}

inline const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"playing at 120 from the start", {{0, true, 0.0, 120}}, 60000, [](int64_t n) { return unitsOn(0, n, 120); }},
        {"stopped at bar 3: runs on",
         {{0, false, 8.0, 120}},
         30000,
         [](int64_t n) { return unitsOn(8 * kUnits, n, 120); }},
        {"a loop's jump inside a block",
         {{0, true, 0.0, 120}, {700, true, 0.0, 120}},
         30000,
         [](int64_t n) { return n < 700 ? unitsOn(0, n, 120) : unitsOn(0, n - 700, 120); }},
        // At frame 750 the song is at 1024 units, 1/32 of a quarter note: then 90 BPM.
        {"a tempo change inside a block",
         {{0, true, 0.0, 120}, {750, true, 0.03125, 90}},
         30000,
         [](int64_t n) { return n < 750 ? unitsOn(0, n, 120) : unitsOn(1024, n - 750, 90); }},
        {"3/4", {{0, true, 0.0, 120, 3, 4}}, 160000, [](int64_t n) { return unitsOn(0, n, 120); }, 3 * kUnits},
        {"7/8 at 140",
         {{0, true, 0.0, 140, 7, 8}},
         160000,
         [](int64_t n) { return unitsOn(0, n, 140); },
         7 * kUnits / 2},
    };
    return all;
}

// What the host says at `frame`: the last report at or before it, moved on if it plays.
inline Report reportAt(const Scenario& s, int64_t frame) {
    Report now = s.reports.front();
    for (const Report& r : s.reports)
        if (r.frame <= frame) now = r;
    if (now.playing) now.quarterNotes += static_cast<double>(frame - now.frame) * now.tempo / 60.0 / kRate;
    now.frame = frame;
    return now;
}

// The frames inside [from, from + frames) at which the scenario says something new.
inline std::vector<int64_t> reportFramesIn(const Scenario& s, int64_t from, int64_t frames) {
    std::vector<int64_t> at;
    for (const Report& r : s.reports)
        if (r.frame > from && r.frame < from + frames) at.push_back(r.frame);
    return at;
}

// A formula and its value at each sample under a scenario; every case strikes key 60 at
// frame 0 on channel 1 after its channel pressure (77) and controller 74 (20).
struct Case {
    const char* formula;
    std::function<int64_t(const Scenario&, int64_t)> value;
    std::function<int64_t(const Scenario&, int64_t)> right = nullptr;  // a stereo formula's right side
};

inline int64_t barOf(const Scenario& s, int64_t n) {
    const int64_t beat = s.beat(n);
    return (beat / s.barLength - (beat % s.barLength != 0 && beat < 0)) * s.barLength;
}

inline const std::vector<Case>& songCases() {
    static const std::vector<Case> all = {
        {"beat&255", [](const Scenario& s, int64_t n) { return s.beat(n) & 255; }},
        {"beat>>8&255", [](const Scenario& s, int64_t n) { return s.beat(n) >> 8 & 255; }},
        {"bar>>13", [](const Scenario& s, int64_t n) { return barOf(s, n) >> 13; }},
    };
    return all;
}
// Under the first scenario only.
inline const std::vector<Case>& noteCases() {
    static const std::vector<Case> all = {
        {"(beat-start)>>8&255", [](const Scenario& s, int64_t n) { return (s.beat(n) - s.beat(0)) >> 8 & 255; }},
        {"note+gate", [](const Scenario&, int64_t) { return 61; }},
        {"pressure", [](const Scenario&, int64_t) { return 77; }},
        {"timbre", [](const Scenario&, int64_t) { return 20; }},
        {"note,beat>>8&255", [](const Scenario&, int64_t) { return 60; },
         [](const Scenario& s, int64_t n) { return s.beat(n) >> 8 & 255; }},
    };
    return all;
}
// The MIDI before the note and the note, as status, data 1, data 2.
inline const std::vector<std::vector<int>> kNoteMidi = {{0xD0, 77, 0}, {0xB0, 74, 20}, {0x90, 60, 100}};

// A state of these formats whose program 1 plays `formula`.
inline std::vector<uint8_t> stateWith(const char* formula) {
    engine::Instrument instrument(Language::Extended);
    {
        std::lock_guard<std::mutex> hold(instrument.bankLock());
        instrument.storeFormula(0, formula, std::strlen(formula));
    }
    return engine::saveFullState(instrument);
}

// The sample a formula's value gives under the default settings (clamped, gain 100).
inline float sampleOf(int64_t value) {
    return static_cast<float>(value < -256 ? -256 : value > 256 ? 256 : value) / 1024.0f;
}

// The first sample of both outputs where a case does not play as it must: -1 where none.
inline int64_t firstWrong(const Case& c, const Scenario& s, const std::vector<float>& left,
                          const std::vector<float>& right) {
    for (int64_t n = 0; n < s.frames; ++n)
        if (left.at(n) != sampleOf(c.value(s, n)) || right.at(n) != sampleOf((c.right ? c.right : c.value)(s, n)))
            return n;
    return -1;
}

// Every song case under every scenario and every note case under the first, each played
// by `play(formula, scenario)`, which returns the left and right outputs.
template <class Play>
void expectEveryCase(Play&& play) {
    const auto check = [&](const Case& c, const Scenario& s) {
        const auto [left, right] = play(c.formula, s);
        EXPECT_EQ(firstWrong(c, s, left, right), -1) << c.formula << ", " << s.name;
    };
    for (const Scenario& s : scenarios())
        for (const Case& c : songCases()) check(c, s);
    for (const Case& c : noteCases()) check(c, scenarios().front());
}

}  // namespace songcases
