// The editor's logic and drawing through the headless window system.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "engine_fixture.h"
#include "host/aeffeditor.h"
#include "host/bytone.h"
#include "instrument_probe.h"
#include "recording_host.h"

namespace {

using namespace editor;

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        synth = std::make_unique<engine::Instrument>();
        synth->setDisplayListener(&display);
        auto owned = std::make_unique<HeadlessPlatform>();
        platform = owned.get();
        gui = std::make_unique<GUI>(*synth, std::move(owned));
        ASSERT_TRUE(gui->open(reinterpret_cast<void*>(0x1234)));
        gui->tick();
        display.count = 0;
    }

    // The centre of a control in screen coordinates, moved by (dx, dy).
    Point over(Control c, int dx = 0, int dy = 0) {
        const Rect r = platform->screenRect(c);
        return {(r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2 + dy};
    }
    void drag(Control label, std::initializer_list<int> steps) {
        Point p = over(label);
        gui->leftButtonDown(p);
        for (int step : steps) {
            p.x += step;
            gui->mouseMove(p);
        }
        gui->leftButtonUp();
    }
    void setFormula(const char* formula) {
        std::strcpy(inside(*synth).programs[inside(*synth).currentProgram].formula, formula);
        inside(*synth).programs[inside(*synth).currentProgram].needsCompile = true;
        gui->refreshPending = true;
        gui->tick();
    }
    // The height of a scope column: its window-text pixels counted from the bottom.
    int columnHeight(int n) {
        int h = 0;
        while (h < kScopeHeight && platform->scope.at(n, kScopeHeight - 1 - h) == defaultColor(SysColor::WindowText))
            ++h;
        return h;
    }
    // The right edge of a control's bar, read along its middle row.
    int barRight(Control c) {
        platform->paint();
        const Rect r = layoutOf(c).rect;
        const int y = r.top + r.height() / 2;
        int x = 2;
        while (x < r.width() && platform->window.at(r.left + x, y) == defaultColor(SysColor::ScrollBar)) ++x;
        return x;
    }

    std::unique_ptr<engine::Instrument> synth;
    DisplayCounter display;
    HeadlessPlatform* platform = nullptr;
    std::unique_ptr<GUI> gui;
};

TEST_F(EditorTest, TheFirstIdleFillsEveryControl) {
    EXPECT_EQ(platform->texts[FormulaEdit], "P&255");
    EXPECT_EQ(platform->texts[StatusLabel], "OK");
    EXPECT_EQ(platform->texts[PolyLabel], "Poly: 8");
    EXPECT_EQ(platform->texts[PortaLabel], "Porta: 100");
    EXPECT_EQ(platform->texts[TimeLabel], "Time: 1.00x");
    EXPECT_EQ(platform->texts[GainLabel], "Gain: 100");
    EXPECT_EQ(platform->texts[DrumLabel], "Ch10:  ---");
    EXPECT_EQ(platform->texts[HelpLabel], kHelpText);
    for (Control c : {StatusLabel, PolyLabel, PortaLabel, TimeLabel, GainLabel, LerpButton, ClampButton, CopyButton,
                      PasteButton, DrumLabel, ScopeView})
        EXPECT_TRUE(platform->invalidated[c]) << c;
    EXPECT_FALSE(platform->invalidated[FormulaEdit]);
    EXPECT_FALSE(gui->refreshPending);
    EXPECT_FALSE(gui->reloadFormula);
    gui->tick();
    EXPECT_EQ(display.count, 0);  // nothing asked, nothing done
}

TEST_F(EditorTest, AProgramChangeReloadsTheBoxAndRefreshesOnce) {
    synth->setProgram(23);
    synth->syncProgramDisplay();
    EXPECT_TRUE(gui->reloadFormula);
    EXPECT_TRUE(gui->refreshPending);
    display.count = 0;
    gui->tick();
    EXPECT_EQ(platform->texts[FormulaEdit], "(P&256?P:~P)&255");
    EXPECT_EQ(display.count, 1);
}

