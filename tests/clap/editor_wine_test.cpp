// The Windows CLAP module's GUI draws the layout the Linux one draws: opened through "win32" in a
// Windows host under wine on the tests' Xvfb, and compared region by region with the Linux GUI in
// the same state (support/editor_pictures.h says how).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "support/clap_host.h"
#include "support/editor_pictures.h"

namespace {

using namespace claphost;
using namespace editortest;

TEST(ClapGuiWindows, DrawsTheLinuxLayoutRegionByRegion) {
    REQUIRE_SERVER();
    const std::string output = picturePath("editor-clap-windows.raw");
    std::remove(output.c_str());
    const std::string command = std::string("WINEDEBUG=-all WINEPREFIX='") + ZELKO_WINEPREFIX +
                                "' WINEDLLOVERRIDES='mscoree,mshtml=' '" + ZELKO_WINE + "' '" +
                                ZELKO_CLAP_WINE_HOST + "' --editor '" + ZELKO_WINDOWS_CLAP + "' '" +
                                output + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const xtest::Image windows = readWindowsPicture(output);
    ASSERT_EQ(windows.width, kWidth);
    windows.savePng(picturePath("editor-clap-windows.png"));

    // The same state on Linux: silence at 48 kHz, the output threshold at its top.
    Instance plugin(loadFactory(ZELKO_CLAP_MODULE), 48000.0, 512);
    ASSERT_TRUE(plugin);
    const auto* gui = extensionOf<clap_plugin_gui_t>(plugin.plugin, CLAP_EXT_GUI);
    const Window parent = xtest::hostWindow(server->display, kWidth, kHeight);
    ASSERT_TRUE(gui->create(plugin.plugin, CLAP_WINDOW_API_X11, false));
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = parent;
    ASSERT_TRUE(gui->set_parent(plugin.plugin, &window));
    const auto agc = static_cast<clap_id>(Control::outputAgcThreshold);
    plugin.changes.add(agc, 0, controlRecords[agc].reach.maximum);
    plugin.flush();
    std::vector<float> in(512), left(512), right(512);
    for (int b = 0; b < 8; ++b) plugin.process(in.data(), left.data(), right.data(), 512);
    for (int turn = 0; turn < 4; ++turn) {
        plugin.host.serveMainLoop(plugin.plugin);
        XSync(server->display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    const xtest::Image linux = xtest::capture(server->display, parent);
    linux.savePng(picturePath("editor-clap-linux.png"));
    gui->destroy(plugin.plugin);
    XDestroyWindow(server->display, parent);

    expectSameLayout(linux, windows);
}

}  // namespace
