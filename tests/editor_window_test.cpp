// The editor as a Windows host shows it: the plug-in DLL opens its window inside a
// window of this test, and everything is checked through real window messages. The
// screenshot is compared with what the headless backend draws for the same state.
#include <windows.h>

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/plugin-factory.h>
#include <gdiplus.h>
#include <gtest/gtest.h>
#include <psapi.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/view.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "editor_host.h"
#include "plugin_loader.h"

namespace {

using namespace editor;

void pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string windowText(HWND window) {
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

class EditorWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library = new PluginLibrary(BYTONE_PLUGIN_PATH);
        WNDCLASSA hostClass{};
        hostClass.lpfnWndProc = DefWindowProcA;
        hostClass.hInstance = GetModuleHandleA(nullptr);
        hostClass.lpszClassName = "BytoneTestHost";
        hostClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        RegisterClassA(&hostClass);
    }
    static void TearDownTestSuite() { delete library; }

    void SetUp() override {
        ASSERT_TRUE(library->loaded()) << library->error();
        effect = library->entry("VSTPluginMain")(editorHostCallback);
        ASSERT_NE(effect, nullptr);
        ASSERT_TRUE(effect->flags & effFlagsHasEditor);
        parent = makeParent(40);
    }
    void TearDown() override {
        if (effect) effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        DestroyWindow(parent);
        pump();
    }

    static HWND makeParent(int x) {
        HWND window = CreateWindowExA(0, "BytoneTestHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 40, 640, 400,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ShowWindow(window, SW_SHOW);
        pump();
        return window;
    }

    VstIntPtr dispatch(VstInt32 opcode, VstIntPtr value = 0, void* ptr = nullptr) {
        return effect->dispatcher(effect, opcode, 0, value, ptr, 0.0f);
    }
    void openEditor() {
        ASSERT_EQ(dispatch(effEditOpen, 0, parent), 1);
        main = GetWindow(parent, GW_CHILD);
        ASSERT_NE(main, nullptr);
        findControls();
        pump();
    }
    void idle() {
        dispatch(effEditIdle);
        pump();
        RedrawWindow(main, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        pump();
    }
    // Maps each control of the layout to its window by its position.
    void findControls() {
        controls.clear();
        for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
            for (int c = 0; c < kControlCount; ++c) {
                const Rect& layout = layoutOf(static_cast<Control>(c)).rect;
                if (r.left == layout.left && r.top == layout.top && r.right == layout.right &&
                    r.bottom == layout.bottom)
                    controls[static_cast<Control>(c)] = child;
            }
        }
    }
    ChunkView chunk() {
        void* data = nullptr;
        const VstIntPtr size = dispatch(effGetChunk, 0, &data);
        const float* floats = static_cast<const float*>(data);
        return {std::vector<float>(floats, floats + size / 4)};
    }
    LPARAM clientPoint(Control c, int dx = 0) {
        const Rect& r = layoutOf(c).rect;
        return MAKELPARAM((r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2);
    }
    LPARAM screenPoint(Control c) {
        const Rect& r = layoutOf(c).rect;
        POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ClientToScreen(main, &p);
        return MAKELPARAM(p.x, p.y);
    }
    void click(Control button) {
        SendMessageA(controls[button], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        SendMessageA(controls[button], WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        pump();
    }
    void type(const char* text) {
        for (const char* c = text; *c; ++c)
            SendMessageA(controls[FormulaEdit], WM_CHAR, static_cast<unsigned char>(*c), 1);
        pump();
    }

    static inline PluginLibrary* library = nullptr;
    AEffect* effect = nullptr;
    HWND parent = nullptr;
    HWND main = nullptr;
    std::map<Control, HWND> controls;
};

TEST_F(EditorWindowTest, TheWindowHoldsTheControlsAsLaidOut) {
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effEditGetRect, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 600);
    EXPECT_EQ(rect->bottom, 330);
    openEditor();
    EXPECT_EQ(windowText(main), "Bytone");
    EXPECT_EQ(className(main).rfind("BYTONE", 0), 0u);
    EXPECT_EQ(className(main).size(), 14u);
    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 330);
    ASSERT_EQ(controls.size(), static_cast<size_t>(kClassicControlCount)) << "the VST 2.4 editor has no strip";
    EXPECT_EQ(windowText(controls[FormulaEdit]), "0");
    EXPECT_EQ(windowText(controls[StatusLabel]), "ST_U");
    idle();
    for (const auto& [control, window] : controls) {
        const ControlLayout& layout = layoutOf(control);
        EXPECT_EQ(_stricmp(className(window).c_str(), layout.className), 0) << control;
        const LONG style = GetWindowLongA(window, GWL_STYLE);
        if (layout.kind == ControlKind::OwnerDrawn || layout.kind == ControlKind::Clickable) {
            EXPECT_EQ(style & SS_TYPEMASK, SS_OWNERDRAW) << control;
        }
        EXPECT_EQ((style & SS_NOTIFY) != 0, layout.kind == ControlKind::Clickable) << control;
    }
    EXPECT_TRUE(GetWindowLongA(controls[FormulaEdit], GWL_STYLE) & ES_UPPERCASE);
    const std::map<Control, std::string> texts = {
        {FormulaEdit, "P&255"},     {StatusLabel, "OK"},      {PolyLabel, "Poly: 8"},    {PortaLabel, "Porta: 100"},
        {TimeLabel, "Time: 1.00x"}, {GainLabel, "Gain: 100"}, {DrumLabel, "Ch10:  ---"}, {CopyButton, "Copy"},
        {PasteButton, "Paste"},     {LerpButton, "Lerp"},     {ClampButton, "Clamp"},    {HelpLabel, kHelpText}};
    for (const auto& [control, text] : texts) EXPECT_EQ(windowText(controls[control]), text) << control;
    for (Control c : {StatusLabel, FormulaEdit, HelpLabel}) {
        LOGFONTA font{};
        ASSERT_NE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(controls[c], WM_GETFONT, 0, 0)), sizeof font, &font),
                  0);
        EXPECT_STREQ(font.lfFaceName, "Tahoma");
        EXPECT_EQ(font.lfHeight, fontStyleOf(layoutOf(c).font).height);
        EXPECT_EQ(font.lfWeight, fontStyleOf(layoutOf(c).font).weight);
    }
    dispatch(effEditClose);
}

