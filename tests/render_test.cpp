#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

#include "engine/conversions.h"
#include "engine/random.h"
#include "engine/render_loop.h"
#include "engine_fixture.h"
#include "instrument_probe.h"

namespace {

class RenderTest : public EngineTest {
protected:
    // One formula on the current program; clamping on, so small values pass unchanged
    // and sample = value * gain / 100 / 1024.
    void play(const char* formula, int key = 69) {
        setFormula(0, formula);
        send(0x90, key, 100);
    }
    static float level(int64_t value) { return static_cast<float>(value) / 1024.0f; }
};

TEST_F(RenderTest, SilenceWithoutVoices) {
    for (float sample : render(256)) EXPECT_EQ(sample, 0.0f);
}

TEST_F(RenderTest, TheFirstSamplesOfKey69SeeTheirTimeAndPhase) {
    play("T");
    std::vector<float> t = render(3);
    EXPECT_EQ(t, (std::vector<float>{level(1), level(2), level(4)}));
    send(0xB0, 123, 0);
    render(1);
    play("P");
    std::vector<float> p = render(3);
    EXPECT_EQ(p, (std::vector<float>{level(2), level(5), level(7)}));
}

TEST_F(RenderTest, ASawtoothRisesAt440HertzWithoutClamping) {
    inside(*synth).clampOutput = false;
    play("P&255");
    std::vector<float> out = render(44100);
    float highest = 0.0f;
    int wraps = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_GE(out[i], 0.0f);
        highest = std::max(highest, out[i]);
        if (i > 0 && out[i] < out[i - 1]) ++wraps;
    }
    EXPECT_EQ(highest, level(255));
    EXPECT_NEAR(wraps, 440, 1);
    EXPECT_NEAR(inside(*synth).voices[0].phase, 112640, 1);
}

TEST_F(RenderTest, ShapingGainAndTheFinalLimit) {
    struct Case {
        const char* formula;
        bool clamp;
        int gain;
        int voices;
        float sample;
    };
    const Case cases[] = {
        {"1000", true, 100, 1, 0.25f},      {"1000", true, 200, 1, 0.5f},      {"1000", true, 100, 4, 1.0f},
        {"1000", true, 100, 5, 1.0f},       {"0-1000", true, 100, 5, -1.0f},   {"0-1", false, 100, 1, level(255)},
        {"256+7", false, 100, 1, level(7)}, {"1", true, 50, 1, 0.0f},          {"3", true, 50, 1, level(1)},
        {"0-3", true, 50, 1, level(-1)},    {"200", true, 150, 1, level(300)},
    };
    for (const Case& c : cases) {
        inside(*synth).clampOutput = c.clamp;
        inside(*synth).gain = c.gain;
        setFormula(0, c.formula);
        for (int v = 0; v < c.voices; ++v) send(0x90, 60 + v, 100);
        EXPECT_EQ(render(2)[1], c.sample) << c.formula << " x" << c.voices << " gain " << c.gain;
        send(0xB0, 123, 0);
        render(1);
    }
}

TEST_F(RenderTest, InterpolationBlendsNeighbouringPhasesTowardZero) {
    // First sample of key 69: phase 2, fraction 0.554195; E - D is 10 times 1.
    inside(*synth).interpolate = true;
    play("P*10");
    EXPECT_EQ(render(1)[0], level(25));
    send(0xB0, 123, 0);
    render(1);
    play("0-P*10");
    EXPECT_EQ(render(1)[0], level(-25));
}

TEST_F(RenderTest, SineAndCosineReadingsKeepThePeriodCount) {
    struct Case {
        const char* formula;
        int offset;
    };
    // Each formula removes the period count, leaving the table reading of the last sample.
    const Case cases[] = {{"S-(P-P%256)", 0}, {"C-(P-P%256)", 64}};
    for (const Case& c : cases) {
        play(c.formula);
        const std::vector<float> out = render(300);
        const int64_t phase = inside(*synth).voices[0].phase;
        EXPECT_GT(phase, 256);
        EXPECT_EQ(out.back(), level(synth->sineTable()[(phase + c.offset) % 256])) << c.formula;
        send(0xB0, 123, 0);
        render(1);
    }
}

