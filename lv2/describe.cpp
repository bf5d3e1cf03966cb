// Writes the LV2 bundle's Turtle files from the settings table and the factory programs,
// so that the description never repeats by hand what the code says:
//   bytone_lv2_describe <bundle folder> <version>
// manifest.ttl names the plug-in and its presets, bytone.ttl its ports, presets.ttl one
// preset per built-in program, labelled as the VST 2.4 programs are named.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "../engine/instrument.h"
#include "../engine/presets.h"
#include "../plugin/identity.h"
#include "../plugin/parameters.h"
#include "ports.h"

namespace {

const char kPrefixes[] =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string presetUri(int program) {
    char number[12];
    std::snprintf(number, sizeof number, "%03d", program + 1);
    return std::string("<") + lv2adapter::kPresetPrefix + number + ">";
}

// The control port of a parameter: its range, default, and for a setting how hosts show
// its values.
void controlPort(std::ostream& out, uint32_t index, const plugin::ParameterInfo& parameter) {
    out << "    [\n        a lv2:InputPort , lv2:ControlPort ;\n        lv2:index " << index
        << " ;\n        lv2:symbol " << quoted(parameter.key) << " ;\n        lv2:name " << quoted(parameter.name)
        << " ;\n        lv2:default " << parameter.defaultValue << " ;\n        lv2:minimum " << parameter.lowest
        << " ;\n        lv2:maximum " << parameter.highest << " ;\n        lv2:portProperty lv2:integer";
    engine::Setting setting;
    if (plugin::settingOf(parameter.id, setting)) {
        const engine::SettingShow show = engine::settingInfo(setting).show;
        const bool enumerated = show == engine::SettingShow::Voices || show == engine::SettingShow::Zoom ||
                                show == engine::SettingShow::Factor;
        const bool labelled = show == engine::SettingShow::Switch || enumerated;
        if (show == engine::SettingShow::Switch) out << " , lv2:toggled";
        if (!parameter.automatable) out << " , pprops:notAutomatic";
        if (enumerated) out << " , lv2:enumeration";
        if (labelled) {
            out << " ;\n        lv2:scalePoint";
            for (int32_t v = parameter.lowest; v <= parameter.highest; ++v)
                out << (v == parameter.lowest ? " " : " ,\n            ") << "[ rdfs:label "
                    << quoted(engine::settingValueText(setting, v)) << " ; rdf:value " << v << " ]";
        }
    }
    out << " ;\n    ]";
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <bundle folder> <version>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int major = 0, minor = 0, micro = 0;
    std::sscanf(argv[2], "%d.%d.%d", &major, &minor, &micro);
    engine::Instrument instrument;
    // The programs with a formula of their own are the presets; the bank's others stay
    // reachable through the Program control.
    const int presetPrograms = std::min(presetCount(), kNumPrograms);

    std::ostringstream manifest;
    manifest << kPrefixes << "<" << lv2adapter::kUri << ">\n    a lv2:Plugin ;\n    lv2:binary <bytone.so> ;\n"
             << "    rdfs:seeAlso <bytone.ttl> .\n";
    for (int p = 0; p < presetPrograms; ++p)
        manifest << "\n"
                 << presetUri(p) << "\n    a pset:Preset ;\n    lv2:appliesTo <" << lv2adapter::kUri
                 << "> ;\n    rdfs:seeAlso <presets.ttl> .\n";

    std::ostringstream description;
    description << kPrefixes << "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n\n"
                << "<" << lv2adapter::kUri << ">\n    a lv2:InstrumentPlugin , doap:Project ;\n"
                << "    doap:name \"Bytone\" ;\n    doap:license <https://opensource.org/licenses/MIT> ;\n"
                << "    doap:maintainer [\n        a foaf:Person ;\n        foaf:name " << quoted(plugin::kVendor)
                << " ;\n        foaf:mbox <mailto:" << plugin::kVendorMail << "> ;\n        foaf:homepage <"
                << plugin::kVendorHomepage
                << ">\n    ] ;\n"
                // Rising with every release, and even, as LV2 marks a stable release: hosts that find
                // two bundles of the plug-in keep the higher.
                << "    lv2:minorVersion " << 2 * (major * 1000 + minor) << " ;\n    lv2:microVersion " << micro
                << " ;\n"
                << "    lv2:requiredFeature urid:map ;\n    lv2:optionalFeature lv2:hardRTCapable ;\n"
                << "    lv2:extensionData state:interface ;\n    ui:ui <" << lv2adapter::kUiUri
                << "> ;\n    lv2:port [\n"
                << "        a lv2:InputPort , atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
                << "        atom:supports midi:MidiEvent , time:Position ;\n        lv2:designation lv2:control ;\n    "
                   "    lv2:index "
                << lv2adapter::kMidiPort
                << " ;\n        lv2:symbol \"midi_in\" ;\n        lv2:name \"MIDI In\" ;\n    ] , [\n"
                << "        a lv2:OutputPort , lv2:AudioPort ;\n        lv2:index " << lv2adapter::kLeftPort
                << " ;\n        lv2:symbol \"out_left\" ;\n        lv2:name \"Left\" ;\n    ] , [\n"
                << "        a lv2:OutputPort , lv2:AudioPort ;\n        lv2:index " << lv2adapter::kRightPort
                << " ;\n        lv2:symbol \"out_right\" ;\n        lv2:name \"Right\" ;\n    ] ,\n";
    for (int i = 0; i < plugin::kParameterCount; ++i) {
        controlPort(description, lv2adapter::portOfParameter(i), plugin::parameterAt(i));
        description << " ,\n";
    }
    description << "    [\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index " << lv2adapter::kLatencyPort
                << " ;\n        lv2:symbol \"latency\" ;\n        lv2:name \"Latency\" ;\n"
                << "        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:integer ;\n"
                << "        lv2:minimum 0 ;\n        lv2:maximum " << engine::Decimator::latencyOf(8)
                << " ;\n        units:unit units:frame ;\n    ] .\n\n";
    description
        // The editor: embedded in the host's window, ticked by its idle calls, reaching the
        // instrument through instance-access.
        << "<" << lv2adapter::kUiUri << ">\n    a ui:X11UI ;\n    ui:binary <bytone_ui.so> ;\n"
        << "    lv2:requiredFeature ui:idleInterface , ui:parent , <http://lv2plug.in/ns/ext/instance-access> ;\n"
        << "    lv2:optionalFeature ui:resize , ui:touch ;\n    lv2:extensionData ui:idleInterface .\n";

    std::ostringstream presets;
    presets << kPrefixes;
    for (int p = 0; p < presetPrograms; ++p) {
        char name[kNameSize];
        instrument.programName(p, name, sizeof name);
        presets << presetUri(p) << "\n    a pset:Preset ;\n    lv2:appliesTo <" << lv2adapter::kUri
                << "> ;\n    rdfs:label " << quoted(name) << " ;\n    lv2:port [ lv2:symbol \"program\" ; pset:value "
                << p << " ] .\n\n";
    }

    if (!write(folder + "/manifest.ttl", manifest.str()) || !write(folder + "/bytone.ttl", description.str()) ||
        !write(folder + "/presets.ttl", presets.str())) {
        std::fprintf(stderr, "cannot write the Turtle files into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
