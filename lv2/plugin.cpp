// The LV2 plug-in: one instrument behind lv2_descriptor. MIDI comes as an atom sequence
// of MIDI events at their frames; each setting and the program is a control input,
// acted on at the start of a block when its value changes, so that a value set by MIDI
// or the editor is not undone by a port that did not move; the state is the CLAP and
// VST3 state's bytes as one property.
// Threads, as LV2 tags them: run on the audio thread; instantiate, the state and
// cleanup on others, the state's restore possibly while run goes on.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <new>

#include "../engine/full_state.h"
#include "../plugin/parameters.h"
#include "instance.h"

namespace lv2adapter {

namespace {

Plugin& of(LV2_Handle handle) { return *static_cast<Plugin*>(handle); }

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
    Plugin& plugin = of(handle);
    const std::vector<uint8_t> bytes = engine::saveFullState(*plugin.instrument);
    if (bytes.empty()) return LV2_STATE_ERR_UNKNOWN;
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    const LV2_State_Status status = store(state, plugin.stateKey, bytes.data(), bytes.size(), plugin.chunk, flags);
    if (status != LV2_STATE_SUCCESS) return status;
    int32_t controls[Plugin::kControlCount];
    for (int i = 0; i < Plugin::kControlCount; ++i) controls[i] = plugin.lastControls[i].load();
    return store(state, plugin.controlsKey, controls, sizeof controls, plugin.chunk, flags);
}

// The restored bank reaches the audio thread as a VST 2.4 host's setChunk does: run may
// go on meanwhile.
LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const*) {
    Plugin& plugin = of(handle);
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* data = retrieve(state, plugin.stateKey, &size, &type, &flags);
    if (!data) return LV2_STATE_ERR_NO_PROPERTY;
    if (type != plugin.chunk) return LV2_STATE_ERR_BAD_TYPE;
    if (!engine::restoreFullState(*plugin.instrument, static_cast<const uint8_t*>(data), size))
        return LV2_STATE_ERR_UNKNOWN;
    // A state saved without the controls (or with another count of them) leaves them.
    int32_t controls[Plugin::kControlCount];
    const void* saved = retrieve(state, plugin.controlsKey, &size, &type, &flags);
    if (saved && type == plugin.chunk && size == sizeof controls) {
        std::memcpy(controls, saved, sizeof controls);
        for (int i = 0; i < Plugin::kControlCount; ++i) plugin.lastControls[i] = controls[i];
    }
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface kState = {save, restore};

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (!map) return nullptr;  // required: the host lacks it
    auto* plugin = new (std::nothrow) Plugin;
    if (!plugin) return nullptr;
    plugin->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    plugin->chunk = map->map(map->handle, LV2_ATOM__Chunk);
    plugin->stateKey = map->map(map->handle, kStateKey);
    plugin->controlsKey = map->map(map->handle, kControlsKey);
    const auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
    plugin->time = {urid(LV2_ATOM__Object),   urid(LV2_ATOM__Blank),       urid(LV2_TIME__Position),
                    urid(LV2_TIME__bar),      urid(LV2_TIME__barBeat),     urid(LV2_TIME__beat),
                    urid(LV2_TIME__beatUnit), urid(LV2_TIME__beatsPerBar), urid(LV2_TIME__beatsPerMinute),
                    urid(LV2_TIME__speed),    urid(LV2_TIME__frame),       urid(LV2_ATOM__Int),
                    urid(LV2_ATOM__Long),     urid(LV2_ATOM__Float),       urid(LV2_ATOM__Double)};
    plugin->instrument->setSampleRate(rate);
    for (int i = 0; i < Plugin::kControlCount; ++i) {
        int32_t value = 0;
        plugin::parameterValue(*plugin->instrument, plugin::parameterAt(i).id, value);
        plugin->lastControls[i] = value;
    }
    return plugin;
}

void connect(LV2_Handle handle, uint32_t port, void* data) {
    Plugin& plugin = of(handle);
    if (port == kMidiPort)
        plugin.midi = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kLeftPort)
        plugin.left = static_cast<float*>(data);
    else if (port == kRightPort)
        plugin.right = static_cast<float*>(data);
    else if (port == kLatencyPort)
        plugin.latency = static_cast<float*>(data);
    else if (parameterOfPort(port) >= 0)
        plugin.controls[parameterOfPort(port)] = static_cast<const float*>(data);
}

// The compilation a program change asked for happens here, off the audio thread.
void activate(LV2_Handle handle) {
    of(handle).instrument->syncProgramDisplay();
    of(handle).instrument->rewindSong();
}

