#include "output_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The temporary files open now, for the signal handler: plain arrays that it reads
// without allocating, each slot marked in use only once its name is complete.
constexpr int kSlots = 8;
constexpr size_t kPathBytes = 4096;
char temporaryNames[kSlots][kPathBytes];
volatile sig_atomic_t slotInUse[kSlots];

extern "C" void onInterrupt(int signal) {
    for (int i = 0; i < kSlots; ++i)
        if (slotInUse[i]) unlink(temporaryNames[i]);
    _exit(128 + signal);
}

[[noreturn]] void fail(const std::string& path, const std::string& why) { throw FileError(path + ": " + why); }

fs::path folderOf(const std::string& target) {
    const fs::path parent = fs::path(target).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// A path that names the same file however it is written, also before the file exists.
fs::path sameFileKey(const std::string& path) {
    std::error_code error;
    const fs::path key = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::path(path) : key;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    const std::string folder = folderOf(target).string();
    std::string name = ".";  // hidden, beside the target
    name += fs::path(target).filename().string();
    name += ".XXXXXX";
    std::string pattern = (folderOf(target) / name).string();
    if (pattern.size() >= kPathBytes) fail(target, "the name is too long");
    const int fd = mkstemp(pattern.data());
    if (fd < 0) fail(target, std::string("cannot create a file in ") + folder + ": " + std::strerror(errno));
    close(fd);
    temporary_ = pattern;
    for (int i = 0; i < kSlots && slot_ < 0; ++i) {
        if (slotInUse[i]) continue;
        std::memcpy(temporaryNames[i], temporary_.c_str(), temporary_.size() + 1);
        slotInUse[i] = 1;
        slot_ = i;
    }
}

OutputFile::~OutputFile() {
    if (temporary_.empty()) return;
    unlink(temporary_.c_str());
    if (slot_ >= 0) slotInUse[slot_] = 0;
}

void OutputFile::commit() {
    // mkstemp made it readable by its owner only; a new file gets 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    if (chmod(temporary_.c_str(), 0666 & ~mask) != 0 || std::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail(target_, std::strerror(errno));
    if (slot_ >= 0) slotInUse[slot_] = 0;
    temporary_.clear();
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    OutputFile output(path);
    std::FILE* file = std::fopen(output.path().c_str(), "wb");
    if (!file) fail(path, std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written) fail(path, std::strerror(written ? errno : error));
    output.commit();
}

void removeOutputsOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
    std::vector<fs::path> seen;
    for (const std::string& output : outputs) {
        std::error_code error;
        if (output == "-") fail(output, "writing to standard output is not supported; name a file");
        if (fs::is_directory(output, error)) fail(output, "is a folder; name a file to write");
        const fs::path folder = folderOf(output);
        if (fs::exists(folder, error) && !fs::is_directory(folder, error))
            fail(output, folder.string() + " is not a folder");
        if (!fs::is_directory(folder, error)) fail(output, "the folder " + folder.string() + " does not exist");
        if (access(folder.c_str(), W_OK) != 0) fail(output, "the folder " + folder.string() + " is not writable");
        const fs::path key = sameFileKey(output);
        for (const fs::path& other : seen)
            if (other == key) fail(output, "is named as two outputs");
        for (const std::string& input : inputs)
            if (!input.empty() && sameFileKey(input) == key) fail(output, "is also an input; it would be overwritten");
        seen.push_back(key);
    }
}
