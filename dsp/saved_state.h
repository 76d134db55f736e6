// The plug-in's saved state, as the formats that keep one (VST 3, CLAP) save it: the control
// values and the bypass switch as a small versioned record. Version 1, the layout every session
// saved so far holds:
//
//   bytes 0..3   "ZCS3", the record's mark
//   bytes 4..7   version, unsigned 32-bit little-endian (1)
//   bytes 8..27  "Lowpass Filter", "Auto-EQ Threshold", "Noisegate Gain dB",
//                "Output AGC Threshold", "DNR LPF Disable": IEEE 754 single, little-endian
//   bytes 28..31 the bypass switch, unsigned 32-bit little-endian, 0 or 1
//
// A version's layout never changes: a control added later is saved by a new version, and a
// version-1 record keeps loading, the new control at its initial value. A later version than
// this build knows is refused.
//
// The bypass switch is part of the state because hosts restore it from there: a session saved
// bypassed reopens bypassed.
//
// A record is accepted only whole: the right size, mark and version, every control value finite
// and inside its control's range (a switch exactly 0 or 1), and the bypass 0 or 1. Anything else
// changes nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "dsp/control_record.h"

struct PluginState {
    ControlValues controls = ControlValues::initial();
    bool bypassed = false;
};

// The controls a version-1 record holds, in its order.
inline constexpr std::array<Control, 5> kStateV1Controls = {
    Control::lowpassCutoff, Control::autoEqThreshold, Control::noisegateGain,
    Control::outputAgcThreshold, Control::dnrLpfDisable};
inline constexpr std::uint32_t kStateVersion = 1;
inline constexpr std::size_t kStateSize = 32;  // of the version written, 1
static_assert(kStateV1Controls.size() == controlCount,
              "a new control needs a new state version that saves it");

std::array<unsigned char, kStateSize> encodeState(const PluginState& values);
std::optional<PluginState> decodeState(std::span<const unsigned char> bytes);

// The longest record this build reads: a reader takes at most one byte more, to see that nothing
// follows the record.
inline constexpr std::size_t kLongestState = 32;
