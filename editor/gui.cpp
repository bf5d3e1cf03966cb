#include "gui.h"

#include <algorithm>
#include <cstring>

#include "../engine/random.h"

namespace editor {

namespace {

using engine::Setting;
using engine::settingInfo;

}  // namespace

GUI::GUI(engine::Instrument& instrument, std::unique_ptr<EditorPlatform> platform)
    : instrument(instrument), platform_(std::move(platform)) {
    platform_->attach(*this);
    instrument.setProgramDisplay(this);
}

GUI::~GUI() {
    if (windowOpen_) close();
    instrument.setProgramDisplay(nullptr);
}

bool GUI::open(void* parent) {
    // A host that opens the editor again without closing it gets one window, in the new
    // parent: the old one is closed first.
    if (windowOpen_) close();
    if (!platform_->open(parent, *this)) return false;
    windowOpen_ = true;
    boxProgram_ = instrument.program();
    dragTarget = kControlCount;
    refreshPending = true;
    reloadFormula = true;
    return true;
}

void GUI::close() {
    if (windowOpen_) platform_->close();
    windowOpen_ = false;
}

void GUI::requestReload() {
    reloadFormula = true;
    refreshPending = true;
}

void GUI::requestRefresh() {
    refreshPending = true;
    reloadFormula = false;
}

void GUI::tick() {
    if (windowOpen_) platform_->handleEvents();
    // An input may have cancelled the load that a program change asked for; the box is
    // loaded all the same once it shows another program than the current one.
    const bool reload = reloadFormula.exchange(false);
    if (windowOpen_ && (reload || boxProgram_ != instrument.program())) {
        std::string formula;
        {
            std::lock_guard<std::mutex> hold(instrument.bankLock());
            boxProgram_ = instrument.program();
            formula = instrument.formulaOf(boxProgram_);
        }
        platform_->setText(FormulaEdit, formula);
    }
    for (int i = 0; windowOpen_ && i < engine::kSettingCount; ++i)
        if (instrument.setting(static_cast<Setting>(i)) != shownSettings_[i]) refreshPending = true;
    if (refreshPending.exchange(false)) refresh();
    if (windowOpen_) platform_->present();
}

void GUI::refresh() {
    const char* message;
    {
        std::lock_guard<std::mutex> hold(instrument.bankLock());
        message = instrument.compileDirtyPrograms();
        if (windowOpen_) drawScope(platform_->scopeCanvas());
    }
    if (windowOpen_) {
        for (int i = 0; i < engine::kSettingCount; ++i) shownSettings_[i] = instrument.setting(static_cast<Setting>(i));
        platform_->setText(StatusLabel, message ? message : "OK");
        for (const SettingControl& shown : kSettingControls)
            if (isValueLabel(shown))
                platform_->setText(shown.control,
                                   engine::settingText(shown.setting, instrument.setting(shown.setting)));
        for (int c = 0; c < controlCount(); ++c)
            if (c != FormulaEdit && c != HelpLabel) platform_->invalidate(static_cast<Control>(c));
    }
    instrument.announceDisplay();
}

// The caller holds the instrument's bankLock: the scope runs the current program in a
// record of the compiling side.
void GUI::drawScope(Canvas& canvas) {
    canvas.setBrushColor(SysColor::ButtonFace);
    canvas.setPenColor(SysColor::ButtonFace);
    canvas.roundRect(0, 0, kScopeWidth, kScopeHeight, 0, 0);
    canvas.setBrushColor(SysColor::WindowText);
    canvas.setPenColor(SysColor::WindowText);

    const int32_t zoom = std::clamp<int32_t>(instrument.setting(Setting::ScopeZoom), 0, 7);
    const int64_t step = (int64_t{1} << zoom) + 4;
    const bool clamp = instrument.setting(Setting::Clamp) != 0;
    const int32_t program = instrument.program();
    CompiledExpression& code = instrument.scopeRecord(program);
    code.variable('V') = 128;
    code.variable('M') = 0;
    // The words as a held note of key 69 from the song's start, its time the song's.
    for (Word w : {Word::Bar, Word::Start, Word::Pressure}) code.word(w) = 0;
    code.word(Word::Note) = 69;
    code.word(Word::Gate) = 1;
    code.word(Word::Timbre) = 64;
    // A stereo formula's right side: a trace over the left side's columns.
    CompiledExpression* right = instrument.scopeRight();
    const auto heightOf = [clamp](int64_t value) {
        const auto v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value / 4)));
        return clamp ? std::clamp<int32_t>(v, 0, kScopeWidth) : v % kScopeWidth;
    };
    int32_t traced = -1;
    for (int n = 0; n < kScopeWidth; ++n) {
        const int64_t p = step * n;
        code.variable('T') = 8 * p;
        code.word(Word::Beat) = 8 * p;
        code.variable('P') = p;
        code.variable('R') = scopeRandom_.next();
        code.variable('S') = sineReading(instrument.sineTable(), p, 0);
        code.variable('C') = sineReading(instrument.sineTable(), p, 64);
        canvas.line(n, kScopeHeight - heightOf(runExpression(code)), n, kScopeHeight);
        if (!right) continue;
        std::copy(std::begin(code.variables), std::end(code.variables), right->variables);
        const int32_t h = heightOf(runExpression(*right));
        canvas.setPenColor(SysColor::Window);
        canvas.line(n, kScopeHeight - (traced < 0 ? h : traced), n, kScopeHeight - h);
        canvas.line(n, kScopeHeight - h, n + 1, kScopeHeight - h);
        canvas.setPenColor(SysColor::WindowText);
        traced = h;
    }
    instrument.keepScopeResult(program);

    const std::string label = engine::settingText(Setting::ScopeZoom, zoom);
    if (instrument.language() == Language::Extended) {
        // The label in a box of its own, which no wave hides.
        canvas.setBrushColor(SysColor::ButtonFace);
        canvas.setPenColor(SysColor::WindowText);
        canvas.roundRect(2, 42, 8 + 8 * static_cast<int>(label.size()), 59, 0, 0);
    } else {
        canvas.setTextColor(SysColor::ButtonFace);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) canvas.textOut(4 + i, 43 + j, label);
    }
    canvas.setTextColor(SysColor::WindowText);
    canvas.textOut(5, 44, label);
}

