#include "plugin_host.h"

namespace {

// The callback receives only the effect record; during the entry point's call it
// receives none, so the instance being created is found through this slot.
thread_local PluginHost* hostBeingCreated = nullptr;

}  // namespace

PluginHost::PluginHost(const std::string& path, double sampleRate) : library_(path), sampleRate_(sampleRate) {
    if (!library_.loaded()) {
        error_ = "cannot load " + path + ": " + library_.error();
        return;
    }
    PluginEntry entry = library_.entry("VSTPluginMain");
    if (!entry) entry = library_.entry("main");
    if (!entry) {
        error_ = path + " has no VST 2.4 entry point (VSTPluginMain or main)";
        return;
    }
    hostBeingCreated = this;
    effect_ = entry(callback);
    hostBeingCreated = nullptr;
    if (!effect_ || effect_->magic != kEffectMagic) {
        error_ = path + " did not create a VST 2.4 instance";
        effect_ = nullptr;
        return;
    }
    effect_->user = this;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate_));
}

PluginHost::~PluginHost() {
    if (effect_) dispatch(effClose);
}

VstIntPtr PluginHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginHost::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[512] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

VstIntPtr PluginHost::callback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    const PluginHost* host = effect && effect->user ? static_cast<PluginHost*>(effect->user) : hostBeingCreated;
    switch (opcode) {
        case audioMasterVersion: return kVstVersion;
        case audioMasterGetSampleRate: return host ? static_cast<VstIntPtr>(host->sampleRate_) : 0;
        case audioMasterWantMidi:
        case audioMasterUpdateDisplay: return 1;
        default: return 0;
    }
}
