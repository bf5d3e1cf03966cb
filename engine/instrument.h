// The instrument, apart from any plug-in format or window system: its settings, the bank
// of 128 programs with their compiled formulas, the events of the coming block, the
// voices and the display handshake. A plug-in format is an adapter that owns one
// Instrument and forwards its host's calls to it.
//
// Threads. The audio thread queues the block's events and renders; the host's other
// threads and the editor (the compiling side) change programs, names, formulas and the
// state. Settings, flags and the current program are atomics, each written whole and
// read at each use.
//
// The audio thread takes no lock and never waits for another thread. A compiled formula
// keeps its working stacks inside its record, so each record has one user at a time:
// the compiling side compiles, one at a time under `bankLock`, into records of its own
// and hands them to the audio thread through the record hand-over (record_hand_over.h).
// Formula and name texts, and everything else of the compiling side, are guarded by
// `bankLock`; program names are also published for reading without it. No listener is
// called while `bankLock` is held, since a host may answer a display change by asking
// for the program or its name on the same thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "../expr/expression.h"
#include "../expr/formula_code.h"
#include "chunk.h"
#include "decimator.h"
#include "envelope.h"
#include "events.h"
#include "published_names.h"
#include "random.h"
#include "record_hand_over.h"
#include "settings.h"
#include "song_position.h"

constexpr int kNumPrograms = 128;
constexpr int kNumVoices = 8;
// The pitch bend's range in semitones before an RPN message sets it.
constexpr double kDefaultBendRange = 2.0;
constexpr int kNameSize = 32;       // 31 characters and the terminating zero
constexpr int kFormulaSize = 1024;  // 1023 characters and the terminating zero
static_assert(kNumPrograms == kChunkPrograms && kNameSize == kChunkNameLimit + 1 &&
              kFormulaSize == kChunkFormulaLimit + 1 && kNameSize == PublishedNames::kSize);

// The variables S (offset 0) and C (offset 64): the phase with its low byte replaced by
// the sine table's reading at that byte plus `offset`.
inline int64_t sineReading(const uint8_t* table, int64_t phase, int64_t offset) {
    const int64_t low = phase & 255;
    return static_cast<int64_t>(static_cast<uint64_t>(phase) - static_cast<uint64_t>(low)) +
           table[(low + offset) & 255];
}

namespace engine {

// Told when the current program's formula must be shown again: the editor, when there is one.
class ProgramDisplay {
public:
    // [any thread] Reload the current program's formula and refresh at the next idle.
    virtual void requestReload() = 0;

protected:
    ~ProgramDisplay() = default;
};

// Told when what a host shows of the instrument (the current program, the names, the
// settings) must be read again: the plug-in adapter, which tells its host.
class DisplayListener {
public:
    // [the audio thread at the end of a block, or the compiling side] Never with
    // `bankLock` held; the listener may call back into the instrument on the same thread.
    virtual void displayChanged() = 0;

protected:
    ~DisplayListener() = default;
};

struct ProgramSlot {
    char name[kNameSize];          // guarded by bankLock
    char formula[kFormulaSize];    // guarded by bankLock
    std::atomic<int32_t> drumKey;  // above 23: the key that selects this program on MIDI channel 10
    // The formula changed and is not yet compiled (guarded by bankLock). Its compilation
    // is offered to the next compilation walk.
    bool needsCompile;
};

struct Voice {
    int32_t program;
    int32_t note;     // -1 while free
    int32_t channel;  // of the note
    int32_t noteId;   // and its id and port (Event::noteId)
    int32_t port;
    int32_t velocity;
    // What the extended language's words read: the song's position where the voice's
    // time began, whether its note is held, the note's pressure and timbre (0..127).
    int64_t start;
    int32_t gate, pressure, timbre;
    double tuning;  // the note's own pitch bend in semitones, from the host's note expressions
    // The level's ramp (envelope.h): its attack from the note's start, or its release
    // after the note off, which frees the voice at its end.
    Ramp ramp;
    bool releasing;
    int64_t releasedAt;  // the instrument's count of releases when this one began
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

class Instrument {
public:
    // Builds the whole instrument: programs and presets, compiled formulas, settings and
    // sine table. Formulas are read in `language`; machine code goes into `codePages`
    // (tests put a failing system there). Throws std::bad_alloc when memory runs out.
    explicit Instrument(const CodePages& codePages = systemCodePages(), Language language = Language::Classic);
    explicit Instrument(Language language) : Instrument(systemCodePages(), language) {}
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // [audio thread] The coming block's events, each at its frame: a MIDI channel message
    // (what the instrument does not read is passed over; RPN selection and the bend range
    // take effect at once), or an event of the instrument's own. Events at a negative
    // frame or at or past the block's end do not fire. False when the block already holds
    // kEventCapacity events: the event is dropped.
    bool queueMidi(int status, int data1, int data2, int32_t frame);
    bool queueEvent(const Event& event);
    // [audio thread] What the host says of its transport at `frame` (the block's start,
    // or inside it); in the classic language nothing reads it. False when the block
    // already holds kTransportCapacity reports or kEventCapacity events: it is dropped.
    static constexpr int kTransportCapacity = 64;
    bool queueTransport(const TransportReport& report, int32_t frame);
    // [audio thread, between blocks] The song's position back to its start, as at activation.
    void rewindSong() { song_.rewind(); }
    // [audio thread] Renders `frames` samples into both outputs (either may be null),
    // firing the queued events at their frames in the order they were queued within a
    // frame, then empties the queue. A program change or a display request raised
    // meanwhile is then taken and told to the display listener. Allocates nothing, takes
    // no lock, makes no system call.
    void render(float* left, float* right, int32_t frames);
    // The same block with another evaluator of a voice's formula: `evaluate(code,
    // program)` returns the formula's value for the variables filled in `code`.
    template <class Evaluate>
    void renderWith(float* left, float* right, int32_t frames, Evaluate&& evaluate);

