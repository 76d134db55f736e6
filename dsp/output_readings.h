// The output meter's levels and correlation as values a host can show and automate nothing
// with: one row each, like the processor's own meters, so that the LV2 output ports, the CLAP
// read-only parameters and the editor name, range and format them alike.
//
// A bypassed plug-in passes its input, which may be louder than the processor's ceiling, so the
// levels reach above 0 dBFS; a reading is held to its row's reach before a format publishes it.
#pragma once

#include <array>
#include <cstddef>

#include "dsp/control_record.h"
#include "dsp/output_meter.h"

enum class OutputReading : unsigned char {
    leftPeak,
    rightPeak,
    leftRms,
    rightRms,
    correlation,
};
inline constexpr std::size_t outputReadingCount = 5;

namespace output_rows {

// The highest level a reading shows: room above full scale for a loud bypassed input.
inline constexpr float levelCeilingDb = 24.0f;

constexpr ControlRecord level(const char* name, const char* symbol) {
    constexpr ControlRange range = {outputFloorDb, outputFloorDb, levelCeilingDb, 0.0f};
    return control_rows::meter(name, name, symbol, ControlUnit::decibel, range, outputFloorDb,
                               levelCeilingDb, 1);
}

}  // namespace output_rows

inline constexpr std::array<ControlRecord, outputReadingCount> outputReadingRecords = {{
    output_rows::level("Output Left Peak", "output_left_peak"),
    output_rows::level("Output Right Peak", "output_right_peak"),
    output_rows::level("Output Left RMS", "output_left_rms"),
    output_rows::level("Output Right RMS", "output_right_rms"),
    control_rows::meter("Output Correlation", "Output Correlation", "output_correlation",
                        ControlUnit::none, {0.0f, -1.0f, 1.0f, 0.0f}, -1.0f, 1.0f, 2),
}};

constexpr const ControlRecord& recordOf(OutputReading reading) {
    return outputReadingRecords[static_cast<std::size_t>(reading)];
}

// One reading of the levels, held to its row's reach.
constexpr float readingOf(const OutputLevels& levels, OutputReading reading) {
    float value = levels.correlation;
    switch (reading) {
        case OutputReading::leftPeak:
            value = levels.peakDb[0];
            break;
        case OutputReading::rightPeak:
            value = levels.peakDb[1];
            break;
        case OutputReading::leftRms:
            value = levels.rmsDb[0];
            break;
        case OutputReading::rightRms:
            value = levels.rmsDb[1];
            break;
        case OutputReading::correlation:
            break;
    }
    return recordOf(reading).reach.held(value);
}
