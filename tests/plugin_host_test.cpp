// Loads the built plug-in binary through its exported entry point and talks to it only
// through the effect record, as a VST 2.4 host does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/chunk.h"
#include "plugin_loader.h"
#include "recording_host.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// A state chunk that sets one program's formula and drum key and leaves the rest alone.
std::vector<float> programChunk(int index, const std::string& formula, int drumKey) {
    std::vector<float> floats(formula.size() + 16);
    chunkcodec::Writer w(floats.data());
    w.tag(chunktag::kStart);
    w.tag(chunktag::kProgramIndex);
    w.value(index);
    w.tag(chunktag::kFormula);
    w.string(formula.c_str());
    w.tag(chunktag::kDrumKey);
    w.value(drumKey);
    w.tag(chunktag::kEnd);
    floats.resize(static_cast<size_t>(w.count()));
    return floats;
}

class PluginHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { library = new PluginLibrary(BYTONE_PLUGIN_PATH); }
    static void TearDownTestSuite() {
        delete library;
        library = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(library->loaded()) << library->error();
        RecordingHost::reset();
        entry = library->entry("VSTPluginMain");
        ASSERT_NE(entry, nullptr);
        effect = entry(RecordingHost::callback);
        ASSERT_NE(effect, nullptr);
        RecordingHost::calls.clear();
    }
    void TearDown() override {
        if (effect) {
            EXPECT_EQ(dispatch(effClose), 1);
        }
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0) {
        char buffer[256];
        std::memset(buffer, 0x55, sizeof buffer);
        dispatch(opcode, index, 0, buffer);
        return buffer;
    }

    static inline PluginLibrary* library = nullptr;
    PluginEntry entry = nullptr;
    AEffect* effect = nullptr;
};

TEST_F(PluginHostTest, BothExportsAreTheSameEntryPoint) { EXPECT_EQ(library->entry("main"), entry); }

TEST_F(PluginHostTest, AHostWithoutAVersionGetsNoInstance) {
    RecordingHost::version = 0;
    EXPECT_EQ(entry(RecordingHost::callback), nullptr);
    ASSERT_EQ(RecordingHost::calls.size(), 1u);
    EXPECT_EQ(RecordingHost::calls[0].opcode, audioMasterVersion);
}

TEST_F(PluginHostTest, TheEffectRecordDescribesTheInstrument) {
    EXPECT_EQ(effect->magic, 0x56737450);
    EXPECT_EQ(effect->numPrograms, 128);
    EXPECT_EQ(effect->numParams, 0);
    EXPECT_EQ(effect->numInputs, 0);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, 305);  // with the editor
    EXPECT_EQ(effect->flags & effFlagsCanDoubleReplacing, 0);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->realQualities, 0);
    EXPECT_EQ(effect->offQualities, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_NE(effect->object, nullptr);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_EQ(effect->uniqueID, 0x6279746F);  // 'byto'
    EXPECT_EQ(effect->version, 1);
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->processDoubleReplacing, nullptr);
    EXPECT_NE(effect->setParameter, nullptr);
    EXPECT_NE(effect->getParameter, nullptr);
    for (char c : effect->future) EXPECT_EQ(c, 0);
}