    // [any thread] The rate the next block renders at; rates that are not positive are ignored.
    void setSampleRate(double rate);
    // [any thread] How many samples late the output is: the oversampling's filters' delay.
    int32_t latency() const { return Decimator::latencyOf(1 << std::clamp<int32_t>(oversample.load(), 0, 3)); }
    // [any thread] A setting of the table in settings.h; the drum key is the current
    // program's. setSetting keeps a value in the setting's range or its default, else
    // brings it to the nearest end.
    int32_t setting(Setting which) const;
    void setSetting(Setting which, int32_t value);
    // [any thread] The current program. Numbers above 127 select 127; negative ones are
    // ignored. The compilation a change needs happens at the next syncProgramDisplay or
    // at the end of the audio thread's block.
    int32_t program() const { return currentProgram.load(); }
    void setProgram(int32_t program);
    // [any thread, no lock] Program `index`'s name, cut to `size` - 1 characters; an
    // empty text for no such program.
    void programName(int32_t index, char* name, int size) const;

    // [compiling side] Picks up a program change or a raised `displayDirty`: compiles on
    // a change, then clears the flag, asks the editor to reload and tells the display
    // listener (after releasing `bankLock`). Takes `bankLock`.
    void syncProgramDisplay();
    // [compiling side] Renames the current program, or program `index` (at most 31
    // characters). Takes `bankLock`.
    void setProgramName(const char* name);
    void setProgramName(int32_t index, const char* name);
    // [compiling side] Program `index`'s formula becomes `text` (its first 1023 characters)
    // and is marked for the next compilation walk. The caller holds `bankLock`.
    void storeFormula(int32_t index, const char* text, size_t length);
    // [compiling side] Builds the state chunk in the instrument's buffer, stores its
    // address in `data` (valid until the next state call) and returns its size in bytes.
    int32_t saveState(const void** data);
    // [compiling side] Restores settings and programs from a whole chunk (chunkIsWhole) of
    // up to kChunkCapacityBytes bytes, compiles and marks the display dirty; false, with
    // nothing changed, for a chunk cut short or without its end tag, a larger or negative
    // size, or a null chunk.
    bool restoreState(const void* data, int32_t byteSize);
    // [compiling side] Tells the display listener; never with `bankLock` held.
    void announceDisplay();

