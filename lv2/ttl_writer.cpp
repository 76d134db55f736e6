// zelko-lv2-ttl: writes the LV2 bundle's manifest.ttl and plug-in description into a folder.
//
// It runs at build time. The ports are collected from the processor's own control declarations
// through the same receiver that the plug-in module uses, so names, ranges, defaults and meters
// are those of the built processor and its VST parameters, never a copy of them.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "dsp/mydsp.h"
#include "lv2/port_table.h"

namespace {

using lv2glue::ControlPort;
using lv2glue::PortCollector;
using lv2glue::PortKind;

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

const char* unitResource(const char* unit) {
    const std::string u = unit;
    if (u == "Hz") return "units:hz";
    if (u == "dB") return "units:db";
    return nullptr;
}

void writeAudioPort(std::ostream& out, std::uint32_t index, const char* direction,
                    const char* symbol, const char* name) {
    out << "        a lv2:AudioPort , lv2:" << direction << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(symbol) << " ;\n"
        << "        lv2:name " << quoted(name) << " ;\n";
}

void writeControlPort(std::ostream& out, std::uint32_t index, const ControlPort& port) {
    const bool meter = port.kind == PortKind::meter;
    out << "        a lv2:ControlPort , lv2:" << (meter ? "OutputPort" : "InputPort") << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(port.symbol) << " ;\n"
        << "        lv2:name " << quoted(port.name) << " ;\n";
    if (!meter) out << "        lv2:default " << number(port.initial) << " ;\n";
    out << "        lv2:minimum " << number(port.minimum) << " ;\n"
        << "        lv2:maximum " << number(port.maximum) << " ;\n";
    if (port.kind == PortKind::toggle) out << "        lv2:portProperty lv2:toggled ;\n";
    if (port.unit != nullptr) {
        if (const char* resource = unitResource(port.unit)) {
            out << "        units:unit " << resource << " ;\n";
        } else {
            out << "        units:unit [ a units:Unit ; units:symbol " << quoted(port.unit)
                << " ; rdfs:label " << quoted(port.unit) << " ] ;\n";
        }
    }
}

std::string pluginDescription(const PortCollector& ports) {
    std::ostringstream out;
    out << "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
        << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n"
        << "<" << lv2glue::kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:SpatialPlugin ;\n"
        << "    doap:name " << quoted(lv2glue::kPluginName) << " ;\n"
        << "    rdfs:comment \"Turns a mono signal into a stereo pair: a comb decorrelator and "
           "twelve bands that each level, gate and widen themselves.\" ;\n"
        << "    lv2:minorVersion 0 ;\n"
        << "    lv2:microVersion 0 ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
        << "    lv2:port [\n";
    writeAudioPort(out, lv2glue::kInputPort, "InputPort", "in", "In");
    out << "    ] , [\n";
    writeAudioPort(out, lv2glue::kLeftPort, "OutputPort", "out_left", "Left");
    out << "    ] , [\n";
    writeAudioPort(out, lv2glue::kRightPort, "OutputPort", "out_right", "Right");
    std::uint32_t index = lv2glue::kFirstControlPort;
    for (const ControlPort& port : ports.controls) {
        out << "    ] , [\n";
        writeControlPort(out, index++, port);
    }
    for (const ControlPort& port : ports.meters) {
        out << "    ] , [\n";
        writeControlPort(out, index++, port);
    }
    out << "    ] , [\n"
        << "        a lv2:ControlPort , lv2:OutputPort ;\n"
        << "        lv2:index " << ports.latencyPort() << " ;\n"
        << "        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum " << static_cast<long>(lv2glue::kChainLatency) << " ;\n"
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "        lv2:designation lv2:latency ;\n"
        << "        units:unit units:frame ;\n"
        << "    ] .\n";
    return out.str();
}

std::string manifest() {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
        << "<" << lv2glue::kPluginUri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << lv2glue::kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <zelko.ttl> .\n";
    return out.str();
}

// A description the module could not honour is refused here, at build time.
bool consistent(const PortCollector& ports) {
    bool ok = true;
    std::set<std::string> symbols = {"in", "out_left", "out_right", "latency"};
    for (const auto* list : {&ports.controls, &ports.meters}) {
        for (const ControlPort& port : *list) {
            if (!symbols.insert(port.symbol).second) {
                std::cerr << "zelko-lv2-ttl: two ports would share the symbol " << port.symbol
                          << "\n";
                ok = false;
            }
            if (!(port.minimum <= port.maximum) ||
                (port.kind != PortKind::meter &&
                 !(port.minimum <= port.initial && port.initial <= port.maximum))) {
                std::cerr << "zelko-lv2-ttl: the range or default of \"" << port.name
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
                     "Writes manifest.ttl and zelko.ttl of the LV2 bundle into BUNDLE_DIR.\n";
        return 2;
    }
    const auto processor = std::make_unique<mydsp>();
    PortCollector ports;
    processor->declareControls(&ports);
    if (!consistent(ports)) return 1;

    const std::string dir = argv[1];
    const bool ok = writeFile(dir + "/manifest.ttl", manifest()) &&
                    writeFile(dir + "/zelko.ttl", pluginDescription(ports));
    return ok ? 0 : 1;
}
