// The instrument: one object per plug-in instance, holding its settings, the bank of
// 128 programs with their compiled formulas, the controller and voice state, and the
// display handshake with the host and the editor.
//
// Threads. The host's threads (dispatcher calls), its audio thread (events and
// rendering) and the editor's window thread share this object. Settings, flags and the
// current program are atomics, each written whole and read at each use. A compiled
// formula keeps its working stacks inside its record, so a compilation and a run, or
// two runs, of one record must never overlap: every compilation and every run of a
// program's record, and every change of a formula or name text, happens while holding
// `bankLock`. The audio thread holds it for one block at a time, ahead of any other
// taker; other holders keep it for one compilation walk, one chunk restore or one scope
// drawing. No host callback
// is ever made while holding it, since a host may answer `audioMasterUpdateDisplay` by
// calling `effGetProgram` on the same thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "../expr/expression.h"
#include "../expr/native_code.h"
#include "../host/audioeffect.h"
#include "bank_lock.h"
#include "chunk.h"
#include "events.h"

constexpr int kNumPrograms = 128;
constexpr int kNumVoices = 8;
constexpr int kNameSize = 32;       // 31 characters and the terminating zero
constexpr int kFormulaSize = 1024;  // 1023 characters and the terminating zero
static_assert(kNumPrograms == kChunkPrograms && kNameSize == kChunkNameLimit + 1 &&
              kFormulaSize == kChunkFormulaLimit + 1);

// The speed of the time variable T for a `timeScale` setting: 0.25 at 0, 1.0 at 50, 4.0 at 100.
inline double timeFactorOf(int32_t timeScale) {
    return timeScale >= 50 ? (timeScale - 50) * 0.06 + 1.0 : timeScale * 0.015 + 0.25;
}

// The variables S (offset 0) and C (offset 64): the phase with its low byte replaced by
// the sine table's reading at that byte plus `offset`.
inline int64_t sineReading(const uint8_t* table, int64_t phase, int64_t offset) {
    const int64_t low = phase & 255;
    return static_cast<int64_t>(static_cast<uint64_t>(phase) - static_cast<uint64_t>(low)) +
           table[(low + offset) & 255];
}

// Told when the instrument's display must be refreshed: the editor, when there is one.
class ProgramDisplay {
public:
    // [any thread] Reload the current program's formula and refresh at the next idle.
    virtual void requestReload() = 0;

protected:
    ~ProgramDisplay() = default;
};

struct ProgramSlot {
    CompiledExpression* code;  // never null after construction; one of the instrument's `compiled`
    char name[kNameSize];
    char formula[kFormulaSize];
    std::atomic<int32_t> drumKey;  // above 23: the key that selects this program on MIDI channel 10
    std::atomic<bool> needsCompile;
};

struct Voice {
    int32_t program;
    int32_t note;  // -1 while free
    int32_t velocity;
    int64_t time;
    int64_t phase;
    double timeFrac;
    double phaseFrac;
    double pitch;        // semitones relative to key 69
    double targetPitch;  // key - 69
    // The phase step for the pitch and sample rate it was computed for.
    double stepPitch;
    double stepRate;
    double phaseStep;
};

class Bytone : public AudioEffectX {
public:
    // Builds the whole instance: record, programs and presets, compiled formulas,
    // settings and sine table. Throws std::bad_alloc when memory runs out; the entry
    // point turns that into a null answer to the host.
    explicit Bytone(audioMasterCallback audioMaster);
    ~Bytone() override;

