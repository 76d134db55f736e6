#include "dsp/control_record.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

// The quotient in double precision is within a few double ulps of the exact one, so its mapping
// lands on the value; where that quotient happens to be a float, the single-precision mapping
// applies, and the floats beside it are tried for the nearest.
double ControlRecord::normalisedFor(float value) const {
    if (isSwitch()) return value > 0.5f ? 1.0 : 0.0;
    const float target = reach.held(value);
    const double span = static_cast<double>(reach.maximum) - static_cast<double>(reach.minimum);
    const double exact = (static_cast<double>(target) - static_cast<double>(reach.minimum)) / span;
    if (fromNormalised(exact) == target) return exact;
    float best = static_cast<float>(exact);
    float bestDistance = std::fabs(fromNormalised(best) - target);
    for (const float direction : {1.0f, 0.0f}) {
        float candidate = best;
        for (int tries = 0; tries < 8 && bestDistance != 0.0f; ++tries) {
            candidate = std::nextafter(candidate, direction);
            const float distance = std::fabs(fromNormalised(candidate) - target);
            if (distance < bestDistance) {
                best = candidate;
                bestDistance = distance;
            }
        }
    }
    return static_cast<double>(best);
}

std::size_t ControlRecord::format(float value, char* text) const {
    if (isSwitch()) {
        return static_cast<std::size_t>(
            std::snprintf(text, controlTextCapacity, "%s", value > 0.5f ? "On" : "Off"));
    }
    // Rounded once here, so that the text never shows "-0" and what is shown is what is parsed.
    const double scale = std::pow(10.0, decimals);
    double shown = std::nearbyint(static_cast<double>(reach.held(value)) * scale) / scale;
    shown += 0.0;  // -0 becomes 0
    const char* symbol = unitSymbol(unit);
    const int length = std::snprintf(text, controlTextCapacity,
                                     *symbol != '\0' ? "%.*f %s" : "%.*f", decimals, shown, symbol);
    return static_cast<std::size_t>(length);
}

std::optional<float> ControlRecord::parse(std::string_view text) const {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    if (isSwitch()) {
        if (sameIgnoringCase(text, "on")) return 1.0f;
        if (sameIgnoringCase(text, "off")) return 0.0f;
    }
    if (text.front() == '+') text.remove_prefix(1);
    double number = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || !std::isfinite(number)) return std::nullopt;
    const std::string_view rest = trimmed(text.substr(static_cast<std::size_t>(end - text.data())));
    if (!rest.empty() && (unit == ControlUnit::none || !sameIgnoringCase(rest, unitSymbol(unit)))) {
        return std::nullopt;
    }
    if (std::fabs(number) > 3.0e38) return std::nullopt;
    return static_cast<float>(number);
}
