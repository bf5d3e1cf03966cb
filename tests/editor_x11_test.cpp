// The editor as a Linux host shows it: bytone.so opens its window inside a window of
// this test on the X server (Xvfb in make test), and everything is driven with real
// input through XTest and read back through the state chunk and the window's pixels,
// which are compared with what the headless backend draws for the same state.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/view.h>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "editor_host.h"
#include "plugin_loader.h"
#include "png_file.h"

// Last: Xlib's macros (None, Status, Bool) would break the headers above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace editor;

int openFiles() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

// The screen's density as toolkits read it: Xft.dpi among the server's resources.
void setScreenDpi(Display* display, int dpi) {
    const Atom resources = XInternAtom(display, "RESOURCE_MANAGER", False);
    const std::string text = "Xft.antialias:\t1\nXft.dpi:\t" + std::to_string(dpi) + "\n";
    XChangeProperty(display, DefaultRootWindow(display), resources, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    XSync(display, False);
}

class EditorX11Test : public ::testing::Test {
protected:
    // The plug-in stays loaded, as hosts keep plug-ins with windows: unloading it would
    // unload cairo and fontconfig too, whose caches (reachable while they are loaded)
    // the leak checker would then report. The connection stays open for every suite:
    // a server that loses its last client resets, and may refuse the next one meanwhile.
    static void SetUpTestSuite() {
        if (!library) library = new PluginLibrary(BYTONE_PLUGIN_PATH);
        if (!display) display = XOpenDisplay(nullptr);
    }

    void SetUp() override {
        if (!display) GTEST_SKIP() << "no X server to open windows on (DISPLAY)";
        ASSERT_TRUE(library->loaded()) << library->error();
        effect = newInstance();
        parent = makeParent(40);
    }
    void TearDown() override {
        if (effect) effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        if (display && parent) XDestroyWindow(display, parent);
        if (display && scale != 1) setScreenDpi(display, 96);
        if (display) XSync(display, False);
    }

    static AEffect* newInstance() {
        AEffect* e = library->entry("VSTPluginMain")(editorHostCallback);
        EXPECT_NE(e, nullptr);
        return e;
    }
    static Window makeParent(int x) {
        Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), x, 40, 640, 400, 0, 0, 0xFFFFFF);
        XMapWindow(display, window);
        XSync(display, False);
        return window;
    }

    VstIntPtr dispatch(VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr, AEffect* e = nullptr) {
        e = e ? e : effect;
        return e->dispatcher(e, opcode, 0, value, ptr, 0.0f);
    }
    // The editor's window: the one child of `of`.
    static Window childOf(Window of) {
        Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display, of, &root, &up, &children, &count);
        const Window child = count == 1 ? children[0] : 0;
        if (children) XFree(children);
        return child;
    }
    void openEditor() {
        ASSERT_EQ(dispatch(effEditOpen, 0, reinterpret_cast<void*>(parent)), 1);
        editorWindow = childOf(parent);
        ASSERT_NE(editorWindow, 0u);
        idle();
    }
    // The host's idle calls, with time for the server to pass the input on in between.
    void idle(AEffect* e = nullptr) {
        XSync(display, False);
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (tick)
                tick();
            else
                dispatch(effEditIdle, 0, nullptr, e);
        }
        XSync(display, False);
    }
    ChunkView chunk(AEffect* e = nullptr) {
        void* data = nullptr;
        const VstIntPtr size = dispatch(effGetChunk, 0, &data, e);
        const float* floats = static_cast<const float*>(data);
        return {std::vector<float>(floats, floats + size / 4)};
    }

    // A point of a control (its centre, moved by dx) on the screen.
    XPoint on(Control c, int dx = 0, Window window = 0) {
        const Rect& r = layoutOf(c).rect;
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(display, window ? window : editorWindow, DefaultRootWindow(display),
                              ((r.left + r.right) / 2 + dx) * scale, (r.top + r.bottom) / 2 * scale, &x, &y, &child);
        return {static_cast<short>(x), static_cast<short>(y)};
    }
    void moveTo(XPoint p) { XTestFakeMotionEvent(display, -1, p.x, p.y, 0); }
    void button(unsigned b, bool down) { XTestFakeButtonEvent(display, b, down, 0); }
    void click(Control c, unsigned b = 1, Window window = 0, AEffect* e = nullptr) {
        moveTo(on(c, 0, window));
        button(b, true);
        button(b, false);
        idle(e);
    }
    void drag(Control c, int dx) {
        moveTo(on(c));
        button(1, true);
        idle();
        moveTo(on(c, dx));
        idle();
        button(1, false);
        idle();
    }
    void wheel(Control c, int notches) {
        moveTo(on(c));
        for (int i = 0; i < std::abs(notches); ++i) {
            button(notches > 0 ? 4 : 5, true);
            button(notches > 0 ? 4 : 5, false);
        }
        idle();
    }
    void key(KeySym sym, bool shift = false, bool control = false) {
        const KeyCode code = XKeysymToKeycode(display, sym);
        const KeyCode shiftKey = XKeysymToKeycode(display, XK_Shift_L),
                      controlKey = XKeysymToKeycode(display, XK_Control_L);
        if (shift) XTestFakeKeyEvent(display, shiftKey, True, 0);
        if (control) XTestFakeKeyEvent(display, controlKey, True, 0);
        XTestFakeKeyEvent(display, code, True, 0);
        XTestFakeKeyEvent(display, code, False, 0);
        if (control) XTestFakeKeyEvent(display, controlKey, False, 0);
        if (shift) XTestFakeKeyEvent(display, shiftKey, False, 0);
    }
    void type(const std::string& text) {
        for (char c : text) {
            const auto sym = static_cast<KeySym>(static_cast<unsigned char>(c));
            const KeyCode code = XKeysymToKeycode(display, sym);
            // Shifted when the key's plain symbol is another one ('&' on the 7, 'P' on 'p').
            key(sym, XkbKeycodeToKeysym(display, code, 0, 0) != sym);
        }
        idle();
    }
    void doubleClickTheFirstWord() {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // after the last press: no triple click
        const Rect& r = layoutOf(FormulaEdit).rect;
        moveTo(on(FormulaEdit, (r.left - r.right) / 2 + 4));
        for (int i = 0; i < 2; ++i) button(1, true), button(1, false);
        idle();
    }
    // A drag across the whole first line of the formula box.
    void selectWithTheMouse() {
        const Rect& r = layoutOf(FormulaEdit).rect;
        moveTo(on(FormulaEdit, (r.left - r.right) / 2 + 3));
        button(1, true);
        idle();
        moveTo(on(FormulaEdit, (r.right - r.left) / 2 - 3));
        idle();
        button(1, false);
        idle();
    }
    // What the plug-in holds outside itself: connections to the X server, open files.
    struct Resources {
        int clients, files;
    };
    static Resources resources() {
        XSync(display, False);
        int clients = 0;
        XResClient* list = nullptr;
        XResQueryClients(display, &clients, &list);
        XFree(list);
        return {clients, openFiles()};
    }
    std::vector<uint32_t> pixels(int width = kWidth, int height = kHeight) {
        XImage* image = XGetImage(display, editorWindow, 0, 0, width, height, AllPlanes, ZPixmap);
        std::vector<uint32_t> rgb(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) rgb[static_cast<size_t>(y) * width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
        XDestroyImage(image);
        return rgb;
    }

    static inline PluginLibrary* library = nullptr;
    static inline Display* display = nullptr;
    AEffect* effect = nullptr;
    Window parent = 0;
    Window editorWindow = 0;
    int scale = 1;               // of the editor's drawing on the screen
    std::function<void()> tick;  // the host's periodic call, when not effEditIdle
};

