// What the editor needs of a window system, so that its logic and drawing do not know
// which one it runs on: the Win32/GDI implementation inside Windows hosts, the X11 one
// (XCB and cairo) inside Linux hosts, and a headless one that draws into a pixel buffer
// for tests, tools and the web page.
#pragma once

#include <cstdint>

#include <optional>
#include <string>

#include "layout.h"

namespace editor {

enum class SysColor { ButtonFace, WindowText, Window, ScrollBar };

struct Point {
    int x, y;
};

// A drawing surface with GDI's semantics: a stock brush and pen whose colours are set,
// rectangles that cover left..right-1 and top..bottom-1 (outlined with the pen, filled
// with the brush), lines without their end point, and text in the surface's font.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void setBrushColor(SysColor color) = 0;
    virtual void setPenColor(SysColor color) = 0;
    virtual void roundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) = 0;
    virtual void line(int x0, int y0, int x1, int y1) = 0;
    virtual void setTextColor(SysColor color) = 0;
    virtual void setTransparentText(bool transparent) = 0;
    virtual void textOut(int x, int y, const std::string& text) = 0;
    virtual void drawTextCentered(const Rect& rect, const std::string& text) = 0;
};

class GUI;

class EditorPlatform {
public:
    virtual ~EditorPlatform() = default;

    // Called once by the editor it serves, when that editor is made (Win32 registers the
    // window class of this editor here).
    virtual void attach(GUI& gui) = 0;
    // Builds the window, its controls, fonts and the scope surface inside `parent`, and
    // routes the window's messages to `gui`. False when the main window cannot be made.
    virtual bool open(void* parent, GUI& gui) = 0;
    virtual void close() = 0;

    virtual std::string text(Control c) = 0;
    virtual void setText(Control c, const std::string& text) = 0;
    // Schedules a repaint of the control, erasing its background.
    virtual void invalidate(Control c) = 0;
    // The control's rectangle in screen coordinates.
    virtual Rect screenRect(Control c) = 0;
    virtual void captureMouse() = 0;
    virtual void releaseMouse() = 0;

    // Device pixels to each of the editor's: 2 on a screen set to twice the usual density,
    // where the window, its drawing and its rectangle for the host are twice the size.
    virtual int scale() { return 1; }

    // The scope surface, 580 x 64, valid while open.
    virtual Canvas& scopeCanvas() = 0;

    // Plain text on the system clipboard. Copying answers false when it could not.
    virtual bool copyToClipboard(const std::string& text) = 0;
    virtual std::optional<std::string> pasteFromClipboard() = 0;

    // The start and the end of each idle call, for a window system whose events the
    // editor reads itself (X11) rather than receiving them from the host's loop (Win32):
    // input is handled before the idle's refresh, and what changed is drawn after it.
    virtual void handleEvents() {}
    virtual void present() {}
    // The descriptor of the connection whose events handleEvents reads, while open; -1
    // for a window system whose events come through the host's own loop.
    virtual int connectionFd() const { return -1; }
    // The window the editor made inside its parent, while open (an X11 window id); 0
    // where a host needs no handle of it.
    virtual uintptr_t window() const { return 0; }
};

}  // namespace editor
