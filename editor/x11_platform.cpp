// The editor in a Linux host: one child window of the host's window (an X11 window id),
// on a connection to the X server of the editor's own, read at every idle call. The
// whole window is drawn into a pixel buffer (shapes by the pixel canvas, exactly as the
// headless drawing makes them; text with cairo through fontconfig) and sent to the
// server. The formula box is drawn and edited here, as a Windows multi-line edit box
// behaves. XCB reports errors as answers, never through a process-wide handler, so a host
// that destroys its window before closing the editor costs nothing but an error reply.
#include <cairo.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "create_editor.h"
#include "gui.h"
#include "pixel_canvas.h"
#include "x11_keyboard.h"

namespace editor {

namespace {

constexpr uint32_t kHighlight = 0x0078D7;  // the selection, as a default Windows theme has it
constexpr size_t kBoxLimit = 1024;         // characters typing fills the formula box to, as the edit box's limit
constexpr int kBoxMargin = 2;
constexpr uint32_t kPasteWaitMs = 500;
constexpr uint32_t kDoubleClickMs = 500;  // Windows' default double-click time
constexpr int kBlinkMs = 530;             // and caret blink time

// Keysyms of the keys the formula box knows; the keypad's as its own keys without NumLock.
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

double pixelSizeOf(Font font) {
    // Windows font heights are cell heights; DejaVu Sans's cell is 1.164 of its em.
    return fontStyleOf(font).height / 1.164;
}

void selectFont(cairo_t* cr, Font font) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           fontStyleOf(font).weight >= 700 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, pixelSizeOf(font));
}

