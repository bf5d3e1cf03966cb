// What the tool's subcommands share: their failures, their exit statuses and how each
// is added to the command line.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "command_error.h"

// What the command line gives every subcommand, read when the command runs.
struct ToolOptions {
    std::string plugin;  // the VST 2.4 plug-in binary (--plugin, or Bytone's own)
    bool quiet = false;  // -q: nothing but errors and warnings on standard error
};

// A subcommand as main runs it, once the command line is parsed: its exit status, or a
// CommandError.
struct Command {
    CLI::App* app;
    std::function<int()> run;
};

// The subcommands, each of a file of its own.
Command addRenderCommand(CLI::App& app, const ToolOptions& tool);
Command addProgramsCommand(CLI::App& app, const ToolOptions& tool);
Command addInfoCommand(CLI::App& app, const ToolOptions& tool);
Command addEvalCommand(CLI::App& app);
Command addScopeCommand(CLI::App& app, const ToolOptions& tool);
Command addNoteCommand(CLI::App& app, const ToolOptions& tool);

// A line of what a command did, printf-style: on standard output, or on standard error
// when the command's `output` is standard output ("-"), and nowhere with --quiet.
void inform(const ToolOptions& tool, const std::string& output, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// An output as those lines name it: "standard output", or its absolute path.
std::string shownPath(const std::string& output);

// An option's check that takes a whole number as parseInteger reads it, from `lowest` to
// `highest`, and hands it on in decimal.
CLI::Validator wholeNumber(int64_t lowest, int64_t highest);

// The compiler's `message` for `formula`, which it stopped reading at offset `stop`:
// "Syntax error at 3" (counting characters from 1), and the formula with a caret under
// that character.
std::string formulaFault(const char* message, const std::string& formula, int32_t stop);

// A whole number as formulas write them: decimal, or hexadecimal after 0x, with an
// optional minus; a leading 0 is no octal prefix. Throws UsageError for anything else
// and for values outside the 64-bit range.
int64_t parseInteger(const std::string& text, const std::string& context);

// A number written as parseInteger reads it, given the value a formula of it has: its
// digits wrap round in 32 bits as a formula's literals do (0xFFFFFFFF is -1), before
// the minus.
int64_t parseFormulaNumber(const std::string& text, const std::string& context);
