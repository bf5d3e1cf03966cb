// The pieces of an Ardour session whose instrument plays a formula on the song's beat,
// and the check of what Ardour exports from it:
//   beat_session write FOLDER SECONDS TEMPO FORMULA
//     held.mid: one note held for SECONDS at TEMPO; state.bin: the instrument's state
//     with FORMULA in every program; vst3-state.bin: that state as a VST3 preset, as
//     Ardour keeps a VST3 plug-in's state in its session
//   beat_session alike EXPORT.wav OTHER.wav
//     OTHER's first frames are EXPORT's, but that a change of level may come a frame
//     earlier or later
//   beat_session edges FILE.wav TEMPO
//     (a whole tempo) every change of the left channel's level falls on the first sample of a quarter
//     note at TEMPO, and there is one at each quarter note: prints them, exit 1 otherwise
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "engine/full_state.h"
#include "engine/instrument.h"
#include "midi_builder.h"

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A VST3 preset of the component's state: the header with the class id, the state, and
// the list of chunks that says where it lies.
std::vector<uint8_t> vst3Preset(const std::vector<uint8_t>& state) {
    const char classId[] = "6279746F6E65B3A19D5C4E278A41F06B";
    std::vector<uint8_t> out = {'V', 'S', 'T', '3'};
    appendLittleEndian(out, 1, 4);
    out.insert(out.end(), classId, classId + 32);
    const uint64_t listAt = 48 + state.size();
    appendLittleEndian(out, listAt, 8);
    out.insert(out.end(), state.begin(), state.end());
    out.insert(out.end(), {'L', 'i', 's', 't'});
    appendLittleEndian(out, 1, 4);
    out.insert(out.end(), {'C', 'o', 'm', 'p'});
    appendLittleEndian(out, 48, 8);
    appendLittleEndian(out, state.size(), 8);
    return out;
}

int write(const std::string& folder, double seconds, double tempo, const char* formula) {
    constexpr int kTicks = 960;  // a quarter note's
    MidiTrack track;
    track.tempo(0, static_cast<uint32_t>(std::lround(60e6 / tempo)));
    track.event(0, {0x90, 60, 100});
    track.event(static_cast<uint32_t>(std::lround(seconds * tempo / 60.0 * kTicks)), {0x80, 60, 0});
    track.end();
    engine::Instrument instrument(Language::Extended);
    {
        std::lock_guard<std::mutex> hold(instrument.bankLock());
        for (int i = 0; i < kNumPrograms; ++i) instrument.storeFormula(i, formula, std::strlen(formula));
    }
    const std::vector<uint8_t> state = engine::saveFullState(instrument);
    const bool written = writeFile(folder + "/held.mid", midiFile(0, kTicks, {track})) &&
                         writeFile(folder + "/state.bin", state) &&
                         writeFile(folder + "/vst3-state.bin", vst3Preset(state));
    return written ? 0 : 1;
}

int edges(const char* path, int64_t tempo) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file || info.channels != 2) {
        std::fprintf(stderr, "%s: not a stereo sound file\n", path);
        return 1;
    }
    std::vector<float> frames(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    // Quarter note k begins at the first sample at or after k × rate × 60 / tempo.
    const int64_t perMinute = static_cast<int64_t>(info.samplerate) * 60;
    int64_t quarter = 1, found = 0;
    for (int64_t n = 1; n < info.frames; ++n) {
        if (frames[2 * n] == frames[2 * (n - 1)]) continue;
        const int64_t expected = (quarter * perMinute + tempo - 1) / tempo;
        if (n != expected) {
            std::fprintf(stderr, "%s: a change at frame %lld, where quarter note %lld begins at %lld\n", path,
                         static_cast<long long>(n), static_cast<long long>(quarter), static_cast<long long>(expected));
            return 1;
        }
        ++quarter, ++found;
    }
    const int64_t quarters = (info.frames - 1) * tempo / perMinute;
    std::printf("%s: %lld changes, each at its quarter note's first sample\n", path, static_cast<long long>(found));
    return found == quarters && found > 0 ? 0 : 1;
}

// The left channel of a stereo sound file.
bool leftOf(const char* path, std::vector<float>& left) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file || info.channels != 2) return false;
    std::vector<float> frames(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    for (size_t i = 0; i < frames.size(); i += 2) left.push_back(frames[i]);
    return true;
}

// The first frames of `other` as `export`'s, but that a change of level may come a
// frame earlier or later.
int alike(const char* exported, const char* other) {
    std::vector<float> a, b;
    if (!leftOf(exported, a) || !leftOf(other, b) || b.size() < a.size()) {
        std::fprintf(stderr, "%s or %s: not stereo sound files of the export's length\n", exported, other);
        return 1;
    }
    for (size_t n = 1; n + 1 < a.size(); ++n) {
        if (a[n] == b[n]) continue;
        const bool nearChange = a[n] != a[n - 1] || a[n + 1] != a[n] || b[n] != b[n - 1] || b[n + 1] != b[n];
        if (!nearChange) {
            std::fprintf(stderr, "%s differs from %s at frame %zu\n", other, exported, n);
            return 1;
        }
    }
    std::printf("%s plays as %s\n", other, exported);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "write")
        return write(argv[2], std::atof(argv[3]), std::atof(argv[4]), argv[5]);
    if (argc == 4 && std::string(argv[1]) == "edges") return edges(argv[2], std::atoll(argv[3]));
    if (argc == 4 && std::string(argv[1]) == "alike") return alike(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: beat_session write FOLDER SECONDS TEMPO FORMULA | edges FILE.wav TEMPO | alike EXPORT.wav "
                 "OTHER.wav\n");
    return 2;
}
