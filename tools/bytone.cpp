// bytone: the instrument on the command line. Renders MIDI through the plug-in binary,
// hosted exactly as a DAW hosts it (entry point, dispatcher, processReplacing), lists
// and identifies it, and evaluates formulas for their authors.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "audio_file.h"
#include "bank.h"
#include "demo_song.h"
#include "editor/gui.h"
#include "editor/headless_platform.h"
#include "editor/pixel_canvas.h"
#include "engine/instrument.h"
#include "engine/random.h"
#include "engine/settings.h"
#include "engine/sine_table.h"
#include "expr/expression.h"
#include "file_io.h"
#include "file_names.h"
#include "midi_file.h"
#include "output_file.h"
#include "plugin_host.h"
#include "png_file.h"
#include "progress_bar.h"
#include "renderer.h"
#include "state_file.h"

namespace {

constexpr VstInt32 kBytoneId = fourCharCode('b', 'y', 't', 'o');

class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line that asks for something that cannot be: exit status 2.
class UsageError : public CommandError {
public:
    using CommandError::CommandError;
};

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string fourChars(VstInt32 code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

PluginIdentity identityOf(const PluginHost& host) {
    return {host.effect()->uniqueID, host.effect()->version, host.effect()->numPrograms};
}

// Where the Bytone plug-in is looked for, in order: beside the tool as installed
// (PREFIX/lib/vst for PREFIX/bin) or in its build folder, the folders of VST_PATH, and
// the folders Linux hosts look in.
std::vector<std::filesystem::path> pluginPlaces() {
    namespace fs = std::filesystem;
    std::vector<fs::path> places;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        places.push_back(self.parent_path().parent_path() / "lib" / "vst");
        places.push_back(self.parent_path());
        places.push_back(self.parent_path().parent_path());
    }
    if (const char* list = std::getenv("VST_PATH")) {
        const std::string text = list;
        for (size_t at = 0; at <= text.size();) {
            const size_t colon = std::min(text.find(':', at), text.size());
            if (colon > at) places.emplace_back(text.substr(at, colon - at));
            at = colon + 1;
        }
    }
    if (const char* home = std::getenv("HOME")) places.push_back(fs::path(home) / ".vst");
    places.emplace_back("/usr/local/lib/vst");
    places.emplace_back("/usr/lib/vst");
    return places;
}

// The first bytone.so of those places; empty when there is none (`--plugin` may name one).
std::string defaultPlugin() {
    std::error_code error;
    for (const std::filesystem::path& place : pluginPlaces())
        if (std::filesystem::is_regular_file(place / "bytone.so", error)) return (place / "bytone.so").string();
    return "";
}

std::string pluginNotFound() {
    std::string looked;
    for (const std::filesystem::path& place : pluginPlaces()) looked += (looked.empty() ? "" : ", ") + place.string();
    return "the Bytone plug-in bytone.so is in none of " + looked + "; name it with --plugin";
}

std::unique_ptr<PluginHost> loadPlugin(const std::string& path, double rate = 48000.0) {
    if (path.empty()) throw CommandError(pluginNotFound());
    auto host = std::make_unique<PluginHost>(path, rate);
    if (!host->ready()) throw CommandError(host->error());
    return host;
}

void requireBytone(const PluginHost& host, const char* what) {
    if (host.effect()->uniqueID != kBytoneId)
        throw CommandError(std::string(what) + " needs the Bytone plug-in, not '" + fourChars(host.effect()->uniqueID) +
                           "'");
}

// Restores the chunk and, as hosts do, the bank file's current program.
void restoreState(PluginHost& host, const std::string& path) {
    if (!(host.effect()->flags & effFlagsProgramChunks)) throw CommandError("the plug-in keeps no state chunk");
    const StateFile file = readStateFile(path, identityOf(host));
    host.setChunk(file.chunk);
    if (file.currentProgram >= 0 && file.currentProgram < host.effect()->numPrograms)
        host.dispatch(effSetProgram, 0, file.currentProgram);
}

void saveState(const PluginHost& host, const std::string& path) {
    const std::vector<uint8_t> chunk = host.chunk();
    if (chunk.empty()) throw CommandError("the plug-in gave no state chunk to save");
    const auto current = static_cast<int32_t>(host.dispatch(effGetProgram));
    writeWholeFile(path,
                   buildStateFile(stateFormatOf(path), chunk, identityOf(host), host.text(effGetProgramName), current));
}

// --- info -------------------------------------------------------------------------

void printInfo(const PluginHost& host, const std::string& path) {
    const AEffect& e = *host.effect();
    std::printf("bytone          %s (this tool)\n", BYTONE_VERSION);
    std::printf("plug-in file    %s\n", std::filesystem::absolute(path).c_str());
    std::printf("effect name     %s\n", host.text(effGetEffectName).c_str());
    std::printf("vendor          %s\n", host.text(effGetVendorString).c_str());
    std::printf("product         %s\n", host.text(effGetProductString).c_str());
    std::printf("vendor version  %ld\n", static_cast<long>(host.dispatch(effGetVendorVersion)));
    std::printf("VST version     %ld\n", static_cast<long>(host.dispatch(effGetVstVersion)));
    std::printf("unique id       '%s' (version %d)\n", fourChars(e.uniqueID).c_str(), e.version);
    std::printf("category        %ld\n", static_cast<long>(host.dispatch(effGetPlugCategory)));
    std::printf("flags           %d%s%s%s%s\n", e.flags, (e.flags & effFlagsHasEditor) ? " editor" : "",
                (e.flags & effFlagsCanReplacing) ? " replacing" : "",
                (e.flags & effFlagsProgramChunks) ? " chunks" : "", (e.flags & effFlagsIsSynth) ? " synth" : "");
    std::printf("programs        %d\nparameters      %d\ninputs          %d\noutputs         %d\n", e.numPrograms,
                e.numParams, e.numInputs, e.numOutputs);
    std::printf("MIDI inputs     %ld\n", static_cast<long>(host.dispatch(effGetNumMidiInputChannels)));
    for (const char* can : {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "sendVstMidiEvent"})
        std::printf("canDo %-21s %ld\n", can, static_cast<long>(host.dispatch(effCanDo, 0, 0, const_cast<char*>(can))));
}

// --- programs -----------------------------------------------------------------------

void printPrograms(PluginHost& host) {
    if (host.effect()->uniqueID == kBytoneId) {
        auto bank = std::make_unique<Bank>();
        decodeBank(*bank, host.chunk());
        for (int i = 0; i < 128; ++i) {
            const BankProgram& p = bank->programs[i];
            std::printf("%3d  %-31s  %s", i, p.name, p.formula);
            if (p.drumKey >= 24) std::printf("   [drum key %d]", p.drumKey);
            std::printf("\n");
        }
        return;
    }
    const VstIntPtr current = host.dispatch(effGetProgram);
    for (VstInt32 i = 0; i < host.effect()->numPrograms; ++i) {
        host.dispatch(effSetProgram, 0, i);
        std::printf("%3d  %s\n", i, host.text(effGetProgramName).c_str());
    }
    host.dispatch(effSetProgram, 0, current);
}

// --- eval ---------------------------------------------------------------------------

struct EvalOptions {
    std::string formula;
    std::vector<std::string> sets;
    std::string table;
};

std::pair<int, int64_t> parseAssignment(const std::string& text, const char* option) {
    const size_t eq = text.find('=');
    if (eq != 1 || !std::isalpha(static_cast<unsigned char>(text[0])))
        throw UsageError(std::string(option) + " wants LETTER=VALUE, not '" + text + "'");
    return {std::toupper(static_cast<unsigned char>(text[0])) - 'A', 0};
}

// A whole number as formulas write them: decimal, or hexadecimal after 0x, with an
// optional minus; a leading 0 is no octal prefix. Throws UsageError for anything else
// and for values outside the 64-bit range.
int64_t parseInteger(const std::string& text, const std::string& context) {
    const bool negative = !text.empty() && text[0] == '-';
    const char* digits = text.c_str() + (negative ? 1 : 0);
    const char* end = text.c_str() + text.size();
    int base = 10;
    if (end - digits > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) base = 16, digits += 2;
    uint64_t magnitude = 0;
    const auto [stop, error] = std::from_chars(digits, end, magnitude, base);
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (digits == end || stop != end || error != std::errc() || magnitude > limit)
        throw UsageError("'" + text + "' in " + context + " is not a whole number of the 64-bit range");
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

// Runs the formula as a voice runs it: S and C read the sine table at P, and R is drawn
// from the instrument's generator, unless --set gives them.
int64_t runAsAVoice(CompiledExpression& record, const uint8_t* sineTable, const bool given[kVariableCount]) {
    const int64_t phase = record.variable('P');
    if (!given['S' - 'A']) record.variable('S') = sineReading(sineTable, phase, 0);
    if (!given['C' - 'A']) record.variable('C') = sineReading(sineTable, phase, 64);
    if (!given['R' - 'A']) record.variable('R') = random15::next();
    return runExpression(record);
}

int evaluate(const EvalOptions& options) {
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression& record = records[0];
    if (const char* message = compileExpression(record, options.formula.c_str()))
        throw CommandError(std::string(message) + " in '" + options.formula + "'");
    uint8_t sineTable[256];
    fillSineTable(sineTable);
    bool given[kVariableCount] = {};
    for (const std::string& set : options.sets) {
        const int letter = parseAssignment(set, "--set").first;
        record.variables[letter] = parseInteger(set.substr(2), "--set " + set);
        given[letter] = true;
    }
    if (options.table.empty()) {
        std::printf("%lld\n", static_cast<long long>(runAsAVoice(record, sineTable, given)));
        return 0;
    }
    const int letter = parseAssignment(options.table, "--table").first;
    given[letter] = true;
    const std::string range = options.table.substr(2);
    const size_t colon1 = range.find(':'), colon2 = range.find(':', colon1 + 1);
    if (colon1 == std::string::npos)
        throw UsageError("--table wants LETTER=FROM:TO[:STEP], not '" + options.table + "'");
    const int64_t from = parseInteger(range.substr(0, colon1), "--table");
    const int64_t to = parseInteger(range.substr(colon1 + 1, colon2 - colon1 - 1), "--table");
    const int64_t step = colon2 == std::string::npos ? 1 : parseInteger(range.substr(colon2 + 1), "--table");
    // Counted in 128 bits, so that no range wraps past the largest value.
    const __int128 span = static_cast<__int128>(to) - from;
    const __int128 rows = step == 0 || (span != 0 && (span < 0) != (step < 0)) ? 0 : span / step + 1;
    if (rows <= 0 || rows > 10000000)
        throw UsageError("--table range " + range + " is empty, endless or longer than ten million rows");
    for (__int128 row = 0; row < rows; ++row) {
        const auto v = static_cast<int64_t>(from + row * step);
        record.variables[letter] = v;
        std::printf("%lld\t%lld\n", static_cast<long long>(v),
                    static_cast<long long>(runAsAVoice(record, sineTable, given)));
    }
    return 0;
}

// --- scope --------------------------------------------------------------------------

struct ScopeOptions {
    std::string formula;
    std::string output;
    int zoom = 0;
    std::string clamp = "on";
    int scale = 1;
};

// Each pixel as a square of `scale` x `scale`, so that small pictures and their labels read.
std::vector<uint32_t> scaledUp(const std::vector<uint32_t>& pixels, int width, int height, int scale) {
    std::vector<uint32_t> out(static_cast<size_t>(width) * height * scale * scale);
    for (int y = 0; y < height * scale; ++y)
        for (int x = 0; x < width * scale; ++x)
            out[static_cast<size_t>(y) * width * scale + x] =
                pixels[static_cast<size_t>(y / scale) * width + x / scale];
    return out;
}

// An instrument whose program 0 plays `formula`; throws the compiler's message.
std::unique_ptr<engine::Instrument> instrumentPlaying(const std::string& formula) {
    if (formula.size() > 1023)
        throw CommandError("the formula has " + std::to_string(formula.size()) + " characters; a program holds 1023");
    auto instrument = std::make_unique<engine::Instrument>();
    std::snprintf(instrument->programs[0].formula, sizeof instrument->programs[0].formula, "%s", formula.c_str());
    instrument->programs[0].needsCompile = true;
    std::lock_guard<std::mutex> hold(instrument->bankLock);
    if (const char* message = instrument->compileDirtyPrograms())
        throw CommandError(std::string(message) + " in '" + formula + "'");
    return instrument;
}

// Draws the editor's oscilloscope of a formula, as the editor shows it, into a PNG.
// A picture's output: a .png name that can be written.
void checkPictureOutput(const std::string& path) {
    if (lowerExtension(path) != "png") throw UsageError(path + ": the picture is a PNG; name a .png file");
    checkOutputs({path}, {});
}

int drawScopePicture(const ScopeOptions& options) {
    checkPictureOutput(options.output);
    // The instrument itself, without a plug-in around it: the picture needs no host.
    auto instrument = instrumentPlaying(options.formula);
    instrument->scopeZoom = options.zoom;
    instrument->clampOutput = options.clamp == "on";
    auto owned = std::make_unique<editor::HeadlessPlatform>();
    editor::HeadlessPlatform& platform = *owned;
    editor::GUI gui(*instrument, std::move(owned));
    gui.open(nullptr);
    gui.tick();
    const std::string& status = platform.texts[editor::StatusLabel];
    if (status != "OK") throw CommandError(status + " in '" + options.formula + "'");
    const int width = platform.scope.width * options.scale, height = platform.scope.height * options.scale;
    writePng(options.output, width, height,
             scaledUp(platform.scope.pixels, platform.scope.width, platform.scope.height, options.scale));
    std::printf("wrote %s: %dx%d, zoom %s\n", std::filesystem::absolute(options.output).c_str(), width, height,
                engine::settingText(engine::Setting::ScopeZoom, options.zoom).c_str());
    return 0;
}

// --- note ---------------------------------------------------------------------------

struct NoteOptions {
    std::string formula;
    std::string output;
    double seconds = 2.0;
    int key = 57;
    int width = 580;
    int height = 96;
};

// Draws a note of the formula as the instrument plays it (one voice, velocity 100, at
// 48 kHz, the settings of a new instance) over `seconds`: each column the lowest and
// highest sample of its stretch of time, on a scale of one voice's range, -0.25 to 0.25.
// The picture shows what the scope cannot: how the sound changes in time.
int drawNotePicture(const NoteOptions& options) {
    checkPictureOutput(options.output);
    constexpr int kRate = 48000;
    auto instrument = instrumentPlaying(options.formula);
    instrument->setSampleRate(kRate);
    instrument->queueMidi(0x90, options.key, 100, 0);
    const auto frames = static_cast<int64_t>(std::llround(options.seconds * kRate));
    std::vector<float> samples(static_cast<size_t>(frames)), right(512);
    for (int64_t at = 0; at < frames; at += 512) {
        const auto block = static_cast<int32_t>(std::min<int64_t>(512, frames - at));
        instrument->render(samples.data() + at, right.data(), block);
    }
    const uint32_t paper = editor::defaultColor(editor::SysColor::ButtonFace);
    const uint32_t ink = editor::defaultColor(editor::SysColor::WindowText);
    std::vector<uint32_t> pixels(static_cast<size_t>(options.width) * options.height, paper);
    auto rowOf = [&](float v) {
        const double y = (0.25 - std::clamp(static_cast<double>(v), -0.25, 0.25)) / 0.5 * (options.height - 1);
        return static_cast<int>(std::lround(y));
    };
    for (int x = 0; x < options.width; ++x) {
        const int64_t first = frames * x / options.width, last = std::max(first + 1, frames * (x + 1) / options.width);
        float low = samples[static_cast<size_t>(first)], high = low;
        for (int64_t k = first; k < last && k < frames; ++k)
            low = std::min(low, samples[static_cast<size_t>(k)]),
            high = std::max(high, samples[static_cast<size_t>(k)]);
        for (int y = rowOf(high); y <= rowOf(low); ++y) pixels[static_cast<size_t>(y) * options.width + x] = ink;
    }
    writePng(options.output, options.width, options.height, pixels);
    std::printf("wrote %s: %dx%d, %.2f seconds of key %d\n", std::filesystem::absolute(options.output).c_str(),
                options.width, options.height, options.seconds, options.key);
    return 0;
}

// --- render -------------------------------------------------------------------------

struct RenderOptions {
    std::string midi;
    std::string output;
    int rate = 48000;
    int block = 512;
    int program = -1;
    std::string formula;
    bool formulaGiven = false;
    double gainDb = 0.0;
    std::string state;
    std::string saveState;
    double tail = 1.0;
    std::string sampleFormat = "16";
    std::string channels;
    bool split = false;
    double highpass = 0.0;
    double maxLength = 3600.0;
    // The instrument's settings as the command line gives them, by setting.
    std::map<engine::Setting, std::string> settings;
};

// The settings of the state chunk that a render can set: every one of the table that the
// VST 2.4 chunk holds for the whole instrument but the editor's scope zoom (the Gain is
// not in that chunk, and the plug-in keeps its own).
bool isRenderSetting(engine::Setting setting) {
    const engine::SettingInfo& info = engine::settingInfo(setting);
    return info.chunkTag != 0 && info.chunkTag != chunktag::kGain && !info.perProgram &&
           info.show != engine::SettingShow::Zoom;
}

void putSetting(Bank& bank, engine::Setting setting, int32_t value) {
    switch (setting) {
        case engine::Setting::Poly: bank.polyphony = value; break;
        case engine::Setting::Porta: bank.portamento = value; break;
        case engine::Setting::Time: bank.timeScale = value; break;
        case engine::Setting::Lerp: bank.interpolate = value != 0; break;
        case engine::Setting::Clamp: bank.clampOutput = value != 0; break;
        default: break;
    }
}

// "1,2,10" or "1-4,10": MIDI channels 1 to 16.
ChannelSet parseChannels(const std::string& list) {
    ChannelSet channels = 0;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        const size_t dash = item.find('-');
        const std::string context = "--channels '" + list + "'";
        const int64_t first = parseInteger(item.substr(0, dash), context);
        const int64_t last = dash == std::string::npos ? first : parseInteger(item.substr(dash + 1), context);
        if (first < 1 || last > 16 || first > last)
            throw UsageError(context + " names a channel outside 1 to 16, or an empty range");
        for (int64_t c = first; c <= last; ++c) channels |= static_cast<ChannelSet>(1u << (c - 1));
        at = comma + 1;
    }
    return channels;
}

SampleFormat sampleFormatOf(const std::string& name) {
    if (name == "16") return SampleFormat::Pcm16;
    if (name == "24") return SampleFormat::Pcm24;
    return SampleFormat::Float;
}

void putFormula(PluginHost& host, const std::string& formula) {
    requireBytone(host, "--formula");
    if (formula.find_first_not_of(" \t\r\n") == std::string::npos)
        throw UsageError("--formula is empty: a voice of it would be silent");
    CompiledExpressions records = allocateCompiledExpressions(1);
    CompiledExpression& record = records[0];
    if (const char* message = compileExpression(record, formula.c_str()))
        throw CommandError(std::string(message) + " in '" + formula + "'");
    if (formula.size() > 1023)
        throw CommandError("the formula has " + std::to_string(formula.size()) + " characters; a program holds 1023");
    auto bank = std::make_unique<Bank>();
    decodeBank(*bank, host.chunk());
    const auto current = static_cast<int>(host.dispatch(effGetProgram));
    std::snprintf(bank->programs[current].formula, sizeof bank->programs[current].formula, "%s", formula.c_str());
    host.setChunk(encodeBank(*bank));
}

// An instance set up as the options say: its state, program and formula.
std::unique_ptr<PluginHost> preparedInstance(const RenderOptions& options, const std::string& pluginPath) {
    auto host = loadPlugin(pluginPath, options.rate);
    if (!options.state.empty()) restoreState(*host, options.state);
    if (options.program >= 0) host->dispatch(effSetProgram, 0, options.program);
    if (options.formulaGiven) putFormula(*host, options.formula);
    if (!options.settings.empty()) {
        requireBytone(*host, "a setting of the instrument");
        auto bank = std::make_unique<Bank>();
        decodeBank(*bank, host->chunk());
        for (const auto& [setting, text] : options.settings) {
            const engine::SettingInfo& info = engine::settingInfo(setting);
            const int64_t value = text == "on"    ? 1
                                  : text == "off" ? 0
                                                  : parseInteger(text, std::string("--") + info.key);
            putSetting(*bank, setting, static_cast<int32_t>(value));
        }
        host->setChunk(encodeBank(*bank));
    }
    return host;
}

std::string decibels(float level) {
    char text[32];
    if (level <= 0.0f)
        std::snprintf(text, sizeof text, "silent");
    else
        std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(level));
    return text;
}

