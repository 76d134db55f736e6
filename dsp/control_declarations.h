// What the processor tells every plug-in format and tool about its controls: one row per control,
// written once. The VST 2.4 shell, the LV2 description, the VST3 parameters and the renderer's
// parameter listing and unit checks all read these rows, so no format keeps a copy of a label, a
// range or a unit that could drift from the processor's own.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "dsp/control_block.h"

enum class ControlUnit : unsigned char { none, hertz, decibel };

// The unit as hosts and users write it; the empty text for a control without one.
constexpr const char* unitSymbol(ControlUnit unit) {
    switch (unit) {
        case ControlUnit::hertz:
            return "Hz";
        case ControlUnit::decibel:
            return "dB";
        case ControlUnit::none:
            break;
    }
    return "";
}

struct ControlDeclaration {
    const char* label;   // the name hosts show, exactly as the VST 2.4 parameter name
    const char* symbol;  // short ASCII identifier: LV2 port symbols, VST3 short titles
    ControlRange range;  // a meter starts at its minimum and has no step
    ControlUnit unit;
    bool isSwitch;  // an on/off control: 0 is off, 1 is on, nothing between
};

// The host parameters, in the order the processor declares them: the index here is the VST 2.4
// parameter number. The LV2 port symbols are a saved session's keys, so they never change.
inline constexpr std::array<ControlDeclaration, 5> parameterDeclarations = {{
    {"Lowpass Filter", "lowpass_filter", lowpassCutoffRange, ControlUnit::hertz, false},
    {"Auto-EQ Threshold", "auto_eq_threshold", autoEqThresholdRange, ControlUnit::decibel, false},
    {"Noisegate Gain dB", "noisegate_gain_db", noisegateGainRange, ControlUnit::decibel, false},
    {"Output AGC Threshold", "output_agc_threshold", outputAgcThresholdRange, ControlUnit::decibel,
     false},
    {"DNR LPF Disable", "dnr_lpf_disable", dnrLpfDisableRange, ControlUnit::none, true},
}};

inline constexpr ControlRange bandSeparationRange = {0.0f, 0.0f, 1.0f, 0.0f};
inline constexpr ControlRange noiseReductionCutoffRange = {0.0f, 0.0f, 20000.0f, 0.0f};

// The meters, in declaration order: the ten band separations (bands 3 to 12), then the two
// noise-reduction cutoffs.
inline constexpr std::array<ControlDeclaration, 12> meterDeclarations = {{
    {"Band 3 Separation", "band_3_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 4 Separation", "band_4_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 5 Separation", "band_5_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 6 Separation", "band_6_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 7 Separation", "band_7_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 8 Separation", "band_8_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 9 Separation", "band_9_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 10 Separation", "band_10_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 11 Separation", "band_11_separation", bandSeparationRange, ControlUnit::none, false},
    {"Band 12 Separation", "band_12_separation", bandSeparationRange, ControlUnit::none, false},
    {"DNR Bandwidth", "dnr_bandwidth", noiseReductionCutoffRange, ControlUnit::hertz, false},
    {"DNR2 Bandwidth", "dnr2_bandwidth", noiseReductionCutoffRange, ControlUnit::hertz, false},
}};

// The row of a parameter or meter with this label; null for a label the processor never declares.
constexpr const ControlDeclaration* findControlDeclaration(std::string_view label) {
    for (const ControlDeclaration& row : parameterDeclarations) {
        if (label == row.label) return &row;
    }
    for (const ControlDeclaration& row : meterDeclarations) {
        if (label == row.label) return &row;
    }
    return nullptr;
}
