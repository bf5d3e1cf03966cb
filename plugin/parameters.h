// The host parameters of the CLAP, VST3 and LV2 plug-ins, described once: each setting
// of the table in engine/settings.h under its number, listed as the settings that the
// first release had, the current program, then the settings that came after. Each
// format adds only its own ids and calls; the conversions between a host's values and
// the instrument's whole values, the texts, and the events that carry a change to its
// frame are here.
#pragma once

#include <cstdint>
#include <string>

#include "../engine/events.h"
#include "../engine/instrument.h"

namespace plugin {

// A parameter's id in every format: a setting's number, or kProgramParameter. Hosts keep
// these in their sessions: never change them.
using ParameterId = uint32_t;
constexpr ParameterId kProgramParameter = 100;
// The settings and the program.
constexpr int kParameterCount = engine::kSettingCount + 1;

struct ParameterInfo {
    ParameterId id;
    const char* key;   // its symbol where a format names parameters (LV2's ports)
    const char* name;  // as hosts show it
    int32_t lowest, highest, defaultValue;
    bool automatable;  // hosts may record and play it as automation
};

// The parameter at `index` as hosts list them (0 to kParameterCount - 1), and the index of
// a parameter in that list (-1 for a foreign id). LV2 numbers its ports in this order.
ParameterInfo parameterAt(int index);
int parameterIndexOf(ParameterId id);
// The parameter of an id; false for an id that is none of ours.
bool parameterOf(ParameterId id, ParameterInfo& info);
// The setting a parameter id stands for; false for the program and foreign ids.
bool settingOf(ParameterId id, engine::Setting& setting);

// A host's value as a whole number: rounded, NaN 0, far values at ±10^9.
int32_t wholeValue(double value);
// A host's velocity from 0 to 1 as MIDI's 1 to 127: v × 127 rounded, so that a host's
// v/127 gives v back; a note-on is never an off.
int32_t midiVelocity(double velocity);
// A program number brought into the bank's range.
int32_t clampProgram(int32_t program);

// [any thread] The parameter's value now; false for a foreign id.
bool parameterValue(const engine::Instrument& instrument, ParameterId id, int32_t& value);
// The event that gives the parameter `value` at `frame` of the block; false for a
// foreign id. A program change compiles nothing there: the block's end takes it, as it
// takes a MIDI program change.
bool parameterEvent(ParameterId id, int32_t value, int32_t frame, engine::Event& event);
// [outside a block, any thread] Gives the parameter `value` at once; false for a foreign
// id. No compilation here either: the next block's end or syncProgramDisplay takes a
// program change.
bool applyParameter(engine::Instrument& instrument, ParameterId id, int32_t value);
// The text a value shows with: a setting's value alone, the program's name.
bool parameterText(const engine::Instrument& instrument, ParameterId id, int32_t value, std::string& text);
// The value a text names, as a value alone, the editor's texts or a program's name write it.
bool parameterValueOfText(ParameterId id, const char* text, int32_t& value);

}  // namespace plugin
