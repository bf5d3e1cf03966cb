// bytone render: a MIDI file (or the demo) through the plug-in, hosted as a DAW hosts
// it, into a WAV or FLAC file; each channel through an instance of its own with --split.
// The plug-in is bytone.clap, given the song's tempo map and time signatures as its
// transport, unless --plugin names a VST 2.4 plug-in.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "audio_file.h"
#include "bank.h"
#include "command.h"
#include "demo_song.h"
#include "engine/chunk.h"
#include "engine/full_state.h"
#include "engine/instrument.h"
#include "engine/settings.h"
#include "expr/expression.h"
#include "midi_file.h"
#include "output_file.h"
#include "plugin_instance.h"
#include "progress_bar.h"
#include "renderer.h"

namespace {

struct RenderOptions {
    bool clap = true;  // bytone.clap; else the VST 2.4 plug-in --plugin names
    int level = 0;     // the instrument's Gain, 0 for the state's own
    std::string midi;
    std::string output;
    std::string type;  // "wav" or "flac": the output's type, else its name's
    int rate = 48000;
    int block = 512;
    int program = -1;
    std::string formula;
    bool formulaGiven = false;
    double gainDb = 0.0;
    std::string state;
    std::string saveState;
    double tail = 1.0;
    bool tailGiven = false;
    std::string sampleFormat = "16";
    std::string channels;
    bool channelsGiven = false;
    bool split = false;
    double highpass = 0.0;
    double maxLength = 3600.0;
    // The instrument's settings as the command line gives them, by setting.
    std::map<engine::Setting, std::string> settings;
};

// The settings of the state that a render can set: every one of the table that the state
// holds for the whole instrument but the editor's scope zoom and the Gain (--level sets
// that). Those after the first release's are bytone.clap's alone.
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

// The text without the spaces around it.
std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// "1,2,10", "1-4,10" or "1, 2": MIDI channels 1 to 16.
ChannelSet parseChannels(const std::string& list) {
    const std::string context = "--channels '" + list + "'";
    if (trimmed(list).empty()) throw UsageError(context + " names no channel; give channels as 1,2,10 or 1-4");
    ChannelSet channels = 0;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        const size_t dash = item.find('-');
        const int64_t first = parseInteger(trimmed(item.substr(0, dash)), context);
        const int64_t last = dash == std::string::npos ? first : parseInteger(trimmed(item.substr(dash + 1)), context);
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

// Refuses a formula that a program cannot play, in the language of the plug-in.
void checkFormula(const std::string& formula, Language language) {
    if (formula.find_first_not_of(" \t\r\n") == std::string::npos)
        throw UsageError("--formula is empty: a voice of it would be silent");
    CompiledExpressions records = allocateCompiledExpressions(2);
    int32_t stop = -1;
    if (const char* message = compileExpression(records[0], formula.c_str(), language, &records[1], &stop))
        throw UsageError(formulaFault(message, formula, stop));
    if (formula.size() > 1023)
        throw UsageError("the formula has " + std::to_string(formula.size()) + " characters; a program holds 1023");
}

void putFormula(PluginHost& host, const std::string& formula) {
    requireBytone(host, "--formula");
    checkFormula(formula, Language::Classic);
    auto bank = std::make_unique<Bank>();
    decodeBank(*bank, host.chunk());
    const int current = host.program();
    std::snprintf(bank->programs[current].formula, sizeof bank->programs[current].formula, "%s", formula.c_str());
    host.setChunk(encodeBank(*bank));
}

// A switch's "on" or "off", a factor's 1, 2, 4 or 8, or the setting's number.
int32_t settingValue(engine::Setting setting, const std::string& text) {
    const engine::SettingInfo& info = engine::settingInfo(setting);
    if (text == "on") return 1;
    if (text == "off") return 0;
    int32_t value = 0;
    if (info.show == engine::SettingShow::Factor && engine::settingValueOf(setting, text.c_str(), value)) return value;
    return static_cast<int32_t>(parseInteger(text, std::string("--") + info.key));
}

// bytone.clap set up as the options say: its state, program, formula, settings and level,
// the last three put in through an instrument of the tool's own that reads and writes its state.
std::unique_ptr<InstrumentHost> preparedClap(const RenderOptions& options, const std::string& clapPath) {
    auto host = loadClapPlugin(clapPath, options.rate);
    if (!options.state.empty()) restoreState(*host, options.state);
    if (options.program >= 0) host->setProgram(options.program);
    if (!options.formulaGiven && options.settings.empty() && options.level == 0) return host;
    if (options.formulaGiven) checkFormula(options.formula, Language::Extended);
    engine::Instrument instrument(Language::Extended);
    const std::vector<uint8_t> state = host->chunk();
    if (!engine::restoreFullState(instrument, state.data(), state.size()))
        throw CommandError("the plug-in gave a state its own instrument does not read");
    if (options.formulaGiven) {
        std::lock_guard<std::mutex> hold(instrument.bankLock());
        instrument.storeFormula(instrument.program(), options.formula.c_str(), options.formula.size());
    }
    for (const auto& [setting, text] : options.settings) instrument.setSetting(setting, settingValue(setting, text));
    if (options.level > 0) instrument.setSetting(engine::Setting::Gain, options.level);
    host->setChunk(engine::saveFullState(instrument));
    return host;
}

// An instance set up as the options say: its state, program and formula.
std::unique_ptr<InstrumentHost> preparedInstance(const RenderOptions& options, const std::string& pluginPath) {
    if (options.clap) return preparedClap(options, pluginPath);
    if (options.level > 0)
        throw UsageError("--level sets the Gain of bytone.clap; a VST 2.4 plug-in keeps its own (leave out --plugin)");
    for (const auto& [setting, text] : options.settings)
        if (static_cast<int>(setting) >= engine::kClassicSettingCount)
            throw UsageError(
                std::string("--") + engine::settingInfo(setting).key +
                " is a setting of bytone.clap, which a VST 2.4 plug-in does not have (leave out --plugin)");
    auto host = loadPlugin(pluginPath, options.rate);
    if (!options.state.empty()) restoreState(*host, options.state);
    if (options.program >= 0) host->setProgram(options.program);
    if (options.formulaGiven) putFormula(*host, options.formula);
    if (!options.settings.empty()) {
        requireBytone(*host, "a setting of the instrument");
        auto bank = std::make_unique<Bank>();
        decodeBank(*bank, host->chunk());
        for (const auto& [setting, text] : options.settings) putSetting(*bank, setting, settingValue(setting, text));
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

// What the render plays: the demo or the MIDI file, its channels as the options say,
// refused when it plays nothing or lasts longer than --max-length.
RenderPlan planOf(const RenderOptions& options, InstrumentHost& host) {
    RenderPlan plan;
    if (options.midi.empty()) {
        if (host.identity().uniqueID != kBytoneId)
            throw CommandError("the demo needs the Bytone plug-in, not '" + fourChars(host.identity().uniqueID) + "'");
        auto bank = std::make_unique<Bank>();
        decodeBank(*bank, host.chunk());
        plan = demoPlan(*bank, options.rate);
    } else {
        // Without --tail, the notes' release is heard whole.
        double tail = options.tail;
        const auto release = options.settings.find(engine::Setting::Release);
        if (!options.tailGiven && release != options.settings.end())
            tail = std::max(tail, static_cast<double>(parseInteger(release->second, "--release")) / 1000.0);
        plan = planFromMidi(loadMidiFile(options.midi), options.rate, std::llround(tail * options.rate));
    }
    plan.blockSize = options.block;
    if (options.channelsGiven) plan = onlyChannels(plan, parseChannels(options.channels));
    if (!options.midi.empty() && channelsWithNotes(plan) == 0)
        throw CommandError(!options.channelsGiven ? options.midi + " plays no notes: nothing would sound"
                                                  : "channels " + options.channels + " of " + options.midi +
                                                        " play no notes: nothing would sound");
    const double seconds = static_cast<double>(plan.frames) / options.rate;
    if (seconds > options.maxLength)
        throw CommandError("the render would last " + clockTime(seconds) + ", longer than --max-length (" +
                           std::to_string(static_cast<int64_t>(options.maxLength)) +
                           " s); give a larger --max-length to render it");
    return plan;
}

// The rendered blocks on their way into the file: the tool's high-pass and gain, and the
// levels counted. Full scale is counted twice: where the instrument's own limit flattens
// its output (nothing after it can undo that; with --split each instance counts its
// own), and in the file, after the tool's gain.
class FileSink {
public:
    FileSink(const RenderOptions& options, AudioFileWriter& writer)
        : writer_(writer), gain_(static_cast<float>(std::pow(10.0, options.gainDb / 20.0))), split_(options.split) {
        if (options.highpass > 0.0)
            for (auto& filter : highpass_) filter = std::make_unique<DcBlocker>(options.highpass, options.rate);
    }

    void take(const float* l, const float* r, int32_t frames) {
        if (!split_)
            for (int32_t i = 0; i < frames; ++i)
                atInstrumentLimit += std::fabs(l[i]) >= 1.0f || std::fabs(r[i]) >= 1.0f;
        if (gain_ != 1.0f || highpass_[0]) {
            left_.assign(l, l + frames);
            right_.assign(r, r + frames);
            if (highpass_[0]) highpass_[0]->process(left_.data(), frames), highpass_[1]->process(right_.data(), frames);
            for (int32_t i = 0; i < frames; ++i) left_[i] *= gain_, right_[i] *= gain_;
            l = left_.data(), r = right_.data();
        }
        for (int32_t i = 0; i < frames; ++i) {
            atFullScale += std::fabs(l[i]) >= 1.0f || std::fabs(r[i]) >= 1.0f;
            sum += l[i] + r[i];
            peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
        }
        writer_.write(l, r, frames);
    }

    int64_t atInstrumentLimit = 0, atFullScale = 0;
    double sum = 0.0;
    float peak = 0.0f;

private:
    AudioFileWriter& writer_;
    const float gain_;
    const bool split_;
    std::unique_ptr<DcBlocker> highpass_[2];
    std::vector<float> left_, right_;
};

// Warnings about what a render sounds like, and what helps: samples flattened by the
// instrument's own limit (more voices at once than one instance has room for), samples
// the file cuts at full scale after the tool's gain (a mix that sits on one side of zero,
// as formulas masked to a byte do, leaves the less room), and silence.
void reportLevels(const RenderOptions& options, const FileSink& levels, int64_t frames, bool quiet) {
    const double mean = levels.sum / (2.0 * static_cast<double>(std::max<int64_t>(frames, 1)));
    // The lines above (each channel's) first, where both go to one file.
    std::fflush(stdout);
    if (levels.peak == 0.0f) std::fprintf(stderr, "bytone: warning: the render is silent\n");
    if (levels.atInstrumentLimit > 0)
        std::fprintf(stderr,
                     "bytone: warning: %lld frames reach the instrument's own limit, which --gain cannot undo; %s\n",
                     static_cast<long long>(levels.atInstrumentLimit),
                     options.split ? (quiet ? "without -q, the channels that reach it are marked"
                                            : "the channels that reach it are marked above")
                                   : "--split plays each channel through an instance of its own");
    // One instance's frames at its limit are the file's at full scale, which --gain cannot
    // help; --split's instances count theirs apart from the mix's, which --gain can lower.
    if (levels.atFullScale > (options.split ? 0 : levels.atInstrumentLimit)) {
        char offset[160] = "";
        if (std::fabs(mean) > 0.1 && options.highpass == 0.0)
            std::snprintf(offset, sizeof offset,
                          ", or take out the mix's constant part (it sits at %+.2f) with --highpass 20", mean);
        std::fprintf(stderr, "bytone: warning: %lld frames of the file reach full scale; lower them with --gain%s\n",
                     static_cast<long long>(levels.atFullScale), offset);
    }
}

// What --split renders: a line for each channel, after the render.
struct ChannelLine {
    int channel;
    std::string program;
    InstanceLevels levels;
};

// Each channel that has notes through an instance of its own (the first channel's is
// `host`), mixed with headroom; no lines when no channel has notes.
std::vector<ChannelLine> renderSplit(const RenderOptions& options, const std::string& pluginPath, InstrumentHost& host,
                                     const RenderPlan& plan, const AudioSink& write, const Progress& progress) {
    std::vector<std::unique_ptr<InstrumentHost>> others;
    std::vector<InstrumentHost*> hosts;
    std::vector<RenderPlan> plans;
    std::vector<ChannelLine> lines;
    const ChannelSet played = channelsWithNotes(plan);
    for (int c = 0; c < 16; ++c) {
        if (!((played >> c) & 1)) continue;
        if (!hosts.empty()) others.push_back(preparedInstance(options, pluginPath));
        hosts.push_back(hosts.empty() ? &host : others.back().get());
        plans.push_back(onlyChannels(plan, static_cast<ChannelSet>(1u << c)));
        lines.push_back({c + 1, "", {}});
    }
    if (hosts.empty()) return lines;
    std::vector<InstanceLevels> levels;
    renderMix(hosts, plans, 1.0f / std::sqrt(static_cast<float>(hosts.size())), write, levels, progress);
    for (size_t i = 0; i < hosts.size(); ++i) {
        lines[i].program = hosts[i]->programName() + (lines[i].channel == 10 ? " (drum keys)" : "");
        lines[i].levels = levels[i];
    }
    return lines;
}

int renderSong(const RenderOptions& options, const std::string& pluginPath, const ToolOptions& tool) {
    if (options.midi == "-") throw UsageError("MIDI from standard input is not supported; name the MIDI file");
    // Every output is checked before any work, so that a render is never wasted on a
    // file that cannot be written, nor writes over its own input.
    std::vector<std::string> outputs{options.output};
    if (!options.saveState.empty()) outputs.push_back(options.saveState);
    checkOutputs(outputs, {options.midi, options.state, pluginPath});
    AudioFileWriter::containerOf(options.output, options.type, sampleFormatOf(options.sampleFormat));
    auto host = preparedInstance(options, pluginPath);
    const RenderPlan plan = planOf(options, *host);
    const double seconds = static_cast<double>(plan.frames) / options.rate;
    const std::string& out = options.output;
    inform(tool, out, "rendering %s (%.2f seconds) at %d Hz\n", clockTime(seconds).c_str(), seconds, options.rate);

    AudioFileWriter writer(out, options.type, options.rate, sampleFormatOf(options.sampleFormat), plan.frames);
    FileSink sink(options, writer);
    const AudioSink write = [&sink](const float* l, const float* r, int32_t frames) { sink.take(l, r, frames); };
    ProgressBar progress;
    const Progress showProgress = [&](int64_t done, int64_t total) {
        if (!tool.quiet) progress.update(done, total);
    };
    const std::vector<ChannelLine> lines =
        options.split ? renderSplit(options, pluginPath, *host, plan, write, showProgress) : std::vector<ChannelLine>{};
    if (lines.empty()) renderPlan(*host, plan, write, showProgress);
    writer.close();
    progress.finish();
    if (!options.saveState.empty()) saveState(*host, options.saveState);
    for (const ChannelLine& line : lines) {
        inform(tool, out, "channel %2d  %-26s peak %s%s\n", line.channel, line.program.c_str(),
               decibels(line.levels.peak).c_str(), line.levels.atFullScale ? ", at the instrument's limit" : "");
        sink.atInstrumentLimit += line.levels.atFullScale;
    }
    inform(tool, out, "wrote %s: %.2f seconds at %d Hz\n", shownPath(out).c_str(), seconds, options.rate);
    reportLevels(options, sink, plan.frames, tool.quiet);
    return 0;
}

// Numbers that parse as doubles but mean nothing (nan, inf) are refused, and settings
// outside their ranges.
void checkNumbers(const RenderOptions& options) {
    const std::pair<const char*, double> numbers[] = {{"--gain", options.gainDb},
                                                      {"--tail", options.tail},
                                                      {"--highpass", options.highpass},
                                                      {"--max-length", options.maxLength}};
    for (const auto& [name, value] : numbers)
        if (!std::isfinite(value)) throw UsageError(std::string(name) + " wants a finite number");
    if (options.gainDb < -120.0 || options.gainDb > 40.0) throw UsageError("--gain wants -120 to 40 dB");
    if (options.channelsGiven) parseChannels(options.channels);
    for (const auto& [setting, text] : options.settings) {
        const engine::SettingInfo& info = engine::settingInfo(setting);
        if (info.show == engine::SettingShow::Switch || info.show == engine::SettingShow::Factor) continue;
        const int64_t value = parseInteger(text, std::string("--") + info.key);
        if (value < info.lowest || value > info.highest)
            throw UsageError(std::string("--") + info.key + " " + text + " is outside " + std::to_string(info.lowest) +
                             " to " + std::to_string(info.highest));
    }
}

// The instrument's settings, from its table: applied before the first note, and saved
// with the state.
void addSettingOptions(CLI::App& render, std::map<engine::Setting, std::string>& texts) {
    for (int number = 0; number < engine::kSettingCount; ++number) {
        const auto setting = static_cast<engine::Setting>(number);
        if (!isRenderSetting(setting)) continue;
        const engine::SettingInfo& info = engine::settingInfo(setting);
        CLI::Option* option = render.add_option(std::string("--") + info.key, texts[setting]);
        if (info.show == engine::SettingShow::Switch) {
            option->description(std::string("the instrument's ") + info.name + " switch, on or off")
                ->check(CLI::IsMember({"on", "off"}));
        } else if (info.show == engine::SettingShow::Factor) {
            option->description(std::string("the instrument's ") + info.name + " factor, 1, 2, 4 or 8 (new: 1)")
                ->check(CLI::IsMember({"1", "2", "4", "8"}));
        } else {
            const std::string unit = info.show == engine::SettingShow::Duration ? " ms" : "";
            option->description(std::string("the instrument's ") + info.name + " setting, " +
                                std::to_string(info.lowest) + " to " + std::to_string(info.highest) + unit +
                                " (new: " + std::to_string(info.defaultValue) + ")");
        }
    }
}

}  // namespace

Command addRenderCommand(CLI::App& app, const ToolOptions& tool) {
    struct Parsed {
        RenderOptions options;
        std::map<engine::Setting, std::string> settingTexts;
    };
    auto parsed = std::make_shared<Parsed>();
    RenderOptions& o = parsed->options;
    CLI::App* render = app.add_subcommand("render", "render a MIDI file (or the demo) to a WAV or FLAC file");
    render->add_option("midi", o.midi, "Standard MIDI File to play; without one, the demo plays");
    render->add_option("-o,--output", o.output, "sound file to write (.wav or .flac; - for standard output)")
        ->required();
    render->add_option("--type", o.type, "the file's type, wav or flac (by default its name's; wav for -)")
        ->check(CLI::IsMember({"wav", "flac"}));
    render->add_option("--rate", o.rate, "sample rate in Hz")->capture_default_str()->check(wholeNumber(8000, 384000));
    render->add_option("--block", o.block, "block size in frames")->capture_default_str()->check(wholeNumber(1, 65536));
    render->add_option("--program", o.program, "program to select before playing")->check(wholeNumber(0, 127));
    render->add_option("--formula", o.formula, "formula for the current program, put in through the state chunk");
    render->add_option("--gain", o.gainDb, "output gain in dB")->capture_default_str();
    render->add_option("--state", o.state, "state file (.fxb, .fxp or raw chunk) to restore first");
    render->add_option("--save-state", o.saveState, "state file (.fxb, .fxp or raw chunk) to store afterwards");
    render->add_option("--tail", o.tail, "seconds to render after the MIDI file ends (at least --release)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    render->add_option("--format", o.sampleFormat, "sample format: 16, 24 (bit PCM) or float")
        ->capture_default_str()
        ->check(CLI::IsMember({"16", "24", "float"}));
    render->add_option("--channels", o.channels, "play only these MIDI channels, as 1,2,10 or 1-4");
    render->add_flag("--split", o.split,
                     "play each channel that has notes through an instance of its own, mixed with headroom");
    render
        ->add_option(
            "--highpass", o.highpass,
            "take out the constant part of the mix, and what lies below this frequency in Hz (off: sample-exact)")
        ->check(CLI::Range(1.0, 1000.0));
    render->add_option("--max-length", o.maxLength, "refuse renders longer than this, in seconds")
        ->capture_default_str()
        ->check(CLI::Range(1.0, 1e7));
    render->add_option("--level", o.level, "the instrument's own Gain, which its state keeps (100: unchanged)")
        ->check(wholeNumber(1, 200));
    addSettingOptions(*render, parsed->settingTexts);
    return {render, [parsed, render, &tool, &app] {
                RenderOptions& options = parsed->options;
                for (auto& [setting, text] : parsed->settingTexts)
                    if (!text.empty()) options.settings[setting] = text;
                options.formulaGiven = render->count("--formula") > 0;
                options.tailGiven = render->count("--tail") > 0;
                options.channelsGiven = render->count("--channels") > 0;
                checkNumbers(options);
                // bytone.clap, unless a VST 2.4 plug-in is named.
                options.clap = app.count("--plugin") == 0;
                return renderSong(options, options.clap ? defaultClapPlugin() : tool.plugin, tool);
            }};
}
