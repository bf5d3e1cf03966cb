#include "engine/chunk.h"
#include "engine/full_state.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine_fixture.h"
#include "instrument_probe.h"

namespace {

float tag(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

class ChunkTest : public EngineTest {
protected:
    std::vector<float> save(engine::Instrument& from) {
        const void* data = nullptr;
        const int32_t bytes = from.saveState(&data);
        EXPECT_EQ(bytes % 4, 0);
        const float* floats = static_cast<const float*>(data);
        return std::vector<float>(floats, floats + bytes / 4);
    }
    // Whether the chunk was taken.
    bool restore(engine::Instrument& into, std::vector<float> chunk) {
        return into.restoreState(chunk.data(), static_cast<int32_t>(chunk.size() * 4));
    }
    static std::vector<float> chunkOf(std::initializer_list<float> body) {
        std::vector<float> chunk{tag(chunktag::kStart)};
        chunk.insert(chunk.end(), body);
        chunk.push_back(tag(chunktag::kEnd));
        return chunk;
    }
    static void appendString(std::vector<float>& chunk, const std::string& text) {
        for (char c : text) chunk.push_back(static_cast<signed char>(c));
        chunk.push_back(0.0f);
    }
};

TEST_F(ChunkTest, ANewInstanceSavesItsBankInTheKnownLayout) {
    const std::vector<float> chunk = save(*synth);
    EXPECT_EQ(chunk.size() * 4, 14712u);
    const std::vector<float> head = {tag(chunktag::kStart),
                                     tag(chunktag::kPolyphony),
                                     8.0f,
                                     tag(chunktag::kPortamento),
                                     100.0f,
                                     tag(chunktag::kTimeScale),
                                     50.0f,
                                     tag(chunktag::kInterpolate),
                                     0.0f,
                                     tag(chunktag::kClamp),
                                     1.0f,
                                     tag(chunktag::kScopeZoom),
                                     0.0f,
                                     tag(chunktag::kProgramIndex),
                                     0.0f,
                                     tag(chunktag::kName),
                                     '0',
                                     '0',
                                     '1',
                                     ' ',
                                     'S',
                                     'a',
                                     'w',
                                     0.0f,
                                     tag(chunktag::kFormula),
                                     'P',
                                     '&',
                                     '2',
                                     '5',
                                     '5',
                                     0.0f,
                                     tag(chunktag::kDrumKey),
                                     0.0f,
                                     tag(chunktag::kProgramIndex),
                                     1.0f};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), chunk.begin()));
    EXPECT_EQ(chunk.back(), tag(chunktag::kEnd));
}

TEST_F(ChunkTest, ARestoreCarriesSettingsAndProgramsButNotGainOrTheCurrentProgram) {
    inside(*synth).polyphony = 3;
    inside(*synth).portamento = 42;
    inside(*synth).timeScale = 77;
    inside(*synth).interpolate = true;
    inside(*synth).clampOutput = false;
    inside(*synth).scopeZoom = 5;
    std::strcpy(inside(*synth).programs[17].name, "Caf\xE9 \x80\xFF");
    std::strcpy(inside(*synth).programs[17].formula, "T*(P>>2)");
    inside(*synth).programs[17].drumKey = 38;
    std::strcpy(inside(*synth).programs[127].formula, "");

    auto other = std::make_unique<engine::Instrument>();
    inside(*other).gain = 150;
    other->setProgram(9);
    restore(*other, save(*synth));
    EXPECT_EQ(inside(*other).polyphony, 3);
    EXPECT_EQ(inside(*other).portamento, 42);
    EXPECT_EQ(inside(*other).timeScale, 77);
    EXPECT_TRUE(inside(*other).interpolate);
    EXPECT_FALSE(inside(*other).clampOutput);
    EXPECT_EQ(inside(*other).scopeZoom, 5);
    EXPECT_EQ(inside(*other).gain, 150);
    EXPECT_EQ(inside(*other).currentProgram, 9);
    for (int i = 0; i < kNumPrograms; ++i) {
        EXPECT_STREQ(inside(*other).programs[i].name, inside(*synth).programs[i].name);
        EXPECT_STREQ(inside(*other).programs[i].formula, inside(*synth).programs[i].formula);
        EXPECT_EQ(inside(*other).programs[i].drumKey, inside(*synth).programs[i].drumKey);
        EXPECT_FALSE(inside(*other).programs[i].needsCompile);
    }
    EXPECT_TRUE(inside(*other).displayDirty);
    EXPECT_EQ(save(*other), save(*synth));
}

