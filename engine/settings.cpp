#include "settings.h"

#include <cstdio>

#include "chunk.h"

namespace engine {

namespace {

// A drum key below 24 selects nothing; a new program holds 0, which the editor's first
// step brings to 23, the lowest it shows.
constexpr SettingInfo kSettings[kSettingCount] = {
    {"poly", "Poly", 1, 8, 8, 5, 120, chunktag::kPolyphony, SettingShow::Voices, false},
    {"porta", "Porta", 1, 100, 100, 2, 60, chunktag::kPortamento, SettingShow::Number, false},
    {"time", "Time", 1, 100, 50, 2, 120, chunktag::kTimeScale, SettingShow::TimeFactor, false},
    {"gain", "Gain", 1, 200, 100, 2, 60, chunktag::kGain, SettingShow::Number, false},
    {"lerp", "Lerp", 0, 1, 0, 0, 0, chunktag::kInterpolate, SettingShow::Switch, false},
    {"clamp", "Clamp", 0, 1, 1, 0, 0, chunktag::kClamp, SettingShow::Switch, false},
    {"zoom", "Zoom", 0, 7, 0, 0, 0, chunktag::kScopeZoom, SettingShow::Zoom, false},
    {"drum", "Ch10", 23, 191, 0, 2, 120, chunktag::kDrumKey, SettingShow::Key, true},
};

template <class... Args>
std::string format(const char* pattern, Args... args) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

constexpr const char* kNoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};

}  // namespace

const SettingInfo& settingInfo(Setting setting) { return kSettings[static_cast<int32_t>(setting)]; }

bool settingFromNumber(int32_t number, Setting& setting) {
    if (number < 0 || number >= kSettingCount) return false;
    setting = static_cast<Setting>(number);
    return true;
}

std::string settingText(Setting setting, int32_t value) {
    const SettingInfo& info = settingInfo(setting);
    switch (info.show) {
        case SettingShow::Voices: return value <= 1 ? "Mono" : format("Poly: %u", static_cast<unsigned>(value));
        case SettingShow::Number: return format("%s: %u", info.name, static_cast<unsigned>(value));
        case SettingShow::TimeFactor: return format("Time: %1.2fx", timeFactorOf(value));
        case SettingShow::Switch: return format("%s: %s", info.name, value ? "on" : "off");
        case SettingShow::Zoom: return format("%ix", 8 - value);
        case SettingShow::Key:
            if (value < 24) return "Ch10:  ---";
            return format("Ch10:  %s%i", kNoteNames[value % 12], (value - 24) / 12 + 1);
    }
    return "";
}

}  // namespace engine
