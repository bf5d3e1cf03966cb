// Writes stereo sound files through libsndfile: WAV (16- or 24-bit PCM, or 32-bit
// float) and FLAC (16 or 24 bit), the container chosen by the file name.
#pragma once

#include <sndfile.h>

#include <stdexcept>
#include <string>

class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SampleFormat { Pcm16, Pcm24, Float };

class AudioFileWriter {
public:
    // Throws AudioFileError for an unknown extension, a format the container cannot
    // hold, or a file that cannot be created.
    AudioFileWriter(const std::string& path, int sampleRate, SampleFormat format);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    void write(const float* left, const float* right, int frames);
    // Flushes and closes; throws if the data could not be written.
    void close();

private:
    std::string path_;
    SNDFILE* file_ = nullptr;
};