TEST_F(RenderTest, TheSecondInterpolationReadingKeepsThePeriodCountOfTheFirst) {
    // Phase 509 advances to 511 (fraction 0.554) on key 69: S = 256 + 124, C = 256 + 254;
    // the second readings are 256 + 128 and 256 + 255, not those of period 512.
    struct Case {
        const char* formula;
        bool interpolate;
        int64_t value;
    };
    const Case cases[] = {{"S", false, 380}, {"C", false, 510}, {"S", true, 382}, {"C", true, 510}, {"P", true, 511}};
    inside(*synth).clampOutput = false;
    for (const Case& c : cases) {
        setFormula(0, c.formula);
        inside(*synth).interpolate = c.interpolate;
        Voice& voice = inside(*synth).voices[0];
        voice = Voice{};
        voice.note = 69;
        voice.velocity = 100;
        voice.phase = 509;
        EXPECT_EQ(render(1)[0], level(c.value & 255)) << c.formula << (c.interpolate ? " lerp" : "");
        EXPECT_EQ(voice.phase, 511);
    }
}

TEST_F(RenderTest, TheTimeScaleSetsTheSpeedOfT) {
    struct Case {
        int timeScale;
        int64_t perSecond;
    };
    const Case cases[] = {{0, 16384}, {25, 40960}, {50, 65536}, {75, 163840}, {100, 262144}};
    for (const Case& c : cases) {
        inside(*synth).timeScale = c.timeScale;
        send(0x90, 69, 100);
        render(44100);
        EXPECT_NEAR(inside(*synth).voices[0].time, c.perSecond, 1) << c.timeScale;
        send(0xB0, 123, 0);
        render(1);
    }
}

TEST_F(RenderTest, PitchBendMovesEverySoundingVoice) {
    send({midiEvent(0x90, 69, 100), midiEvent(0x90, 57, 100), midiEvent(0xE0, 0, 96)});
    render(44100);
    const double up = std::pow(2.0, 1.0 / 12.0);  // half the default range of 2 semitones
    EXPECT_NEAR(inside(*synth).voices[0].phase, 112640 * up, 1);
    EXPECT_NEAR(inside(*synth).voices[1].phase, 56320 * up, 1);
    EXPECT_FLOAT_EQ(static_cast<float>(inside(*synth).pitchBend), 1.0f);
}

TEST_F(RenderTest, EventsFireAtTheirOwnSample) {
    struct Case {
        int deltaFrames;
        int firstSound;  // -1: never
    };
    const Case cases[] = {{0, 0}, {5, 5}, {63, 63}, {64, -1}, {1000, -1}, {-1, -1}};
    for (const Case& c : cases) {
        setFormula(0, "100");
        send(0x90, 69, 100, c.deltaFrames);
        const std::vector<float> out = render(64);
        for (int k = 0; k < 64; ++k) {
            const bool sounding = c.firstSound >= 0 && k >= c.firstSound;
            EXPECT_EQ(out[k], sounding ? level(100) : 0.0f) << c.deltaFrames << " at " << k;
        }
        EXPECT_EQ(synth->queuedCount(), 0);
        send(0xB0, 123, 0);
        render(1);
    }
}

