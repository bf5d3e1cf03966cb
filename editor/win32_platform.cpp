// The editor in a Windows host: a child window of a private class with standard
// "static" and "edit" controls, drawn with GDI in the system colours.
#include <windows.h>

#include <commctrl.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "create_editor.h"
#include "gui.h"

namespace editor {

namespace {

// The plug-in library this code was linked into (bytone.dll or bytone.clap), whose
// handle registers the window class.
HINSTANCE thisModule() {
    static const HINSTANCE module = [] {
        HMODULE found = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&thisModule), &found);
        return found;
    }();
    return module;
}

int systemColorIndex(SysColor color) {
    switch (color) {
        case SysColor::ButtonFace: return COLOR_BTNFACE;
        case SysColor::WindowText: return COLOR_WINDOWTEXT;
        case SysColor::Window: return COLOR_WINDOW;
        case SysColor::ScrollBar: return COLOR_SCROLLBAR;
    }
    return COLOR_WINDOW;
}

COLORREF systemColor(SysColor color) { return GetSysColor(systemColorIndex(color)); }

class GdiCanvas : public Canvas {
public:
    explicit GdiCanvas(HDC dc) : dc_(dc) {}
    void setBrushColor(SysColor color) override { SetDCBrushColor(dc_, systemColor(color)); }
    void setPenColor(SysColor color) override { SetDCPenColor(dc_, systemColor(color)); }
    void roundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) override {
        RoundRect(dc_, left, top, right, bottom, cornerWidth, cornerHeight);
    }
    void line(int x0, int y0, int x1, int y1) override {
        MoveToEx(dc_, x0, y0, nullptr);
        LineTo(dc_, x1, y1);
    }
    void setTextColor(SysColor color) override { SetTextColor(dc_, systemColor(color)); }
    void setTransparentText(bool transparent) override { SetBkMode(dc_, transparent ? TRANSPARENT : OPAQUE); }
    void textOut(int x, int y, const std::string& text) override {
        TextOutA(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
    }
    void drawTextCentered(const Rect& rect, const std::string& text) override {
        RECT r{rect.left, rect.top, rect.right, rect.bottom};
        DrawTextA(dc_, text.c_str(), -1, &r, DT_CENTER);
    }

private:
    HDC dc_;
};

