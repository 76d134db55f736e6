// The host's parameter requests answered from the control tables: the parameter number is the
// index into the main collector's table; writes go to the main table and to the same entry of
// every voice, reads come from the main table only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "controls/Voice.h"
#include "controls/vstUI.h"

// What a plug-in format needs to know of one parameter beyond its value and texts. The label
// is the control's own text and lives as long as the control table.
struct ParameterDescription {
    const char* label = "";
    bool isSwitch = false;  // the control that holds the gate role
    // A slider's range and step truncated toward zero; absent for buttons and meters.
    bool hasIntegerRange = false;
    std::int32_t minInteger = 0;
    std::int32_t maxInteger = 0;
    std::int32_t stepInteger = 0;
};

class ParameterMap {
  public:
    // `count` is fixed when the plug-in is built: the size of the main table at that moment.
    ParameterMap(vstUI& mainCollector, std::span<const std::unique_ptr<Voice>> voices);

    int count() const { return parameterCount; }
    bool isValid(int index) const { return index >= 0 && index < parameterCount; }

    void setParameter(int index, float value);
    float getParameter(int index) const;
    // Texts: the name is written whole; the unit label is cut to 8 characters; the display to
    // kDisplayTextLength. An invalid index gives "IndexOut" (name, display) or "" (label).
    void getParameterName(int index, char* text) const;
    void getParameterLabel(int index, char* text) const;
    void getParameterDisplay(int index, char* text) const;
    // The description of a valid index; nothing for an invalid one.
    std::optional<ParameterDescription> describe(int index) const;

  private:
    vstUI& mainCollector;
    std::span<const std::unique_ptr<Voice>> voices;
    int parameterCount;
};
