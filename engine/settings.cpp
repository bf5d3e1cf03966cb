#include "settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chunk.h"

namespace engine {

namespace {

// A drum key below 24 selects nothing; a new program holds 0, which the editor's first
// step brings to 23, the lowest it shows.
constexpr SettingInfo kSettings[kSettingCount] = {
    {"poly", "Poly", 1, 8, 8, 5, 120, chunktag::kPolyphony, SettingShow::Voices, false, true},
    {"porta", "Porta", 1, 100, 100, 2, 60, chunktag::kPortamento, SettingShow::Number, false, true},
    {"time", "Time", 1, 100, 50, 2, 120, chunktag::kTimeScale, SettingShow::TimeFactor, false, true},
    {"gain", "Gain", 1, 200, 100, 2, 60, chunktag::kGain, SettingShow::Number, false, true},
    {"lerp", "Lerp", 0, 1, 0, 0, 0, chunktag::kInterpolate, SettingShow::Switch, false, true},
    {"clamp", "Clamp", 0, 1, 1, 0, 0, chunktag::kClamp, SettingShow::Switch, false, true},
    {"zoom", "Zoom", 0, 7, 0, 0, 0, chunktag::kScopeZoom, SettingShow::Zoom, false, false},
    {"drum", "Ch10", 23, 191, 0, 2, 120, chunktag::kDrumKey, SettingShow::Key, true, true},
    // How MIDI reads: a mode, not a sound to automate.
    {"mpe", "MPE", 0, 1, 0, 0, 0, chunktag::kMpe, SettingShow::Switch, false, false},
    // The voices' ramps in milliseconds, ten a step; at 0 a note starts and stops at once.
    {"attack", "Attack", 0, 2000, 0, 1, 120, chunktag::kAttack, SettingShow::Duration, false, true, 10},
    {"release", "Release", 0, 5000, 0, 1, 120, chunktag::kRelease, SettingShow::Duration, false, true, 10},
    {"dc", "DC filter", 0, 1, 0, 0, 0, chunktag::kDcFilter, SettingShow::Switch, false, true},
    // The voices computed 1, 2, 4 or 8 times a sample.
    {"oversample", "Oversample", 0, 3, 0, 30, 120, chunktag::kOversample, SettingShow::Factor, false, true},
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

std::string settingValueText(Setting setting, int32_t value) {
    switch (settingInfo(setting).show) {
        case SettingShow::Voices: return value <= 1 ? "Mono" : format("%u", static_cast<unsigned>(value));
        case SettingShow::Number: return format("%u", static_cast<unsigned>(value));
        case SettingShow::TimeFactor: return format("%1.2fx", timeFactorOf(value));
        case SettingShow::Switch: return value ? "on" : "off";
        case SettingShow::Zoom: return format("%ix", 8 - value);
        case SettingShow::Key:
            if (value < 24) return "---";
            return format("%s%i", kNoteNames[value % 12], (value - 24) / 12 + 1);
        case SettingShow::Duration: return format("%i ms", value);
        case SettingShow::Factor: return format("%ix", 1 << std::clamp(value, 0, 30));
    }
    return "";
}

std::string settingText(Setting setting, int32_t value) {
    const SettingInfo& info = settingInfo(setting);
    const std::string shown = settingValueText(setting, value);
    switch (info.show) {
        case SettingShow::Voices: return value <= 1 ? shown : std::string(info.name) + ": " + shown;
        case SettingShow::Zoom: return shown;
        case SettingShow::Key: return std::string(info.name) + ":  " + shown;
        default: return std::string(info.name) + ": " + shown;
    }
}

namespace {

// The number in a text, after the name and colon the texts begin with.
struct NumberIn {
    explicit NumberIn(const char* text) : at(std::strchr(text, ':') ? std::strchr(text, ':') + 1 : text) {
        char* end = nullptr;
        value = std::strtod(at, &end);
        found = end != at;
    }
    const char* at;
    double value;
    bool found;
};

// "C-4", "C#2" (octave 1 from key 24), or "---" for none (the default).
bool keyOf(const char* text, const SettingInfo& info, double& key) {
    while (*text == ' ') ++text;
    if (std::strncmp(text, "---", 3) == 0) {
        key = info.defaultValue;
        return true;
    }
    for (int semitone = 0; semitone < 12; ++semitone) {
        if (std::strncmp(text, kNoteNames[semitone], 2) != 0) continue;
        char* end = nullptr;
        const double octave = std::strtod(text + 2, &end);
        if (end == text + 2) return false;
        key = (octave - 1) * 12 + 24 + semitone;
        return true;
    }
    return false;
}

}  // namespace

bool settingValueOf(Setting setting, const char* text, int32_t& value) {
    if (!text) return false;
    const SettingInfo& info = settingInfo(setting);
    const NumberIn number(text);
    double result = number.value;
    bool named = false;  // the text names its value in words
    switch (info.show) {
        case SettingShow::Voices:
            named = std::strstr(text, "Mono") != nullptr;
            if (named) result = 1;
            break;
        case SettingShow::Switch:
            named = std::strstr(text, "on") || std::strstr(text, "off");
            if (named) result = std::strstr(text, "on") ? 1 : 0;
            break;
        case SettingShow::TimeFactor:  // the factor back to the setting
            result = number.value >= 1.0 ? (number.value - 1.0) / 0.06 + 50.0 : (number.value - 0.25) / 0.015;
            break;
        case SettingShow::Zoom: result = 8 - number.value; break;
        case SettingShow::Factor:  // the factor, a power of two, back to its exponent
            if (!(number.value >= 1.0) || std::exp2(std::round(std::log2(number.value))) != number.value) return false;
            result = std::log2(number.value);
            break;
        case SettingShow::Key: named = keyOf(number.at, info, result); break;
        case SettingShow::Number:
        case SettingShow::Duration: break;
    }
    if (!named && !number.found) return false;
    result = std::round(result);
    if (!(result >= lowestValue(info) && result <= info.highest)) return false;
    value = static_cast<int32_t>(result);
    return true;
}

bool programOfText(const char* text, int32_t& program) {
    if (!text) return false;
    const NumberIn number(text);
    if (!number.found || !(number.value >= 1 && number.value < 129)) return false;
    program = static_cast<int32_t>(number.value) - 1;
    return true;
}

}  // namespace engine
