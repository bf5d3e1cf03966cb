#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

[[noreturn]] void fail(const std::string& path, int error) { throw FileError(path + ": " + std::strerror(error)); }

}  // namespace

std::vector<uint8_t> readWholeFile(const std::string& path, size_t maxBytes) {
    File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail(path, errno);
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    // Read up to one byte past the limit: a file that has it is too large, whatever its
    // size said (a pipe or a growing file says nothing true).
    while ((got = std::fread(buffer, 1, std::min(sizeof buffer, maxBytes + 1 - bytes.size()), file.get())) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > maxBytes)
            throw FileError(path + ": larger than " + std::to_string(maxBytes) + " bytes, more than such a file holds");
    }
    if (std::ferror(file.get())) fail(path, errno);  // a folder, for one: EISDIR
    return bytes;
}
