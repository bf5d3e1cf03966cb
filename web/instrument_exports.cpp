// What the page's scripts call in the WebAssembly module. The instrument is made by the
// plug-in's own entry point and driven through its dispatcher and processReplacing, as a
// host drives it, so that the page plays the very plug-in that hosts load; this file adds
// what a host's window system and file dialogs would do: the editor window's pixels,
// texts and input, the settings and the controls as their tables describe them, and the
// state files of DAWs.
//
// Everything runs on one thread, the page's audio worklet. Nothing here allocates while
// rendering: events and samples go through fixed buffers.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstring>

#include "../editor/gui.h"
#include "../editor/headless_platform.h"
#include "../editor/pixel_canvas.h"
#include "../engine/presets.h"
#include "../host/aeffect.h"
#include "../host/aeffeditor.h"
#include "../host/bytone.h"
#include "../tools/state_file.h"

namespace {

constexpr int kMaxFrames = 4096;
constexpr int kMaxEvents = 512;
constexpr int kScratchBytes = 1 << 20;  // a whole chunk, a state file, a formula or a name

float sampleRate = 48000.0f;
float outputs[2][kMaxFrames];
VstMidiEvent midiEvents[kMaxEvents];
struct {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[kMaxEvents];
} eventList;
alignas(8) unsigned char scratch[kScratchBytes];
std::vector<uint8_t> savedFile;

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
        case audioMasterVersion: return kVstVersion;
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(sampleRate);
        case audioMasterWantMidi: return 1;
        default: return 0;
    }
}

Bytone& pluginOf(AEffect* effect) { return *static_cast<Bytone*>(static_cast<AudioEffect*>(effect->object)); }
// This build's editor is the headless window's GUI (web_platform.cpp).
editor::GUI& guiOf(AEffect* effect) { return *static_cast<editor::GUI*>(pluginOf(effect).getEditor()->view()); }
editor::HeadlessPlatform& windowOf(AEffect* effect) {
    return static_cast<editor::HeadlessPlatform&>(guiOf(effect).platform());
}

PluginIdentity identityOf(AEffect* effect) { return {effect->uniqueID, effect->version, effect->numPrograms}; }

// Copies `text` into the scratch buffer, cut to fit, for the page to read.
const char* toScratch(const std::string& text) {
    const size_t length = std::min(text.size(), sizeof scratch - 1);
    std::memcpy(scratch, text.data(), length);
    scratch[length] = '\0';
    return reinterpret_cast<const char*>(scratch);
}

// The state file in the scratch buffer's first `size` bytes, read; throws StateFileError
// for one the instrument does not take.
StateFile stateFileOf(AEffect* effect, int size) {
    const std::vector<uint8_t> bytes(scratch, scratch + std::clamp(size, 0, kScratchBytes));
    StateFile file = parseStateFile(bytes, identityOf(effect));
    if (file.chunk.size() > static_cast<size_t>(kChunkCapacityBytes))
        throw StateFileError("its state of " + std::to_string(file.chunk.size()) + " bytes is larger than " +
                             std::to_string(kChunkCapacityBytes) + ", the most the instrument takes");
    return file;
}

}  // namespace