LRESULT CALLBACK editorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32Platform : public EditorPlatform {
public:
    ~Win32Platform() override { UnregisterClassA(className_, thisModule()); }

    void attach(GUI& gui) override {
        // Every editor object registers a class of its own, named after its address.
        std::snprintf(className_, sizeof className_, "BYTONE%08x",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(&gui)));
        WNDCLASSA windowClass{};
        windowClass.style = CS_GLOBALCLASS;
        windowClass.lpfnWndProc = editorWindowProc;
        windowClass.hInstance = thisModule();
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = className_;
        RegisterClassA(&windowClass);
    }

    bool open(void* parent, GUI& gui) override {
        InitCommonControls();
        mainWindow_ = CreateWindowExA(0, className_, "Bytone", WS_CHILD | WS_VISIBLE, 0, 0, gui.width(), gui.height(),
                                      static_cast<HWND>(parent), nullptr, thisModule(), &gui);
        if (!mainWindow_) return false;
        SetWindowLongPtrA(mainWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&gui));

        controlCount_ = gui.controlCount();
        for (int i = 0; i < controlCount_; ++i) {
            const auto c = static_cast<Control>(i);
            const ControlLayout& layout = layoutOf(c);
            DWORD style = WS_CHILD | WS_VISIBLE;
            switch (layout.kind) {
                case ControlKind::OwnerDrawn: style |= SS_OWNERDRAW; break;
                case ControlKind::Clickable: style |= SS_OWNERDRAW | SS_NOTIFY; break;
                case ControlKind::Edit: style |= WS_BORDER | ES_MULTILINE | ES_UPPERCASE | ES_AUTOVSCROLL; break;
                case ControlKind::Text: break;
            }
            // Above a strip the help's label ends where the strip begins; its six lines end before.
            const int height = controlCount_ > kClassicControlCount ? visibleRect(c).height() : layout.rect.height();
            controls_[c] = CreateWindowExA(
                0, layout.className, layout.text, style, layout.rect.left, layout.rect.top, layout.rect.width(), height,
                mainWindow_, reinterpret_cast<HMENU>(static_cast<intptr_t>(layout.commandId)), thisModule(), nullptr);
            if (c == FormulaEdit) SendMessageA(controls_[c], EM_LIMITTEXT, 1024, 0);
            if (c == HelpLabel) SetWindowTextA(controls_[c], kHelpText);
        }

        for (Font f : {Font::Status, Font::Edit, Font::Label, Font::Help}) {
            const FontStyle font = fontStyleOf(f);
            fonts_[static_cast<int>(f)] =
                CreateFontA(font.height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
        }
        for (Control c : {StatusLabel, FormulaEdit, HelpLabel})
            SendMessageA(controls_[c], WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(layoutOf(c).font)), TRUE);

        HDC windowDC = GetDC(mainWindow_);
        scopeDC_ = CreateCompatibleDC(windowDC);
        scopeBitmap_ = CreateCompatibleBitmap(windowDC, kScopeWidth, kScopeHeight);
        ReleaseDC(mainWindow_, windowDC);
        SelectObject(scopeDC_, GetStockObject(DC_BRUSH));
        SelectObject(scopeDC_, GetStockObject(DC_PEN));
        SelectObject(scopeDC_, scopeBitmap_);
        SelectObject(scopeDC_, fontOf(Font::Label));
        SetBkMode(scopeDC_, TRANSPARENT);
        scopeCanvas_ = std::make_unique<GdiCanvas>(scopeDC_);
        return true;
    }

    void close() override {
        for (Control c : {StatusLabel, HelpLabel, PolyLabel, PortaLabel, TimeLabel, GainLabel, LerpButton, ClampButton,
                          CopyButton, PasteButton, DrumLabel, FormulaEdit, ScopeView}) {
            DestroyWindow(controls_[c]);
            controls_[c] = nullptr;
        }
        DestroyWindow(mainWindow_);
        mainWindow_ = nullptr;
        for (HFONT& font : fonts_) {
            if (font) DeleteObject(font);
            font = nullptr;
        }
        scopeCanvas_.reset();
        DeleteDC(scopeDC_);
        DeleteObject(scopeBitmap_);
        scopeDC_ = nullptr;
        scopeBitmap_ = nullptr;
    }

    std::string text(Control c) override {
        const int length = GetWindowTextLengthA(controls_[c]);
        std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
        GetWindowTextA(controls_[c], buffer.data(), length + 1);
        return buffer.data();
    }
    void setText(Control c, const std::string& text) override { SetWindowTextA(controls_[c], text.c_str()); }
    void invalidate(Control c) override { InvalidateRect(controls_[c], nullptr, TRUE); }
    Rect screenRect(Control c) override {
        RECT r{};
        GetWindowRect(controls_[c], &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    void captureMouse() override { SetCapture(mainWindow_); }
    void releaseMouse() override { ReleaseCapture(); }
    Canvas& scopeCanvas() override { return *scopeCanvas_; }

    bool copyToClipboard(const std::string& text) override {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 2);
        char* data = block ? static_cast<char*>(GlobalLock(block)) : nullptr;
        if (!data || !OpenClipboard(mainWindow_)) {
            if (data) GlobalUnlock(block);
            if (block) GlobalFree(block);
            return false;
        }
        EmptyClipboard();
        std::memcpy(data, text.c_str(), text.size() + 1);
        data[text.size() + 1] = '\0';
        GlobalUnlock(block);
        SetClipboardData(CF_TEXT, block);  // the clipboard owns the block from here on
        CloseClipboard();
        return true;
    }

    std::optional<std::string> pasteFromClipboard() override {
        OpenClipboard(mainWindow_);
        std::optional<std::string> text;
        if (HANDLE data = GetClipboardData(CF_TEXT)) {
            if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
                text = chars;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        return text;
    }

    // The control that a window handle belongs to, or kControlCount.
    Control controlOf(HWND window) const {
        for (int i = 0; i < controlCount_; ++i)
            if (controls_[i] == window) return static_cast<Control>(i);
        return kControlCount;
    }
    HWND control(Control c) const { return controls_[c]; }
    HDC scopeDC() const { return scopeDC_; }
    HFONT fontOf(Font f) const { return fonts_[static_cast<int>(f)]; }

private:
    char className_[32] = {};
    HWND mainWindow_ = nullptr;
    HWND controls_[kControlCount] = {};
    int controlCount_ = 0;  // the window's: its instrument's
    HFONT fonts_[5] = {};
    HDC scopeDC_ = nullptr;
    HBITMAP scopeBitmap_ = nullptr;
    std::unique_ptr<GdiCanvas> scopeCanvas_;
};

void drawItem(GUI& gui, Win32Platform& platform, const DRAWITEMSTRUCT& item) {
    const Control control = platform.controlOf(item.hwndItem);
    const RECT& r = item.rcItem;
    if (control == ScopeView) {
        BitBlt(item.hDC, r.left, r.top, r.right, r.bottom, platform.scopeDC(), 0, 0, SRCCOPY);
        return;
    }
    if (control == kControlCount) return;
    // Composed off-screen and copied in one transfer.
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC dc = CreateCompatibleDC(item.hDC);
    HBITMAP bitmap = CreateCompatibleBitmap(item.hDC, w, h);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ oldFont = SelectObject(dc, platform.fontOf(Font::Label));
    SetBkMode(dc, OPAQUE);
    GdiCanvas canvas(dc);
    gui.drawControl(control, canvas, w, h);
    BitBlt(item.hDC, r.left, r.top, r.right, r.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

LRESULT CALLBACK editorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* gui = reinterpret_cast<GUI*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // Before open attaches the editor, and for messages without a long parameter (the
    // background erase among them), default processing.
    if (!gui || lParam == 0) return DefWindowProcA(window, message, wParam, lParam);
    auto& platform = static_cast<Win32Platform&>(gui->platform());

    auto clientPoint = [&] {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(window, &p);
        return Point{p.x, p.y};
    };
    switch (message) {
        case WM_DRAWITEM: drawItem(*gui, platform, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        case WM_COMMAND: {
            const int code = HIWORD(wParam);
            if (code == EN_CHANGE) {
                if (reinterpret_cast<HWND>(lParam) == platform.control(FormulaEdit)) gui->formulaEdited();
            } else if (code == 0) {
                gui->buttonClicked(LOWORD(wParam));
            }
            return 0;
        }
        case WM_MOUSEMOVE: gui->mouseMove(clientPoint()); return 0;
        case WM_LBUTTONDOWN: gui->leftButtonDown(clientPoint()); return 0;
        case WM_LBUTTONUP: gui->leftButtonUp(); return 0;
        case WM_RBUTTONDOWN: gui->rightButtonDown(clientPoint()); return 0;
        case WM_MOUSEWHEEL:
            gui->wheel({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

}  // namespace editor

std::unique_ptr<editor::EditorView> createEditor(engine::Instrument& instrument) {
    return std::make_unique<editor::GUI>(instrument, std::make_unique<editor::Win32Platform>());
}
