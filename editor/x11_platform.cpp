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

#include "cairo_text.h"
#include "create_editor.h"
#include "gui.h"
#include "pixel_canvas.h"
#include "text_box.h"
#include "x11_clipboard.h"
#include "x11_keyboard.h"

namespace editor {

namespace {

constexpr uint32_t kHighlight = 0x0078D7;  // the selection, as a default Windows theme has it
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

class X11Platform : public EditorPlatform {
public:
    ~X11Platform() override { close(); }

    void attach(GUI& gui) override { gui_ = &gui; }

    // Read from the display when first asked, and again at every open.
    int scale() override {
        if (scale_ == 0) {
            xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
            scale_ = xcb_connection_has_error(connection) ? 1 : scaleOf(connection);
            xcb_disconnect(connection);
        }
        return scale_;
    }

    bool open(void* parent, GUI& gui) override {
        gui_ = &gui;
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) return failOpen();
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        if (!screen_ || screen_->root_depth != 24 || !hasImageFormat()) return failOpen();
        scale_ = scaleOf(connection_);
        const auto parentWindow = static_cast<xcb_window_t>(reinterpret_cast<uintptr_t>(parent));
        parent_ = parentWindow;
        topLevel_ = 0;
        const Size size = sizeIn(parentSize());
        window_ = xcb_generate_id(connection_);
        // Whatever of the window the editor does not draw (a host's parent larger than the
        // editor) the server fills with the button face, as Windows fills it with the class brush.
        const uint32_t values[] = {defaultColor(SysColor::ButtonFace), 0,
                                   XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                       XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                       XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_FOCUS_CHANGE |
                                       XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                                   screen_->default_colormap};
        xcb_void_cookie_t made = xcb_create_window_checked(
            connection_, screen_->root_depth, window_, parentWindow, 0, 0, size.width, size.height, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP, values);
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
        surfaces_ = std::make_unique<Surfaces>(scale_);
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
        const Image& image = surfaces_->window;
        const size_t rowBytes = static_cast<size_t>(image.width) * 4;
        const int rowsPerRequest = static_cast<int>(std::max<size_t>(1, (maxRequestBytes_ - 64) / rowBytes));
        for (int y = 0; y < image.height; y += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, image.height - y);
            xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(image.width),
                          static_cast<uint16_t>(rows), 0, static_cast<int16_t>(y), 0, 24,
                          static_cast<uint32_t>(rows * rowBytes),
                          reinterpret_cast<const uint8_t*>(&image.pixels[static_cast<size_t>(y) * image.width]));
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

