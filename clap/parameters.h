// The CLAP parameters of the plug-in, read from the control record: the five controls (IDs 0 to 4,
// the VST 2.4 parameter numbers), the bypass switch (100) and the twelve meters as read-only
// parameters (200 to 211), the same IDs as the VST 3 plug-in's; then the output meter's five
// readings, the levels and the correlation the editor shows, as read-only parameters of their own
// (300 to 304). A saved session keys its automation by the IDs, so they never change.
//
// CLAP hands plain values, not positions: a control's value is the number the user sees, over the
// record's range. A value is held to that range exactly as the VST 2.4 slider holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clap/clap_abi.h"
#include "dsp/bypass.h"
#include "dsp/control_record.h"
#include "dsp/output_readings.h"

namespace clapglue {

enum class ParamKind { control, bypass, meter, reading };

struct ParamRow {
    clapabi::clap_id id;
    ParamKind kind;
    const ControlRecord* record;
    std::size_t index;  // control, meter or reading number within its kind
};

inline constexpr std::uint32_t kControlParams = static_cast<std::uint32_t>(controlCount);
inline constexpr std::uint32_t kMeterParams = static_cast<std::uint32_t>(meterCount);
inline constexpr clapabi::clap_id kBypassId = 100;
inline constexpr clapabi::clap_id kFirstMeterId = 200;
inline constexpr std::uint32_t kReadingParams = static_cast<std::uint32_t>(outputReadingCount);
inline constexpr clapabi::clap_id kFirstReadingId = 300;
// Controls, then the bypass switch, the meters and the readings: the host lists them in this
// order, the VST 3 plug-in's parameters first.
inline constexpr std::uint32_t kParamCount = kControlParams + 1 + kMeterParams + kReadingParams;

// The row at a list position, or of an ID; null when there is none.
const ParamRow* paramAt(std::uint32_t index);
const ParamRow* paramWithId(clapabi::clap_id id);

void describe(const ParamRow& row, clapabi::clap_param_info_t& info);

// The value a field takes for a plain value from the host. A value that is a float is taken as
// written (held to the range), which is what a host that read our range, a typed text, or a VST
// 2.4 position mapped by the record gives. A value that is no float comes from a host's own
// position arithmetic; where min + position * span with a float position gives it exactly, the
// position maps in single precision as the VST 2.4 slider maps it, so one automation curve sounds
// the same in both formats. Anything else is rounded once. NaN reads as the minimum, as in every
// format; a switch is on above 0.5.
float valueOf(const ControlRecord& record, double plain);

// "15000 Hz", "-6 dB", "On": false when the buffer cannot hold the whole text.
bool valueToText(const ParamRow& row, double plain, char* text, std::uint32_t capacity);
// A number (with or without the unit) or a switch word, as the value it lands on exactly.
bool textToValue(const ParamRow& row, const char* text, double& plain);

}  // namespace clapglue
