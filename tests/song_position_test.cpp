// The song's position as beat and bar read it, against positions computed here from the
// transport: exactly, in whole numbers, for whole tempos and rates.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "engine/song_position.h"
#include "expr/words.h"

namespace {

using engine::SongPosition;
using engine::TransportReport;

constexpr double kRate = 48000.0;

TransportReport playingAt(double quarterNotes, double tempo = 120.0) {
    TransportReport report;
    report.playing = report.hasPosition = report.hasTempo = true;
    report.quarterNotes = quarterNotes;
    report.tempo = tempo;
    return report;
}
TransportReport stoppedAt(double quarterNotes, double tempo = 120.0) {
    TransportReport report = playingAt(quarterNotes, tempo);
    report.playing = false;
    return report;
}
TransportReport meter(int numerator, int denominator) {
    TransportReport report;
    report.hasSignature = true;
    report.numerator = numerator;
    report.denominator = denominator;
    return report;
}

// beat `samples` after `from` quarter notes at a whole `tempo`, rounded down.
int64_t beatAfter(double from, int64_t samples, int64_t tempo) {
    const auto units = static_cast<int64_t>(from * kBeatUnits);
    const auto per = static_cast<int64_t>(60 * kRate);
    const int64_t sum = units * per + samples * tempo * kBeatUnits;
    return sum / per - (sum % per != 0 && sum < 0);
}
int64_t barOf(int64_t beat, int64_t length, int64_t origin = 0) {
    const int64_t from = beat - origin;
    return origin + (from / length - (from % length != 0 && from < 0)) * length;
}

struct Scenario {
    const char* name;
    std::vector<std::pair<int32_t, TransportReport>> reports;  // at their sample, in order
    int32_t samples;
    std::function<int64_t(int64_t)> beat;  // expected at each sample
    int64_t barLength = 4 * kBeatUnits;    // and its bar's start on this grid
    int64_t barOrigin = 0;
};

// Plays a scenario's reports at their samples, in blocks of 256, and compares.
void expectPositions(const Scenario& s) {
    SongPosition song;
    std::vector<int64_t> beats(s.samples), bars(s.samples);
    size_t next = 0;
    for (int32_t at = 0; at < s.samples;) {
        while (next < s.reports.size() && s.reports[next].first <= at) song.follow(s.reports[next++].second);
        int32_t end = std::min(s.samples, at + 256);
        if (next < s.reports.size()) end = std::min(end, s.reports[next].first);
        song.advance(beats.data() + at, bars.data() + at, end - at, kRate);
        at = end;
    }
    int mismatches = 0;
    for (int64_t n = 0; n < s.samples && mismatches < 3; ++n) {
        const int64_t beat = s.beat(n), bar = barOf(beat, s.barLength, s.barOrigin);
        if (beats[n] == beat && bars[n] == bar) continue;
        ++mismatches;
        ADD_FAILURE() << s.name << ": at " << n << " beat " << beats[n] << " bar " << bars[n] << ", expected " << beat
                      << " and " << bar;
    }
}

TEST(SongPosition, FollowsTheHostAndRunsOnWhereItSaysNothing) {
    TransportReport ramp = playingAt(2.0, 100.0);
    ramp.tempoIncrement = 0.001;
    TransportReport hostBar = playingAt(5.0);
    hostBar.hasBarStart = true;
    hostBar.barStart = 4.5;  // a bar the host counts from elsewhere than the grid's
    TransportReport tempoOnly;
    tempoOnly.hasTempo = true;
    tempoOnly.tempo = 90.0;
    const Scenario scenarios[] = {
        {"no host: from 0 at 120", {}, 200000, [](int64_t n) { return beatAfter(0, n, 120); }},
        {"playing, each block's position",
         {{0, playingAt(-1.0, 140)}, {256, playingAt(-1.0 + 256 * 140 / 60.0 / kRate, 140)}},
         30000,
         [](int64_t n) { return beatAfter(-1.0, n, 140); }},
        {"stopped, repeated: runs on",
         {{0, stoppedAt(8)}, {512, stoppedAt(8)}, {1024, stoppedAt(8)}},
         4000,
         [](int64_t n) { return beatAfter(8, n, 120); }},
        {"a seek while stopped",
         {{0, stoppedAt(8)}, {700, stoppedAt(8)}, {1000, stoppedAt(16.25)}},
         3000,
         [](int64_t n) { return n < 1000 ? beatAfter(8, n, 120) : beatAfter(16.25, n - 1000, 120); }},
        {"a loop's jump inside a block",
         {{0, playingAt(15.5)}, {300, playingAt(4.0)}},
         2000,
         [](int64_t n) { return n < 300 ? beatAfter(15.5, n, 120) : beatAfter(4.0, n - 300, 120); }},
        {"a tempo change inside a block",
         {{0, playingAt(1.0)}, {200, tempoOnly}},
         5000,
         [](int64_t n) {
             if (n < 200) return beatAfter(1.0, n, 120);
             const auto per = static_cast<int64_t>(60 * kRate);
             const int64_t sum = kBeatUnits * per + 200 * 120 * kBeatUnits + (n - 200) * 90 * kBeatUnits;
             return sum / per;
         }},
        {"3/4",
         {{0, meter(3, 4)}, {0, playingAt(0)}},
         100000,
         [](int64_t n) { return beatAfter(0, n, 120); },
         3 * kBeatUnits},
        {"7/8",
         {{0, meter(7, 8)}, {0, playingAt(0)}},
         100000,
         [](int64_t n) { return beatAfter(0, n, 120); },
         7 * kBeatUnits / 2},
        {"the host's bar start",
         {{0, hostBar}},
         100000,
         [](int64_t n) { return beatAfter(5.0, n, 120); },
         4 * kBeatUnits,
         9 * kBeatUnits / 2},
        {"a tempo ramp",
         {{0, ramp}},
         20000,
         [](int64_t n) {
             // 100 BPM rising by 0.001 a sample: the sum of the steps so far.
             const double quarters = 2.0 + (100.0 * n + 0.001 * n * (n - 1) / 2.0) / 60.0 / kRate;
             return static_cast<int64_t>(std::floor(quarters * kBeatUnits));
         }},
    };
    for (const Scenario& s : scenarios) expectPositions(s);
}

// A host that rounds its position to 1,920ths of a quarter note at each block (as Ardour
// does) and counts the song's samples: the beat stays exact, through a loop's jump too.
TEST(SongPosition, AHostsRoundedPositionsShakeNoBeat) {
    constexpr int64_t kLoopAt = 9000, kLoopTo = 301;  // back to the song's sample 301
    const auto song = [](int64_t frame) { return frame < kLoopAt ? frame : frame - kLoopAt + kLoopTo; };
    const auto rounded = [](int64_t sample) {
        TransportReport report = playingAt(std::round(sample * 140.0 / 60.0 / kRate * 1920) / 1920, 140);
        report.hasSamples = true;
        report.samples = sample;
        return report;
    };
    Scenario s{"rounded positions", {}, 40000, [&](int64_t n) { return beatAfter(0, song(n), 140); }};
    for (int32_t at = 0; at < s.samples; at += 256) {
        s.reports.push_back({at, rounded(song(at))});
        if (at < kLoopAt && at + 256 > kLoopAt) s.reports.push_back({kLoopAt, rounded(kLoopTo)});
    }
    expectPositions(s);
}

TEST(SongPosition, BeatsThatFallOnASampleAreThatSamples) {
    // At 120 BPM and 48 kHz a quarter note is 24,000 samples: each begins on its sample.
    SongPosition song;
    std::vector<int64_t> beats(256), bars(256);
    for (int64_t at = 0; at < 24000 * 20; at += 256) {
        song.advance(beats.data(), bars.data(), 256, kRate);
        for (int64_t i = 0; i < 256; ++i) {
            const int64_t n = at + i;
            if (n % 24000 == 0) {
                ASSERT_EQ(beats[i], n / 24000 * kBeatUnits) << n;
            }
            if (n % 24000 == 23999) {
                ASSERT_LT(beats[i], (n + 1) / 24000 * kBeatUnits) << n;
            }
        }
    }
}

TEST(SongPosition, ValuesOutOfReasonAreStepsOverNotFaults) {
    SongPosition song;
    TransportReport wild = playingAt(1e300, std::numeric_limits<double>::quiet_NaN());
    wild.hasSignature = true;
    wild.numerator = 0;
    wild.denominator = -3;
    wild.hasBarStart = true;
    wild.barStart = std::numeric_limits<double>::infinity();
    song.follow(wild);
    std::vector<int64_t> beats(256), bars(256);
    song.advance(beats.data(), bars.data(), 256, kRate);
    EXPECT_EQ(beats[255], beatAfter(0, 255, 120));
    EXPECT_EQ(bars[255], 0);
    TransportReport slow = playingAt(0, 1e-9);
    slow.tempoIncrement = -1e300;
    song.follow(slow);
    song.advance(beats.data(), bars.data(), 256, kRate);  // defined, whatever it reads
    EXPECT_LE(beats[255], 0);
}

}  // namespace
