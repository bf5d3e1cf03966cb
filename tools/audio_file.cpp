#include "audio_file.h"

#include "command_error.h"
#include "file_names.h"

#include <cstdio>
#include <cstring>
#include <vector>

int AudioFileWriter::containerOf(const std::string& path, const std::string& type, SampleFormat format) {
    const std::string ext = type.empty() ? lowerExtension(path) : type;
    int container = 0;
    if (ext == "wav" || (ext.empty() && isStream(path)))
        container = SF_FORMAT_WAV;
    else if (ext == "flac")
        container = SF_FORMAT_FLAC;
    else if (ext.empty())
        throw UsageError(path + ": no file type; name a .wav or .flac file, or give --type");
    else
        throw UsageError(path + ": unknown sound file type '." + ext + "' (use .wav or .flac)");
    if (container == SF_FORMAT_FLAC && format == SampleFormat::Float)
        throw UsageError(path + ": FLAC holds 16- or 24-bit samples, not floats");
    return container;
}

AudioFileWriter::AudioFileWriter(const std::string& path, const std::string& type, int sampleRate, SampleFormat format,
                                 int64_t frames)
    : path_(path) {
    int container = containerOf(path, type, format);
    const int subtype = format == SampleFormat::Pcm16   ? SF_FORMAT_PCM_16
                        : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                        : SF_FORMAT_FLOAT;
    const int64_t sampleBytes = format == SampleFormat::Pcm16 ? 2 : format == SampleFormat::Pcm24 ? 3 : 4;
    constexpr int64_t kWavDataLimit = 0xFFFFFFFFll - 1024;  // the header's count, less the header
    if (container == SF_FORMAT_WAV && frames > kWavDataLimit / (2 * sampleBytes)) container = SF_FORMAT_RF64;
    floatWav_ = container == SF_FORMAT_WAV && format == SampleFormat::Float;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = container | subtype;
    try {
        output_ = std::make_unique<OutputFile>(path);
    } catch (const FileError& e) {
        throw AudioFileError(e.what());
    }
    file_ = sf_open(output_->path().c_str(), SFM_WRITE, &info);
    if (!file_) throw AudioFileError("cannot write " + path + ": " + sf_strerror(nullptr));
    // Full scale (1.0) becomes the largest PCM value instead of wrapping round.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter() {
    if (file_) sf_close(file_);
}

void AudioFileWriter::write(const float* left, const float* right, int frames) {
    std::vector<float> samples(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        samples[2 * static_cast<size_t>(i)] = left[i];
        samples[2 * static_cast<size_t>(i) + 1] = right[i];
    }
    if (sf_writef_float(file_, samples.data(), frames) != frames)
        throw AudioFileError("cannot write " + path_ + ": " + sf_strerror(file_));
}

namespace {

uint32_t readLittle32(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}
void writeLittle32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// libsndfile gives a float WAV file a format chunk of 16 bytes, without the extension's
// size that every format but PCM has (readers such as sox warn). The chunk gets its two
// bytes (an extension of none) from the room of the PEAK chunk, which becomes padding, so
// that the samples stay where they are. A file laid out otherwise is left as it is.
bool extendFormatChunk(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    uint8_t header[512] = {};
    const size_t read = std::fread(header, 1, sizeof header, file);
    // RIFF, then its chunks up to the samples': the format's, then the others.
    size_t at = 12, format = 0, peak = 0, data = 0;
    while (at + 8 <= read && !data) {
        const size_t size = readLittle32(header + at + 4);
        if (std::memcmp(header + at, "fmt ", 4) == 0 && size == 16) format = at;
        if (std::memcmp(header + at, "PEAK", 4) == 0) peak = at;
        if (std::memcmp(header + at, "data", 4) == 0) data = at;
        at += 8 + size + (size & 1);
    }
    bool written = true;
    if (std::memcmp(header, "RIFF", 4) == 0 && format == 12 && peak > format && data > peak &&
        readLittle32(header + peak + 4) >= 2) {
        // Format (with its extension's size, 0), the chunks between, then padding.
        uint8_t rewritten[512] = {};
        std::memcpy(rewritten, header, 12);
        std::memcpy(rewritten + 12, header + 12, 24);
        writeLittle32(rewritten + 16, 18);
        size_t out = 12 + 8 + 18;
        for (size_t chunk = 12 + 8 + 16; chunk < data;) {
            const size_t size = readLittle32(header + chunk + 4), whole = 8 + size + (size & 1);
            if (chunk != peak) std::memcpy(rewritten + out, header + chunk, whole), out += whole;
            chunk += whole;
        }
        std::memcpy(rewritten + out, "JUNK", 4);
        writeLittle32(rewritten + out + 4, static_cast<uint32_t>(data - out - 8));
        written = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(rewritten, 1, data, file) == data;
    }
    return std::fclose(file) == 0 && written;
}

}  // namespace

void AudioFileWriter::close() {
    if (!file_) return;
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) throw AudioFileError("cannot finish " + path_ + ": " + sf_error_number(result));
    if (floatWav_ && !extendFormatChunk(output_->path())) throw AudioFileError("cannot finish " + path_);
    try {
        output_->commit();
    } catch (const FileError& e) {
        throw AudioFileError(e.what());
    }
}
