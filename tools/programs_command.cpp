// bytone programs: the plug-in's programs, or those of a state file.
#include <cstdio>
#include <memory>

#include "bank.h"
#include "command.h"
#include "plugin_instance.h"

namespace {

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

}  // namespace

Command addProgramsCommand(CLI::App& app, const ToolOptions& tool) {
    auto state = std::make_shared<std::string>();
    CLI::App* programs = app.add_subcommand("programs", "list the programs: number, name and formula");
    programs->add_option("--state", *state, "list the programs of this state file instead");
    return {programs, [&tool, state] {
                auto host = loadPlugin(tool.plugin);
                if (!state->empty()) restoreState(*host, *state);
                printPrograms(*host);
                return 0;
            }};
}
