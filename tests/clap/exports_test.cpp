// The CLAP modules export clap_entry and nothing else: a stray export can clash with a host's or
// another plug-in's symbol of the same name. Qtractor's scanner finds the Linux module as a host
// sees it, and the Windows module under wine renders the same bits.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/output_readings.h"
#include "support/clap_host.h"
#include "support/command.h"

namespace {

TEST(ClapExports, SharedObjectExportsTheEntryOnly) {
    EXPECT_EQ(linuxExports(ZELKO_NM, ZELKO_CLAP_MODULE), std::vector<std::string>{"clap_entry"});
}

#ifdef ZELKO_WINDOWS_CLAP
// The editor adds USER32 and GDI+, both part of every Windows.
TEST(ClapExports, WindowsModuleExportsTheEntryOnlyAndNeedsOnlySystemDlls) {
    const WindowsLinkage linkage = windowsLinkage(ZELKO_MINGW_OBJDUMP, ZELKO_WINDOWS_CLAP);
    EXPECT_EQ(linkage.exports, std::vector<std::string>{"clap_entry"});
    ASSERT_FALSE(linkage.imports.empty());
    for (const auto& name : linkage.imports) {
        EXPECT_TRUE(name == "KERNEL32.dll" || name == "msvcrt.dll" || name == "USER32.dll" ||
                    name == "gdiplus.dll")
            << name;
    }
}

TEST(ClapWindows, ModuleUnderWineRendersTheSameBitsAsLinux) {
    const std::vector<float> windows = renderUnderWine(
        ZELKO_WINE, ZELKO_WINEPREFIX, ZELKO_CLAP_WINE_HOST, ZELKO_WINDOWS_CLAP,
        std::string(ZELKO_WINE_OUTPUT_DIR) + "/wine_clap_programme.raw", 2 * programme::kFrames);
    ASSERT_EQ(windows.size(), 2u * programme::kFrames);
    const std::vector<float> linux =
        claphost::renderProgramme(claphost::loadFactory(ZELKO_CLAP_MODULE));
    ASSERT_EQ(linux.size(), windows.size());
    EXPECT_EQ(std::memcmp(linux.data(), windows.data(), linux.size() * sizeof(float)), 0);
}
#endif

// The scanner prints one line per plug-in: format|name|audio in:out|MIDI in:out|parameters
// in:out|flags|file|index|hash.
TEST(ClapQtractor, ScannerListsOneInputTwoOutputsAndTheParameters) {
    if (std::strlen(ZELKO_QTRACTOR_SCANNER) == 0 ||
        std::strstr(ZELKO_QTRACTOR_SCANNER, "NOTFOUND") != nullptr) {
        GTEST_SKIP() << "qtractor_plugin_scan is not installed (Debian package qtractor)";
    }
    const std::string command = std::string("echo 'CLAP:") + ZELKO_CLAP_MODULE +
                                "' | env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "
                                "LD_PRELOAD='" +
                                ZELKO_CLAP_PRELOAD + "' timeout 60 '" + ZELKO_QTRACTOR_SCANNER +
                                "' 2>/dev/null";
    int status = -1;
    const std::string listing = runCommand(command, &status);
    if (status != 0 && listing.empty()) {
        GTEST_SKIP() << "the scanner could not run here (status " << status << ")";
    }
    std::vector<std::string> fields;
    std::istringstream line(listing.substr(0, listing.find('\n')));
    for (std::string field; std::getline(line, field, '|');) fields.push_back(field);
    ASSERT_GE(fields.size(), 7u) << listing;
    EXPECT_EQ(fields[0], "CLAP");
    EXPECT_EQ(fields[1], "Comb Stereo Processor");
    EXPECT_EQ(fields[2], "1:2");
    EXPECT_EQ(fields[3], "0:0");
    // The controls and the bypass switch go in, the meters and the output's readings come out.
    EXPECT_EQ(fields[4], std::to_string(controlCount + 1) + ":" +
                             std::to_string(meterCount + outputReadingCount));
    EXPECT_EQ(fields[6], ZELKO_CLAP_MODULE);
}

}  // namespace
