// The audio thread's block times are a distribution, not one figure: the bench measures
// it side by side in one run, alone and with the other threads busy on the same instance.
#include "block_times.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "host/bytone.h"
#include "tests/instrument_probe.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 256;
constexpr int kBlocks = 6000;

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 48000 : 0;
}

struct Times {
    double median, p99, longest;
};

Times timeBlocks(Bytone& synth) {
    std::vector<float> left(kFrames), right(kFrames);
    float* outputs[2] = {left.data(), right.data()};
    std::vector<double> us;
    us.reserve(kBlocks);
    for (int block = 0; block < kBlocks; ++block) {
        const auto before = Clock::now();
        synth.processReplacing(nullptr, outputs, kFrames);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

// Runs the calling thread at a real-time priority, as hosts run their audio threads, for
// as long as it lives; false where the system does not allow it.
class RealTimePriority {
public:
    RealTimePriority() {
        pthread_getschedparam(pthread_self(), &policy_, &param_);
        sched_param realTime{};
        realTime.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
        granted_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime) == 0;
    }
    ~RealTimePriority() {
        if (granted_) pthread_setschedparam(pthread_self(), policy_, &param_);
    }
    bool granted() const { return granted_; }

private:
    int policy_ = 0;
    sched_param param_{};
    bool granted_ = false;
};

}  // namespace

void reportBlockTimes() {
    const RealTimePriority priority;
    auto plugin = std::make_unique<Bytone>(host);
    engine::Instrument& synth = plugin->instrument();
    const int played[8] = {0, 4, 11, 15, 21, 23, 28, 35};
    for (int v = 0; v < 8; ++v) {
        synth.setProgram(played[v]);
        inside(synth).noteOn(engine::Event{engine::EventKind::Note, 0, 0, 48 + 3 * v, 100, 0, 0.0f, 0, 0});
    }
    const Times alone = timeBlocks(*plugin);

    // Two banks of long formulas, restored in turn over and over, as a host loading
    // presets; the programs that sound keep their formulas, so that the blocks' work
    // stays the same, and every other program is compiled anew at each restore.
    auto bank = std::make_unique<engine::Instrument>();
    std::vector<char> chunks[2];
    for (int b = 0; b < 2; ++b) {
        std::string longFormula = b ? "T" : "P";
        for (int t = 0; t < 120; ++t) longFormula += "^(T*" + std::to_string(t) + ")";
        for (int i = 0; i < kNumPrograms; ++i)
            if (std::find(played, played + 8, i) == played + 8)
                std::snprintf(inside(*bank).programs[i].formula, kFormulaSize, "%s", longFormula.c_str());
        const void* data = nullptr;
        const int32_t size = bank->saveState(&data);
        chunks[b].assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
    }
    editor::GUI gui(synth, std::make_unique<editor::HeadlessPlatform>());
    gui.open(nullptr);
    std::atomic<bool> stop{false};
    std::thread restorer([&] {
        for (int b = 0; !stop; b ^= 1) synth.restoreState(chunks[b].data(), static_cast<int32_t>(chunks[b].size()));
    });
    std::thread editorThread([&] {
        while (!stop) {
            gui.refreshPending = true;
            gui.tick();
        }
    });
    const Times busy = timeBlocks(*plugin);
    stop = true;
    restorer.join();
    editorThread.join();
    gui.close();

    std::printf("\nBlocks of %d frames at 48 kHz, 8 voices (us), %s: median, 99th percentile, longest\n", kFrames,
                priority.granted() ? "audio thread at a real-time priority" : "no real-time priority here");
    std::printf("alone                               %8.1f %8.1f %8.1f\n", alone.median, alone.p99, alone.longest);
    std::printf("beside bank restores and the editor %8.1f %8.1f %8.1f\n", busy.median, busy.p99, busy.longest);
    std::printf("99th percentile beside / alone: %.2f\n", busy.p99 / alone.p99);
}
