#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

ProgressBar::ProgressBar() : terminal_(isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::finish() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
    terminal_ = false;  // nothing more is drawn
}

void ProgressBar::update(int64_t done, int64_t total) {
    if (!terminal_ || total <= 0) return;
    if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    shown_ = true;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", kWidth - filled, "",
                 percent);
    std::fflush(stderr);
}