TEST_F(EditorWindowTest, TwoInstancesRegisterTwoClassesAndOpenSideBySide) {
    openEditor();
    AEffect* second = library->entry("VSTPluginMain")(editorHostCallback);
    HWND otherParent = makeParent(700);
    ASSERT_EQ(second->dispatcher(second, effEditOpen, 0, 0, otherParent, 0.0f), 1);
    HWND otherMain = GetWindow(otherParent, GW_CHILD);
    ASSERT_NE(otherMain, nullptr);
    EXPECT_NE(className(main), className(otherMain));
    second->dispatcher(second, effEditClose, 0, 0, nullptr, 0.0f);
    second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f);
    DestroyWindow(otherParent);
    dispatch(effEditClose);
}

TEST_F(EditorWindowTest, OpenCloseAndOpenAgain) {
    openEditor();
    idle();
    dispatch(effEditClose);
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    dispatch(effEditIdle);  // closed: nothing to draw into
    openEditor();
    EXPECT_EQ(windowText(controls[FormulaEdit]), "0");
    idle();
    EXPECT_EQ(windowText(controls[FormulaEdit]), "P&255");
    EXPECT_EQ(windowText(controls[StatusLabel]), "OK");
    // Closing the instrument with its editor open closes the window first.
    dispatch(effClose);
    effect = nullptr;
    EXPECT_FALSE(IsWindow(main));
}

