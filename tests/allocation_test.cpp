// Allocation behaviour seen through a counting allocator: construction that runs out of
// memory at every possible step, and an audio thread that never allocates.
#include <gtest/gtest.h>

#include <memory>

#include "counting_allocator.h"
#include "host/bytone.h"
#include "instrument_probe.h"
#include "recording_host.h"
#include "vst_events.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

TEST(ConstructionFailure, TheHostGetsNullOrAWholeInstanceAndNothingLeaks) {
    RecordingHost::calls.reserve(64);
    int failures = 0;
    for (int budget = 0;; ++budget) {
        RecordingHost::calls.clear();  // keeps its room: the callback allocates nothing
        const long before = counting_allocator::live();
        counting_allocator::failAfter(budget);
        AEffect* effect = VSTPluginMain(RecordingHost::callback);
        counting_allocator::failAfter(-1);
        if (!effect) {
            ++failures;
            EXPECT_EQ(counting_allocator::live(), before) << "leak when allocation " << budget << " fails";
            continue;
        }
        EXPECT_EQ(effect->magic, kEffectMagic);
        EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
        EXPECT_EQ(counting_allocator::live(), before);
        break;
    }
    // The instance and its editor at least (the compiled programs' pages are reserved
    // from the system).
    EXPECT_GE(failures, 2);
}

TEST(AudioThread, RenderingAndEventIntakeNeverAllocate) {
    RecordingHost::reset();
    auto synth = std::make_unique<Bytone>(RecordingHost::callback);
    inside(synth->instrument()).interpolate = true;
    inside(synth->instrument()).programs[3].drumKey = 38;
    std::vector<float> left(512), right(512);
    float* outputs[2] = {left.data(), right.data()};
    // Every block: notes on and off on several channels, bends, the wheel, controllers
    // and program changes to programs that are already compiled.
    std::vector<EventBlock> blocks;
    for (int b = 0; b < 16; ++b) {
        std::vector<VstMidiEvent> events;
        for (int i = 0; i < 24; ++i) {
            const int frame = (i * 37 + b * 11) % 512;
            events.push_back(vstMidiEvent(0x90 | (i % 16), 40 + (i * 7 + b) % 50, 1 + i * 5, frame));
            events.push_back(vstMidiEvent(0x80 | (i % 16), 40 + (i * 5 + b) % 50, 0, (frame + 200) % 512));
        }
        events.push_back(vstMidiEvent(0xE0, b * 8, b * 8, 100));
        events.push_back(vstMidiEvent(0xB0, 1, b * 8, 200));
        events.push_back(vstMidiEvent(0xC0, b % 4, 0, 300));
        events.push_back(vstMidiEvent(0xB0, 6, b, 10));
        events.push_back(vstMidiEvent(0x99, 38, 100, 20));
        // Now and then more events than a block holds: the rest is dropped, not stored.
        for (int i = 0; b % 8 == 7 && i < engine::kEventCapacity; ++i)
            events.push_back(vstMidiEvent(0xB0, 1, i % 128, i % 512));
        blocks.emplace_back(std::move(events));
    }
    synth->processEvents(blocks[0].get());
    synth->processReplacing(nullptr, outputs, 512);  // the first refresh and compile settle

    RecordingHost::calls.reserve(20000);  // the test host's own record of calls
    const long before = counting_allocator::allocations();
    for (int block = 0; block < 10000; ++block) {
        RecordingHost::calls.clear();  // keeps its room
        synth->processEvents(blocks[block % blocks.size()].get());
        synth->processReplacing(nullptr, outputs, 512);
    }
    EXPECT_EQ(counting_allocator::allocations(), before);
}

}  // namespace
