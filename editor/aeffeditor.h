// The editor interface that the plug-in's dispatcher talks to. Every operation has a
// default answer; a concrete editor overrides what it supports.
// [ui thread] All calls come from the thread that opens the editor.
#pragma once

#include "../host/aeffect.h"

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;

    AudioEffect* getEffect() const { return effect; }
    // Stores in `rect` a pointer to the editor's rectangle, owned by the editor.
    virtual bool getRect(ERect** rect) {
        if (rect) *rect = nullptr;
        return false;
    }
    // `ptr` is the host's parent window.
    virtual bool open(void* ptr) {
        parentWindow = ptr;
        return false;
    }
    virtual void close() { parentWindow = nullptr; }
    bool isOpen() const { return parentWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool setKnobMode(VstInt32) { return false; }

protected:
    AudioEffect* effect;
    void* parentWindow = nullptr;
};
