// Writes stereo sound files through libsndfile: WAV (16- or 24-bit PCM, or 32-bit
// float) and FLAC (16 or 24 bit), the container chosen by the file name or given. A WAV file
// whose samples would pass the 4 GB that its header can count is written as RF64, the
// WAV of broadcasting that counts in 64 bits. A float WAV file's format chunk has the
// extension's size that readers expect of a format other than PCM. The file is written
// whole or not at all.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "output_file.h"

class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SampleFormat { Pcm16, Pcm24, Float };

class AudioFileWriter {
public:
    // The container (SF_FORMAT_WAV or SF_FORMAT_FLAC) that `type` names ("wav" or
    // "flac"), else `path`'s extension, else WAV for a stream (output_file.h). Throws
    // UsageError for an unknown type, a file without one, or a format the container
    // cannot hold.
    static int containerOf(const std::string& path, const std::string& type, SampleFormat format);
    // `frames` is how many frames are to come. Throws as containerOf does, and
    // AudioFileError for a file that cannot be created.
    AudioFileWriter(const std::string& path, const std::string& type, int sampleRate, SampleFormat format,
                    int64_t frames);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    void write(const float* left, const float* right, int frames);
    // Flushes, closes and puts the file in place of the target; throws if the data
    // could not be written. Without it the target stays as it was.
    void close();

private:
    std::string path_;
    std::unique_ptr<OutputFile> output_;
    SNDFILE* file_ = nullptr;
    bool floatWav_ = false;  // its format chunk is given its extension at the end
};
