// The Linux editor's formula box, as a Windows multi-line edit box behaves: the text, caret
// and selection (TextBox), its lines wrapped as cairo measures them, the caret's blinking,
// the mouse and keys of editing, and its drawing into the window's image. The window
// (x11_platform.cpp) routes input here and draws the box with the rest.
// [ui thread] All calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cairo_text.h"
#include "layout.h"
#include "text_box.h"

namespace editor {

class FormulaBox {
public:
    // The clipboard the box copies to and pastes from.
    class Clipboard {
    public:
        virtual bool copy(const std::string& text) = 0;
        virtual std::optional<std::string> paste() = 0;

    protected:
        ~Clipboard() = default;
    };

    // What a key did: nothing the box wants (the window passes it on to the host), a move
    // of the caret or selection, or an edit of the text.
    enum class Typed { PassOn, Moved, Edited };

    const std::string& text() const { return box_.text(); }
    void setText(const std::string& text) { box_.setText(text); }

    // The surfaces the box measures and draws with, while the window is open; null when closed.
    void attach(Image* window, CairoImage* cairo, int scale);

    bool focused() const { return focused_; }
    void setFocused(bool focused) { focused_ = focused; }

    // A left press at `at` (in the editor's units) at the server's time `time`: places the
    // caret (extending the selection with Shift) and starts a drag, or on a second press
    // soon at the same place selects the word there and starts a drag by words.
    void press(Point at, uint32_t time, bool shift);
    // The pointer moved to `at`: a drag extends the selection. True when it did.
    bool drag(Point at);
    void release() { selecting_ = false; }

    // Ctrl and a key: its keysym as the shortcut's letter reads.
    Typed shortcut(uint32_t keysym, Clipboard& clipboard);
    // A key typed: its keysym (the keypad's as the main keyboard's) and its text.
    Typed type(uint32_t keysym, const std::string& text, bool shift);

    // Whether the caret blinked since the box was last drawn, so that it is drawn again.
    bool blinked() const { return focused_ && caretOn() != caretDrawn_; }
    void paint();

private:
    Rect inner() const;
    double lineHeight();
    std::vector<Line> layoutLines();
    double xInLine(const Line& line, size_t index);
    size_t indexInLine(const Line& line, double x);
    size_t indexAt(Point at);
    // Input shows the caret at once and restarts its blinking.
    void caretShown() { blinkStart_ = std::chrono::steady_clock::now(); }
    bool caretOn() const;

    TextBox box_;
    Image* window_ = nullptr;
    CairoImage* cairo_ = nullptr;
    int scale_ = 1;
    bool focused_ = false;
    bool selecting_ = false;
    std::optional<std::pair<size_t, size_t>> word_;  // a double click's word, while its drag lasts
    bool caretDrawn_ = false;
    std::chrono::steady_clock::time_point blinkStart_;
    struct Press {
        uint32_t time;
        int x, y;
    };
    Press lastPress_{0, -100, -100};
};

}  // namespace editor
