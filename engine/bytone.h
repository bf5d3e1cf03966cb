// The instrument: one object per plug-in instance, holding its settings, the bank of
// 128 programs with their compiled formulas, the controller and voice state, and the
// display handshake with the host and the editor.
//
// Threads. The host's threads (dispatcher calls), its audio thread (events and
// rendering) and the editor's window thread share this object. Settings, flags and the
// current program are atomics, each written whole and read at each use.
//
// The audio thread takes no lock and never waits for another thread. A compiled formula
// keeps its working stacks inside its record, so each record has one user at a time. The
// audio thread plays each program from a record of its own (`playing`). The other
// threads compile, one at a time under `bankLock`, into records that the audio thread
// cannot see, and hand each over with one atomic store into one of the program's two
// boxes: `walked` for a compilation that the audio thread is to play from its next
// block, `edited` for an edit that waits for the next compilation walk (which may be the
// audio thread's own, on a MIDI program change). The audio thread takes a record out of
// a box by putting its old one in, so that a record is always either the audio thread's
// or the compiling side's; the compiling side takes old records back and reuses them.
// Formula and name texts, and everything else of the compiling side, are guarded by
// `bankLock`. No host callback is made while holding it, since a host may answer
// `audioMasterUpdateDisplay` by calling `effGetProgram` on the same thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "../expr/expression.h"
#include "../expr/native_code.h"
#include "../expr/record_pool.h"
#include "../host/audioeffect.h"
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

// A record handed from the compiling side to the audio thread: its address with kFresh
// set while the audio thread has not taken it; without kFresh, a record that the audio
// thread gave back; 0, nothing.
using RecordBox = std::atomic<uintptr_t>;
constexpr uintptr_t kFresh = 1;

struct ProgramSlot {
    char name[kNameSize];          // guarded by bankLock
    char formula[kFormulaSize];    // guarded by bankLock
    std::atomic<int32_t> drumKey;  // above 23: the key that selects this program on MIDI channel 10
    // The formula changed and is not yet compiled (guarded by bankLock). With the record
    // in `edited`, it makes the program marked for the next compilation walk.
    bool needsCompile;
    // A MIDI program change selected the program, which marks it for a compilation walk.
    std::atomic<bool> changeMarked;
    RecordBox walked;
    RecordBox edited;
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
    // [host thread] The same for program `index` of 0..127, the host's program list.
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* name) override;

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

    // The compilation walk: compiles every program marked for compilation in order,
    // stopping at the first error, and then the current program once more. Returns null
    // or the first compiler message. [not the audio thread] The caller holds `bankLock`.
    const char* compileDirtyPrograms();
    // Whether program `index` is marked for the next compilation walk. [tests, while no
    // other thread uses the instrument]
    bool isMarked(int index) const;
    // The record that program `index` plays from the next block on. [tests, while no
    // other thread uses the instrument]
    CompiledExpression& programRecord(int index);
    // A record of the compiling side holding program `index`'s formula for the scope,
    // with the scope's own last result of that program in slot 0; `keepScopeResult`
    // stores that result after the scope's runs. The caller holds `bankLock`.
    CompiledExpression& scopeRecord(int index);
    void keepScopeResult(int index);

    // Picks up a program change or a raised `displayDirty`: compiles on a change, then
    // clears the flag, asks the editor to refresh and calls the host's updateDisplay
    // (after releasing `bankLock`). [not the audio thread] Takes `bankLock`.
    void syncProgramDisplay();

    std::atomic<int32_t> currentProgram{0};
    std::atomic<int32_t> lastSeenProgram{0};

    std::atomic<int32_t> portamento{100};
    std::atomic<int32_t> timeScale{50};
    std::atomic<int32_t> polyphony{8};
    std::atomic<int32_t> gain{100};
    std::atomic<int32_t> scopeZoom{0};
    std::atomic<bool> interpolate{false};
    std::atomic<bool> clampOutput{true};

    ProgramSlot programs[kNumPrograms]{};
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

    // Orders the compiling side: compilations, formula and name texts, chunk saves and
    // restores, scope drawings. Never taken by the audio thread.
    std::mutex bankLock;

    // [audio thread] Voice allocation, called as queued Note events fire.
    void noteOn(const PendingEvent& event);
    void noteOff(const PendingEvent& event);
    void allNotesOff();
    void startVoice(int index, bool mono, int32_t channel, int32_t key, int32_t velocity);
    void releaseNote(int32_t key);

private:
    // Who runs a compilation walk or a display change.
    enum class Side { Compiling, Audio };
    // The first half of syncProgramDisplay: compiles on a program change and tells the
    // editor; true when the host is to be told as well. The compiling side holds
    // `bankLock`.
    bool takeDisplayChange(Side side);

    // [compiling side, under bankLock] Compiles every program whose formula changed into
    // a fresh record, gives the batch its machine code and puts each record in the
    // program's `edited` box.
    void publishEdits();
    // Puts `record` into `box` and takes back what the box held.
    void publish(RecordBox& box, CompiledExpression* record);
    // Takes back the records that the audio thread gave back.
    void collectGivenBack();
    void recycle(CompiledExpression* record);

    // [audio thread] Plays the record in `box` from now on, if there is a fresh one.
    void adopt(int index, RecordBox& box);
    // Takes every program's walked record: at the start of each block.
    void adoptWalked();
    // The compilation walk as the audio thread makes it, with the records compiled
    // ahead: marked programs play their edited records, in order, up to the first that
    // did not compile.
    void walkOnAudioThread();

    void appendEvent(const PendingEvent& event);

    // The compiling side's records and their machine code (guarded by bankLock): for each
    // program the one playing, one in each box and one being compiled; one for the scope.
    RecordPool records_{4 * kNumPrograms + 1};
    NativeCodeArena nativeCode_{4 * kNumPrograms + 1};
    CompiledExpression* scope_ = nullptr;
    int64_t scopeResults_[kNumPrograms]{};
    // [audio thread] The record each program plays.
    CompiledExpression* playing_[kNumPrograms]{};
    void applyDueEvents();
    // Advances one sounding voice by a sample and returns its shaped, scaled value.
    template <class Evaluate>
    int64_t renderVoice(Voice& voice, double rate, double timeStep, Evaluate& evaluate);
    void updateGlideRate(const Voice& voice);
};