TEST_F(PluginHostTest, TwoInstancesAreIndependent) {
    AEffect* second = entry(RecordingHost::callback);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, effect);
    EXPECT_NE(second->object, effect->object);
    dispatch(effSetProgram, 0, 9);
    EXPECT_EQ(second->dispatcher(second, effGetProgram, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(dispatch(effGetProgram), 9);
    EXPECT_EQ(second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(PluginHostTest, IdentityTextsAreWrittenWithTheirZeroOnly) {
    struct Case {
        VstInt32 opcode;
        const char* text;
    };
    const Case cases[] = {
        {effGetEffectName, "BYTONE"}, {effGetVendorString, "Kelmo"}, {effGetProductString, "v1.2 16.02.20"}};
    for (const Case& c : cases) {
        char buffer[80];
        std::memset(buffer, 0x55, sizeof buffer);
        EXPECT_EQ(dispatch(c.opcode, 0, 0, buffer), 1);
        const size_t length = std::strlen(c.text);
        EXPECT_EQ(std::string(buffer), c.text);
        EXPECT_EQ(buffer[length + 1], 0x55) << "wrote past " << length + 1 << " bytes";
    }
}

TEST_F(PluginHostTest, HostsListTheProgramsByIndex) {
    dispatch(effSetProgram, 0, 5);
    dispatch(effSetProgramName, 0, 0, const_cast<char*>("a name of thirty-one characters"));
    struct Case {
        VstInt32 index;
        VstIntPtr answer;
        const char* name;  // null: nothing written
    };
    const Case cases[] = {{0, 1, "001 Saw"},
                          {37, 1, "038 Pulsating Bass"},
                          {38, 1, "039 default"},
                          {127, 1, "128 default"},
                          {5, 1, "a name of thirty-one cha"},  // kVstMaxProgNameLen characters
                          {128, 0, nullptr},
                          {-1, 0, nullptr},
                          {INT32_MIN, 0, nullptr}};
    for (const Case& c : cases) {
        char buffer[kVstMaxProgNameLen + 1 + 8];
        std::memset(buffer, 0x55, sizeof buffer);
        EXPECT_EQ(dispatch(effGetProgramNameIndexed, c.index, -1, buffer), c.answer) << c.index;
        if (c.name) {
            EXPECT_STREQ(buffer, c.name) << c.index;
        } else {
            EXPECT_EQ(buffer[0], 0x55) << c.index;
        }
        for (size_t i = kVstMaxProgNameLen + 1; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0x55) << c.index;
    }
    EXPECT_EQ(dispatch(effGetProgramNameIndexed, 0, -1, nullptr), 0);
}

TEST_F(PluginHostTest, CanDoKnowsOnlyTheTwoEventTexts) {
    struct Case {
        const char* text;
        VstIntPtr answer;
    };
    const Case cases[] = {
        {"receiveVstEvents", 1},      {"receiveVstMidiEvent", 1}, {"ReceiveVstEvents", -1},
        {"RECEIVEVSTMIDIEVENT", -1},  {"sendVstEvents", -1},      {"", -1},
        {"receiveVstMidiEvents", -1}, {"receiveVstTimeInfo", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(dispatch(effCanDo, 0, 0, const_cast<char*>(c.text)), c.answer) << c.text;
    EXPECT_EQ(dispatch(effCanDo, 0, 0, nullptr), -1);
}

TEST_F(PluginHostTest, OpcodesAnswerAsPublished) {
    struct Case {
        VstInt32 opcode;
        VstIntPtr value;
        VstIntPtr answer;
    };
    const Case cases[] = {
        {effOpen, 0, 0},
        {effGetVu, 0, 0},
        {effSetSampleRate, 0, 0},
        {effSetBlockSize, 512, 0},
        {effEditDraw, 0, 0},
        {effEditMouse, 0, 0},
        {effEditKey, 0, 0},
        {effEditTop, 0, 0},
        {effEditSleep, 0, 0},
        {effIdentify, 0, 0x4E764566},
        {effCanBeAutomated, 0, 1},
        {effGetPlugCategory, 0, kPlugCategSynth},
        {effGetVendorVersion, 0, 1000},
        {effGetVstVersion, 0, 2400},
        {effGetCurrentMidiProgram, 0, -1},
        {effSetTotalSampleToProcess, 4096, 4096},
        {effSetTotalSampleToProcess, -7, -7},
        {effGetNumMidiInputChannels, 0, 1},
        {effGetNumMidiOutputChannels, 0, 0},
        {effGetTailSize, 0, 0},
        {effSetBypass, 1, 0},
        {effStartProcess, 0, 0},
        {effStopProcess, 0, 0},
        {effSetProcessPrecision, 1, 0},
        {effSetEditKnobMode, 2, 0},
        {effEditKeyDown, 13, 0},
        {effEditKeyUp, 13, 0},
        {80, 0, 0},
        {-1, 0, 0},
        {1000, 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(dispatch(c.opcode, 0, c.value), c.answer) << "opcode " << c.opcode;

    for (VstInt32 deprecated : {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57})
        EXPECT_EQ(dispatch(deprecated, 1, 1), 0) << "opcode " << deprecated;
}

TEST_F(PluginHostTest, ParameterCallsHaveNothingToDo) {
    EXPECT_EQ(text(effGetParamLabel), "");
    EXPECT_EQ(text(effGetParamDisplay), "");
    EXPECT_EQ(text(effGetParamName), "");
    effect->setParameter(effect, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 0), 0.0f);
}

TEST_F(PluginHostTest, SpeakerArrangementQueriesAnswerNull) {
    int dummy = 0;
    void* input = &dummy;
    void* output = &dummy;
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(PluginHostTest, ProgramsAreSelectedAndNamedThroughTheDispatcher) {
    EXPECT_EQ(text(effGetProgramName), "001 Saw");
    struct Case {
        VstIntPtr requested;
        VstIntPtr current;
        const char* name;
    };
    const Case cases[] = {
        {37, 37, "038 Pulsating Bass"}, {127, 127, "128 default"}, {128, 127, "128 default"},
        {-1, 127, "128 default"},       {5, 5, "006 Ringy"},       {1000, 5, "006 Ringy"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dispatch(effSetProgram, 0, c.requested), 0);
        EXPECT_EQ(dispatch(effGetProgram), c.current) << c.requested;
        EXPECT_EQ(text(effGetProgramName), c.name) << c.requested;
    }
}

TEST_F(PluginHostTest, LongProgramNamesFitTheHostsBuffer) {
    char name[] = "A program name of forty characters long!";
    dispatch(effSetProgramName, 0, 0, name);
    char buffer[64];
    std::memset(buffer, 0x55, sizeof buffer);
    dispatch(effGetProgramName, 0, 0, buffer);
    EXPECT_EQ(std::string(buffer), std::string(name, kVstMaxProgNameLen));
    EXPECT_EQ(buffer[kVstMaxProgNameLen + 1], 0x55);
}

TEST_F(PluginHostTest, TheDisplayIsRefreshedOnceAfterConstruction) {
    EXPECT_EQ(dispatch(effGetProgram), 0);
    EXPECT_EQ(RecordingHost::count(audioMasterUpdateDisplay), 1);
    EXPECT_EQ(dispatch(effGetProgram), 0);
    EXPECT_EQ(RecordingHost::count(audioMasterUpdateDisplay), 1);
    dispatch(effSetProgram, 0, 3);
    EXPECT_EQ(dispatch(effGetProgram), 3);
    EXPECT_EQ(RecordingHost::count(audioMasterUpdateDisplay), 2);
}

TEST_F(PluginHostTest, ResumeAsksTheHostForMidiOnce) {
    dispatch(effMainsChanged, 0, 0);
    EXPECT_TRUE(RecordingHost::calls.empty());
    dispatch(effMainsChanged, 0, 1);
    ASSERT_EQ(RecordingHost::calls.size(), 1u);
    EXPECT_EQ(RecordingHost::calls[0].opcode, audioMasterWantMidi);
    EXPECT_EQ(RecordingHost::calls[0].value, 1);
}

TEST_F(PluginHostTest, TheEditorHasItsRectangleAndRefusesAParentThatIsNoWindow) {
    ERect* rect = nullptr;
    ASSERT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 600);
    EXPECT_EQ(rect->bottom - rect->top, 330);
#if !defined(_WIN32)
    // An X11 window id that names no window (or no display at all): no editor, no fault.
    EXPECT_EQ(dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0x7ffffff0})), 0);
#endif
    dispatch(effEditIdle);
    dispatch(effEditClose);
}

TEST_F(PluginHostTest, NotesSoundThroughTheRecord) {
    dispatch(effMainsChanged, 0, 1);
    VstMidiEvent note{};
    note.type = kVstMidiType;
    note.byteSize = sizeof note;
    note.deltaFrames = 1;
    note.midiData[0] = static_cast<char>(0x90);
    note.midiData[1] = 69;
    note.midiData[2] = 100;
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&note);
    EXPECT_EQ(dispatch(effProcessEvents, 0, 0, &events), 1);
    float left[4] = {-1, -1, -1, -1}, right[4] = {-1, -1, -1, -1};
    float* outputs[2] = {left, right};
    effect->processReplacing(effect, nullptr, outputs, 4);
    // "001 Saw" is P&255: the phase of key 69 at 44,100 Hz is 2, 5, 7, each 1/1024 loud.
    const float expected[4] = {0.0f, 2.0f / 1024, 5.0f / 1024, 7.0f / 1024};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(left[k], expected[k]) << k;
        EXPECT_EQ(right[k], expected[k]) << k;
    }
    EXPECT_EQ(RecordingHost::count(audioMasterGetSampleRate), 1);
}

TEST_F(PluginHostTest, TheStateChunkMovesTheBankBetweenInstances) {
    void* data = nullptr;
    EXPECT_EQ(dispatch(effGetChunk, 0, 0, &data), 14712);
    dispatch(effSetProgram, 0, 12);
    char name[] = "Renamed";
    dispatch(effSetProgramName, 0, 0, name);
    const VstIntPtr size = dispatch(effGetChunk, 1, 0, &data);
    ASSERT_NE(data, nullptr);
    std::vector<char> saved(static_cast<const char*>(data), static_cast<const char*>(data) + size);

    AEffect* second = entry(RecordingHost::callback);
    ASSERT_NE(second, nullptr);
    // A chunk cut short (its first half, all but its last byte) is refused whole.
    second->dispatcher(second, effSetProgram, 0, 12, nullptr, 0.0f);
    char buffer[64] = {};
    for (VstIntPtr cut : {size / 2, size - 1}) {
        EXPECT_EQ(second->dispatcher(second, effSetChunk, 0, cut, saved.data(), 0.0f), 0);
        second->dispatcher(second, effGetProgramName, 0, 0, buffer, 0.0f);
        EXPECT_STREQ(buffer, "013 Noise hit") << cut;
    }
    EXPECT_EQ(second->dispatcher(second, effSetChunk, 0, size, saved.data(), 0.0f), 0);
    second->dispatcher(second, effSetProgram, 0, 12, nullptr, 0.0f);
    second->dispatcher(second, effGetProgramName, 0, 0, buffer, 0.0f);
    EXPECT_STREQ(buffer, "Renamed");
    second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f);
}

