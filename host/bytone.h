// The VST 2.4 plug-in: an adapter that owns one instrument and answers the host's calls
// with it. The identity, the opcodes' answers and the samples are the instrument's as
// VST 2.4 hosts have always had them: no parameters, the state as one chunk.
//
// Re-entry. At the end of a block the audio thread tells the host to update its display;
// a host may answer by calling the dispatcher on that same thread. While it does, the
// calls that would take the instrument's bank lock or compile answer at once without
// doing so: effGetProgram answers the current program without synchronising the
// display, program names come from the names published for reading without the lock,
// and the chunk, renaming and editor calls do nothing and answer 0.
#pragma once

#include "../engine/instrument.h"
#include "audioeffect.h"

class Bytone;
// Makes an instance as the entry point does (host/entry.cpp), in `language`.
AEffect* createBytone(audioMasterCallback audioMaster, Language language);

class Bytone : public AudioEffectX, private engine::DisplayListener {
public:
    // Builds the whole instance, reading formulas in `language` (the plug-in's is the
    // classic one; the page's instance reads the extended one). Throws std::bad_alloc
    // when memory runs out; the entry point turns that into a null answer to the host.
    explicit Bytone(audioMasterCallback audioMaster, Language language = Language::Classic);
    // The editor goes first, while the instrument it refers to is still whole.
    ~Bytone() override;

    engine::Instrument& instrument() { return instrument_; }

    // [any host thread] Refuses, inside a re-entrant call on the audio thread, what
    // would take the bank lock; everything else goes down the layers.
    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;

    // [host thread] Synchronises the display (compiling on a program change), then
    // returns the current program; on the audio thread only returns it.
    VstInt32 getProgram() override;
    // [any thread] Numbers above 127 select 127; negative numbers are ignored.
    void setProgram(VstInt32 program) override { instrument_.setProgram(program); }
    // [host thread] Keeps at most 31 characters.
    void setProgramName(const char* name) override { instrument_.setProgramName(name); }
    // [any thread] Writes at most kVstMaxProgNameLen characters and the zero.
    void getProgramName(char* name) override;
    // [any thread] The same for program `index` of 0..127, the host's program list.
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
    // [audio thread] Asks the host for the sample rate, renders `sampleFrames` samples
    // into both outputs and, when the display changed, calls the host's updateDisplay.
    // Takes no lock.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // [host thread] The instrument's state chunk (valid until the next chunk call).
    VstInt32 getChunk(void** data, bool isPreset) override;
    // [host thread] Restores up to kChunkCapacityBytes bytes; answers 0.
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;

private:
    void displayChanged() override;

    engine::Instrument instrument_;
};
