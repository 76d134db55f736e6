// The module's exports: GetPluginFactory, and the platform's load and unload hooks (ModuleEntry
// and ModuleExit on Linux, InitDll and ExitDll on Windows). Everything else stays hidden: on Linux
// by -fvisibility=hidden and the version script, on Windows by the module definition file.
#include "vst3/factory.h"

#if defined(_WIN32)
#define ZELKO_EXPORT __declspec(dllexport)
#else
#define ZELKO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

ZELKO_EXPORT vst3::IPluginFactory* ZELKO_VST3_API GetPluginFactory() {
    vst3::IPluginFactory* factory = vst3glue::pluginFactory();
    factory->addRef();
    return factory;
}

// The plug-in keeps no module-wide state: loading and unloading need nothing.
#if defined(_WIN32)
ZELKO_EXPORT bool InitDll() {
    return true;
}
ZELKO_EXPORT bool ExitDll() {
    return true;
}
#else
ZELKO_EXPORT bool ModuleEntry(void*) {
    return true;
}
ZELKO_EXPORT bool ModuleExit() {
    return true;
}
#endif
}