void GUI::drawControl(Control control, Canvas& canvas, int w, int h) {
    canvas.setBrushColor(SysColor::Window);
    canvas.setPenColor(SysColor::Window);
    canvas.roundRect(0, 0, w, h, 0, 0);
    canvas.setBrushColor(SysColor::ButtonFace);
    canvas.setPenColor(SysColor::WindowText);
    canvas.roundRect(0, 0, w, h, 5, 5);

    // The bar of a setting shows its value against its highest; the drum label has none.
    int value = 0, maximum = w - 4;
    switch (control) {
        case DrumLabel: break;
        case CopyButton:
        case PasteButton: {
            bool& flash = control == CopyButton ? copyFlash : pasteFlash;
            if (flash) {
                // A full bar for this one refresh; the refresh it asks for paints it plain.
                flash = false;
                value = 1, maximum = 1;
                requestRefresh();
            }
            break;
        }
        default:
            for (const SettingControl& shown : kSettingControls)
                if (shown.control == control) {
                    value = instrument.setting(shown.setting);
                    maximum = settingInfo(shown.setting).highest;
                }
            break;
    }
    const int64_t barRight = 2 + int64_t{value} * (w - 4) / maximum;
    canvas.setBrushColor(SysColor::ScrollBar);
    canvas.setPenColor(SysColor::ScrollBar);
    canvas.roundRect(2, 2, static_cast<int>(std::clamp<int64_t>(barRight, -32768, 32767)), h - 2, 3, 3);

    const std::string text = platform_->text(control);
    canvas.setTransparentText(true);
    canvas.setTextColor(SysColor::ButtonFace);
    for (int i = 0; i < 9; ++i) canvas.drawTextCentered({-1 + i % 3, 4 + (i / 3) % 3, w, h}, text);
    canvas.setTextColor(SysColor::WindowText);
    canvas.drawTextCentered({0, 5, w, h}, text);
}

bool GUI::isOverControl(Control control) { return platform_->screenRect(control).contains(mousePoint.x, mousePoint.y); }

// The audio thread reads the settings at any moment, so each one only ever holds a value
// in its range: the step is added and the sum clamped before the one store.
void GUI::stepSettings(Control label, int64_t units) {
    for (const SettingControl& shown : kSettingControls) {
        if (!isValueLabel(shown)) continue;
        const engine::SettingInfo& info = settingInfo(shown.setting);
        const int64_t value = int64_t{instrument.setting(shown.setting)} + (shown.control == label ? units : 0);
        changeSetting(shown.setting, static_cast<int32_t>(std::clamp<int64_t>(value, info.lowest, info.highest)));
    }
}