// However a block is cut (at events, into stretches), the voices sound the same and draw
// the same random numbers in the same order: eight voices of formulas that read R, S, C
// and T, gliding, with Lerp on and off, rendered as one block and as blocks of one frame,
// and with an event on every frame (stretches of one frame, and of none where two share one).
TEST_F(RenderTest, HowABlockIsCutChangesNoSample) {
    const char* formulas[] = {"R&255", "S+C", "(P*T)>>8", "R*P>>9", "P&255", "T/(P%7+1)", "C^R", "P*3"};
    for (const bool lerp : {false, true}) {
        std::vector<float> takes[3];
        for (int take = 0; take < 3; ++take) {
            SetUp();
            inside(*synth).interpolate = lerp;
            inside(*synth).portamento = 40;
            inside(*synth).clampOutput = false;
            for (int v = 0; v < 8; ++v) setFormula(v, formulas[v]);
            for (int v = 0; v < 8; ++v) send({midiEvent(0xC0, v, 0), midiEvent(0x90, 40 + 5 * v, 60 + v)});
            render(1);
            send(0x90, 90, 100);  // the last voice glides
            inside(*synth).random = random15::Generator(7);
            if (take == 0) {
                takes[take] = render(700);
            } else if (take == 1) {
                for (int k = 0; k < 700; ++k) takes[take].push_back(render(1)[0]);
            } else {
                for (int k = 0; k < 700; ++k) send(0xB0, 7, 100, k);  // read and passed over
                send(0xB0, 7, 100, 350);
                takes[take] = render(700);
            }
        }
        EXPECT_EQ(takes[1], takes[0]) << "lerp " << lerp;
        EXPECT_EQ(takes[2], takes[0]) << "lerp " << lerp;
    }
}

// A voice's stretch as one call of machine code, and the fast form a column of samples
// at a time, play what the formula called sample by sample plays: the counters, R, S, C,
// Lerp's blend and saturation, the shape and the gain included; beside them a gliding
// voice and extreme steps take the other loops' paths, and a formula that spills more
// than the columns hold is run sample by sample.
TEST_F(RenderTest, TheStretchAndColumnLoopsPlayWhatTheFormulaPlaysSampleBySample) {
    struct Case {
        const char* formula;
        bool lerp, clamp;
        int gain, timeScale;
        int oversample = 0;  // the setting: 2x from 1, 4x from 2
    };
    const Case cases[] = {
        {"R", false, false, 100, 100},
        {"S+C-R", true, false, 37, 100},
        {"(P*T)>>8", true, true, 200, 100},
        {"T/(P%7+1)-P*V*M", false, true, 1, 100},
        {"P&1?~(1<<63):1<<63", true, false, 100, 100},  // Lerp's sum past both ends of the range
        {"P&1?~(1<<63):1<<63", true, true, 100, 100},
        {"P*3+C", true, false, 100, INT32_MAX},  // a time step past the loop's bound
        {"((P+1)*(T+2))^((P*3)/(R-4))", true, false, 100, 100},
        {"(P*2)-((T*3)-((R*5)-((P*7)-((T*9)-((R*11)-((P*13)-((T*15)-((R*17)-((P*19)-T)))))))))", false, true, 100, 100},
        {"S+C-R", true, false, 37, 100, 2},  // oversampled: four values a sample
    };
    for (const Case& c : cases) {
        std::vector<float> takes[3];
        for (int take = 0; take < 3; ++take) {
            SetUp();
            inside(*synth).interpolate = c.lerp;
            inside(*synth).clampOutput = c.clamp;
            inside(*synth).gain = c.gain;
            inside(*synth).timeScale = c.timeScale;
            inside(*synth).portamento = 40;
            inside(*synth).modWheel = 5;
            synth->setSetting(engine::Setting::Oversample, c.oversample);
            setFormula(0, c.formula);
            ASSERT_NE(synth->programRecord(0).stretch, nullptr) << c.formula;
            send({midiEvent(0x90, 40, 50), midiEvent(0x90, 69, 100), midiEvent(0xE0, 0, 90)});
            render(1);
            send(0x90, 100, 127);  // glides from the last note
            inside(*synth).random = random15::Generator(11);
            std::vector<float> left(600), right(600);
            if (take == 0)
                synth->render(left.data(), right.data(), 600);
            else if (take == 1)
                synth->renderWith(left.data(), right.data(), 600, engine::FastFormOnly{});
            else
                synth->renderWith(left.data(), right.data(), 600,
                                  [](CompiledExpression& code, int32_t) { return runExpression(code); });
            takes[take] = left;
        }
        EXPECT_EQ(takes[0], takes[2]) << "stretch: " << c.formula << " lerp " << c.lerp << " clamp " << c.clamp;
        EXPECT_EQ(takes[1], takes[2]) << "columns: " << c.formula << " lerp " << c.lerp << " clamp " << c.clamp;
    }
}

