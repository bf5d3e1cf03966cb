// Whole files in and out, with errors that name the file and give the system's reason
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

std::vector<uint8_t> readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
