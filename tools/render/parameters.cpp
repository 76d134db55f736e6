#include "tools/render/parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

#include "tools/render/failure.h"
#include "tools/render/plugin_module.h"

namespace render {

namespace {

// Bisection steps over the normalised range; 40 halvings reach below a float's resolution.
constexpr int kBisectionSteps = 40;
// Points at which a parameter's displays are read when a value is given as one of its texts.
constexpr int kScanPoints = 101;

std::string trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A number followed by nothing but `rest`.
std::optional<double> parseLeadingNumber(const std::string& text, std::string& rest) {
    if (text.empty()) return std::nullopt;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value)) return std::nullopt;
    rest = trim(end);
    return value;
}

std::optional<double> parseWholeNumber(const std::string& text) {
    std::string rest;
    const auto value = parseLeadingNumber(trim(text), rest);
    if (!value || !rest.empty()) return std::nullopt;
    return value;
}

// A parameter probed through its display, always left where it was found unless `keep` says
// otherwise.
class Knob {
  public:
    Knob(PluginInstance& plugin, int index)
        : plugin_(plugin), index_(index), original_(plugin.parameter(index)) {}
    ~Knob() {
        if (!kept_) plugin_.setParameter(index_, original_);
    }

    std::string displayAt(double normalised) {
        plugin_.setParameter(index_, static_cast<float>(normalised));
        return plugin_.parameterDisplay(index_);
    }
    std::optional<ShownNumber> shownAt(double normalised) {
        return parseShownNumber(displayAt(normalised));
    }
    float keep(double normalised) {
        const auto value = static_cast<float>(normalised);
        plugin_.setParameter(index_, value);
        kept_ = true;
        return value;
    }

  private:
    PluginInstance& plugin_;
    int index_;
    float original_;
    bool kept_ = false;
};

bool shows(const std::optional<ShownNumber>& shown, double target) {
    return shown && std::fabs(shown->value - target) <= shown->halfStep;
}

