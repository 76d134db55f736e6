// zelko-lv2-ttl: writes the LV2 bundle's manifest.ttl and plug-in description into a folder.
//
// It runs at build time. The ports come from the control record and the port table that the
// plug-in module uses, so names, ranges, defaults and meters are those of the built processor and
// its VST parameters, never a copy of them.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "lv2/port_table.h"

namespace {

// A Turtle numeric literal that reads back as the same float: a decimal with a point, or a
// double with an exponent.
std::string number(float value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string literal = text;
    if (literal.find_first_of(".e") == std::string::npos) literal += ".0";
    return literal;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

const char* unitResource(ControlUnit unit) {
    switch (unit) {
        case ControlUnit::hertz:
            return "units:hz";
        case ControlUnit::decibel:
            return "units:db";
        case ControlUnit::none:
            break;
    }
    return nullptr;
}

void writeAudioPort(std::ostream& out, std::uint32_t index, const char* direction,
                    const char* symbol, const char* name) {
    out << "        a lv2:AudioPort , lv2:" << direction << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(symbol) << " ;\n"
        << "        lv2:name " << quoted(name) << " ;\n";
}

// A control input declares its range; a meter the range its values actually reach, so that hosts
// show them unclamped.
void writeControlPort(std::ostream& out, std::uint32_t index, const ControlRecord& record) {
    const bool meter = record.kind == ControlKind::meter;
    const ControlRange& range = record.reach;
    out << "        a lv2:ControlPort , lv2:" << (meter ? "OutputPort" : "InputPort") << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(record.symbol) << " ;\n"
        << "        lv2:name " << quoted(record.name) << " ;\n";
    if (!meter) out << "        lv2:default " << number(range.initial) << " ;\n";
    out << "        lv2:minimum " << number(range.minimum) << " ;\n"
        << "        lv2:maximum " << number(range.maximum) << " ;\n";
    if (record.isSwitch()) out << "        lv2:portProperty lv2:toggled ;\n";
    if (const char* resource = unitResource(record.unit)) {
        out << "        units:unit " << resource << " ;\n";
    }
}

// The goniometer points for the editor, as atoms: optional, so that hosts that take only audio
// and control ports (lv2apply, GStreamer) still load the plug-in and leave it unconnected.
void writeGoniometerPort(std::ostream& out, std::uint32_t index) {
    out << "        a atom:AtomPort , lv2:OutputPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports atom:Vector ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"goniometer\" ;\n"
        << "        lv2:name \"Goniometer\" ;\n"
        << "        lv2:portProperty lv2:connectionOptional ;\n"
        << "        rsz:minimumSize " << lv2glue::kGoniometerBufferBytes << " ;\n";
}

// The pieces both plug-ins share: the controls, the meters, the latency, the host's bypass, then
// the output's levels and correlation and the goniometer.
void writeControlPorts(std::ostream& out, const lv2glue::PortLayout& ports) {
    std::uint32_t index = ports.firstControl();
    for (const ControlRecord& record : controlRecords) {
        out << "    ] , [\n";
        writeControlPort(out, index++, record);
    }
    for (const ControlRecord& record : meterRecords) {
        out << "    ] , [\n";
        writeControlPort(out, index++, record);
    }
    out << "    ] , [\n"
        << "        a lv2:ControlPort , lv2:OutputPort ;\n"
        << "        lv2:index " << ports.latency() << " ;\n"
        << "        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum " << static_cast<long>(lv2glue::kChainLatency) << " ;\n"
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "        lv2:designation lv2:latency ;\n"
        << "        units:unit units:frame ;\n"
        << "    ] , [\n"
        << "        a lv2:ControlPort , lv2:InputPort ;\n"
        << "        lv2:index " << ports.enabled() << " ;\n"
        << "        lv2:symbol \"enabled\" ;\n"
        << "        lv2:name \"Enabled\" ;\n"
        << "        lv2:default 1 ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum 1 ;\n"
        << "        lv2:portProperty lv2:toggled ;\n"
        << "        lv2:designation lv2:enabled ;\n";
    index = ports.firstReading();
    for (const ControlRecord& record : outputReadingRecords) {
        out << "    ] , [\n";
        writeControlPort(out, index++, record);
    }
    out << "    ] , [\n";
    writeGoniometerPort(out, ports.goniometer());
    out << "    ] .\n";
}

// The prefixes both descriptions use.
constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n";

constexpr const char* kComment =
    "Turns a mono signal into a stereo pair: a comb decorrelator and twelve bands that each "
    "level, gate and widen themselves.";

std::string pluginDescription() {
    std::ostringstream out;
    out << kPrefixes << "\n"
        << "<" << lv2glue::kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:SpatialPlugin ;\n"
        << "    doap:name " << quoted(lv2glue::kPluginName) << " ;\n"
        << "    rdfs:comment " << quoted(kComment) << " ;\n"
        << "    lv2:minorVersion 0 ;\n"
        << "    lv2:microVersion 0 ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "    lv2:port [\n";
    writeAudioPort(out, lv2glue::kInputPort, "InputPort", "in", "In");
    out << "    ] , [\n";
    writeAudioPort(out, lv2glue::kLeftPort, "OutputPort", "out_left", "Left");
    out << "    ] , [\n";
    writeAudioPort(out, lv2glue::kRightPort, "OutputPort", "out_right", "Right");
    writeControlPorts(out, lv2glue::kMonoPorts);
    return out.str();
}

// An audio port of the stereo plug-in: a channel of its input or output group.
void writeGroupedPort(std::ostream& out, std::uint32_t index, const char* direction,
                      const char* symbol, const char* name, const char* group,
                      const char* channel) {
    writeAudioPort(out, index, direction, symbol, name);
    out << "        pg:group <" << lv2glue::kStereoPluginUri << "#" << group << "> ;\n"
        << "        lv2:designation pg:" << channel << " ;\n";
}

std::string stereoPluginDescription() {
    const std::string uri = lv2glue::kStereoPluginUri;
    std::ostringstream out;
    out << kPrefixes << "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n\n"
        << "<" << uri << "#input>\n"
        << "    a pg:StereoGroup , pg:InputGroup ;\n"
        << "    lv2:symbol \"input\" ;\n"
        << "    lv2:name \"Input\" .\n\n"
        << "<" << uri << "#output>\n"
        << "    a pg:StereoGroup , pg:OutputGroup ;\n"
        << "    lv2:symbol \"output\" ;\n"
        << "    lv2:name \"Output\" .\n\n"
        << "<" << uri << ">\n"
        << "    a lv2:Plugin , lv2:SpatialPlugin ;\n"
        << "    doap:name " << quoted(lv2glue::kStereoPluginName) << " ;\n"
        << "    rdfs:comment "
        << quoted(std::string(kComment) +
                  " This is the stereo-input form, for hosts that give an effect as many inputs "
                  "as outputs: it reads the left input channel only, as the VST 2.4 effect reads "
                  "its first input, and leaves the right one unread.")
        << " ;\n"
        << "    lv2:minorVersion 0 ;\n"
        << "    lv2:microVersion 0 ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "    pg:mainInput <" << uri << "#input> ;\n"
        << "    pg:mainOutput <" << uri << "#output> ;\n"
        << "    lv2:port [\n";
    writeGroupedPort(out, 0, "InputPort", "in_left", "Left In", "input", "left");
    out << "    ] , [\n";
    writeGroupedPort(out, 1, "InputPort", "in_right", "Right In", "input", "right");
    out << "    ] , [\n";
    writeGroupedPort(out, lv2glue::kStereoPorts.left(), "OutputPort", "out_left", "Left", "output",
                     "left");
    out << "    ] , [\n";
    writeGroupedPort(out, lv2glue::kStereoPorts.right(), "OutputPort", "out_right", "Right",
                     "output", "right");
    writeControlPorts(out, lv2glue::kStereoPorts);
    return out.str();
}

std::string manifest() {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
        << "<" << lv2glue::kPluginUri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << lv2glue::kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <zelko.ttl> .\n\n"
        << "<" << lv2glue::kStereoPluginUri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << lv2glue::kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <zelko-stereo.ttl> .\n";
    return out.str();
}

// The editor's entry of the manifest: an X11 UI in a binary of its own, run by the host's idle
// calls, told of every meter, the latency and enabled ports and the output's readings as floats,
// and of the goniometer's events as atoms.
std::string uiManifest() {
    std::ostringstream out;
    const std::string plugin = std::string("<") + lv2glue::kPluginUri + ">";
    out << "\n@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
        << "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n\n"
        << plugin << " ui:ui <" << lv2glue::kUiUri << "> .\n\n"
        << "<" << lv2glue::kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    ui:binary <" << lv2glue::kUiBinaryName << "> ;\n"
        << "    lv2:requiredFeature ui:idleInterface , ui:parent ;\n"
        << "    lv2:optionalFeature ui:resize ;\n"
        << "    lv2:extensionData ui:idleInterface , ui:resize";
    std::vector<const char*> notified;
    for (const ControlRecord& record : meterRecords) notified.push_back(record.symbol);
    notified.push_back("latency");
    notified.push_back("enabled");
    for (const ControlRecord& record : outputReadingRecords) notified.push_back(record.symbol);
    for (const char* symbol : notified) {
        out << " ;\n    ui:portNotification [ ui:plugin " << plugin << " ; lv2:symbol "
            << quoted(symbol) << " ; ui:protocol ui:floatProtocol ]";
    }
    out << " ;\n    ui:portNotification [ ui:plugin " << plugin
        << " ; lv2:symbol \"goniometer\" ; ui:protocol atom:eventTransfer ]";
    out << " .\n";
    return out.str();
}

// A description the module could not honour is refused here, at build time.
bool consistent() {
    bool ok = true;
    std::set<std::string> symbols = {"in",        "in_left", "in_right", "out_left",
                                     "out_right", "latency", "enabled",  "goniometer"};
    for (const std::span<const ControlRecord> list :
         {std::span<const ControlRecord>(controlRecords),
          std::span<const ControlRecord>(meterRecords),
          std::span<const ControlRecord>(outputReadingRecords)}) {
        for (const ControlRecord& record : list) {
            if (!symbols.insert(record.symbol).second) {
                std::cerr << "zelko-lv2-ttl: two ports would share the symbol " << record.symbol
                          << "\n";
                ok = false;
            }
            const ControlRange& range = record.reach;
            if (!(range.minimum < range.maximum) ||
                !(range.minimum <= range.initial && range.initial <= range.maximum)) {
                std::cerr << "zelko-lv2-ttl: the range or default of \"" << record.name
                          << "\" is not ordered\n";
                ok = false;
            }
        }
    }
    return ok;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) std::cerr << "zelko-lv2-ttl: cannot write " << path << "\n";
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zelko-lv2-ttl BUNDLE_DIR\n"
                     "Writes manifest.ttl, zelko.ttl and zelko-stereo.ttl of the LV2 bundle into "
                     "BUNDLE_DIR.\n";
        return 2;
    }
    if (!consistent()) return 1;

    const std::string dir = argv[1];
    const bool ok = writeFile(dir + "/manifest.ttl", manifest() + uiManifest()) &&
                    writeFile(dir + "/zelko.ttl", pluginDescription()) &&
                    writeFile(dir + "/zelko-stereo.ttl", stereoPluginDescription());
    return ok ? 0 : 1;
}
