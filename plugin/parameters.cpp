#include "parameters.h"

#include <algorithm>
#include <cmath>

namespace plugin {

namespace {

constexpr ParameterInfo kProgram = {kProgramParameter, "program", "Program", 0, kNumPrograms - 1, 0, true};

}  // namespace

ParameterInfo parameterAt(int index) {
    if (index == engine::kClassicSettingCount) return kProgram;
    if (index > engine::kClassicSettingCount) --index;
    engine::Setting setting;
    if (!engine::settingFromNumber(index, setting)) return kProgram;
    const engine::SettingInfo& info = engine::settingInfo(setting);
    return {static_cast<ParameterId>(index),
            info.key,
            info.name,
            engine::lowestValue(info),
            info.highest,
            info.defaultValue,
            info.automatable};
}

int parameterIndexOf(ParameterId id) {
    if (id == kProgramParameter) return engine::kClassicSettingCount;
    engine::Setting setting;
    if (!settingOf(id, setting)) return -1;
    const int number = static_cast<int>(setting);
    return number < engine::kClassicSettingCount ? number : number + 1;
}

bool settingOf(ParameterId id, engine::Setting& setting) {
    return id < static_cast<ParameterId>(engine::kSettingCount) &&
           engine::settingFromNumber(static_cast<int32_t>(id), setting);
}

bool parameterOf(ParameterId id, ParameterInfo& info) {
    const int index = parameterIndexOf(id);
    if (index < 0) return false;
    info = parameterAt(index);
    return true;
}

int32_t wholeValue(double value) {
    return std::isfinite(value) ? static_cast<int32_t>(std::lround(std::clamp(value, -1e9, 1e9))) : 0;
}

int32_t midiVelocity(double velocity) { return std::clamp(wholeValue(velocity * 127.0), 1, 127); }

int32_t clampProgram(int32_t program) { return std::clamp(program, 0, kNumPrograms - 1); }

bool parameterValue(const engine::Instrument& instrument, ParameterId id, int32_t& value) {
    engine::Setting setting;
    if (settingOf(id, setting))
        value = instrument.setting(setting);
    else if (id == kProgramParameter)
        value = instrument.program();
    else
        return false;
    return true;
}

bool parameterEvent(ParameterId id, int32_t value, int32_t frame, engine::Event& event) {
    engine::Setting setting;
    event = engine::Event{};
    event.frame = frame;
    if (settingOf(id, setting)) {
        event.kind = engine::EventKind::SettingChange;
        event.setting = static_cast<int32_t>(setting);
        event.value = static_cast<float>(value);
    } else if (id == kProgramParameter) {
        event.kind = engine::EventKind::ProgramChange;
        event.program = clampProgram(value);
    } else {
        return false;
    }
    return true;
}

bool applyParameter(engine::Instrument& instrument, ParameterId id, int32_t value) {
    engine::Setting setting;
    if (settingOf(id, setting))
        instrument.setSetting(setting, value);
    else if (id == kProgramParameter)
        instrument.setProgram(clampProgram(value));
    else
        return false;
    return true;
}

bool parameterText(const engine::Instrument& instrument, ParameterId id, int32_t value, std::string& text) {
    engine::Setting setting;
    if (settingOf(id, setting)) {
        text = engine::settingValueText(setting, value);
    } else if (id == kProgramParameter) {
        char name[kNameSize];
        instrument.programName(clampProgram(value), name, sizeof name);
        text = name;
    } else {
        return false;
    }
    return true;
}

bool parameterValueOfText(ParameterId id, const char* text, int32_t& value) {
    engine::Setting setting;
    if (settingOf(id, setting)) return engine::settingValueOf(setting, text, value);
    return id == kProgramParameter && engine::programOfText(text, value);
}

}  // namespace plugin
