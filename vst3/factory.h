// The module's factory: one audio-effect class, the plug-in, and what a host shows of it.
#pragma once

#include "vst3/vst3_abi.h"

namespace vst3glue {

inline constexpr const char* kPluginName = "Comb Stereo Processor";
inline constexpr const char* kSubCategories = "Fx|Spatial";
inline constexpr const char* kSdkVersion = "VST 3.7.13";
inline constexpr const char* kCategory = "Audio Module Class";
inline constexpr const char* kPluginVersion = ZELKO_VERSION;
// The vendor is the processor's declared author.
const char* vendorName();

// The factory every GetPluginFactory call returns; it lives as long as the module.
vst3::IPluginFactory3* pluginFactory();

}  // namespace vst3glue