    // [host thread] Runs syncProgramDisplay, then returns the current program.
    VstInt32 getProgram() override;
    // [any thread] Numbers above 127 select 127; negative numbers are ignored.
    void setProgram(VstInt32 program) override;
    // [host thread] Keeps at most 31 characters.
    void setProgramName(const char* name) override;
    // [host thread] Writes at most kVstMaxProgNameLen characters and the zero.
    void getProgramName(char* name) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return 1000; }
    VstInt32 canDo(const char* text) override;
    VstInt32 getNumMidiInputChannels() override { return 1; }

    // [audio thread] Queues every understood MIDI message of the block; always answers 1.
    // Skips what it cannot read (a null block or entries, a negative count).
    VstInt32 processEvents(VstEvents* events) override;
    // [audio thread] Renders `sampleFrames` samples into both outputs, firing queued events
    // at their frames, then empties the queue and runs syncProgramDisplay. Allocates
    // nothing; holds `bankLock` for the block.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // The same block with another evaluator of a voice's formula: `evaluate(code,
    // program)` returns the formula's value for the variables filled in `code`.
    template <class Evaluate>
    void renderBlock(float** outputs, VstInt32 sampleFrames, Evaluate&& evaluate);

    // [host thread] Builds the chunk in the instrument's buffer, stores its address in
    // `data` (valid until the next chunk call) and returns its size in bytes.
    VstInt32 getChunk(void** data, bool isPreset) override;
    // [host thread] Restores settings and programs from up to kChunkCapacityBytes bytes
    // (larger or negative sizes are refused), compiles and marks the display dirty.
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;

    // Whether a compilation may map pages for new machine code: not on the audio
    // thread, where new code waits for the next compilation elsewhere.
    enum class CodeWrites { Allowed, Deferred };

    // Compiles every program marked `needsCompile` in order, stopping at the first
    // error, and then the current program once more. Returns null or the first
    // compiler message. The caller holds `bankLock`.
    const char* compileDirtyPrograms(CodeWrites writes = CodeWrites::Allowed);

    // Picks up a program change or a raised `displayDirty`: compiles on a change, then
    // clears the flag, asks the editor to refresh and calls the host's updateDisplay
    // (after releasing `bankLock`). [any thread] Takes `bankLock`.
    void syncProgramDisplay();

    std::atomic<int32_t> currentProgram{0};
    int32_t lastSeenProgram = 0;  // guarded by bankLock

    std::atomic<int32_t> portamento{100};
    std::atomic<int32_t> timeScale{50};
    std::atomic<int32_t> polyphony{8};
    std::atomic<int32_t> gain{100};
    std::atomic<int32_t> scopeZoom{0};
    std::atomic<bool> interpolate{false};
    std::atomic<bool> clampOutput{true};

    ProgramSlot programs[kNumPrograms]{};
    // The programs' compiled forms in one allocation: one mapping of untouched pages
    // instead of 128, which makes construction and destruction cheap.
    CompiledExpressions compiled;
    // Their machine code, a slot for each program; guarded by bankLock.
    NativeCodeArena nativeCode{kNumPrograms};
    uint8_t sineTable[256];

    // [host thread] The chunk handed to and received from the host.
    float chunkBuffer[kChunkCapacityFloats];

    // [audio thread] Events waiting for their frame in the coming block.
    std::vector<PendingEvent> pendingEvents;

    // [audio thread] Controller and voice state.
    uint8_t heldKeys[128]{};
    double pitchBend = 0.0;
    double bendRange = 2.0;
    int64_t modWheel = 0;
    int32_t rpnLsb = 0;
    int32_t rpnMsb = 0;
    Voice voices[kNumVoices]{};
    double glideRate = 0.0;

    std::atomic<bool> displayDirty{true};
    // Set once, before the host can call anything but the constructor's caller.
    ProgramDisplay* programDisplay = nullptr;

    BankLock bankLock;

    // [audio thread] Voice allocation, called as queued Note events fire.
    void noteOn(const PendingEvent& event);
    void noteOff(const PendingEvent& event);
    void allNotesOff();
    void startVoice(int index, bool mono, int32_t channel, int32_t key, int32_t velocity);
    void releaseNote(int32_t key);

private:
    // The first half of syncProgramDisplay, under `bankLock`: compiles on a program change
    // and tells the editor; true when the host is to be told as well.
    bool takeDisplayChange(CodeWrites writes);
    // Compiles program `index` and stages its machine code (compileDirtyPrograms seals
    // it); null or the compiler's message.
    const char* compileProgram(int index);
    void appendEvent(const PendingEvent& event);
    void applyDueEvents();
    // Advances one sounding voice by a sample and returns its shaped, scaled value.
    template <class Evaluate>
    int64_t renderVoice(Voice& voice, double rate, double timeStep, Evaluate& evaluate);
    void updateGlideRate(const Voice& voice);
};
