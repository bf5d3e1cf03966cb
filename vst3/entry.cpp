// The module's entry points: GetPluginFactory, and the calls a host makes on loading and
// unloading it (ModuleEntry/ModuleExit on Linux, InitDll/ExitDll on Windows), with the
// factory of the one plug-in.
#include <travesty/factory.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "../plugin/identity.h"
#include "instrument_plugin.h"

namespace {

void fill(char* out, size_t size, const char* text) { std::snprintf(out, size, "%s", text); }
void fill(int16_t* out, size_t size, const char* text) {
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[i] = 0;
}

// The class's description in each of the factory's three forms.
template <class Info>
void describe(Info& info) {
    info = Info{};
    std::memcpy(info.class_id, vst3adapter::kClassId, sizeof info.class_id);
    info.cardinality = 0x7FFFFFFF;
    fill(info.category, sizeof info.category, "Audio Module Class");
    fill(info.name, sizeof info.name / sizeof info.name[0], "Bytone");
}
template <class Info>
void describeMore(Info& info) {
    describe(info);
    fill(info.sub_categories, sizeof info.sub_categories, "Instrument|Synth");
    fill(info.vendor, sizeof info.vendor / sizeof info.vendor[0], plugin::kVendor);
    fill(info.version, sizeof info.version / sizeof info.version[0], BYTONE_VERSION);
    fill(info.sdk_version, sizeof info.sdk_version / sizeof info.sdk_version[0], "VST 3.7.2");
}

// The factory lives as long as the module; it counts the references hosts hold, which
// GetPluginFactory hands out one at a time, so that a host test can see them all given back.
struct Factory {
    const v3_plugin_factory_cpp* table;
    std::atomic<uint32_t> references;
};
Factory& factoryOf(void* self) { return *static_cast<Factory*>(self); }

v3_result queryFactory(void* self, const v3_tuid iid, void** out) {
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
        v3_tuid_match(iid, v3_plugin_factory_2_iid) || v3_tuid_match(iid, v3_plugin_factory_3_iid)) {
        ++factoryOf(self).references;
        *out = self;
        return V3_OK;
    }
    *out = nullptr;
    return V3_NO_INTERFACE;
}

const v3_plugin_factory_cpp kFactoryTable = {
    {queryFactory, [](void* self) -> uint32_t { return ++factoryOf(self).references; },
     [](void* self) -> uint32_t { return --factoryOf(self).references; }},
    {
        [](void*, v3_factory_info* info) -> v3_result {
            if (!info) return V3_INVALID_ARG;
            *info = v3_factory_info{};
            fill(info->vendor, sizeof info->vendor, plugin::kVendor);
            fill(info->url, sizeof info->url, "");
            fill(info->email, sizeof info->email, "");
            info->flags = 0x10;  // unicode
            return V3_OK;
        },
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_class_info* info) -> v3_result {
            if (index != 0 || !info) return V3_INVALID_ARG;
            describe(*info);
            return V3_OK;
        },
        [](void*, const v3_tuid classId, const v3_tuid iid, void** out) -> v3_result {
            if (!out) return V3_INVALID_ARG;
            *out = nullptr;
            if (!v3_tuid_match(classId, vst3adapter::kClassId)) return V3_NO_INTERFACE;
            // A construction that runs out of memory gives the host nothing.
            auto* plugin = new (std::nothrow) vst3adapter::Plugin();
            if (!plugin) return V3_NOMEM;
            *out = plugin->query(iid);
            plugin->unref();  // the host's reference, if it got an interface, is the one left
            return *out ? V3_OK : V3_NO_INTERFACE;
        },
    },
    {
        [](void*, int32_t index, v3_class_info_2* info) -> v3_result {
            if (index != 0 || !info) return V3_INVALID_ARG;
            describeMore(*info);
            return V3_OK;
        },
    },
    {
        [](void*, int32_t index, v3_class_info_3* info) -> v3_result {
            if (index != 0 || !info) return V3_INVALID_ARG;
            describeMore(*info);
            return V3_OK;
        },
        [](void*, v3_funknown**) -> v3_result { return V3_OK; },
    },
};

Factory factory{&kFactoryTable, {0}};

}  // namespace

#if defined(_WIN32)
#define BYTONE_EXPORT extern "C" __declspec(dllexport)
BYTONE_EXPORT bool InitDll() { return true; }
BYTONE_EXPORT bool ExitDll() { return true; }
#else
#define BYTONE_EXPORT extern "C" __attribute__((visibility("default")))
BYTONE_EXPORT bool ModuleEntry(void*) { return true; }
BYTONE_EXPORT bool ModuleExit() { return true; }
#endif

BYTONE_EXPORT void* GetPluginFactory() {
    ++factory.references;
    return &factory;
}
