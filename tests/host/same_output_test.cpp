// Every build of the plug-in is the same program: the test programme rendered through the Windows
// DLL under wine, and through a build with FMA and AVX2 enabled (still without contraction),
// equals the Linux module's render sample for sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/plugin_host.h"
#include "support/render_programme.h"

namespace {

std::vector<float> renderThrough(const char* path) {
    static testhost::HostRecorder recorder;
    testhost::Plugin plugin(recorder, path);
    if (!plugin) return {};
    plugin.dispatch(effOpen);
    return programme::render(plugin.effect());
}

// The first frame where two renders differ, or -1.
long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<long>(i / 2);
    }
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()) / 2);
}

}  // namespace

TEST(SameOutput, BuildWithFmaAndAvx2RendersTheSameBits) {
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        GTEST_SKIP() << "this processor has no AVX2 and FMA";
    // The copy is built by the full run (scripts/test.sh --full) or by its own target.
    if (!std::filesystem::exists(ZELKO_FMA_PLUGIN_PATH))
        GTEST_SKIP() << "the FMA copy is not built: cmake --build <dir> --target zelko_fma";
    const std::vector<float> baseline = renderThrough(ZELKO_PLUGIN_PATH);
    ASSERT_EQ(baseline.size(), 2u * programme::kFrames);
    ASSERT_NE(firstDifference(baseline, std::vector<float>(baseline.size())), -1) << "silent";
    EXPECT_EQ(firstDifference(baseline, renderThrough(ZELKO_FMA_PLUGIN_PATH)), -1);
}

#ifdef ZELKO_WINE_HOST
TEST(SameOutput, WindowsDllUnderWineRendersTheSameBits) {
    const std::vector<float> windows = renderUnderWine(
        ZELKO_WINE, ZELKO_WINEPREFIX, ZELKO_WINE_HOST, ZELKO_WINDOWS_DLL,
        std::string(ZELKO_WINE_OUTPUT_DIR) + "/wine_programme.raw", 2 * programme::kFrames);
    ASSERT_EQ(windows.size(), 2u * programme::kFrames);
    EXPECT_EQ(firstDifference(renderThrough(ZELKO_PLUGIN_PATH), windows), -1);
}
#endif
