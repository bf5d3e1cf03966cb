// The library's one entry point, exported as `VSTPluginMain` and as `main` (the second
// name is given at link time: C++ reserves `main`).
#include <memory>

#include "../editor/create_editor.h"
#include "aeffect.h"
#include "aeffeditor.h"
#include "bytone.h"

#if defined(_WIN32)
#define BYTONE_EXPORT __declspec(dllexport)
#else
#define BYTONE_EXPORT __attribute__((visibility("default")))
#endif

// [host thread] Creates one instance per call, reading formulas in `language`. A host
// that answers 0 to audioMasterVersion, or a construction that runs out of memory, gets
// null and no partly built instance.
AEffect* createBytone(audioMasterCallback audioMaster, Language language) {
    if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    try {
        auto instrument = std::make_unique<Bytone>(audioMaster, language);
        instrument->setEditor(std::make_unique<AEffEditor>(createEditor(instrument->instrument())));
        return instrument.release()->getAeffect();
    } catch (...) {
        return nullptr;
    }
}

// The plug-in: the classic instrument.
extern "C" BYTONE_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
    return createBytone(audioMaster, Language::Classic);
}