TEST_F(ChunkTest, TheFullestBankFitsTheBufferAndComesBack) {
    for (int i = 0; i < kNumPrograms; ++i) {
        std::memset(inside(*synth).programs[i].name, 'a' + i % 26, kNameSize - 1);
        std::string formula = "P";
        while (formula.size() + 2 <= kFormulaSize - 1) formula += "+P";  // 1023 characters
        ASSERT_EQ(formula.size(), static_cast<size_t>(kFormulaSize - 1));
        std::strcpy(inside(*synth).programs[i].formula, formula.c_str());
    }
    const std::vector<float> chunk = save(*synth);
    EXPECT_EQ(chunk.size() * 4, 543800u);
    auto other = std::make_unique<engine::Instrument>();
    restore(*other, chunk);
    EXPECT_EQ(save(*other), chunk);
    std::vector<float> tooLong = chunk;
    tooLong.push_back(0.0f);
    inside(*other).displayDirty = false;
    EXPECT_FALSE(restore(*other, tooLong));
    EXPECT_FALSE(inside(*other).displayDirty);

    // The other formats' state adds the Gain and the current program, and comes back too.
    synth->setSetting(engine::Setting::Gain, 150);
    synth->setProgram(9);
    synth->syncProgramDisplay();
    const std::vector<uint8_t> full = engine::saveFullState(*synth);
    EXPECT_EQ(full.size(), chunk.size() * 4 + 16);
    auto third = std::make_unique<engine::Instrument>();
    ASSERT_TRUE(engine::restoreFullState(*third, full.data(), full.size()));
    EXPECT_EQ(third->setting(engine::Setting::Gain), 150);
    EXPECT_EQ(third->program(), 9);
    EXPECT_EQ(engine::saveFullState(*third), full);
}

TEST_F(ChunkTest, AnOverlongFormulaKeeps1023CharactersAndTheTagsAfterIt) {
    std::vector<float> chunk = chunkOf({tag(chunktag::kProgramIndex), 4.0f, tag(chunktag::kFormula)});
    chunk.pop_back();
    appendString(chunk, std::string(1030, '7'));
    chunk.insert(chunk.end(), {tag(chunktag::kDrumKey), 60.0f, tag(chunktag::kName)});
    appendString(chunk, std::string(40, 'n'));
    chunk.insert(chunk.end(), {tag(chunktag::kPolyphony), 2.0f, tag(chunktag::kEnd)});
    restore(*synth, chunk);
    EXPECT_EQ(std::string(inside(*synth).programs[4].formula), std::string(1023, '7'));
    EXPECT_EQ(std::string(inside(*synth).programs[4].name), std::string(31, 'n'));
    EXPECT_EQ(inside(*synth).programs[4].drumKey, 60);
    EXPECT_EQ(inside(*synth).polyphony, 2);
}

TEST_F(ChunkTest, AnEmptyChunkChangesNothingButCompilesAndRefreshes) {
    const std::vector<float> before = save(*synth);
    inside(*synth).displayDirty = false;
    restore(*synth, chunkOf({}));
    EXPECT_EQ(save(*synth), before);
    EXPECT_TRUE(synth->programRecord(0).isCompiled());
    EXPECT_TRUE(inside(*synth).displayDirty);
}

TEST_F(ChunkTest, SizesOutsideTheBufferAreRefused) {
    std::vector<char> big(kChunkCapacityBytes + 1, 0);
    inside(*synth).displayDirty = false;
    EXPECT_FALSE(synth->restoreState(big.data(), kChunkCapacityBytes + 1));
    EXPECT_FALSE(synth->restoreState(big.data(), -4));
    EXPECT_FALSE(synth->restoreState(nullptr, 100));
    EXPECT_FALSE(inside(*synth).displayDirty);
    const void* data = nullptr;
    EXPECT_EQ(synth->saveState(nullptr), 0);
    EXPECT_GT(synth->saveState(&data), 0);
    EXPECT_NE(data, nullptr);
}

TEST_F(ChunkTest, ValuesAreBroughtIntoRangeWhereOtherPartsIndexWithThem) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        int32_t polyphony, scopeZoom, portamento, drumKey;
    };
    const Case cases[] = {
        {0.0f, 1, 0, 0, 0},
        {9.7f, 8, 7, 9, 9},
        {-3.9f, 1, 0, -3, -3},
        {nan, 1, 0, 0, 0},
        {inf, 1, 0, 0, 0},
        {-inf, 1, 0, 0, 0},
        {3e9f, 8, 7, INT32_MAX, INT32_MAX},
        {-3e9f, 1, 0, INT32_MIN, INT32_MIN},
        {5.5f, 5, 5, 5, 5},
    };
    for (const Case& c : cases) {
        restore(*synth, chunkOf({tag(chunktag::kPolyphony), c.value, tag(chunktag::kScopeZoom), c.value,
                                 tag(chunktag::kPortamento), c.value, tag(chunktag::kDrumKey), c.value}));
        EXPECT_EQ(inside(*synth).polyphony, c.polyphony) << c.value;
        EXPECT_EQ(inside(*synth).scopeZoom, c.scopeZoom) << c.value;
        EXPECT_EQ(inside(*synth).portamento, c.portamento) << c.value;
        EXPECT_EQ(inside(*synth).programs[0].drumKey, c.drumKey) << c.value;
        EXPECT_FALSE(inside(*synth).programs[0].needsCompile);  // no index tag: nothing marked
    }
}

