#include "headless_platform.h"

#include <algorithm>
#include <cstdlib>

#include "gui.h"

namespace editor {

uint32_t headlessColor(SysColor color) {
    switch (color) {
        case SysColor::ButtonFace: return 0xF0F0F0;
        case SysColor::WindowText: return 0x000000;
        case SysColor::Window: return 0xFFFFFF;
        case SysColor::ScrollBar: return 0xC8C8C8;
    }
    return 0;
}

namespace {

// 3 x 5 glyphs for the digits and 'x' of the scope's zoom label, a row to a byte.
constexpr uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr uint8_t kTimes[5] = {0, 5, 2, 5, 0};

// Draws into a window of an image: coordinates relative to (x0, y0), clipped to w x h.
class PixelCanvas : public Canvas {
public:
    PixelCanvas(Image& image, int x0, int y0, int w, int h) : image_(image), x0_(x0), y0_(y0), w_(w), h_(h) {}

    void setBrushColor(SysColor color) override { brush_ = headlessColor(color); }
    void setPenColor(SysColor color) override { pen_ = headlessColor(color); }
    void setTextColor(SysColor color) override { text_ = headlessColor(color); }
    void setTransparentText(bool) override {}

    void roundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) override {
        const int rx = cornerWidth / 2, ry = cornerHeight / 2;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                if (outsideCorner(x, y, left, top, right, bottom, rx, ry)) continue;
                const bool edge = x == left || x == right - 1 || y == top || y == bottom - 1;
                plot(x, y, edge ? pen_ : brush_);
            }
        }
    }

    void line(int x0, int y0, int x1, int y1) override {
        // Bresenham, without the end point.
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int error = dx + dy;
        while (x0 != x1 || y0 != y1) {
            plot(x0, y0, pen_);
            const int e2 = 2 * error;
            if (e2 >= dy) error += dy, x0 += sx;
            if (e2 <= dx) error += dx, y0 += sy;
        }
    }

    void textOut(int x, int y, const std::string& text) override {
        for (char c : text) {
            const uint8_t* glyph = c >= '0' && c <= '9' ? kDigits[c - '0'] : c == 'x' ? kTimes : nullptr;
            for (int row = 0; glyph && row < 5; ++row)
                for (int column = 0; column < 3; ++column)
                    if (glyph[row] & (4 >> column)) plot(x + 1 + column * 2, y + 2 + row * 2, text_, 2);
            x += 8;
        }
    }
    // Label texts are not drawn: the pixels that tests compare are the bars and scope.
    void drawTextCentered(const Rect&, const std::string&) override {}

private:
    static bool outsideCorner(int x, int y, int left, int top, int right, int bottom, int rx, int ry) {
        if (rx <= 0 || ry <= 0) return false;
        const int cx = x < left + rx ? left + rx : x >= right - rx ? right - 1 - rx : x;
        const int cy = y < top + ry ? top + ry : y >= bottom - ry ? bottom - 1 - ry : y;
        const double ex = static_cast<double>(x - cx) / rx, ey = static_cast<double>(y - cy) / ry;
        return ex * ex + ey * ey > 1.0;
    }
    void plot(int x, int y, uint32_t color, int size = 1) {
        for (int j = 0; j < size; ++j)
            for (int i = 0; i < size; ++i)
                if (x + i >= 0 && x + i < w_ && y + j >= 0 && y + j < h_) image_.at(x0_ + x + i, y0_ + y + j) = color;
    }

    Image& image_;
    int x0_, y0_, w_, h_;
    uint32_t brush_ = 0xFFFFFF, pen_ = 0, text_ = 0;
};

}  // namespace

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
    std::fill(window.pixels.begin(), window.pixels.end(), headlessColor(SysColor::ButtonFace));
    for (int c = 0; c < kControlCount; ++c) {
        const auto control = static_cast<Control>(c);
        const ControlLayout& layout = layoutOf(control);
        const Rect r = layout.rect;
        const int w = std::min(r.right, kWidth) - r.left, h = std::min(r.bottom, kHeight) - r.top;
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
