// The plug-in binary the subcommands host: where it is looked for, loading it, and its
// state files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "plugin_host.h"
#include "state_file.h"

constexpr VstInt32 kBytoneId = fourCharCode('b', 'y', 't', 'o');

// A plug-in's four-character id as text.
std::string fourChars(VstInt32 code);
PluginIdentity identityOf(const PluginHost& host);

// Where the Bytone plug-in is looked for, in order: beside the tool as installed
// (PREFIX/lib/vst for PREFIX/bin) or in its build folder, the folders of VST_PATH, and
// the folders Linux hosts look in.
std::vector<std::filesystem::path> pluginPlaces();
// The first bytone.so of those places; empty when there is none (`--plugin` may name one).
std::string defaultPlugin();

// An instance of the plug-in at `path`; throws CommandError when there is none to load.
std::unique_ptr<PluginHost> loadPlugin(const std::string& path, double rate = 48000.0);
// Throws CommandError, naming `what` needs it, when the plug-in is not Bytone.
void requireBytone(const PluginHost& host, const char* what);

// Restores the chunk and, as hosts do, the bank file's current program.
void restoreState(PluginHost& host, const std::string& path);
// Writes the plug-in's state as the file's name says (.fxb, .fxp or a raw chunk).
void saveState(const PluginHost& host, const std::string& path);
