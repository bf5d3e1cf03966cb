#include "pixel_canvas.h"

#include <algorithm>
#include <cstdlib>

namespace editor {

uint32_t defaultColor(SysColor color) {
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

bool outsideCorner(int x, int y, int left, int top, int right, int bottom, int rx, int ry) {
    if (rx <= 0 || ry <= 0) return false;
    const int cx = x < left + rx ? left + rx : x >= right - rx ? right - 1 - rx : x;
    const int cy = y < top + ry ? top + ry : y >= bottom - ry ? bottom - 1 - ry : y;
    const double ex = static_cast<double>(x - cx) / rx, ey = static_cast<double>(y - cy) / ry;
    return ex * ex + ey * ey > 1.0;
}

}  // namespace

void PixelCanvas::roundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) {
    const int rx = cornerWidth / 2, ry = cornerHeight / 2;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            if (outsideCorner(x, y, left, top, right, bottom, rx, ry)) continue;
            const bool edge = x == left || x == right - 1 || y == top || y == bottom - 1;
            plot(x, y, edge ? pen_ : brush_);
        }
    }
}

void PixelCanvas::line(int x0, int y0, int x1, int y1) {
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

void PixelCanvas::textOut(int x, int y, const std::string& text) {
    for (char c : text) {
        const uint8_t* glyph = c >= '0' && c <= '9' ? kDigits[c - '0'] : c == 'x' ? kTimes : nullptr;
        for (int row = 0; glyph && row < 5; ++row)
            for (int column = 0; column < 3; ++column)
                if (glyph[row] & (4 >> column)) plot(x + 1 + column * 2, y + 2 + row * 2, text_, 2);
        x += 8;
    }
}

void PixelCanvas::plot(int x, int y, uint32_t color, int size) {
    const int s = scale_;
    for (int j = 0; j < size * s; ++j)
        for (int i = 0; i < size * s; ++i) {
            const int px = x * s + i, py = y * s + j;
            if (px >= 0 && px < w_ * s && py >= 0 && py < h_ * s) image_.at(x0_ * s + px, y0_ * s + py) = color;
        }
}

}  // namespace editor
