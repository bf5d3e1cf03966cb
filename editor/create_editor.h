// The editor of this build: a Win32/GDI window on Windows, an X11 window on Linux, a
// window drawn into pixels in the web page.
#pragma once

#include <memory>

#include "editor_view.h"

namespace engine {
class Instrument;
}

// [host thread] Makes the editor for `instrument` and registers it for display refreshes.
std::unique_ptr<editor::EditorView> createEditor(engine::Instrument& instrument);
