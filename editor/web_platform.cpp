// The editor inside a web page: the window is the headless one, drawn into pixels, and
// the page shows its image with the texts laid over it and hands it the user's input.
#include "create_editor.h"
#include "gui.h"
#include "headless_platform.h"

std::unique_ptr<editor::EditorView> createEditor(engine::Instrument& instrument) {
    return std::make_unique<editor::GUI>(instrument, std::make_unique<editor::HeadlessPlatform>());
}