const LV2_Descriptor kDescriptor = {
    kUri,
    instantiate,
    connect,
    activate,
    [](LV2_Handle handle, uint32_t frames) { of(handle).run(frames); },
    [](LV2_Handle) {},
    [](LV2_Handle handle) { delete static_cast<Plugin*>(handle); },
    [](const char* uri) -> const void* { return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kState : nullptr; },
};

}  // namespace

void Plugin::controlChanges() {
    for (int i = 0; i < kControlCount; ++i) {
        if (!controls[i]) continue;
        const int32_t value = plugin::wholeValue(*controls[i]);
        if (lastControls[i].exchange(value) == value) continue;
        engine::Event event;
        if (plugin::parameterEvent(plugin::parameterAt(i).id, value, 0, event)) instrument->queueEvent(event);
    }
}

// A number of the time ontology, whichever of the atom's number types it comes as.
bool Plugin::numberOf(const LV2_Atom* atom, double& value) const {
    if (atom->type == time.atomDouble && atom->size >= sizeof(double))
        value = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
    else if (atom->type == time.atomFloat && atom->size >= sizeof(float))
        value = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
    else if (atom->type == time.atomLong && atom->size >= sizeof(int64_t))
        value = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
    else if (atom->type == time.atomInt && atom->size >= sizeof(int32_t))
        value = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
    else
        return false;
    return std::isfinite(value);
}

void Plugin::position(const LV2_Atom_Object* object, int32_t frame) {
    double bar = 0, barBeat = 0, beat = 0, tempo = 0, speed = 0, unit = 0, perBar = 0, frames = 0;
    bool hasBar = false, hasBarBeat = false, hasBeat = false, hasTempo = false, hasFrame = false;
    LV2_ATOM_OBJECT_FOREACH(object, property) {
        if (reinterpret_cast<const uint8_t*>(&property->value + 1) + property->value.size >
            reinterpret_cast<const uint8_t*>(&object->body) + object->atom.size)
            break;  // a property that runs past its object
        const LV2_URID key = property->key;
        double value = 0;
        if (!numberOf(&property->value, value)) continue;
        if (key == time.bar)
            bar = value, hasBar = true;
        else if (key == time.barBeat)
            barBeat = value, hasBarBeat = true;
        else if (key == time.beat)
            beat = value, hasBeat = true;
        else if (key == time.beatsPerMinute)
            tempo = value, hasTempo = true;
        else if (key == time.speed)
            speed = value, meter.playing = speed != 0.0;
        else if (key == time.frame && std::fabs(value) < 9e15)
            frames = value, hasFrame = true;
        else if (key == time.beatUnit && value >= 1 && value <= 64)
            unit = value, meter.beatUnit = value;
        else if (key == time.beatsPerBar && value > 0 && value <= 64)
            perBar = value, meter.beatsPerBar = value;
    }
    // Beats of another unit than the quarter note become quarter notes.
    const double quarters = 4.0 / meter.beatUnit;
    engine::TransportReport report;
    report.playing = meter.playing;
    report.hasTempo = hasTempo;
    report.tempo = tempo * quarters;
    report.hasSignature = unit > 0 || perBar > 0;
    report.numerator = static_cast<int32_t>(std::lround(meter.beatsPerBar));
    report.denominator = static_cast<int32_t>(std::lround(meter.beatUnit));
    if (hasBar && hasBarBeat) {
        report.hasPosition = report.hasBarStart = true;
        report.barStart = bar * meter.beatsPerBar * quarters;
        report.quarterNotes = report.barStart + barBeat * quarters;
    } else if (hasBeat) {
        report.hasPosition = true;
        report.quarterNotes = beat * quarters;
    }
    report.hasSamples = hasFrame;
    report.samples = static_cast<int64_t>(frames);
    instrument->queueTransport(report, frame);
}

void Plugin::run(uint32_t frames) {
    controlChanges();
    if (midi) {
        LV2_ATOM_SEQUENCE_FOREACH(midi, event) {
            const auto frame = static_cast<int32_t>(event->time.frames);
            if ((event->body.type == time.object || event->body.type == time.blank) &&
                event->body.size >= sizeof(LV2_Atom_Object_Body) &&
                reinterpret_cast<const LV2_Atom_Object*>(&event->body)->body.otype == time.position) {
                position(reinterpret_cast<const LV2_Atom_Object*>(&event->body), frame);
                continue;
            }
            if (event->body.type != midiEvent || event->body.size == 0) continue;
            const auto* bytes = reinterpret_cast<const uint8_t*>(event + 1);
            const uint32_t size = event->body.size;
            instrument->queueMidi(bytes[0], size > 1 ? bytes[1] : 0, size > 2 ? bytes[2] : 0, frame);
        }
    }
    instrument->render(left, right, static_cast<int32_t>(frames));
    if (latency) *latency = static_cast<float>(instrument->latency());
}

}  // namespace lv2adapter

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &lv2adapter::kDescriptor : nullptr;
}
