// The instrument's settings, described once: every front end (the editor, the plug-in
// formats' parameter lists, the web page through its module) reads this table for a
// setting's name, range, default, steps, state tag and text.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// In the order of the table; the numbers are what front ends store and send. Those from
// kClassicSettingCount on are the extended instrument's (the CLAP, VST3 and LV2 plug-ins'):
// the VST 2.4 plug-in and its chunk know none of them.
enum class Setting : int32_t {
    Poly,
    Porta,
    Time,
    Gain,
    Lerp,
    Clamp,
    ScopeZoom,
    DrumKey,
    Mpe,
    Attack,
    Release,
    DcFilter,
    Oversample,
};
constexpr int kClassicSettingCount = 8;
constexpr int kSettingCount = 13;

// How a setting's value reads.
enum class SettingShow : int32_t {
    Voices,      // "Mono", "Poly: 8"
    Number,      // "Porta: 100", "Gain: 100" (the name and the value)
    TimeFactor,  // "Time: 1.00x"
    Switch,      // "Lerp: on", "Clamp: off", "MPE: off"
    Zoom,        // "8x" (the scope's horizontal zoom)
    Key,         // "Ch10:  C-1", "Ch10:  ---" below key 24
    Duration,    // "Attack: 10 ms"
    Factor,      // "Oversample: 4x": a power of two, the value its exponent
};

struct SettingInfo {
    const char* key;          // its identifier in shared links and parameter lists
    const char* name;         // as the editor and hosts show it
    int32_t lowest, highest;  // the range a user can set
    int32_t defaultValue;     // of a new instance, and what a reset gives
    // Steps of the editor's value labels: one step per this many pixels of a drag and
    // per this many units of the wheel; 0 where the editor has no value label for it.
    int32_t dragDivisor, wheelDivisor;
    // The state chunk's tag before its value; 0: not saved. The VST 2.4 chunk holds every
    // one but Gain's (chunktag::kGain) and the extended settings', which the other
    // formats' states add.
    uint32_t chunkTag;
    SettingShow show;
    bool perProgram;        // held by the current program, not by the instance
    bool automatable;       // a setting of the sound, which hosts may automate; not the scope's view
    int32_t stepUnits = 1;  // units of the value per step of its label
};

const SettingInfo& settingInfo(Setting setting);
// The setting of number `number`, for front ends that send numbers; false out of range.
bool settingFromNumber(int32_t number, Setting& setting);

// The smallest value a setting takes as a host's parameter: its range's, or its default
// below it (a program's drum key starts at 0, "none").
inline int32_t lowestValue(const SettingInfo& info) {
    return info.lowest < info.defaultValue ? info.lowest : info.defaultValue;
}

// The text a setting's value shows with, as the editor shows it ("Poly: 8", "Ch10:  C-4").
std::string settingText(Setting setting, int32_t value);
// The value alone, as hosts show it beside the setting's name ("8", "Mono", "1.00x", "on",
// "C-4", "---", "10 ms", "4x").
std::string settingValueText(Setting setting, int32_t value);
// The value that a text as settingText or settingValueText writes it, or just its number,
// stands for ("Mono", "Lerp: on", "on", "Time: 1.00x", "1.00x", "Ch10:  C-4", "C-4", "---",
// "130", "4x", "4"); false for a text that names no value from lowestValue to the highest.
bool settingValueOf(Setting setting, const char* text, int32_t& value);
// The program whose name begins a text ("006 Ringy" is program 5: names count from 1).
bool programOfText(const char* text, int32_t& program);

// The speed of the time variable T for a Time setting: 0.25 at 0, 1.0 at 50, 4.0 at 100.
inline double timeFactorOf(int32_t timeScale) {
    return timeScale >= 50 ? (timeScale - 50) * 0.06 + 1.0 : timeScale * 0.015 + 0.25;
}

}  // namespace engine
