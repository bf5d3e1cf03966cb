// The command-line host's renderer against the plug-in binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "audio_file.h"
#include "bank.h"
#include "midi_builder.h"
#include "plugin_host.h"
#include "renderer.h"

namespace {

constexpr int kRate = 48000;

std::vector<float> renderSong(const MidiSong& song, int blockSize) {
    PluginHost host(BYTONE_PLUGIN_PATH, kRate);
    EXPECT_TRUE(host.ready()) << host.error();
    auto bank = std::make_unique<Bank>();
    decodeBank(*bank, host.chunk());
    std::strcpy(bank->programs[0].formula, "100");
    std::strcpy(bank->programs[3].formula, "50");
    std::strcpy(bank->programs[5].formula, "200");
    bank->programs[5].drumKey = 40;
    host.setChunk(encodeBank(*bank));

    RenderPlan plan = planFromMidi(song, kRate, 100);
    plan.blockSize = blockSize;
    std::vector<float> out;
    renderPlan(host, plan, [&](const float* left, const float* right, int32_t frames) {
        for (int32_t i = 0; i < frames; ++i) EXPECT_EQ(left[i], right[i]);
        out.insert(out.end(), left, left + frames);
    });
    return out;
}

TEST(RenderTool, NotesStartAtTheirExactSampleWhateverTheBlockSize) {
    // 480 ticks a quarter: 120 beats a minute (50 frames a tick at 48 kHz) up to tick
    // 960, then 240 (25 frames a tick).
    MidiTrack conductor;
    conductor.tempo(0, 500000).tempo(960, 250000).end();
    MidiTrack notes;
    notes
        .event(240, {0x90, 60, 100})  // frame 12000, program 0
        .event(60, {0x80, 60, 0})     // 15000
        .event(700, {0x90, 62, 100})  // tick 1000: frame 49000
        .event(60, {0x80, 62, 0})     // 50500
        .event(140, {0xC0, 3})        // tick 1200: program 3
        .event(300, {0x99, 40, 100})  // tick 1500: frame 61500, drum program 5
        .event(60, {0x89, 40, 0})     // 63000
        .event(40, {0x90, 64, 100})   // tick 1600: frame 64000, program 3
        .event(100, {0x80, 64, 0})    // 66500
        .end();
    const MidiSong song = parseMidiFile(midiFile(1, 480, {conductor, notes}));

    const std::vector<float> reference = renderSong(song, 512);
    ASSERT_EQ(reference.size(), 66500u + 100u);
    struct Note {
        size_t on, off;
        float level;
    };
    const Note expected[] = {{12000, 15000, 100.0f / 1024},
                             {49000, 50500, 100.0f / 1024},
                             {61500, 63000, 200.0f / 1024},
                             {64000, 66500, 50.0f / 1024}};
    size_t from = 0;
    for (const Note& note : expected) {
        for (size_t k = from; k < note.on; ++k) ASSERT_EQ(reference[k], 0.0f) << "sound before its onset at " << k;
        for (size_t k = note.on; k < note.off; ++k) ASSERT_EQ(reference[k], note.level) << "at " << k;
        from = note.off;
    }
    for (int blockSize : {1, 64, 4096, 1000}) EXPECT_EQ(renderSong(song, blockSize), reference) << blockSize;
}

TEST(RenderTool, AWavThatWouldPassFourGigabytesIsRf64AndFilesAppearOnlyWhenWhole) {
    const std::string folder = ::testing::TempDir();
    struct Case {
        const char* name;
        SampleFormat format;
        int64_t frames;
        const char* magic;
    };
    const Case cases[] = {
        {"small.wav", SampleFormat::Pcm16, 48000, "RIFF"},
        {"edge.wav", SampleFormat::Pcm16, 1073741567, "RIFF"},  // 4 GB less the header's room
        {"large.wav", SampleFormat::Pcm16, 1073741568, "RF64"},
        {"float.wav", SampleFormat::Float, 600000000, "RF64"},
        {"large.flac", SampleFormat::Pcm24, 2000000000, "fLaC"},
    };
    const float silence[4] = {};
    for (const Case& c : cases) {
        const std::string path = folder + c.name;
        std::remove(path.c_str());
        {
            AudioFileWriter writer(path, "", 48000, c.format, c.frames);
            writer.write(silence, silence, 4);
            std::FILE* early = std::fopen(path.c_str(), "rb");
            EXPECT_EQ(early, nullptr) << c.name << " is there before it is whole";
            if (early) std::fclose(early);
            writer.close();
        }
        char magic[5] = {};
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr) << c.name;
        EXPECT_EQ(std::fread(magic, 1, 4, file), 4u);
        std::fclose(file);
        EXPECT_STREQ(magic, c.magic) << c.name;
        std::remove(path.c_str());
    }
}

}  // namespace
