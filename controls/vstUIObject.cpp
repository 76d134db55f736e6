#include "controls/vstUIObject.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "controls/host_conversions.h"
#include "dsp/control_record.h"

namespace {

// 0..1 with NaN at the bottom, so a broken host value can never leave the range.
float limitToUnit(float x) {
    if (x > 1.0f) return 1.0f;
    if (x < 0.0f || std::isnan(x)) return 0.0f;
    return x;
}

constexpr std::size_t kDisplayBufferSize = kDisplayTextLength + 1;

void switchText(float value, char* buffer) {
    std::snprintf(buffer, kDisplayBufferSize, "%s", value > 0.5f ? "ON" : "OFF");
}

float switchValue(double x) {
    return x > 0.5 ? 1.0f : 0.0f;
}

}  // namespace

int decimals(float step) {
    if (!std::isfinite(step)) return 0;
    int count = 0;
    while (step != std::floor(step) && count < 6) {
        step = step * 10.0f;
        ++count;
    }
    return count;
}

vstUIObject::vstUIObject(const char* label, float* target)
    : label(label ? label : ""), target(target) {}

void vstUIObject::copyName(char* buffer) const {
    std::memcpy(buffer, label.c_str(), label.size() + 1);
}

void vstUIObject::setNormalized(double x) {
    *target = limitToUnit(static_cast<float>(x));
}

void vstUIObject::setPlain(double x) {
    *target = limitToUnit(static_cast<float>(x));
}

float vstUIObject::getNormalized() const {
    return *target;
}

float vstUIObject::getPlain() const {
    return *target;
}

void vstUIObject::formatValue(char* buffer) const {
    std::snprintf(buffer, kDisplayBufferSize, "%f", static_cast<double>(*target));
}

int vstUIObject::labelSum() const {
    int sum = 0;
    for (char c : label) sum += static_cast<signed char>(c);
    return sum;
}

vstSlider::vstSlider(const char* label, float* target, float initial, float minimum, float maximum,
                     float step)
    : vstUIObject(label, target),
      initial(initial),
      minimum(minimum),
      maximum(maximum),
      step(step),
      decimals(::decimals(step)) {}

// Neither direction rounds to the step: the host may place the value anywhere in the range.
void vstSlider::setNormalized(double x) {
    *target = ControlRange{initial, minimum, maximum, step}.fromNormalised(x);
}

void vstSlider::setPlain(double x) {
    *target = heldToRange(static_cast<float>(x), minimum, maximum);
}

float vstSlider::getNormalized() const {
    float range = maximum - minimum;
    // A slider without a range has only one position; answering 0 keeps a NaN away from the host.
    if (range == 0.0f) return 0.0f;
    return (*target - minimum) / range;
}

void vstSlider::formatValue(char* buffer) const {
    if (decimals > 0) {
        std::snprintf(buffer, kDisplayBufferSize, "%.*f", decimals, static_cast<double>(*target));
    } else {
        std::snprintf(buffer, kDisplayBufferSize, "%d", truncateToInt32(*target));
    }
}

void vstButton::setNormalized(double x) {
    *target = switchValue(x);
}

void vstButton::formatValue(char* buffer) const {
    switchText(*target, buffer);
}

void vstCheckButton::setNormalized(double x) {
    *target = switchValue(x);
}

void vstCheckButton::formatValue(char* buffer) const {
    switchText(*target, buffer);
}
