#include "midi_file.h"

#include "file_io.h"

#include <algorithm>
#include <map>

namespace {

constexpr int64_t kDefaultTempo = 500000;  // microseconds per quarter note

class ByteReader {
public:
    ByteReader(const std::vector<uint8_t>& bytes, size_t begin, size_t end) : b_(bytes), pos_(begin), end_(end) {}

    size_t position() const { return pos_; }
    bool atEnd() const { return pos_ >= end_; }
    [[noreturn]] void fail(const std::string& what) const {
        throw MidiFileError(what + " at byte " + std::to_string(pos_));
    }
    uint8_t byte(const char* what) {
        if (pos_ >= end_) fail(std::string("unexpected end of ") + what);
        return b_[pos_++];
    }
    uint32_t bigEndian(int count, const char* what) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = (v << 8) | byte(what);
        return v;
    }
    uint32_t variableLength(const char* what) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte(what);
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80)) return v;
        }
        fail(std::string("variable-length number longer than 4 bytes in ") + what);
    }
    void skip(uint32_t count, const char* what) {
        if (count > end_ - pos_) fail(std::string(what) + " runs past the end of its track");
        pos_ += count;
    }
    const uint8_t* here() const { return b_.data() + pos_; }

private:
    const std::vector<uint8_t>& b_;
    size_t pos_;
    size_t end_;
};

struct TrackMessage {
    int64_t tick;
    int track;
    size_t order;
    uint8_t status, data1, data2;
};

int dataBytesOf(uint8_t status) {
    const uint8_t type = status & 0xF0;
    return (type == 0xC0 || type == 0xD0) ? 1 : 2;
}

// Far beyond any real song, and small enough that ticks times tempo stays inside 64 bits.
constexpr int64_t kMaxTick = int64_t{1} << 36;

// Reads one track's events; tempo changes go into `tempos` (tick -> microseconds per
// quarter), time signatures into `signatures` (tick -> numerator, denominator).
int64_t readTrack(ByteReader& r, int track, std::vector<TrackMessage>& out, std::map<int64_t, int64_t>& tempos,
                  std::map<int64_t, std::pair<int32_t, int32_t>>& signatures) {
    int64_t tick = 0;
    // The standard has meta and SysEx events cancel the running status, but files that
    // go on with it after them are common, and other readers accept them: so does this one.
    uint8_t running = 0;
    while (!r.atEnd()) {
        tick += r.variableLength("delta time");
        if (tick > kMaxTick) r.fail("track longer than 2^36 ticks");
        const uint8_t first = r.byte("event");
        if (first == 0xFF) {
            const uint8_t type = r.byte("meta event");
            const uint32_t length = r.variableLength("meta event length");
            const uint8_t* data = r.here();
            r.skip(length, "meta event");
            if (type == 0x2F) return tick;  // end of track
            if (type == 0x51) {
                if (length != 3) r.fail("tempo event of length " + std::to_string(length));
                const int64_t tempo = (int64_t{data[0]} << 16) | (int64_t{data[1]} << 8) | data[2];
                if (tempo == 0) r.fail("tempo of 0 microseconds per quarter note");
                tempos[tick] = tempo;
            }
            // A time signature: its denominator as a power of two; one of no sense is passed over.
            if (type == 0x58 && length >= 2 && data[0] > 0 && data[1] <= 6) signatures[tick] = {data[0], 1 << data[1]};
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            r.skip(r.variableLength("sysex length"), "sysex event");
            continue;
        }
        if (first > 0xF0) r.fail("system message " + std::to_string(first) + " inside a track");

        const bool runningStatus = first < 0x80;
        if (runningStatus && !running) r.fail("data byte without a running status");
        const uint8_t status = runningStatus ? running : first;
        running = status;
        TrackMessage m{tick, track, out.size(), status, runningStatus ? first : r.byte("channel message"), 0};
        if (dataBytesOf(status) == 2) m.data2 = r.byte("channel message");
        if (m.data1 >= 0x80 || m.data2 >= 0x80) r.fail("data byte above 127");
        out.push_back(m);
    }
    return tick;  // a track without an end-of-track event ends with its chunk
}

}  // namespace

int64_t MidiSong::frameAt(int64_t time, int64_t rate) const {
    const __int128 units = static_cast<__int128>(time) * rate * 2 + timeUnitsPerSecond;
    return static_cast<int64_t>(units / (static_cast<__int128>(timeUnitsPerSecond) * 2));
}

