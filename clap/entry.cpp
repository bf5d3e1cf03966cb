// The library's one entry point, `clap_entry`, and its factory of the one plug-in.
#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include <cstring>

#include "instrument_plugin.h"

namespace {

const clap_plugin_factory_t kFactory = {
    [](const clap_plugin_factory_t*) -> uint32_t { return 1; },
    [](const clap_plugin_factory_t*, uint32_t index) -> const clap_plugin_descriptor_t* {
        return index == 0 ? &clapadapter::kDescriptor : nullptr;
    },
    [](const clap_plugin_factory_t*, const clap_host_t* host, const char* id) -> const clap_plugin_t* {
        if (!host || !id || std::strcmp(id, clapadapter::kDescriptor.id) != 0 ||
            !clap_version_is_compatible(host->clap_version))
            return nullptr;
        // A construction that runs out of memory gives the host nothing, not half a plug-in.
        try {
            return (new clapadapter::Plugin(host))->clapPlugin();
        } catch (...) {
            return nullptr;
        }
    },
};

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT,
    [](const char*) { return true; },
    []() {},
    [](const char* id) -> const void* {
        return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
    },
};
