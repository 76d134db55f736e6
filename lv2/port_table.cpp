#include "lv2/port_table.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "dsp/control_declarations.h"

namespace lv2glue {

std::string symbolFromLabel(const std::string& label) {
    std::string symbol;
    bool separate = false;
    for (char c : label) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80) {
            if (separate && !symbol.empty()) symbol += '_';
            symbol += static_cast<char>(std::tolower(u));
            separate = false;
        } else {
            separate = true;
        }
    }
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0]))) {
        symbol.insert(symbol.begin(), '_');
    }
    return symbol;
}

void PortCollector::declareProperty(float* value, const char* key, const char* text) {
    if (key != nullptr && text != nullptr && std::strcmp(key, "unit") == 0) {
        unitZone = value;
        unitText = text;
    }
}

void PortCollector::add(std::vector<ControlPort>& list, PortKind kind, const char* label,
                        float* value, float initial, float minimum, float maximum) {
    ControlPort port{kind, label ? label : "", {}, value, initial, minimum, maximum, nullptr};
    // The processor's own rows give the symbol and unit; a control they do not know (another
    // processor's) gets a symbol made from its label and only a unit that it declares itself.
    const ControlDeclaration* declared = findControlDeclaration(port.name);
    port.symbol = declared != nullptr ? declared->symbol : symbolFromLabel(port.name);
    if (unitZone == value && unitText != nullptr) {
        port.unit = unitText;
    } else if (declared != nullptr && declared->unit != ControlUnit::none) {
        port.unit = unitSymbol(declared->unit);
    }
    unitZone = nullptr;
    unitText = nullptr;
    list.push_back(std::move(port));
}

// Both kinds of button are switches between 0 and 1 that start off, as the VST shell has them.
void PortCollector::addButtonControl(const char* label, float* value) {
    add(controls, PortKind::toggle, label, value, 0.0f, 0.0f, 1.0f);
}

void PortCollector::addCheckButtonControl(const char* label, float* value) {
    add(controls, PortKind::toggle, label, value, 0.0f, 0.0f, 1.0f);
}

void PortCollector::addVerticalSliderControl(const char* label, float* value, float initial,
                                             float minimum, float maximum, float) {
    add(controls, PortKind::slider, label, value, initial, minimum, maximum);
}

void PortCollector::addHorizontalSliderControl(const char* label, float* value, float initial,
                                               float minimum, float maximum, float) {
    add(controls, PortKind::slider, label, value, initial, minimum, maximum);
}

void PortCollector::addNumberEntryControl(const char* label, float* value, float initial,
                                          float minimum, float maximum, float) {
    add(controls, PortKind::slider, label, value, initial, minimum, maximum);
}

// A meter has no default of its own; it reads its minimum until the first block has run.
void PortCollector::addHorizontalMeter(const char* label, float* value, float minimum,
                                       float maximum) {
    add(meters, PortKind::meter, label, value, minimum, minimum, maximum);
}

void PortCollector::addVerticalMeter(const char* label, float* value, float minimum,
                                     float maximum) {
    add(meters, PortKind::meter, label, value, minimum, minimum, maximum);
}

}  // namespace lv2glue
