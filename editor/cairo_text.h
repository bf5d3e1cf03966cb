// Text for the X11 editor, drawn with cairo through fontconfig in DejaVu Sans at the
// cell heights of the Windows fonts, into the editor's pixel buffers: the owner-drawn
// controls' canvas, and the wrapping of the box and the static texts.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pixel_canvas.h"

namespace editor {

void selectFont(cairo_t* cr, Font font);
void setColor(cairo_t* cr, uint32_t rgb);
double textWidth(cairo_t* cr, const std::string& text);

// A cairo context over an image's pixels (cairo's RGB24 layout), drawing in the editor's
// own units: an image `scale` times the editor's size is drawn at that scale.
struct CairoImage {
    CairoImage(Image& image, int scale);
    ~CairoImage();
    CairoImage(const CairoImage&) = delete;
    CairoImage& operator=(const CairoImage&) = delete;
    // Before cairo draws: what was written to the pixels directly.
    void touched() { cairo_surface_mark_dirty(surface); }
    void drawn() { cairo_surface_flush(surface); }

    cairo_surface_t* surface;
    cairo_t* cr;
};

// The pixel canvas with text in a font. The text is not smoothed, as GDI's is not: the
// labels' nine button-face copies then hold the last copy's every pixel, so the text stays
// readable over the scope's wave and looks the same whatever the bar behind it.
class FontCanvas : public PixelCanvas {
public:
    FontCanvas(Image& image, CairoImage& cairo, Font font, int x0, int y0, int w, int h, int scale)
        : PixelCanvas(image, x0, y0, w, h, scale), cairo_(cairo), font_(font) {}

    void textOut(int x, int y, const std::string& text) override { drawText(x, y, text); }
    void drawTextCentered(const Rect& rect, const std::string& text) override;

private:
    void drawText(int x, int y, const std::string& text);

    CairoImage& cairo_;
    Font font_;
};

// Makes the font selected in `cr` (as selectFont selects `font`) smaller where the widest
// of the text's lines would not fit `width`, so that every line fits whole: DejaVu Sans is
// wider than the Tahoma the layout was made for.
void fitLines(cairo_t* cr, Font font, const std::string& text, double width);

// A static text's "&&" shows one ampersand.
std::string withoutPrefixes(const std::string& text);

// A display line of a text: from `begin` to `end`, without its line break.
struct Line {
    size_t begin, end;
};

// The lines a text wraps to in `width` pixels of the font set in `cr`, as Windows' edit
// boxes and static texts wrap: at line breaks ("\r\n" or "\n"), else after the last blank
// that fits, else at the last character that fits. A text ending in a line break ends
// with an empty line.
std::vector<Line> wrapLines(cairo_t* cr, const std::string& text, double width);

}  // namespace editor
