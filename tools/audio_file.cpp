#include "audio_file.h"

#include "file_names.h"

#include <cstring>
#include <vector>

int AudioFileWriter::containerOf(const std::string& path, SampleFormat format) {
    const std::string ext = lowerExtension(path);
    int container = 0;
    if (ext == "wav")
        container = SF_FORMAT_WAV;
    else if (ext == "flac")
        container = SF_FORMAT_FLAC;
    else if (ext.empty())
        throw AudioFileError(path + ": no file type; name a .wav or .flac file");
    else
        throw AudioFileError(path + ": unknown sound file type '." + ext + "' (use .wav or .flac)");
    if (container == SF_FORMAT_FLAC && format == SampleFormat::Float)
        throw AudioFileError(path + ": FLAC holds 16- or 24-bit samples, not floats");
    return container;
}

AudioFileWriter::AudioFileWriter(const std::string& path, int sampleRate, SampleFormat format, int64_t frames)
    : path_(path) {
    int container = containerOf(path, format);
    const int subtype = format == SampleFormat::Pcm16   ? SF_FORMAT_PCM_16
                        : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                        : SF_FORMAT_FLOAT;
    const int64_t sampleBytes = format == SampleFormat::Pcm16 ? 2 : format == SampleFormat::Pcm24 ? 3 : 4;
    constexpr int64_t kWavDataLimit = 0xFFFFFFFFll - 1024;  // the header's count, less the header
    if (container == SF_FORMAT_WAV && frames > kWavDataLimit / (2 * sampleBytes)) container = SF_FORMAT_RF64;
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

void AudioFileWriter::close() {
    if (!file_) return;
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) throw AudioFileError("cannot finish " + path_ + ": " + sf_error_number(result));
    try {
        output_->commit();
    } catch (const FileError& e) {
        throw AudioFileError(e.what());
    }
}
