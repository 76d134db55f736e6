#include "tools/render/parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

#include "dsp/control_record.h"
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

// A parameter's value in units moves with the knob in one direction; `Scale` reads it in that
// direction, u from 0 at the lowest value to 1 at the highest, whichever end of the normalised
// range that is.
class Scale {
  public:
    Scale(Knob& knob, int direction) : knob_(knob), direction_(direction) {}

    double normalised(double u) const { return direction_ > 0 ? u : 1.0 - u; }
    std::optional<ShownNumber> shownAt(double u) { return knob_.shownAt(normalised(u)); }

    // The first u at which the display shows `threshold` or more; nullopt when the display
    // stops being a number on the way.
    std::optional<double> firstShowing(double threshold) {
        double below = 0.0;
        double notBelow = 1.0;
        for (int step = 0; step < kBisectionSteps; ++step) {
            const double middle = 0.5 * (below + notBelow);
            const auto shown = shownAt(middle);
            if (!shown) return std::nullopt;
            (shown->value >= threshold ? notBelow : below) = middle;
        }
        return notBelow;
    }

  private:
    Knob& knob_;
    int direction_;
};

// Where, within the stretch of values that shows a number S, the number lies: the stretch runs
// from S + lower * step to S + (lower + 1) * step. A display that rounds to nearest has lower
// = -0.5; one that truncates has 0 above zero and -1 below it, so that "0" covers two steps.
struct DisplayRounding {
    double belowZero = -0.5;
    double aboveZero = -0.5;

    double lowerEnd(double shown, double step) const {
        return shown + step * (shown > 0.0 ? aboveZero : belowZero);
    }
    double upperEnd(double shown, double step) const {
        return shown + step * ((shown < 0.0 ? belowZero : aboveZero) + 1.0);
    }
};

// The nearest of the three ways a display rounds (-1, -0.5 or 0, as above).
double nearestRounding(double lower) {
    if (lower < -0.75) return -1.0;
    if (lower > -0.25) return 0.0;
    return -0.5;
}

// Learns how the display rounds from the ends of the range, where the value is the number shown
// exactly: the stretch that shows the lowest number is a whole step wide when the display
// truncates upward from it, half a step when it rounds, and nothing when it truncates toward
// zero from below; the highest number's stretch mirrors that. Each is measured against its
// neighbour's width, so that a scale that is not linear in the knob barely matters.
DisplayRounding learnRounding(Scale& scale, const ShownNumber& low, const ShownNumber& high) {
    DisplayRounding rounding;
    const double step = 2.0 * low.halfStep;
    const auto lowEnd = scale.firstShowing(low.value + 0.5 * step);
    const auto lowNext = lowEnd ? scale.firstShowing(low.value + 1.5 * step) : std::nullopt;
    if (lowEnd && lowNext && *lowNext < 1.0 && *lowNext > *lowEnd) {
        rounding.belowZero = nearestRounding(*lowEnd / (*lowNext - *lowEnd) - 1.0);
    }
    const double highStep = 2.0 * high.halfStep;
    const auto highEnd = scale.firstShowing(high.value - 0.5 * highStep);
    const auto highPrevious =
        highEnd ? scale.firstShowing(high.value - 1.5 * highStep) : std::nullopt;
    if (highEnd && highPrevious && *highPrevious > 0.0 && *highEnd > *highPrevious) {
        rounding.aboveZero = nearestRounding(-(1.0 - *highEnd) / (*highEnd - *highPrevious));
    }
    // Ends on one side of zero say the same thing twice; the one measured is taken for both.
    if (low.value >= 0.0) rounding.belowZero = rounding.aboveZero;
    if (high.value <= 0.0) rounding.aboveZero = rounding.belowZero;
    return rounding;
}

