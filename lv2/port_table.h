// The LV2 plug-in's identity and ports, read from the control record.
//
// The plug-in module and the build-time program that writes the Turtle description both use
// these, so the description and the module cannot disagree about a port. The indices and symbols
// are what saved sessions hold: ports are only ever appended.
#pragma once

#include <cstdint>

#include "dsp/control_record.h"
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

// One input and the left and right outputs, the controls in record order, the meters in record
// order, the latency, then the host's bypass switch (lv2:enabled: 1 processes, 0 bypasses).
inline constexpr std::uint32_t kInputPort = 0;
inline constexpr std::uint32_t kLeftPort = 1;
inline constexpr std::uint32_t kRightPort = 2;
inline constexpr std::uint32_t kFirstControlPort = 3;
inline constexpr std::uint32_t kFirstMeterPort = kFirstControlPort + controlCount;
inline constexpr std::uint32_t kLatencyPort = kFirstMeterPort + meterCount;
inline constexpr std::uint32_t kEnabledPort = kLatencyPort + 1;
inline constexpr std::uint32_t kPortCount = kEnabledPort + 1;
static_assert(kLatencyPort == 20, "saved sessions know the ports by index: append, never insert");

// The editor, a UI binary of its own beside the plug-in's.
inline constexpr const char* kUiUri = "urn:zelko:comb-stereo-processor#ui";
inline constexpr const char* kUiBinaryName = "zelko_ui.so";

}  // namespace lv2glue