void setColor(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

double textWidth(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

// A cairo context over an image's pixels, which are cairo's RGB24 layout.
struct CairoImage {
    explicit CairoImage(Image& image)
        : surface(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(image.pixels.data()),
                                                      CAIRO_FORMAT_RGB24, image.width, image.height, image.width * 4)),
          cr(cairo_create(surface)) {}
    ~CairoImage() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    CairoImage(const CairoImage&) = delete;
    CairoImage& operator=(const CairoImage&) = delete;
    // Before cairo draws: what was written to the pixels directly.
    void touched() { cairo_surface_mark_dirty(surface); }
    void drawn() { cairo_surface_flush(surface); }

    cairo_surface_t* surface;
    cairo_t* cr;
};

// The pixel canvas with text in a font.
class FontCanvas : public PixelCanvas {
public:
    FontCanvas(Image& image, CairoImage& cairo, Font font, int x0, int y0, int w, int h)
        : PixelCanvas(image, x0, y0, w, h), cairo_(cairo), font_(font) {}

    void textOut(int x, int y, const std::string& text) override { drawText(x, y, text); }
    void drawTextCentered(const Rect& rect, const std::string& text) override {
        selectFont(cairo_.cr, font_);
        drawText(rect.left + static_cast<int>((rect.width() - textWidth(cairo_.cr, text)) / 2), rect.top, text);
    }

private:
    void drawText(int x, int y, const std::string& text) {
        cairo_t* cr = cairo_.cr;
        cairo_.touched();
        cairo_save(cr);
        cairo_rectangle(cr, x0_, y0_, w_, h_);
        cairo_clip(cr);
        selectFont(cr, font_);
        cairo_font_extents_t font;
        cairo_font_extents(cr, &font);
        setColor(cr, text_);
        cairo_move_to(cr, x0_ + x, y0_ + y + font.ascent);
        cairo_show_text(cr, text.c_str());
        cairo_restore(cr);
        cairo_.drawn();
    }

    CairoImage& cairo_;
    Font font_;
};

// A static text's "&&" shows one ampersand.
std::string withoutPrefixes(const std::string& text) {
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

// The formula box's text and what the user does to it, as a multi-line edit box with
// upper case and a length limit behaves.
class TextBox {
public:
    const std::string& text() const { return text_; }
    // The whole text, as setting a Windows edit box's text ignores the limit on typing
    // (the Paste button puts the clipboard in whole; the program keeps 1023 characters).
    void setText(const std::string& text) {
        text_ = text;
        caret_ = anchor_ = 0;
        firstLine = 0;
        undoText_.reset();
    }
    bool hasSelection() const { return caret_ != anchor_; }
    std::string selection() const {
        return text_.substr(std::min(caret_, anchor_), std::max(caret_, anchor_) - std::min(caret_, anchor_));
    }
    // Replaces the selection by `typed` in upper case, as far as the limit lets it in;
    // false when nothing changed.
    bool insert(const std::string& typed) {
        std::string in;
        for (char c : typed)
            if (c == '\n' || c == '\r' || (c >= 32 && c < 127) || static_cast<unsigned char>(c) >= 128)
                in += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const size_t from = std::min(caret_, anchor_), to = std::max(caret_, anchor_);
        const size_t kept = text_.size() - (to - from);
        const size_t room = kept < kBoxLimit ? kBoxLimit - kept : 0;
        in.resize(std::min(in.size(), room));
        if (in.empty() && from == to) return false;
        undoText_ = text_;
        undoCaret_ = caret_;
        text_.replace(from, to - from, in);
        caret_ = anchor_ = from + in.size();
        return true;
    }
    // Takes back the last change, and a second time the taking back, as the edit box's
    // one level of undo does; false when there is nothing to take back.
    bool undo() {
        if (!undoText_) return false;
        std::swap(*undoText_, text_);
        std::swap(undoCaret_, caret_);
        caret_ = anchor_ = std::min(caret_, text_.size());
        return true;
    }
    // Selects the word (letters and digits) or the run of other characters at `index`.
    void selectWordAt(size_t index) {
        auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
        index = std::min(index, text_.size());
        if (index == text_.size() && index > 0) --index;
        if (text_.empty()) return;
        const bool word = isWord(text_[index]);
        size_t begin = index, end = index;
        while (begin > 0 && isWord(text_[begin - 1]) == word && text_[begin - 1] != '\n') --begin;
        while (end < text_.size() && isWord(text_[end]) == word && text_[end] != '\r' && text_[end] != '\n') ++end;
        anchor_ = begin;
        caret_ = end;
    }
    bool erase(bool forward) {
        if (!hasSelection()) {
            if (forward ? caret_ >= text_.size() : caret_ == 0) return false;
            if (forward)
                caret_ = step(caret_, +1);
            else
                anchor_ = step(caret_, -1), std::swap(caret_, anchor_);
        }
        return insert("");
    }
    void move(size_t to, bool extend) {
        caret_ = std::min(to, text_.size());
        if (!extend) anchor_ = caret_;
    }
    void selectAll() {
        anchor_ = 0;
        caret_ = text_.size();
    }
    size_t caret() const { return caret_; }
    size_t anchor() const { return anchor_; }
    // One character on, a line break of two counting as one.
    size_t step(size_t at, int direction) const {
        if (direction > 0) {
            if (at >= text_.size()) return at;
            return at + (text_.compare(at, 2, "\r\n") == 0 ? 2 : 1);
        }
        if (at == 0) return 0;
        return at - (at >= 2 && text_.compare(at - 2, 2, "\r\n") == 0 ? 2 : 1);
    }
    int firstLine = 0;  // the first line in view

private:
    std::string text_;
    size_t caret_ = 0, anchor_ = 0;
    std::optional<std::string> undoText_;
    size_t undoCaret_ = 0;
};

// A display line of a text: from `begin` to `end`, without its line break.
struct Line {
    size_t begin, end;
};

// The lines a text wraps to in `width` pixels of the font set in `cr`, as Windows' edit
// boxes and static texts wrap: at line breaks ("\r\n" or "\n"), else after the last blank
// that fits, else at the last character that fits. A text ending in a line break ends
// with an empty line.
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

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return result;
}

// The CLIPBOARD while the editor owns it, served by a thread of its own on a connection
// of its own: a host whose toolkit asks the new owner for its targets on its user-interface
// thread right after Copy (Qt does) gets its answer at once, not at the host's next idle,
// which that blocked thread would have to run.
class ClipboardOwner {
public:
    ClipboardOwner() = default;
    ~ClipboardOwner() { stop(); }
    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;

    // Takes the CLIPBOARD with `text`; false when the server gave it to nobody.
    bool take(const std::string& text) {
        if (!connection_ && !start()) return false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            text_ = text;
        }
        xcb_set_selection_owner(connection_, window_, clipboard_, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr);
        owns_ = owner && owner->owner == window_;
        std::free(owner);
        return owns_;
    }
    bool owns() const { return owns_; }
    std::string text() {
        std::lock_guard<std::mutex> hold(lock_);
        return text_;
    }
    // Gives the CLIPBOARD up if it is still ours and ends the thread.
    void stop() {
        if (!connection_) return;
        if (owns_) xcb_set_selection_owner(connection_, XCB_NONE, clipboard_, XCB_CURRENT_TIME);
        // A message to its own window wakes the thread, which then ends.
        xcb_client_message_event_t wake{};
        wake.response_type = XCB_CLIENT_MESSAGE;
        wake.window = window_;
        wake.format = 32;
        wake.type = stop_;
        xcb_send_event(connection_, 0, window_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
        xcb_flush(connection_);
        if (server_.joinable()) server_.join();
        xcb_disconnect(connection_);
        connection_ = nullptr;
        owns_ = false;
    }

private:
    bool start() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
            return false;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        clipboard_ = atom("CLIPBOARD");
        utf8_ = atom("UTF8_STRING");
        targets_ = atom("TARGETS");
        textAtom_ = atom("TEXT");
        stop_ = atom("BYTONE_STOP");
        server_ = std::thread([this] { serve(); });
        return true;
    }
    xcb_atom_t atom(const char* name) { return internAtom(connection_, name); }
    void serve() {
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
            const uint8_t type = event->response_type & 0x7F;
            bool stopping = false;
            if (type == XCB_SELECTION_REQUEST)
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
            else if (type == XCB_SELECTION_CLEAR)
                owns_ = false;
            else if (type == XCB_CLIENT_MESSAGE)
                stopping = reinterpret_cast<xcb_client_message_event_t*>(event)->type == stop_;
            std::free(event);
            if (stopping) return;
        }
    }
    void answer(const xcb_selection_request_event_t& request) {
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        // Clients of the old conventions name no property: the target serves as one.
        notify.property = request.property == XCB_NONE ? request.target : request.property;
        const std::string text = this->text();
        if (request.selection != clipboard_ || !owns_) {
            notify.property = XCB_NONE;
        } else if (request.target == targets_) {
            const xcb_atom_t offered[] = {targets_, utf8_, XCB_ATOM_STRING, textAtom_};
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, notify.property, XCB_ATOM_ATOM,
                                32, 4, offered);
        } else if (request.target == utf8_ || request.target == XCB_ATOM_STRING || request.target == textAtom_) {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, notify.property,
                                request.target == textAtom_ ? static_cast<xcb_atom_t>(XCB_ATOM_STRING) : request.target,
                                8, static_cast<uint32_t>(text.size()), text.data());
        } else {
            notify.property = XCB_NONE;
        }
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t clipboard_ = XCB_NONE, utf8_ = XCB_NONE, targets_ = XCB_NONE, textAtom_ = XCB_NONE, stop_ = XCB_NONE;
    std::thread server_;
    std::mutex lock_;
    std::string text_;
    std::atomic<bool> owns_{false};
};

