// The editor of this build: a Win32/GDI window on Windows; none elsewhere yet.
#pragma once

#include <memory>

class AEffEditor;
class Bytone;

// [host thread] Makes the editor for `instrument` and registers it for display
// refreshes; null where this build has no window system backend.
std::unique_ptr<AEffEditor> createEditor(Bytone& instrument);
