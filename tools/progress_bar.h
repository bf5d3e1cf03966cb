// A progress bar on standard error, shown only when it is a terminal and the work has
// already taken more than a second.
#pragma once

#include <chrono>
#include <cstdint>

class ProgressBar {
public:
    ProgressBar();
    ~ProgressBar();
    void update(int64_t done, int64_t total);
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void finish();

private:
    bool terminal_;
    bool shown_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_;
};
