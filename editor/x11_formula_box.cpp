#include "x11_formula_box.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "pixel_canvas.h"

namespace editor {

namespace {

constexpr uint32_t kHighlight = 0x0078D7;  // the selection, as a default Windows theme has it
constexpr int kBoxMargin = 2;
constexpr uint32_t kDoubleClickMs = 500;  // Windows' default double-click time
constexpr int kBlinkMs = 530;             // and caret blink time

// Keysyms of the keys the box knows; the keypad's as its own keys without NumLock.
enum Keysym : uint32_t {
    kBackSpace = 0xff08,
    kReturn = 0xff0d,
    kHome = 0xff50,
    kLeft = 0xff51,
    kUp = 0xff52,
    kRight = 0xff53,
    kDown = 0xff54,
    kEnd = 0xff57,
    kKeypadEnter = 0xff8d,
    kKeypadHome = 0xff95,
    kKeypadLeft = 0xff96,
    kKeypadUp = 0xff97,
    kKeypadRight = 0xff98,
    kKeypadDown = 0xff99,
    kKeypadEnd = 0xff9c,
    kKeypadDelete = 0xff9f,
    kDelete = 0xffff,
};

// The main keyboard's key for a key of the keypad; any other key as it is.
uint32_t mainKeyOf(uint32_t keysym) {
    switch (keysym) {
        case kKeypadEnter: return kReturn;
        case kKeypadHome: return kHome;
        case kKeypadLeft: return kLeft;
        case kKeypadUp: return kUp;
        case kKeypadRight: return kRight;
        case kKeypadDown: return kDown;
        case kKeypadEnd: return kEnd;
        case kKeypadDelete: return kDelete;
        default: return keysym;
    }
}

size_t lineOf(const std::vector<Line>& lines, size_t index) {
    for (size_t i = lines.size(); i-- > 0;)
        if (index >= lines[i].begin) return i;
    return 0;
}

}  // namespace

void FormulaBox::attach(Image* window, CairoImage* cairo, int scale) {
    window_ = window;
    cairo_ = cairo;
    scale_ = scale;
    if (!window) focused_ = selecting_ = false;
}

void FormulaBox::press(Point at, uint32_t time, bool shift) {
    focused_ = true;
    const size_t index = indexAt(at);
    const bool twice = time - lastPress_.time < kDoubleClickMs && std::abs(at.x - lastPress_.x) < 4 &&
                       std::abs(at.y - lastPress_.y) < 4;
    lastPress_ = {time, at.x, at.y};
    if (twice) {
        // A drag from here extends the selection word by word.
        box_.selectWordAt(index);
        word_ = {std::min(box_.anchor(), box_.caret()), std::max(box_.anchor(), box_.caret())};
        lastPress_.time -= kDoubleClickMs;  // a third press starts anew
    } else {
        box_.move(index, shift);
        word_.reset();
    }
    selecting_ = true;
    caretShown();
}

bool FormulaBox::drag(Point at) {
    if (!selecting_) return false;
    if (word_)
        box_.selectWordsFrom(word_->first, word_->second, indexAt(at));
    else
        box_.move(indexAt(at), true);
    return true;
}

FormulaBox::Typed FormulaBox::shortcut(uint32_t keysym, Clipboard& clipboard) {
    bool edited = false;
    switch (keysym < 0x80 ? std::tolower(static_cast<int>(keysym)) : 0) {
        case 'a': box_.selectAll(); break;
        case 'c':
            if (box_.hasSelection()) clipboard.copy(box_.selection());
            break;
        case 'x':
            if (box_.hasSelection() && clipboard.copy(box_.selection())) edited = box_.erase(false);
            break;
        case 'v':
            if (std::optional<std::string> pasted = clipboard.paste()) edited = box_.insert(*pasted);
            break;
        case 'z': edited = box_.undo(); break;
        default: return Typed::PassOn;
    }
    caretShown();
    return edited ? Typed::Edited : Typed::Moved;
}

FormulaBox::Typed FormulaBox::type(uint32_t keysym, const std::string& text, bool shift) {
    const std::vector<Line> lines = layoutLines();
    const size_t line = lineOf(lines, box_.caret());
    bool edited = false;
    switch (mainKeyOf(keysym)) {
        case kBackSpace: edited = box_.erase(false); break;
        case kDelete: edited = box_.erase(true); break;
        case kLeft: box_.move(box_.step(box_.caret(), -1), shift); break;
        case kRight: box_.move(box_.step(box_.caret(), +1), shift); break;
        case kHome: box_.move(lines[line].begin, shift); break;
        case kEnd: box_.move(lines[line].end, shift); break;
        case kUp:
        case kDown: {
            const size_t to =
                mainKeyOf(keysym) == kUp ? (line > 0 ? line - 1 : line) : std::min(line + 1, lines.size() - 1);
            box_.move(indexInLine(lines[to], xInLine(lines[line], box_.caret())), shift);
            break;
        }
        case kReturn: edited = box_.insert("\r\n"); break;
        default: {
            // Tab, Escape, function keys and modifiers type nothing here.
            const auto first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
            if (first < 32 || first == 127) return Typed::PassOn;
            edited = box_.insert(text);
            break;
        }
    }
    caretShown();
    return edited ? Typed::Edited : Typed::Moved;
}

bool FormulaBox::caretOn() const {
    const auto since =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - blinkStart_);
    return (since.count() / kBlinkMs) % 2 == 0;
}

