// Three threads on one instrument, as hosts drive it: an audio thread rendering blocks
// with notes and program changes, a user-interface thread working the editor, and a host
// thread selecting programs and saving and restoring the state. Built with
// ThreadSanitizer in `make test`. The drum voice's sound must be the one a single thread
// renders, and the audio thread's blocks must take the time they take alone, however
// long the other threads hold the bank.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "host/bytone.h"
#include "instrument_probe.h"
#include "vst_events.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace editor;

constexpr int kBlock = 256;
constexpr int kDrumProgram = 30;

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 44100 : 0;
}

// Median, 99th percentile and longest of block times in us.
std::string describeTimes(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    char text[160];
    std::snprintf(text, sizeof text, "block time median %.1f us, 99th percentile %.1f us, longest %.1f us",
                  times[times.size() / 2], times[times.size() * 99 / 100], times.back());
    return text;
}

void prepare(engine::Instrument& synth) {
    std::strcpy(inside(synth).programs[kDrumProgram].formula, "(P*3)&255");
    inside(synth).programs[kDrumProgram].needsCompile = true;
    inside(synth).programs[kDrumProgram].drumKey = 40;
    std::lock_guard<std::mutex> hold(synth.bankLock());
    synth.compileDirtyPrograms();
}

// One block's events: a drum note that ends inside the block, and a program change.
std::vector<VstMidiEvent> blockEvents(int block) {
    return {vstMidiEvent(0x99, 40, 100, 0), vstMidiEvent(0x89, 40, 0, 200), vstMidiEvent(0xC0, block % 20, 0, 100)};
}

