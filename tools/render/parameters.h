// Parameters on the command line: "NAME=VALUE" or "INDEX=VALUE", where VALUE is given in the
// plug-in's own units ("15000", "-6 dB"), as a switch word ("on", "off"), as one of the texts the
// plug-in shows ("Left"), or as a normalised value with an n suffix ("0.4n").
//
// VST 2.4 tells a host how a parameter looks, not how its units map to the normalised value, so
// a value in units is found the way a person with a knob would find it: by turning the knob until
// the plug-in's own display shows the number asked for.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace render {

class PluginInstance;

struct ParameterAssignment {
    std::string key;    // a parameter name, or an index
    std::string value;  // as typed
};

// Splits "KEY=VALUE" at its last '='; fails with ExitStatus::kUsage.
ParameterAssignment parseAssignment(const std::string& text);

struct ResolvedParameter {
    int index;
    std::string name;
    float normalised;
    std::optional<double> value = std::nullopt;  // in the plug-in's units, when given in them
};

// Finds the parameter and the normalised value that gives it the asked value, and leaves the
// parameter at that value. Fails with ExitStatus::kUnknownParameter or kBadValue, leaving the
// parameter as it was.
ResolvedParameter resolveParameter(PluginInstance& plugin, const ParameterAssignment& assignment);

// The index of the parameter a key names: an exact name, an index, or a name that matches
// ignoring case. Fails with ExitStatus::kUnknownParameter.
int findParameter(PluginInstance& plugin, const std::string& key);

// Whether the plug-in is this project's own: every parameter has the name, in the place, that
// its processor declares. Its units are then the declared ones, whatever labels it reports.
bool isOwnPlugin(PluginInstance& plugin);

// The unit a parameter's values are in: for this project's own plug-in the one its processor
// declares for the control; for another plug-in the label it reports, or failing that the unit
// its display prints after the number; "" for none.
std::string parameterUnit(PluginInstance& plugin, int index);

// A number shown by a plug-in and the half step its printed digits leave open: "-6.0 dB" is
// -6 give or take 0.05.
struct ShownNumber {
    double value;
    double halfStep;
};
std::optional<ShownNumber> parseShownNumber(std::string_view text);

// Prints one line per parameter: index, name, value, unit label, the displays at the two ends of
// its range, and the normalised value. The value is the one set in units where `set` holds it,
// or read off the linear range the plug-in announces, with the digits a fraction needs; else
// what the plug-in's display shows.
void listParameters(PluginInstance& plugin, std::ostream& out,
                    const std::vector<ResolvedParameter>& set = {});

}  // namespace render