TEST_F(ChunkTest, ARecordWithAnIndexOutsideTheBankIsSkipped) {
    const std::vector<float> before = save(*synth);
    for (float index : {-1.0f, 128.0f, 1e9f}) {
        std::vector<float> chunk = chunkOf({tag(chunktag::kProgramIndex), index, tag(chunktag::kName)});
        chunk.pop_back();
        appendString(chunk, "lost");
        chunk.push_back(tag(chunktag::kFormula));
        appendString(chunk, "T");
        chunk.insert(chunk.end(), {tag(chunktag::kDrumKey), 50.0f, tag(chunktag::kEnd)});
        restore(*synth, chunk);
        EXPECT_EQ(save(*synth), before) << index;
    }
}

// A chunk is taken whole or not at all: one cut short, or without its end tag, is refused
// and changes nothing.
TEST_F(ChunkTest, ACutChunkIsRefusedAndChangesNothing) {
    auto source = std::make_unique<engine::Instrument>();
    inside(*source).polyphony = 2;
    std::strcpy(inside(*source).programs[0].name, "first");
    std::strcpy(inside(*source).programs[1].name, "second");
    const std::vector<float> chunk = save(*source);
    const std::vector<float> before = save(*synth);
    const size_t bytes = chunk.size() * 4;
    // Nothing, inside program 1's name, the first half, all but the end tag, all but a byte.
    const size_t insideName = (13 + 2 + 1 + 6 + 1 + 6 + 2 + 2 + 1 + 3) * 4;
    for (size_t cut : {size_t{0}, size_t{4}, insideName, bytes / 2, bytes - 4, bytes - 1}) {
        inside(*synth).displayDirty = false;
        EXPECT_FALSE(synth->restoreState(chunk.data(), static_cast<int32_t>(cut))) << cut;
        EXPECT_EQ(save(*synth), before) << cut;
        EXPECT_FALSE(inside(*synth).displayDirty) << cut;
    }
    EXPECT_TRUE(synth->restoreState(chunk.data(), static_cast<int32_t>(bytes)));
    EXPECT_STREQ(inside(*synth).programs[1].name, "second");
}

TEST_F(ChunkTest, RandomAndTruncatedChunksNeverFaultAndSaveAgainStably) {
    std::mt19937 rng(7);
    const std::vector<float> valid = save(*synth);
    const uint32_t tags[] = {chunktag::kPolyphony,    chunktag::kPortamento, chunktag::kTimeScale,
                             chunktag::kInterpolate,  chunktag::kClamp,      chunktag::kScopeZoom,
                             chunktag::kProgramIndex, chunktag::kName,       chunktag::kFormula,
                             chunktag::kDrumKey,      chunktag::kEnd};
    for (int round = 0; round < 400; ++round) {
        std::vector<float> chunk;
        if (round % 2 == 0) {
            chunk.assign(valid.begin(), valid.begin() + rng() % valid.size());
            for (int flips = 0; flips < 5 && !chunk.empty(); ++flips) chunk[rng() % chunk.size()] = tag(rng());
        } else {
            const size_t length = rng() % 3000;
            for (size_t i = 0; i < length; ++i) {
                const uint32_t r = rng();
                chunk.push_back(r % 3 == 0   ? tag(tags[r % 11])
                                : r % 3 == 1 ? static_cast<float>(r % 300) - 20
                                             : tag(r));
            }
        }
        std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(chunk.data()),
                                         reinterpret_cast<unsigned char*>(chunk.data()) + chunk.size() * 4);
        bytes.resize(bytes.size() - (bytes.empty() ? 0 : rng() % 4));  // sizes that are not whole floats
        std::vector<unsigned char> exact(bytes);                       // exactly the received size, for the sanitizers
        synth->restoreState(exact.data(), static_cast<int32_t>(exact.size()));
        ASSERT_GE(inside(*synth).polyphony, 1);
        ASSERT_LE(inside(*synth).polyphony, 8);
        ASSERT_GE(inside(*synth).scopeZoom, 0);
        ASSERT_LE(inside(*synth).scopeZoom, 7);
        for (const engine::ProgramSlot& slot : inside(*synth).programs) {
            ASSERT_LT(std::strlen(slot.name), static_cast<size_t>(kNameSize));
            ASSERT_LT(std::strlen(slot.formula), static_cast<size_t>(kFormulaSize));
        }
        const std::vector<float> first = save(*synth);
        restore(*synth, first);
        ASSERT_EQ(save(*synth), first);
        send(0x90, 60, 100);
        for (float sample : render(64)) ASSERT_TRUE(sample >= -1.0f && sample <= 1.0f);
    }
}

}  // namespace