TEST_F(EditorTest, TextTypedBeforeAProgramChangeIsShownStaysWithItsProgram) {
    synth->setProgram(23);
    synth->syncProgramDisplay();
    platform->texts[FormulaEdit] = "P&255|7";  // typed into program 0's text, cancelling the reload
    gui->formulaEdited();
    EXPECT_STREQ(inside(*synth).programs[0].formula, "P&255|7");
    EXPECT_STREQ(inside(*synth).programs[23].formula, "(P&256?P:~P)&255");
    gui->tick();
    EXPECT_EQ(platform->texts[FormulaEdit], "(P&256?P:~P)&255");
    platform->texts[FormulaEdit] = "P&256";
    gui->formulaEdited();
    EXPECT_STREQ(inside(*synth).programs[23].formula, "P&256");
    EXPECT_STREQ(inside(*synth).programs[0].formula, "P&255|7");
}

TEST_F(EditorTest, APluginClosesAndDeletesItsEditorWhileItsInstrumentIsStillWhole) {
    RecordingHost::reset();
    auto plugin = std::make_unique<Bytone>(RecordingHost::callback);
    auto editor = std::make_unique<GUI>(plugin->instrument(), std::make_unique<HeadlessPlatform>());
    ASSERT_TRUE(editor->open(nullptr));
    plugin->setEditor(std::make_unique<AEffEditor>(std::move(editor)));  // as the entry point attaches it
    plugin.reset();  // the sanitizer build checks the editor's last use of the instrument
}

