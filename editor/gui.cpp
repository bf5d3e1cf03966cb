#include "gui.h"

#include <algorithm>
#include <cstring>

#include "../engine/random.h"
#include "status_text.h"

namespace editor {

namespace {

// Each value label, its setting's steps per drag pixel and per wheel unit, and its range.
struct LabelRule {
    Control label;
    int dragDivisor;
    int wheelDivisor;
    int32_t lowest;
    int32_t highest;
};
constexpr LabelRule kLabelRules[] = {
    {PolyLabel, 5, 120, 1, 8},  {PortaLabel, 2, 60, 1, 100},  {TimeLabel, 2, 120, 1, 100},
    {GainLabel, 2, 60, 1, 200}, {DrumLabel, 2, 120, 23, 191},
};

}  // namespace

GUI::GUI(Bytone& instrument, std::unique_ptr<EditorPlatform> platform)
    : AEffEditor(nullptr), instrument(instrument), platform_(std::move(platform)) {
    platform_->attach(*this);
    instrument.programDisplay = this;
}

GUI::~GUI() {
    if (windowOpen_) close();
    instrument.programDisplay = nullptr;
}

bool GUI::getRect(ERect** where) {
    if (!where) return false;
    *where = &rect;
    return true;
}

bool GUI::open(void* ptr) {
    // A host that opens the editor again without closing it gets one window, in the new
    // parent: the old one is closed first.
    if (windowOpen_) close();
    parentWindow = ptr;
    if (!platform_->open(ptr, *this)) return false;
    windowOpen_ = true;
    boxProgram_ = instrument.currentProgram;
    dragTarget = kControlCount;
    refreshPending = true;
    reloadFormula = true;
    return true;
}

void GUI::close() {
    if (windowOpen_) platform_->close();
    windowOpen_ = false;
    parentWindow = nullptr;
}

void GUI::requestReload() {
    reloadFormula = true;
    refreshPending = true;
}

void GUI::requestRefresh() {
    refreshPending = true;
    reloadFormula = false;
}

void GUI::idle() {
    if (windowOpen_) platform_->handleEvents();
    // An input may have cancelled the load that a program change asked for; the box is
    // loaded all the same once it shows another program than the current one.
    const bool reload = reloadFormula.exchange(false);
    if (windowOpen_ && (reload || boxProgram_ != instrument.currentProgram)) {
        std::string formula;
        {
            std::lock_guard<std::mutex> hold(instrument.bankLock);
            boxProgram_ = instrument.currentProgram;
            formula = instrument.programs[boxProgram_].formula;
        }
        platform_->setText(FormulaEdit, formula);
    }
    if (refreshPending.exchange(false)) refresh();
    if (windowOpen_) platform_->present();
}

void GUI::refresh() {
    const char* message;
    {
        std::lock_guard<std::mutex> hold(instrument.bankLock);
        message = instrument.compileDirtyPrograms();
        if (windowOpen_) drawScope(platform_->scopeCanvas());
    }
    if (windowOpen_) {
        platform_->setText(StatusLabel, message ? message : "OK");
        platform_->setText(PolyLabel, polyText(instrument.polyphony));
        platform_->setText(PortaLabel, portaText(instrument.portamento));
        platform_->setText(TimeLabel, timeText(instrument.timeScale));
        platform_->setText(GainLabel, gainText(instrument.gain));
        platform_->setText(DrumLabel, drumText(instrument.programs[instrument.currentProgram].drumKey));
        for (Control c : {StatusLabel, PolyLabel, PortaLabel, TimeLabel, GainLabel, LerpButton, ClampButton, CopyButton,
                          PasteButton, DrumLabel, ScopeView})
            platform_->invalidate(c);
    }
    instrument.updateDisplay();
}

// The caller holds the instrument's bankLock: the scope runs the current program in a
// record of the compiling side.
void GUI::drawScope(Canvas& canvas) {
    canvas.setBrushColor(SysColor::ButtonFace);
    canvas.setPenColor(SysColor::ButtonFace);
    canvas.roundRect(0, 0, kScopeWidth, kScopeHeight, 0, 0);
    canvas.setBrushColor(SysColor::WindowText);
    canvas.setPenColor(SysColor::WindowText);

    const int32_t zoom = std::clamp<int32_t>(instrument.scopeZoom, 0, 7);
    const int64_t step = (int64_t{1} << zoom) + 4;
    const bool clamp = instrument.clampOutput;
    const int32_t program = instrument.currentProgram;
    CompiledExpression& code = instrument.scopeRecord(program);
    code.variable('V') = 128;
    code.variable('M') = 0;
    for (int n = 0; n < kScopeWidth; ++n) {
        const int64_t p = step * n;
        code.variable('T') = 8 * p;
        code.variable('P') = p;
        code.variable('R') = random15::next();
        code.variable('S') = sineReading(instrument.sineTable, p, 0);
        code.variable('C') = sineReading(instrument.sineTable, p, 64);
        const auto v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(runExpression(code) / 4)));
        const int32_t h = clamp ? std::clamp<int32_t>(v, 0, kScopeWidth) : v % kScopeWidth;
        canvas.line(n, kScopeHeight - h, n, kScopeHeight);
    }
    instrument.keepScopeResult(program);

    const std::string label = zoomText(zoom);
    canvas.setTextColor(SysColor::ButtonFace);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) canvas.textOut(4 + i, 43 + j, label);
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

    int value = 0, maximum = w - 4;
    switch (control) {
        case GainLabel: value = instrument.gain, maximum = 200; break;
        case PolyLabel: value = instrument.polyphony, maximum = 8; break;
        case PortaLabel: value = instrument.portamento, maximum = 100; break;
        case TimeLabel: value = instrument.timeScale, maximum = 100; break;
        case LerpButton: value = instrument.interpolate ? 1 : 0, maximum = 1; break;
        case ClampButton: value = instrument.clampOutput ? 1 : 0, maximum = 1; break;
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
        default: break;
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

namespace {

std::atomic<int32_t>& settingOf(Bytone& instrument, Control label) {
    switch (label) {
        case PolyLabel: return instrument.polyphony;
        case PortaLabel: return instrument.portamento;
        case TimeLabel: return instrument.timeScale;
        case GainLabel: return instrument.gain;
        default: return instrument.programs[instrument.currentProgram].drumKey;
    }
}

}  // namespace

// The audio thread reads the settings at any moment, so each one only ever holds a value
// in its range: the step is added and the sum clamped before the one store.
void GUI::stepSettings(Control label, int step) {
    for (const LabelRule& rule : kLabelRules) {
        std::atomic<int32_t>& setting = settingOf(instrument, rule.label);
        const int64_t value = int64_t{setting.load()} + (rule.label == label ? step : 0);
        setting = static_cast<int32_t>(std::clamp<int64_t>(value, rule.lowest, rule.highest));
    }
}

void GUI::leftButtonDown(Point point) {
    mousePoint = point;
    lastMousePoint = mousePoint;
    dragTarget = kControlCount;
    for (const LabelRule& rule : kLabelRules)
        if (isOverControl(rule.label)) dragTarget = rule.label;
    if (isOverControl(ScopeView)) {
        instrument.scopeZoom = (instrument.scopeZoom + 1) & 7;
        requestRefresh();
    }
    if (dragTarget != kControlCount) platform_->captureMouse();
}

void GUI::mouseMove(Point point) {
    mousePoint = point;
    if (dragTarget == kControlCount) return;
    const int dx = mousePoint.x - lastMousePoint.x;
    lastMousePoint = mousePoint;
    for (const LabelRule& rule : kLabelRules)
        if (rule.label == dragTarget) stepSettings(rule.label, dx / rule.dragDivisor);
    requestRefresh();
}

void GUI::leftButtonUp() {
    platform_->releaseMouse();
    dragTarget = kControlCount;
}

void GUI::rightButtonDown(Point point) {
    mousePoint = point;
    struct Reset {
        Control label;
        int32_t value;
    };
    for (const Reset& reset : {Reset{TimeLabel, 50}, Reset{PolyLabel, 8}, Reset{PortaLabel, 100}, Reset{GainLabel, 100},
                               Reset{DrumLabel, 0}}) {
        if (!isOverControl(reset.label)) continue;
        settingOf(instrument, reset.label) = reset.value;
        requestRefresh();
    }
    if (isOverControl(ScopeView)) {
        instrument.scopeZoom = (instrument.scopeZoom - 1) & 7;
        requestRefresh();
    }
}

void GUI::wheel(Point point, int delta) {
    mousePoint = point;
    Control over = kControlCount;
    int step = 0;
    for (const LabelRule& rule : kLabelRules)
        if (isOverControl(rule.label)) {
            over = rule.label;
            step = delta / rule.wheelDivisor;
        }
    stepSettings(over, step);
    requestRefresh();
}

void GUI::setSetting(Control label, int32_t value) {
    const int64_t step = int64_t{value} - settingOf(instrument, label).load();
    stepSettings(label, static_cast<int>(std::clamp<int64_t>(step, -65536, 65536)));
    requestRefresh();
}

void GUI::storeFormula(const std::string& text) {
    std::lock_guard<std::mutex> hold(instrument.bankLock);
    ProgramSlot& slot = instrument.programs[boxProgram_];
    const size_t length = std::min(text.size(), sizeof slot.formula - 1);
    std::memcpy(slot.formula, text.data(), length);
    slot.formula[length] = '\0';
    slot.needsCompile = true;
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
        case kLerpId:
            instrument.interpolate = !instrument.interpolate;
            requestRefresh();
            break;
        case kClampId:
            instrument.clampOutput = !instrument.clampOutput;
            requestRefresh();
            break;
        default: break;
    }
}

}  // namespace editor
