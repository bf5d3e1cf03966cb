// Files the tool writes whole or not at all. The bytes go to a temporary file in the
// target's folder, which `commit` renames over the target once it is complete and
// closed; an error (the object destroyed without a commit) removes the temporary file
// and leaves the target as it was. A symbolic link is written through: the file it
// points to is replaced, and keeps its permissions. A stream ("-" for standard output,
// or a device or pipe such as /dev/null) gets the bytes from a temporary file in the
// system's temporary folder once they are complete. SIGINT and SIGTERM remove every
// temporary file still open and end the tool with 128 plus the signal's number (130
// for Ctrl-C).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"

class OutputFile {
public:
    // Creates the temporary file; throws FileError when the target's folder is missing
    // or not writable.
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write: the temporary file.
    const std::string& path() const { return temporary_; }
    const std::string& target() const { return target_; }
    // Gives the temporary file the permissions of the file it replaces (of a new file
    // when there is none) and renames it over that file, or copies it into the stream;
    // throws FileError when that fails (the temporary file is then removed).
    void commit();

private:
    std::string target_;
    std::string written_;  // the file the temporary one replaces; empty for a stream
    std::string temporary_;
    int slot_ = -1;  // in the list of files the signal handler removes
};

// Writes `bytes` as the whole of `path`, through an OutputFile.
void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether `path` is a stream: "-" (standard output), or a file there that is neither a
// plain file nor a folder.
bool isStream(const std::string& path);

// Installs the handler of SIGINT and SIGTERM; once, at the start.
void removeOutputsOnInterrupt();

// Checks before any work that each output can be written: a stream, or a file name (not
// a folder) in a folder that exists and takes a new file; throws FileError saying which
// and why. No two outputs may be the same file, nor an output the same file as an
// input: a command line that asks for that is refused with a UsageError.
void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);