// At the usual density and at twice it (where the host is told of a rectangle twice the
// size and everything is drawn at twice the size, text at the screen's own resolution),
// inside a parent larger than the editor, whose rest the editor's window fills.
TEST_F(EditorX11Test, TheWindowShowsWhatTheHeadlessDrawingShows) {
    EXPECT_EQ(effect->flags & effFlagsHasEditor, effFlagsHasEditor);
    // The same state, drawn headless.
    auto synth = std::make_unique<engine::Instrument>();
    synth->setSetting(engine::Setting::ScopeZoom, 1);
    synth->setSetting(engine::Setting::Gain, 50);
    GUI gui(*synth, std::make_unique<HeadlessPlatform>());
    auto& headless = static_cast<HeadlessPlatform&>(gui.platform());
    ASSERT_TRUE(gui.open(nullptr));
    gui.tick();
    headless.paint();

    for (const int dpi : {96, 192}) {
        scale = dpi / 96;
        setScreenDpi(display, dpi);
        dispatch(effClose);
        effect = newInstance();
        ERect* rect = nullptr;
        ASSERT_EQ(dispatch(effEditGetRect, 0, &rect), 1);
        EXPECT_EQ(rect->right - rect->left, kWidth * scale) << dpi;
        EXPECT_EQ(rect->bottom - rect->top, kHeight * scale) << dpi;
        // A host's window larger than the editor (a host that scaled the size it was told):
        // the editor's window fills it.
        const int width = kWidth * scale, height = kHeight * scale;
        XResizeWindow(display, parent, width + 40, height + 40);
        XSync(display, False);
        openEditor();
        XWindowAttributes attributes;
        XGetWindowAttributes(display, editorWindow, &attributes);
        EXPECT_EQ(attributes.x, 0);
        EXPECT_EQ(attributes.y, 0);
        EXPECT_EQ(attributes.width, width + 40) << dpi;
        EXPECT_EQ(attributes.height, height + 40) << dpi;
        click(ScopeView);  // zoom step 1 and a bar that is not the default
        drag(GainLabel, -100);
        const std::vector<uint32_t> shown = pixels(width, height);
        const auto at = [&](int x, int y) { return shown[static_cast<size_t>(y) * width + x]; };
        writePng(std::string(BYTONE_TEST_OUTPUT) + (dpi == 96 ? "/editor-x11.png" : "/editor-x11-2x.png"), width,
                 height, shown);

        // The frames and bars of every owner-drawn control, on the rows below their texts.
        int different = 0;
        for (Control c : {GainLabel, PortaLabel, PolyLabel, TimeLabel, CopyButton, PasteButton, LerpButton, ClampButton,
                          DrumLabel}) {
            const Rect r = layoutOf(c).rect;
            for (int y = (r.bottom - 4) * scale; y < r.bottom * scale; ++y)
                for (int x = r.left * scale; x < r.right * scale; ++x)
                    different += at(x, y) != headless.window.at(x / scale, y / scale);
        }
        // The scope, column by column, away from its zoom label.
        const Rect scope = layoutOf(ScopeView).rect;
        for (int y = scope.top * scale; y < scope.bottom * scale; ++y)
            for (int x = (scope.left + 40) * scale; x < scope.right * scale; ++x)
                different += at(x, y) != headless.window.at(x / scale, y / scale);
        EXPECT_EQ(different, 0) << dpi;

        // The help's six lines are whole, as under Windows: nothing is drawn in the label's
        // last columns (above the drum key's label, which overlaps them), and its last line
        // ends inside the window, where a line wrapped in two would push a seventh below it.
        const Rect help = layoutOf(HelpLabel).rect;
        const uint32_t paper = at(help.left * scale, help.top * scale);
        int inked = 0, lastInk = 0;
        for (int y = help.top * scale; y < layoutOf(DrumLabel).rect.top * scale; ++y)
            for (int x = (help.right - 3) * scale; x < help.right * scale; ++x) inked += at(x, y) != paper;
        for (int y = help.top * scale; y < height; ++y)
            for (int x = help.left * scale; x < layoutOf(DrumLabel).rect.left * scale; ++x)
                if (at(x, y) != paper) lastInk = y;
        EXPECT_EQ(inked, 0) << dpi;
        EXPECT_LT(lastInk, height - 2 * scale) << dpi << ": the help's last line is cut";

        // The status line's text at twice the size is drawn at the screen's resolution, not
        // enlarged: some of its 2 x 2 squares are not of one colour.
        const Rect status = layoutOf(StatusLabel).rect;
        int fine = 0;
        for (int y = status.top * scale; y < status.bottom * scale; y += scale)
            for (int x = status.left * scale; x < (status.left + 40) * scale; x += scale)
                fine += at(x, y) != at(x + scale - 1, y) || at(x, y) != at(x, y + scale - 1);
        EXPECT_EQ(fine > 0, scale == 2) << dpi;

        // Beyond the drawing, the parent's larger area is the button face.
        const std::vector<uint32_t> whole = pixels(width + 40, height + 40);
        for (auto [x, y] : {std::pair{width + 39, height + 39}, std::pair{width + 20, 10}, std::pair{10, height + 20}})
            EXPECT_EQ(whole[static_cast<size_t>(y) * (width + 40) + x], defaultColor(SysColor::ButtonFace)) << dpi;
        XResizeWindow(display, parent, 640, 400);
    }
}

TEST_F(EditorX11Test, ClicksDragsWheelsAndResetsChangeTheSettings) {
    openEditor();
    struct Step {
        const char* what;
        std::function<void()> act;
        ChunkView::Setting setting;
        int expected;
    };
    const Step steps[] = {
        {"drag Poly left", [this] { drag(PolyLabel, -20); }, ChunkView::Polyphony, 4},
        {"drag Poly far right", [this] { drag(PolyLabel, 300); }, ChunkView::Polyphony, 8},
        {"wheel Porta down", [this] { wheel(PortaLabel, -3); }, ChunkView::Portamento, 94},
        {"wheel Porta up past 100", [this] { wheel(PortaLabel, 9); }, ChunkView::Portamento, 100},
        {"drag Time left", [this] { drag(TimeLabel, -40); }, ChunkView::TimeScale, 30},
        {"right-click Time", [this] { click(TimeLabel, 3); }, ChunkView::TimeScale, 50},
        {"right-click Poly", [this] { drag(PolyLabel, -30), click(PolyLabel, 3); }, ChunkView::Polyphony, 8},
        {"right-click Porta", [this] { wheel(PortaLabel, -1), click(PortaLabel, 3); }, ChunkView::Portamento, 100},
        {"click Lerp", [this] { click(LerpButton); }, ChunkView::Interpolate, 1},
        {"click Clamp", [this] { click(ClampButton); }, ChunkView::Clamp, 0},
        {"click the scope", [this] { click(ScopeView); }, ChunkView::Zoom, 1},
        {"right-click the scope twice", [this] { click(ScopeView, 3), click(ScopeView, 3); }, ChunkView::Zoom, 7},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(chunk().setting(step.setting), step.expected) << step.what;
    }
    // Every step brought the drum key from 0 into its range, 23..191.
    EXPECT_EQ(chunk().drumKey0(), 23);
    wheel(DrumLabel, 2);
    EXPECT_EQ(chunk().drumKey0(), 25);
    drag(DrumLabel, 40);
    EXPECT_EQ(chunk().drumKey0(), 45);
    click(DrumLabel, 3);
    EXPECT_EQ(chunk().drumKey0(), 0);
}

