// The texts of the editor's value labels and scope zoom label.
#pragma once

#include <cstdint>
#include <string>

namespace editor {

std::string polyText(int32_t polyphony);
std::string portaText(int32_t portamento);
std::string timeText(int32_t timeScale);
std::string gainText(int32_t gain);
// The channel-10 key of a program as a note name and octave, or "---" below 24.
std::string drumText(int32_t drumKey);
std::string zoomText(int32_t scopeZoom);

}  // namespace editor
