// The plug-in's saved state through a host's CLAP streams: the same versioned record as the VST 3
// plug-in's (dsp/saved_state.h) (the controls and the bypass switch), so that one preset file
// serves both formats.
#pragma once

#include <optional>

#include "clap/clap_abi.h"
#include "dsp/saved_state.h"

namespace clapglue {

// The whole record, or false when the stream takes less of it.
bool writeState(const clapabi::clap_ostream_t* stream, const PluginState& state);
// A record accepted whole, or nothing: a short, long, damaged or later-version stream changes
// nothing.
std::optional<PluginState> readState(const clapabi::clap_istream_t* stream);

}  // namespace clapglue
