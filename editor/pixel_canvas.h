// Drawing into pixel buffers with GDI's rules: the shapes of the editor's bars, buttons
// and scope, pixel for pixel as GDI draws them, in the colours of a default Windows theme.
// The headless backend draws with it; the X11 backend draws its shapes with it too.
#pragma once

#include <cstdint>
#include <vector>

#include "editor_platform.h"

namespace editor {

// 0xRRGGBB values of the system colours, those of a default Windows theme.
uint32_t defaultColor(SysColor color);

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row

    Image(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Draws into a window of an image: coordinates relative to (x0, y0), clipped to w x h;
// with a scale, into an image that many times larger, each pixel a square of that side.
// Text comes out as the scope label's digits in 3 x 5 blocks, and label texts not at
// all; a backend with fonts draws text of its own.
class PixelCanvas : public Canvas {
public:
    PixelCanvas(Image& image, int x0, int y0, int w, int h, int scale = 1)
        : image_(image), x0_(x0), y0_(y0), w_(w), h_(h), scale_(scale) {}

    void setBrushColor(SysColor color) override { brush_ = defaultColor(color); }
    void setPenColor(SysColor color) override { pen_ = defaultColor(color); }
    void setTextColor(SysColor color) override { text_ = defaultColor(color); }
    void setTransparentText(bool) override {}
    void roundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) override;
    // Bresenham, without the end point.
    void line(int x0, int y0, int x1, int y1) override;
    void textOut(int x, int y, const std::string& text) override;
    void drawTextCentered(const Rect&, const std::string&) override {}

protected:
    Image& image_;
    int x0_, y0_, w_, h_;
    int scale_;
    uint32_t brush_ = 0xFFFFFF, pen_ = 0, text_ = 0;

private:
    void plot(int x, int y, uint32_t color, int size = 1);
};

}  // namespace editor
