#include "aeffeditor.h"
#include "create_editor.h"

std::unique_ptr<AEffEditor> createEditor(Bytone&) { return nullptr; }