TEST_F(EditorWindowTest, OpeningTwiceWithoutClosingLeavesOneWindow) {
    openEditor();
    HWND first = main;
    HWND otherParent = makeParent(700);
    ASSERT_EQ(dispatch(effEditOpen, 0, otherParent), 1);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_NE(GetWindow(otherParent, GW_CHILD), nullptr);
    dispatch(effEditClose);
    DestroyWindow(otherParent);
}

TEST_F(EditorWindowTest, RealMouseMessagesChangeTheSettings) {
    openEditor();
    idle();
    SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, clientPoint(PolyLabel));
    SendMessageA(main, WM_MOUSEMOVE, MK_LBUTTON, clientPoint(PolyLabel, -10));
    SendMessageA(main, WM_LBUTTONUP, 0, clientPoint(PolyLabel, -10));
    SendMessageA(main, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), screenPoint(PortaLabel));
    SendMessageA(main, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), screenPoint(GainLabel));
    SendMessageA(main, WM_RBUTTONDOWN, MK_RBUTTON, clientPoint(GainLabel));
    SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, clientPoint(ScopeView));
    SendMessageA(main, WM_LBUTTONUP, 0, clientPoint(ScopeView));
    click(LerpButton);
    click(ClampButton);
    idle();
    const ChunkView state = chunk();
    EXPECT_EQ(state.setting(0), 6);   // polyphony: 10 pixels left, 5 a step
    EXPECT_EQ(state.setting(1), 98);  // portamento: one notch down
    EXPECT_EQ(state.setting(3), 1);   // interpolate on
    EXPECT_EQ(state.setting(4), 0);   // clamp off
    EXPECT_EQ(state.setting(5), 1);   // zoom
    EXPECT_EQ(windowText(controls[PolyLabel]), "Poly: 6");
    EXPECT_EQ(windowText(controls[PortaLabel]), "Porta: 98");
    EXPECT_EQ(windowText(controls[GainLabel]), "Gain: 100");
    dispatch(effEditClose);
}

TEST_F(EditorWindowTest, TypingCopyAndPaste) {
    openEditor();
    idle();
    SendMessageA(controls[FormulaEdit], EM_SETSEL, 0, -1);
    type("t*p");
    EXPECT_EQ(windowText(controls[FormulaEdit]), "T*P");
    idle();
    EXPECT_EQ(windowText(controls[StatusLabel]), "OK");
    EXPECT_EQ(chunk().formula0(), "T*P");
    type("#");
    idle();
    EXPECT_EQ(windowText(controls[StatusLabel]), "Unexpected symbol during parsing");

    click(CopyButton);
    ASSERT_TRUE(OpenClipboard(nullptr));
    const char* copied = static_cast<const char*>(GlobalLock(GetClipboardData(CF_TEXT)));
    EXPECT_STREQ(copied, "T*P#");
    GlobalUnlock(GetClipboardData(CF_TEXT));
    EmptyClipboard();
    const std::string pasted = "(P&256?P:~P)&255";
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, pasted.size() + 1);
    std::memcpy(GlobalLock(block), pasted.c_str(), pasted.size() + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
    click(PasteButton);
    idle();
    EXPECT_EQ(windowText(controls[FormulaEdit]), pasted);
    EXPECT_EQ(windowText(controls[StatusLabel]), "OK");
    EXPECT_EQ(chunk().formula0(), pasted);
    dispatch(effEditClose);
}

// Saves the window's pixels as a PNG with GDI+, and returns them as 0xRRGGBB.
std::vector<uint32_t> captureWindow(HWND window, int w, int h, const wchar_t* path) {
    HDC windowDC = GetDC(window);
    HDC dc = CreateCompatibleDC(windowDC);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDC, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, windowDC, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    GetDIBits(dc, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& p : pixels) p &= 0xFFFFFF;

    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    {
        Gdiplus::Bitmap image(bitmap, nullptr);
        const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        image.Save(path, &png, nullptr);
    }
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(window, windowDC);
    return pixels;
}