    // 2 on a screen set to 192 dots an inch or more (Xft.dpi, the setting toolkits
    // scale by), else 1.
    static int scaleOf(xcb_connection_t* connection) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        if (!screen) return 1;
        // The resources are a few kilobytes; more than 64 KB of them are not read.
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 16384),
            nullptr);
        double dpi = 0;
        if (reply && reply->format == 8) {
            const std::string resources(static_cast<const char*>(xcb_get_property_value(reply)),
                                        static_cast<size_t>(xcb_get_property_value_length(reply)));
            for (size_t at = 0; at < resources.size();) {
                const size_t end = std::min(resources.find('\n', at), resources.size());
                const std::string line = resources.substr(at, end - at);
                if (line.rfind("Xft.dpi:", 0) == 0) dpi = std::strtod(line.c_str() + 8, nullptr);
                at = end + 1;
            }
        }
        std::free(reply);
        return dpi >= 192 ? 2 : 1;
    }

    struct Size {
        uint16_t width, height;
    };
    Size parentSize() {
        xcb_get_geometry_reply_t* reply =
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, parent_), nullptr);
        const Size size = reply ? Size{reply->width, reply->height} : Size{0, 0};
        std::free(reply);
        return size;
    }
    // The window's size in a parent of `parent`: the editor's, or the parent's where larger
    // (a host that scaled the size it was told). Taken once: a host that sizes its window
    // by the editor's would otherwise grow the two without end.
    Size sizeIn(Size parent) const {
        return {static_cast<uint16_t>(std::max<int>(parent.width, kWidth * scale_)),
                static_cast<uint16_t>(std::max<int>(parent.height, kHeight * scale_))};
    }

    // A point of the window in the editor's own units, and a point of the screen in the
    // units the editor compares with its controls' screen rectangles.
    Point local(int x, int y) const { return {floorDiv(x, scale_), floorDiv(y, scale_)}; }
    Point screenPoint(int rootX, int rootY) const {
        return {origin_.x + floorDiv(rootX - origin_.x, scale_), origin_.y + floorDiv(rootY - origin_.y, scale_)};
    }
    static int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

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
                    box_.move(boxIndexAt(local(motion.event_x, motion.event_y)), true);
                    dirty_ = true;
                }
                gui_->mouseMove(screenPoint(motion.root_x, motion.root_y));
                break;
            }
            case XCB_KEY_PRESS: keyPress(*reinterpret_cast<xcb_key_press_event_t*>(event)); break;
            default: break;
        }
    }

    void buttonPress(const xcb_button_press_event_t& press) {
        const Point screen = screenPoint(press.root_x, press.root_y), at = local(press.event_x, press.event_y);
        if (press.detail == 4 || press.detail == 5) {
            gui_->wheel(screen, press.detail == 4 ? 120 : -120);
            return;
        }
        const Control over = controlAt(at.x, at.y);
        if (over == FormulaEdit) {
            if (press.detail != 1) return;
            xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
            focused_ = true;
            const size_t index = boxIndexAt(at);
            // A second press soon at the same place selects the word there.
            const bool twice = press.time - lastPress_.time < kDoubleClickMs && std::abs(at.x - lastPress_.x) < 4 &&
                               std::abs(at.y - lastPress_.y) < 4;
            lastPress_ = {press.time, at.x, at.y};
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

    // A key the editor has no use for goes on to the host's top-level window, as if the
    // editor were not there: the host's shortcuts (Ctrl+S, the space bar) keep working over
    // it. The top level, not the parent: a host may embed the editor in a window of a
    // connection of its own that reads no keys (Ardour does).
    void passToHost(xcb_key_press_event_t key) {
        const xcb_window_t to = hostTopLevel();
        key.event = to;
        key.child = XCB_NONE;
        xcb_send_event(connection_, 1, to, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char*>(&key));
        xcb_flush(connection_);
    }

    // The host's window that the window manager manages (the one with WM_STATE), or without
    // a window manager the one just below the root.
    xcb_window_t hostTopLevel() {
        if (topLevel_) return topLevel_;
        const xcb_atom_t wmState = atom("WM_STATE");
        xcb_window_t window = parent_;
        for (int depth = 0; depth < 32; ++depth) {
            xcb_get_property_reply_t* state = xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                nullptr);
            const bool managed = state && state->type != XCB_NONE;
            std::free(state);
            xcb_query_tree_reply_t* tree =
                xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
            const xcb_window_t up = tree ? tree->parent : XCB_NONE;
            std::free(tree);
            if (managed || up == XCB_NONE || up == screen_->root) break;
            window = up;
        }
        return topLevel_ = window;
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
    size_t boxIndexAt(Point at) {
        const int x = at.x, y = at.y;
        const std::vector<Line> lines = layoutLines();
        const Rect inner = boxInner();
        const int row = static_cast<int>((y - inner.top) / lineHeight()) + box_.firstLine;
        const Line& line = lines[static_cast<size_t>(std::clamp(row, 0, static_cast<int>(lines.size()) - 1))];
        return indexInLine(line, x - inner.left);
    }

    void paintBox() {
        const Rect r = layoutOf(FormulaEdit).rect;
        PixelCanvas frame(surfaces_->window, r.left, r.top, r.width(), r.height(), scale_);
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
                        for (int y = 0; y < h * scale_; ++y)
                            for (int x = 0; x < w * scale_; ++x)
                                surfaces_->window.at(r.left * scale_ + x, r.top * scale_ + y) =
                                    surfaces_->scope.at(x, y);
                    } else {
                        FontCanvas canvas(surfaces_->window, surfaces_->windowCairo, Font::Label, r.left, r.top, w, h,
                                          scale_);
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
    xcb_window_t parent_ = 0;    // the host's window
    xcb_window_t topLevel_ = 0;  // and its top level, found when first needed
    bool selecting_ = false;
    bool caretDrawn_ = false;
    std::chrono::steady_clock::time_point blinkStart_;
    struct Press {
        xcb_timestamp_t time;
        int x, y;
    };
    Press lastPress_{0, -100, -100};
    uint32_t maxRequestBytes_ = 0;
    int scale_ = 0;  // device pixels to the editor's one, 0 until read
    xcb_atom_t clipboard_ = XCB_NONE, utf8_ = XCB_NONE, pasteProperty_ = XCB_NONE;
    ClipboardOwner clipboardOwner_;
    std::deque<xcb_generic_event_t*> deferred_;
    X11Keyboard keyboard_;

    std::array<std::string, kControlCount> texts_;
    TextBox box_;
    // What the window is drawn into, while it is open.
    struct Surfaces {
        explicit Surfaces(int scale)
            : window(kWidth * scale, kHeight * scale),
              scope(kScopeWidth * scale, kScopeHeight * scale),
              windowCairo(window, scale),
              scopeCairo(scope, scale),
              scopeCanvas(scope, scopeCairo, Font::Label, 0, 0, kScopeWidth, kScopeHeight, scale) {}
        Image window;
        Image scope;
        CairoImage windowCairo;
        CairoImage scopeCairo;
        FontCanvas scopeCanvas;
    };
    std::unique_ptr<Surfaces> surfaces_;
};

}  // namespace

}  // namespace editor

std::unique_ptr<editor::EditorView> createEditor(engine::Instrument& instrument) {
    return std::make_unique<editor::GUI>(instrument, std::make_unique<editor::X11Platform>());
}