TEST(Concurrency, ThreeThreadsSoundAsOne) {
    const double seconds = std::getenv("BYTONE_STRESS_SECONDS") ? std::atof(std::getenv("BYTONE_STRESS_SECONDS")) : 2.0;

    auto plugin = std::make_unique<Bytone>(quietHost);
    prepare(plugin->instrument());
    auto owned = std::make_unique<HeadlessPlatform>();
    HeadlessPlatform& platform = *owned;
    GUI gui(plugin->instrument(), std::move(owned));
    ASSERT_TRUE(gui.open(nullptr));
    AEffect* effect = plugin->getAeffect();
    void* data = nullptr;
    const VstIntPtr size = effect->dispatcher(effect, effGetChunk, 0, 0, &data, 0.0f);
    const std::vector<char> savedChunk(static_cast<char*>(data), static_cast<char*>(data) + size);

    std::atomic<bool> stop{false};
    std::vector<float> sound;
    std::atomic<int> blocks{0};
    double longestHold = 0.0;
    std::vector<double> blockTimes;

    std::thread audio([&] {
        std::vector<float> left(kBlock), right(kBlock);
        float* outputs[2] = {left.data(), right.data()};
        for (int block = 0; !stop; ++block) {
            EventBlock events(blockEvents(block));
            effect->dispatcher(effect, effProcessEvents, 0, 0, events.get(), 0.0f);
            const auto before = Clock::now();
            effect->processReplacing(effect, nullptr, outputs, kBlock);
            blockTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            sound.insert(sound.end(), left.begin(), left.end());
            blocks = block + 1;
        }
    });
    std::thread ui([&] {
        const char* formulas[] = {"T*P>>9", "P&128", "(P&256?P:~P)&255", "P+#"};
        for (int step = 0; !stop; ++step) {
            const Rect poly = platform.screenRect(PolyLabel), time = platform.screenRect(TimeLabel);
            gui.leftButtonDown({poly.left + 5, poly.top + 5});
            gui.mouseMove({poly.left + 5 + (step % 2 ? 10 : -10), poly.top + 5});
            gui.leftButtonUp();
            gui.wheel({time.left + 5, time.top + 5}, step % 2 ? 120 : -120);
            platform.texts[FormulaEdit] = formulas[step % 4];
            gui.formulaEdited();
            platform.clipboard = std::string(1500, '7');
            gui.buttonClicked(kPasteId);
            gui.buttonClicked(kCopyId);
            const auto before = Clock::now();
            gui.refreshPending = true;
            gui.tick();  // compiles and draws the scope under the bank lock
            longestHold =
                std::max(longestHold, std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            platform.paint();
        }
    });
    std::thread host([&] {
        std::vector<char> chunk = savedChunk;
        char name[64];
        for (int step = 0; !stop; ++step) {
            effect->dispatcher(effect, effSetProgram, 0, step % 20, nullptr, 0.0f);
            effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f);
            effect->dispatcher(effect, effGetProgramName, 0, 0, name, 0.0f);
            void* saved = nullptr;
            effect->dispatcher(effect, effGetChunk, 0, 0, &saved, 0.0f);
            if (step % 4 == 0)
                effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(chunk.size()), chunk.data(), 0.0f);
            std::this_thread::yield();
        }
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    audio.join();
    ui.join();
    host.join();
    gui.close();

    // The same blocks on one thread.
    auto alone = std::make_unique<Bytone>(quietHost);
    prepare(alone->instrument());
    std::vector<float> left(kBlock), right(kBlock), expected;
    float* outputs[2] = {left.data(), right.data()};
    for (int block = 0; block < blocks; ++block) {
        EventBlock events(blockEvents(block));
        alone->processEvents(events.get());
        alone->processReplacing(nullptr, outputs, kBlock);
        expected.insert(expected.end(), left.begin(), left.end());
    }
    ASSERT_GT(blocks, 10);
    EXPECT_EQ(sound, expected);
    std::printf("%d blocks beside the editor and the host: %s; the editor's longest refresh %.1f us\n", blocks.load(),
                describeTimes(blockTimes).c_str(), longestHold);
}

// A scope surface that stalls inside every drawing, as a slow window system would.
class StallingCanvas : public Canvas {
public:
    StallingCanvas(Canvas& inner, std::chrono::milliseconds stall) : inner_(inner), stall_(stall) {}
    void setBrushColor(SysColor color) override { inner_.setBrushColor(color); }
    void setPenColor(SysColor color) override { inner_.setPenColor(color); }
    void roundRect(int l, int t, int r, int b, int w, int h) override { inner_.roundRect(l, t, r, b, w, h); }
    void line(int x0, int y0, int x1, int y1) override {
        if (x0 == kScopeWidth / 2) std::this_thread::sleep_for(stall_);
        inner_.line(x0, y0, x1, y1);
    }
    void setTextColor(SysColor color) override { inner_.setTextColor(color); }
    void setTransparentText(bool transparent) override { inner_.setTransparentText(transparent); }
    void textOut(int x, int y, const std::string& text) override { inner_.textOut(x, y, text); }
    void drawTextCentered(const Rect& rect, const std::string& text) override { inner_.drawTextCentered(rect, text); }

private:
    Canvas& inner_;
    std::chrono::milliseconds stall_;
};

class StallingPlatform : public HeadlessPlatform {
public:
    Canvas& scopeCanvas() override {
        if (!canvas_) canvas_ = std::make_unique<StallingCanvas>(HeadlessPlatform::scopeCanvas(), kStall);
        return *canvas_;
    }
    static constexpr std::chrono::milliseconds kStall{40};

private:
    std::unique_ptr<StallingCanvas> canvas_;
};

// Renders blocks with notes and program changes, at least `count` and until `enough`
// holds, and returns their times in us.
template <class Enough>
std::vector<double> timeBlocks(Bytone& plugin, int count, Enough&& enough) {
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    std::vector<double> times;
    for (int block = 0; block < count || !enough(); ++block) {
        EventBlock events(blockEvents(block));
        plugin.processEvents(events.get());
        const auto before = Clock::now();
        plugin.processReplacing(nullptr, outputs, kBlock);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    return times;
}

TEST(Concurrency, TheAudioThreadNeverWaitsForTheCompilingSide) {
    // The other threads hold the bank for tens of milliseconds at a time: one sleeps in
    // every scope drawing, one restores banks of long formulas and sleeps holding the
    // lock. The audio thread's blocks must not notice.
    auto plugin = std::make_unique<Bytone>(quietHost);
    engine::Instrument& synth = plugin->instrument();
    prepare(synth);
    inside(synth).interpolate = true;
    const std::vector<double> quiet = timeBlocks(*plugin, 2000, [] { return true; });

    GUI gui(synth, std::make_unique<StallingPlatform>());
    ASSERT_TRUE(gui.open(nullptr));
    std::atomic<bool> stop{false};
    std::atomic<int> stalls{0};
    std::thread ui([&] {
        while (!stop) {
            gui.refreshPending = true;
            gui.tick();
            ++stalls;
        }
    });
    std::thread host([&] {
        std::string longFormula = "P";
        for (int t = 0; t < 200; ++t) longFormula += "^(T*" + std::to_string(t) + ")";
        while (!stop) {
            {
                std::lock_guard<std::mutex> hold(synth.bankLock());
                for (int i = 0; i < kNumPrograms; ++i) {
                    std::snprintf(inside(synth).programs[i].formula, kFormulaSize, "%s", longFormula.c_str());
                    inside(synth).programs[i].needsCompile = i != kDrumProgram;
                }
                synth.compileDirtyPrograms();
                std::this_thread::sleep_for(StallingPlatform::kStall);
            }
            ++stalls;
            std::this_thread::yield();
        }
    });
    const std::vector<double> stalled = timeBlocks(*plugin, 2000, [&] { return stalls >= 10; });
    stop = true;
    ui.join();
    host.join();
    gui.close();
    std::printf("alone: %s\nbeside stalls of %lld ms: %s\n", describeTimes(quiet).c_str(),
                static_cast<long long>(StallingPlatform::kStall.count()), describeTimes(stalled).c_str());
    // A block that waited for one stall would take 40 ms at least.
    EXPECT_LT(*std::max_element(stalled.begin(), stalled.end()), 20000.0);
}

TEST(Concurrency, TheAudioThreadNeverSeesASettingOutOfItsRange) {
    // The editor drags and wheels every label against the ends of its range while another
    // thread reads the settings as the audio thread does.
    auto synth = std::make_unique<engine::Instrument>();
    auto owned = std::make_unique<HeadlessPlatform>();
    HeadlessPlatform& platform = *owned;
    GUI gui(*synth, std::move(owned));
    ASSERT_TRUE(gui.open(nullptr));
    std::atomic<bool> stop{false};
    std::atomic<int> outOfRange{0};
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        for (reading = true; !stop;) {
            const int32_t poly = inside(*synth).polyphony, porta = inside(*synth).portamento,
                          time = inside(*synth).timeScale;
            const int32_t gain = inside(*synth).gain, drumKey = inside(*synth).programs[0].drumKey;
            if (poly < 1 || poly > 8 || porta < 1 || porta > 100 || time < 1 || time > 100 || gain < 1 || gain > 200 ||
                (drumKey != 0 && (drumKey < 23 || drumKey > 191)))
                ++outOfRange;
        }
    });
    while (!reading) std::this_thread::yield();
    for (int step = 0; step < 20000; ++step) {
        for (const Control label : {PolyLabel, PortaLabel, TimeLabel, GainLabel, DrumLabel}) {
            const Rect rect = platform.screenRect(label);
            const Point point{rect.left + 5, rect.top + 5};
            const int direction = step % 2 ? 1 : -1;
            gui.wheel(point, direction * 120 * 300);
            gui.leftButtonDown(point);
            gui.mouseMove({point.x + direction * 2000, point.y});
            gui.leftButtonUp();
        }
    }
    stop = true;
    reader.join();
    gui.close();
    EXPECT_EQ(outOfRange, 0);
}

