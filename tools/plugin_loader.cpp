#include "plugin_loader.h"

#if defined(_WIN32)
#include <windows.h>

PluginLibrary::PluginLibrary(const std::string& path) {
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (!handle_) error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
}

PluginLibrary::~PluginLibrary() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* PluginLibrary::symbol(const char* name) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}
#elif defined(__EMSCRIPTEN__)
// WebAssembly loads no libraries: the plug-in is linked into the program.
extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);

PluginLibrary::PluginLibrary(const std::string&) { handle_ = reinterpret_cast<void*>(&VSTPluginMain); }

PluginLibrary::~PluginLibrary() = default;

void* PluginLibrary::symbol(const char* name) const {
    const std::string wanted = name;
    return wanted == "VSTPluginMain" || wanted == "main" ? reinterpret_cast<void*>(&VSTPluginMain) : nullptr;
}
#else
#include <dlfcn.h>

PluginLibrary::PluginLibrary(const std::string& path) {
    // A name without a slash would be looked for in the system's library folders, not
    // where the user means: the current folder.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) error_ = dlerror();
}

PluginLibrary::~PluginLibrary() {
    if (handle_) dlclose(handle_);
}

void* PluginLibrary::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }
#endif