// Restores `chunk`, then plays `key` on MIDI channel 10 for one block and returns it.
std::vector<float> restoreAndPlayDrum(AEffect* effect, std::vector<float> chunk, int key) {
    effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(chunk.size() * 4), chunk.data(), 0.0f);
    VstMidiEvent notes[2]{};
    for (VstMidiEvent& note : notes) {
        note.type = kVstMidiType;
        note.byteSize = sizeof note;
        note.midiData[0] = static_cast<char>(0x99);
        note.midiData[1] = static_cast<char>(key);
    }
    notes[0].midiData[2] = 100;
    notes[1].deltaFrames = 511;  // off again on the last frame
    VstEvents events{};
    events.numEvents = 2;
    events.events[0] = reinterpret_cast<VstEvent*>(&notes[0]);
    events.events[1] = reinterpret_cast<VstEvent*>(&notes[1]);
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    std::vector<float> left(512), right(512);
    float* outputs[2] = {left.data(), right.data()};
    effect->processReplacing(effect, nullptr, outputs, 512);
    left.pop_back();  // silent: the note is off
    return left;
}

bool isConstant(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [&](float s) { return s == samples[0]; });
}

TEST_F(PluginHostTest, AFormulaThatFailsNeverPlaysItsOldCodeAgain) {
    // A program that fails to compile keeps answering the last value its formula left,
    // however much other code is written and moved meanwhile.
    EXPECT_FALSE(isConstant(restoreAndPlayDrum(effect, programChunk(5, "(P&255)^((P*257/256)&127)", 60), 60)));
    const std::vector<float> failed = restoreAndPlayDrum(effect, programChunk(5, "P+(", 60), 60);
    EXPECT_TRUE(isConstant(failed));
    std::string longFormula = "P";
    for (int t = 0; t < 300; ++t) longFormula += "^T";
    for (int round = 0; round < 12; ++round) {
        const std::vector<float> chunk = programChunk(6, longFormula + "^" + std::to_string(1000 + round), 0);
        EXPECT_EQ(restoreAndPlayDrum(effect, chunk, 60), failed) << round;
    }
}