    // Set once, before any other thread uses the instrument: the editor, told to reload
    // its formula, and the adapter, told to have its host read the display again.
    void setProgramDisplay(ProgramDisplay* display) { programDisplay_ = display; }
    void setDisplayListener(DisplayListener* listener) { displayListener_ = listener; }

    // The compilation walk: compiles every program marked for compilation in order,
    // stopping at the first error, and then the current program once more. Returns null
    // or the first compiler message. [compiling side] The caller holds `bankLock`.
    const char* compileDirtyPrograms();
    // Where the compiler stops reading `formula` in this instrument's language: the
    // offset of the character it cannot take, the length where the text ends too soon,
    // or -1 where it compiles. [compiling side] The caller holds `bankLock`.
    int32_t stopOf(const char* formula);
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
    // The right side of a stereo formula that scopeRecord compiled; null for one that
    // plays the same on both sides. The caller holds `bankLock`.
    CompiledExpression* scopeRight() { return workspaceRight_->isCompiled() ? workspaceRight_ : nullptr; }

    // The notes whose voices stopped in the last block (a note off, all notes off, a key
    // that took the voice over), each at its frame; for a host that tracks voices.
    // [audio thread, after render until the next]
    struct EndedNote {
        int32_t frame, channel, key, noteId, port;
    };
    static constexpr int kEndedCapacity = 64;  // more in one block are not reported
    const EndedNote* endedNotes() const { return ended_; }
    int32_t endedCount() const { return endedCount_; }

    // Events dropped because a block's queue was full, since construction. [audio thread]
    int64_t droppedEvents() const { return dropped_; }
    // The queued events of the coming block, in the order queued. [audio thread]
    const Event* queuedEvents() const { return events_; }
    int32_t queuedCount() const { return eventCount_; }

    // The language the instrument reads its formulas in.
    Language language() const { return language_; }
    // [compiling side] Program `index`'s formula. The caller holds bankLock().
    const char* formulaOf(int32_t index) const { return programs[index].formula; }
    // The sine table that S and C read.
    const uint8_t* sineTable() const { return sineTable_; }
    // Orders the compiling side: compilations, formula and name texts, chunk saves and
    // restores, scope drawings. Never taken by the audio thread.
    std::mutex& bankLock() { return bankLock_; }

    // [audio thread] Every note stops at once and the pedals go up, as a host's reset asks.
    void allNotesOff();

private:
    // The tests' view of the whole state (tests/instrument_probe.h); and the state chunk's
    // reading and writing, which the command-line host's bank shares.
    friend struct InstrumentProbe;
    template <class Bank>
    friend int ::writeChunk(const Bank& bank, float* out);
    template <class Bank>
    friend void ::readChunk(Bank& bank, const float* in, int count);

    const Language language_;
    std::atomic<int32_t> currentProgram{0};
    std::atomic<int32_t> lastSeenProgram{0};

    // The settings of the table but the drum key, which each program holds.
    std::atomic<int32_t> polyphony{8};
    std::atomic<int32_t> portamento{100};
    std::atomic<int32_t> timeScale{50};
    std::atomic<int32_t> gain{100};
    std::atomic<int32_t> interpolate{0};
    std::atomic<int32_t> clampOutput{1};
    std::atomic<int32_t> scopeZoom{0};
    std::atomic<int32_t> mpe{0};
    std::atomic<int32_t> attack{0};
    std::atomic<int32_t> release{0};
    std::atomic<int32_t> dcFilter{0};
    std::atomic<int32_t> oversample{0};

    ProgramSlot programs[kNumPrograms]{};
    uint8_t sineTable_[256];

    // [compiling side] The chunk handed to and received from the host.
    float chunkBuffer[kChunkCapacityFloats];