uint32_t rgbOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

TEST_F(EditorWindowTest, TheScreenShowsWhatTheHeadlessBackendDraws) {
    openEditor();
    idle();
    click(ClampButton);  // off: the saw's columns rise from 0 to 63
    idle();
    SetForegroundWindow(parent);
    idle();
    const std::vector<uint32_t> screen = captureWindow(main, kWidth, kHeight, L"editor.png");

    // The same state through the headless backend.
    auto synth = std::make_unique<engine::Instrument>();
    auto owned = std::make_unique<HeadlessPlatform>();
    HeadlessPlatform* headless = owned.get();
    GUI gui(*synth, std::move(owned));
    synth->setSetting(engine::Setting::Clamp, 0);
    ASSERT_TRUE(gui.open(nullptr));
    gui.tick();
    headless->paint();

    const uint32_t ink = rgbOf(GetSysColor(COLOR_WINDOWTEXT));
    const Rect scope = layoutOf(ScopeView).rect;
    int compared = 0;
    for (int n = 30; n < kScopeWidth; ++n) {
        int shown = 0, drawn = 0;
        while (shown < kScopeHeight && screen[(scope.top + kScopeHeight - 1 - shown) * kWidth + scope.left + n] == ink)
            ++shown;
        while (drawn < kScopeHeight &&
               headless->scope.at(n, kScopeHeight - 1 - drawn) == defaultColor(SysColor::WindowText))
            ++drawn;
        EXPECT_EQ(shown, drawn) << "scope column " << n;
        compared += drawn > 0;
    }
    EXPECT_GT(compared, 400);

    const uint32_t bar = rgbOf(GetSysColor(COLOR_SCROLLBAR));
    for (Control c : {GainLabel, PolyLabel, ClampButton, LerpButton}) {
        const Rect r = layoutOf(c).rect;
        const int y = r.top + r.height() - 4;  // below the label's text
        int shown = 2, drawn = 2;
        while (shown < r.width() && screen[y * kWidth + r.left + shown] == bar) ++shown;
        while (drawn < r.width() && headless->window.at(r.left + drawn, y) == defaultColor(SysColor::ScrollBar))
            ++drawn;
        EXPECT_EQ(shown, drawn) << "bar of control " << c;
    }
    dispatch(effEditClose);
}

// What the process holds of the window system: the counts of GDI and USER objects
// (Windows keeps them; wine answers 0), the next USER handle slot (freed window handles
// are reused, so windows left behind push it on) and the memory that a scope bitmap or
// a drawing context left behind would take.
struct Holdings {
    DWORD gdiObjects, userObjects;
    uintptr_t userSlot;
    SIZE_T memory;
    static Holdings now(HWND parent) {
        HWND window = CreateWindowExA(0, "static", "", WS_CHILD, 0, 0, 1, 1, parent, nullptr, nullptr, nullptr);
        const uintptr_t slot = reinterpret_cast<uintptr_t>(window) & 0xFFFF;
        DestroyWindow(window);
        PROCESS_MEMORY_COUNTERS_EX counters{};
        GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters);
        return {GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS),
                GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), slot, counters.WorkingSetSize};
    }
};

