// The LV2 ports of a processor, collected from its own control declarations.
//
// The plug-in module and the build-time program that writes the plug-in's Turtle description
// both collect the ports through this one receiver, so the description and the module cannot
// disagree about a port's index, range or default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsp/dsp.h"
#include "dsp/mydsp.h"

namespace lv2glue {

// The plug-in's identity. The URI is the project's own name for the plug-in and never changes
// while its ports stay compatible.
inline constexpr const char* kPluginUri = "urn:zelko:comb-stereo-processor";
inline constexpr const char* kPluginName = "Comb Stereo Processor";
inline constexpr const char* kBinaryName = "zelko.so";

// The chain's latency as the host's latency port carries it; the VST shell reports the same
// figure as its initial delay.
inline constexpr float kChainLatency = static_cast<float>(chainLatency);

enum class PortKind { slider, toggle, meter };

struct ControlPort {
    PortKind kind;
    std::string name;    // the declared label
    std::string symbol;  // lowercase identifier derived from the label
    float* zone;         // the processor's field
    float initial;
    float minimum;
    float maximum;
    const char* unit;  // "Hz", "dB" or null
};

// The fixed audio ports come first: one input and the left and right outputs.
inline constexpr std::uint32_t kInputPort = 0;
inline constexpr std::uint32_t kLeftPort = 1;
inline constexpr std::uint32_t kRightPort = 2;
inline constexpr std::uint32_t kFirstControlPort = 3;

// Receives one processor's declarations. After `declareControls` the input controls follow the
// audio ports in declaration order, then the meters in declaration order, then the latency port.
class PortCollector final : public UIReal<float> {
  public:
    void addButtonControl(const char* label, float* value) override;
    void addCheckButtonControl(const char* label, float* value) override;
    void addVerticalSliderControl(const char* label, float* value, float initial, float minimum,
                                  float maximum, float step) override;
    void addHorizontalSliderControl(const char* label, float* value, float initial, float minimum,
                                    float maximum, float step) override;
    void addNumberEntryControl(const char* label, float* value, float initial, float minimum,
                               float maximum, float step) override;
    void addHorizontalMeter(const char* label, float* value, float minimum, float maximum) override;
    void addVerticalMeter(const char* label, float* value, float minimum, float maximum) override;
    void declareProperty(float* value, const char* key, const char* text) override;

    std::vector<ControlPort> controls;
    std::vector<ControlPort> meters;

    std::uint32_t meterPort(std::size_t meter) const {
        return kFirstControlPort + static_cast<std::uint32_t>(controls.size() + meter);
    }
    std::uint32_t latencyPort() const { return meterPort(meters.size()); }
    std::uint32_t portCount() const { return latencyPort() + 1; }

  private:
    void add(std::vector<ControlPort>& list, PortKind kind, const char* label, float* value,
             float initial, float minimum, float maximum);

    // A "unit" property declared for the next control, with the field it belongs to.
    const float* unitZone = nullptr;
    const char* unitText = nullptr;
};

// A port symbol from a label: lowercase letters and digits, every other run of characters one
// underscore, none at either end, and an underscore before a leading digit.
std::string symbolFromLabel(const std::string& label);

}  // namespace lv2glue
