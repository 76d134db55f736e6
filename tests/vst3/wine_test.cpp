// The Windows module is the same program: loaded by a Windows loader under wine into the same
// compact host, it renders the test programme exactly as the Linux module does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/render_programme.h"
#include "support/vst3_host.h"

namespace {

#ifdef ZELKO_VST3_WINE_HOST
TEST(Vst3Windows, ModuleUnderWineRendersTheSameBitsAsLinux) {
    const std::vector<float> windows = renderUnderWine(
        ZELKO_WINE, ZELKO_WINEPREFIX, ZELKO_VST3_WINE_HOST, ZELKO_WINDOWS_VST3_BUNDLE,
        std::string(ZELKO_WINE_OUTPUT_DIR) + "/wine_vst3_programme.raw", 2 * programme::kFrames);
    ASSERT_EQ(windows.size(), 2u * programme::kFrames);
    const std::vector<float> linux = vst3host::renderProgramme(
        vst3host::loadFactory(vst3host::moduleInBundle(ZELKO_VST3_BUNDLE)));
    ASSERT_EQ(linux.size(), windows.size());
    EXPECT_EQ(std::memcmp(linux.data(), windows.data(), linux.size() * sizeof(float)), 0);
}
#endif

}  // namespace
