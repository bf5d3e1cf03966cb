#include "demo_song.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kBeat = 0.5;  // 120 beats a minute
constexpr double kBar = 4 * kBeat;

struct Drum {
    int program;
    const char* name;
    const char* formula;
    int key;
};

// Short decaying formulas for the drum kit, on free program slots.
constexpr Drum kDrums[] = {
    {40, "Kick", "(T<12000)*((S&255)-128)*(12000-T)/6000", 36},
    {41, "Snare", "(T<9000)*((R&255)-128)*(9000-T)/9000", 38},
    {42, "Hat", "(T<2500)*((R&127)-64)*(2500-T)/2500", 42},
};
constexpr int kWheelPad = 43;
constexpr int kSaw = 0, kPhat = 4, kPulseVelocity = 2, kWideBass = 14, kTriangle = 23, kFeedback = 35, kDigiPad = 21;

class Score {
public:
    explicit Score(int64_t rate) : rate_(rate) {}

    void message(double seconds, int status, int data1, int data2) {
        events_.push_back(
            {frame(seconds), static_cast<uint8_t>(status), static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)});
    }
    void note(double start, double length, int key, int velocity, int channel = 0) {
        message(start, 0x90 | channel, key, velocity);
        message(start + length, 0x80 | channel, key, 0);
    }
    void chord(double start, double length, std::initializer_list<int> keys, int velocity) {
        for (int key : keys) note(start, length, key, velocity);
    }
    void program(double seconds, int program) { message(seconds, 0xC0, program, 0); }
    void drumBar(double start, bool fill) {
        for (int eighth = 0; eighth < 8; ++eighth) {
            const double t = start + eighth * kBeat / 2;
            note(t, 0.1, 42, eighth % 2 ? 70 : 100, 9);
            if (eighth == 0 || eighth == 4 || (fill && eighth == 7)) note(t, 0.2, 36, 120, 9);
            if (eighth == 2 || eighth == 6) note(t, 0.2, 38, 110, 9);
        }
    }
    void cue(double seconds, const Bank& bank) { cues_.push_back({frame(seconds), encodeBank(bank)}); }

    RenderPlan plan(double seconds) {
        std::stable_sort(events_.begin(), events_.end(),
                         [](const TimedMidi& a, const TimedMidi& b) { return a.frame < b.frame; });
        RenderPlan p;
        p.events = events_;
        p.cues = cues_;
        p.frames = frame(seconds);
        p.rate = rate_;
        p.meters.push_back({0, {0, 0.0, 60.0 / kBeat, 4, 4, 0.0}});
        return p;
    }

private:
    int64_t frame(double seconds) const { return std::llround(seconds * static_cast<double>(rate_)); }

    int64_t rate_;
    std::vector<TimedMidi> events_;
    std::vector<StateCue> cues_;
};

}  // namespace

RenderPlan demoPlan(const Bank& start, int64_t rate) {
    Score score(rate);
    Bank bank = start;
    for (const Drum& drum : kDrums) {
        BankProgram& p = bank.programs[drum.program];
        std::snprintf(p.name, sizeof p.name, "%03d %s", drum.program + 1, drum.name);
        std::snprintf(p.formula, sizeof p.formula, "%s", drum.formula);
        p.drumKey = drum.key;
    }
    std::snprintf(bank.programs[kWheelPad].name, sizeof bank.programs[kWheelPad].name, "%03d Wheel Pad", kWheelPad + 1);
    std::snprintf(bank.programs[kWheelPad].formula, sizeof bank.programs[kWheelPad].formula, "%s",
                  "((P&255)^(P*M/32&255))*3/4");  // three of them and the drums stay below full scale
    bank.polyphony = 8;
    bank.portamento = 100;
    score.cue(0.0, bank);

    // Bars 1-4: a chord a bar, each on another preset; the drums come in at bar 3.
    const int progressions[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
    const int presets[4] = {kPhat, kTriangle, kPulseVelocity, kFeedback};
    for (int bar = 0; bar < 4; ++bar) {
        const double t = bar * kBar;
        score.program(t, presets[bar]);
        for (int key : progressions[bar]) score.note(t, kBar - 0.25, key, 70 + 10 * bar);
        if (bar >= 2) score.drumBar(t, bar == 3);
    }

    // Bars 5-6: a mono legato bass line; every note starts before the last one ends, so
    // the voice glides instead of restarting.
    Bank mono = bank;
    mono.polyphony = 1;
    mono.portamento = 60;
    score.cue(4 * kBar, mono);
    score.program(4 * kBar, kWideBass);
    const int line[] = {33, 45, 40, 43, 36, 48, 43, 38};
    for (int i = 0; i < 8; ++i) score.note(4 * kBar + i * kBeat, kBeat + 0.1, line[i], 110);

    // Bars 7-8: a pad under the mod wheel, bent up a whole tone and back, with drums.
    score.cue(6 * kBar, bank);
    score.program(6 * kBar, kWheelPad);
    score.chord(6 * kBar, 2 * kBar - 0.25, {57, 60, 64}, 90);
    for (int step = 0; step <= 64; ++step) score.message(6 * kBar + step * kBar / 32, 0xB0, 1, std::min(127, step * 2));
    for (int step = 0; step <= 32; ++step) {
        const double t = 6.5 * kBar + step * kBeat / 16;
        const int position = 8192 + static_cast<int>(8191 * std::sin(step * 3.14159265358979 / 32));
        score.message(t, 0xE0, position & 0x7F, position >> 7);
    }
    score.drumBar(6 * kBar, false);
    score.drumBar(7 * kBar, true);

    // Bars 9-10: a melody over the saw and the digital pad, and the last chord.
    score.program(8 * kBar, kDigiPad);
    const int melody[] = {69, 72, 76, 74, 72, 69, 67, 64};
    for (int i = 0; i < 8; ++i) score.note(8 * kBar + i * kBeat / 2, kBeat / 2 - 0.02, melody[i], 90);
    score.chord(8 * kBar, kBar - 0.1, {45, 57}, 60);
    score.drumBar(8 * kBar, true);
    score.program(9 * kBar, kSaw);
    score.chord(9 * kBar, kBar, {57, 60, 64}, 80);
    score.note(9 * kBar, 0.2, 36, 127, 9);
    return score.plan(10 * kBar + 0.5);
}
