// The LV2 plug-in's identity and ports, read by the plug-in and by the generator of its
// Turtle description, so that the two always agree. The URI, the port symbols and the
// preset URIs are stored in hosts' sessions: never change them.
#pragma once

#include <cstdint>

#include "../engine/settings.h"

namespace lv2adapter {

inline constexpr char kUri[] = "urn:kelmo:bytone";
inline constexpr char kStateKey[] = "urn:kelmo:bytone#state";
// The control ports' values last acted on, beside the state.
inline constexpr char kControlsKey[] = "urn:kelmo:bytone#controls";
inline constexpr char kPresetPrefix[] = "urn:kelmo:bytone:preset:";
inline constexpr char kUiUri[] = "urn:kelmo:bytone#ui";

// The MIDI input, the two outputs, a control per host parameter in the parameter
// layer's order (a setting's named by its key): the first release's settings, the
// program, then the settings that came after; and the latency the instrument reports.
constexpr uint32_t kMidiPort = 0;
constexpr uint32_t kLeftPort = 1;
constexpr uint32_t kRightPort = 2;
constexpr uint32_t kFirstSettingPort = 3;
constexpr uint32_t kProgramPort = kFirstSettingPort + engine::kClassicSettingCount;
constexpr uint32_t kLatencyPort = kFirstSettingPort + engine::kSettingCount + 1;
constexpr uint32_t kPortCount = kLatencyPort + 1;

}  // namespace lv2adapter
