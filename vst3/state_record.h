// The plug-in's saved state: the five control values and the bypass switch as a small versioned
// record.
//
//   bytes 0..3   "ZCS3", the record's mark
//   bytes 4..7   version, unsigned 32-bit little-endian (1)
//   bytes 8..27  the five control values in parameter order, IEEE 754 single, little-endian
//   bytes 28..31 the bypass switch, unsigned 32-bit little-endian, 0 or 1
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

#include "vst3/parameters.h"
#include "vst3/vst3_abi.h"

namespace vst3glue {

struct PluginState {
    std::array<float, kControlCount> controls;
    bool bypassed;
};

inline constexpr std::uint32_t kStateVersion = 1;
inline constexpr std::size_t kStateSize = 8 + 4 * kControlCount + 4;

std::array<unsigned char, kStateSize> encodeState(const PluginState& values);
std::optional<PluginState> decodeState(const unsigned char* bytes, std::size_t size);

// The same through a host's stream. Reading takes the record and checks that nothing follows it.
bool writeState(vst3::IBStream* stream, const PluginState& values);
std::optional<PluginState> readState(vst3::IBStream* stream);

}  // namespace vst3glue
