// The plug-in binaries the subcommands host: where they are looked for, loading them,
// and their state files. `render` hosts bytone.clap unless it is given a VST 2.4 plug-in;
// the other commands host the VST 2.4 plug-in.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clap_instrument.h"
#include "plugin_host.h"
#include "state_file.h"

constexpr VstInt32 kBytoneId = kBytoneIdentity.uniqueID;
static_assert(kBytoneId == fourCharCode('b', 'y', 't', 'o'));

// A plug-in's four-character id as text.
std::string fourChars(VstInt32 code);

// Where the Bytone plug-in is looked for, in order: beside the tool as installed
// (PREFIX/lib/vst for PREFIX/bin) or in its build folder, the folders of VST_PATH, and
// the folders Linux hosts look in.
std::vector<std::filesystem::path> pluginPlaces();
// The first bytone.so of those places; empty when there is none (`--plugin` may name one).
std::string defaultPlugin();
// Where bytone.clap is looked for, in order: beside the tool as installed (PREFIX/lib/clap),
// in its build folder, the folders of CLAP_PATH, ~/.clap, /usr/local/lib/clap and
// /usr/lib/clap; and the first of them that holds it, empty for none.
std::vector<std::filesystem::path> clapPlaces();
std::string defaultClapPlugin();
// An instance of bytone.clap at `path`; throws CommandError when there is none to load.
std::unique_ptr<ClapInstrument> loadClapPlugin(const std::string& path, double rate);

// An instance of the plug-in at `path`; throws CommandError when there is none to load.
std::unique_ptr<PluginHost> loadPlugin(const std::string& path, double rate = 48000.0);
// Throws CommandError, naming `what` needs it, when the plug-in is not Bytone.
void requireBytone(const PluginHost& host, const char* what);

// Restores the chunk and, as hosts do, the bank file's current program.
void restoreState(InstrumentHost& host, const std::string& path);
// Writes the plug-in's state as the file's name says (.fxb, .fxp or a raw chunk).
void saveState(const InstrumentHost& host, const std::string& path);
