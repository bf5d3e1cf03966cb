#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "instrument_probe.h"

namespace {

using InstrumentTest = EngineTest;

TEST_F(InstrumentTest, ANewInstanceHoldsThePresetsAndTheDefaults) {
    struct NameCase {
        int program;
        const char* name;
        const char* formula;
    };
    const NameCase cases[] = {
        {0, "001 Saw", "P&255"},
        {5, "006 Ringy", "(P&255)^((P*257/256)&127)"},
        {23, "024 Triangle", "(P&256?P:~P)&255"},
        {37, "038 Pulsating Bass", "(T/50^P/3^P&P)&128"},
        {38, "039 default", "P&255"},
        {127, "128 default", "P&255"},
    };
    for (const NameCase& c : cases) {
        EXPECT_STREQ(inside(*synth).programs[c.program].name, c.name);
        EXPECT_STREQ(inside(*synth).programs[c.program].formula, c.formula);
    }
    for (int i = 0; i < kNumPrograms; ++i) {
        EXPECT_EQ(inside(*synth).programs[i].drumKey, 0);
        EXPECT_FALSE(synth->isMarked(i));
        EXPECT_TRUE(synth->programRecord(i).isCompiled()) << inside(*synth).programs[i].name;
    }
    EXPECT_EQ(inside(*synth).currentProgram, 0);
    EXPECT_EQ(inside(*synth).portamento, 100);
    EXPECT_EQ(inside(*synth).timeScale, 50);
    EXPECT_EQ(inside(*synth).polyphony, 8);
    EXPECT_EQ(inside(*synth).gain, 100);
    EXPECT_EQ(inside(*synth).scopeZoom, 0);
    EXPECT_FALSE(inside(*synth).interpolate);
    EXPECT_TRUE(inside(*synth).clampOutput);
    EXPECT_TRUE(inside(*synth).displayDirty);
    EXPECT_EQ(inside(*synth).bendRange, 2.0);
    for (const Voice& voice : inside(*synth).voices) EXPECT_EQ(voice.note, -1);
}

TEST_F(InstrumentTest, TheSineTableHasItsKnownEntries) {
    const uint8_t* table = synth->sineTable();
    EXPECT_EQ(table[0], 128);
    EXPECT_EQ(table[64], 255);
    EXPECT_EQ(table[128], 128);
    EXPECT_EQ(table[192], 1);
    EXPECT_EQ(table[255], 124);
    EXPECT_EQ(table[44], 240);
    EXPECT_EQ(table[108], 187);
    for (int i = 187; i <= 197; ++i) EXPECT_EQ(table[i], 1) << i;
    EXPECT_EQ(std::count(table, table + 256, 255), 1);
    EXPECT_EQ(*std::min_element(table, table + 256), 1);
}

TEST_F(InstrumentTest, ThePresetsComputeTheirFormulas) {
    CompiledExpression& triangle = synth->programRecord(23);
    triangle.variable('P') = 300;
    EXPECT_EQ(runExpression(triangle), 44);
}

TEST_F(InstrumentTest, TheFirstSyncRefreshesTheDisplayOnce) {
    synth->syncProgramDisplay();
    EXPECT_EQ(display.count, 1);
    EXPECT_FALSE(inside(*synth).displayDirty);
    synth->syncProgramDisplay();
    EXPECT_EQ(display.count, 1);
}

TEST_F(InstrumentTest, AProgramChangeIsCompiledAndShownAtTheNextSync) {
    synth->syncProgramDisplay();
    display.count = 0;
    std::strcpy(inside(*synth).programs[5].formula, "P*5");  // an edit that waits for the walk
    inside(*synth).programs[5].needsCompile = true;
    synth->setProgram(5);
    EXPECT_TRUE(synth->isMarked(5));
    synth->syncProgramDisplay();
    EXPECT_EQ(synth->program(), 5);
    EXPECT_FALSE(synth->isMarked(5));
    synth->programRecord(5).variable('P') = 3;
    EXPECT_EQ(runExpression(synth->programRecord(5)), 15);
    EXPECT_EQ(display.count, 1);
    EXPECT_EQ(inside(*synth).lastSeenProgram, 5);
}

TEST_F(InstrumentTest, SetProgramKeepsTheNumberInsideTheBank) {
    struct Case {
        int32_t program;
        int32_t selected;
    };
    const Case cases[] = {{127, 127}, {130, 127}, {3, 3}, {-1, 3}, {INT32_MIN, 3}, {0, 0}};
    for (const Case& c : cases) {
        synth->setProgram(c.program);
        EXPECT_EQ(inside(*synth).currentProgram, c.selected) << c.program;
    }
}

TEST_F(InstrumentTest, ProgramNamesAreCutToTheirFields) {
    synth->setProgramName("0123456789012345678901234567890123456789");
    EXPECT_STREQ(inside(*synth).programs[0].name, "0123456789012345678901234567890");
    synth->setProgramName("short name");
    EXPECT_STREQ(inside(*synth).programs[0].name, "short name");
    inside(*synth).displayDirty = false;
    synth->setProgramName(nullptr);
    EXPECT_STREQ(inside(*synth).programs[0].name, "short name");
    EXPECT_FALSE(inside(*synth).displayDirty);

    synth->setProgramName("abcdefghijklmnopqrstuvwxyz01234");
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    synth->programName(0, buffer, 25);
    EXPECT_STREQ(buffer, "abcdefghijklmnopqrstuvwx");  // as a VST 2.4 host's buffer takes it
    EXPECT_EQ(buffer[25], '#');
    synth->programName(0, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "abcdefghijklmnopqrstuvwxyz01234");
    synth->programName(128, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

TEST_F(InstrumentTest, NamesRestoredFromAChunkAreReadWithoutTheLock) {
    std::snprintf(inside(*synth).programs[7].name, kNameSize, "%s", "renamed in a chunk");
    const void* data = nullptr;
    const int32_t bytes = synth->saveState(&data);
    auto other = std::make_unique<engine::Instrument>();
    ASSERT_TRUE(other->restoreState(data, bytes));
    std::lock_guard<std::mutex> held(other->bankLock());  // a reader never needs it
    char name[kNameSize];
    other->programName(7, name, sizeof name);
    EXPECT_STREQ(name, "renamed in a chunk");
}

TEST_F(InstrumentTest, SettingsKeepTheirRangeOrTheirDefault) {
    using engine::Setting;
    struct Case {
        Setting setting;
        int32_t value, stored;
    };
    const Case cases[] = {
        {Setting::Poly, 0, 1},      {Setting::Poly, 9, 8},     {Setting::Porta, 0, 1},     {Setting::Time, 101, 100},
        {Setting::Gain, 1000, 200}, {Setting::Lerp, 5, 1},     {Setting::Clamp, -1, 0},    {Setting::ScopeZoom, 8, 7},
        {Setting::DrumKey, 0, 0},   {Setting::DrumKey, 5, 23}, {Setting::DrumKey, 60, 60}, {Setting::DrumKey, 400, 191},
    };
    for (const Case& c : cases) {
        synth->setSetting(c.setting, c.value);
        EXPECT_EQ(synth->setting(c.setting), c.stored) << engine::settingInfo(c.setting).name << " " << c.value;
    }
    EXPECT_EQ(inside(*synth).programs[0].drumKey, 191);  // the current program's
    EXPECT_EQ(inside(*synth).gain, 200);
}

TEST_F(InstrumentTest, ASettingChangeLandsAtItsFrame) {
    setFormula(0, "100");
    send(0x90, 69, 100);
    Event change{};
    change.kind = EventKind::SettingChange;
    change.frame = 3;
    change.setting = static_cast<int32_t>(engine::Setting::Gain);
    change.value = 200;
    ASSERT_TRUE(synth->queueEvent(change));
    const std::vector<float> out = render(5);
    EXPECT_EQ(out[2], 100.0f / 1024.0f);
    EXPECT_EQ(out[3], 200.0f / 1024.0f);
    change.setting = engine::kSettingCount;  // no such setting: nothing changes
    ASSERT_TRUE(synth->queueEvent(change));
    render(5);
    EXPECT_EQ(inside(*synth).gain, 200);
}

TEST_F(InstrumentTest, CompileDirtyProgramsStopsAtTheFirstFault) {
    std::strcpy(inside(*synth).programs[3].formula, "P+#");
    inside(*synth).programs[3].needsCompile = true;
    std::strcpy(inside(*synth).programs[9].formula, "P*9");
    inside(*synth).programs[9].needsCompile = true;
    synth->programRecord(9).variable('P') = 3;
    synth->programRecord(9).variable('T') = 4096;
    {
        std::lock_guard<std::mutex> hold(synth->bankLock());
        EXPECT_STREQ(synth->compileDirtyPrograms(), messages::kUnexpectedSymbol);
    }
    EXPECT_FALSE(synth->isMarked(3));
    EXPECT_TRUE(synth->isMarked(9));
    EXPECT_EQ(runExpression(synth->programRecord(9)), 3);  // still "010 Arp 1"'s formula

    std::lock_guard<std::mutex> hold(synth->bankLock());
    EXPECT_EQ(synth->compileDirtyPrograms(), nullptr);  // program 3 is not retried
    EXPECT_FALSE(synth->isMarked(9));
    synth->programRecord(9).variable('P') = 3;
    EXPECT_EQ(runExpression(synth->programRecord(9)), 27);
}

TEST_F(InstrumentTest, TheCurrentProgramIsCompiledAfterEveryCleanWalk) {
    synth->setProgram(7);
    std::lock_guard<std::mutex> hold(synth->bankLock());
    EXPECT_EQ(synth->compileDirtyPrograms(), nullptr);
    EXPECT_TRUE(synth->programRecord(7).isCompiled());
    std::strcpy(inside(*synth).programs[7].formula, "(P");  // unmarked: only the walk's last step sees it
    EXPECT_STREQ(synth->compileDirtyPrograms(), messages::kMissingClose);
}

}  // namespace

namespace {

// An instance playing `voices` notes of the formula R for `blocks` blocks.
struct NoisyInstance {
    explicit NoisyInstance(int voices) {
        std::lock_guard<std::mutex> hold(instrument.bankLock());
        instrument.storeFormula(0, "R", 1);
        instrument.compileDirtyPrograms();
        for (int v = 0; v < voices; ++v) instrument.queueMidi(0x90, 40 + v, 100, 0);
    }
    std::vector<float> play(int blocks) {
        std::vector<float> out, left(256), right(256);
        for (int b = 0; b < blocks; ++b) {
            instrument.render(left.data(), right.data(), 256);
            out.insert(out.end(), left.begin(), left.end());
        }
        return out;
    }
    engine::Instrument instrument;
};

// Each instance draws R from its own generator: what it plays depends on nothing another
// instance draws, on the same thread or on another at the same time.
TEST(Random, AnInstancePlaysAsItDoesAloneWhateverOthersDraw) {
    const std::vector<float> alone = std::make_unique<NoisyInstance>(1)->play(40);
    auto first = std::make_unique<NoisyInstance>(1), other = std::make_unique<NoisyInstance>(8);
    std::vector<float> besides;
    for (int b = 0; b < 40; ++b) {
        other->play(1);
        const std::vector<float> block = first->play(1);
        besides.insert(besides.end(), block.begin(), block.end());
    }
    EXPECT_EQ(besides, alone) << "beside another instance on one thread";

    auto third = std::make_unique<NoisyInstance>(1), busy = std::make_unique<NoisyInstance>(8);
    std::vector<float> together;
    std::thread noise([&] { busy->play(400); });
    together = third->play(40);
    noise.join();
    EXPECT_EQ(together, alone) << "beside another instance on another thread";
}

}  // namespace
