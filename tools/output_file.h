// Files the tool writes whole or not at all. The bytes go to a temporary file in the
// target's folder, which `commit` renames over the target once it is complete and
// closed; an error (the object destroyed without a commit) removes the temporary file
// and leaves the target as it was. SIGINT and SIGTERM remove every temporary file still
// open and end the tool with 128 plus the signal's number (130 for Ctrl-C).
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
    // Gives the temporary file the permissions of a new file and renames it over the
    // target; throws FileError when that fails (the temporary file is then removed).
    void commit();

private:
    std::string target_;
    std::string temporary_;
    int slot_ = -1;  // in the list of files the signal handler removes
};

// Writes `bytes` as the whole of `path`, through an OutputFile.
void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Installs the handler of SIGINT and SIGTERM; once, at the start.
void removeOutputsOnInterrupt();

// Checks before any work that each output can be written: a file name (not a folder)
// in a folder that exists and is writable, no two outputs the same file, and no output
// the same file as an input. Throws FileError saying which and why.
void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);
