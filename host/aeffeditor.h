// The editor interface that the plug-in's dispatcher talks to: the instrument's editor
// view behind VST 2.4's rectangle and calls. Without a view every call has the default
// answer of the published interface.
// [ui thread] All calls come from the thread that opens the editor.
#pragma once

#include <memory>

#include "../editor/editor_view.h"
#include "aeffect.h"

class AEffEditor {
public:
    explicit AEffEditor(std::unique_ptr<editor::EditorView> view) : view_(std::move(view)) {}

    editor::EditorView* view() { return view_.get(); }
    // Stores in `rect` a pointer to the editor's rectangle, owned by the editor.
    bool getRect(ERect** rect) {
        if (!rect) return false;
        if (!view_) {
            *rect = nullptr;
            return false;
        }
        // Asked again each time: a display twice as dense makes it twice the size.
        rect_ = ERect{0, 0, static_cast<VstInt16>(view_->height()), static_cast<VstInt16>(view_->width())};
        *rect = &rect_;
        return true;
    }
    // `ptr` is the host's parent window.
    bool open(void* ptr) { return view_ && view_->open(ptr); }
    void close() {
        if (view_) view_->close();
    }
    void idle() {
        if (view_) view_->tick();
    }
    bool onKeyDown(VstKeyCode&) { return false; }
    bool onKeyUp(VstKeyCode&) { return false; }
    bool setKnobMode(VstInt32) { return false; }

private:
    std::unique_ptr<editor::EditorView> view_;
    ERect rect_{};
};
