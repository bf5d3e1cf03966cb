// A window system of the editor's own that draws into pixel buffers: the editor's
// logic and drawing run unchanged, without a display, for tests, for tools that show
// the scope and for the web page. The window stands at `origin` on an imaginary screen.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "pixel_canvas.h"

namespace editor {

class HeadlessPlatform : public EditorPlatform {
public:
    void attach(GUI& gui) override;
    bool open(void* parent, GUI& gui) override;
    void close() override;
    std::string text(Control c) override { return texts[c]; }
    void setText(Control c, const std::string& text) override { texts[c] = text; }
    void invalidate(Control c) override { invalidated[c] = true; }
    Rect screenRect(Control c) override;
    void captureMouse() override { captured = true; }
    void releaseMouse() override { captured = false; }
    Canvas& scopeCanvas() override;
    bool copyToClipboard(const std::string& text) override;
    std::optional<std::string> pasteFromClipboard() override;

    // Draws the whole window as the screen would show it after the invalidated controls
    // are painted: the background, every self-drawn control and the scope image.
    void paint();
    // A point of the window's client area in screen coordinates.
    Point toScreen(int x, int y) const { return {origin.x + x, origin.y + y}; }

    Point origin{200, 100};
    bool isOpen = false;
    std::array<std::string, kControlCount> texts;
    std::array<bool, kControlCount> invalidated{};
    bool captured = false;
    std::optional<std::string> clipboard;  // nothing: the clipboard holds no text
    bool clipboardWorks = true;
    Image window{kWidth, kHeight};  // as high as the editor's window, from attach
    Image scope{kScopeWidth, kScopeHeight};

private:
    GUI* gui_ = nullptr;
    std::unique_ptr<Canvas> scopeCanvas_;
};

}  // namespace editor