// The words, on every path: a note of key 60 struck at 5 quarter notes into a song that
// plays at 150 BPM, with its channel's pressure and controller 74 set before it and its
// key's pressure from frame 10.
TEST_F(RenderTest, TheWordsReadTheSongAndTheNote) {
    const auto beat = [](int64_t n) { return (5 * kBeatUnits * 60 * 44100 + n * 150 * kBeatUnits) / (60 * 44100); };
    const struct {
        const char* formula;
        std::function<int64_t(int64_t)> value;
    } cases[] = {
        {"beat>>10&255", [&](int64_t n) { return beat(n) >> 10 & 255; }},
        {"(beat-start)>>5", [&](int64_t n) { return (beat(n) - beat(0)) >> 5; }},
        {"bar>>12", [](int64_t) { return 4 * kBeatUnits >> 12; }},
        {"note+gate", [](int64_t) { return 61; }},
        {"pressure", [](int64_t n) { return n < 10 ? 77 : 99; }},
        {"TIMBRE", [](int64_t) { return 20; }},
    };
    for (const auto& c : cases) {
        std::vector<float> takes[3];
        for (int take = 0; take < 3; ++take) {
            language = Language::Extended;
            SetUp();
            setFormula(0, c.formula);
            ASSERT_NE(synth->programRecord(0).stretch, nullptr) << c.formula;
            engine::TransportReport song;
            song.playing = song.hasPosition = song.hasTempo = true;
            song.quarterNotes = 5.0;
            song.tempo = 150.0;
            ASSERT_TRUE(synth->queueTransport(song, 0));
            send({midiEvent(0xD0, 77, 0), midiEvent(0xB0, 74, 20), midiEvent(0x90, 60, 100),
                  midiEvent(0xA0, 60, 99, 10), midiEvent(0xA1, 60, 5, 20), midiEvent(0xD1, 6, 0, 30)});
            std::vector<float> left(300), right(300);
            if (take == 0)
                synth->render(left.data(), right.data(), 300);
            else if (take == 1)
                synth->renderWith(left.data(), right.data(), 300, engine::FastFormOnly{});
            else
                synth->renderWith(left.data(), right.data(), 300,
                                  [](CompiledExpression& code, int32_t) { return runExpression(code); });
            takes[take] = left;
        }
        for (int64_t n = 0; n < 300; ++n)
            ASSERT_EQ(takes[0][n], level(std::clamp<int64_t>(c.value(n), -256, 256))) << c.formula << " at " << n;
        EXPECT_EQ(takes[1], takes[0]) << "columns: " << c.formula;
        EXPECT_EQ(takes[2], takes[0]) << "sample by sample: " << c.formula;
    }
}

// Each side of a stereo formula plays as its formula alone would, on its own output, beside
// a voice of one formula on both.
TEST_F(RenderTest, EachSideOfAStereoFormulaPlaysAsItsFormulaAlone) {
    const struct {
        const char* stereo;
        const char* left;
        const char* right;
        bool lerp;
    } cases[] = {
        {"P*3+R,T^R", "P*3+R", "T^R", false},
        {"S>>2,(C+beat)>>3", "S>>2", "(C+beat)>>3", true},
        {"P&255,R&beat", "P&255", "R&beat", false},
    };
    const auto play = [&](const char* zero, bool lerp, bool fastForm) {
        language = Language::Extended;
        SetUp();
        inside(*synth).interpolate = lerp;
        inside(*synth).clampOutput = false;
        setFormula(0, zero);
        setFormula(1, "T*P>>7");
        send({midiEvent(0x90, 60, 100), midiEvent(0xC0, 1, 0, 100), midiEvent(0x90, 67, 90, 200),
              midiEvent(0x80, 60, 0, 700)});
        std::vector<float> left(1000), right(1000);
        if (fastForm)
            synth->renderWith(left.data(), right.data(), 1000, engine::FastFormOnly{});
        else
            synth->render(left.data(), right.data(), 1000);
        return std::pair{left, right};
    };
    for (const auto& c : cases) {
        for (bool fastForm : {false, true}) {
            const auto [left, right] = play(c.stereo, c.lerp, fastForm);
            EXPECT_EQ(left, play(c.left, c.lerp, fastForm).first) << c.stereo << (fastForm ? " (fast form)" : "");
            EXPECT_EQ(right, play(c.right, c.lerp, fastForm).first) << c.stereo << (fastForm ? " (fast form)" : "");
            EXPECT_NE(left, right) << c.stereo;
        }
    }
}

