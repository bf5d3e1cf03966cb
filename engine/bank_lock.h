// The lock over the program bank (compiled forms, formula and name texts). The audio
// thread must never queue behind other takers: it raises a claim before it waits, and
// every other taker stands back while a claim is up. Its wait is then at most one hold
// of another thread (one compilation walk, one chunk restore or one scope drawing).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

class BankLock {
public:
    // [any thread but the audio thread] For std::lock_guard.
    void lock() {
        while (audioClaims_.load(std::memory_order_acquire) > 0) std::this_thread::yield();
        mutex_.lock();
    }
    void unlock() { mutex_.unlock(); }

    // [audio thread]
    void lockForAudio() {
        audioClaims_.fetch_add(1, std::memory_order_acq_rel);
        mutex_.lock();
        audioClaims_.fetch_sub(1, std::memory_order_acq_rel);
    }

private:
    std::mutex mutex_;
    std::atomic<int> audioClaims_{0};
};

// Holds the bank for the audio thread for one scope.
class AudioHold {
public:
    explicit AudioHold(BankLock& lock) : lock_(lock) { lock_.lockForAudio(); }
    ~AudioHold() { lock_.unlock(); }
    AudioHold(const AudioHold&) = delete;
    AudioHold& operator=(const AudioHold&) = delete;

private:
    BankLock& lock_;
};