// Warnings about what a render sounds like, and what helps: samples flattened by the
// instrument's own limit (more voices at once than one instance has room for), samples
// the file cuts at full scale after the tool's gain (a mix that sits on one side of zero,
// as formulas masked to a byte do, leaves the less room), and silence.
void reportLevels(const RenderOptions& options, int64_t atInstrumentLimit, int64_t atFullScale, double mean,
                  float peak) {
    if (peak == 0.0f) std::fprintf(stderr, "bytone: warning: the render is silent\n");
    if (atInstrumentLimit > 0)
        std::fprintf(stderr,
                     "bytone: warning: %lld frames reach the instrument's own limit, which --gain cannot undo; %s\n",
                     static_cast<long long>(atInstrumentLimit),
                     options.split ? "the channels that reach it are marked above"
                                   : "--split plays each channel through an instance of its own");
    if (atFullScale > atInstrumentLimit) {
        char offset[160] = "";
        if (std::fabs(mean) > 0.1 && options.highpass == 0.0)
            std::snprintf(offset, sizeof offset,
                          ", or take out the mix's constant part (it sits at %+.2f) with --highpass 20", mean);
        std::fprintf(stderr, "bytone: warning: %lld frames of the file reach full scale; lower them with --gain%s\n",
                     static_cast<long long>(atFullScale), offset);
    }
}

