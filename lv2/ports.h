// The LV2 plug-in's identity and ports, read by the plug-in and by the generator of its
// Turtle description, so that the two always agree. The URI, the port symbols and the
// preset URIs are stored in hosts' sessions: never change them.
#pragma once

#include <cstdint>

#include "../plugin/parameters.h"

namespace lv2adapter {

inline constexpr char kUri[] = "urn:kelmo:bytone";
inline constexpr char kStateKey[] = "urn:kelmo:bytone#state";
// The control ports' values last acted on, beside the state.
inline constexpr char kControlsKey[] = "urn:kelmo:bytone#controls";
inline constexpr char kPresetPrefix[] = "urn:kelmo:bytone:preset:";
inline constexpr char kUiUri[] = "urn:kelmo:bytone#ui";

// The MIDI input, the two outputs, a control per host parameter in the parameter
// layer's order (a setting's named by its key): the first release's settings, the
// program, then the settings that came after; the latency the instrument reports after
// the fourteen parameters it came with, and any later parameter after it. Ports are only
// ever added at the end.
constexpr uint32_t kMidiPort = 0;
constexpr uint32_t kLeftPort = 1;
constexpr uint32_t kRightPort = 2;
constexpr uint32_t kFirstSettingPort = 3;
constexpr uint32_t kProgramPort = kFirstSettingPort + engine::kClassicSettingCount;
constexpr uint32_t kLatencyPort = kFirstSettingPort + 14;
constexpr uint32_t kPortCount = kFirstSettingPort + plugin::kParameterCount + 1;

// The port of the parameter at `index` of the layer's order, and the parameter's index of
// a control input port (-1 for another port).
constexpr uint32_t portOfParameter(int index) {
    const auto port = kFirstSettingPort + static_cast<uint32_t>(index);
    return port < kLatencyPort ? port : port + 1;
}
constexpr int parameterOfPort(uint32_t port) {
    if (port < kFirstSettingPort || port == kLatencyPort || port >= kPortCount) return -1;
    return static_cast<int>(port - kFirstSettingPort) - (port > kLatencyPort ? 1 : 0);
}

}  // namespace lv2adapter
