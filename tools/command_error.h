// How the tool's commands fail: the message, and the exit status it ends the tool with.
#pragma once

#include <stdexcept>

// A failure of the command: exit status 1 and its message (a line, or for a formula
// that does not compile, a line and the formula with a caret under its fault).
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line that the command cannot follow: exit status 2, and the message points
// to the subcommand's help.
class UsageError : public CommandError {
public:
    using CommandError::CommandError;
};

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
