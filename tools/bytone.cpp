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

// The subcommand the command line names, "" for none: its first word that is no option
// nor the value of --plugin.
std::string commandNamed(const CLI::App& app, int argc, char** argv, bool& known) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--plugin") {
            ++i;
            continue;
        }
        if (word.rfind("-", 0) == 0) continue;
        known = false;
        for (const CLI::App* command : app.get_subcommands({})) known |= command->get_name() == word;
        return word;
    }
    return "";
}

// Where to read what a command line can be: the subcommand's help, else the tool's.
std::string helpOf(const std::string& command) {
    return command.empty() ? "(bytone --help)" : "(bytone " + command + " --help)";
}

// A parser's complaint, said so that the user sees what to do; an unknown command is
// named with the commands there are.
std::string usageMessage(const CLI::ParseError& error, const CLI::App& app, int argc, char** argv) {
    bool known = false;
    const std::string command = commandNamed(app, argc, argv, known);
    if (!command.empty() && !known) {
        std::string commands;
        for (const CLI::App* subcommand : app.get_subcommands({}))
            commands += (commands.empty() ? "" : ", ") + subcommand->get_name();
        return "'" + command + "' is not a command; the commands are " + commands + " " + helpOf("");
    }
    return std::string(error.what()) + " " + helpOf(command);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"bytone: plays formulas through the Bytone VST 2.4 instrument", "bytone"};
    app.set_version_flag("--version", "bytone " BYTONE_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    // An option given twice takes its last value, as shell aliases expect.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    ToolOptions tool;
    tool.plugin = defaultPlugin();
    app.add_option("--plugin", tool.plugin,
                   "the VST 2.4 plug-in binary to host (by default Bytone's bytone.so: in PREFIX/lib/vst beside "
                   "the installed tool, in VST_PATH, ~/.vst, /usr/local/lib/vst or /usr/lib/vst); without it, "
                   "render hosts Bytone's bytone.clap (in PREFIX/lib/clap, CLAP_PATH, ~/.clap, /usr/local/lib/clap "
                   "or /usr/lib/clap)");
    app.add_flag("-q,--quiet", tool.quiet, "print nothing but errors and warnings (a command's results stay)");
    const std::vector<Command> commands = {addRenderCommand(app, tool), addProgramsCommand(app, tool),
                                           addInfoCommand(app, tool),   addEvalCommand(app),
                                           addScopeCommand(app, tool),  addNoteCommand(app, tool)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "bytone: %s\n", usageMessage(e, app, argc, argv).c_str());
        return kExitUsage;
    }
    removeOutputsOnInterrupt();
    for (const Command& command : commands) {
        if (!command.app->parsed()) continue;
        try {
            return command.run();
        } catch (const UsageError& e) {
            // A formula's fault ends with its caret line; a line ends with where to look.
            const std::string message = e.what();
            const bool line = message.find('\n') == std::string::npos;
            std::fprintf(stderr, "bytone: %s%s%s\n", e.what(), line ? " " : "",
                         line ? helpOf(command.app->get_name()).c_str() : "");
            return kExitUsage;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bytone: %s\n", e.what());
            return kExitFailure;
        }
    }
    return 0;
}
