// The VST 3 parameters of the plug-in, read from the control record: the five controls (IDs 0 to
// 4, the VST 2.4 parameter numbers), the bypass switch, and the twelve meters as read-only
// parameters. The IDs are a saved session's keys and never change.
//
// A control's normalised value maps to its value with the record's arithmetic, the one the
// VST 2.4 plug-in's controls use, so one normalised value gives one sound in both formats.
#pragma once

#include <cstddef>

#include "dsp/bypass.h"
#include "dsp/control_record.h"
#include "vst3/vst3_abi.h"

namespace vst3glue {

enum class ParameterKind { control, bypass, meter };

struct ParameterRow {
    vst3::ParamID id;
    ParameterKind kind;
    const ControlRecord* record;
    std::size_t index;  // control or meter number within its kind
};

inline constexpr int kControlCount = static_cast<int>(controlCount);
inline constexpr int kMeterCount = static_cast<int>(meterCount);
inline constexpr vst3::ParamID kBypassId = 100;
inline constexpr vst3::ParamID kFirstMeterId = 200;
// Controls, then the bypass switch, then the meters: the host lists them in this order.
inline constexpr int kParameterCount = kControlCount + 1 + kMeterCount;

// The row at a list position, or of an ID; null when there is none.
const ParameterRow* parameterAt(int index);
const ParameterRow* parameterWithId(vst3::ParamID id);

void describe(const ParameterRow& row, vst3::ParameterInfo& info);

// "15000 Hz", "-6 dB", "On": the value with its unit, as the record formats it.
void formatValue(const ParameterRow& row, double normalized, vst3::String128 text);
// A number (with or without the unit) or a switch word; false for anything else.
bool parseValue(const ParameterRow& row, const vst3::TChar* text, double& normalized);

// Text helpers for the format's UTF-16 fields.
void copyText(vst3::char16* destination, std::size_t capacity, const char* source);
void copyText(char* destination, std::size_t capacity, const char* source);

}  // namespace vst3glue