TEST_F(EditorTest, StatusTextsFollowTheSettings) {
    struct Case {
        std::string text, expected;
    };
    using engine::Setting;
    using engine::settingText;
    const Case cases[] = {
        {settingText(Setting::Poly, 1), "Mono"},
        {settingText(Setting::Poly, 0), "Mono"},
        {settingText(Setting::Poly, 2), "Poly: 2"},
        {settingText(Setting::Poly, 8), "Poly: 8"},
        {settingText(Setting::Time, 50), "Time: 1.00x"},
        {settingText(Setting::Time, 75), "Time: 2.50x"},
        {settingText(Setting::Time, 100), "Time: 4.00x"},
        {settingText(Setting::Time, 0), "Time: 0.25x"},
        {settingText(Setting::Time, 25), "Time: 0.62x"},
        {settingText(Setting::Gain, 200), "Gain: 200"},
        {settingText(Setting::Porta, 1), "Porta: 1"},
        {settingText(Setting::DrumKey, 0), "Ch10:  ---"},
        {settingText(Setting::DrumKey, 23), "Ch10:  ---"},
        {settingText(Setting::DrumKey, 24), "Ch10:  C-1"},
        {settingText(Setting::DrumKey, 60), "Ch10:  C-4"},
        {settingText(Setting::DrumKey, 69), "Ch10:  A-4"},
        {settingText(Setting::DrumKey, 191), "Ch10:  B-14"},
        {settingText(Setting::DrumKey, 37), "Ch10:  C#2"},
        {settingText(Setting::ScopeZoom, 0), "8x"},
        {settingText(Setting::ScopeZoom, 7), "1x"},
        {settingText(Setting::Lerp, 1), "Lerp: on"},
        {settingText(Setting::Clamp, 0), "Clamp: off"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST_F(EditorTest, TheStatusLineShowsTheCompilersMessageUntilTheFormulaIsFixed) {
    setFormula("P&(");
    EXPECT_EQ(platform->texts[StatusLabel], "Missing closing parenthesis");
    setFormula("P&255");
    EXPECT_EQ(platform->texts[StatusLabel], "OK");
    // The classic instrument's messages for the extended language's words and comma.
    setFormula("beat>>12&P");
    EXPECT_EQ(platform->texts[StatusLabel], "Syntax error");
    setFormula("P,T");
    EXPECT_EQ(platform->texts[StatusLabel], "Unexpected symbol during parsing");
}

TEST_F(EditorTest, TheScopeOfASawRisesEvery51Or52Columns) {
    inside(*synth).clampOutput = false;
    setFormula("P&255");
    int lastWrap = -1;
    for (int n = 30; n < kScopeWidth; ++n) {
        ASSERT_EQ(columnHeight(n), ((5 * n) & 255) / 4) << n;
        if (((5 * n) & 255) < ((5 * (n - 1)) & 255)) {
            if (lastWrap >= 0) {
                EXPECT_TRUE(n - lastWrap == 51 || n - lastWrap == 52) << n;
            }
            lastWrap = n;
        }
    }
}

TEST_F(EditorTest, ScopeHeightsAreClampedOrTakenModulo) {
    struct Case {
        const char* formula;
        bool clamp;
        int height;
    };
    const Case cases[] = {{"2320", true, 64},  {"2320", false, 0}, {"0-100", true, 0}, {"0-100", false, 0},
                          {"2400", false, 20}, {"200", true, 50},  {"7", true, 1}};
    for (const Case& c : cases) {
        inside(*synth).clampOutput = c.clamp;
        setFormula(c.formula);
        for (int n : {30, 300, 579}) EXPECT_EQ(columnHeight(n), c.height) << c.formula << " at " << n;
    }
}

// In the extended language a stereo formula's right side is a trace in the window's
// colour over the left side's columns, one pixel at its height.
TEST_F(EditorTest, TheScopeTracesAStereoFormulasRightSide) {
    gui.reset();
    synth = std::make_unique<engine::Instrument>(Language::Extended);
    auto owned = std::make_unique<HeadlessPlatform>();
    platform = owned.get();
    gui = std::make_unique<GUI>(*synth, std::move(owned));
    ASSERT_TRUE(gui->open(reinterpret_cast<void*>(0x1234)));
    gui->tick();
    setFormula("beat>>12&P");
    EXPECT_EQ(platform->texts[StatusLabel], "OK");
    setFormula("P,T,R");
    EXPECT_EQ(platform->texts[StatusLabel], "Unexpected symbol during parsing");
    setFormula("100,200");
    EXPECT_EQ(platform->texts[StatusLabel], "OK");
    for (int n : {30, 300, 578}) {
        EXPECT_EQ(columnHeight(n), 25) << n;
        EXPECT_EQ(platform->scope.at(n, kScopeHeight - 50), defaultColor(SysColor::Window)) << n;
        EXPECT_EQ(platform->scope.at(n, kScopeHeight - 52), defaultColor(SysColor::ButtonFace)) << n;
    }
    setFormula("100");  // one side: no trace
    EXPECT_EQ(platform->scope.at(300, kScopeHeight - 50), defaultColor(SysColor::ButtonFace));
    // The zoom's label in a box of its own over the wave, which would hide it.
    EXPECT_EQ(columnHeight(30), 25);
    EXPECT_EQ(platform->scope.at(3, 50), defaultColor(SysColor::ButtonFace));
    EXPECT_EQ(platform->scope.at(2, 50), defaultColor(SysColor::WindowText)) << "its border";
}

TEST_F(EditorTest, TheZoomSetsTheScopesStep) {
    setFormula("P");  // clamped: a column's height is step x n / 4
    for (int zoom = 0; zoom < 8; ++zoom) {
        inside(*synth).scopeZoom = zoom;
        gui->refreshPending = true;
        gui->tick();
        const int step = (1 << zoom) + 4;
        EXPECT_EQ(columnHeight(40), std::min(10 * step, 64)) << zoom;
        EXPECT_EQ(columnHeight(1) > 0, true);
    }
    inside(*synth).scopeZoom = 12;  // only a hostile chunk could leave it here
    gui->refreshPending = true;
    gui->tick();
    EXPECT_EQ(columnHeight(40), 64);
}

TEST_F(EditorTest, BarsShowTheSettings) {
    struct Case {
        Control control;
        int right;
    };
    inside(*synth).portamento = 50;
    inside(*synth).polyphony = 4;
    const Case cases[] = {{GainLabel, 2 + 100 * 76 / 200},
                          {PolyLabel, 2 + 4 * 76 / 8},
                          {PortaLabel, 2 + 50 * 76 / 100},
                          {TimeLabel, 2 + 50 * 76 / 100},
                          {LerpButton, 2},
                          {ClampButton, 38},
                          {CopyButton, 2},
                          {DrumLabel, 2}};
    for (const Case& c : cases) EXPECT_EQ(barRight(c.control), c.right) << c.control;
}

TEST_F(EditorTest, CopyAndPasteFlashForExactlyOneRefresh) {
    for (Control button : {CopyButton, PasteButton}) {
        gui->buttonClicked(button == CopyButton ? kCopyId : kPasteId);
        EXPECT_TRUE(gui->refreshPending);
        gui->tick();
        EXPECT_EQ(barRight(button), 38);   // full
        EXPECT_TRUE(gui->refreshPending);  // its drawing asked for the refresh that ends it
        gui->tick();
        EXPECT_EQ(barRight(button), 2);
        EXPECT_FALSE(gui->refreshPending);
    }
}

TEST_F(EditorTest, DragsChangeSettingsInWholeSteps) {
    struct Case {
        Control label;
        std::initializer_list<int> steps;
        std::atomic<int32_t>* setting;
        int32_t start, expected;
    };
    const std::initializer_list<int> fours = {4, 4, 4, 4, 4, 4, 4, 4};
    const std::initializer_list<int> fives = {5, 5, 5};
    const std::initializer_list<int> jump = {12};
    const std::initializer_list<int> left = {-9, -9};
    std::initializer_list<int> twos = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                       2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                       2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                       2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                       2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                       2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    const Case cases[] = {
        {PolyLabel, fours, &inside(*synth).polyphony, 3, 3},
        {PolyLabel, fives, &inside(*synth).polyphony, 3, 6},
        {PolyLabel, jump, &inside(*synth).polyphony, 3, 5},
        {GainLabel, twos, &inside(*synth).gain, 100, 200},
        {TimeLabel, left, &inside(*synth).timeScale, 50, 42},
        {PortaLabel, jump, &inside(*synth).portamento, 50, 56},
        {DrumLabel, jump, &inside(*synth).programs[0].drumKey, 0, 23},
        {DrumLabel, jump, &inside(*synth).programs[0].drumKey, 40, 46},
    };
    for (const Case& c : cases) {
        *c.setting = c.start;
        drag(c.label, c.steps);
        EXPECT_EQ(*c.setting, c.expected) << c.label;
        EXPECT_FALSE(platform->captured);
    }
}

TEST_F(EditorTest, WheelNotchesAndRightClicks) {
    inside(*synth).portamento = 50;
    gui->wheel(over(PortaLabel), 120);
    EXPECT_EQ(inside(*synth).portamento, 52);
    gui->wheel(over(PolyLabel), -120);
    EXPECT_EQ(inside(*synth).polyphony, 7);
    gui->wheel(over(GainLabel), 40);
    EXPECT_EQ(inside(*synth).gain, 100);
    inside(*synth).portamento = 0;
    gui->refreshPending = false;
    gui->wheel(over(ScopeView), 120);  // outside every label: the ranges are still forced
    EXPECT_EQ(inside(*synth).portamento, 1);
    EXPECT_TRUE(gui->refreshPending);

    inside(*synth).programs[0].drumKey = 40;
    gui->rightButtonDown(over(DrumLabel));
    EXPECT_EQ(inside(*synth).programs[0].drumKey, 0);
    gui->tick();
    EXPECT_EQ(platform->texts[DrumLabel], "Ch10:  ---");
    gui->wheel(over(StatusLabel), 120);
    EXPECT_EQ(inside(*synth).programs[0].drumKey, 23);

    struct Reset {
        Control label;
        std::atomic<int32_t>* setting;
        int32_t value;
    };
    for (const Reset& r :
         {Reset{TimeLabel, &inside(*synth).timeScale, 50}, Reset{PolyLabel, &inside(*synth).polyphony, 8},
          Reset{PortaLabel, &inside(*synth).portamento, 100}, Reset{GainLabel, &inside(*synth).gain, 100}}) {
        *r.setting = 3;
        gui->rightButtonDown(over(r.label));
        EXPECT_EQ(*r.setting, r.value);
    }
}

TEST_F(EditorTest, ClicksOnTheScopeStepTheZoomRoundTheRing) {
    inside(*synth).scopeZoom = 7;
    gui->leftButtonDown(over(ScopeView));
    gui->leftButtonUp();
    EXPECT_EQ(inside(*synth).scopeZoom, 0);
    gui->rightButtonDown(over(ScopeView));
    EXPECT_EQ(inside(*synth).scopeZoom, 7);
}

TEST_F(EditorTest, APressWithoutMovingChangesNothing) {
    gui->leftButtonDown(over(GainLabel));
    EXPECT_TRUE(platform->captured);
    EXPECT_FALSE(gui->refreshPending);
    gui->leftButtonUp();
    gui->mouseMove(over(GainLabel, 30));
    EXPECT_EQ(inside(*synth).gain, 100);
    EXPECT_FALSE(gui->refreshPending);
    // The top-left pixel of a label is inside it; the right edge is not.
    const Rect r = platform->screenRect(GainLabel);
    gui->leftButtonDown({r.left, r.top});
    EXPECT_EQ(gui->dragTarget, GainLabel);
    gui->leftButtonUp();
    gui->leftButtonDown({r.right, r.top});
    EXPECT_EQ(gui->dragTarget, kControlCount);
    gui->leftButtonUp();
}

TEST_F(EditorTest, TheButtonsCopyPasteAndToggle) {
    platform->texts[FormulaEdit] = "";
    gui->buttonClicked(kCopyId);
    EXPECT_EQ(platform->clipboard, std::string());

    platform->clipboard = std::string(1500, '5');
    gui->buttonClicked(kPasteId);
    EXPECT_EQ(platform->texts[FormulaEdit].size(), 1500u);
    EXPECT_EQ(std::string(inside(*synth).programs[0].formula), std::string(1023, '5'));
    EXPECT_TRUE(inside(*synth).programs[0].needsCompile);

    platform->clipboard.reset();
    platform->texts[FormulaEdit] = "T";
    gui->buttonClicked(kPasteId);  // nothing on the clipboard: unchanged, and still a flash
    EXPECT_EQ(platform->texts[FormulaEdit], "T");
    EXPECT_TRUE(gui->pasteFlash);
    platform->clipboardWorks = false;
    gui->buttonClicked(kCopyId);
    EXPECT_TRUE(gui->copyFlash);

    gui->buttonClicked(kLerpId);
    EXPECT_TRUE(inside(*synth).interpolate);
    gui->buttonClicked(kClampId);
    EXPECT_FALSE(inside(*synth).clampOutput);
    gui->buttonClicked(999);
    EXPECT_TRUE(inside(*synth).interpolate);
}

TEST_F(EditorTest, TypingMarksTheProgramAndTheNextIdleCompilesIt) {
    platform->texts[FormulaEdit] = "P*3";
    gui->formulaEdited();
    EXPECT_STREQ(inside(*synth).programs[0].formula, "P*3");
    EXPECT_TRUE(inside(*synth).programs[0].needsCompile);
    EXPECT_TRUE(gui->refreshPending);
    EXPECT_FALSE(gui->reloadFormula);
    gui->tick();
    EXPECT_FALSE(inside(*synth).programs[0].needsCompile);
    EXPECT_EQ(platform->texts[StatusLabel], "OK");
    platform->texts[FormulaEdit] = "P*";
    gui->formulaEdited();
    platform->texts[FormulaEdit] = "P*#";
    gui->formulaEdited();
    gui->tick();
    EXPECT_EQ(platform->texts[StatusLabel], "Unexpected symbol during parsing");
}

TEST_F(EditorTest, IdleWithTheWindowClosedCompilesAndTellsTheHostOnly) {
    EXPECT_TRUE(gui->isOpen());
    EXPECT_EQ(gui->connectionFd(), -1);  // the headless window has no connection
    gui->close();
    EXPECT_FALSE(gui->isOpen());
    EXPECT_FALSE(platform->isOpen);
    std::strcpy(inside(*synth).programs[0].formula, "P+1");
    inside(*synth).programs[0].needsCompile = true;
    platform->texts[StatusLabel] = "untouched";
    gui->requestReload();
    gui->tick();
    EXPECT_FALSE(inside(*synth).programs[0].needsCompile);
    EXPECT_EQ(platform->texts[StatusLabel], "untouched");
    EXPECT_EQ(display.count, 1);
    EXPECT_FALSE(gui->refreshPending);
    EXPECT_FALSE(gui->reloadFormula);
    ASSERT_TRUE(gui->open(reinterpret_cast<void*>(0x1234)));
    EXPECT_EQ(platform->texts[FormulaEdit], "0");
    gui->tick();
    EXPECT_EQ(platform->texts[FormulaEdit], "P+1");
}

TEST_F(EditorTest, OpeningAgainWithoutClosingKeepsOneWindow) {
    ASSERT_TRUE(gui->open(reinterpret_cast<void*>(0x5678)));
    EXPECT_TRUE(platform->isOpen);
    EXPECT_EQ(platform->texts[FormulaEdit], "0");  // a fresh window
    gui->tick();
    EXPECT_EQ(platform->texts[FormulaEdit], "P&255");
}

TEST_F(EditorTest, TheSizeIsFixedAndDestructionClosesAnOpenWindow) {
    EXPECT_EQ(gui->width(), 600);
    EXPECT_EQ(gui->height(), 330);
    gui.reset();
    EXPECT_FALSE(platform == nullptr);
    // A display change no longer reaches the editor (the sanitizer build would see it).
    synth->setProgram(9);
    synth->syncProgramDisplay();
    EXPECT_EQ(display.count, 1);
}

}  // namespace