class X11Platform : public EditorPlatform {
public:
    ~X11Platform() override { close(); }

    void attach(GUI& gui) override { gui_ = &gui; }

    bool open(void* parent, GUI& gui) override {
        gui_ = &gui;
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) return failOpen();
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        if (!screen_ || screen_->root_depth != 24 || !hasImageFormat()) return failOpen();
        window_ = xcb_generate_id(connection_);
        const uint32_t values[] = {0,
                                   XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                       XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                       XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_FOCUS_CHANGE |
                                       XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                                   screen_->default_colormap};
        const auto parentWindow = static_cast<xcb_window_t>(reinterpret_cast<uintptr_t>(parent));
        parent_ = parentWindow;
        xcb_void_cookie_t made =
            xcb_create_window_checked(connection_, screen_->root_depth, window_, parentWindow, 0, 0, kWidth, kHeight, 0,
                                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                                      XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP, values);
        if (xcb_generic_error_t* error = xcb_request_check(connection_, made)) {
            std::free(error);
            window_ = 0;
            return failOpen();
        }
        gc_ = xcb_generate_id(connection_);
        xcb_create_gc(connection_, gc_, window_, 0, nullptr);
        xcb_map_window(connection_, window_);
        clipboard_ = atom("CLIPBOARD");
        utf8_ = atom("UTF8_STRING");
        pasteProperty_ = atom("BYTONE_PASTE");
        keyboard_.open(connection_);
        maxRequestBytes_ = xcb_get_maximum_request_length(connection_) * 4;
        for (int c = 0; c < kControlCount; ++c) texts_[c] = layoutOf(static_cast<Control>(c)).text;
        texts_[HelpLabel] = kHelpText;
        box_.setText(texts_[FormulaEdit]);
        surfaces_ = std::make_unique<Surfaces>();
        dirty_ = true;
        origin_ = origin();
        xcb_flush(connection_);
        return true;
    }

    void close() override {
        if (!connection_) return;
        clipboardOwner_.stop();
        keyboard_.close();
        if (window_ && !windowGone_) xcb_destroy_window(connection_, window_);
        xcb_disconnect(connection_);  // the server frees what this connection made
        connection_ = nullptr;
        window_ = 0;
        windowGone_ = focused_ = selecting_ = false;
        for (xcb_generic_event_t* event : deferred_) std::free(event);
        deferred_.clear();
        surfaces_.reset();
    }

    int connectionFd() const override { return connection_ ? xcb_get_file_descriptor(connection_) : -1; }
    uintptr_t window() const override { return window_; }

    std::string text(Control c) override { return c == FormulaEdit ? box_.text() : texts_[c]; }
    void setText(Control c, const std::string& text) override {
        if (c == FormulaEdit)
            box_.setText(text);
        else
            texts_[c] = text;
        dirty_ = true;
    }
    void invalidate(Control) override { dirty_ = true; }
    Rect screenRect(Control c) override {
        const Rect r = layoutOf(c).rect;
        return {origin_.x + r.left, origin_.y + r.top, origin_.x + r.right, origin_.y + r.bottom};
    }
    void captureMouse() override {
        std::free(xcb_grab_pointer_reply(
            connection_,
            xcb_grab_pointer(
                connection_, 0, window_,
                XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION,
                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
            nullptr));
    }
    void releaseMouse() override {
        xcb_ungrab_pointer(connection_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
    }
    Canvas& scopeCanvas() override {
        surfaces_->scopeCairo.touched();
        return surfaces_->scopeCanvas;
    }

    bool copyToClipboard(const std::string& text) override { return clipboardOwner_.take(text); }

    std::optional<std::string> pasteFromClipboard() override {
        if (clipboardOwner_.owns()) return clipboardOwner_.text();
        for (xcb_atom_t target : {utf8_, static_cast<xcb_atom_t>(XCB_ATOM_STRING)})
            if (std::optional<std::string> text = requestSelection(target)) return text;
        return std::nullopt;
    }

    void handleEvents() override {
        if (!connection_) return;
        origin_ = origin();  // the host may have moved its window since
        while (!deferred_.empty()) {
            xcb_generic_event_t* event = deferred_.front();
            deferred_.pop_front();
            handle(event);
            std::free(event);
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            handle(event);
            std::free(event);
        }
    }

    void present() override {
        if (!connection_ || windowGone_) return;
        if (focused_ && caretOn() != caretDrawn_) dirty_ = true;  // the caret blinks
        if (!dirty_) return;
        dirty_ = false;
        paint();
        // In strips of rows that fit one request.
        const size_t rowBytes = static_cast<size_t>(kWidth) * 4;
        const int rowsPerRequest = static_cast<int>(std::max<size_t>(1, (maxRequestBytes_ - 64) / rowBytes));
        for (int y = 0; y < kHeight; y += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, kHeight - y);
            xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, kWidth, static_cast<uint16_t>(rows), 0,
                          static_cast<int16_t>(y), 0, 24, static_cast<uint32_t>(rows * rowBytes),
                          reinterpret_cast<const uint8_t*>(&surfaces_->window.pixels[static_cast<size_t>(y) * kWidth]));
        }
        xcb_flush(connection_);
    }