    // [audio thread] Controller and voice state.
    uint8_t heldKeys[128]{};
    double pitchBend = 0.0;
    double bendRange = kDefaultBendRange;
    int64_t modWheel = 0;
    int32_t rpnLsb = 0;
    int32_t rpnMsb = 0;
    Voice voices[kNumVoices]{};
    double glideRate = 0.0;
    random15::Generator random_;  // the voices' R
    // [audio thread] The sustain pedal of each channel, and the note offs it holds: the
    // key's, with the channel it came on, until the pedal goes up.
    bool pedalDown_[16]{};
    Event heldOffs_[128]{};
    bool offHeld_[128]{};
    int64_t releases_ = 0;
    // [audio thread] The DC filter's last input and output of each side; the factor the
    // voices run at in this block and the filters that bring each side back from it. The
    // right side's filter is not run while the sides play the same (`sidesAgree_`): its
    // history is then the left's.
    DcFilter dcLeft_, dcRight_;
    int32_t factor_ = 1;
    Decimator decimateLeft_, decimateRight_;
    bool sidesAgree_ = true;
    // [audio thread] The extended language's: the song's position, and the latest
    // pressure and controller 74 of each channel, which a new note takes.
    SongPosition song_;
    int32_t channelPressure_[16]{};
    int32_t channelTimbre_[16]{64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64};
    TransportReport transports_[kTransportCapacity];
    int32_t transportCount_ = 0;
    // [audio thread] MPE's lower zone while the MPE setting is on: channel 1 (0 here) its
    // manager, channels 2 to 1 + mpeMembers_ its members, each with a bend and an RPN
    // selection of its own.
    int32_t mpeMembers_ = 15;
    double memberBendRange_ = 48.0;
    double channelBend_[16]{};
    int32_t channelRpn_[16][2]{};  // MSB and LSB selected

    std::atomic<bool> displayDirty{true};

    std::mutex bankLock_;

    // [audio thread] Voice allocation, called as queued note events fire.
    void noteOn(const Event& event);
    void noteOff(const Event& event);
    void startVoice(int index, bool mono, const Event& note);
    // Ends the notes of `key` (every note for a negative key): a release where one is
    // set, else at once; `except` goes on sounding.
    void releaseNote(int32_t key, const Voice* except = nullptr);
    // Ramps `voice` from its level to full over the attack, or sets it at full.
    void startRamp(Voice& voice, bool fromLevel);
    // Frees a voice at once, reporting its note as ended at `frame`.
    void freeVoice(Voice& voice, int32_t frame);
    // The sustain pedal of `channel`: whether it holds that channel's notes; and its
    // change, which plays the note offs it held when it goes up.
    bool sustains(int32_t channel) const;
    void pedal(const Event& event);
    // Every note released (all notes off: the pedal's too), or silenced at once (all sound off).
    void releaseAll();
    void silence();
    // [audio thread] Advances the voices' ramps by the `steps` values of a rendered
    // stretch ending at `frame`, freeing the voices whose release ended there.
    void advanceRamps(int32_t steps, int32_t frame);
    // The frames until the first ramp of a sounding voice ends, at most `limit`.
    int32_t framesToRampEnd(int32_t limit) const;
    // [audio thread] A ramp of `milliseconds` in the voices' values.
    int32_t rampSteps(int32_t milliseconds) const { return rampSamples(milliseconds, sampleRate_.load()) * factor_; }
    // [audio thread] The stretch's mixes of `frames` × factor_ values back to `frames`
    // samples, in place; the right one only where the stretch is stereo.
    void decimate(int32_t frames, bool stereo);

    // The atomic that holds a setting: the drum key's is the current program's.
    std::atomic<int32_t>& settingField(Setting which);
    // Who runs a compilation walk or a display change.
    enum class Side { Compiling, Audio };
    // The first half of syncProgramDisplay: compiles on a program change and tells the
    // editor; true when the listener is to be told as well. The compiling side holds
    // `bankLock`.
    bool takeDisplayChange(Side side);

    // [compiling side, under bankLock] Compiles every program whose formula changed into
    // a fresh record, gives the batch its machine code and offers each to the next walk.
    void publishEdits();
    // The message of compiling program `index`'s formula (null: it compiles), known
    // without compiling when it is the formula last compiled for the program.
    const char* messageOf(int index);
    // [compiling side, under bankLock] Makes every program's name readable without the lock.
    void publishNames();

