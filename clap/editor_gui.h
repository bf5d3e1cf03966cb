// The editor as a CLAP host embeds it: the gui extension's calls (an X11 window on
// Linux, a Win32 one on Windows, inside the host's window, of a fixed size) and the
// editor's periodic work. That work comes from the host's timer; a host without timers
// is asked for main-thread callbacks instead, by a small thread of the editor's own.
// [main thread] Everything but that thread.
#pragma once

#include <clap/ext/gui.h>
#include <clap/ext/timer-support.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "../editor/editor_view.h"

namespace engine {
class Instrument;
}

namespace clapadapter {

class EditorGui {
public:
    EditorGui(const clap_host_t* host, engine::Instrument& instrument, editor::SettingListener& listener);
    ~EditorGui();
    EditorGui(const EditorGui&) = delete;
    EditorGui& operator=(const EditorGui&) = delete;

    // The window system of this build's editor.
    static const char* windowApi();
    static bool supports(const char* api, bool floating);

    bool create(const char* api, bool floating);
    void destroy();
    bool size(uint32_t* width, uint32_t* height) const;
    // Opens the window inside the host's; a second call moves it.
    bool setParent(const clap_window_t* window);
    // Hiding closes the window; showing opens it again in the same parent.
    bool show();
    bool hide();
    // The periodic work: from the host's timer `timer`, or from a main-thread callback.
    void onTimer(clap_id timer);
    void onMainThread();

private:
    void startTicks();
    void stopTicks();

    const clap_host_t* host_;
    engine::Instrument& instrument_;
    editor::SettingListener& listener_;
    std::unique_ptr<editor::EditorView> view_;
    void* parent_ = nullptr;
    bool open_ = false;
    clap_id timer_ = CLAP_INVALID_ID;
    // Without the host's timers: the thread that asks for callbacks, and its stop.
    std::thread asker_;
    std::mutex askerLock_;
    std::condition_variable askerWake_;
    bool askerStop_ = false;
    std::atomic<bool> callbackTicks_{false};
};

}  // namespace clapadapter