// The normalised value at which the parameter has the value `target`: the stretch of the knob
// whose display shows what `target` shows is found by bisection, and `target` is placed within
// it in proportion, between the values at its two ends.
std::optional<double> searchDisplay(Knob& knob, double target, const ShownNumber& low,
                                    const ShownNumber& high, int direction) {
    Scale scale(knob, direction);
    const double step = 2.0 * std::min(low.halfStep, high.halfStep);
    const DisplayRounding rounding = learnRounding(scale, low, high);

    // The number the display shows for `target`; at a stretch's end, the nearer of the two.
    std::optional<double> shown;
    const double nearest = std::round(target / step);
    for (double k : {nearest - 1.0, nearest, nearest + 1.0}) {
        const double candidate = k * step;
        const double tolerance = 1e-9 * std::max(1.0, std::fabs(target));
        if (target < rounding.lowerEnd(candidate, step) - tolerance ||
            target > rounding.upperEnd(candidate, step) + tolerance) {
            continue;
        }
        if (!shown || std::fabs(candidate - target) < std::fabs(*shown - target)) {
            shown = candidate;
        }
    }
    if (!shown) return std::nullopt;
    const bool atLowEnd = std::fabs(*shown - low.value) < 0.5 * step;
    const bool atHighEnd = std::fabs(*shown - high.value) < 0.5 * step;
    const auto begin =
        atLowEnd ? std::optional<double>(0.0) : scale.firstShowing(*shown - 0.5 * step);
    const auto end =
        atHighEnd ? std::optional<double>(1.0) : scale.firstShowing(*shown + 0.5 * step);
    if (!begin || !end || *end < *begin) return std::nullopt;
    const double from = atLowEnd ? low.value : std::max(low.value, rounding.lowerEnd(*shown, step));
    const double to =
        atHighEnd ? high.value : std::min(high.value, rounding.upperEnd(*shown, step));
    double u = 0.5 * (*begin + *end);
    if (to > from)
        u = *begin + (*end - *begin) * std::clamp((target - from) / (to - from), 0.0, 1.0);
    // A display that does not follow the model lands elsewhere; the middle of the stretch is
    // then the best guess there is.
    if (!shows(scale.shownAt(u), *shown)) u = 0.5 * (*begin + *end);
    if (!shows(scale.shownAt(u), *shown)) return std::nullopt;
    return scale.normalised(u);
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

// The linear range a plug-in announces for a parameter in effGetParameterProperties, when the
// ends of its display agree with it (or the display shows no numbers and the flag says the
// range is meant): its normalised value then maps onto the range in a straight line.
std::optional<std::pair<double, double>> announcedRange(PluginInstance& plugin, int index,
                                                        const std::optional<ShownNumber>& low,
                                                        const std::optional<ShownNumber>& high) {
    VstParameterProperties properties;
    if (!plugin.parameterProperties(index, properties)) return std::nullopt;
    if (properties.maxInteger <= properties.minInteger) return std::nullopt;
    const double min = properties.minInteger;
    const double max = properties.maxInteger;
    if (low && high) {
        if (low->value == min && high->value == max) return std::pair{min, max};
        return std::nullopt;
    }
    if (properties.flags & kVstParameterUsesIntegerMinMax) return std::pair{min, max};
    return std::nullopt;
}

// Whether a parameter is a switch: it says so, or it shows no more than two texts.
bool isSwitch(PluginInstance& plugin, int index, Knob& knob) {
    VstParameterProperties properties;
    if (plugin.parameterProperties(index, properties) &&
        (properties.flags & kVstParameterIsSwitch)) {
        return true;
    }
    std::vector<std::string> texts;
    for (int point = 0; point < kScanPoints; ++point) {
        const std::string text =
            trim(knob.displayAt(static_cast<double>(point) / (kScanPoints - 1)));
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) texts.push_back(text);
        if (texts.size() > 2) return false;
    }
    return true;
}

struct UnitValue {
    float normalised;
    std::optional<double> value;  // in units, as set; none for a switch that shows words
};

UnitValue resolveUnits(PluginInstance& plugin, int index, const std::string& name, double target,
                       const std::string& typed) {
    Knob knob(plugin, index);
    const std::string lowText = knob.displayAt(0.0);
    const std::string highText = knob.displayAt(1.0);
    const auto low = parseShownNumber(lowText);
    const auto high = parseShownNumber(highText);
    const auto range = announcedRange(plugin, index, low, high);

    if (range) {
        const auto [min, max] = *range;
        if (target < min || target > max) {
            throw Failure(ExitStatus::kBadValue, "The value " + typed + " is out of range for " +
                                                     inQuotes(name) + " (" + describeValue(min) +
                                                     " to " + describeValue(max) + ").");
        }
        return {knob.keep((target - min) / (max - min)), target};
    }
    if (!low || !high) {
        // A switch that shows words takes 1 and 0 as on and off.
        if ((target == 0.0 || target == 1.0) && isSwitch(plugin, index, knob)) {
            return {knob.keep(target), std::nullopt};
        }
        throw Failure(ExitStatus::kBadValue,
                      "The parameter " + inQuotes(name) + " shows " + inQuotes(trim(lowText)) +
                          " to " + inQuotes(trim(highText)) +
                          " rather than numbers, so give it on/off, one of those texts, or a "
                          "normalised value such as 0.5n.");
    }

    const double min = std::min(low->value, high->value);
    const double max = std::max(low->value, high->value);
    const double tolerance = 1e-9 * std::max(1.0, std::max(std::fabs(min), std::fabs(max)));
    if (target < min - tolerance || target > max + tolerance) {
        throw Failure(ExitStatus::kBadValue, "The value " + typed + " is out of range for " +
                                                 inQuotes(name) + " (" + trim(lowText) + " to " +
                                                 trim(highText) + ").");
    }
    if (low->value == high->value) return {knob.keep(0.0), target};

    const int direction = high->value > low->value ? 1 : -1;
    const auto found = direction > 0 ? searchDisplay(knob, target, *low, *high, 1)
                                     : searchDisplay(knob, target, *high, *low, -1);
    if (!found) {
        throw Failure(ExitStatus::kBadValue,
                      "No setting of " + inQuotes(name) + " shows " + typed +
                          "; give it as a normalised value such as 0.5n instead.");
    }
    return {knob.keep(*found), target};
}

