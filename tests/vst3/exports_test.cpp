// The VST 3 modules export their entry and the platform's load hooks and nothing else: a stray
// export can clash with a host's or another plug-in's symbol of the same name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/vst3_host.h"

namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Vst3Exports, SharedObjectExportsTheFactoryAndModuleHooksOnly) {
    const std::vector<std::string> names =
        linuxExports(ZELKO_NM, vst3host::moduleInBundle(ZELKO_VST3_BUNDLE));
    EXPECT_EQ(sorted(names),
              (std::vector<std::string>{"GetPluginFactory", "ModuleEntry", "ModuleExit"}));
}

#ifdef ZELKO_WINDOWS_VST3
TEST(Vst3Exports, WindowsModuleExportsTheFactoryAndDllHooksOnly) {
    const WindowsLinkage linkage = windowsLinkage(ZELKO_MINGW_OBJDUMP, ZELKO_WINDOWS_VST3);
    const std::vector<std::string>& names = linkage.exports;
    const std::vector<std::string>& imports = linkage.imports;
    EXPECT_EQ(sorted(names), (std::vector<std::string>{"ExitDll", "GetPluginFactory", "InitDll"}));
    // Static runtimes: only Windows system libraries are needed (the editor's window and GDI+
    // among them).
    ASSERT_FALSE(imports.empty());
    for (const auto& name : imports) {
        EXPECT_TRUE(name == "KERNEL32.dll" || name == "msvcrt.dll" || name == "USER32.dll" ||
                    name == "gdiplus.dll")
            << name;
    }
}
#endif

}  // namespace