TEST_F(EditorX11Test, TheFormulaBoxTypesSelectsAndEdits) {
    openEditor();
    click(FormulaEdit);
    struct Step {
        std::function<void()> act;
        const char* formula;
    };
    const Step steps[] = {
        {[this] { key(XK_a, false, true), type("p&128"); }, "P&128"},
        {[this] { key(XK_BackSpace), idle(); }, "P&12"},
        {[this] { key(XK_Home), key(XK_Delete), idle(); }, "&12"},
        {[this] { type("t"); }, "T&12"},
        {[this] { key(XK_End, true), type("|v"); }, "T|V"},
        {[this] { key(XK_Left), key(XK_Left, true), key(XK_Delete), idle(); }, "TV"},
        {[this] { key(XK_a, false, true), key(XK_x, false, true), idle(); }, ""},
        {[this] { key(XK_v, false, true), key(XK_v, false, true), idle(); }, "TVTV"},
        {[this] { selectWithTheMouse(), type("s"); }, "S"},
        {[this] { key(XK_z, false, true), idle(); }, "TVTV"},  // one level of undo
        {[this] { key(XK_z, false, true), idle(); }, "S"},     // and undoing the undo
        {[this] { key(XK_a, false, true), type("p*12+t"), doubleClickTheFirstWord(), type("v"); }, "V*12+T"},
        // The numeric keypad types digits with NumLock on, its operators always.
        {[this] {
             key(XK_a, false, true), key(XK_Num_Lock);
             for (KeySym k :
                  {XK_KP_1, XK_KP_Add, XK_KP_2, XK_KP_Multiply, XK_KP_9, XK_KP_Divide, XK_KP_0, XK_KP_Subtract})
                 key(k);
             key(XK_Num_Lock), idle();
         },
         "1+2*9/0-"},
    };
    int n = 0;
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(chunk().formula0(), step.formula) << "step " << n++;
    }
    // The caret blinks: with nothing done, the box looks different half a second later.
    idle();
    const std::vector<uint32_t> before = pixels();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    idle();
    EXPECT_NE(pixels(), before);

    // The box takes 1024 characters and no more: once full, a key at its start is refused.
    key(XK_a, false, true);
    type(std::string(1100, '7'));
    for (int line = 0; line < 40; ++line) key(XK_Up);
    key(XK_Home);
    type("p");
    EXPECT_EQ(chunk().formula0(), std::string(1023, '7'));  // a program keeps 1023 of them
}

// Where the X11 window could differ from the Windows controls the drawing is shared
// with: each case does what a user does and looks at what the Windows editor shows.
TEST_F(EditorX11Test, BehavesAsTheWindowsControlsDo) {
    openEditor();
    const auto part = [this](Control c) {
        const Rect r = layoutOf(c).rect;
        const std::vector<uint32_t> all = pixels();
        std::vector<uint32_t> rect;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) rect.push_back(all[static_cast<size_t>(y) * kWidth + x]);
        return rect;
    };
    const auto barIsFull = [this](Control c) {
        const Rect r = layoutOf(c).rect;
        return pixels()[static_cast<size_t>(r.bottom - 4) * kWidth + r.right - 4] == defaultColor(SysColor::ScrollBar);
    };
    const uint32_t face = defaultColor(SysColor::ButtonFace), ink = defaultColor(SysColor::WindowText),
                   bar = defaultColor(SysColor::ScrollBar);
    std::vector<uint32_t> before;
    // One idle after a click: the button flashes then.
    const auto clickAndIdleOnce = [&](Control c) {
        moveTo(on(c)), button(1, true), button(1, false);
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        dispatch(effEditIdle);
    };
    // A full bar for the first idle after the click, the plain button at the next.
    const auto flashedOnce = [&](Control c) {
        const bool full = barIsFull(c);
        dispatch(effEditIdle);
        return full && !barIsFull(c);
    };
    // The button's text stays as it was: only pixels of the bar change, from `was` to `is`.
    const auto onlyTheBarChanged = [&](Control c, uint32_t was, uint32_t is) {
        const std::vector<uint32_t> after = part(c);
        int changed = 0, elsewhere = 0;
        for (size_t i = 0; i < after.size(); ++i)
            if (after[i] != before[i]) ++changed, elsewhere += !(before[i] == was && after[i] == is);
        return changed > 100 && elsewhere == 0;
    };
    struct Case {
        const char* what;
        std::function<void()> act;
        std::function<bool()> asOnWindows;
    };
    const Case cases[] = {
        {"Copy flashes for one refresh", [&] { clickAndIdleOnce(CopyButton); },
         [&] { return flashedOnce(CopyButton); }},
        {"Paste flashes for one refresh", [&] { clickAndIdleOnce(PasteButton); },
         [&] { return flashedOnce(PasteButton); }},
        {"toggling Lerp changes only its bar", [&] { before = part(LerpButton), click(LerpButton); },
         [&] { return onlyTheBarChanged(LerpButton, face, bar); }},
        {"toggling Clamp changes only its bar", [&] { before = part(ClampButton), click(ClampButton); },
         [&] { return onlyTheBarChanged(ClampButton, bar, face); }},
        // Over a wave that fills the scope, the zoom label is window text in a ring of
        // button face, nothing in between.
        {"the zoom label stands in a ring over the wave",
         [&] { click(FormulaEdit), key(XK_a, false, true), type("99999"), click(ClampButton); },
         [&] {
             const Rect scope = layoutOf(ScopeView).rect;
             const std::vector<uint32_t> all = pixels();
             int ring = 0, text = 0, other = 0;
             for (int y = scope.top + 43; y < scope.top + 62; ++y)
                 for (int x = scope.left + 4; x < scope.left + 30; ++x) {
                     const uint32_t p = all[static_cast<size_t>(y) * kWidth + x];
                     ring += p == face, text += p == ink, other += p != face && p != ink;
                 }
             return ring > 40 && text > 40 && other == 0;
         }},
        // A drag along the middle one of three lines selects that line alone.
        {"a drag along one line selects that line",
         [&] {
             click(FormulaEdit), key(XK_a, false, true), type("p+1"), key(XK_Return), type("+t*2"), key(XK_Return);
             type("+v");
             const Rect& r = layoutOf(FormulaEdit).rect;
             int x = 0, y = 0;
             Window child;
             XTranslateCoordinates(display, editorWindow, DefaultRootWindow(display), r.left + 4, r.top + 30, &x, &y,
                                   &child);
             std::this_thread::sleep_for(std::chrono::milliseconds(600));  // no double click
             moveTo({static_cast<short>(x), static_cast<short>(y)}), button(1, true), idle();
             for (int dx = 20; dx <= 400; dx += 20) moveTo({static_cast<short>(x + dx), static_cast<short>(y)}), idle();
             button(1, false), type("s");
         },
         [&] { return chunk().formula0() == "P+1\r\nS\r\n+V"; }},
        // A double click and a drag select word by word, as Windows' edit box does.
        {"a double click's drag extends the selection by words",
         [&] {
             click(FormulaEdit), key(XK_a, false, true), type("ab cd ef");
             const Rect& r = layoutOf(FormulaEdit).rect;
             int x = 0, y = 0;
             Window child;
             XTranslateCoordinates(display, editorWindow, DefaultRootWindow(display), r.left + 6, r.top + 8, &x, &y,
                                   &child);
             std::this_thread::sleep_for(std::chrono::milliseconds(600));  // no double click with the click before
             moveTo({static_cast<short>(x), static_cast<short>(y)}), button(1, true), button(1, false);
             button(1, true), idle();
             moveTo({static_cast<short>(x + 40), static_cast<short>(y)}), idle();
             button(1, false), type("x");
         },
         [&] { return chunk().formula0() == "X EF"; }},
        // Buttons act on the release over them; a press that leaves first does nothing.
        {"Copy acts on its release, not on its press",
         [&] {
             moveTo(on(CopyButton)), button(1, true), XSync(display, False);
             std::this_thread::sleep_for(std::chrono::milliseconds(20));
             dispatch(effEditIdle), dispatch(effEditIdle);
         },
         [&] {
             const bool early = barIsFull(CopyButton);
             button(1, false), XSync(display, False);
             std::this_thread::sleep_for(std::chrono::milliseconds(20));
             dispatch(effEditIdle);
             return !early && flashedOnce(CopyButton);
         }},
        {"a press that leaves Lerp before its release does nothing",
         [&] {
             before = part(LerpButton);
             moveTo(on(LerpButton)), button(1, true), moveTo(on(ScopeView)), button(1, false), idle();
         },
         [&] { return part(LerpButton) == before; }},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_TRUE(c.asOnWindows()) << c.what;
    }
}

