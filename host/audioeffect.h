// The two class layers between the effect record and the instrument. AudioEffect owns
// the record handed to the host, the static trampolines that lead from the record's
// function pointers to virtual operations, and the dispatcher for opcodes 0..24.
// AudioEffectX adds the opcodes from 25 on and the calls back to the host. Every
// operation has the default answer of the published interface; the instrument
// overrides only where it differs. Nothing here throws.
#pragma once

#include <atomic>
#include <memory>

#include "aeffect.h"

class AEffEditor;

class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();

    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // [any host thread] Opcodes 0..24; everything else answers 0.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    // A rate that is not positive would make every per-sample step infinite; it is ignored.
    virtual void setSampleRate(float rate) {
        if (rate > 0.0f) sampleRate = rate;
    }
    virtual void setBlockSize(VstInt32 size) { blockSize = size; }

    // [audio thread]
    virtual void processReplacing(float**, float**, VstInt32) {}
    virtual void processDoubleReplacing(double**, double**, VstInt32) {}
    virtual void process(float**, float**, VstInt32) {}

    virtual void setParameter(VstInt32, float) {}
    virtual float getParameter(VstInt32) { return 0.0f; }

    virtual VstInt32 getProgram() { return 0; }
    virtual void setProgram(VstInt32) {}
    virtual void setProgramName(const char*) {}
    virtual void getProgramName(char* name) {
        if (name) *name = '\0';
    }
    virtual void getParameterLabel(VstInt32, char* text) { writeEmpty(text); }
    virtual void getParameterDisplay(VstInt32, char* text) { writeEmpty(text); }
    virtual void getParameterName(VstInt32, char* text) { writeEmpty(text); }

    // Stores the chunk's address in `data` and returns its size in bytes.
    virtual VstInt32 getChunk(void** data, bool /*isPreset*/) {
        if (data) *data = nullptr;
        return 0;
    }
    virtual VstInt32 setChunk(void*, VstInt32, bool /*isPreset*/) { return 0; }

    AEffect* getAeffect() { return &cEffect; }
    AEffEditor* getEditor() { return editor.get(); }

    // Attaches (or with null removes) the editor, owned from now on, and announces it
    // in the record's flags.
    void setEditor(std::unique_ptr<AEffEditor> newEditor);
    // Deletes the editor. An instrument whose editor refers to it calls this first thing
    // in its destructor, while the instrument is still whole.
    void deleteEditor();

    // The record's trampolines: each finds the instance through `object`.
    static VstIntPtr VSTCALLBACK dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                                     void* ptr, float opt);
    static void VSTCALLBACK processClass(AEffect* e, float** inputs, float** outputs, VstInt32 frames);
    static void VSTCALLBACK processClassReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 frames);
    static void VSTCALLBACK processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs, VstInt32 frames);
    static void VSTCALLBACK setParameterClass(AEffect* e, VstInt32 index, float value);
    static float VSTCALLBACK getParameterClass(AEffect* e, VstInt32 index);

protected:
    // Calls the host with this instance's record; answers 0 when no callback is stored.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);

    static void writeEmpty(char* text) {
        if (text) *text = '\0';
    }

    audioMasterCallback audioMaster;
    std::unique_ptr<AEffEditor> editor;
    // Set by the host's threads, read by the audio thread at each block's start.
    std::atomic<float> sampleRate{44100.0f};
    VstInt32 blockSize = 1024;
    VstInt32 numPrograms;
    VstInt32 numParams;
    AEffect cEffect;
};

class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    // [any host thread] Opcodes 25..79 that are not deprecated; the rest goes down a layer.
    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;

    // Asks the host for MIDI when the record announces a synthesiser or MIDI intake.
    void resume() override;

    virtual VstInt32 processEvents(VstEvents*) { return 0; }
    virtual bool canParameterBeAutomated(VstInt32) { return true; }
    virtual VstInt32 getPlugCategory() {
        return (cEffect.flags & effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
    }
    virtual bool getEffectName(char*) { return false; }
    virtual bool getVendorString(char*) { return false; }
    virtual bool getProductString(char*) { return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstInt32 canDo(const char*) { return 0; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual VstInt32 getCurrentMidiProgram(VstInt32, void*) { return -1; }
    // Writes program `index`'s name for a host's program list; false for no such program.
    virtual bool getProgramNameIndexed(VstInt32 /*category*/, VstInt32 /*index*/, char*) { return false; }
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }
    virtual VstInt32 getNumMidiInputChannels() { return 0; }
    virtual VstInt32 getNumMidiOutputChannels() { return 0; }

    // Host calls.
    bool wantEvents(VstInt32 filter = 1);
    // Refreshes `sampleRate` from the host when it answers with a positive rate.
    double updateSampleRate();
    bool updateDisplay();
};
