// bytone info: the plug-in's identity, flags, counts and canDo answers.
#include <cstdio>

#include "command.h"
#include "plugin_instance.h"

namespace {

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

}  // namespace

Command addInfoCommand(CLI::App& app, const ToolOptions& tool) {
    CLI::App* info = app.add_subcommand("info", "the plug-in's identity, flags, counts and canDo answers");
    return {info, [&tool] {
                printInfo(*loadPlugin(tool.plugin), tool.plugin);
                return 0;
            }};
}