// Keys the editor has no use for reach the host's window (its shortcuts keep working);
// the editor's own stay with it, and outside the box every key goes to the host.
TEST_F(EditorX11Test, KeysTheEditorDoesNotUseReachTheHost) {
    // The host's top-level window reads the keys; the editor sits in a window inside it
    // (as Ardour embeds it, in a window of a connection that reads no keys).
    const Window topLevel = parent;
    XSelectInput(display, topLevel, KeyPressMask);
    parent = XCreateSimpleWindow(display, topLevel, 0, 0, 640, 400, 0, 0, 0xFFFFFF);
    XSelectInput(display, parent, KeyPressMask);  // and ignores them
    XMapWindow(display, parent);
    XSync(display, False);
    // The keyboard follows the pointer, as on a display without a window manager (an
    // earlier test may have left the focus on a window that is gone).
    XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    openEditor();
    const auto hostGot = [&](KeySym sym, unsigned mask) {
        XSync(display, False);
        XEvent event;
        bool got = false;
        while (XCheckTypedWindowEvent(display, topLevel, KeyPress, &event))
            got |= event.xkey.keycode == XKeysymToKeycode(display, sym) && (event.xkey.state & mask) == mask;
        return got;
    };
    struct Case {
        KeySym sym;
        bool control;
        bool toHost;
    };
    const Case cases[] = {
        {XK_space, false, true},  // over the editor, before a click into the box: the host's transport
        {XK_s, true, true},       // Ctrl+S: the host saves
        {XK_F5, false, true},     // a function key
        {XK_Escape, false, true}, {XK_c, true, false},  // the box's own Copy
        {XK_p, false, false},                           // typed into the box
    };
    for (const Case& c : cases) {
        if (c.sym == XK_space)
            moveTo(on(LerpButton));  // with the focus where the pointer is, the editor gets the key
        else
            click(FormulaEdit);
        key(c.sym, false, c.control);
        idle();
        EXPECT_EQ(hostGot(c.sym, c.control ? ControlMask : 0), c.toHost) << XKeysymToString(c.sym);
    }
    EXPECT_EQ(chunk().formula0(), "P&255P") << "only the typed letter reached the box";
    dispatch(effEditClose);
    XDestroyWindow(display, parent);
    parent = topLevel;
}

// Types `text` as a user of the server's current layout does: each character on the key
// and level that give it (Shift for the second level, AltGr for the third), read from the
// server's keymap as it is now; a character the layout has only as a dead key, as that
// dead key and a space. Plain keys and the first two levels come first.
void typeOnLayout(Display* display, const std::string& text) {
    XkbDescPtr xkb = XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd);
    ASSERT_NE(xkb, nullptr);
    const auto find = [xkb](KeySym sym, int fromLevel, int toLevel) -> std::pair<KeyCode, int> {
        for (int level = fromLevel; level <= toLevel; ++level)
            for (int code = xkb->min_key_code; code <= xkb->max_key_code; ++code) {
                if (XkbKeyNumGroups(xkb, code) == 0 || IsKeypadKey(XkbKeySymEntry(xkb, code, 0, 0))) continue;
                if (level < XkbKeyGroupWidth(xkb, code, 0) && XkbKeySymEntry(xkb, code, level, 0) == sym)
                    return {static_cast<KeyCode>(code), level};
            }
        return {0, 0};
    };
    const KeyCode shift = find(XK_Shift_L, 0, 0).first, altGr = find(XK_ISO_Level3_Shift, 0, 0).first;
    const auto press = [&](std::pair<KeyCode, int> key) {
        if (key.second & 1) XTestFakeKeyEvent(display, shift, True, 0);
        if (key.second & 2) XTestFakeKeyEvent(display, altGr, True, 0);
        XTestFakeKeyEvent(display, key.first, True, 0);
        XTestFakeKeyEvent(display, key.first, False, 0);
        if (key.second & 2) XTestFakeKeyEvent(display, altGr, False, 0);
        if (key.second & 1) XTestFakeKeyEvent(display, shift, False, 0);
    };
    for (char c : text) {
        const KeySym dead = c == '~' ? XK_dead_tilde : c == '^' ? XK_dead_circumflex : c == '`' ? XK_dead_grave : 0;
        std::pair<KeyCode, int> key{0, 0};
        bool isDead = false;
        for (auto [from, to] : {std::pair{0, 1}, std::pair{2, 3}}) {
            if (!key.first) key = find(static_cast<unsigned char>(c), from, to);
            if (!key.first && dead) key = find(dead, from, to), isDead = key.first != 0;
        }
        ASSERT_NE(key.first, 0) << "no key types '" << c << "'";
        press(key);
        if (isDead) press(find(XK_space, 0, 0));
    }
    XkbFreeKeyboard(xkb, 0, True);
}

