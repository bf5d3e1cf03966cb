// Plug-in state files as DAWs exchange them: .fxp (one program) and .fxb (a bank), both
// with an opaque chunk behind a big-endian header, and raw chunk files (.bin).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class StateFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class StateFormat { Program, Bank, Raw };

// The format a file name asks for: .fxp, .fxb, anything else raw.
StateFormat stateFormatOf(const std::string& path);

struct PluginIdentity {
    int32_t uniqueID;
    int32_t version;
    int32_t numPrograms;
};
// Bytone's, whichever plug-in format plays the state.
constexpr PluginIdentity kBytoneIdentity = {0x6279746F, 1, 128};  // 'byto'

struct StateFile {
    std::vector<uint8_t> chunk;
    int32_t currentProgram = -1;  // the bank file's (version 2); -1 where the file has none
};

// Reads the chunk of a state file. Headered files are recognised by their magic word
// whatever their name; their plug-in id must match `plugin`. Any other file is a raw
// chunk, which for the Bytone plug-in must begin with its chunk's start tag.
StateFile readStateFile(const std::string& path, const PluginIdentity& plugin);
StateFile parseStateFile(const std::vector<uint8_t>& bytes, const PluginIdentity& plugin);

// Builds a state file around `chunk` in the given format; `programName` fills the
// program file's name field, `currentProgram` the bank file's (version 2).
std::vector<uint8_t> buildStateFile(StateFormat format, const std::vector<uint8_t>& chunk, const PluginIdentity& plugin,
                                    const std::string& programName, int32_t currentProgram);