    // [audio thread] Orders the queue by frame, keeping the queued order within a frame.
    void sortEvents();
    void fire(const Event& event);
    // Renders the sounding voices over `frames` frames (at most kStretch) from `from`, in
    // which no event fires, and mixes them into the outputs.
    template <class Evaluate>
    void renderStretch(float* left, float* right, int32_t from, int32_t frames, double rate, double timeStep,
                       Evaluate& evaluate);
    // Advances one sounding voice over `frames` frames, taking its random numbers from
    // `draws`, and adds its shaped, scaled values to `mix` (those of a stereo formula's
    // right side to `mixRight`, where it is not null).
    template <class Evaluate>
    void renderVoice(Voice& voice, int32_t frames, random15::Every draws, double rate, double timeStep,
                     Evaluate& evaluate, float* mix, float* mixRight);
    // One side of it: the formula of `code`, its values scaled by `scale` / 100.
    template <class Evaluate>
    void renderSide(CompiledExpression& code, Voice& voice, int32_t frames, random15::Every draws, double rate,
                    double timeStep, Evaluate& evaluate, float* mix, int32_t scale);
    void updateGlideRate(const Voice& voice);
    // [audio thread] The extended language's expression events.
    void pressNotes(const Event& event);
    void expressNotes(const Event& event);
    // [audio thread] Whether `channel` is a member channel of MPE's zone.
    bool isMember(int32_t channel) const {
        return mpe.load(std::memory_order_relaxed) != 0 && channel >= 1 && channel <= mpeMembers_;
    }
    // [audio thread] The pitch bend a voice plays with, in semitones.
    double bendOf(const Voice& voice) const {
        double bend = pitchBend;
        if (isMember(voice.channel)) bend += channelBend_[voice.channel];
        if (voice.tuning != 0.0) bend += voice.tuning;
        return bend;
    }
    // [audio thread, at intake] A controller of MPE's zone: RPN selection per channel,
    // the members' bend range, the zone's configuration.
    void mpeController(int32_t channel, int data1, int data2);
    // [audio thread] Reports the note `voice` was playing as ended at the firing frame.
    void noteEnded(const Voice& voice, int32_t frame);

    // Formulas are compiled into the full record `workspace_`, a stereo formula's right
    // side into `workspaceRight_` (which also serve the scope, guarded by bankLock), and
    // the programs get packed copies of them.
    CompiledExpressions workspaceMemory_ = allocateCompiledExpressions(2);
    CompiledExpression* const workspace_ = &workspaceMemory_[0];
    CompiledExpression* const workspaceRight_ = &workspaceMemory_[1];
    // [compiling side, under bankLock] Compiles `formula` into the workspace.
    const char* compile(const char* formula);
    RecordHandOver handOver_;
    int64_t scopeResults_[kNumPrograms]{};
    // The formula each program's newest record was compiled from, and the outcome.
    struct LastCompile {
        char formula[kFormulaSize];
        const char* message;
        bool valid;
    };
    LastCompile lastCompiled_[kNumPrograms]{};

    // [audio thread] The mix of a stretch, as the voices add to it, and the song's
    // position at each of its frames, as beat and bar read it.
    // (A stretch of kStretch frames holds kSteps values of each voice at the largest factor.)
    static constexpr int32_t kStretch = 256;
    static constexpr int32_t kSteps = kStretch * Decimator::kLargestFactor;
    float stretchMix_[kSteps]{};
    float stretchMixRight_[kSteps]{};  // while a voice plays a stereo formula
    float voiceMix_[kSteps]{};         // a voice of one formula's, beside those
    float rampMix_[kSteps]{};          // a ramping voice's values at full gain; 0 between voices
    int64_t stretchBeats_[kSteps]{};
    int64_t stretchBars_[kSteps]{};

    // [audio thread] The coming block's events.
    Event events_[kEventCapacity];
    int32_t eventCount_ = 0;
    int64_t dropped_ = 0;
    int32_t firingFrame_ = 0;  // of the event that fires now
    EndedNote ended_[kEndedCapacity]{};
    int32_t endedCount_ = 0;

    std::atomic<double> sampleRate_{44100.0};
    PublishedNames names_;
    ProgramDisplay* programDisplay_ = nullptr;
    DisplayListener* displayListener_ = nullptr;
};

}  // namespace engine
