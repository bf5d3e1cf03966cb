// bytone: the instrument on the command line. Renders MIDI through the plug-in binary,
// hosted exactly as a DAW hosts it (entry point, dispatcher, processReplacing), lists
// and identifies it, and evaluates and draws formulas for their authors. Each subcommand
// is a file of its own (command.h).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <vector>

#include "command.h"
#include "output_file.h"
#include "plugin_instance.h"

namespace {

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
                   "the installed tool, in VST_PATH, ~/.vst, /usr/local/lib/vst or /usr/lib/vst); without it, "
                   "render hosts Bytone's bytone.clap (in PREFIX/lib/clap, CLAP_PATH, ~/.clap, /usr/local/lib/clap "
                   "or /usr/lib/clap)");
    const std::vector<Command> commands = {addRenderCommand(app, plugin), addProgramsCommand(app, plugin),
                                           addInfoCommand(app, plugin),   addEvalCommand(app),
                                           addScopeCommand(app),          addNoteCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "bytone: %s\n", usageMessage(e, app, argc, argv).c_str());
        return kExitUsage;
    }
    removeOutputsOnInterrupt();
    try {
        for (const Command& command : commands)
            if (command.app->parsed()) return command.run();
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "bytone: %s\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bytone: %s\n", e.what());
        return kExitFailure;
    }
}
