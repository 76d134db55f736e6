// The one description of every control and meter of the processor: one row each, written once.
//
// The processor declares its controls from these rows and keeps its fields in their order; the
// VST 2.4 shell collects what it declares, and the VST 3, LV2 and CLAP glue, the editor and the
// renderer read the rows directly. A label, name, symbol, range, unit or text format therefore
// exists in one place only, and adding a control is adding a row (and its place in the saved
// state, whose layout is versioned on its own).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "dsp/meter_limits.h"

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

// The input controls in the order the processor declares them: the position is the VST 2.4
// parameter number and the VST 3 and CLAP parameter ID, which saved sessions keep.
enum class Control : unsigned char {
    lowpassCutoff,
    autoEqThreshold,
    noisegateGain,
    outputAgcThreshold,
    dnrLpfDisable,
};
inline constexpr std::size_t controlCount = 5;

// The meters in declaration order: the ten band separations (bands 3 to 12), then the two
// noise-reduction cutoffs.
enum class Meter : unsigned char {
    bandSeparation3,
    bandSeparation4,
    bandSeparation5,
    bandSeparation6,
    bandSeparation7,
    bandSeparation8,
    bandSeparation9,
    bandSeparation10,
    bandSeparation11,
    bandSeparation12,
    dnrBandwidth,
    dnr2Bandwidth,
};
inline constexpr std::size_t meterCount = 12;

// The one rule by which every value a host or a field holds is brought into a range: held to
// [minimum, maximum], and NaN reads as the minimum. The minimum rather than the default, because
// that is what a VST 2.4 slider has always stored for a host's NaN, and every format must leave a
// field exactly as that path would have.
constexpr float heldToRange(float value, float minimum, float maximum) {
    if (value < minimum || value != value) return minimum;
    return value < maximum ? value : maximum;
}

// What a control may hold: its initial value, its range and its step (0 for a meter).
struct ControlRange {
    float initial;
    float minimum;
    float maximum;
    float step;

    constexpr float held(float value) const { return heldToRange(value, minimum, maximum); }

    // Normalised 0 ... 1 to a value. A normalised value that a VST 2.4 host could send (a float)
    // maps in single precision exactly as the VST 2.4 slider maps it, so that one normalised value
    // is one sound in every format. A finer one, which only the formats with double-precision
    // values can send, maps in double precision and is rounded once: that is how a typed value
    // that no float maps to exactly still lands on it. Neither direction rounds to the step: a
    // host may place a value anywhere in the range.
    constexpr float fromNormalised(double normalised) const {
        const float single = static_cast<float>(normalised);
        if (static_cast<double>(single) == normalised || normalised != normalised) {
            return held(single * (maximum - minimum) + minimum);
        }
        const double span = static_cast<double>(maximum) - static_cast<double>(minimum);
        return held(static_cast<float>(normalised * span + static_cast<double>(minimum)));
    }
    constexpr double toNormalised(float value) const {
        const float span = maximum - minimum;
        // A range of one point has one position; 0 keeps a NaN away from the host.
        if (span == 0.0f) return 0.0;
        return static_cast<double>((held(value) - minimum) / span);
    }

    friend bool operator==(const ControlRange&, const ControlRange&) = default;
};

enum class ControlKind : unsigned char { slider, toggle, meter };

// Longest text `ControlRecord::format` writes, with its NUL.
inline constexpr std::size_t controlTextCapacity = 32;

struct ControlRecord {
    const char* label;   // exactly as the processor declares it: the VST 2.4 parameter name
    const char* name;    // what the other formats and the editor show, without a unit in it
    const char* symbol;  // LV2 port symbol: saved sessions store values by it, so it never changes
    ControlUnit unit;
    ControlKind kind;
    ControlRange range;  // as the processor declares it
    // What the value can actually be: for an input control its range; for a meter the values
    // the processor writes, which a format declares so that hosts do not clamp them.
    ControlRange reach;
    int decimals;  // shown by `format`: the step's, or a meter's useful precision

    constexpr bool isSwitch() const { return kind == ControlKind::toggle; }

    // The value a normalised 0 ... 1 stands for (over `reach`); a switch is on above 0.5.
    constexpr float fromNormalised(double normalised) const {
        if (isSwitch()) return normalised > 0.5 ? 1.0f : 0.0f;
        return reach.fromNormalised(normalised);
    }
    constexpr double toNormalised(float value) const { return reach.toNormalised(value); }

    // The normalised value whose value is `value` (held to the range) exactly: what a typed text
    // becomes, so that "-40 dB" is -40 dB again and not -39.999996 dB.
    double normalisedFor(float value) const;

    // "15000 Hz", "-6 dB", "On", "0.52": rounded (never cut) to `decimals`, with the unit.
    // Returns the text's length; the buffer holds at least controlTextCapacity bytes.
    std::size_t format(float value, char* text) const;
    // A number, with or without the unit, or for a switch also "on" / "off" in any case;
    // nothing for anything else. The value is as written, not yet held to the range. Parsing
    // what `format` wrote and formatting it again gives the same text.
    std::optional<float> parse(std::string_view text) const;
};

// How many decimals a step shows: 0 for whole steps, otherwise the decimal shifts that make it
// whole, at most 6.
constexpr int stepDecimals(float step) {
    int count = 0;
    while (count < 6 && step != static_cast<float>(static_cast<long long>(step))) {
        step *= 10.0f;
        ++count;
    }
    return count;
}

