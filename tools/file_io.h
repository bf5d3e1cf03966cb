// Whole files in, with errors that name the file and give the system's reason
// ("song.mid: No such file or directory").
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file's bytes; a file larger than `maxBytes` is refused before it is read.
std::vector<uint8_t> readWholeFile(const std::string& path, size_t maxBytes);