TEST_F(EditorWindowTest, OpeningAndClosingLeavesNoWindowSystemObjectsBehind) {
    auto cycle = [&] {
        ASSERT_EQ(dispatch(effEditOpen, 0, parent), 1);
        dispatch(effEditIdle);
        pump();
        RedrawWindow(GetWindow(parent, GW_CHILD), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        dispatch(effEditClose);
        pump();
    };
    // The first cycles settle the system's own caches (fonts, brushes).
    for (int i = 0; i < 20; ++i) cycle();
    const Holdings before = Holdings::now(parent);
    for (int i = 0; i < 200; ++i) cycle();
    const Holdings after = Holdings::now(parent);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_EQ(after.userObjects, before.userObjects);
    EXPECT_EQ(after.userSlot, before.userSlot) << "windows left behind";
    // One scope bitmap alone is 148 KB: 200 of them would be 30 MB.
    EXPECT_LT(after.memory, before.memory + 2 * 1024 * 1024);
    std::printf(
        "200 open/close cycles: GDI objects %lu -> %lu, USER objects %lu -> %lu, next window slot %#lx -> %#lx, "
        "working set %lu KB -> %lu KB\n",
        before.gdiObjects, after.gdiObjects, before.userObjects, after.userObjects,
        static_cast<unsigned long>(before.userSlot), static_cast<unsigned long>(after.userSlot),
        static_cast<unsigned long>(before.memory / 1024), static_cast<unsigned long>(after.memory / 1024));
}

// The CLAP plug-in's editor in a host without timers: it asks for main-thread callbacks,
// a click reaches the host as a gesture, and destroying it leaves nothing behind.
TEST_F(EditorWindowTest, TheClapEditorInAHostWithoutTimers) {
    static std::atomic<int> callbacks{0};
    static const clap_host_t host = {CLAP_VERSION_INIT,
                                     nullptr,
                                     "test host",
                                     "Bytone",
                                     "",
                                     "1",
                                     [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                                     [](const clap_host_t*) {},
                                     [](const clap_host_t*) {},
                                     [](const clap_host_t*) { ++callbacks; }};
    PluginLibrary clapLibrary(BYTONE_CLAP_PATH);
    ASSERT_TRUE(clapLibrary.loaded()) << clapLibrary.error();
    const auto* entry = static_cast<const clap_plugin_entry_t*>(clapLibrary.symbol("clap_entry"));
    ASSERT_TRUE(entry && entry->init(BYTONE_CLAP_PATH));
    const auto* factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host, "com.bytone.bytone");
    ASSERT_TRUE(plugin && plugin->init(plugin));
    const auto* gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    const auto* params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    ASSERT_TRUE(gui && params);
    EXPECT_TRUE(gui->is_api_supported(plugin, CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, false));

    auto cycle = [&](bool clickLerp) {
        ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_WIN32, false));
        clap_window_t window{CLAP_WINDOW_API_WIN32, {}};
        window.win32 = parent;
        ASSERT_TRUE(gui->set_parent(plugin, &window));
        ASSERT_TRUE(gui->show(plugin));
        main = GetWindow(parent, GW_CHILD);
        ASSERT_NE(main, nullptr);
        findControls();
        const int asked = callbacks;
        for (int i = 0; i < 50 && callbacks == asked; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GT(callbacks, asked) << "no main-thread callback asked for";
        plugin->on_main_thread(plugin);
        pump();
        if (clickLerp) {
            click(LerpButton);
            std::vector<uint16_t> types;
            const clap_output_events_t out{&types, [](const clap_output_events_t* l, const clap_event_header_t* e) {
                                               static_cast<std::vector<uint16_t>*>(l->ctx)->push_back(e->type);
                                               return true;
                                           }};
            params->flush(plugin, nullptr, &out);
            EXPECT_EQ(types, (std::vector<uint16_t>{CLAP_EVENT_PARAM_GESTURE_BEGIN, CLAP_EVENT_PARAM_VALUE,
                                                    CLAP_EVENT_PARAM_GESTURE_END}));
        }
        gui->hide(plugin);
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
        gui->destroy(plugin);
        pump();
    };
    cycle(true);
    const Holdings before = Holdings::now(parent);
    for (int i = 0; i < 20; ++i) cycle(false);
    const Holdings after = Holdings::now(parent);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_EQ(after.userObjects, before.userObjects);
    plugin->destroy(plugin);
    entry->deinit();
}

