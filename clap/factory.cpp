#include "clap/factory.h"

#include <cstring>
#include <new>

#include "clap/zelko_clap.h"
#include "dsp/metadata.h"
#include "dsp/mydsp.h"

namespace clapglue {
namespace {

using namespace clapabi;

// The author the processor declares in its metadata, as the other formats name the vendor.
const char* vendorName() {
    static const char* const vendor = [] {
        metadataTable table;
        mydsp().declareMetadata(&table);
        const char* author = table.find("author");
        return author != nullptr ? author : "";
    }();
    return vendor;
}

constexpr const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_STEREO,
                                     CLAP_PLUGIN_FEATURE_MONO, nullptr};

}  // namespace

const clap_plugin_descriptor_t& descriptor() {
    static const clap_plugin_descriptor_t described = {
        CLAP_VERSION,
        kPluginId,
        kPluginName,
        vendorName(),
        "",
        "",
        "",
        ZELKO_VERSION,
        "Turns a mono signal into a stereo pair: a comb decorrelator and twelve bands that each "
        "level, gate and widen themselves",
        kFeatures};
    return described;
}

const clap_plugin_factory_t* pluginFactory() {
    static const clap_plugin_factory_t factory = {
        [](const clap_plugin_factory_t*) -> std::uint32_t { return 1; },
        [](const clap_plugin_factory_t*, std::uint32_t index) {
            return index == 0 ? &descriptor() : nullptr;
        },
        [](const clap_plugin_factory_t*, const clap_host_t* host,
           const char* id) -> const clap_plugin_t* {
            if (host == nullptr || id == nullptr || std::strcmp(id, kPluginId) != 0 ||
                !clap_version_is_compatible(host->clap_version)) {
                return nullptr;
            }
            // The host is not C++: nothing may unwind into it.
            try {
                return (new ZelkoClap(host))->plugin();
            } catch (...) {
                return nullptr;
            }
        }};
    return &factory;
}

}  // namespace clapglue
