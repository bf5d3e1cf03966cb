// What the tool's subcommands share: their failures, their exit statuses and how each
// is added to the command line.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// A failure of the command: exit status 1 and its message (a line, or for a formula
// that does not compile, a line and the formula with a caret under its fault).
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

// A subcommand as main runs it, once the command line is parsed: its exit status, or a
// CommandError.
struct Command {
    CLI::App* app;
    std::function<int()> run;
};

// The subcommands, each of a file of its own; `plugin` is the plug-in binary that the
// command line names, read when the command runs.
Command addRenderCommand(CLI::App& app, const std::string& plugin);
Command addProgramsCommand(CLI::App& app, const std::string& plugin);
Command addInfoCommand(CLI::App& app, const std::string& plugin);
Command addEvalCommand(CLI::App& app);
Command addScopeCommand(CLI::App& app);
Command addNoteCommand(CLI::App& app);

// The compiler's `message` for `formula`, which it stopped reading at offset `stop`:
// "Syntax error at 3" (counting characters from 1), and the formula with a caret under
// that character.
std::string formulaFault(const char* message, const std::string& formula, int32_t stop);

// A whole number as formulas write them: decimal, or hexadecimal after 0x, with an
// optional minus; a leading 0 is no octal prefix. Throws UsageError for anything else
// and for values outside the 64-bit range.
int64_t parseInteger(const std::string& text, const std::string& context);