// Every character of the formula language arrives as itself on each layout, through
// AltGr and dead keys, and a layout changed while the editor is open is followed.
TEST_F(EditorX11Test, EveryLayoutTypesTheWholeLanguage) {
    if (std::system("command -v setxkbmap > /dev/null") != 0) GTEST_SKIP() << "setxkbmap is not installed";
    openEditor();
    const std::string language = "0123456789abcdefghijklmnopqrstuvwxyz+-*/%&|^<>()!~=?: ";
    std::string expected;
    for (char c : language) expected += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* layout : {"de", "fr", "us -variant intl", "us"}) {
        ASSERT_EQ(std::system(("setxkbmap " + std::string(layout)).c_str()), 0) << layout;
        idle();
        click(FormulaEdit);
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Control_L), True, 0);
        typeOnLayout(display, "a");  // Ctrl+A on the layout's own A
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Control_L), False, 0);
        typeOnLayout(display, language);
        idle();
        EXPECT_EQ(chunk().formula0(), expected) << layout;
        idle();
    }
}

TEST_F(EditorX11Test, CopyAndPasteGoThroughTheClipboardOfOtherPrograms) {
    if (std::system("command -v xclip > /dev/null") != 0) GTEST_SKIP() << "xclip is not installed";
    openEditor();
    ASSERT_EQ(std::system("printf 'P*3' | xclip -selection clipboard -i"), 0);
    click(PasteButton);
    EXPECT_EQ(chunk().formula0(), "P*3");

    click(FormulaEdit);
    key(XK_a, false, true);
    type("t>>4");
    click(CopyButton);
    // Another program reads the clipboard while the host is busy and calls no idle, as a
    // Qt host is when it asks the new owner on its own user-interface thread.
    const auto asked = std::chrono::steady_clock::now();
    std::string text;
    if (FILE* out = popen("timeout 5 xclip -selection clipboard -o", "r")) {
        char buffer[256];
        while (size_t got = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, got);
        pclose(out);
    }
    EXPECT_EQ(text, "T>>4");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2)) << "answered only when xclip gave up";

    // The Paste button puts 1,500 characters in whole, as the Windows box takes them; the
    // program keeps 1,023, and a key typed into the full box is refused.
    ASSERT_EQ(std::system("head -c 1500 /dev/zero | tr '\\0' '7' | xclip -selection clipboard -i"), 0);
    click(PasteButton);
    EXPECT_EQ(chunk().formula0(), std::string(1023, '7'));
    click(FormulaEdit);
    key(XK_End), type("p");
    click(CopyButton);
    text.clear();
    if (FILE* out = popen("timeout 5 xclip -selection clipboard -o", "r")) {
        char buffer[256];
        while (size_t got = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, got);
        pclose(out);
    }
    EXPECT_EQ(text, std::string(1500, '7'));
}

TEST_F(EditorX11Test, OpeningClosingAndLosingTheParentAreClean) {
    const Resources start = resources();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(dispatch(effEditOpen, 0, reinterpret_cast<void*>(parent)), 1);
        dispatch(effEditIdle);
        dispatch(effEditClose);
        ASSERT_EQ(childOf(parent), 0u) << "the editor's window is left after close " << i;
    }
    dispatch(effEditClose);  // twice
    const Resources end = resources();
    EXPECT_EQ(end.clients, start.clients) << "X clients left connected";
    EXPECT_EQ(end.files, start.files);

    // A second open without a close: one window, in the new parent.
    const Window other = makeParent(300);
    openEditor();
    ASSERT_EQ(dispatch(effEditOpen, 0, reinterpret_cast<void*>(other)), 1);
    idle();
    XSync(display, False);
    EXPECT_EQ(childOf(parent), 0u);
    EXPECT_NE(childOf(other), 0u);
    // The host destroys its window first, then closes the editor.
    XDestroyWindow(display, other);
    XSync(display, False);
    idle();
    dispatch(effEditClose);
    // And the instrument goes with its editor open.
    openEditor();
    dispatch(effClose);
    effect = nullptr;
}

TEST_F(EditorX11Test, TwoInstancesSideBySideKeepTheirOwnSettings) {
    AEffect* second = newInstance();
    const Window secondParent = makeParent(360);
    openEditor();
    ASSERT_EQ(dispatch(effEditOpen, 0, reinterpret_cast<void*>(secondParent), second), 1);
    idle(second);
    click(LerpButton, 1, childOf(secondParent), second);
    idle();
    EXPECT_EQ(chunk(second).setting(ChunkView::Interpolate), 1);
    EXPECT_EQ(chunk().setting(ChunkView::Interpolate), 0);
    second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f);
    XDestroyWindow(display, secondParent);
}

// The CLAP plug-in's editor as a CLAP host embeds it: ticked by the host's timer, its
// drags handed to the host as gestures, the host's values shown.
class ClapEditorTest : public EditorX11Test {
protected:
    void SetUp() override {
        EditorX11Test::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(clapLibrary.loaded()) << clapLibrary.error();
        entry = static_cast<const clap_plugin_entry_t*>(clapLibrary.symbol("clap_entry"));
        ASSERT_TRUE(entry && entry->init(BYTONE_CLAP_PATH));
        const auto* factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        plugin = factory->create_plugin(factory, &host, "com.bytone.bytone");
        ASSERT_TRUE(plugin && plugin->init(plugin));
        gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        const auto* timers =
            static_cast<const clap_plugin_timer_support_t*>(plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
        ASSERT_TRUE(gui && params && timers);
        tick = [this, timers] { timers->on_timer(plugin, timer); };
    }
    void TearDown() override {
        if (plugin) plugin->destroy(plugin);
        if (entry) entry->deinit();
        EditorX11Test::TearDown();
    }
    void openClapEditor() {
        ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_X11, false));
        EXPECT_NE(timer, CLAP_INVALID_ID) << "no timer registered";
        const clap_window_t window{CLAP_WINDOW_API_X11, {reinterpret_cast<void*>(parent)}};
        ASSERT_TRUE(gui->set_parent(plugin, &window));
        ASSERT_TRUE(gui->show(plugin));
        editorWindow = childOf(parent);
        ASSERT_NE(editorWindow, 0u);
        idle();
    }
    // The events of a flush: what the host hands in, and what the plug-in hands back.
    struct Sent {
        uint16_t type;
        clap_id parameter;
        double value;
    };
    std::vector<Sent> flush(const clap_event_param_value_t* in = nullptr) {
        std::vector<Sent> sent;
        const clap_input_events_t input{const_cast<clap_event_param_value_t*>(in),
                                        [](const clap_input_events_t* l) -> uint32_t { return l->ctx ? 1 : 0; },
                                        [](const clap_input_events_t* l, uint32_t) {
                                            return &static_cast<const clap_event_param_value_t*>(l->ctx)->header;
                                        }};
        const clap_output_events_t output{
            &sent, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                const bool value = e->type == CLAP_EVENT_PARAM_VALUE;
                const auto* gesture = reinterpret_cast<const clap_event_param_gesture_t*>(e);
                const auto* change = reinterpret_cast<const clap_event_param_value_t*>(e);
                static_cast<std::vector<Sent>*>(l->ctx)->push_back(
                    {e->type, value ? change->param_id : gesture->param_id, value ? change->value : 0.0});
                return true;
            }};
        params->flush(plugin, &input, &output);
        return sent;
    }

    static inline clap_id timer = CLAP_INVALID_ID;
    static inline int flushRequests = 0;
    static inline const clap_host_timer_support_t timerSupport = {[](const clap_host_t*, uint32_t, clap_id* id) {
                                                                      *id = timer = 7;
                                                                      return true;
                                                                  },
                                                                  [](const clap_host_t*, clap_id id) {
                                                                      if (id == timer) timer = CLAP_INVALID_ID;
                                                                      return true;
                                                                  }};
    static inline const clap_host_params_t hostParams = {[](const clap_host_t*, clap_param_rescan_flags) {},
                                                         [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
                                                         [](const clap_host_t*) { ++flushRequests; }};
    const clap_host_t host = {CLAP_VERSION_INIT,
                              nullptr,
                              "test host",
                              "Bytone",
                              "",
                              "1",
                              [](const clap_host_t*, const char* id) -> const void* {
                                  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &timerSupport;
                                  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &hostParams;
                                  return nullptr;
                              },
                              [](const clap_host_t*) {},
                              [](const clap_host_t*) {},
                              [](const clap_host_t*) {}};
    PluginLibrary clapLibrary{BYTONE_CLAP_PATH};
    const clap_plugin_entry_t* entry = nullptr;
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_params_t* params = nullptr;
};