// Pages for code that the system refuses while `refuseMaps` holds, as when memory runs out.
std::atomic<bool> refuseMaps{false};
std::atomic<int> refusedMaps{0};
uint8_t* mapUnlessRefused(size_t bytes) {
    if (!refuseMaps) return systemCodePages().map(bytes);
    ++refusedMaps;
    return nullptr;
}

TEST(Concurrency, CodeThatFoundNoPagesIsNeverWrittenIntoARecordThatPlays) {
    // The edits of the sounding program find no pages, those of another program do: the
    // sounding program's record, handed out without code and played, must not get code
    // from the other program's batch (ThreadSanitizer would see the write beside the
    // audio thread's reads).
    const CodePages flaky{mapUnlessRefused, systemCodePages().seal, systemCodePages().release, systemCodePages().enter,
                          systemCodePages().leave};
    auto synth = std::make_unique<engine::Instrument>(flaky);
    synth->setSampleRate(44100.0);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> left(kBlock), right(kBlock);
        synth->queueMidi(0x90, 60, 100, 0);
        while (!stop) synth->render(left.data(), right.data(), kBlock);
    });
    for (int edit = 0; edit < 200; ++edit) {
        {
            std::lock_guard<std::mutex> hold(synth->bankLock());
            engine::ProgramSlot& slot = inside(*synth).programs[edit % 2];  // program 0 sounds
            refuseMaps = edit % 2 == 0;
            std::snprintf(slot.formula, kFormulaSize, "P*%d&255", edit % 50 + 1);
            slot.needsCompile = true;
            synth->compileDirtyPrograms();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // the audio thread plays the edit
    }
    stop = true;
    audio.join();
    EXPECT_EQ(refusedMaps, 100);
}

}  // namespace
