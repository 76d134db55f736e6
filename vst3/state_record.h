// The saved state through a host's stream (dsp/saved_state.h holds the record itself).
#pragma once

#include <optional>

#include "dsp/saved_state.h"
#include "vst3/vst3_abi.h"

namespace vst3glue {

using ::decodeState;
using ::encodeState;
using ::kStateSize;
using ::kStateV1Controls;
using ::kStateVersion;
using ::PluginState;

// Reading takes the record and checks that nothing follows it.
bool writeState(vst3::IBStream* stream, const PluginState& values);
std::optional<PluginState> readState(vst3::IBStream* stream);

}  // namespace vst3glue