TEST_F(ClapEditorTest, ADragIsAGestureToTheHostAndTheHostsValuesShow) {
    openClapEditor();
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(gui->get_size(plugin, &width, &height));
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(uint32_t{kWidth}, uint32_t{kExtendedHeight}));
    flushRequests = 0;
    drag(GainLabel, 60);
    const auto gain = static_cast<clap_id>(engine::Setting::Gain);
    double now = 0;
    ASSERT_TRUE(params->get_value(plugin, gain, &now));
    EXPECT_GT(now, 100);
    EXPECT_GT(flushRequests, 0);
    // (The drum key, brought into its range by the first drag, comes as an edit of its own.)
    std::vector<Sent> sent = flush();
    std::erase_if(sent, [&](const Sent& s) { return s.parameter != gain; });
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent.front().type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(sent.back().type, CLAP_EVENT_PARAM_GESTURE_END);
    EXPECT_EQ(sent[sent.size() - 2].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(sent[sent.size() - 2].value, now);
    EXPECT_TRUE(flush().empty()) << "each edit goes to the host once";

    // A click is a gesture of its own.
    click(LerpButton);
    const std::vector<Sent> lerp = flush();
    ASSERT_EQ(lerp.size(), 3u);
    EXPECT_EQ(lerp[1].parameter, static_cast<clap_id>(engine::Setting::Lerp));
    EXPECT_EQ(lerp[1].value, 1);
    // The strip's controls: a switch, and a label that steps ten milliseconds a pixel.
    click(DcButton);
    const std::vector<Sent> dc = flush();
    ASSERT_EQ(dc.size(), 3u);
    EXPECT_EQ(dc[1].parameter, static_cast<clap_id>(engine::Setting::DcFilter));
    EXPECT_EQ(dc[1].value, 1);
    drag(ReleaseLabel, 30);
    const std::vector<Sent> release = flush();
    ASSERT_GE(release.size(), 3u);
    EXPECT_EQ(release[release.size() - 2].parameter, static_cast<clap_id>(engine::Setting::Release));
    EXPECT_EQ(release[release.size() - 2].value, 300);

    // The host's value is drawn at the next tick, and is not sent back.
    const std::vector<uint32_t> before = pixels(kWidth, kExtendedHeight);
    writePng(std::string(BYTONE_TEST_OUTPUT) + "/editor-clap.png", kWidth, kExtendedHeight, before);
    clap_event_param_value_t mono{};
    mono.header = {sizeof mono, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    mono.param_id = static_cast<clap_id>(engine::Setting::Poly), mono.note_id = -1, mono.port_index = -1;
    mono.channel = -1, mono.key = -1, mono.value = 1;
    EXPECT_TRUE(flush(&mono).empty());
    idle();
    EXPECT_NE(pixels(kWidth, kExtendedHeight), before);
}

TEST_F(ClapEditorTest, CreatingShowingHidingAndDestroyingInAnyOrderIsClean) {
    const Resources start = resources();
    const clap_window_t window{CLAP_WINDOW_API_X11, {reinterpret_cast<void*>(parent)}};
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_X11, false));
        EXPECT_FALSE(gui->create(plugin, CLAP_WINDOW_API_X11, false)) << "one editor at a time";
        ASSERT_TRUE(gui->set_parent(plugin, &window));
        if (i % 2) gui->hide(plugin);
        if (i % 3) {
            ASSERT_TRUE(gui->show(plugin));
        }
        tick();
        if (i % 4 == 0) gui->hide(plugin);
        gui->destroy(plugin);
        EXPECT_EQ(timer, CLAP_INVALID_ID) << "the timer outlived the editor";
    }
    gui->destroy(plugin);  // twice
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, true));
    const Resources end = resources();
    EXPECT_EQ(end.clients, start.clients) << "X clients left connected";
    EXPECT_EQ(end.files, start.files);
    // And the plug-in goes with its editor open.
    openClapEditor();
}

// CLAP's thread rules: `process` on an audio thread of its own with the host's automation
// and notes, while the main thread drags in the editor, ticks it, reads the parameters
// and saves the state (ThreadSanitizer runs this too).
TEST_F(ClapEditorTest, TheEditorEditsWhileAnotherThreadProcesses) {
    ASSERT_TRUE(plugin->activate(plugin, 44100, 1, 256));
    openClapEditor();
    std::atomic<bool> stop{false};
    std::atomic<int> gestures{0};
    std::thread audio([&] {
        ASSERT_TRUE(plugin->start_processing(plugin));
        std::vector<float> left(256), right(256);
        float* channels[2] = {left.data(), right.data()};
        clap_audio_buffer_t output{channels, nullptr, 2, 0, 0};
        for (int block = 0; !stop || block < 50; ++block) {
            clap_event_param_value_t porta{};
            porta.header = {sizeof porta, 10, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            porta.param_id = static_cast<clap_id>(engine::Setting::Porta), porta.note_id = -1;
            porta.port_index = -1, porta.channel = -1, porta.key = -1, porta.value = 1 + block % 100;
            clap_event_note_t note{};
            note.header = {sizeof note, 20, CLAP_CORE_EVENT_SPACE_ID,
                           static_cast<uint16_t>(block % 2 ? CLAP_EVENT_NOTE_OFF : CLAP_EVENT_NOTE_ON), 0};
            note.note_id = -1, note.key = static_cast<int16_t>(48 + block % 24), note.velocity = 0.8;
            const clap_event_header_t* events[2] = {&porta.header, &note.header};
            const clap_input_events_t in{events, [](const clap_input_events_t*) -> uint32_t { return 2; },
                                         [](const clap_input_events_t* l, uint32_t i) {
                                             return static_cast<const clap_event_header_t* const*>(l->ctx)[i];
                                         }};
            const clap_output_events_t out{&gestures, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                                               if (e->type == CLAP_EVENT_PARAM_GESTURE_BEGIN)
                                                   ++*static_cast<std::atomic<int>*>(l->ctx);
                                               return true;
                                           }};
            clap_process_t process{};
            process.steady_time = -1;
            process.frames_count = 256;
            process.audio_outputs = &output;
            process.audio_outputs_count = 1;
            process.in_events = &in;
            process.out_events = &out;
            plugin->process(plugin, &process);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        plugin->stop_processing(plugin);
    });
    const auto* state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    std::string saved;
    const clap_ostream_t stream{&saved, [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
                                    static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(data), size);
                                    return static_cast<int64_t>(size);
                                }};
    for (int i = 0; i < 6; ++i) {
        drag(GainLabel, i % 2 ? -30 : 30);
        wheel(TimeLabel, 1);
        double value = 0;
        EXPECT_TRUE(params->get_value(plugin, static_cast<clap_id>(engine::Setting::Porta), &value));
        saved.clear();
        EXPECT_TRUE(state->save(plugin, &stream));
    }
    stop = true;
    audio.join();
    EXPECT_GE(gestures, 12) << "the drags and wheel turns reached the host through process";
    gui->destroy(plugin);
    plugin->deactivate(plugin);
}

