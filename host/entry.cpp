// The module's one export. Everything else of the plug-in is hidden: on Linux by
// -fvisibility=hidden and the version script, on Windows by linking with --exclude-all-symbols.
#include "host/AudioEffect.h"

#if defined(_WIN32)
#define ZELKO_EXPORT __declspec(dllexport)
#else
#define ZELKO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" ZELKO_EXPORT AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    // A host that cannot even answer its version gets no plug-in, and nothing is created.
    if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    // The host is plain C: a failed construction must not unwind into it.
    try {
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}