MidiSong parseMidiFile(const std::vector<uint8_t>& bytes) {
    ByteReader header(bytes, 0, bytes.size());
    if (bytes.size() < 4 || std::string(bytes.begin(), bytes.begin() + 4) != "MThd")
        throw MidiFileError("not a Standard MIDI File: no MThd header at byte 0");
    header.skip(4, "header");
    const uint32_t headerLength = header.bigEndian(4, "header");
    if (headerLength < 6) header.fail("header of length " + std::to_string(headerLength));
    MidiSong song;
    song.format = static_cast<int>(header.bigEndian(2, "header"));
    song.tracks = static_cast<int>(header.bigEndian(2, "header"));
    const uint32_t division = header.bigEndian(2, "header");
    if (song.format > 1)
        throw MidiFileError("MIDI file format " + std::to_string(song.format) + " is not supported (only 0 and 1)");
    if (division == 0) throw MidiFileError("division of 0 ticks per quarter note at byte 12");
    header.skip(headerLength - 6, "header");

    std::vector<TrackMessage> messages;
    std::map<int64_t, int64_t> tempos;
    std::map<int64_t, std::pair<int32_t, int32_t>> signatures;
    int64_t endTick = 0;
    size_t pos = header.position();
    for (int track = 0; track < song.tracks;) {
        if (pos + 8 > bytes.size())
            throw MidiFileError("file ends at byte " + std::to_string(bytes.size()) + " before track " +
                                std::to_string(track + 1) + " of " + std::to_string(song.tracks));
        ByteReader chunk(bytes, pos, bytes.size());
        const std::string id(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos) + 4);
        chunk.skip(4, "chunk");
        const uint32_t length = chunk.bigEndian(4, "chunk");
        const size_t begin = chunk.position();
        if (length > bytes.size() - begin)
            throw MidiFileError("chunk '" + id + "' at byte " + std::to_string(pos) + " claims " +
                                std::to_string(length) + " bytes, but only " + std::to_string(bytes.size() - begin) +
                                " follow");
        pos = begin + length;
        if (id != "MTrk") continue;  // unknown chunks are passed over
        ByteReader r(bytes, begin, begin + length);
        endTick = std::max(endTick, readTrack(r, track, messages, tempos, signatures));
        ++track;
    }

    std::stable_sort(messages.begin(), messages.end(), [](const TrackMessage& a, const TrackMessage& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });

    // Times: with ticks per quarter note, sum ticks x tempo (microseconds per quarter) over
    // the tempo map; with SMPTE division, ticks count frames of a second directly.
    song.meters.push_back({0, 0.0, 60e6 / kDefaultTempo, 4, 4, 0.0});
    if (division & 0x8000) {
        const int framesPerSecond = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFF);
        if (framesPerSecond <= 0 || ticksPerFrame == 0) throw MidiFileError("invalid SMPTE division at byte 12");
        // 29 stands for 29.97 frames a second.
        song.timeUnitsPerSecond =
            framesPerSecond == 29 ? int64_t{2997} * ticksPerFrame : int64_t{100} * framesPerSecond * ticksPerFrame;
        for (const TrackMessage& m : messages) song.messages.push_back({m.tick * 100, m.status, m.data1, m.data2});
        song.endTime = endTick * 100;
        return song;
    }
    song.timeUnitsPerSecond = int64_t{division} * 1000000;
    // One walk along the tempo map, since the messages are in tick order.
    auto tempo = tempos.begin();
    int64_t segmentTick = 0, segmentTime = 0, segmentTempo = kDefaultTempo;
    auto timeOf = [&](int64_t tick) {
        while (tempo != tempos.end() && tempo->first <= tick) {
            segmentTime += (tempo->first - segmentTick) * segmentTempo;
            segmentTick = tempo->first;
            segmentTempo = tempo->second;
            ++tempo;
        }
        return segmentTime + (tick - segmentTick) * segmentTempo;
    };
    for (const TrackMessage& m : messages) song.messages.push_back({timeOf(m.tick), m.status, m.data1, m.data2});
    song.endTime = timeOf(endTick);
    // The transport's changes, in tick order: the tempo map walked again.
    std::map<int64_t, bool> changes;
    for (const auto& [tick, _] : tempos) changes[tick] = true;
    for (const auto& [tick, _] : signatures) changes[tick] = true;
    tempo = tempos.begin();
    segmentTick = segmentTime = 0;
    segmentTempo = kDefaultTempo;
    for (const auto& [tick, _] : changes) {
        MeterChange next = song.meters.back();
        next.time = timeOf(tick);
        next.quarterNotes = static_cast<double>(tick) / division;
        next.tempo = 60e6 / static_cast<double>(segmentTempo);
        if (const auto signature = signatures.find(tick); signature != signatures.end()) {
            next.numerator = signature->second.first;
            next.denominator = signature->second.second;
            next.meterStart = next.quarterNotes;
        }
        if (tick == 0)
            song.meters.back() = next;
        else
            song.meters.push_back(next);
    }
    return song;
}

MidiSong loadMidiFile(const std::string& path) {
    constexpr size_t kMaxBytes = 64 << 20;  // songs are kilobytes; a few megabytes at the most
    const std::vector<uint8_t> bytes = readWholeFile(path, kMaxBytes);
    try {
        return parseMidiFile(bytes);
    } catch (const MidiFileError& e) {
        throw MidiFileError(path + ": " + e.what());
    }
}
