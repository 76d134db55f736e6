// The host's parameter requests answered from the control tables: the parameter number is the
// index into the main collector's table; writes go to the main table and to the same entry of
// every voice, reads come from the main table only.
#pragma once

#include <memory>
#include <span>

#include "controls/Voice.h"
#include "controls/vstUI.h"
#include "host/vst2.h"

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
    // Fills the record for a valid index and answers true; false leaves the record untouched.
    bool getParameterProperties(int index, VstParameterProperties* properties) const;

  private:
    vstUI& mainCollector;
    std::span<const std::unique_ptr<Voice>> voices;
    int parameterCount;
};
