// Loads a plug-in binary and finds its entry point: dlopen on Linux, LoadLibrary on
// Windows.
#pragma once

#include <string>

#include "../host/aeffect.h"

using PluginEntry = AEffect* (*)(audioMasterCallback);

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    // The VST 2.4 entry point exported under `name`, or null.
    PluginEntry entry(const char* name) const { return reinterpret_cast<PluginEntry>(symbol(name)); }
    // What the library exports under `name` (a function or data), or null.
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
    std::string error_;
};