// A unit and a scaled form of it that a person may type instead: "8 kHz" for 8000 Hz.
struct ScaledUnit {
    const char* typed;
    const char* own;
    double factor;
};
constexpr ScaledUnit kScaledUnits[] = {
    {"khz", "hz", 1000.0}, {"hz", "khz", 0.001}, {"s", "ms", 1000.0}, {"ms", "s", 0.001}};

// The factor that turns a number in the unit `typed` into one in the parameter's unit `own`
// (1 for the unit itself, 1000 for kHz where Hz is meant); nothing when the unit does not fit.
// Decibels have no scaled form: "-0.05 kHz" is never -50 of anything.
std::optional<double> unitFactor(const std::string& typed, const std::string& own) {
    const std::string unit = lowercase(trim(typed));
    const std::string wanted = lowercase(trim(own));
    if (unit.empty() || unit == wanted) return 1.0;
    for (const auto& scaled : kScaledUnits) {
        if (unit == scaled.typed && wanted == scaled.own) return scaled.factor;
    }
    return std::nullopt;
}

}  // namespace

bool isOwnPlugin(PluginInstance& plugin) {
    if (plugin.parameterCount() != static_cast<int>(controlRecords.size())) return false;
    for (int index = 0; index < plugin.parameterCount(); ++index) {
        if (trim(plugin.parameterName(index)) !=
            controlRecords[static_cast<std::size_t>(index)].label)
            return false;
    }
    return true;
}

std::string parameterUnit(PluginInstance& plugin, int index) {
    if (isOwnPlugin(plugin))
        return unitSymbol(controlRecords[static_cast<std::size_t>(index)].unit);
    std::string label = trim(plugin.parameterLabel(index));
    if (!label.empty()) return label;
    // A plug-in without labels may print the unit in its display instead ("-6.0 dB").
    std::string unit;
    if (parseLeadingNumber(trim(plugin.parameterDisplay(index)), unit) && !unit.empty() &&
        std::all_of(unit.begin(), unit.end(),
                    [](unsigned char c) { return std::isalpha(c) || c == '%'; })) {
        return unit;
    }
    return "";
}

namespace {}  // namespace

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
    std::vector<std::string> names;
    for (int index = 0; index < count; ++index) names.push_back(trim(plugin.parameterName(index)));
    throw Failure(ExitStatus::kUnknownParameter,
                  "The plug-in has no parameter named " + inQuotes(key) +
                      "; --list-params shows the names it has." + didYouMean(key, names));
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

    // In the plug-in's units: a number, optionally followed by a unit.
    std::string unit;
    const auto number = parseLeadingNumber(value, unit);
    const std::string own = parameterUnit(plugin, index);
    if (number) {
        if (const auto factor = unitFactor(unit, own)) {
            const auto set = resolveUnits(plugin, index, name, *number * *factor, typed);
            return {index, name, set.normalised, set.value};
        }
    }

    // One of the texts the parameter shows.
    {
        Knob knob(plugin, index);
        if (const auto found = findShownText(knob, value)) {
            return {index, name, knob.keep(*found)};
        }
    }
    if (number) {
        std::ostringstream plain;
        plain << *number;
        throw Failure(ExitStatus::kBadValue,
                      own.empty() ? "The parameter " + inQuotes(name) +
                                        " takes a plain number, without a unit such as " +
                                        inQuotes(unit) + ": write " + inQuotes(plain.str()) + "."
                                  : "The parameter " + inQuotes(name) + " is in " + own + ", not " +
                                        unit + ": write " + inQuotes(plain.str() + " " + own) +
                                        " or " + inQuotes(plain.str()) + ".");
    }
    throw Failure(ExitStatus::kBadValue,
                  "The value " + typed + " for " + inQuotes(name) +
                      " is not a number in its units, a switch word, a text it shows, or a "
                      "normalised value such as 0.5n.");
}

void listParameters(PluginInstance& plugin, std::ostream& out,
                    const std::vector<ResolvedParameter>& set) {
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
        row.unit = parameterUnit(plugin, index);
        if (row.unit.empty()) row.unit = "-";
        const float normalised = plugin.parameter(index);
        std::optional<ShownNumber> low, high;
        {
            Knob knob(plugin, index);
            const std::string lowText = knob.displayAt(0.0);
            const std::string highText = knob.displayAt(1.0);
            row.range = trim(lowText) + " .. " + trim(highText);
            low = parseShownNumber(lowText);
            high = parseShownNumber(highText);
        }
        std::optional<double> value;
        for (const auto& parameter : set) {
            if (parameter.index == index && parameter.value) value = parameter.value;
        }
        if (const auto range = announcedRange(plugin, index, low, high); range && !value && low) {
            // As a linear slider computes it, in float.
            const auto min = static_cast<float>(range->first);
            const auto max = static_cast<float>(range->second);
            value = normalised * (max - min) + min;
        }
        if (value) {
            char text[32];
            std::snprintf(text, sizeof text, "%.6g", *value);
            row.value = text;
        }
        std::ostringstream normalisedText;
        normalisedText << std::fixed << std::setprecision(4) << normalised;
        row.normalised = normalisedText.str();
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
