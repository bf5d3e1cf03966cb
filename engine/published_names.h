// Program names that any thread reads without a lock, the audio thread among them (a
// host may ask for a name from inside a callback of that thread). One writer at a time
// publishes a name; a reader copies it and tries again when a publication overlapped its
// copy, a bounded number of times, so that it never waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

class PublishedNames {
public:
    static constexpr int kSize = 32;  // 31 characters and the zero
    static constexpr int kCount = 128;

    // [the one writer] Publishes `name` (cut to 31 characters) as name `index`.
    void publish(int index, const char* name) {
        Entry& entry = entries_[index];
        uint64_t words[kWords] = {};
        size_t length = 0;
        while (length < kSize - 1 && name[length]) ++length;
        std::memcpy(words, name, length);
        // Odd while it writes. Each word is a release store, so that a reader who sees one
        // sees the odd count after it too.
        const uint32_t version = entry.version.fetch_add(1, std::memory_order_relaxed);
        for (int w = 0; w < kWords; ++w) entry.words[w].store(words[w], std::memory_order_release);
        entry.version.store(version + 2, std::memory_order_release);
    }

    // [any thread] Copies name `index` into `out` (room for kSize characters).
    void read(int index, char out[kSize]) const {
        const Entry& entry = entries_[index];
        uint64_t words[kWords];
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const uint32_t before = entry.version.load(std::memory_order_acquire);
            for (int w = 0; w < kWords; ++w) words[w] = entry.words[w].load(std::memory_order_acquire);
            if (!(before & 1) && entry.version.load(std::memory_order_relaxed) == before) break;
            // Written meanwhile: read again, or after the last attempt keep this copy,
            // which is a mixture of two names but still a terminated text.
        }
        std::memcpy(out, words, kSize);
        out[kSize - 1] = '\0';
    }

private:
    static constexpr int kWords = kSize / 8;
    static constexpr int kAttempts = 4;
    struct Entry {
        std::atomic<uint32_t> version{0};  // odd while a publication is under way
        std::atomic<uint64_t> words[kWords]{};
    };
    Entry entries_[kCount];
};