std::string describeValue(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Where the display shows `target` on a parameter whose display rises (direction +1) or falls
// (-1) over the normalised range. Returns the middle of the stretch that shows it, or the point
// where the display steps past it when no stretch shows it exactly.
std::optional<double> searchDisplay(Knob& knob, double target, int direction) {
    // Signed distance of the display from the target, 0 when it shows it; nullopt when the
    // display stops being a number somewhere inside the range.
    auto side = [&](double x) -> std::optional<int> {
        const auto shown = knob.shownAt(x);
        if (!shown) return std::nullopt;
        if (shows(shown, target)) return 0;
        return direction * (shown->value - target) < 0 ? -1 : 1;
    };

    // First point that is not below the target.
    double below = 0.0;
    double notBelow = 1.0;
    const auto atZero = side(0.0);
    if (!atZero) return std::nullopt;
    if (*atZero >= 0) {
        notBelow = 0.0;
    } else {
        for (int step = 0; step < kBisectionSteps; ++step) {
            const double mid = 0.5 * (below + notBelow);
            const auto s = side(mid);
            if (!s) return std::nullopt;
            (*s < 0 ? below : notBelow) = mid;
        }
    }
    // Last point that is not above the target.
    double notAbove = 0.0;
    double above = 1.0;
    const auto atOne = side(1.0);
    if (!atOne) return std::nullopt;
    if (*atOne <= 0) {
        notAbove = 1.0;
    } else {
        for (int step = 0; step < kBisectionSteps; ++step) {
            const double mid = 0.5 * (notAbove + above);
            const auto s = side(mid);
            if (!s) return std::nullopt;
            (*s > 0 ? above : notAbove) = mid;
        }
    }

    const auto first = side(notBelow);
    if (first && *first == 0) {
        const double middle = 0.5 * (notBelow + std::max(notBelow, notAbove));
        const auto atMiddle = side(middle);
        return atMiddle && *atMiddle == 0 ? middle : notBelow;
    }
    return first ? std::optional<double>(notBelow) : std::nullopt;
}

// The normalised value at which the parameter shows one of its texts, matched ignoring case.
std::optional<double> findShownText(Knob& knob, const std::string& text) {
    const std::string wanted = lowercase(trim(text));
    int runStart = -1;
    int runEnd = -1;
    for (int point = 0; point < kScanPoints; ++point) {
        const double x = static_cast<double>(point) / (kScanPoints - 1);
        if (lowercase(trim(knob.displayAt(x))) == wanted) {
            if (runStart < 0) runStart = point;
            runEnd = point;
        } else if (runStart >= 0) {
            break;
        }
    }
    if (runStart < 0) return std::nullopt;
    return 0.5 * (runStart + runEnd) / (kScanPoints - 1);
}

float resolveUnits(PluginInstance& plugin, int index, const std::string& name, double target,
                   const std::string& typed) {
    Knob knob(plugin, index);
    const std::string lowText = knob.displayAt(0.0);
    const std::string highText = knob.displayAt(1.0);
    const auto low = parseShownNumber(lowText);
    const auto high = parseShownNumber(highText);

    VstParameterProperties properties;
    const bool hasProperties = plugin.parameterProperties(index, properties);
    const bool hasIntegerRange = hasProperties && properties.maxInteger > properties.minInteger;

    if (!low || !high) {
        // Without numbers on the display only an announced integer range can map the units.
        if (hasIntegerRange && (properties.flags & kVstParameterUsesIntegerMinMax)) {
            const double min = properties.minInteger;
            const double max = properties.maxInteger;
            if (target < min || target > max) {
                throw Failure(ExitStatus::kBadValue,
                              "The value " + typed + " is out of range for " + inQuotes(name) +
                                  " (" + describeValue(min) + " to " + describeValue(max) + ").");
            }
            return knob.keep((target - min) / (max - min));
        }
        throw Failure(ExitStatus::kBadValue,
                      "The parameter " + inQuotes(name) + " shows " + inQuotes(trim(lowText)) +
                          " to " + inQuotes(trim(highText)) +
                          " rather than numbers, so give it on/off, one of those texts, or a "
                          "normalised value such as 0.5n.");
    }

    const double min = std::min(low->value, high->value);
    const double max = std::max(low->value, high->value);
    const double slack = std::max(low->halfStep, high->halfStep);
    if (target < min - slack || target > max + slack) {
        throw Failure(ExitStatus::kBadValue, "The value " + typed + " is out of range for " +
                                                 inQuotes(name) + " (" + trim(lowText) + " to " +
                                                 trim(highText) + ").");
    }
    if (low->value == high->value) return knob.keep(0.0);

    // A plug-in that announces an integer range matching its display ends is taken to be linear
    // over it, which gives the exact value rather than the middle of a display step.
    if (hasIntegerRange && properties.minInteger == low->value &&
        properties.maxInteger == high->value) {
        const double linear = (target - low->value) / (high->value - low->value);
        const auto shown = knob.shownAt(linear);
        if (shows(shown, target)) return knob.keep(linear);
    }

    const int direction = high->value > low->value ? 1 : -1;
    const auto found = searchDisplay(knob, target, direction);
    if (!found) {
        throw Failure(ExitStatus::kBadValue,
                      "No setting of " + inQuotes(name) + " shows " + typed +
                          "; give it as a normalised value such as 0.5n instead.");
    }
    return knob.keep(*found);
}

}  // namespace

ParameterAssignment parseAssignment(const std::string& text) {
    const auto equals = text.find_last_of('=');
    if (equals == std::string::npos) {
        throw Failure(ExitStatus::kUsage, "The parameter setting " + inQuotes(text) +
                                              " has no '='; write it as NAME=VALUE.");
    }
    ParameterAssignment assignment{trim(std::string_view(text).substr(0, equals)),
                                   trim(std::string_view(text).substr(equals + 1))};
    if (assignment.key.empty()) {
        throw Failure(ExitStatus::kUsage, "The parameter setting " + inQuotes(text) +
                                              " names no parameter before its '='.");
    }
    return assignment;
}

std::optional<ShownNumber> parseShownNumber(std::string_view text) {
    const std::string trimmed = trim(text);
    std::string rest;
    const auto value = parseLeadingNumber(trimmed, rest);
    if (!value) return std::nullopt;
    // The digits printed after the point say how finely the display resolves the value.
    const std::size_t numberLength = trimmed.size() - rest.size();
    const std::string number = trimmed.substr(0, numberLength);
    if (number.find_first_of("eE") != std::string::npos) {
        return ShownNumber{*value, std::fabs(*value) * 5e-7};
    }
    const auto point = number.find('.');
    int decimals = 0;
    if (point != std::string::npos) {
        for (std::size_t i = point + 1; i < number.size(); ++i) {
            if (std::isdigit(static_cast<unsigned char>(number[i]))) ++decimals;
        }
    }
    return ShownNumber{*value, 0.5 * std::pow(10.0, -decimals)};
}