// The guide's examples of words and stereo compile and sound, a stereo one differently on
// each side.
TEST_F(RenderTest, TheGuidesExamplesOfTheExtendedLanguageSound) {
    std::ifstream guide(BYTONE_GUIDE);
    ASSERT_TRUE(guide) << BYTONE_GUIDE;
    std::vector<std::string> examples;
    bool inChapter = false;
    for (std::string line; std::getline(guide, line);) {
        if (line.rfind("## ", 0) == 0) inChapter = line == "## The song, the note, and stereo";
        if (inChapter && line.rfind("    ", 0) == 0) examples.push_back(line.substr(4, line.find('#') - 4));
    }
    ASSERT_GE(examples.size(), 10u);
    for (const std::string& example : examples) {
        language = Language::Extended;
        SetUp();
        setFormula(0, example.c_str());
        send({midiEvent(0xD0, 100, 0), midiEvent(0xB0, 74, 90), midiEvent(0x90, 64, 100)});
        std::vector<float> left(44100), right(44100);
        synth->render(left.data(), right.data(), 44100);
        EXPECT_GT(std::count_if(left.begin(), left.end(), [](float x) { return x != 0; }), 4410) << example;
        EXPECT_EQ(left != right, example.find(',') != std::string::npos) << example;
    }
}

// The whole part a counter takes from its fraction, at every magnitude: below 1 and NaN
// nothing, then the whole part wrapped modulo 2^64; infinity resets the fraction.
TEST(WholePart, MovesOutOfTheFractionAtEveryMagnitude) {
    struct Case {
        double fraction;
        int64_t whole;
        double left;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0.5, 0, 0.5},
        {-3.5, 0, -3.5},
        {1.0, 1, 0.0},
        {2.75, 2, 0.75},
        {4503599627370495.5, 4503599627370495, 0.5},  // the last with a half below 2^52
        {4503599627370496.0, 4503599627370496, 0.0},
        {9223372036854775808.0, std::numeric_limits<int64_t>::min(), 0.0},  // 2^63 wraps
        {18446744073709555712.0, 4096, 0.0},                                // 2^64 + 4096
        {inf, 0, 0.0},
    };
    for (const Case& c : cases) {
        double fraction = c.fraction;
        EXPECT_EQ(takeWholePart(fraction), c.whole) << c.fraction;
        EXPECT_EQ(fraction, c.left) << c.fraction;
    }
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(takeWholePart(nan), 0);
    EXPECT_TRUE(std::isnan(nan));
}

TEST_F(RenderTest, TheModWheelIsM) {
    play("M");
    send(0xB0, 1, 99, 10);
    const std::vector<float> out = render(20);
    EXPECT_EQ(out[9], 0.0f);
    EXPECT_EQ(out[10], level(99));
    EXPECT_EQ(inside(*synth).modWheel, 99);
}

TEST_F(RenderTest, AProgramChangeTakesEffectAtItsSampleForNewNotes) {
    setFormula(0, "10");
    setFormula(3, "20");
    synth->syncProgramDisplay();  // settle the first display refresh
    display.count = 0;
    send({midiEvent(0x90, 60, 100, 0), midiEvent(0xC0, 3, 0, 4), midiEvent(0x90, 64, 100, 8)});
    const std::vector<float> out = render(12);
    EXPECT_EQ(out[7], level(10));
    EXPECT_EQ(out[8], level(30));
    EXPECT_EQ(inside(*synth).currentProgram, 3);
    EXPECT_EQ(inside(*synth).voices[0].program, 0);
    EXPECT_EQ(inside(*synth).voices[1].program, 3);
    EXPECT_EQ(display.count, 1);

    send(0xC0, 3, 0);
    render(4);
    EXPECT_EQ(display.count, 1);
}