// "1:02:03.5" for 3723.5 seconds, "2:03.5" below an hour.
std::string clockTime(double seconds) {
    const auto whole = static_cast<int64_t>(seconds);
    char text[48];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02d:%04.1f", static_cast<long long>(whole / 3600),
                      static_cast<int>(whole / 60 % 60), seconds - static_cast<double>(whole / 60 * 60));
    else
        std::snprintf(text, sizeof text, "%d:%04.1f", static_cast<int>(whole / 60),
                      seconds - static_cast<double>(whole / 60 * 60));
    return text;
}

int renderSong(const RenderOptions& options, const std::string& pluginPath) {
    if (options.midi == "-") throw UsageError("MIDI from standard input is not supported; name the MIDI file");
    // Every output is checked before any work, so that a render is never wasted on a
    // file that cannot be written, nor writes over its own input.
    std::vector<std::string> outputs{options.output};
    if (!options.saveState.empty()) outputs.push_back(options.saveState);
    checkOutputs(outputs, {options.midi, options.state, pluginPath});
    AudioFileWriter::containerOf(options.output, sampleFormatOf(options.sampleFormat));
    auto host = preparedInstance(options, pluginPath);
    RenderPlan plan;
    if (options.midi.empty()) {
        requireBytone(*host, "the demo");
        auto bank = std::make_unique<Bank>();
        decodeBank(*bank, host->chunk());
        plan = demoPlan(*bank, options.rate);
    } else {
        plan = planFromMidi(loadMidiFile(options.midi), options.rate, std::llround(options.tail * options.rate));
    }
    plan.blockSize = options.block;
    if (!options.channels.empty()) plan = onlyChannels(plan, parseChannels(options.channels));
    if (!options.midi.empty() && channelsWithNotes(plan) == 0)
        throw CommandError(options.channels.empty() ? options.midi + " plays no notes: nothing would sound"
                                                    : "channels " + options.channels + " of " + options.midi +
                                                          " play no notes: nothing would sound");
    const double seconds = static_cast<double>(plan.frames) / options.rate;
    if (seconds > options.maxLength)
        throw CommandError("the render would last " + clockTime(seconds) + ", longer than --max-length (" +
                           std::to_string(static_cast<int64_t>(options.maxLength)) +
                           " s); give a larger --max-length to render it");
    std::printf("rendering %s (%.2f seconds) at %d Hz\n", clockTime(seconds).c_str(), seconds, options.rate);
    std::fflush(stdout);

    AudioFileWriter writer(options.output, options.rate, sampleFormatOf(options.sampleFormat), plan.frames);
    const auto gain = static_cast<float>(std::pow(10.0, options.gainDb / 20.0));
    std::unique_ptr<DcBlocker> highpass[2];
    if (options.highpass > 0.0)
        for (auto& filter : highpass) filter = std::make_unique<DcBlocker>(options.highpass, options.rate);
    std::vector<float> left, right;
    // Full scale is counted twice: where the instrument's own limit flattens its output
    // (nothing after it can undo that), and in the file, after the tool's gain.
    int64_t atInstrumentLimit = 0, atFullScale = 0;
    double sum = 0.0;
    float peak = 0.0f;
    const AudioSink sink = [&](const float* l, const float* r, int32_t frames) {
        if (!options.split)
            for (int32_t i = 0; i < frames; ++i)
                atInstrumentLimit += std::fabs(l[i]) >= 1.0f || std::fabs(r[i]) >= 1.0f;
        if (gain != 1.0f || highpass[0]) {
            left.assign(l, l + frames);
            right.assign(r, r + frames);
            if (highpass[0]) highpass[0]->process(left.data(), frames), highpass[1]->process(right.data(), frames);
            for (int32_t i = 0; i < frames; ++i) left[i] *= gain, right[i] *= gain;
            l = left.data(), r = right.data();
        }
        for (int32_t i = 0; i < frames; ++i) {
            atFullScale += std::fabs(l[i]) >= 1.0f || std::fabs(r[i]) >= 1.0f;
            sum += l[i] + r[i];
            peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
        }
        writer.write(l, r, frames);
    };
    ProgressBar progress;
    const Progress showProgress = [&](int64_t done, int64_t total) { progress.update(done, total); };

    // Each channel through an instance of its own (the first channel's is `host`), mixed
    // with headroom.
    std::vector<std::unique_ptr<PluginHost>> others;
    std::vector<PluginHost*> hosts;
    std::vector<int> channels;
    std::vector<InstanceLevels> levels;
    if (options.split) {
        const ChannelSet played = channelsWithNotes(plan);
        std::vector<RenderPlan> plans;
        for (int c = 0; c < 16; ++c) {
            if (!((played >> c) & 1)) continue;
            if (!hosts.empty()) others.push_back(preparedInstance(options, pluginPath));
            hosts.push_back(hosts.empty() ? host.get() : others.back().get());
            plans.push_back(onlyChannels(plan, static_cast<ChannelSet>(1u << c)));
            channels.push_back(c + 1);
        }
        if (!hosts.empty())
            renderMix(hosts, plans, 1.0f / std::sqrt(static_cast<float>(hosts.size())), sink, levels, showProgress);
    }
    if (hosts.empty()) renderPlan(*host, plan, sink, showProgress);
    writer.close();
    progress.finish();
    if (!options.saveState.empty()) saveState(*host, options.saveState);

    for (size_t i = 0; i < hosts.size(); ++i) {
        const std::string program = hosts[i]->text(effGetProgramName) + (channels[i] == 10 ? " (drum keys)" : "");
        std::printf("channel %2d  %-26s peak %s%s\n", channels[i], program.c_str(), decibels(levels[i].peak).c_str(),
                    levels[i].atFullScale ? ", at the instrument's limit" : "");
        atInstrumentLimit += levels[i].atFullScale;
    }
    std::printf("wrote %s: %.2f seconds at %d Hz\n", std::filesystem::absolute(options.output).c_str(),
                static_cast<double>(plan.frames) / options.rate, options.rate);
    reportLevels(options, atInstrumentLimit, atFullScale,
                 sum / (2.0 * static_cast<double>(std::max<int64_t>(plan.frames, 1))), peak);
    return 0;
}

