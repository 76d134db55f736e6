#include "controls/parameters.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "controls/host_conversions.h"

namespace {

constexpr char kIndexOut[] = "IndexOut";
constexpr std::size_t kUnitLabelLength = 8;

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
