// The Windows editor draws the layout the Linux one draws: the Windows module's view, opened in a
// Windows host under wine on the tests' Xvfb, compared region by region with the Linux view in
// the same state (support/editor_pictures.h says how). The host then types into the view through
// Windows' own input, and the edits it prints show a typed value reaching the host exactly and a
// refused text sending nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "editor_session.h"
#include "support/command.h"

namespace {

using namespace editortest;

TEST(Vst3EditorWindows, DrawsTheLinuxLayoutRegionByRegionAndTakesTypedValues) {
    REQUIRE_SERVER();
    const std::string output = picturePath("editor-windows.raw");
    std::remove(output.c_str());
    const std::string command = std::string("WINEDEBUG=-all WINEPREFIX='") + ZELKO_WINEPREFIX +
                                "' WINEDLLOVERRIDES='mscoree,mshtml=' '" + ZELKO_WINE + "' '" +
                                ZELKO_VST3_EDITOR_WINE_HOST + "' '" + ZELKO_WINDOWS_VST3_BUNDLE +
                                "' '" + output + "'";
    int status = -1;
    const std::string said = runCommand(command, &status);
    ASSERT_EQ(status, 0) << command << "\n" << said;
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

    // The typing: the first click's begin and end, the typed value's gesture, the second click's
    // begin and end, and nothing for "loud" or Escape.
    std::istringstream lines(said);
    std::string kinds;
    std::vector<double> values;
    for (std::string word; lines >> word;) {
        if (word != "edit") continue;
        char kind = 0;
        unsigned id = 0;
        double value = 0.0;
        lines >> kind >> id >> value;
        EXPECT_EQ(id, static_cast<unsigned>(Control::autoEqThreshold));
        kinds += kind;
        if (kind == 'p') values.push_back(value);
    }
    EXPECT_EQ(kinds, "bebpebe") << said;
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(recordOf(Control::autoEqThreshold).fromNormalised(values[0]), -40.0f);
}

}  // namespace
