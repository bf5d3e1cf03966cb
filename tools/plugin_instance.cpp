#include "plugin_instance.h"

#include <algorithm>
#include <cstdlib>

#include "command.h"
#include "output_file.h"

std::string fourChars(VstInt32 code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

namespace {

// The folders of a PATH-like variable, in order.
void addPathList(std::vector<std::filesystem::path>& places, const char* variable) {
    const char* list = std::getenv(variable);
    if (!list) return;
    const std::string text = list;
    for (size_t at = 0; at <= text.size();) {
        const size_t colon = std::min(text.find(':', at), text.size());
        if (colon > at) places.emplace_back(text.substr(at, colon - at));
        at = colon + 1;
    }
}

// Where Linux hosts look for plug-ins of a format (its folder's name: vst, clap), after
// the tool's own places and the format's variable.
std::vector<std::filesystem::path> placesOf(const char* folder, const char* variable) {
    namespace fs = std::filesystem;
    std::vector<fs::path> places;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        places.push_back(self.parent_path().parent_path() / "lib" / folder);
        places.push_back(self.parent_path());
        places.push_back(self.parent_path().parent_path());
    }
    addPathList(places, variable);
    if (const char* home = std::getenv("HOME")) places.push_back(fs::path(home) / (std::string(".") + folder));
    places.emplace_back(std::string("/usr/local/lib/") + folder);
    places.emplace_back(std::string("/usr/lib/") + folder);
    return places;
}

std::string firstIn(const std::vector<std::filesystem::path>& places, const char* name) {
    std::error_code error;
    for (const std::filesystem::path& place : places)
        if (std::filesystem::is_regular_file(place / name, error)) return (place / name).string();
    return "";
}

}  // namespace

std::vector<std::filesystem::path> pluginPlaces() { return placesOf("vst", "VST_PATH"); }
std::string defaultPlugin() { return firstIn(pluginPlaces(), "bytone.so"); }
std::vector<std::filesystem::path> clapPlaces() { return placesOf("clap", "CLAP_PATH"); }
std::string defaultClapPlugin() { return firstIn(clapPlaces(), "bytone.clap"); }

namespace {

std::string notFound(const char* name, const std::vector<std::filesystem::path>& places, const char* advice) {
    std::string looked;
    for (const std::filesystem::path& place : places) looked += (looked.empty() ? "" : ", ") + place.string();
    return std::string("the Bytone plug-in ") + name + " is in none of " + looked + advice;
}

}  // namespace

std::unique_ptr<PluginHost> loadPlugin(const std::string& path, double rate) {
    if (path.empty()) throw CommandError(notFound("bytone.so", pluginPlaces(), "; name it with --plugin"));
    auto host = std::make_unique<PluginHost>(path, rate);
    if (!host->ready()) throw CommandError(host->error());
    return host;
}

std::unique_ptr<ClapInstrument> loadClapPlugin(const std::string& path, double rate) {
    if (path.empty())
        throw CommandError(notFound("bytone.clap", clapPlaces(), "; or name a VST 2.4 plug-in with --plugin"));
    auto host = std::make_unique<ClapInstrument>(path, rate);
    if (!host->ready()) throw CommandError(host->error());
    return host;
}

void requireBytone(const PluginHost& host, const char* what) {
    if (host.effect()->uniqueID != kBytoneId)
        throw CommandError(std::string(what) + " needs the Bytone plug-in, not '" + fourChars(host.effect()->uniqueID) +
                           "'");
}

void restoreState(InstrumentHost& host, const std::string& path) {
    if (!host.keepsChunk()) throw CommandError("the plug-in keeps no state chunk");
    const StateFile file = readStateFile(path, host.identity());
    host.setChunk(file.chunk);
    if (file.currentProgram >= 0 && file.currentProgram < host.identity().numPrograms)
        host.setProgram(file.currentProgram);
}

void saveState(const InstrumentHost& host, const std::string& path) {
    const std::vector<uint8_t> chunk = host.chunk();
    if (chunk.empty()) throw CommandError("the plug-in gave no state chunk to save");
    writeWholeFile(path,
                   buildStateFile(stateFormatOf(path), chunk, host.identity(), host.programName(), host.program()));
}
