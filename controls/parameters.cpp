#include "controls/parameters.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr char kIndexOut[] = "IndexOut";
constexpr std::size_t kUnitLabelLength = 8;

// Copies at most `length` characters of `source` and always terminates the copy.
void copyBounded(char* destination, const char* source, std::size_t length) {
    std::size_t n = 0;
    while (n < length && source[n] != '\0') {
        destination[n] = source[n];
        ++n;
    }
    destination[n] = '\0';
}

// Truncation toward zero, defined for every float: NaN reads as 0, the rest saturates.
std::int32_t truncateToInt32(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

ParameterMap::ParameterMap(vstUI& mainCollector, std::span<const std::unique_ptr<Voice>> voices)
    : mainCollector(mainCollector), voices(voices), parameterCount(mainCollector.size()) {}

void ParameterMap::setParameter(int index, float value) {
    if (!isValid(index)) return;
    const double x = value;
    mainCollector.fUITable[index]->setNormalized(x);
    for (const auto& voice : voices) {
        // Every voice declares the same controls; the check only keeps a processor that
        // declares fewer from being written out of its table.
        if (voice && voice->isValidIndex(index)) voice->fUITable[index]->setNormalized(x);
    }
}

float ParameterMap::getParameter(int index) const {
    if (!isValid(index)) return 0.0f;
    return mainCollector.fUITable[index]->getNormalized();
}

void ParameterMap::getParameterName(int index, char* text) const {
    if (text == nullptr) return;
    if (!isValid(index)) {
        std::memcpy(text, kIndexOut, sizeof kIndexOut);
        return;
    }
    mainCollector.fUITable[index]->copyName(text);
}

void ParameterMap::getParameterLabel(int index, char* text) const {
    if (text == nullptr) return;
    const char* unit = isValid(index)
                           ? mainCollector.property(mainCollector.fUITable[index]->target, "unit")
                           : nullptr;
    copyBounded(text, unit ? unit : "", kUnitLabelLength);
}

void ParameterMap::getParameterDisplay(int index, char* text) const {
    if (text == nullptr) return;
    if (!isValid(index)) {
        std::memcpy(text, kIndexOut, sizeof kIndexOut);
        return;
    }
    mainCollector.fUITable[index]->formatValue(text);
}

std::optional<ParameterDescription> ParameterMap::describe(int index) const {
    if (!isValid(index)) return std::nullopt;
    const vstUIObject& control = *mainCollector.fUITable[index];
    ParameterDescription description;
    description.label = control.label.c_str();
    description.isSwitch = index == mainCollector.gateIndex;
    if (const auto* slider = dynamic_cast<const vstSlider*>(&control)) {
        description.hasIntegerRange = true;
        description.minInteger = truncateToInt32(slider->minimum);
        description.maxInteger = truncateToInt32(slider->maximum);
        description.stepInteger = truncateToInt32(slider->step);
    }
    return description;
}