void GUI::changeSetting(Setting setting, int32_t value) {
    const int32_t before = instrument.setting(setting);
    instrument.setSetting(setting, value);
    const int32_t now = instrument.setting(setting);
    if (settingListener_ && now != before) settingListener_->settingEdited(setting, now);
}

void GUI::tellGesture(Control label, bool begins) {
    if (!settingListener_) return;
    for (const SettingControl& shown : kSettingControls) {
        if (shown.control != label) continue;
        if (begins)
            settingListener_->gestureBegan(shown.setting);
        else
            settingListener_->gestureEnded(shown.setting);
    }
}

void GUI::leftButtonDown(Point point) {
    mousePoint = point;
    lastMousePoint = mousePoint;
    dragTarget = kControlCount;
    for (const SettingControl& shown : kSettingControls)
        if (isValueLabel(shown) && isOverControl(shown.control)) dragTarget = shown.control;
    if (isOverControl(ScopeView)) {
        changeSetting(Setting::ScopeZoom, (instrument.setting(Setting::ScopeZoom) + 1) & 7);
        requestRefresh();
    }
    if (dragTarget != kControlCount) {
        platform_->captureMouse();
        tellGesture(dragTarget, true);
    }
}

void GUI::mouseMove(Point point) {
    mousePoint = point;
    if (dragTarget == kControlCount) return;
    const int dx = mousePoint.x - lastMousePoint.x;
    lastMousePoint = mousePoint;
    for (const SettingControl& shown : kSettingControls) {
        const engine::SettingInfo& info = settingInfo(shown.setting);
        if (shown.control == dragTarget) stepSettings(dragTarget, int64_t{dx / info.dragDivisor} * info.stepUnits);
    }
    requestRefresh();
}

void GUI::leftButtonUp() {
    platform_->releaseMouse();
    tellGesture(dragTarget, false);
    dragTarget = kControlCount;
}

void GUI::rightButtonDown(Point point) {
    mousePoint = point;
    for (const SettingControl& shown : kSettingControls) {
        if (!isValueLabel(shown) || !isOverControl(shown.control)) continue;
        changeSetting(shown.setting, settingInfo(shown.setting).defaultValue);
        requestRefresh();
    }
    if (isOverControl(ScopeView)) {
        changeSetting(Setting::ScopeZoom, (instrument.setting(Setting::ScopeZoom) - 1) & 7);
        requestRefresh();
    }
}

void GUI::wheel(Point point, int delta) {
    mousePoint = point;
    Control over = kControlCount;
    int64_t units = 0;
    for (const SettingControl& shown : kSettingControls)
        if (isValueLabel(shown) && isOverControl(shown.control)) {
            const engine::SettingInfo& info = settingInfo(shown.setting);
            over = shown.control;
            units = int64_t{delta / info.wheelDivisor} * info.stepUnits;
        }
    stepSettings(over, units);
    requestRefresh();
}

void GUI::setSetting(Setting setting, int32_t value) {
    const Control control = controlOf(setting);
    const engine::SettingInfo& info = settingInfo(setting);
    if (control < controlCount() && layoutOf(control).kind == ControlKind::Clickable) {
        if ((instrument.setting(setting) != 0) != (value != 0)) buttonClicked(layoutOf(control).commandId);
        return;
    }
    if (control >= controlCount())  // none, or not in this window
        changeSetting(setting, std::clamp(value, info.lowest, info.highest));
    else
        stepSettings(control, int64_t{value} - instrument.setting(setting));
    requestRefresh();
}

void GUI::storeFormula(const std::string& text) {
    std::lock_guard<std::mutex> hold(instrument.bankLock());
    instrument.storeFormula(boxProgram_, text.data(), text.size());
}

void GUI::formulaEdited() {
    storeFormula(platform_->text(FormulaEdit));
    requestRefresh();
}

void GUI::buttonClicked(int commandId) {
    switch (commandId) {
        case kCopyId:
            platform_->copyToClipboard(platform_->text(FormulaEdit));
            copyFlash = true;
            requestRefresh();
            break;
        case kPasteId:
            if (const std::optional<std::string> text = platform_->pasteFromClipboard()) {
                platform_->setText(FormulaEdit, *text);
                storeFormula(platform_->text(FormulaEdit));
            }
            pasteFlash = true;
            requestRefresh();
            break;
        default:
            // A switch: its setting toggles.
            for (const SettingControl& shown : kSettingControls)
                if (shows(shown) && layoutOf(shown.control).commandId == commandId) {
                    changeSetting(shown.setting, !instrument.setting(shown.setting));
                    requestRefresh();
                }
            break;
    }
}

}  // namespace editor