// Numbers that parse as doubles but mean nothing (nan, inf) are refused.
void checkNumbers(const RenderOptions& options) {
    const std::pair<const char*, double> numbers[] = {{"--gain", options.gainDb},
                                                      {"--tail", options.tail},
                                                      {"--highpass", options.highpass},
                                                      {"--max-length", options.maxLength}};
    for (const auto& [name, value] : numbers)
        if (!std::isfinite(value)) throw UsageError(std::string(name) + " wants a finite number");
    if (options.gainDb < -120.0 || options.gainDb > 40.0) throw UsageError("--gain wants -120 to 40 dB");
}

// A parser's complaint, said so that the user sees what to do; an unknown command is
// named with the commands there are.
std::string usageMessage(const CLI::ParseError& error, const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--plugin") {
            ++i;
            continue;
        }
        if (word.rfind("-", 0) == 0) continue;
        std::string commands;
        bool known = false;
        for (const CLI::App* command : app.get_subcommands({})) {
            known |= command->get_name() == word;
            commands += (commands.empty() ? "" : ", ") + command->get_name();
        }
        if (!known) return "'" + word + "' is not a command; the commands are " + commands + " (bytone --help)";
        break;
    }
    return std::string(error.what()) + " (bytone --help)";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"bytone: plays formulas through the Bytone VST 2.4 instrument", "bytone"};
    app.set_version_flag("--version", "bytone " BYTONE_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    std::string plugin = defaultPlugin();
    app.add_option("--plugin", plugin,
                   "the VST 2.4 plug-in binary to host (by default Bytone's bytone.so: in PREFIX/lib/vst beside "
                   "the installed tool, in VST_PATH, ~/.vst, /usr/local/lib/vst or /usr/lib/vst)");

    RenderOptions renderOptions;
    CLI::App* render = app.add_subcommand("render", "render a MIDI file (or the demo) to a WAV or FLAC file");
    render->add_option("midi", renderOptions.midi, "Standard MIDI File to play; without one, the demo plays");
    render->add_option("-o,--output", renderOptions.output, "sound file to write (.wav or .flac)")->required();
    render->add_option("--rate", renderOptions.rate, "sample rate in Hz")
        ->capture_default_str()
        ->check(CLI::Range(8000, 384000));
    render->add_option("--block", renderOptions.block, "block size in frames")
        ->capture_default_str()
        ->check(CLI::Range(1, 65536));
    render->add_option("--program", renderOptions.program, "program to select before playing")
        ->check(CLI::Range(0, 127));
    render->add_option("--formula", renderOptions.formula,
                       "formula for the current program, put in through the state chunk");
    render->add_option("--gain", renderOptions.gainDb, "output gain in dB")->capture_default_str();
    render->add_option("--state", renderOptions.state, "state file (.fxb, .fxp or raw chunk) to restore first");
    render->add_option("--save-state", renderOptions.saveState,
                       "state file (.fxb, .fxp or raw chunk) to store afterwards");
    render->add_option("--tail", renderOptions.tail, "seconds to render after the MIDI file ends")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    render->add_option("--format", renderOptions.sampleFormat, "sample format: 16, 24 (bit PCM) or float")
        ->capture_default_str()
        ->check(CLI::IsMember({"16", "24", "float"}));
    render->add_option("--channels", renderOptions.channels, "play only these MIDI channels, as 1,2,10 or 1-4");
    render->add_flag("--split", renderOptions.split,
                     "play each channel that has notes through an instance of its own, mixed with headroom");
    render
        ->add_option(
            "--highpass", renderOptions.highpass,
            "take out the constant part of the mix, and what lies below this frequency in Hz (off: sample-exact)")
        ->check(CLI::Range(1.0, 1000.0));
    render->add_option("--max-length", renderOptions.maxLength, "refuse renders longer than this, in seconds")
        ->capture_default_str()
        ->check(CLI::Range(1.0, 1e7));
    // The instrument's settings, from its table: applied before the first note, and
    // saved with the state.
    std::map<engine::Setting, std::string> settingTexts;
    for (int number = 0; number < engine::kSettingCount; ++number) {
        const auto setting = static_cast<engine::Setting>(number);
        if (!isRenderSetting(setting)) continue;
        const engine::SettingInfo& info = engine::settingInfo(setting);
        CLI::Option* option = render->add_option(std::string("--") + info.key, settingTexts[setting]);
        if (info.show == engine::SettingShow::Switch) {
            option->description(std::string("the instrument's ") + info.name + " switch, on or off")
                ->check(CLI::IsMember({"on", "off"}));
        } else {
            option->description(std::string("the instrument's ") + info.name + " setting, " +
                                std::to_string(info.lowest) + " to " + std::to_string(info.highest) +
                                " (new: " + std::to_string(info.defaultValue) + ")");
        }
    }

    std::string programsState;
    CLI::App* programs = app.add_subcommand("programs", "list the programs: number, name and formula");
    programs->add_option("--state", programsState, "list the programs of this state file instead");

    CLI::App* info = app.add_subcommand("info", "the plug-in's identity, flags, counts and canDo answers");

    EvalOptions evalOptions;
    CLI::App* eval = app.add_subcommand("eval", "compile and run one formula, printing its 64-bit value");
    eval->add_option("formula", evalOptions.formula, "the formula")->required();
    eval->add_option("--set", evalOptions.sets, "a variable's value, as P=300 (repeatable)");
    eval->add_option("--table", evalOptions.table, "a column of values over one variable, as P=0:1023[:1]");

    ScopeOptions scopeOptions;
    CLI::App* scope = app.add_subcommand("scope", "draw the editor's oscilloscope of a formula into a PNG");
    scope->add_option("formula", scopeOptions.formula, "the formula")->required();
    scope->add_option("-o,--output", scopeOptions.output, "PNG file to write")->required();
    scope->add_option("--zoom", scopeOptions.zoom, "zoom step: 0 (8x) to 7 (1x)")
        ->capture_default_str()
        ->check(CLI::Range(0, 7));
    scope->add_option("--clamp", scopeOptions.clamp, "clamp the heights (on) or wrap them (off)")
        ->capture_default_str()
        ->check(CLI::IsMember({"on", "off"}));
    scope->add_option("--scale", scopeOptions.scale, "draw each pixel as a square of this size")
        ->capture_default_str()
        ->check(CLI::Range(1, 4));

    NoteOptions noteOptions;
    CLI::App* note = app.add_subcommand("note", "draw a note of a formula over time into a PNG");
    note->add_option("formula", noteOptions.formula, "the formula")->required();
    note->add_option("-o,--output", noteOptions.output, "PNG file to write")->required();
    note->add_option("--seconds", noteOptions.seconds, "how long the note lasts")
        ->capture_default_str()
        ->check(CLI::Range(0.01, 60.0));
    note->add_option("--key", noteOptions.key, "MIDI key of the note")
        ->capture_default_str()
        ->check(CLI::Range(0, 127));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "bytone: %s\n", usageMessage(e, app, argc, argv).c_str());
        return kExitUsage;
    }
    removeOutputsOnInterrupt();
    for (auto& [setting, text] : settingTexts)
        if (!text.empty()) renderOptions.settings[setting] = text;
    renderOptions.formulaGiven = render->count("--formula") > 0;

    try {
        if (eval->parsed()) return evaluate(evalOptions);
        if (scope->parsed()) return drawScopePicture(scopeOptions);
        if (note->parsed()) return drawNotePicture(noteOptions);
        if (render->parsed()) {
            checkNumbers(renderOptions);
            for (const auto& [setting, text] : renderOptions.settings) {
                const engine::SettingInfo& info = engine::settingInfo(setting);
                if (info.show == engine::SettingShow::Switch) continue;
                const int64_t value = parseInteger(text, std::string("--") + info.key);
                if (value < info.lowest || value > info.highest)
                    throw UsageError(std::string("--") + info.key + " " + text + " is outside " +
                                     std::to_string(info.lowest) + " to " + std::to_string(info.highest));
            }
            return renderSong(renderOptions, plugin);
        }
        auto host = loadPlugin(plugin);
        if (info->parsed()) printInfo(*host, plugin);
        if (programs->parsed()) {
            if (!programsState.empty()) restoreState(*host, programsState);
            printPrograms(*host);
        }
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "bytone: %s\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bytone: %s\n", e.what());
        return kExitFailure;
    }
}
