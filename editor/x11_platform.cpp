// The editor in a Linux host: one child window of the host's window (an X11 window id),
// on a connection to the X server of the editor's own, read at every idle call. The
// whole window is drawn into a pixel buffer (shapes by the pixel canvas, exactly as the
// headless drawing makes them; text with cairo through fontconfig) and sent to the
// server. The formula box (x11_formula_box.cpp) behaves as a Windows multi-line edit box;
// this file routes input to it and to the editor. XCB reports errors as answers, never through a process-wide handler,
// so a host that destroys its window before closing the editor costs nothing but an error reply.
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
#include "x11_clipboard.h"
#include "x11_formula_box.h"
#include "x11_keyboard.h"

namespace editor {

namespace {

constexpr uint32_t kPasteWaitMs = 500;
class X11Platform : public EditorPlatform, FormulaBox::Clipboard {
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
        surfaces_ = std::make_unique<Surfaces>(scale_, gui.height() / scale_);
        box_.attach(&surfaces_->window, &surfaces_->windowCairo, scale_);
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
        // One round trip: the server has destroyed the window before the host goes on, so
        // that a host that opens the editor again at once finds no window of ours.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        xcb_disconnect(connection_);  // the server frees what this connection made
        connection_ = nullptr;
        window_ = 0;
        windowGone_ = false;
        pressedButton_ = kControlCount;
        for (xcb_generic_event_t* event : deferred_) std::free(event);
        deferred_.clear();
        box_.attach(nullptr, nullptr, 1);
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
        if (box_.blinked()) dirty_ = true;
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
                static_cast<uint16_t>(std::max<int>(parent.height, gui_->height()))};
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
                    box_.setFocused(true), dirty_ = true;
                break;
            case XCB_FOCUS_OUT: box_.setFocused(false), dirty_ = true; break;
            case XCB_BUTTON_PRESS: buttonPress(*reinterpret_cast<xcb_button_press_event_t*>(event)); break;
            case XCB_BUTTON_RELEASE:
                if (reinterpret_cast<xcb_button_release_event_t*>(event)->detail == 1)
                    buttonRelease(*reinterpret_cast<xcb_button_release_event_t*>(event));
                break;
            case XCB_MOTION_NOTIFY: {
                const auto& motion = *reinterpret_cast<xcb_motion_notify_event_t*>(event);
                if (box_.drag(local(motion.event_x, motion.event_y))) dirty_ = true;
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
            box_.press(at, press.time, (press.state & XCB_MOD_MASK_SHIFT) != 0);
            dirty_ = true;
            return;
        }
        // A button acts on the release over it, as a Windows button does.
        if (over != kControlCount && layoutOf(over).kind == ControlKind::Clickable) {
            if (press.detail == 1) pressedButton_ = over;
            return;
        }
        if (press.detail == 1) gui_->leftButtonDown(screen);
        if (press.detail == 3) gui_->rightButtonDown(screen);
    }

    void buttonRelease(const xcb_button_release_event_t& release) {
        box_.release();
        const Point at = local(release.event_x, release.event_y);
        const Control pressed = pressedButton_;
        pressedButton_ = kControlCount;
        // Released elsewhere, a button's press does nothing.
        if (pressed != kControlCount && controlAt(at.x, at.y) == pressed)
            gui_->buttonClicked(layoutOf(pressed).commandId);
        gui_->leftButtonUp();
    }

    // The formula box or a button at a point of the window.
    Control controlAt(int x, int y) const {
        for (int i = 0; i < gui_->controlCount(); ++i) {
            const ControlLayout& layout = layoutOf(static_cast<Control>(i));
            if ((layout.kind == ControlKind::Clickable || layout.kind == ControlKind::Edit) &&
                layout.rect.contains(x, y))
                return static_cast<Control>(i);
        }
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
        if (!box_.focused() || (key.state & XCB_MOD_MASK_1)) return passToHost(key);  // Alt: the host's menus
        FormulaBox::Typed typed;
        if (key.state & XCB_MOD_MASK_CONTROL) {
            typed = box_.shortcut(keyboard_.shortcut(key.detail), *this);
        } else {
            const X11Keyboard::Key pressed = keyboard_.press(key.detail);
            if (pressed.keysym == 0 && pressed.text.empty()) return;  // a dead key, waiting for the next
            typed = box_.type(pressed.keysym, pressed.text, (key.state & XCB_MOD_MASK_SHIFT) != 0);
        }
        if (typed == FormulaBox::Typed::PassOn) return passToHost(key);
        dirty_ = true;
        if (typed == FormulaBox::Typed::Edited) gui_->formulaEdited();
    }

    // The box's clipboard is the window's.
    bool copy(const std::string& text) override { return copyToClipboard(text); }
    std::optional<std::string> paste() override { return pasteFromClipboard(); }

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

    void paintText(Control c) {
        const ControlLayout& layout = layoutOf(c);
        const Rect r = layout.rect;
        cairo_t* cr = surfaces_->windowCairo.cr;
        surfaces_->windowCairo.touched();
        cairo_save(cr);
        cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
        cairo_clip(cr);
        // Wrapped at word boundaries within the label, as a static text wraps; the help's
        // six lines each fit whole, clear of the label's last columns, which the drum key's
        // label overlaps.
        const std::string shown = withoutPrefixes(texts_[c]);
        selectFont(cr, layout.font);
        if (c == HelpLabel) fitLines(cr, layout.font, shown, r.width() - 4);
        cairo_font_extents_t font;
        cairo_font_extents(cr, &font);
        setColor(cr, defaultColor(SysColor::WindowText));
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
        for (int i = 0; i < gui_->controlCount(); ++i) {
            const auto c = static_cast<Control>(i);
            const ControlLayout& layout = layoutOf(c);
            const Rect r = layout.rect;
            const int w = std::min(r.right, kWidth) - r.left, h = std::min(r.bottom, gui_->height() / scale_) - r.top;
            switch (layout.kind) {
                case ControlKind::Edit: box_.paint(); break;
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
    Control pressedButton_ = kControlCount;  // a button the left button went down on
    xcb_window_t parent_ = 0;                // the host's window
    xcb_window_t topLevel_ = 0;              // and its top level, found when first needed
    uint32_t maxRequestBytes_ = 0;
    int scale_ = 0;  // device pixels to the editor's one, 0 until read
    xcb_atom_t clipboard_ = XCB_NONE, utf8_ = XCB_NONE, pasteProperty_ = XCB_NONE;
    ClipboardOwner clipboardOwner_;
    std::deque<xcb_generic_event_t*> deferred_;
    X11Keyboard keyboard_;

    std::array<std::string, kControlCount> texts_;
    FormulaBox box_;
    // What the window is drawn into, while it is open.
    struct Surfaces {
        Surfaces(int scale, int height)
            : window(kWidth * scale, height * scale),
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