// The VST3 plug-in's editor as a VST3 host embeds it: attached to a window of the host's,
// ticked by the host's run loop (a handler for its X connection and a timer), its drags
// told to the host as begin, perform and end edits.
class Vst3EditorTest : public EditorX11Test {
protected:
    // The host's objects: the frame with its run loop, and the component handler.
    struct RunLoop {
        const v3_run_loop_cpp* table;
        v3_event_handler** fdHandler = nullptr;
        v3_timer_handler** timer = nullptr;
        int fd = -1;
    };
    struct Frame {
        const v3_plugin_frame_cpp* table;
        RunLoop* loop;
    };
    struct HandlerTable {
        v3_funknown unknown;
        v3_component_handler handler;
    };
    struct Handler {
        const HandlerTable* table;
        std::vector<std::string> edits;  // "begin 3", "perform 3", "end 3"
    };
    static v3_result frameQuery(void* self, const v3_tuid iid, void** out) {
        *out = v3_tuid_match(iid, v3_run_loop_iid) ? static_cast<void*>(static_cast<Frame*>(self)->loop) : nullptr;
        return *out ? V3_OK : V3_NO_INTERFACE;
    }
    static v3_result noInterface(void*, const v3_tuid, void** out) {
        *out = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t oneReference(void*) { return 1; }
    static inline const v3_run_loop_cpp kRunLoop = {
        {noInterface, oneReference, oneReference},
        {[](void* self, v3_event_handler** handler, int fd) -> v3_result {
             static_cast<RunLoop*>(self)->fdHandler = handler;
             static_cast<RunLoop*>(self)->fd = fd;
             return V3_OK;
         },
         [](void* self, v3_event_handler**) -> v3_result {
             static_cast<RunLoop*>(self)->fdHandler = nullptr;
             return V3_OK;
         },
         [](void* self, v3_timer_handler** timer, uint64_t) -> v3_result {
             static_cast<RunLoop*>(self)->timer = timer;
             return V3_OK;
         },
         [](void* self, v3_timer_handler**) -> v3_result {
             static_cast<RunLoop*>(self)->timer = nullptr;
             return V3_OK;
         }},
    };
    static inline const v3_plugin_frame_cpp kFrame = {
        {frameQuery, oneReference, oneReference},
        {[](void*, v3_plugin_view**, v3_view_rect*) -> v3_result { return V3_FALSE; }},
    };
    static void record(void* self, const char* what, v3_param_id id) {
        static_cast<Handler*>(self)->edits.push_back(std::string(what) + " " + std::to_string(id));
    }
    static inline const HandlerTable kHandler = {
        {noInterface, oneReference, oneReference},
        {[](void* self, v3_param_id id) -> v3_result {
             record(self, "begin", id);
             return V3_OK;
         },
         [](void* self, v3_param_id id, double) -> v3_result {
             record(self, "perform", id);
             return V3_OK;
         },
         [](void* self, v3_param_id id) -> v3_result {
             record(self, "end", id);
             return V3_OK;
         },
         [](void*, int32_t) -> v3_result { return V3_OK; }},
    };

    void SetUp() override {
        EditorX11Test::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(vst3Library.loaded()) << vst3Library.error();
        auto* getFactory = reinterpret_cast<void* (*)()>(vst3Library.symbol("GetPluginFactory"));
        ASSERT_NE(getFactory, nullptr);
        factory = static_cast<v3_plugin_factory**>(getFactory());
        v3_class_info info{};
        ASSERT_EQ(v3_cpp_obj(factory)->get_class_info(factory, 0, &info), V3_OK);
        void* out = nullptr;
        ASSERT_EQ(v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_edit_controller_iid, &out), V3_OK);
        controller = static_cast<v3_edit_controller**>(out);
        ASSERT_EQ(reinterpret_cast<v3_edit_controller_cpp*>(*controller)->base.initialize(controller, nullptr), V3_OK);
        ASSERT_EQ(v3_cpp_obj(controller)
                      ->set_component_handler(controller, reinterpret_cast<v3_component_handler**>(&handler)),
                  V3_OK);
        tick = [this] {
            if (loop.timer) v3_cpp_obj(loop.timer)->on_timer(loop.timer);
        };
    }
    void TearDown() override {
        if (controller) {
            v3_cpp_obj(controller)->set_component_handler(controller, nullptr);
            reinterpret_cast<v3_edit_controller_cpp*>(*controller)->base.terminate(controller);
            EXPECT_EQ(reinterpret_cast<v3_funknown*>(*controller)->unref(controller), 0u) << "references left";
        }
        if (factory) reinterpret_cast<v3_funknown*>(*factory)->unref(factory);
        EditorX11Test::TearDown();
    }
    v3_plugin_view** attach() {
        v3_plugin_view** view = v3_cpp_obj(controller)->create_view(controller, "editor");
        EXPECT_NE(view, nullptr);
        if (!view) return nullptr;
        EXPECT_EQ(v3_cpp_obj(view)->is_platform_type_supported(view, V3_VIEW_PLATFORM_TYPE_X11), V3_TRUE);
        EXPECT_EQ(v3_cpp_obj(view)->set_frame(view, reinterpret_cast<v3_plugin_frame**>(&frame)), V3_OK);
        EXPECT_EQ(v3_cpp_obj(view)->attached(view, reinterpret_cast<void*>(parent), V3_VIEW_PLATFORM_TYPE_X11), V3_OK);
        return view;
    }
    static uint32_t release(v3_plugin_view** view) {
        v3_cpp_obj(view)->removed(view);
        return reinterpret_cast<v3_funknown*>(*view)->unref(view);
    }

    PluginLibrary vst3Library{BYTONE_VST3_PATH};
    v3_plugin_factory** factory = nullptr;
    v3_edit_controller** controller = nullptr;
    RunLoop loop{&kRunLoop};
    Frame frame{&kFrame, &loop};
    Handler handler{&kHandler, {}};
};

