// The control collector: receives a processor's declarations and keeps one control object per
// input control, in declaration order. An entry's position is its host parameter number.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "controls/vstUIObject.h"
#include "dsp/dsp.h"
#include "dsp/text_order.h"

class vstUI : public UIReal<float> {
  public:
    using PropertyTable = std::map<const char*, const char*, TextLess>;

    vstUI() = default;
    ~vstUI() override;
    vstUI(const vstUI&) = delete;
    vstUI& operator=(const vstUI&) = delete;

    void addButtonControl(const char* label, float* value) override;
    void addCheckButtonControl(const char* label, float* value) override;
    void addVerticalSliderControl(const char* label, float* value, float initial, float minimum,
                                  float maximum, float step) override;
    void addHorizontalSliderControl(const char* label, float* value, float initial, float minimum,
                                    float maximum, float step) override;
    void addNumberEntryControl(const char* label, float* value, float initial, float minimum,
                               float maximum, float step) override;

    // Meters are outputs of the processor: they are not collected.
    void addHorizontalMeter(const char*, float*, float, float) override {}
    void addVerticalMeter(const char*, float*, float, float) override {}

    void declareProperty(float* value, const char* key, const char* text) override;
    int sampleWidth() override { return 4; }

    // The property `key` of the control driving `value`, or null when none was declared.
    const char* property(const float* value, const char* key) const;

    int size() const { return static_cast<int>(fUITable.size()); }

    // The value of every control, in table order, exactly as its field holds it.
    std::vector<float> controlValues() const;
    // Writes values taken by `controlValues` back into the fields, bypassing every conversion so
    // that each field gets its own bits back.
    void restoreControlValues(const std::vector<float>& values);
    bool isValidIndex(int index) const { return index >= 0 && index < size(); }

    std::vector<std::unique_ptr<vstUIObject>> fUITable;
    std::map<const float*, PropertyTable> controlProperties;
    int freqIndex = -1;
    int gainIndex = -1;
    int gateIndex = -1;
    int prevfreqIndex = -1;
    int pitchbendIndex = -1;

  private:
    void addSlider(const char* label, float* value, float initial, float minimum, float maximum,
                   float step);
};
