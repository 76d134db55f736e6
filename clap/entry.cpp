// The module's only export, clap_entry. Everything else stays hidden: on Linux by
// -fvisibility=hidden and the version script, on Windows by the module definition file.
#include <cstring>

#include "clap/factory.h"

#if defined(_WIN32)
#define ZELKO_EXPORT __declspec(dllexport)
#else
#define ZELKO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The plug-in keeps no module-wide state: loading and unloading need nothing.
bool init(const char*) {
    return true;
}

void deinit() {}

const void* factory(const char* id) {
    if (id == nullptr || std::strcmp(id, clapabi::CLAP_PLUGIN_FACTORY_ID) != 0) return nullptr;
    return clapglue::pluginFactory();
}

}  // namespace

extern "C" {
ZELKO_EXPORT extern const clapabi::clap_plugin_entry_t clap_entry;
const clapabi::clap_plugin_entry_t clap_entry = {clapabi::CLAP_VERSION, init, deinit, factory};
}
