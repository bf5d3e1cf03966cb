// bytone: the instrument on the command line. Hosts the plug-in binary exactly as a DAW
// does, through its entry point and effect record.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "plugin_host.h"

namespace {

std::string fourChars(VstInt32 code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
    return text;
}

void printInfo(const PluginHost& host) {
    const AEffect& e = *host.effect();
    std::printf("effect name    %s\n", host.text(effGetEffectName).c_str());
    std::printf("vendor         %s\n", host.text(effGetVendorString).c_str());
    std::printf("product        %s\n", host.text(effGetProductString).c_str());
    std::printf("vendor version %ld\n", static_cast<long>(host.dispatch(effGetVendorVersion)));
    std::printf("VST version    %ld\n", static_cast<long>(host.dispatch(effGetVstVersion)));
    std::printf("unique id      '%s' (version %d)\n", fourChars(e.uniqueID).c_str(), e.version);
    std::printf("category       %ld\n", static_cast<long>(host.dispatch(effGetPlugCategory)));
    std::printf("flags          %d%s%s%s%s\n", e.flags, (e.flags & effFlagsHasEditor) ? " editor" : "",
                (e.flags & effFlagsCanReplacing) ? " replacing" : "",
                (e.flags & effFlagsProgramChunks) ? " chunks" : "", (e.flags & effFlagsIsSynth) ? " synth" : "");
    std::printf("programs       %d\nparameters     %d\ninputs         %d\noutputs        %d\n", e.numPrograms,
                e.numParams, e.numInputs, e.numOutputs);
    std::printf("MIDI inputs    %ld\n", static_cast<long>(host.dispatch(effGetNumMidiInputChannels)));
    for (const char* can : {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents"})
        std::printf("canDo %-20s %ld\n", can, static_cast<long>(host.dispatch(effCanDo, 0, 0, const_cast<char*>(can))));
}

void printPrograms(const PluginHost& host) {
    const VstIntPtr current = host.dispatch(effGetProgram);
    for (VstInt32 i = 0; i < host.effect()->numPrograms; ++i) {
        host.dispatch(effSetProgram, 0, i);
        std::printf("%3d  %s\n", i, host.text(effGetProgramName).c_str());
    }
    host.dispatch(effSetProgram, 0, current);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"bytone: plays formulas through the Bytone VST 2.4 instrument"};
    app.require_subcommand(1);
    std::string plugin = BYTONE_DEFAULT_PLUGIN;
    app.add_option("--plugin", plugin, "the plug-in binary to host")->capture_default_str();

    CLI::App* info = app.add_subcommand("info", "the plug-in's identity answers, flags, counts and canDo answers");
    CLI::App* programs = app.add_subcommand("programs", "the plug-in's programs, number and name");

    CLI11_PARSE(app, argc, argv);

    PluginHost host(plugin);
    if (!host.ready()) {
        std::fprintf(stderr, "bytone: %s\n", host.error().c_str());
        return 1;
    }
    if (info->parsed()) printInfo(host);
    if (programs->parsed()) printPrograms(host);
    return 0;
}