// The VST3 plug-in's editor in a HWND: its own timer ticks it, a click reaches the host
// as an edit, and removing it leaves no window.
TEST_F(EditorWindowTest, TheVst3EditorInAWindow) {
    struct HandlerTable {
        v3_funknown unknown;
        v3_component_handler handler;
    };
    static std::vector<std::string> edits;
    static const HandlerTable handlerTable = {
        {[](void*, const v3_tuid, void** out) -> v3_result {
             *out = nullptr;
             return V3_NO_INTERFACE;
         },
         [](void*) -> uint32_t { return 1; }, [](void*) -> uint32_t { return 1; }},
        {[](void*, v3_param_id id) -> v3_result {
             edits.push_back("begin " + std::to_string(id));
             return V3_OK;
         },
         [](void*, v3_param_id id, double) -> v3_result {
             edits.push_back("perform " + std::to_string(id));
             return V3_OK;
         },
         [](void*, v3_param_id id) -> v3_result {
             edits.push_back("end " + std::to_string(id));
             return V3_OK;
         },
         [](void*, int32_t) -> v3_result { return V3_OK; }},
    };
    struct {
        const HandlerTable* table;
    } handler{&handlerTable};

    PluginLibrary vst3Library(BYTONE_VST3_PATH);
    ASSERT_TRUE(vst3Library.loaded()) << vst3Library.error();
    auto** factory =
        static_cast<v3_plugin_factory**>(reinterpret_cast<void* (*)()>(vst3Library.symbol("GetPluginFactory"))());
    v3_class_info info{};
    ASSERT_EQ(v3_cpp_obj(factory)->get_class_info(factory, 0, &info), V3_OK);
    void* out = nullptr;
    ASSERT_EQ(v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_edit_controller_iid, &out), V3_OK);
    auto** controller = static_cast<v3_edit_controller**>(out);
    ASSERT_EQ(reinterpret_cast<v3_edit_controller_cpp*>(*controller)->base.initialize(controller, nullptr), V3_OK);
    v3_cpp_obj(controller)->set_component_handler(controller, reinterpret_cast<v3_component_handler**>(&handler));

    v3_plugin_view** view = v3_cpp_obj(controller)->create_view(controller, "editor");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(v3_cpp_obj(view)->is_platform_type_supported(view, V3_VIEW_PLATFORM_TYPE_HWND), V3_TRUE);
    EXPECT_NE(v3_cpp_obj(view)->is_platform_type_supported(view, V3_VIEW_PLATFORM_TYPE_X11), V3_TRUE);
    ASSERT_EQ(v3_cpp_obj(view)->attached(view, parent, V3_VIEW_PLATFORM_TYPE_HWND), V3_OK);
    main = GetWindow(parent, GW_CHILD);
    ASSERT_NE(main, nullptr);
    findControls();
    // The timer's ticks fill the labels: the window shows the settings without any idle call.
    for (int i = 0; i < 40 && windowText(controls[GainLabel]) != "Gain: 100"; ++i) {
        Sleep(10);
        pump();
    }
    EXPECT_EQ(windowText(controls[GainLabel]), "Gain: 100");
    click(LerpButton);
    EXPECT_EQ(edits, (std::vector<std::string>{"begin 4", "perform 4", "end 4"}));
    EXPECT_EQ(v3_cpp_obj(controller)->get_parameter_normalised(controller, 4), 1.0);
    EXPECT_EQ(v3_cpp_obj(view)->removed(view), V3_OK);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_EQ(reinterpret_cast<v3_funknown*>(*view)->unref(view), 0u);
    v3_cpp_obj(controller)->set_component_handler(controller, nullptr);
    reinterpret_cast<v3_edit_controller_cpp*>(*controller)->base.terminate(controller);
    EXPECT_EQ(reinterpret_cast<v3_funknown*>(*controller)->unref(controller), 0u);
    reinterpret_cast<v3_funknown*>(*factory)->unref(factory);
}

}  // namespace