TEST_F(RenderTest, AnEmptyBlockStillEndsLikeABlock) {
    send(0x90, 69, 100);
    synth->render(nullptr, nullptr, 0);
    EXPECT_EQ(synth->queuedCount(), 0);
    EXPECT_EQ(display.count, 1);  // the first display refresh
    EXPECT_EQ(inside(*synth).voices[0].note, -1);
    synth->render(nullptr, nullptr, -5);
    synth->render(nullptr, nullptr, 16);
}

TEST_F(RenderTest, ARateThatIsNotPositiveKeepsTheLastOne) {
    synth->setSampleRate(22050.0f);
    play("P");
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].phase, 5);  // 2.554195 steps a sample at 44,100 Hz, twice that here
    synth->setSampleRate(0.0f);
    synth->setSampleRate(-1.0f);
    synth->setSampleRate(NAN);
    render(1);
    EXPECT_EQ(inside(*synth).voices[0].phase, 10);
}

TEST_F(RenderTest, ExtremeSettingsKeepTheOutputDefined) {
    const int32_t extremes[] = {INT32_MIN, -1000, 0, 99, 100, 101, 1000, INT32_MAX};
    for (int32_t portamento : extremes) {
        for (int32_t timeScale : extremes) {
            inside(*synth).polyphony = 1;
            inside(*synth).portamento = portamento;
            inside(*synth).timeScale = timeScale;
            inside(*synth).interpolate = true;
            setFormula(0, "T*P+S");
            send({midiEvent(0x90, 30, 100), midiEvent(0x90, 100, 100, 50), midiEvent(0xE0, 0, 127, 70)});
            for (int block = 0; block < 4; ++block)
                for (float sample : render(128)) ASSERT_TRUE(sample >= -1.0f && sample <= 1.0f);
            send(0xB0, 123, 0);
            render(1);
        }
    }
}

}  // namespace

// The DC filter takes the constant part out of a byte-masked formula within half a second.
TEST_F(RenderTest, TheDcFilterTakesTheConstantPartOut) {
    for (const bool filter : {false, true}) {
        language = Language::Extended;
        SetUp();
        synth->setSetting(engine::Setting::DcFilter, filter);
        inside(*synth).clampOutput = false;
        play("P&255");
        const std::vector<float> out = render(2 * 44100);
        float peak = 0.0f;
        for (float sample : out) peak = std::max(peak, std::abs(sample));
        double sum = 0.0;
        for (size_t i = 44100 / 2; i < out.size(); ++i) sum += out[i];
        const double mean = sum / static_cast<double>(out.size() - 44100 / 2);
        EXPECT_EQ(std::abs(mean) < 0.01 * peak, filter) << "mean " << mean << ", peak " << peak;
    }
}

// A note's start through each factor: its click (the step's rise from sample to sample)
// peaks at the latency the instrument reports, at most 1.5 ms.
TEST_F(RenderTest, TheReportedLatencyIsTheDelayOfAClick) {
    for (const int exponent : {0, 1, 2, 3}) {
        language = Language::Extended;
        SetUp();
        synth->setSetting(engine::Setting::Oversample, exponent);
        play("200");
        const std::vector<float> out = render(200);
        int32_t peak = 0;
        for (int32_t n = 1; n < 200; ++n)
            if (out[n] - out[n - 1] > out[peak] - (peak ? out[peak - 1] : 0.0f)) peak = n;
        EXPECT_EQ(synth->latency(), peak) << exponent;
        EXPECT_LE(synth->latency() * 1000 / 44100.0, 1.5) << "milliseconds";
        EXPECT_NEAR(out[199], 200.0f / 1024, 1e-4f) << exponent;
    }
}
