// The module must export VSTPluginMain and nothing else, on both targets: a stray export can
// clash with a host's or another plug-in's symbol of the same name.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace {

TEST(Exports, SharedObjectExportsOnlyVSTPluginMain) {
    EXPECT_EQ(linuxExports(ZELKO_NM, ZELKO_PLUGIN_PATH), std::vector<std::string>{"VSTPluginMain"});
}

// The chain's exp, tan and powers come from its own math unit: the C libraries' differ in the
// last bit between platforms and versions.
bool isLibraryMath(std::string name) {
    name = name.substr(0, name.find('@'));  // "expf@GLIBC_2.27"
    for (const char* math :
         {"exp", "expf", "tan", "tanf", "pow", "powf", "exp2", "exp2f", "exp10", "exp10f"}) {
        if (name == math) return true;
    }
    return false;
}

TEST(Exports, SharedObjectImportsNoLibraryExpTanOrPow) {
    std::istringstream lines(
        runCommand(std::string(ZELKO_NM) + " -D --undefined-only '" + ZELKO_PLUGIN_PATH + "'"));
    std::string line, type, name;
    int imports = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        if (!(fields >> type >> name)) continue;
        ++imports;
        EXPECT_FALSE(isLibraryMath(name)) << name;
    }
    EXPECT_GT(imports, 0);
}

#ifdef ZELKO_WINDOWS_DLL
// `objdump -p` lists the export directory's names under "[Ordinal/Name Pointer] Table" as
// "[   0] name" lines, ending at the first blank line.
std::vector<std::string> windowsExports(const std::string& path) {
    std::istringstream lines(
        runCommand(std::string(ZELKO_MINGW_OBJDUMP) + " -p '" + path + "' 2>&1"));
    std::vector<std::string> names;
    std::string line;
    bool inTable = false;
    while (std::getline(lines, line)) {
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        const auto close = line.find(']');
        if (line.find('[') == std::string::npos || close == std::string::npos) break;
        std::istringstream fields(line.substr(close + 1));
        std::string name;
        if (fields >> name) names.push_back(name);
    }
    return names;
}

TEST(Exports, DllExportsOnlyVSTPluginMain) {
    EXPECT_EQ(windowsExports(ZELKO_WINDOWS_DLL), std::vector<std::string>{"VSTPluginMain"});
}

// The DLL must run on a bare Windows: the GCC and C++ runtimes are linked in statically.
TEST(Exports, DllNeedsOnlySystemLibraries) {
    std::istringstream lines(
        runCommand(std::string(ZELKO_MINGW_OBJDUMP) + " -p '" + ZELKO_WINDOWS_DLL + "' 2>&1"));
    std::vector<std::string> imports;
    std::string line;
    while (std::getline(lines, line)) {
        const auto at = line.find("DLL Name: ");
        if (at != std::string::npos) imports.push_back(line.substr(at + 10));
    }
    ASSERT_FALSE(imports.empty());
    for (const auto& name : imports) {
        EXPECT_TRUE(name == "KERNEL32.dll" || name == "msvcrt.dll") << name;
    }
}

// Each imported DLL's table lists "vma hint name" rows up to a blank line.
TEST(Exports, DllImportsNoLibraryExpTanOrPow) {
    std::istringstream lines(
        runCommand(std::string(ZELKO_MINGW_OBJDUMP) + " -p '" + ZELKO_WINDOWS_DLL + "' 2>&1"));
    std::string line;
    bool inTable = false;
    int imports = 0;
    while (std::getline(lines, line)) {
        if (line.find("DLL Name: ") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (line.find_first_not_of(" \t") == std::string::npos) inTable = false;
        if (!inTable) continue;
        std::istringstream fields(line);
        std::string vma, hint, name;
        if (!(fields >> vma >> hint >> name)) continue;
        ++imports;
        EXPECT_FALSE(isLibraryMath(name)) << name;
    }
    EXPECT_GT(imports, 0);
}
#endif

}  // namespace