private:
    bool failOpen() {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        return false;
    }

    // 32 bits a pixel for depth 24, in the machine's byte order: the image as it stands.
    bool hasImageFormat() const {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
        for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
            if (it.data->depth == 24) return it.data->bits_per_pixel == 32;
        return false;
    }

    xcb_atom_t atom(const char* name) { return internAtom(connection_, name); }

    Point origin() {
        xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window_, screen_->root, 0, 0), nullptr);
        const Point o = reply ? Point{reply->dst_x, reply->dst_y} : Point{0, 0};
        std::free(reply);
        return o;
    }

    void handle(xcb_generic_event_t* event) {
        if (keyboard_.handle(event)) return;
        switch (event->response_type & 0x7F) {
            case 0: break;  // an error answer: a request on a window that went away
            case XCB_EXPOSE: dirty_ = true; break;
            case XCB_DESTROY_NOTIFY:
                if (reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window_) windowGone_ = true;
                break;
            case XCB_FOCUS_IN:
                // The pointer passing over the editor while the keyboard follows the pointer
                // gives it no focus of its own: keys then go on to the host.
                if (reinterpret_cast<xcb_focus_in_event_t*>(event)->detail != XCB_NOTIFY_DETAIL_POINTER)
                    focused_ = true, dirty_ = true;
                break;
            case XCB_FOCUS_OUT: focused_ = false, dirty_ = true; break;
            case XCB_BUTTON_PRESS: buttonPress(*reinterpret_cast<xcb_button_press_event_t*>(event)); break;
            case XCB_BUTTON_RELEASE:
                if (reinterpret_cast<xcb_button_release_event_t*>(event)->detail == 1) {
                    selecting_ = false;
                    gui_->leftButtonUp();
                }
                break;
            case XCB_MOTION_NOTIFY: {
                const auto& motion = *reinterpret_cast<xcb_motion_notify_event_t*>(event);
                if (selecting_) {
                    box_.move(boxIndexAt(motion.event_x, motion.event_y), true);
                    dirty_ = true;
                }
                gui_->mouseMove({motion.root_x, motion.root_y});
                break;
            }
            case XCB_KEY_PRESS: keyPress(*reinterpret_cast<xcb_key_press_event_t*>(event)); break;
            default: break;
        }
    }

    void buttonPress(const xcb_button_press_event_t& press) {
        const Point screen{press.root_x, press.root_y};
        if (press.detail == 4 || press.detail == 5) {
            gui_->wheel(screen, press.detail == 4 ? 120 : -120);
            return;
        }
        const Control over = controlAt(press.event_x, press.event_y);
        if (over == FormulaEdit) {
            if (press.detail != 1) return;
            xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
            focused_ = true;
            const size_t index = boxIndexAt(press.event_x, press.event_y);
            // A second press soon at the same place selects the word there.
            const bool twice = press.time - lastPress_.time < kDoubleClickMs &&
                               std::abs(press.event_x - lastPress_.x) < 4 && std::abs(press.event_y - lastPress_.y) < 4;
            lastPress_ = {press.time, press.event_x, press.event_y};
            if (twice) {
                box_.selectWordAt(index);
                lastPress_.time -= kDoubleClickMs;  // a third press starts anew
            } else {
                box_.move(index, (press.state & XCB_MOD_MASK_SHIFT) != 0);
                selecting_ = true;
            }
            caretShown();
            return;
        }
        if (over != kControlCount && layoutOf(over).kind == ControlKind::Clickable) {
            if (press.detail == 1) gui_->buttonClicked(layoutOf(over).commandId);
            return;
        }
        if (press.detail == 1) gui_->leftButtonDown(screen);
        if (press.detail == 3) gui_->rightButtonDown(screen);
    }

    static Control controlAt(int x, int y) {
        for (Control c : {FormulaEdit, CopyButton, PasteButton, LerpButton, ClampButton})
            if (layoutOf(c).rect.contains(x, y)) return c;
        return kControlCount;
    }

    // A key the editor has no use for goes on to the host's window, as if the editor were
    // not there: the host's shortcuts (Ctrl+S, the space bar) keep working over it.
    void passToHost(xcb_key_press_event_t key) {
        key.event = parent_;
        key.child = XCB_NONE;
        xcb_send_event(connection_, 1, parent_, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char*>(&key));
        xcb_flush(connection_);
    }

    void keyPress(const xcb_key_press_event_t& key) {
        if (!focused_ || (key.state & XCB_MOD_MASK_1)) return passToHost(key);  // Alt: the host's menus
        const bool shift = key.state & XCB_MOD_MASK_SHIFT, control = key.state & XCB_MOD_MASK_CONTROL;
        bool edited = false;
        if (control) {
            const uint32_t sym = keyboard_.shortcut(key.detail);
            switch (sym < 0x80 ? std::tolower(static_cast<int>(sym)) : 0) {
                case 'a': box_.selectAll(); break;
                case 'c':
                    if (box_.hasSelection()) copyToClipboard(box_.selection());
                    break;
                case 'x':
                    if (box_.hasSelection() && copyToClipboard(box_.selection())) edited = box_.erase(false);
                    break;
                case 'v':
                    if (std::optional<std::string> pasted = pasteFromClipboard()) edited = box_.insert(*pasted);
                    break;
                case 'z': edited = box_.undo(); break;
                default: return passToHost(key);
            }
            caretShown();
            if (edited) gui_->formulaEdited();
            return;
        }
        const X11Keyboard::Key typed = keyboard_.press(key.detail);
        if (typed.keysym == 0 && typed.text.empty()) return;  // a dead key, waiting for the next
        const std::vector<Line> lines = layoutLines();
        const size_t line = lineOf(lines, box_.caret());
        switch (mainKeyOf(typed.keysym)) {
            case kBackSpace: edited = box_.erase(false); break;
            case kDelete: edited = box_.erase(true); break;
            case kLeft: box_.move(box_.step(box_.caret(), -1), shift); break;
            case kRight: box_.move(box_.step(box_.caret(), +1), shift); break;
            case kHome: box_.move(lines[line].begin, shift); break;
            case kEnd: box_.move(lines[line].end, shift); break;
            case kUp:
            case kDown: {
                const size_t to = mainKeyOf(typed.keysym) == kUp ? (line > 0 ? line - 1 : line)
                                                                 : std::min(line + 1, lines.size() - 1);
                box_.move(indexInLine(lines[to], xInLine(lines[line], box_.caret())), shift);
                break;
            }
            case kReturn: edited = box_.insert("\r\n"); break;
            default: {
                // Tab, Escape, function keys and modifiers type nothing here.
                const auto first = typed.text.empty() ? 0 : static_cast<unsigned char>(typed.text[0]);
                if (first < 32 || first == 127) return passToHost(key);
                edited = box_.insert(typed.text);
                break;
            }
        }
        caretShown();
        if (edited) gui_->formulaEdited();
    }

    // Input shows the caret at once and restarts its blinking.
    void caretShown() {
        dirty_ = true;
        blinkStart_ = std::chrono::steady_clock::now();
    }
    bool caretOn() const {
        const auto since =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - blinkStart_);
        return (since.count() / kBlinkMs) % 2 == 0;
    }

    // The text of another client's clipboard, converted to `target`; nothing if it has
    // none or does not answer within half a second.
    std::optional<std::string> requestSelection(xcb_atom_t target) {
        xcb_convert_selection(connection_, window_, clipboard_, target, pasteProperty_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPasteWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection_);
            if (!event) {
                if (xcb_connection_has_error(connection_)) return std::nullopt;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if ((event->response_type & 0x7F) != XCB_SELECTION_NOTIFY) {
                deferred_.push_back(event);  // handled after this paste, never inside it
                continue;
            }
            const auto notify = *reinterpret_cast<xcb_selection_notify_event_t*>(event);
            std::free(event);
            if (notify.property == XCB_NONE) return std::nullopt;
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                connection_,
                xcb_get_property(connection_, 1, window_, pasteProperty_, XCB_GET_PROPERTY_TYPE_ANY, 0, 16384),
                nullptr);
            std::optional<std::string> text;
            if (reply && reply->format == 8 && (reply->type == utf8_ || reply->type == XCB_ATOM_STRING))
                text = std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                                   static_cast<size_t>(xcb_get_property_value_length(reply)));
            std::free(reply);
            return text;
        }
        return std::nullopt;
    }

    // --- the formula box ------------------------------------------------------------

    Rect boxInner() const {
        const Rect r = layoutOf(FormulaEdit).rect;
        return {r.left + 1 + kBoxMargin, r.top + 1, r.right - 1 - kBoxMargin, r.bottom - 1};
    }
    double lineHeight() {
        selectFont(surfaces_->windowCairo.cr, Font::Edit);
        cairo_font_extents_t font;
        cairo_font_extents(surfaces_->windowCairo.cr, &font);
        return std::ceil(font.height);
    }

    // Lines as the box wraps them.
    std::vector<Line> layoutLines() {
        selectFont(surfaces_->windowCairo.cr, Font::Edit);
        return wrapLines(surfaces_->windowCairo.cr, box_.text(), boxInner().width());
    }
    static size_t lineOf(const std::vector<Line>& lines, size_t index) {
        for (size_t i = lines.size(); i-- > 0;)
            if (index >= lines[i].begin) return i;
        return 0;
    }
    double xInLine(const Line& line, size_t index) {
        selectFont(surfaces_->windowCairo.cr, Font::Edit);
        return textWidth(surfaces_->windowCairo.cr,
                         box_.text().substr(line.begin, std::min(index, line.end) - line.begin));
    }
    size_t indexInLine(const Line& line, double x) {
        size_t best = line.begin;
        for (size_t i = line.begin; i <= line.end; ++i) {
            if (xInLine(line, i) - 0.5 > x) break;
            best = i;
            const double next = i < line.end ? xInLine(line, i + 1) : 1e9;
            if ((xInLine(line, i) + next) / 2 > x) break;
        }
        return best;
    }
    size_t boxIndexAt(int x, int y) {
        const std::vector<Line> lines = layoutLines();
        const Rect inner = boxInner();
        const int row = static_cast<int>((y - inner.top) / lineHeight()) + box_.firstLine;
        const Line& line = lines[static_cast<size_t>(std::clamp(row, 0, static_cast<int>(lines.size()) - 1))];
        return indexInLine(line, x - inner.left);
    }

    void paintBox() {
        const Rect r = layoutOf(FormulaEdit).rect;
        PixelCanvas frame(surfaces_->window, r.left, r.top, r.width(), r.height());
        frame.setBrushColor(SysColor::Window);
        frame.setPenColor(SysColor::WindowText);
        frame.roundRect(0, 0, r.width(), r.height(), 0, 0);

        const std::vector<Line> lines = layoutLines();
        const double height = lineHeight();
        const Rect inner = boxInner();
        const int visible = std::max(1, static_cast<int>(inner.height() / height));
        // The caret's line stays in view.
        const int caretLine = static_cast<int>(lineOf(lines, box_.caret()));
        box_.firstLine = std::clamp(box_.firstLine, caretLine - visible + 1, caretLine);

        cairo_t* cr = surfaces_->windowCairo.cr;
        surfaces_->windowCairo.touched();
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
            const double top = inner.top + (i - box_.firstLine) * height;
            const size_t a = std::clamp(from, line.begin, line.end), b = std::clamp(to, line.begin, line.end);
            const double xa = xInLine(line, a), xb = xInLine(line, b);
            const std::string& text = box_.text();
            // Before, inside and after the selection.
            struct Part {
                size_t begin, end;
                double x;
                bool selected;
            };
            for (const Part& part :
                 {Part{line.begin, a, 0.0, false}, Part{a, b, xa, true}, Part{b, line.end, xb, false}}) {
                if (part.end <= part.begin) continue;
                const std::string piece = text.substr(part.begin, part.end - part.begin);
                if (part.selected) {
                    setColor(cr, kHighlight);
                    cairo_rectangle(cr, inner.left + part.x, top, textWidth(cr, piece), height);
                    cairo_fill(cr);
                }
                setColor(cr, part.selected ? defaultColor(SysColor::Window) : defaultColor(SysColor::WindowText));
                cairo_move_to(cr, inner.left + part.x, top + font.ascent);
                cairo_show_text(cr, piece.c_str());
            }
            if (focused_ && caretDrawn_ && !box_.hasSelection() && i == caretLine) {
                setColor(cr, defaultColor(SysColor::WindowText));
                cairo_rectangle(cr, std::floor(inner.left + xInLine(line, box_.caret())), top, 1, height);
                cairo_fill(cr);
            }
        }
        cairo_restore(cr);
        surfaces_->windowCairo.drawn();
    }

    void paintText(Control c) {
        const ControlLayout& layout = layoutOf(c);
        const Rect r = layout.rect;
        cairo_t* cr = surfaces_->windowCairo.cr;
        surfaces_->windowCairo.touched();
        cairo_save(cr);
        cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
        cairo_clip(cr);
        selectFont(cr, layout.font);
        cairo_font_extents_t font;
        cairo_font_extents(cr, &font);
        setColor(cr, defaultColor(SysColor::WindowText));
        // Wrapped at word boundaries within the label, as a static text wraps.
        const std::string shown = withoutPrefixes(texts_[c]);
        double top = r.top;
        for (const Line& line : wrapLines(cr, shown, r.width())) {
            cairo_move_to(cr, r.left, top + font.ascent);
            cairo_show_text(cr, shown.substr(line.begin, line.end - line.begin).c_str());
            top += font.height;
        }
        cairo_restore(cr);
        surfaces_->windowCairo.drawn();
    }

    void paint() {
        std::fill(surfaces_->window.pixels.begin(), surfaces_->window.pixels.end(), defaultColor(SysColor::ButtonFace));
        for (int i = 0; i < kControlCount; ++i) {
            const auto c = static_cast<Control>(i);
            const ControlLayout& layout = layoutOf(c);
            const Rect r = layout.rect;
            const int w = std::min(r.right, kWidth) - r.left, h = std::min(r.bottom, kHeight) - r.top;
            switch (layout.kind) {
                case ControlKind::Edit: paintBox(); break;
                case ControlKind::Text: paintText(c); break;
                case ControlKind::OwnerDrawn:
                case ControlKind::Clickable:
                    if (c == ScopeView) {
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < w; ++x)
                                surfaces_->window.at(r.left + x, r.top + y) = surfaces_->scope.at(x, y);
                    } else {
                        FontCanvas canvas(surfaces_->window, surfaces_->windowCairo, Font::Label, r.left, r.top, w, h);
                        gui_->drawControl(c, canvas, r.width(), r.height());
                    }
                    break;
            }
        }
    }

    GUI* gui_ = nullptr;
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_gcontext_t gc_ = 0;
    bool windowGone_ = false;
    Point origin_{0, 0};  // of the window on the screen
    bool dirty_ = false;
    bool focused_ = false;
    xcb_window_t parent_ = 0;  // the host's window
    bool selecting_ = false;
    bool caretDrawn_ = false;
    std::chrono::steady_clock::time_point blinkStart_;
    struct Press {
        xcb_timestamp_t time;
        int x, y;
    };
    Press lastPress_{0, -100, -100};
    uint32_t maxRequestBytes_ = 0;
    xcb_atom_t clipboard_ = XCB_NONE, utf8_ = XCB_NONE, pasteProperty_ = XCB_NONE;
    ClipboardOwner clipboardOwner_;
    std::deque<xcb_generic_event_t*> deferred_;
    X11Keyboard keyboard_;

    std::array<std::string, kControlCount> texts_;
    TextBox box_;
    // What the window is drawn into, while it is open.
    struct Surfaces {
        Image window{kWidth, kHeight};
        Image scope{kScopeWidth, kScopeHeight};
        CairoImage windowCairo{window};
        CairoImage scopeCairo{scope};
        FontCanvas scopeCanvas{scope, scopeCairo, Font::Label, 0, 0, kScopeWidth, kScopeHeight};
    };
    std::unique_ptr<Surfaces> surfaces_;
};

}  // namespace

}  // namespace editor

std::unique_ptr<editor::EditorView> createEditor(engine::Instrument& instrument) {
    return std::make_unique<editor::GUI>(instrument, std::make_unique<editor::X11Platform>());
}
