#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "command_error.h"

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

// The file that writing `target` replaces: the target, or the file its symbolic links
// lead to (which need not exist yet), as the shell's > writes through them.
std::string writtenFile(const std::string& target) {
    fs::path path = target;
    std::error_code error;
    for (int links = 0; links < 40 && fs::is_symlink(path, error); ++links) {
        const fs::path to = fs::read_symlink(path, error);
        if (error) break;
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return path.string();
}

// A path that names the same file however it is written, also before the file exists.
fs::path sameFileKey(const std::string& path) {
    std::error_code error;
    const fs::path key = fs::weakly_canonical(fs::absolute(writtenFile(path), error), error);
    return error ? fs::path(path) : key;
}

// A new hidden file `.NAME.XXXXXX` in `folder`, its name in `name`; false with errno set
// when it cannot be made.
bool makeTemporary(const fs::path& folder, const std::string& name, std::string& made) {
    std::string pattern = (folder / ("." + name + ".XXXXXX")).string();
    if (pattern.size() >= kPathBytes) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return false;
    close(fd);
    made = pattern;
    return true;
}

// Copies the whole of `from` into the stream `to` ("-": standard output). A reader that
// leaves early makes it fail (EPIPE) instead of ending the tool before its temporary
// file is removed.
bool copyInto(const std::string& from, const std::string& to) {
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = to == "-" ? STDOUT_FILENO : open(to.c_str(), O_WRONLY | O_CLOEXEC);
    bool copied = in >= 0 && out >= 0;
    char buffer[65536];
    for (ssize_t got; copied && (got = read(in, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            copied = errno == EINTR;
            continue;
        }
        for (ssize_t at = 0; copied && at < got;) {
            const ssize_t put = write(out, buffer + at, static_cast<size_t>(got - at));
            if (put > 0) at += put;
            copied = put > 0 || errno == EINTR;
        }
    }
    const int error = errno;
    sigaction(SIGPIPE, &before, nullptr);
    if (in >= 0) close(in);
    if (out >= 0 && out != STDOUT_FILENO && close(out) != 0 && copied) return false;
    errno = error;
    return copied;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    const bool stream = isStream(target);
    if (!stream) written_ = writtenFile(target);
    const fs::path folder = stream ? fs::temp_directory_path() : folderOf(written_);
    const std::string name = stream ? "bytone-output" : fs::path(written_).filename().string();
    if (!makeTemporary(folder, name, temporary_))
        fail(target, "cannot create a file in " + folder.string() + ": " + std::strerror(errno));
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
    if (written_.empty()) {
        if (!copyInto(temporary_, target_)) fail(target_, std::strerror(errno));
        unlink(temporary_.c_str());
    } else {
        // mkstemp made it readable by its owner only: it takes the mode of the file it
        // replaces, or a new file's, 0666 less the umask.
        struct stat replaced {};
        const mode_t mask = umask(0);
        umask(mask);
        const mode_t mode = stat(written_.c_str(), &replaced) == 0 ? replaced.st_mode & 07777 : 0666 & ~mask;
        if (chmod(temporary_.c_str(), mode) != 0 || std::rename(temporary_.c_str(), written_.c_str()) != 0)
            fail(target_, std::strerror(errno));
    }
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

bool isStream(const std::string& path) {
    if (path == "-") return true;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
    std::vector<fs::path> seen;
    for (const std::string& output : outputs) {
        const fs::path key = output == "-" ? fs::path("-") : sameFileKey(output);
        for (const fs::path& other : seen)
            if (other == key) throw UsageError(output + ": is named as two outputs");
        for (const std::string& input : inputs)
            if (!input.empty() && sameFileKey(input) == key)
                throw UsageError(output + ": is also an input; it would be overwritten");
        seen.push_back(key);
        if (isStream(output)) continue;
        std::error_code error;
        if (fs::is_directory(output, error)) fail(output, "is a folder; name a file to write");
        const fs::path folder = folderOf(writtenFile(output));
        if (fs::exists(folder, error) && !fs::is_directory(folder, error))
            fail(output, folder.string() + " is not a folder");
        if (!fs::is_directory(folder, error)) fail(output, "the folder " + folder.string() + " does not exist");
        // Made and removed again: only that shows that the folder takes a new file.
        std::string trial;
        if (!makeTemporary(folder, fs::path(output).filename().string(), trial))
            fail(output, "the folder " + folder.string() + " takes no new file: " + std::strerror(errno));
        unlink(trial.c_str());
    }
}