TEST_F(Vst3EditorTest, TheRunLoopDrivesItAndADragIsOneEdit) {
    v3_plugin_view** view = attach();
    ASSERT_NE(view, nullptr);
    v3_view_rect rect{};
    EXPECT_EQ(v3_cpp_obj(view)->get_size(view, &rect), V3_OK);
    EXPECT_EQ(rect.right - rect.left, kWidth);
    EXPECT_EQ(rect.bottom - rect.top, kExtendedHeight);
    ASSERT_NE(loop.timer, nullptr) << "no timer registered";
    ASSERT_NE(loop.fdHandler, nullptr) << "the X connection is not watched";
    EXPECT_GE(loop.fd, 0);
    editorWindow = childOf(parent);
    ASSERT_NE(editorWindow, 0u);
    idle();
    v3_cpp_obj(loop.fdHandler)->on_fd_is_set(loop.fdHandler, loop.fd);
    drag(GainLabel, 60);
    // (The drum key, brought into its range by the first drag, comes as an edit of its own.)
    std::erase_if(handler.edits, [](const std::string& e) { return e.back() != '3'; });
    ASSERT_GE(handler.edits.size(), 3u);
    EXPECT_EQ(handler.edits.front(), "begin 3");
    EXPECT_EQ(handler.edits[1], "perform 3");
    EXPECT_EQ(handler.edits.back(), "end 3");
    EXPECT_GT(v3_cpp_obj(controller)->get_parameter_normalised(controller, 3), 100.0 / 199);
    EXPECT_EQ(release(view), 0u);
    EXPECT_EQ(loop.timer, nullptr) << "the timer outlived the view";
    EXPECT_EQ(loop.fdHandler, nullptr);
}

TEST_F(Vst3EditorTest, AttachingAndRemovingTwoHundredTimesIsClean) {
    v3_plugin_view** first = attach();
    release(first);
    const Resources start = resources();
    for (int i = 0; i < 200; ++i) {
        v3_plugin_view** view = attach();
        ASSERT_NE(view, nullptr);
        tick();
        if (i % 2) v3_cpp_obj(view)->removed(view);  // removed, then released; or released attached
        reinterpret_cast<v3_funknown*>(*view)->unref(view);
    }
    const Resources end = resources();
    EXPECT_EQ(end.clients, start.clients) << "X clients left connected";
    EXPECT_EQ(end.files, start.files);
}

// The LV2 plug-in's editor as an LV2 host embeds it: the UI module instantiated with the
// host's window and the instance, ticked by the host's idle calls, its drags written to
// the control ports inside the host's touch.
class Lv2UiTest : public EditorX11Test {
protected:
    static LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
        static std::vector<std::string> uris;
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        uris.push_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    void SetUp() override {
        EditorX11Test::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(pluginLibrary.loaded()) << pluginLibrary.error();
        ASSERT_TRUE(uiLibrary.loaded()) << uiLibrary.error();
        const auto* descriptor =
            reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(pluginLibrary.symbol("lv2_descriptor"))(0);
        uiDescriptor = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(uiLibrary.symbol("lv2ui_descriptor"))(0);
        ASSERT_TRUE(descriptor && uiDescriptor);
        pluginDescriptor = descriptor;
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        instance = descriptor->instantiate(descriptor, 44100, BYTONE_LV2_BUNDLE "/", features);
        ASSERT_NE(instance, nullptr);
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(uiDescriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idleInterface, nullptr);
    }
    void TearDown() override {
        if (ui) uiDescriptor->cleanup(ui);
        if (instance) pluginDescriptor->cleanup(instance);
        EditorX11Test::TearDown();
    }
    LV2UI_Handle open() {
        const LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
        const LV2_Feature instanceFeature{LV2_INSTANCE_ACCESS_URI, instance};
        const LV2_Feature touchFeature{LV2_UI__touch, &touch};
        const LV2_Feature* features[] = {&mapFeature, &parentFeature, &instanceFeature, &touchFeature, nullptr};
        LV2UI_Widget widget = nullptr;
        LV2UI_Handle handle = uiDescriptor->instantiate(
            uiDescriptor, "urn:kelmo:bytone", BYTONE_LV2_BUNDLE "/",
            [](LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format, const void* value) {
                if (size == sizeof(float) && format == 0)
                    static_cast<Lv2UiTest*>(const_cast<void*>(controller))
                        ->written.push_back("port " + std::to_string(port) + " " +
                                            std::to_string(static_cast<int>(*static_cast<const float*>(value))));
            },
            this, &widget, features);
        EXPECT_NE(handle, nullptr);
        EXPECT_NE(widget, nullptr) << "no window handed to the host";
        return handle;
    }

    LV2_URID_Map map{nullptr, mapUri};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
    PluginLibrary pluginLibrary{BYTONE_LV2_BUNDLE "/bytone.so"};
    PluginLibrary uiLibrary{BYTONE_LV2_BUNDLE "/bytone_ui.so"};
    const LV2_Descriptor* pluginDescriptor = nullptr;
    const LV2UI_Descriptor* uiDescriptor = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
    LV2_Handle instance = nullptr;
    LV2UI_Handle ui = nullptr;
    std::vector<std::string> written;  // "port 6 130", "grab 6", "release 6"
    LV2UI_Touch touch{
        this, [](LV2UI_Feature_Handle handle, uint32_t port, bool grabbed) {
            static_cast<Lv2UiTest*>(handle)->written.push_back((grabbed ? "grab " : "release ") + std::to_string(port));
        }};
};

TEST_F(Lv2UiTest, TheHostsIdleTicksItAndADragIsWrittenToItsPort) {
    ui = open();
    ASSERT_NE(ui, nullptr);
    tick = [this] { idleInterface->idle(ui); };
    editorWindow = childOf(parent);
    ASSERT_NE(editorWindow, 0u);
    idle();
    drag(GainLabel, 60);
    // (The drum key, brought into its range by the first drag, is written to its port too.)
    std::erase_if(written, [](const std::string& w) { return w.find(" 6") == std::string::npos; });
    ASSERT_GE(written.size(), 3u);
    EXPECT_EQ(written.front(), "grab 6");
    EXPECT_EQ(written.back(), "release 6");
    EXPECT_EQ(written[written.size() - 2].rfind("port 6 1", 0), 0u) << written[written.size() - 2];
}

TEST_F(Lv2UiTest, OpeningAndClosingTwoHundredTimesIsClean) {
    uiDescriptor->cleanup(open());
    const Resources start = resources();
    for (int i = 0; i < 200; ++i) {
        LV2UI_Handle handle = open();
        ASSERT_NE(handle, nullptr);
        idleInterface->idle(handle);
        uiDescriptor->cleanup(handle);
    }
    const Resources end = resources();
    EXPECT_EQ(end.clients, start.clients) << "X clients left connected";
    EXPECT_EQ(end.files, start.files);
    // Without instance-access there is no editor: the host shows its own controls.
    const LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
    const LV2_Feature* features[] = {&mapFeature, &parentFeature, nullptr};
    LV2UI_Widget widget = nullptr;
    EXPECT_EQ(uiDescriptor->instantiate(
                  uiDescriptor, "urn:kelmo:bytone", BYTONE_LV2_BUNDLE "/",
                  [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, this, &widget, features),
              nullptr);
}

}  // namespace
