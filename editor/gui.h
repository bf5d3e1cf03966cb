// The instrument's editor: a 600 x 330 window with the formula box, the status line,
// the oscilloscope, the value labels and four buttons, and for the extended instrument a
// strip below with the settings it adds (layout.h). This is its logic, apart from
// any window system: what `idle` refreshes, how the scope and the labels are drawn
// (onto a Canvas), and what each mouse and command input does. An EditorPlatform
// builds the real window and turns its messages into the calls below.
//
// Threads. Everything here runs on the host's user-interface thread, except
// requestReload, which the instrument calls from whichever thread synchronises its
// display (the audio thread too); the two request flags are atomics. Compilations, the scope's runs of the
// current program and every write of a formula hold the instrument's bankLock, the
// lock of its compiling side; the scope runs a record of that side, never one that the
// audio thread plays.
#pragma once

#include <atomic>
#include <memory>

#include "../engine/instrument.h"
#include "editor_platform.h"
#include "editor_view.h"

namespace editor {

class GUI : public EditorView, public engine::ProgramDisplay {
public:
    GUI(engine::Instrument& instrument, std::unique_ptr<EditorPlatform> platform);
    // Closes the window first if it is still open.
    ~GUI() override;

    int width() const override { return kWidth * platform_->scale(); }
    int height() const override { return heightOf(instrument.language()) * platform_->scale(); }
    // The controls the window has: those from 0 to controlCount() - 1.
    int controlCount() const { return controlCountOf(instrument.language()); }
    // Builds the window inside the host's window `parent`; false if it cannot be made.
    bool open(void* parent) override;
    void close() override;
    // Loads the formula box when asked to, and on a pending refresh compiles, shows the
    // status, redraws the scope and rewrites every label. While the window is closed it
    // compiles and tells the host but touches no window.
    void tick() override;
    int connectionFd() const override { return windowOpen_ ? platform_->connectionFd() : -1; }
    uintptr_t window() const override { return windowOpen_ ? platform_->window() : 0; }
    void setSettingListener(SettingListener* listener) override { settingListener_ = listener; }
    void requestReload() override;

    // Draws one of the value labels, buttons or the drum label into a w x h canvas, as
    // the platform paints it.
    void drawControl(Control control, Canvas& canvas, int w, int h);

    // Input, as the platform receives it; points in screen coordinates.
    void leftButtonDown(Point point);
    void mouseMove(Point point);
    void leftButtonUp();
    void rightButtonDown(Point point);
    void wheel(Point point, int delta);
    void buttonClicked(int commandId);
    // The user changed the text of the formula box.
    void formulaEdited();
    // Sets a setting (as a shared link of the web page gives it), brought into its range
    // as a drag or wheel of its value label brings it, or as a click of its button toggles it.
    void setSetting(engine::Setting setting, int32_t value);

    EditorPlatform& platform() { return *platform_; }
    bool isOpen() const { return windowOpen_; }

    engine::Instrument& instrument;
    std::atomic<bool> refreshPending{false};
    std::atomic<bool> reloadFormula{false};
    bool copyFlash = false;
    bool pasteFlash = false;
    Control dragTarget = kControlCount;  // none
    Point mousePoint{0, 0};
    Point lastMousePoint{0, 0};

private:
    bool isOverControl(Control control);
    // Draws the scope into the platform's scope surface; the caller holds the bank lock.
    void drawScope(Canvas& canvas);
    // Compiles, shows the status, redraws the scope and rewrites every label.
    void refresh();
    // Adds `units` to the setting of value label `label` (none for kControlCount) and
    // brings every label's setting into its range.
    void stepSettings(Control label, int64_t units);
    // The setting controls the window has.
    bool shows(const SettingControl& shown) const { return shown.control < controlCount(); }
    // The window's value labels, which drags and the wheel step: the settings whose
    // table entry has steps.
    bool isValueLabel(const SettingControl& shown) const {
        return shows(shown) && engine::settingInfo(shown.setting).dragDivisor > 0;
    }
    // The user's change of a setting: stored, and told to the listener if the value changed.
    void changeSetting(engine::Setting setting, int32_t value);
    // Tells the listener that a drag of `label` begins (true) or ends.
    void tellGesture(Control label, bool begins);
    void requestRefresh();
    // Writes `text`, cut to 1023 characters, as the formula of the program the box was
    // loaded from, and marks it for compilation: text typed for one program never lands
    // in another that became current before the box was reloaded.
    void storeFormula(const std::string& text);

    std::unique_ptr<EditorPlatform> platform_;
    bool windowOpen_ = false;
    int32_t boxProgram_ = 0;  // whose formula the box holds
    SettingListener* settingListener_ = nullptr;
    // The values the labels were last drawn with: a change from elsewhere (a host's
    // automation) redraws them at the next tick.
    int32_t shownSettings_[engine::kSettingCount]{};
    // The scope's R, apart from the voices', so that drawing changes nothing they play.
    random15::Generator scopeRandom_;
};

}  // namespace editor
