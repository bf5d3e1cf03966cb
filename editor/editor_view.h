// The editor as a plug-in adapter sees it: a window of a fixed size that opens inside
// the host's window, closes, and does its periodic work at each tick. On X11 the editor
// reads its own connection to the X server, whose descriptor a host's event loop may
// watch to tick it as soon as input arrives.
// [ui thread] All calls come from the thread that opens the editor.
#pragma once

#include <cstdint>

#include "../engine/settings.h"

namespace editor {

// Told of the settings the user changes in the editor, for a host that records them as
// automation. [ui thread]
class SettingListener {
public:
    // A drag of the setting's value label begins or ends; the edits in between belong to it.
    virtual void gestureBegan(engine::Setting setting) = 0;
    virtual void gestureEnded(engine::Setting setting) = 0;
    // The user gave the setting a new value, in a drag or on its own (a click, the wheel).
    virtual void settingEdited(engine::Setting setting, int32_t value) = 0;

protected:
    ~SettingListener() = default;
};

class EditorView {
public:
    virtual ~EditorView() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    // Builds the window inside the host's window `parent` (a HWND, an X11 window id);
    // false if it cannot be made. A second open without a close moves it to the new parent.
    virtual bool open(void* parent) = 0;
    virtual void close() = 0;
    // The periodic work: input, the refresh a change asked for, drawing. With the window
    // closed it still compiles and tells the host, but touches no window.
    virtual void tick() = 0;
    // The descriptor of the window system connection while the window is open, or -1.
    virtual int connectionFd() const { return -1; }
    // The window made inside the parent while open (an X11 window id), or 0.
    virtual uintptr_t window() const { return 0; }
    // Who is told of the user's changes to the settings; null for nobody.
    virtual void setSettingListener(SettingListener* listener) = 0;
};

}  // namespace editor
