// The Windows editor draws the layout the Linux one draws: the Windows module's view, opened in a
// Windows host under wine on the tests' Xvfb, compared region by region with the Linux view in
// the same state (support/editor_pictures.h says how).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "editor_session.h"

namespace {

using namespace editortest;

TEST(Vst3EditorWindows, DrawsTheLinuxLayoutRegionByRegion) {
    REQUIRE_SERVER();
    const std::string output = picturePath("editor-windows.raw");
    std::remove(output.c_str());
    const std::string command = std::string("WINEDEBUG=-all WINEPREFIX='") + ZELKO_WINEPREFIX +
                                "' WINEDLLOVERRIDES='mscoree,mshtml=' '" + ZELKO_WINE + "' '" +
                                ZELKO_VST3_EDITOR_WINE_HOST + "' '" + ZELKO_WINDOWS_VST3_BUNDLE +
                                "' '" + output + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const xtest::Image windows = readWindowsPicture(output);
    ASSERT_EQ(windows.width, kWidth);
    windows.savePng(picturePath("editor-windows.png"));

    // The same state on Linux: silence at 48 kHz, the output threshold at its top.
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.plugin->controller->setParamNormalized(
        static_cast<ParamID>(Control::outputAgcThreshold), 1.0);
    session.run(8, false);
    const xtest::Image linux = session.shot();
    linux.savePng(picturePath("editor-linux.png"));

    expectSameLayout(linux, windows);
}

}  // namespace