int findParameter(PluginInstance& plugin, const std::string& key) {
    const int count = plugin.parameterCount();
    for (int index = 0; index < count; ++index) {
        if (trim(plugin.parameterName(index)) == key) return index;
    }
    if (!key.empty() &&
        std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); })) {
        const long index = key.size() > 9 ? -1 : std::strtol(key.c_str(), nullptr, 10);
        if (index >= 0 && index < count) return static_cast<int>(index);
        throw Failure(ExitStatus::kUnknownParameter,
                      "The plug-in has no parameter " + key + "; its " + std::to_string(count) +
                          " parameters are numbered from 0 to " + std::to_string(count - 1) + ".");
    }
    const std::string wanted = lowercase(key);
    for (int index = 0; index < count; ++index) {
        if (lowercase(trim(plugin.parameterName(index))) == wanted) return index;
    }
    throw Failure(ExitStatus::kUnknownParameter, "The plug-in has no parameter named " +
                                                     inQuotes(key) +
                                                     "; --list-params shows the names it has.");
}

ResolvedParameter resolveParameter(PluginInstance& plugin, const ParameterAssignment& assignment) {
    const int index = findParameter(plugin, assignment.key);
    const std::string name = trim(plugin.parameterName(index));
    const std::string& value = assignment.value;
    const std::string typed = inQuotes(value);
    if (value.empty()) {
        throw Failure(ExitStatus::kBadValue, "No value is given for " + inQuotes(name) + ".");
    }

    // Normalised: a number with an n suffix.
    if (value.size() > 1 && (value.back() == 'n' || value.back() == 'N')) {
        if (const auto normalised = parseWholeNumber(value.substr(0, value.size() - 1))) {
            if (*normalised < 0.0 || *normalised > 1.0) {
                throw Failure(ExitStatus::kBadValue, "The normalised value " + typed + " for " +
                                                         inQuotes(name) + " is outside 0 to 1.");
            }
            plugin.setParameter(index, static_cast<float>(*normalised));
            return {index, name, static_cast<float>(*normalised)};
        }
    }

    const std::string word = lowercase(value);
    if (word == "on" || word == "true" || word == "yes") {
        plugin.setParameter(index, 1.0f);
        return {index, name, 1.0f};
    }
    if (word == "off" || word == "false" || word == "no") {
        plugin.setParameter(index, 0.0f);
        return {index, name, 0.0f};
    }

    // In the plug-in's units: a number, optionally followed by the parameter's unit label.
    std::string unit;
    if (const auto number = parseLeadingNumber(value, unit)) {
        const std::string label = lowercase(trim(plugin.parameterLabel(index)));
        if (unit.empty() || lowercase(unit) == label) {
            return {index, name, resolveUnits(plugin, index, name, *number, typed)};
        }
    }

    // One of the texts the parameter shows.
    {
        Knob knob(plugin, index);
        if (const auto found = findShownText(knob, value)) {
            return {index, name, knob.keep(*found)};
        }
    }
    throw Failure(ExitStatus::kBadValue,
                  "The value " + typed + " for " + inQuotes(name) +
                      " is not a number in its units, a switch word, a text it shows, or a "
                      "normalised value such as 0.5n.");
}

void listParameters(PluginInstance& plugin, std::ostream& out) {
    struct Row {
        std::string index, name, value, unit, range, normalised;
    };
    std::vector<Row> rows;
    rows.push_back({"index", "name", "value", "unit", "range", "normalised"});
    const int count = plugin.parameterCount();
    for (int index = 0; index < count; ++index) {
        Row row;
        row.index = std::to_string(index);
        row.name = trim(plugin.parameterName(index));
        row.value = trim(plugin.parameterDisplay(index));
        row.unit = trim(plugin.parameterLabel(index));
        const float normalised = plugin.parameter(index);
        {
            Knob knob(plugin, index);
            row.range = trim(knob.displayAt(0.0)) + " .. " + trim(knob.displayAt(1.0));
        }
        std::ostringstream value;
        value << std::fixed << std::setprecision(4) << normalised;
        row.normalised = value.str();
        rows.push_back(row);
    }

    std::size_t widths[5] = {};
    for (const auto& row : rows) {
        const std::string* cells[5] = {&row.index, &row.name, &row.value, &row.unit, &row.range};
        for (int column = 0; column < 5; ++column) {
            widths[column] = std::max(widths[column], cells[column]->size());
        }
    }
    for (const auto& row : rows) {
        const std::string* cells[5] = {&row.index, &row.name, &row.value, &row.unit, &row.range};
        out << std::right << std::setw(static_cast<int>(widths[0])) << *cells[0];
        for (int column = 1; column < 5; ++column) {
            out << "  " << std::left << std::setw(static_cast<int>(widths[column]))
                << *cells[column];
        }
        out << "  " << row.normalised << '\n';
    }
}

}  // namespace render
