#include "state_file.h"

#include <cstring>

#include "engine/chunk.h"
#include "file_io.h"
#include "file_names.h"

namespace {

constexpr size_t kProgramHeader = 60;  // through chunkSize
constexpr size_t kBankHeader = 160;

uint32_t bigEndianAt(const std::vector<uint8_t>& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

void putBigEndian(std::vector<uint8_t>& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

std::string fourChars(uint32_t v) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>(v >> shift);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

uint32_t magic(const char* four) {
    return (uint32_t{static_cast<uint8_t>(four[0])} << 24) | (uint32_t{static_cast<uint8_t>(four[1])} << 16) |
           (uint32_t{static_cast<uint8_t>(four[2])} << 8) | uint32_t{static_cast<uint8_t>(four[3])};
}

// A Bytone chunk is taken whole or not at all.
void checkWholeChunk(const uint8_t* chunk, size_t size) {
    if (!chunkIsWhole(chunk, size))
        throw StateFileError("its chunk of " + std::to_string(size) + " bytes is cut short (it lacks the end tag)");
}

}  // namespace

StateFormat stateFormatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "fxp") return StateFormat::Program;
    if (ext == "fxb") return StateFormat::Bank;
    return StateFormat::Raw;
}

StateFile parseStateFile(const std::vector<uint8_t>& b, const PluginIdentity& plugin) {
    const bool bytone = plugin.uniqueID == static_cast<int32_t>(magic("byto"));
    if (b.size() < 4 || bigEndianAt(b, 0) != magic("CcnK")) {
        constexpr uint32_t start = chunktag::kStart;
        if (bytone && (b.size() < 4 || std::memcmp(b.data(), &start, 4) != 0))
            throw StateFileError("not a Bytone state file");
        if (bytone) checkWholeChunk(b.data(), b.size());
        return {b, -1};
    }
    if (b.size() < 28)
        throw StateFileError("state file of " + std::to_string(b.size()) + " bytes ends inside its header");
    const uint32_t fxMagic = bigEndianAt(b, 8);
    const bool program = fxMagic == magic("FPCh");
    if (!program && fxMagic != magic("FBCh")) {
        if (fxMagic == magic("FxCk") || fxMagic == magic("FxBk"))
            throw StateFileError("state file holds parameters ('" + fourChars(fxMagic) +
                                 "'); this plug-in keeps its state as a chunk");
        throw StateFileError("unknown state file type '" + fourChars(fxMagic) + "' at byte 8");
    }
    const uint32_t version = bigEndianAt(b, 12);
    if (version != 1 && version != 2)
        throw StateFileError("unknown state file version " + std::to_string(version) + " at byte 12");
    const uint32_t id = bigEndianAt(b, 16);
    if (static_cast<int32_t>(id) != plugin.uniqueID)
        throw StateFileError("state file belongs to plug-in '" + fourChars(id) + "', not '" +
                             fourChars(static_cast<uint32_t>(plugin.uniqueID)) + "'");
    const size_t header = program ? kProgramHeader : kBankHeader;
    if (b.size() < header)
        throw StateFileError("state file of " + std::to_string(b.size()) + " bytes ends inside its header");
    const uint32_t chunkSize = bigEndianAt(b, header - 4);
    if (chunkSize != b.size() - header)
        throw StateFileError("chunk size " + std::to_string(chunkSize) + " at byte " + std::to_string(header - 4) +
                             " is " + (chunkSize > b.size() - header ? "larger" : "smaller") + " than the " +
                             std::to_string(b.size() - header) + " bytes that follow");
    if (bytone) checkWholeChunk(b.data() + header, chunkSize);
    StateFile file;
    file.chunk.assign(b.begin() + static_cast<long>(header), b.begin() + static_cast<long>(header + chunkSize));
    if (!program && version == 2) file.currentProgram = static_cast<int32_t>(bigEndianAt(b, 28));
    return file;
}

StateFile readStateFile(const std::string& path, const PluginIdentity& plugin) {
    constexpr size_t kMaxBytes = 64 << 20;  // Bytone's bank is 0.5 MB; other plug-ins' states larger
    const std::vector<uint8_t> bytes = readWholeFile(path, kMaxBytes);
    try {
        return parseStateFile(bytes, plugin);
    } catch (const StateFileError& e) {
        throw StateFileError(path + ": " + e.what());
    }
}

std::vector<uint8_t> buildStateFile(StateFormat format, const std::vector<uint8_t>& chunk, const PluginIdentity& plugin,
                                    const std::string& programName, int32_t currentProgram) {
    if (format == StateFormat::Raw) return chunk;
    const bool program = format == StateFormat::Program;
    const size_t header = program ? kProgramHeader : kBankHeader;
    std::vector<uint8_t> b;
    b.reserve(header + chunk.size());
    putBigEndian(b, magic("CcnK"));
    putBigEndian(b, static_cast<uint32_t>(header + chunk.size() - 8));
    putBigEndian(b, magic(program ? "FPCh" : "FBCh"));
    putBigEndian(b, program ? 1 : 2);
    putBigEndian(b, static_cast<uint32_t>(plugin.uniqueID));
    putBigEndian(b, static_cast<uint32_t>(plugin.version));
    if (program) {
        putBigEndian(b, 0);  // numParams
        char name[28] = {};
        std::strncpy(name, programName.c_str(), sizeof name - 1);
        b.insert(b.end(), name, name + sizeof name);
    } else {
        putBigEndian(b, static_cast<uint32_t>(plugin.numPrograms));
        putBigEndian(b, static_cast<uint32_t>(currentProgram));
        b.resize(b.size() + 124, 0);  // the rest of the 128 reserved bytes
    }
    putBigEndian(b, static_cast<uint32_t>(chunk.size()));
    b.insert(b.end(), chunk.begin(), chunk.end());
    return b;
}