extern "C" {

// The page's buffer for texts and files going either way.
EMSCRIPTEN_KEEPALIVE unsigned char* bytoneScratch() { return scratch; }
EMSCRIPTEN_KEEPALIVE int bytoneScratchBytes() { return kScratchBytes; }
EMSCRIPTEN_KEEPALIVE int bytoneMaxFrames() { return kMaxFrames; }

// A new instance as the entry point makes one, at the audio context's sample rate, that
// reads the extended language (words, stereo); null if it cannot be made.
EMSCRIPTEN_KEEPALIVE AEffect* bytoneOpen(float rate) {
    sampleRate = rate;
    return createBytone(hostCallback, Language::Extended);
}

// The page's transport at the next block's start: playing or stopped at `quarterNotes`,
// at `tempo` in `numerator`/`denominator`.
EMSCRIPTEN_KEEPALIVE bool bytoneQueueTransport(AEffect* effect, bool playing, double quarterNotes, double tempo,
                                               int numerator, int denominator) {
    engine::TransportReport report;
    report.playing = playing;
    report.hasPosition = report.hasTempo = report.hasSignature = true;
    report.quarterNotes = quarterNotes;
    report.tempo = tempo;
    report.numerator = numerator;
    report.denominator = denominator;
    return pluginOf(effect).instrument().queueTransport(report, 0);
}

EMSCRIPTEN_KEEPALIVE VstIntPtr bytoneDispatch(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                              void* ptr, float opt) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// Queues a MIDI message for the next block, at its first frame; false when the queue of
// the block is full.
EMSCRIPTEN_KEEPALIVE bool bytoneQueueMidi(int status, int data1, int data2) {
    if (eventList.numEvents >= kMaxEvents) return false;
    VstMidiEvent& e = midiEvents[eventList.numEvents];
    e = VstMidiEvent{};
    e.type = kVstMidiType;
    e.byteSize = sizeof e;
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(data1 & 0x7F);
    e.midiData[2] = static_cast<char>(data2 & 0x7F);
    eventList.events[eventList.numEvents] = reinterpret_cast<VstEvent*>(&e);
    ++eventList.numEvents;
    return true;
}

// Hands the queued events to the instrument and renders `frames` (at most kMaxFrames)
// into the two output buffers; returns the left one, the right one follows it.
EMSCRIPTEN_KEEPALIVE float* bytoneRender(AEffect* effect, int frames) {
    if (eventList.numEvents > 0) {
        effect->dispatcher(effect, effProcessEvents, 0, 0, &eventList, 0.0f);
        eventList.numEvents = 0;
    }
    float* channels[2] = {outputs[0], outputs[1]};
    effect->processReplacing(effect, nullptr, channels, std::clamp(frames, 0, kMaxFrames));
    return outputs[0];
}

// The editor window, opened with effEditOpen and refreshed with effEditIdle.

// Where control `control` lies in the window: left, top, right, bottom.
EMSCRIPTEN_KEEPALIVE const int* bytoneControlRect(int control) {
    static int corners[4];
    const editor::Rect r =
        editor::visibleRect(static_cast<editor::Control>(std::clamp(control, 0, editor::kControlCount - 1)));
    corners[0] = r.left, corners[1] = r.top, corners[2] = r.right, corners[3] = r.bottom;
    return corners;
}

// Whether anything was drawn anew since the last paint.
EMSCRIPTEN_KEEPALIVE bool bytoneEditorChanged(AEffect* effect) {
    const auto& invalidated = windowOf(effect).invalidated;
    return std::find(invalidated.begin(), invalidated.end(), true) != invalidated.end();
}

// The window's height in pixels; it is 600 wide.
EMSCRIPTEN_KEEPALIVE int bytoneEditorHeight(AEffect* effect) { return guiOf(effect).height(); }

// Paints the whole window and returns its pixels, 0xRRGGBB row by row.
EMSCRIPTEN_KEEPALIVE const uint32_t* bytoneEditorPaint(AEffect* effect) {
    editor::HeadlessPlatform& window = windowOf(effect);
    window.paint();
    return window.window.pixels.data();
}

// The text of control `control` (the formula box, the status line, the value labels).
EMSCRIPTEN_KEEPALIVE const char* bytoneEditorText(AEffect* effect, int control) {
    if (control < 0 || control >= editor::kControlCount) return toScratch("");
    return toScratch(windowOf(effect).texts[control]);
}

// The user typed: the formula box now holds the scratch buffer's text.
EMSCRIPTEN_KEEPALIVE void bytoneEditorType(AEffect* effect) {
    scratch[kScratchBytes - 1] = '\0';
    windowOf(effect).setText(editor::FormulaEdit, reinterpret_cast<const char*>(scratch));
    guiOf(effect).formulaEdited();
}

enum PointerInput { LeftDown, Move, LeftUp, RightDown, Wheel };

// Mouse input at (x, y) of the window, as its window system would report it.
EMSCRIPTEN_KEEPALIVE void bytoneEditorPointer(AEffect* effect, int input, int x, int y, int wheelDelta) {
    editor::GUI& gui = guiOf(effect);
    const editor::Point at = windowOf(effect).toScreen(x, y);
    switch (input) {
        case LeftDown: {
            // A click on one of the four buttons is their command, as a static control
            // with notify reports it; elsewhere it starts a drag.
            for (int c = 0; c < editor::kControlCount; ++c) {
                const editor::ControlLayout& layout = editor::layoutOf(static_cast<editor::Control>(c));
                if (layout.kind == editor::ControlKind::Clickable && layout.rect.contains(x, y)) {
                    gui.buttonClicked(layout.commandId);
                    return;
                }
            }
            gui.leftButtonDown(at);
            break;
        }
        case Move: gui.mouseMove(at); break;
        case LeftUp: gui.leftButtonUp(); break;
        case RightDown: gui.rightButtonDown(at); break;
        case Wheel: gui.wheel(at, wheelDelta); break;
        default: break;
    }
}

// Program `program`'s formula becomes the scratch buffer's text, compiled at once, with
// no editor involved: the page's editor runs in an instance of its own, and this one,
// which plays, takes each formula typed there.
EMSCRIPTEN_KEEPALIVE void bytoneSetFormula(AEffect* effect, int program) {
    scratch[kScratchBytes - 1] = '\0';
    const auto* text = reinterpret_cast<const char*>(scratch);
    engine::Instrument& instrument = pluginOf(effect).instrument();
    std::lock_guard<std::mutex> hold(instrument.bankLock());
    instrument.storeFormula(program, text, std::strlen(text));
    instrument.compileDirtyPrograms();
}

// The editor's colour `which` (0 button face, 1 window text, 2 window, 3 scroll bar) as
// 0xRRGGBB, for the page's own controls.
EMSCRIPTEN_KEEPALIVE uint32_t bytoneEditorColor(int which) {
    return editor::defaultColor(static_cast<editor::SysColor>(std::clamp(which, 0, 3)));
}

// The frames by which the sound lags its notes (the oversampling's filters).
EMSCRIPTEN_KEEPALIVE int bytoneLatency(AEffect* effect) { return pluginOf(effect).instrument().latency(); }

// Program `program` is renamed to the scratch buffer's text.
EMSCRIPTEN_KEEPALIVE void bytoneSetProgramNameAt(AEffect* effect, int program) {
    scratch[kScratchBytes - 1] = '\0';
    pluginOf(effect).instrument().setProgramName(program, reinterpret_cast<const char*>(scratch));
}

// Program `program`'s formula.
EMSCRIPTEN_KEEPALIVE const char* bytoneProgramFormula(AEffect* effect, int program) {
    if (program < 0 || program >= kNumPrograms) return toScratch("");
    engine::Instrument& instrument = pluginOf(effect).instrument();
    std::lock_guard<std::mutex> hold(instrument.bankLock());
    return toScratch(instrument.formulaOf(program));
}

// Where the compiler stops reading the scratch buffer's formula: the offset of the
// character it cannot take, the length where the text ends too soon, or -1 where it
// compiles.
EMSCRIPTEN_KEEPALIVE int bytoneFormulaStop(AEffect* effect) {
    scratch[kScratchBytes - 1] = '\0';
    engine::Instrument& instrument = pluginOf(effect).instrument();
    std::lock_guard<std::mutex> hold(instrument.bankLock());
    return instrument.stopOf(reinterpret_cast<const char*>(scratch));
}

// The editor's clipboard: what its Copy button copied, and what its Paste button will
// paste (the scratch buffer's text).
EMSCRIPTEN_KEEPALIVE const char* bytoneClipboard(AEffect* effect) {
    return toScratch(windowOf(effect).clipboard.value_or(""));
}
EMSCRIPTEN_KEEPALIVE void bytoneSetClipboard(AEffect* effect) {
    scratch[kScratchBytes - 1] = '\0';
    windowOf(effect).clipboard = std::string(reinterpret_cast<const char*>(scratch));
}

// The built-in programs a new instance holds, for the page's preset browser: how many,
// and each one's name (`field` 0) or its line on what it sounds like (1).
EMSCRIPTEN_KEEPALIVE int bytonePresetCount() {
    int count = 0;
    while (count < kNumPrograms && static_cast<unsigned char>(presetTable[count].name[0]) >= 32) ++count;
    return count;
}
EMSCRIPTEN_KEEPALIVE const char* bytonePreset(int index, int field) {
    if (index < 0 || index >= bytonePresetCount()) return toScratch("");
    return toScratch(field == 0 ? presetTable[index].name : presetTable[index].description);
}

// The table of settings: how many, and each one's key, range and default.
EMSCRIPTEN_KEEPALIVE int bytoneSettingCount() { return engine::kSettingCount; }
EMSCRIPTEN_KEEPALIVE const char* bytoneSettingKey(int number) {
    engine::Setting setting;
    return toScratch(engine::settingFromNumber(number, setting) ? engine::settingInfo(setting).key : "");
}
// Lowest, highest, default and the units of a step of setting `number`.
EMSCRIPTEN_KEEPALIVE const int* bytoneSettingRange(int number) {
    static int range[4];
    engine::Setting setting;
    if (!engine::settingFromNumber(number, setting)) return nullptr;
    const engine::SettingInfo& info = engine::settingInfo(setting);
    range[0] = info.lowest, range[1] = info.highest, range[2] = info.defaultValue, range[3] = info.stepUnits;
    return range;
}

// The controls of the editor's layout: how many, and each one's name.
EMSCRIPTEN_KEEPALIVE int bytoneControlCount() { return editor::kControlCount; }
EMSCRIPTEN_KEEPALIVE const char* bytoneControlName(int control) {
    if (control < 0 || control >= editor::kControlCount) return toScratch("");
    return toScratch(editor::layoutOf(static_cast<editor::Control>(control)).name);
}

// Setting `number`'s value (the drum key: the current program's), and a new value as a
// shared link gives it, brought into the editor's range as the editor brings it.
EMSCRIPTEN_KEEPALIVE int bytoneSetting(AEffect* effect, int number) {
    engine::Setting setting;
    return engine::settingFromNumber(number, setting) ? pluginOf(effect).instrument().setting(setting) : 0;
}
EMSCRIPTEN_KEEPALIVE void bytoneSetSetting(AEffect* effect, int number, int value) {
    engine::Setting setting;
    if (engine::settingFromNumber(number, setting)) guiOf(effect).setSetting(setting, value);
}

// Whether the scratch buffer's first `size` bytes are a state file the instrument takes:
// null, or why not. Nothing changes.
EMSCRIPTEN_KEEPALIVE const char* bytoneCheckState(AEffect* effect, int size) {
    try {
        stateFileOf(effect, size);
        return nullptr;
    } catch (const StateFileError& error) {
        return toScratch(error.what());
    } catch (const std::bad_alloc&) {
        return toScratch("out of memory");
    }
}

// Restores a state file (.fxb, .fxp or a raw chunk) of `size` bytes from the scratch
// buffer as the command-line host does: the chunk, then a bank file's current program.
// Returns null, or why the file was refused.
EMSCRIPTEN_KEEPALIVE const char* bytoneLoadState(AEffect* effect, int size) {
    try {
        const StateFile file = stateFileOf(effect, size);
        effect->dispatcher(effect, effSetChunk, 0, static_cast<VstIntPtr>(file.chunk.size()),
                           const_cast<uint8_t*>(file.chunk.data()), 0.0f);
        if (file.currentProgram >= 0 && file.currentProgram < effect->numPrograms)
            effect->dispatcher(effect, effSetProgram, 0, file.currentProgram, nullptr, 0.0f);
        return nullptr;
    } catch (const StateFileError& error) {
        return toScratch(error.what());
    } catch (const std::bad_alloc&) {
        return toScratch("out of memory");
    }
}

// The instrument's state as a file of `format` (0 program, 1 bank, 2 raw chunk); returns
// its bytes (valid until the next call) and stores their count in `size`.
EMSCRIPTEN_KEEPALIVE const uint8_t* bytoneSaveState(AEffect* effect, int format, int* size) {
    void* data = nullptr;
    const VstIntPtr bytes = effect->dispatcher(effect, effGetChunk, 0, 0, &data, 0.0f);
    const auto* begin = static_cast<const uint8_t*>(data);
    const std::vector<uint8_t> chunk(begin, begin + (data && bytes > 0 ? bytes : 0));
    char name[kVstMaxProgNameLen + 1] = {};
    effect->dispatcher(effect, effGetProgramName, 0, 0, name, 0.0f);
    const auto current = static_cast<int32_t>(effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f));
    const StateFormat formats[] = {StateFormat::Program, StateFormat::Bank, StateFormat::Raw};
    savedFile = buildStateFile(formats[std::clamp(format, 0, 2)], chunk, identityOf(effect), name, current);
    *size = static_cast<int>(savedFile.size());
    return savedFile.data();
}

}  // extern "C"
