#include "state_file.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "file_io.h"

namespace {

const PluginIdentity kBytone{0x6279746F, 1, 128};  // 'byto'

// A whole Bytone chunk of `bytes` bytes: the start tag, zeros, the end tag.
std::vector<uint8_t> wholeChunk(size_t bytes = 8) {
    std::vector<uint8_t> chunk(bytes, 0);
    const uint8_t start[] = {0x0c, 0x52, 0x03, 0x4d}, end[] = {0x7c, 0x3a, 0x0b, 0x4d};
    std::copy(start, start + 4, chunk.begin());
    std::copy(end, end + 4, chunk.end() - 4);
    return chunk;
}

uint32_t bigEndianAt(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

TEST(StateFile, FormatsFollowTheExtension) {
    EXPECT_EQ(stateFormatOf("song.fxb"), StateFormat::Bank);
    EXPECT_EQ(stateFormatOf("lead.FXP"), StateFormat::Program);
    EXPECT_EQ(stateFormatOf("state.bin"), StateFormat::Raw);
    EXPECT_EQ(stateFormatOf("noextension"), StateFormat::Raw);
}

TEST(StateFile, ABankFileHasThePublishedHeader) {
    const std::vector<uint8_t> chunk = wholeChunk();
    const std::vector<uint8_t> file = buildStateFile(StateFormat::Bank, chunk, kBytone, "ignored", 17);
    ASSERT_EQ(file.size(), 160u + chunk.size());
    EXPECT_EQ(bigEndianAt(file, 0), 0x43636E4Bu);  // 'CcnK'
    EXPECT_EQ(bigEndianAt(file, 4), file.size() - 8);
    EXPECT_EQ(bigEndianAt(file, 8), 0x46424368u);  // 'FBCh'
    EXPECT_EQ(bigEndianAt(file, 12), 2u);
    EXPECT_EQ(bigEndianAt(file, 16), 0x6279746Fu);
    EXPECT_EQ(bigEndianAt(file, 20), 1u);
    EXPECT_EQ(bigEndianAt(file, 24), 128u);
    EXPECT_EQ(bigEndianAt(file, 28), 17u);
    for (size_t i = 32; i < 156; ++i) EXPECT_EQ(file[i], 0) << i;
    EXPECT_EQ(bigEndianAt(file, 156), chunk.size());
    EXPECT_EQ(parseStateFile(file, kBytone).chunk, chunk);
    EXPECT_EQ(parseStateFile(file, kBytone).currentProgram, 17);
}

TEST(StateFile, AProgramFileCarriesTheProgramName) {
    const std::vector<uint8_t> chunk = wholeChunk(100);
    const std::vector<uint8_t> file =
        buildStateFile(StateFormat::Program, chunk, kBytone, "a name longer than the twenty-seven characters", 0);
    ASSERT_EQ(file.size(), 60u + chunk.size());
    EXPECT_EQ(bigEndianAt(file, 8), 0x46504368u);  // 'FPCh'
    EXPECT_EQ(bigEndianAt(file, 12), 1u);
    EXPECT_EQ(bigEndianAt(file, 24), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[28])), "a name longer than the twen");
    EXPECT_EQ(bigEndianAt(file, 56), 100u);
    EXPECT_EQ(parseStateFile(file, kBytone).chunk, chunk);
    EXPECT_EQ(parseStateFile(file, kBytone).currentProgram, -1);
}

TEST(StateFile, ARawChunkIsReadAsItStands) {
    const std::vector<uint8_t> chunk = wholeChunk();
    EXPECT_EQ(parseStateFile(chunk, kBytone).chunk, chunk);
    const std::vector<uint8_t> foreign = {'a', 'b', 'c', 'd', 'e'};  // another plug-in's chunk: unchecked
    EXPECT_EQ(parseStateFile(foreign, PluginIdentity{0x616d7379, 1, 0}).chunk, foreign);
    EXPECT_EQ(buildStateFile(StateFormat::Raw, chunk, kBytone, "", 0), chunk);
}

TEST(StateFile, ExplainsFilesItCannotRead) {
    const std::vector<uint8_t> good = buildStateFile(StateFormat::Bank, wholeChunk(40), kBytone, "", 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 100);
    std::vector<uint8_t> absurd = good;
    absurd[156] = 0x7F;
    std::vector<uint8_t> params = good;
    params[11] = 'k';
    params[10] = 'B';
    params[9] = 'x';
    std::vector<uint8_t> otherType = good;
    otherType[8] = 'Z';
    std::vector<uint8_t> otherPlugin = good;
    otherPlugin[19] = 'X';
    std::vector<uint8_t> version = good;
    version[15] = 9;
    std::vector<uint8_t> smallerSize = good;  // the size field says 36 of the 40 bytes
    smallerSize[159] = 36;
    std::vector<uint8_t> cutBank = good;  // a bank whose chunk lost its end
    cutBank.resize(good.size() - 4);
    cutBank[159] = 36;
    const std::vector<uint8_t> whole = wholeChunk(40);
    const Case cases[] = {
        {"short header", shortHeader, "ends inside its header"},
        {"tiny", std::vector<uint8_t>(good.begin(), good.begin() + 12), "ends inside its header"},
        {"absurd size", absurd, "is larger than the 40 bytes that follow"},
        {"parameters", params, "holds parameters ('FxBk')"},
        {"unknown type", otherType, "unknown state file type 'ZBCh' at byte 8"},
        {"other plug-in", otherPlugin, "belongs to plug-in 'bytX', not 'byto'"},
        {"version", version, "unknown state file version 9"},
        {"text", {'r', 'o', 'o', 't', ':', 'x', ':', '0'}, "not a Bytone state file"},
        {"empty", {}, "not a Bytone state file"},
        {"three bytes of the tag", {0x0c, 0x52, 0x03}, "not a Bytone state file"},
        {"size field smaller", smallerSize, "chunk size 36 at byte 156 is smaller than the 40 bytes that follow"},
        {"bank cut short", cutBank, "its chunk of 36 bytes is cut short"},
        {"raw chunk cut in half", std::vector<uint8_t>(whole.begin(), whole.begin() + 20),
         "its chunk of 20 bytes is cut short"},
        {"raw chunk of the start tag", std::vector<uint8_t>(whole.begin(), whole.begin() + 4), "is cut short"},
    };
    for (const Case& c : cases) {
        try {
            parseStateFile(c.bytes, kBytone);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const StateFileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(StateFile, AFileLargerThanItsKindHoldsIsRefusedBeforeItIsRead) {
    const std::string path = ::testing::TempDir() + "five.bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("12345", file);
    std::fclose(file);
    EXPECT_EQ(readWholeFile(path, 5).size(), 5u);
    try {
        readWholeFile(path, 4);
        ADD_FAILURE() << "a file of 5 bytes was read with a limit of 4";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), path + ": larger than 4 bytes, more than such a file holds");
    }
    std::remove(path.c_str());
}

}  // namespace
