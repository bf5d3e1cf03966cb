#include "status_text.h"

#include <cstdio>

#include "../engine/bytone.h"

namespace editor {

namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

constexpr const char* kNoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};

}  // namespace

std::string polyText(int32_t polyphony) {
    return polyphony <= 1 ? "Mono" : format("Poly: %u", static_cast<unsigned>(polyphony));
}

std::string portaText(int32_t portamento) { return format("Porta: %u", static_cast<unsigned>(portamento)); }

std::string timeText(int32_t timeScale) { return format("Time: %1.2fx", timeFactorOf(timeScale)); }

std::string gainText(int32_t gain) { return format("Gain: %u", static_cast<unsigned>(gain)); }

std::string drumText(int32_t drumKey) {
    if (drumKey < 24) return "Ch10:  ---";
    return format("Ch10:  %s%i", kNoteNames[drumKey % 12], (drumKey - 24) / 12 + 1);
}

std::string zoomText(int32_t scopeZoom) { return format("%ix", 8 - scopeZoom); }

}  // namespace editor
