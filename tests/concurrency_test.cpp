// Three threads on one instrument, as hosts drive it: an audio thread rendering blocks
// with notes and program changes, a user-interface thread working the editor, and a host
// thread selecting programs and saving and restoring the state. Built with
// ThreadSanitizer in `make test`. The drum voice's sound must be the one a single thread
// renders, and the audio thread's longest wait for the bank lock is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "engine_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace editor;

constexpr int kBlock = 256;
constexpr int kDrumProgram = 30;

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 44100 : 0;
}

void prepare(Bytone& synth) {
    std::strcpy(synth.programs[kDrumProgram].formula, "(P*3)&255");
    synth.programs[kDrumProgram].needsCompile = true;
    synth.programs[kDrumProgram].drumKey = 40;
    std::lock_guard<BankLock> hold(synth.bankLock);
    synth.compileDirtyPrograms();
}

// One block's events: a drum note that ends inside the block, and a program change.
std::vector<VstMidiEvent> blockEvents(int block) {
    return {midiEvent(0x99, 40, 100, 0), midiEvent(0x89, 40, 0, 200), midiEvent(0xC0, block % 20, 0, 100)};
}

TEST(Concurrency, ThreeThreadsSoundAsOne) {
    const double seconds = std::getenv("BYTONE_STRESS_SECONDS") ? std::atof(std::getenv("BYTONE_STRESS_SECONDS")) : 2.0;

    Bytone synth(quietHost);
    prepare(synth);
    auto owned = std::make_unique<HeadlessPlatform>();
    HeadlessPlatform& platform = *owned;
    GUI gui(synth, std::move(owned));
    ASSERT_TRUE(gui.open(nullptr));
    AEffect* effect = synth.getAeffect();
    void* data = nullptr;
    const VstIntPtr size = effect->dispatcher(effect, effGetChunk, 0, 0, &data, 0.0f);
    const std::vector<char> savedChunk(static_cast<char*>(data), static_cast<char*>(data) + size);

    std::atomic<bool> stop{false};
    std::vector<float> sound;
    std::atomic<int> blocks{0};
    double longestWait = 0.0, longestHold = 0.0;

    std::thread audio([&] {
        std::vector<float> left(kBlock), right(kBlock);
        float* outputs[2] = {left.data(), right.data()};
        for (int block = 0; !stop; ++block) {
            EventBlock events(blockEvents(block));
            effect->dispatcher(effect, effProcessEvents, 0, 0, events.get(), 0.0f);
            const auto before = Clock::now();
            synth.bankLock.lockForAudio();  // the wait that processReplacing would have
            longestWait =
                std::max(longestWait, std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            synth.bankLock.unlock();
            effect->processReplacing(effect, nullptr, outputs, kBlock);
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
            gui.idle();  // compiles and draws the scope under the bank lock
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
    Bytone alone(quietHost);
    prepare(alone);
    std::vector<float> left(kBlock), right(kBlock), expected;
    float* outputs[2] = {left.data(), right.data()};
    for (int block = 0; block < blocks; ++block) {
        EventBlock events(blockEvents(block));
        alone.processEvents(events.get());
        alone.processReplacing(nullptr, outputs, kBlock);
        expected.insert(expected.end(), left.begin(), left.end());
    }
    ASSERT_GT(blocks, 10);
    EXPECT_EQ(sound, expected);
    std::printf(
        "%d blocks; the audio thread's longest wait for the bank lock %.1f us, the editor's longest refresh %.1f us\n",
        blocks.load(), longestWait, longestHold);
}

TEST(Concurrency, TheAudioThreadWaitsNoLongerThanTheEditorHolds) {
    // The editor compiles and draws its scope in a loop while the audio thread renders
    // ten thousand blocks; how long does the audio thread wait for the bank lock?
    Bytone synth(quietHost);
    prepare(synth);
    synth.interpolate = true;
    GUI gui(synth, std::make_unique<HeadlessPlatform>());
    ASSERT_TRUE(gui.open(nullptr));
    std::atomic<bool> stop{false};
    double longestHold = 0.0;
    std::thread ui([&] {
        while (!stop) {
            const auto before = Clock::now();
            gui.refreshPending = true;
            synth.programs[synth.currentProgram].needsCompile = true;
            gui.idle();
            longestHold =
                std::max(longestHold, std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        }
    });
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    std::vector<double> waits;
    waits.reserve(10000);
    for (int block = 0; block < 10000; ++block) {
        EventBlock events(blockEvents(block));
        synth.processEvents(events.get());
        const auto before = Clock::now();
        synth.bankLock.lockForAudio();  // the wait that processReplacing would have
        waits.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        synth.bankLock.unlock();
        synth.processReplacing(nullptr, outputs, kBlock);
    }
    stop = true;
    ui.join();
    gui.close();
    std::sort(waits.begin(), waits.end());
    std::printf(
        "10000 blocks beside a refreshing editor: lock wait median %.2f us, 99.9th percentile %.1f us, "
        "longest %.1f us; the editor's longest refresh %.1f us\n",
        waits[waits.size() / 2], waits[waits.size() * 999 / 1000], waits.back(), longestHold);
    EXPECT_LT(waits[waits.size() / 2], 1000.0);
}

TEST(Concurrency, TheAudioThreadNeverSeesASettingOutOfItsRange) {
    // The editor drags and wheels every label against the ends of its range while another
    // thread reads the settings as the audio thread does.
    Bytone synth(quietHost);
    auto owned = std::make_unique<HeadlessPlatform>();
    HeadlessPlatform& platform = *owned;
    GUI gui(synth, std::move(owned));
    ASSERT_TRUE(gui.open(nullptr));
    std::atomic<bool> stop{false};
    std::atomic<int> outOfRange{0};
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        for (reading = true; !stop;) {
            const int32_t poly = synth.polyphony, porta = synth.portamento, time = synth.timeScale;
            const int32_t gain = synth.gain, drumKey = synth.programs[0].drumKey;
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

}  // namespace
