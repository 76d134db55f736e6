// The module's one factory, which makes the one plug-in it describes.
#pragma once

#include "clap/clap_abi.h"

namespace clapglue {

const clapabi::clap_plugin_factory_t* pluginFactory();

}  // namespace clapglue
