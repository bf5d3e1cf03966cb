#include "cairo_text.h"

#include <algorithm>

namespace editor {

namespace {

double pixelSizeOf(Font font) {
    // Windows font heights are cell heights; DejaVu Sans's cell is 1.164 of its em.
    return fontStyleOf(font).height / 1.164;
}

}  // namespace

void selectFont(cairo_t* cr, Font font) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           fontStyleOf(font).weight >= 700 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, pixelSizeOf(font));
}

void fitLines(cairo_t* cr, Font font, const std::string& text, double width) {
    // The ink's right end of the widest line; hinting makes widths not quite proportional
    // to the size, so the size steps down until it fits.
    const auto widest = [&] {
        double most = 0;
        for (size_t at = 0; at <= text.size();) {
            const size_t end = std::min(text.find('\n', at), text.size());
            cairo_text_extents_t extents;
            cairo_text_extents(cr, text.substr(at, end - at).c_str(), &extents);
            most = std::max({most, extents.x_advance, extents.x_bearing + extents.width});
            at = end + 1;
        }
        return most;
    };
    double size = pixelSizeOf(font);
    for (int step = 0; step < 40 && widest() > width; ++step) {
        size *= 0.98;
        cairo_set_font_size(cr, size);
    }
}

void setColor(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

double textWidth(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

CairoImage::CairoImage(Image& image, int scale)
    : surface(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(image.pixels.data()),
                                                  CAIRO_FORMAT_RGB24, image.width, image.height, image.width * 4)),
      cr(cairo_create(surface)) {
    cairo_scale(cr, scale, scale);
}

CairoImage::~CairoImage() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void FontCanvas::drawTextCentered(const Rect& rect, const std::string& text) {
    selectFont(cairo_.cr, font_);
    drawText(rect.left + static_cast<int>((rect.width() - textWidth(cairo_.cr, text)) / 2), rect.top, text);
}

void FontCanvas::drawText(int x, int y, const std::string& text) {
    cairo_t* cr = cairo_.cr;
    cairo_.touched();
    cairo_save(cr);
    cairo_rectangle(cr, x0_, y0_, w_, h_);
    cairo_clip(cr);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    selectFont(cr, font_);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    setColor(cr, text_);
    cairo_move_to(cr, x0_ + x, y0_ + y + font.ascent);
    cairo_show_text(cr, text.c_str());
    cairo_restore(cr);
    cairo_.drawn();
}

// A static text's "&&" shows one ampersand.
std::string withoutPrefixes(const std::string& text) {
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

std::vector<Line> wrapLines(cairo_t* cr, const std::string& text, double width) {
    std::vector<Line> lines;
    size_t begin = 0;
    while (true) {
        size_t end = begin, blank = std::string::npos;
        std::string run;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
            run += text[end];
            if (textWidth(cr, run) > width && end > begin) break;
            if (text[end] == ' ') blank = end;
            ++end;
        }
        const bool broke = end < text.size() && text[end] != '\r' && text[end] != '\n';
        if (broke && blank != std::string::npos) end = blank + 1;
        lines.push_back({begin, end});
        if (end >= text.size()) break;
        if (!broke) end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;  // past the line break
        begin = end;
        if (begin >= text.size() && !broke) {
            lines.push_back({begin, begin});
            break;
        }
    }
    return lines;
}

}  // namespace editor
