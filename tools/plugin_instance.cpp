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

PluginIdentity identityOf(const PluginHost& host) {
    return {host.effect()->uniqueID, host.effect()->version, host.effect()->numPrograms};
}

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

std::string defaultPlugin() {
    std::error_code error;
    for (const std::filesystem::path& place : pluginPlaces())
        if (std::filesystem::is_regular_file(place / "bytone.so", error)) return (place / "bytone.so").string();
    return "";
}

namespace {

std::string pluginNotFound() {
    std::string looked;
    for (const std::filesystem::path& place : pluginPlaces()) looked += (looked.empty() ? "" : ", ") + place.string();
    return "the Bytone plug-in bytone.so is in none of " + looked + "; name it with --plugin";
}

}  // namespace

std::unique_ptr<PluginHost> loadPlugin(const std::string& path, double rate) {
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
