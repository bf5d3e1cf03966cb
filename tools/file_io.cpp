#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

[[noreturn]] void fail(const std::string& path, int error) { throw FileError(path + ": " + std::strerror(error)); }

}  // namespace

std::vector<uint8_t> readWholeFile(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail(path, errno);
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    if (std::ferror(file.get())) fail(path, errno);  // a folder, for one: EISDIR
    return bytes;
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    File file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) fail(path, errno);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0)
        fail(path, errno);
}
