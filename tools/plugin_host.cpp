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
}

PluginHost::~PluginHost() {
    if (!effect_) return;
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
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

void PluginHost::start(int32_t maxBlockSize) {
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate_));
    dispatch(effSetBlockSize, 0, maxBlockSize);
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
}

void PluginHost::process(const std::vector<BlockEvent>& events, float* left, float* right, int32_t frames) {
    if (!events.empty()) {
        midi_.assign(events.size(), VstMidiEvent{});
        for (size_t i = 0; i < events.size(); ++i) {
            VstMidiEvent& m = midi_[i];
            m.type = kVstMidiType;
            m.byteSize = sizeof(VstMidiEvent);
            m.deltaFrames = events[i].deltaFrames;
            m.flags = kVstMidiEventIsRealtime;
            m.midiData[0] = static_cast<char>(events[i].status);
            m.midiData[1] = static_cast<char>(events[i].data1);
            m.midiData[2] = static_cast<char>(events[i].data2);
        }
        eventBlock_.assign(sizeof(VstEvents) + events.size() * sizeof(VstEvent*), 0);
        auto* block = reinterpret_cast<VstEvents*>(eventBlock_.data());
        block->numEvents = static_cast<VstInt32>(events.size());
        VstEvent** list = block->events;  // room for every event follows the header
        for (size_t i = 0; i < events.size(); ++i) list[i] = reinterpret_cast<VstEvent*>(&midi_[i]);
        dispatch(effProcessEvents, 0, 0, block);
    }
    float* outputs[2] = {left, right};
    effect_->processReplacing(effect_, nullptr, outputs, frames);
}

std::vector<uint8_t> PluginHost::chunk() const {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
    if (!data || size <= 0) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

void PluginHost::setChunk(std::vector<uint8_t> chunk) const {
    dispatch(effSetChunk, 0, static_cast<VstIntPtr>(chunk.size()), chunk.data());
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
