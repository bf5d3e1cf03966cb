// The editor's fixed layout: a 600 x 330 window with thirteen controls at fixed pixels,
// and for the extended instrument a strip below with the settings it adds.
#pragma once

#include "../engine/settings.h"
#include "../expr/words.h"

namespace editor {

constexpr int kWidth = 600;
constexpr int kHeight = 330;
constexpr int kExtendedHeight = 365;
constexpr int kScopeWidth = 580;
constexpr int kScopeHeight = 64;

// In creation order.
enum Control {
    GainLabel,
    PortaLabel,
    PolyLabel,
    TimeLabel,
    CopyButton,
    PasteButton,
    LerpButton,
    ClampButton,
    FormulaEdit,
    StatusLabel,
    ScopeView,
    HelpLabel,
    DrumLabel,
    // The extended instrument's strip.
    AttackLabel,
    ReleaseLabel,
    OversampleLabel,
    DcButton,
    MpeButton,
    kControlCount
};
constexpr int kClassicControlCount = DrumLabel + 1;

// The window's height and the controls it has, for an instrument of `language`.
constexpr int heightOf(Language language) { return language == Language::Classic ? kHeight : kExtendedHeight; }
constexpr int controlCountOf(Language language) {
    return language == Language::Classic ? kClassicControlCount : kControlCount;
}

enum class ControlKind {
    OwnerDrawn,  // a static the editor draws itself
    Clickable,   // owner-drawn and reporting clicks as commands
    Edit,        // the multi-line, upper-case formula box
    Text,        // a plain left-aligned static text
};

enum class Font { None, Status, Edit, Label, Help };

struct Rect {
    int left, top, right, bottom;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct ControlLayout {
    const char* name;  // what front ends call it
    const char* className;
    const char* text;
    Rect rect;  // in the main window's client area
    ControlKind kind;
    int commandId;  // 0: none
    Font font;      // the font the control is given, or draws its text with
};

// The value labels and switches that show a setting, and that setting.
struct SettingControl {
    Control control;
    engine::Setting setting;
};
inline constexpr SettingControl kSettingControls[] = {
    {PolyLabel, engine::Setting::Poly},       {PortaLabel, engine::Setting::Porta},
    {TimeLabel, engine::Setting::Time},       {GainLabel, engine::Setting::Gain},
    {DrumLabel, engine::Setting::DrumKey},    {LerpButton, engine::Setting::Lerp},
    {ClampButton, engine::Setting::Clamp},    {AttackLabel, engine::Setting::Attack},
    {ReleaseLabel, engine::Setting::Release}, {OversampleLabel, engine::Setting::Oversample},
    {DcButton, engine::Setting::DcFilter},    {MpeButton, engine::Setting::Mpe},
};
// The control that shows `setting`, or kControlCount for none (the scope's zoom).
inline Control controlOf(engine::Setting setting) {
    for (const SettingControl& shown : kSettingControls)
        if (shown.setting == setting) return shown.control;
    return kControlCount;
}

// Ids of the clickable buttons.
constexpr int kCopyId = 1000, kPasteId = 1001, kLerpId = 1002, kClampId = 1003, kDcId = 1004, kMpeId = 1005;

inline const ControlLayout& layoutOf(Control c) {
    static const ControlLayout layouts[kControlCount] = {
        {"gain", "static", "", {510, 5, 590, 30}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"porta", "static", "", {420, 5, 500, 30}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"poly", "static", "", {330, 5, 410, 30}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"time", "static", "", {240, 5, 320, 30}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"copy", "static", "Copy", {10, 5, 50, 30}, ControlKind::Clickable, kCopyId, Font::Label},
        {"paste", "static", "Paste", {60, 5, 100, 30}, ControlKind::Clickable, kPasteId, Font::Label},
        {"lerp", "static", "Lerp", {110, 5, 150, 30}, ControlKind::Clickable, kLerpId, Font::Label},
        {"clamp", "static", "Clamp", {160, 5, 200, 30}, ControlKind::Clickable, kClampId, Font::Label},
        {"formula", "edit", "0", {10, 35, 590, 160}, ControlKind::Edit, 0, Font::Edit},
        {"status", "static", "ST_U", {10, 165, 590, 185}, ControlKind::Text, 0, Font::Status},
        {"scope", "static", "", {10, 185, 590, 249}, ControlKind::OwnerDrawn, 0, Font::None},
        {"help", "static", "ST_U", {10, 254, 520, 379}, ControlKind::Text, 0, Font::Help},
        {"drum", "static", "", {510, 295, 590, 320}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"attack", "static", "", {10, 335, 140, 360}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"release", "static", "", {150, 335, 280, 360}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"oversample", "static", "", {290, 335, 400, 360}, ControlKind::OwnerDrawn, 0, Font::Label},
        {"dc", "static", "DC filter", {410, 335, 490, 360}, ControlKind::Clickable, kDcId, Font::Label},
        {"mpe", "static", "MPE", {500, 335, 590, 360}, ControlKind::Clickable, kMpeId, Font::Label},
    };
    return layouts[c];
}

// A control's rectangle cut to the part of the window it lies in: the help's label
// reaches past the 330 rows, and ends there, above the strip.
inline Rect visibleRect(Control c) {
    const Rect r = layoutOf(c).rect;
    const int bottom = r.top < kHeight ? kHeight : kExtendedHeight;
    return {r.left, r.top, r.right < kWidth ? r.right : kWidth, r.bottom < bottom ? r.bottom : bottom};
}

// The formula help, six lines; "&&" shows as one ampersand in a static text.
constexpr const char* kHelpText =
    "DEC and HEX(with 0x prefix) integer numbers allowed\n"
    "+ - * / % && | ^ << >> ( ) arithmetic operators allowed (ADD,SUB,MUL,DIV,MOD,AND,OR,XOR,SHL,SHR)\n"
    "! ~ &&&& || == != < > <= >= logic and ? : ternary operators allowed as well\n"
    "P=pitch, depends on the note pitch, 256 per period;   S=sine-like pitch\n"
    "T=time since note start (65536 per second)\n"
    "V=velocity 0..127;   M=modulation wheel 0..127;   R=random 0..32767";

// Cell heights and weights of the four Tahoma fonts.
struct FontStyle {
    int height;
    int weight;
};
inline FontStyle fontStyleOf(Font f) {
    switch (f) {
        case Font::Status: return {16, 700};
        case Font::Edit: return {20, 400};
        case Font::Label: return {14, 0};
        case Font::Help: return {12, 0};
        default: return {0, 0};
    }
}

}  // namespace editor
