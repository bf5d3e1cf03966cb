#include "midi_file.h"

#include <gtest/gtest.h>

#include "midi_builder.h"

namespace {

TEST(MidiFile, ReadsRunningStatusAndEveryChannelMessage) {
    MidiTrack track;
    track.event(0, {0x90, 60, 100})
        .event(10, {64, 90})  // running status
        .event(0, {0xC3, 7})
        .event(0, {9})  // running status with one data byte
        .event(5, {0xE1, 0, 64})
        .event(0, {0xB9, 1, 127})
        .event(0, {0xF0, 0x02, 0x01, 0xF7})
        .event(0, {2, 3})  // running status after a SysEx event, as many files have it
        .event(0, {0xFF, 0x01, 0x01, 'x'})
        .event(0, {4, 5})  // and after a meta event
        .event(0, {0x80, 60, 0})
        .end(20);
    const MidiSong song = parseMidiFile(midiFile(0, 96, {track}));
    const std::vector<std::vector<int>> expected = {{0x90, 60, 100}, {0x90, 64, 90}, {0xC3, 7, 0},
                                                    {0xC3, 9, 0},    {0xE1, 0, 64},  {0xB9, 1, 127},
                                                    {0xB9, 2, 3},    {0xB9, 4, 5},   {0x80, 60, 0}};
    ASSERT_EQ(song.messages.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const MidiMessage& m = song.messages[i];
        EXPECT_EQ((std::vector<int>{m.status, m.data1, m.data2}), expected[i]) << i;
    }
    // 96 ticks a quarter note at the default 120 beats a minute: 10 ticks are 1/19.2 s.
    EXPECT_EQ(song.frameAt(song.messages[1].time, 48000), 2500);
    EXPECT_EQ(song.frameAt(song.endTime, 48000), 35 * 48000 / 192);
}

TEST(MidiFile, FollowsTheTempoMapAcrossTracks) {
    MidiTrack conductor;
    conductor.tempo(0, 1000000).tempo(480, 250000).end();  // 60 bpm for one beat, then 240
    MidiTrack notes;
    notes.event(0, {0x90, 60, 100}).event(480, {0x90, 62, 100}).event(480, {0x91, 64, 100}).end(480);
    const MidiSong song = parseMidiFile(midiFile(1, 480, {conductor, notes}));
    ASSERT_EQ(song.messages.size(), 3u);
    const int64_t expected[] = {0, 44100, 44100 + 11025};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(song.frameAt(song.messages[i].time, 44100), expected[i]) << i;
    EXPECT_EQ(song.frameAt(song.endTime, 44100), 44100 + 2 * 11025);
}

TEST(MidiFile, MergesTracksInTimeThenTrackOrder) {
    MidiTrack a, b;
    a.event(10, {0x90, 1, 1}).event(0, {0x90, 2, 1}).end();
    b.event(5, {0x91, 3, 1}).event(5, {0x91, 4, 1}).end();
    const MidiSong song = parseMidiFile(midiFile(1, 96, {a, b}));
    std::vector<int> order;
    for (const MidiMessage& m : song.messages) order.push_back(m.data1);
    EXPECT_EQ(order, (std::vector<int>{3, 1, 2, 4}));
}

TEST(MidiFile, CountsSmpteTicksInSeconds) {
    MidiTrack track;
    track.event(0, {0x90, 60, 100}).event(100, {0x80, 60, 0}).end();
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second.
    const MidiSong song = parseMidiFile(midiFile(0, static_cast<uint16_t>((256 - 25) << 8 | 40), {track}));
    EXPECT_EQ(song.frameAt(song.messages[1].time, 48000), 4800);
}

TEST(MidiFile, PassesOverUnknownChunks) {
    MidiTrack track;
    track.event(0, {0x90, 60, 100}).end();
    std::vector<uint8_t> bytes = midiFile(0, 96, {});
    bytes[11] = 1;  // one track
    bytes.insert(bytes.end(), {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 9, 9, 'M', 'T', 'r', 'k', 0, 0, 0,
                               static_cast<uint8_t>(track.bytes().size())});
    bytes.insert(bytes.end(), track.bytes().begin(), track.bytes().end());
    EXPECT_EQ(parseMidiFile(bytes).messages.size(), 1u);
}

struct BadFile {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* message;
};

TEST(MidiFile, ExplainsWhatIsWrongAndWhere) {
    MidiTrack good;
    good.event(0, {0x90, 60, 100}).end();
    const std::vector<uint8_t> valid = midiFile(0, 96, {good});
    std::vector<uint8_t> truncated(valid.begin(), valid.begin() + 10);
    std::vector<uint8_t> longChunk = valid;
    longChunk[21] = 0x7F;  // the track claims far more bytes than follow
    std::vector<uint8_t> format2 = valid;
    format2[9] = 2;
    std::vector<uint8_t> missingTrack = valid;
    missingTrack[11] = 2;
    MidiTrack noStatus, badData, badTempo;
    noStatus.event(0, {60, 100}).end();
    badData.event(0, {0x90, 200, 100}).end();
    badTempo.event(0, {0xFF, 0x51, 0x02, 0x07, 0xA1}).end();
    std::vector<uint8_t> longVariable = midiFile(0, 96, {good});
    longVariable.insert(longVariable.begin() + 22, {0x81, 0x81, 0x81, 0x81});
    longVariable[21] += 4;
    const BadFile cases[] = {
        {"empty", {}, "no MThd header at byte 0"},
        {"text", {'R', 'I', 'F', 'F', 0, 0}, "no MThd header at byte 0"},
        {"truncated", truncated, "unexpected end of header at byte 10"},
        {"long chunk", longChunk, "claims"},
        {"format 2", format2, "format 2 is not supported"},
        {"missing track", missingTrack, "before track 2 of 2"},
        {"no running status", midiFile(0, 96, {noStatus}), "data byte without a running status at byte"},
        {"data above 127", midiFile(0, 96, {badData}), "data byte above 127"},
        {"bad tempo", midiFile(0, 96, {badTempo}), "tempo event of length 2"},
        {"long variable", longVariable, "longer than 4 bytes"},
    };
    for (const BadFile& c : cases) {
        try {
            parseMidiFile(c.bytes);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const MidiFileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(MidiFile, SurvivesEveryTruncationAndRandomDamage) {
    MidiTrack conductor, notes;
    conductor.tempo(0, 400000).tempo(96, 300000).end();
    for (int i = 0; i < 40; ++i) notes.event(12, {0x90, static_cast<uint8_t>(40 + i), 100}).event(6, {0x80, 40, 0});
    notes.end();
    const std::vector<uint8_t> valid = midiFile(1, 96, {conductor, notes});
    // Every cut leaves a chunk shorter than its header says: refused with a message.
    for (size_t cut = 0; cut < valid.size(); ++cut)
        EXPECT_THROW(parseMidiFile(std::vector<uint8_t>(valid.begin(), valid.begin() + static_cast<long>(cut))),
                     MidiFileError)
            << "cut at byte " << cut;
    uint32_t seed = 1;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> damaged = valid;
        for (int flips = 0; flips < 4; ++flips) {
            seed = seed * 1103515245u + 12345u;
            damaged[14 + (seed >> 8) % (damaged.size() - 14)] = static_cast<uint8_t>(seed >> 24);
        }
        // Damage is refused, or read as channel messages in time order.
        try {
            const MidiSong song = parseMidiFile(damaged);
            for (size_t i = 0; i < song.messages.size(); ++i) {
                const MidiMessage& m = song.messages[i];
                ASSERT_TRUE(m.status >= 0x80 && m.status < 0xF0 && m.data1 < 128 && m.data2 < 128) << round;
                ASSERT_TRUE(i == 0 || song.messages[i - 1].time <= m.time) << round;
                ASSERT_LE(m.time, song.endTime) << round;
            }
        } catch (const MidiFileError&) {
        }
    }
}

}  // namespace