#if defined(__linux__)
// Where the system refuses to make memory executable after the fact (Linux's
// memory-deny-write-execute, as systemd and hardened hosts set it), the instrument plays
// on without machine code and leaves every other mapping of the process alone.
TEST(PluginUnderMemoryDenyWriteExecute, PlaysOnAndLeavesTheHostsMemoryAlone) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A mapping of the host's low in the address space, where a stale null area would land.
        void* const low = reinterpret_cast<void*>(0x20000);
        auto* sentinel = static_cast<volatile uint32_t*>(
            mmap(low, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0));
        if (sentinel != low) _exit(2);
        *sentinel = 0x5EA1;
        if (prctl(65 /* PR_SET_MDWE */, 1 /* PR_MDWE_REFUSE_EXEC_GAIN */, 0, 0, 0) != 0) _exit(2);
        PluginLibrary library(BYTONE_PLUGIN_PATH);
        AEffect* effect = library.entry("VSTPluginMain")(RecordingHost::callback);
        if (!effect) _exit(3);
        for (int round = 0; round < 4; ++round) {
            const std::vector<float> out = restoreAndPlayDrum(
                effect, programChunk(5, "P*3+" + std::to_string(round) + "-" + std::to_string(round), 69), 69);
            if (out[2] != 21.0f / 1024) _exit(4);  // key 69: P is 7 on the third frame
        }
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        _exit(*sentinel == 0x5EA1 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "this kernel or sandbox has no memory-deny-write-execute";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST_F(PluginHostTest, ChunkOpcodesWithNullPointersAreSafe) {
    EXPECT_EQ(dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(dispatch(effSetChunk, 0, 100, nullptr), 0);
}

TEST_F(PluginHostTest, HostileCallsGetTheirDocumentedAnswers) {
    // Event blocks that cannot be read whole: skipped where unreadable, always answered 1.
    EXPECT_EQ(dispatch(effProcessEvents, 0, 0, nullptr), 1);
    VstEvents negative{};
    negative.numEvents = -3;
    EXPECT_EQ(dispatch(effProcessEvents, 0, 0, &negative), 1);
    VstMidiEvent sysex{};
    sysex.type = kVstSysExType;
    VstEvents odd{};
    odd.numEvents = 2;
    odd.events[0] = nullptr;
    odd.events[1] = reinterpret_cast<VstEvent*>(&sysex);
    EXPECT_EQ(dispatch(effProcessEvents, 0, 0, &odd), 1);
    // Blocks with no outputs or no frames: nothing is written, nothing fails.
    float left[8], right[8];
    float* outputs[2] = {left, right};
    float* missing[2] = {nullptr, nullptr};
    effect->processReplacing(effect, nullptr, nullptr, 8);
    effect->processReplacing(effect, nullptr, missing, 8);
    effect->processReplacing(effect, nullptr, outputs, 0);
    effect->processReplacing(effect, nullptr, outputs, -100);
    effect->processDoubleReplacing(effect, nullptr, nullptr, 8);
    effect->process(effect, nullptr, nullptr, 8);
    // A chunk pointer that is null with a positive size is refused.
    EXPECT_EQ(dispatch(effSetChunk, 0, 4096, nullptr), 0);
    EXPECT_EQ(dispatch(effGetProgram), 0);
}

TEST_F(PluginHostTest, TextsFitTheSmallestPublishedBuffers) {
    struct Case {
        VstInt32 opcode;
        size_t limit;
    };
    dispatch(effSetProgramName, 0, 0, const_cast<char*>("a name that is longer than anything"));
    const Case cases[] = {{effGetEffectName, kVstMaxEffectNameLen},    {effGetVendorString, kVstMaxVendorStrLen},
                          {effGetProductString, kVstMaxProductStrLen}, {effGetProgramName, kVstMaxProgNameLen},
                          {effGetParamLabel, kVstMaxParamStrLen},      {effGetParamDisplay, kVstMaxParamStrLen},
                          {effGetParamName, kVstMaxParamStrLen}};
    for (const Case& c : cases) {
        std::vector<char> buffer(c.limit + 1 + 16, 0x55);
        dispatch(c.opcode, 0, 0, buffer.data());
        EXPECT_LE(std::strlen(buffer.data()), c.limit) << c.opcode;
        for (size_t i = c.limit + 1; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0x55) << c.opcode << " wrote byte " << i;
    }
}

TEST_F(PluginHostTest, AThousandInstancesComeAndGo) {
    // Each is built whole and freed whole (the sanitizer build checks for leaks at exit).
    for (int i = 0; i < 1000; ++i) {
        AEffect* other = entry(RecordingHost::callback);
        ASSERT_NE(other, nullptr);
        other->dispatcher(other, effMainsChanged, 0, 1, nullptr, 0.0f);
        ASSERT_EQ(other->dispatcher(other, effClose, 0, 0, nullptr, 0.0f), 1);
        RecordingHost::calls.clear();
    }
}

TEST_F(PluginHostTest, CloseEndsTheInstance) {
    EXPECT_EQ(dispatch(effClose), 1);
    effect = nullptr;
}

}  // namespace