Rect FormulaBox::inner() const {
    const Rect r = layoutOf(FormulaEdit).rect;
    return {r.left + 1 + kBoxMargin, r.top + 1, r.right - 1 - kBoxMargin, r.bottom - 1};
}

double FormulaBox::lineHeight() {
    selectFont(cairo_->cr, Font::Edit);
    cairo_font_extents_t font;
    cairo_font_extents(cairo_->cr, &font);
    return std::ceil(font.height);
}

std::vector<Line> FormulaBox::layoutLines() {
    selectFont(cairo_->cr, Font::Edit);
    return wrapLines(cairo_->cr, box_.text(), inner().width());
}

double FormulaBox::xInLine(const Line& line, size_t index) {
    selectFont(cairo_->cr, Font::Edit);
    return textWidth(cairo_->cr, box_.text().substr(line.begin, std::min(index, line.end) - line.begin));
}

size_t FormulaBox::indexInLine(const Line& line, double x) {
    size_t best = line.begin;
    for (size_t i = line.begin; i <= line.end; ++i) {
        if (xInLine(line, i) - 0.5 > x) break;
        best = i;
        const double next = i < line.end ? xInLine(line, i + 1) : 1e9;
        if ((xInLine(line, i) + next) / 2 > x) break;
    }
    return best;
}

size_t FormulaBox::indexAt(Point at) {
    const std::vector<Line> lines = layoutLines();
    const int row = static_cast<int>((at.y - inner().top) / lineHeight()) + box_.firstLine;
    const Line& line = lines[static_cast<size_t>(std::clamp(row, 0, static_cast<int>(lines.size()) - 1))];
    return indexInLine(line, at.x - inner().left);
}

void FormulaBox::paint() {
    const Rect r = layoutOf(FormulaEdit).rect;
    PixelCanvas frame(*window_, r.left, r.top, r.width(), r.height(), scale_);
    frame.setBrushColor(SysColor::Window);
    frame.setPenColor(SysColor::WindowText);
    frame.roundRect(0, 0, r.width(), r.height(), 0, 0);

    const std::vector<Line> lines = layoutLines();
    const double height = lineHeight();
    const Rect in = inner();
    const int visible = std::max(1, static_cast<int>(in.height() / height));
    // The caret's line stays in view.
    const int caretLine = static_cast<int>(lineOf(lines, box_.caret()));
    box_.firstLine = std::clamp(box_.firstLine, caretLine - visible + 1, caretLine);

    cairo_t* cr = cairo_->cr;
    cairo_->touched();
    cairo_save(cr);
    cairo_rectangle(cr, r.left + 1, r.top + 1, r.width() - 2, r.height() - 2);
    cairo_clip(cr);
    selectFont(cr, Font::Edit);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    const size_t from = std::min(box_.caret(), box_.anchor()), to = std::max(box_.caret(), box_.anchor());
    caretDrawn_ = caretOn();
    for (int i = box_.firstLine; i < static_cast<int>(lines.size()) && i < box_.firstLine + visible + 1; ++i) {
        const Line& line = lines[static_cast<size_t>(i)];
        const double top = in.top + (i - box_.firstLine) * height;
        const size_t a = std::clamp(from, line.begin, line.end), b = std::clamp(to, line.begin, line.end);
        const double xa = xInLine(line, a), xb = xInLine(line, b);
        const std::string& text = box_.text();
        // Before, inside and after the selection.
        struct Part {
            size_t begin, end;
            double x;
            bool selected;
        };
        for (const Part& part : {Part{line.begin, a, 0.0, false}, Part{a, b, xa, true}, Part{b, line.end, xb, false}}) {
            if (part.end <= part.begin) continue;
            const std::string piece = text.substr(part.begin, part.end - part.begin);
            if (part.selected) {
                setColor(cr, kHighlight);
                cairo_rectangle(cr, in.left + part.x, top, textWidth(cr, piece), height);
                cairo_fill(cr);
            }
            setColor(cr, part.selected ? defaultColor(SysColor::Window) : defaultColor(SysColor::WindowText));
            cairo_move_to(cr, in.left + part.x, top + font.ascent);
            cairo_show_text(cr, piece.c_str());
        }
        if (focused_ && caretDrawn_ && !box_.hasSelection() && i == caretLine) {
            setColor(cr, defaultColor(SysColor::WindowText));
            cairo_rectangle(cr, std::floor(in.left + xInLine(line, box_.caret())), top, 1, height);
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
    cairo_->drawn();
}

}  // namespace editor
