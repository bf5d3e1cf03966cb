// The editor as a VST3 host embeds it: an IPlugView of a fixed size inside the host's
// window (an X11 window id on Linux, a HWND on Windows). On Linux the host's run loop
// drives it, with a handler for the editor's X connection and a timer for its periodic
// work; on Windows a timer of the host's user-interface thread does. The view keeps its
// plug-in alive; the user's edits go to the plug-in's listener, which tells the host.
// [ui thread] Everything.
#pragma once

#include <travesty/view.h>

#include <atomic>
#include <memory>

#include "../editor/editor_view.h"

namespace engine {
class Instrument;
}

namespace vst3adapter {

class PlugView final {
public:
    // Holds a reference of `plugin` (through its funknown) until the view goes.
    PlugView(v3_funknown** plugin, engine::Instrument& instrument, editor::SettingListener& listener);
    ~PlugView();
    PlugView(const PlugView&) = delete;
    PlugView& operator=(const PlugView&) = delete;

    v3_plugin_view** view() { return reinterpret_cast<v3_plugin_view**>(&view_); }

private:
    struct Face {
        const void* table;
        PlugView* owner;
    };
    static PlugView& of(void* self) { return *static_cast<Face*>(self)->owner; }
    static const v3_plugin_view_cpp kView;
    static const v3_event_handler_cpp kEvents;
    static const v3_timer_handler_cpp kTimer;
    static v3_result query(void* self, const v3_tuid iid, void** out);
    static uint32_t ref(void* self);
    static uint32_t unref(void* self);

    v3_result attach(void* parent, const char* type);
    v3_result remove();
    void setFrame(v3_plugin_frame** frame);
    void tick();
    void startTicks();
    void stopTicks();

    Face view_{&kView, this};
    Face events_{&kEvents, this};
    Face timer_{&kTimer, this};
    std::atomic<uint32_t> references_{1};
    v3_funknown** plugin_;
    engine::Instrument& instrument_;
    editor::SettingListener& listener_;
    std::unique_ptr<editor::EditorView> editor_;
    v3_plugin_frame** frame_ = nullptr;
    v3_run_loop** runLoop_ = nullptr;  // while attached, on Linux
    int watchedFd_ = -1;
    uintptr_t systemTimer_ = 0;  // while attached, on Windows
};

}  // namespace vst3adapter