namespace control_rows {

constexpr ControlRecord slider(const char* label, const char* name, const char* symbol,
                               ControlUnit unit, ControlRange range) {
    return {label, name, symbol, unit, ControlKind::slider, range, range, stepDecimals(range.step)};
}

constexpr ControlRecord toggle(const char* label, const char* name, const char* symbol) {
    constexpr ControlRange onOff = {0.0f, 0.0f, 1.0f, 1.0f};
    return {label, name, symbol, ControlUnit::none, ControlKind::toggle, onOff, onOff, 0};
}

constexpr ControlRecord meter(const char* label, const char* name, const char* symbol,
                              ControlUnit unit, ControlRange declared, float lowest, float highest,
                              int decimals) {
    return {
        label,   name, symbol, unit, ControlKind::meter, declared, {lowest, lowest, highest, 0.0f},
        decimals};
}

constexpr ControlRange separationDeclared = {0.0f, 0.0f, 1.0f, 0.0f};
constexpr ControlRange cutoffDeclared = {0.0f, 0.0f, 20000.0f, 0.0f};

constexpr ControlRecord separation(const char* label, const char* name, const char* symbol) {
    return meter(label, name, symbol, ControlUnit::none, separationDeclared, 0.0f,
                 separationMaximum, 2);
}

}  // namespace control_rows

inline constexpr std::array<ControlRecord, controlCount> controlRecords = {{
    control_rows::slider("Lowpass Filter", "Lowpass Filter", "lowpass_filter", ControlUnit::hertz,
                         {22000.0f, 1000.0f, 22000.0f, 100.0f}),
    control_rows::slider("Auto-EQ Threshold", "Auto-EQ Threshold", "auto_eq_threshold",
                         ControlUnit::decibel, {-60.0f, -90.0f, 0.0f, 1.0f}),
    control_rows::slider("Noisegate Gain dB", "Noisegate Gain", "noisegate_gain_db",
                         ControlUnit::decibel, {55.0f, 0.0f, 70.0f, 1.0f}),
    control_rows::slider("Output AGC Threshold", "Output AGC Threshold", "output_agc_threshold",
                         ControlUnit::decibel, {-6.0f, -12.0f, 3.0f, 1.0f}),
    control_rows::toggle("DNR LPF Disable", "DNR LPF Disable", "dnr_lpf_disable"),
}};

// The separations are held to 0 ... 1.5 before their smoother, and the noise-reduction cutoffs to
// their clamps' range: those are the ranges the formats declare, not the processor's own 0 ... 1
// and 0 ... 20000.
inline constexpr std::array<ControlRecord, meterCount> meterRecords = {{
    control_rows::separation("Band 3 Separation", "Band 3 Separation", "band_3_separation"),
    control_rows::separation("Band 4 Separation", "Band 4 Separation", "band_4_separation"),
    control_rows::separation("Band 5 Separation", "Band 5 Separation", "band_5_separation"),
    control_rows::separation("Band 6 Separation", "Band 6 Separation", "band_6_separation"),
    control_rows::separation("Band 7 Separation", "Band 7 Separation", "band_7_separation"),
    control_rows::separation("Band 8 Separation", "Band 8 Separation", "band_8_separation"),
    control_rows::separation("Band 9 Separation", "Band 9 Separation", "band_9_separation"),
    control_rows::separation("Band 10 Separation", "Band 10 Separation", "band_10_separation"),
    control_rows::separation("Band 11 Separation", "Band 11 Separation", "band_11_separation"),
    control_rows::separation("Band 12 Separation", "Band 12 Separation", "band_12_separation"),
    control_rows::meter("DNR Bandwidth", "DNR Bandwidth", "dnr_bandwidth", ControlUnit::hertz,
                        control_rows::cutoffDeclared, lowestCutoffHz, highestCutoffHz, 0),
    control_rows::meter("DNR2 Bandwidth", "DNR2 Bandwidth", "dnr2_bandwidth", ControlUnit::hertz,
                        control_rows::cutoffDeclared, lowestCutoffHz, highestCutoffHz, 0),
}};

constexpr const ControlRecord& recordOf(Control control) {
    return controlRecords[static_cast<std::size_t>(control)];
}
constexpr const ControlRecord& recordOf(Meter meter) {
    return meterRecords[static_cast<std::size_t>(meter)];
}

// The band whose separation a meter shows (3 ... 12), or 0 for a meter that is not a separation.
constexpr int separationBand(Meter meter) {
    return meter <= Meter::bandSeparation12 ? static_cast<int>(meter) + 3 : 0;
}

// Values indexed by control or meter: the processor's fields, a state's values, a snapshot.
template <typename Key, std::size_t count>
struct RecordValues {
    std::array<float, count> values{};

    constexpr float& operator[](Key key) { return values[static_cast<std::size_t>(key)]; }
    constexpr float operator[](Key key) const { return values[static_cast<std::size_t>(key)]; }
    friend bool operator==(const RecordValues&, const RecordValues&) = default;
};

// The five input controls, as the parameter path left them.
struct ControlValues : RecordValues<Control, controlCount> {
    // Every control at its initial value.
    static constexpr ControlValues initial() {
        ControlValues defaults;
        for (std::size_t c = 0; c < controlCount; ++c) {
            defaults.values[c] = controlRecords[c].range.initial;
        }
        return defaults;
    }
};

struct MeterValues : RecordValues<Meter, meterCount> {
    // Every meter at the lowest value it can show: what a format shows before the first block.
    static constexpr MeterValues lowest() {
        MeterValues readings;
        for (std::size_t m = 0; m < meterCount; ++m)
            readings.values[m] = meterRecords[m].reach.minimum;
        return readings;
    }
};
