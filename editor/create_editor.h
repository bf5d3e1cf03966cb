// The editor of this build: a Win32/GDI window on Windows, an X11 window on Linux, a
// window drawn into pixels in the web page.
#pragma once

#include <memory>

class AEffEditor;
class Bytone;

// [host thread] Makes the editor for `instrument` and registers it for display refreshes.
std::unique_ptr<AEffEditor> createEditor(Bytone& instrument);
