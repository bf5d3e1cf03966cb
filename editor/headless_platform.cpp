#include "headless_platform.h"

#include <algorithm>

#include "gui.h"

namespace editor {

void HeadlessPlatform::attach(GUI& gui) {
    gui_ = &gui;
    window = Image{kWidth, gui.height()};
}

bool HeadlessPlatform::open(void*, GUI& gui) {
    gui_ = &gui;
    isOpen = true;
    for (int c = 0; c < kControlCount; ++c) texts[c] = layoutOf(static_cast<Control>(c)).text;
    texts[HelpLabel] = kHelpText;
    invalidated.fill(false);
    scopeCanvas_ = std::make_unique<PixelCanvas>(scope, 0, 0, kScopeWidth, kScopeHeight);
    return true;
}

void HeadlessPlatform::close() {
    isOpen = false;
    scopeCanvas_.reset();
}

Rect HeadlessPlatform::screenRect(Control c) {
    const Rect r = layoutOf(c).rect;
    return {origin.x + r.left, origin.y + r.top, origin.x + r.right, origin.y + r.bottom};
}

Canvas& HeadlessPlatform::scopeCanvas() { return *scopeCanvas_; }

bool HeadlessPlatform::copyToClipboard(const std::string& text) {
    if (!clipboardWorks) return false;
    clipboard = text;
    return true;
}

std::optional<std::string> HeadlessPlatform::pasteFromClipboard() { return clipboardWorks ? clipboard : std::nullopt; }

void HeadlessPlatform::paint() {
    std::fill(window.pixels.begin(), window.pixels.end(), defaultColor(SysColor::ButtonFace));
    for (int c = 0; c < gui_->controlCount(); ++c) {
        const auto control = static_cast<Control>(c);
        const ControlLayout& layout = layoutOf(control);
        const Rect r = layout.rect;
        const int w = std::min(r.right, kWidth) - r.left, h = std::min(r.bottom, window.height) - r.top;
        if (control == ScopeView) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) window.at(r.left + x, r.top + y) = scope.at(x, y);
        } else if (control == FormulaEdit) {
            PixelCanvas canvas(window, r.left, r.top, w, h);
            canvas.setBrushColor(SysColor::Window);
            canvas.setPenColor(SysColor::WindowText);
            canvas.roundRect(0, 0, w, h, 0, 0);
        } else if (layout.kind == ControlKind::OwnerDrawn || layout.kind == ControlKind::Clickable) {
            PixelCanvas canvas(window, r.left, r.top, w, h);
            gui_->drawControl(control, canvas, r.width(), r.height());
        }
    }
    invalidated.fill(false);
}

}  // namespace editor
