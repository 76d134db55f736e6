#include "controls/vstUI.h"

#include <cstring>

namespace {

bool isLabel(const char* label, const char* role) {
    return label != nullptr && std::strcmp(label, role) == 0;
}

}  // namespace

vstUI::~vstUI() {
    // Control objects go first, then the property tables that describe them.
    fUITable.clear();
    controlProperties.clear();
}

// Only the "gate" role can be played by a button: a note turns it on and off.
void vstUI::addButtonControl(const char* label, float* value) {
    fUITable.push_back(std::make_unique<vstButton>(label, value));
    if (isLabel(label, "gate")) gateIndex = size() - 1;
}

void vstUI::addCheckButtonControl(const char* label, float* value) {
    fUITable.push_back(std::make_unique<vstCheckButton>(label, value));
}

void vstUI::addVerticalSliderControl(const char* label, float* value, float initial, float minimum,
                                     float maximum, float step) {
    addSlider(label, value, initial, minimum, maximum, step);
}

void vstUI::addHorizontalSliderControl(const char* label, float* value, float initial,
                                       float minimum, float maximum, float step) {
    addSlider(label, value, initial, minimum, maximum, step);
}

void vstUI::addNumberEntryControl(const char* label, float* value, float initial, float minimum,
                                  float maximum, float step) {
    addSlider(label, value, initial, minimum, maximum, step);
}

// A later slider with the same role label takes the role over.
void vstUI::addSlider(const char* label, float* value, float initial, float minimum, float maximum,
                      float step) {
    fUITable.push_back(std::make_unique<vstSlider>(label, value, initial, minimum, maximum, step));
    const int index = size() - 1;
    if (isLabel(label, "gain")) {
        gainIndex = index;
    } else if (isLabel(label, "gate")) {
        gateIndex = index;
    } else if (isLabel(label, "freq")) {
        freqIndex = index;
    } else if (isLabel(label, "prevfreq")) {
        prevfreqIndex = index;
    } else if (isLabel(label, "pitchbend")) {
        pitchbendIndex = index;
    }
}

void vstUI::declareProperty(float* value, const char* key, const char* text) {
    if (key == nullptr) return;
    controlProperties[value][key] = text ? text : "";
}

std::vector<float> vstUI::controlValues() const {
    std::vector<float> values;
    values.reserve(fUITable.size());
    for (const auto& control : fUITable) values.push_back(*control->target);
    return values;
}

void vstUI::restoreControlValues(const std::vector<float>& values) {
    for (std::size_t i = 0; i < values.size() && i < fUITable.size(); ++i) {
        *fUITable[i]->target = values[i];
    }
}

const char* vstUI::property(const float* value, const char* key) const {
    auto control = controlProperties.find(value);
    if (control == controlProperties.end()) return nullptr;
    auto entry = control->second.find(key);
    return entry == control->second.end() ? nullptr : entry->second;
}
