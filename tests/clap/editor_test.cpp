// The CLAP GUI in our own host under Xvfb: embedded in an X11 window of the host, drawing on the
// host's timer and reading the X connection when the host's watch on it says so. It shows the
// output while audio runs, follows the host's values and loaded states, turns a mouse drag into
// one gesture of output events, and survives the ways hosts create, destroy and release it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clap/zelko_clap.h"
#include "support/clap_host.h"
#include "support/editor_pictures.h"
#include "support/noise.h"

namespace {

using namespace claphost;
using namespace editortest;

constexpr double kRate = 48000.0;
constexpr std::uint32_t kBlock = 512;

const clap_plugin_factory_t* factory() {
    static const clap_plugin_factory_t* loaded = loadFactory(ZELKO_CLAP_MODULE);
    return loaded;
}

const clap_plugin_gui_t* guiOf(const Instance& plugin) {
    return extensionOf<clap_plugin_gui_t>(plugin.plugin, CLAP_EXT_GUI);
}

// A GUI created, embedded in `parent` and shown, as hosts do it.
bool openGui(const Instance& plugin, Window parent) {
    const clap_plugin_gui_t* gui = guiOf(plugin);
    if (gui == nullptr || !gui->create(plugin.plugin, CLAP_WINDOW_API_X11, false)) return false;
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = parent;
    return gui->set_scale(plugin.plugin, 1.0) && gui->set_parent(plugin.plugin, &window) &&
           gui->show(plugin.plugin);
}

// A plug-in with its GUI open in a window of the test host.
class ClapEditorSession {
  public:
    explicit ClapEditorSession(xtest::Server& server, int x = 0)
        : display(server.display),
          plugin(std::make_unique<Instance>(factory(), kRate, kBlock)),
          noise(testsignal::noise(kBlock * 64, 5u)) {
        parent = xtest::hostWindow(display, kWidth, kHeight, x);
        opened = *plugin && openGui(*plugin, parent);
    }
    ~ClapEditorSession() {
        if (plugin && *plugin) guiOf(*plugin)->destroy(plugin->plugin);
        plugin.reset();
        XDestroyWindow(display, parent);
        XSync(display, False);
    }

    // One turn of the host's main loop, and the flush the plug-in asked for, as a host that is
    // not processing then makes.
    void turn() {
        plugin->host.serveMainLoop(plugin->plugin);
        if (plugin->host.flushRequested) plugin->flush();
    }
    // Blocks of noise or silence, a turn of the main loop after every fourth.
    void run(int blocks, bool loud) {
        const std::vector<float> silence(kBlock);
        std::vector<float> left(kBlock), right(kBlock);
        for (int b = 0; b < blocks; ++b) {
            const float* in = loud ? noise.data() + (b % 64) * kBlock : silence.data();
            plugin->process(in, left.data(), right.data(), kBlock);
            if (b % 4 == 3) turn();
        }
        settle();
    }
    // Turns until the GUI has drawn what it was sent; the X server draws on its own time.
    void settle() {
        for (int i = 0; i < 3; ++i) turn();
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        turn();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xtest::Image shot() { return xtest::capture(display, parent); }

    Display* display;
    std::unique_ptr<Instance> plugin;
    std::vector<float> noise;
    Window parent = 0;
    bool opened = false;
};

TEST(ClapGui, EmbedsInTheHostsX11WindowOnItsTimerAndDescriptor) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    const Instance& plugin = *session.plugin;
    const clap_plugin_gui_t* gui = guiOf(plugin);
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(plugin.plugin, &api, &floating));
    EXPECT_STREQ(api, CLAP_WINDOW_API_X11);
    EXPECT_FALSE(floating);
    EXPECT_TRUE(gui->is_api_supported(plugin.plugin, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->is_api_supported(plugin.plugin, CLAP_WINDOW_API_X11, true));
    EXPECT_FALSE(gui->is_api_supported(plugin.plugin, CLAP_WINDOW_API_WIN32, false));
    // One timer at about 30 Hz and the X connection's descriptor, watched for input.
    ASSERT_EQ(plugin.host.timers.size(), 1u);
    EXPECT_EQ(plugin.host.timers[0].second, 33u);
    ASSERT_EQ(plugin.host.fds.size(), 1u);
    EXPECT_EQ(plugin.host.fds[0].second, CLAP_POSIX_FD_READ);

    // Our window is the one child of the host's, at the size the GUI reports.
    Window root = 0, parentOfParent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(session.display, session.parent, &root, &parentOfParent, &children, &count);
    ASSERT_EQ(count, 1u);
    const Window ours = children[0];
    XFree(children);
    XWindowAttributes attributes;
    XGetWindowAttributes(session.display, ours, &attributes);
    std::uint32_t width = 0, height = 0;
    ASSERT_TRUE(gui->get_size(plugin.plugin, &width, &height));
    EXPECT_EQ(attributes.width, static_cast<int>(width));
    EXPECT_EQ(attributes.height, static_cast<int>(height));
    EXPECT_EQ(width, static_cast<std::uint32_t>(kWidth));
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_TRUE(gui->hide(plugin.plugin));
    session.settle();
    XGetWindowAttributes(session.display, ours, &attributes);
    EXPECT_EQ(attributes.map_state, IsUnmapped);
    EXPECT_TRUE(gui->show(plugin.plugin));

    // Floating windows and a second GUI are refused.
    EXPECT_FALSE(gui->set_transient(plugin.plugin, nullptr));
    EXPECT_FALSE(gui->create(plugin.plugin, CLAP_WINDOW_API_X11, false));
}

TEST(ClapGui, SizesKeepTheProportionsAndFollowTheHostsScale) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    const Instance& plugin = *session.plugin;
    const clap_plugin_gui_t* gui = guiOf(plugin);
    EXPECT_TRUE(gui->can_resize(plugin.plugin));
    clap_gui_resize_hints_t hints{};
    ASSERT_TRUE(gui->get_resize_hints(plugin.plugin, &hints));
    EXPECT_TRUE(hints.can_resize_horizontally && hints.can_resize_vertically &&
                hints.preserve_aspect_ratio);
    EXPECT_EQ(hints.aspect_ratio_width * 440u, hints.aspect_ratio_height * 800u);
    // The largest size of the proportions inside the one given, never below the smallest.
    std::uint32_t width = 1000, height = 1000;
    ASSERT_TRUE(gui->adjust_size(plugin.plugin, &width, &height));
    EXPECT_EQ(width, 1000u);
    EXPECT_EQ(height, 550u);
    width = 2000, height = 660;
    ASSERT_TRUE(gui->adjust_size(plugin.plugin, &width, &height));
    EXPECT_EQ(width, 1200u);
    EXPECT_EQ(height, 660u);
    width = 10, height = 10;
    ASSERT_TRUE(gui->adjust_size(plugin.plugin, &width, &height));
    EXPECT_EQ(width, 600u);
    EXPECT_EQ(height, 330u);
    // A scale of a shown GUI asks the host for the room.
    EXPECT_TRUE(gui->set_scale(plugin.plugin, 1.5));
    ASSERT_EQ(plugin.host.resizeRequests.size(), 1u);
    EXPECT_EQ(plugin.host.resizeRequests[0], std::make_pair(1200u, 660u));
    ASSERT_TRUE(gui->get_size(plugin.plugin, &width, &height));
    EXPECT_EQ(width, 1200u);
    EXPECT_FALSE(gui->set_scale(plugin.plugin, 0.0));
    EXPECT_TRUE(gui->set_size(plugin.plugin, 1000, 550));
    ASSERT_TRUE(gui->get_size(plugin.plugin, &width, &height));
    EXPECT_EQ(width, 1000u);
    EXPECT_EQ(height, 550u);
}

TEST(ClapGui, MetersFollowTheOutputAndStandStillInSilence) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    session.run(200, false);
    const xtest::Image quiet = session.shot();
    session.run(40, false);
    EXPECT_EQ(
        regionDifferences(quiet, session.shot(), {0, 0, editor::designWidth, editor::designHeight}),
        0);
    session.run(100, true);
    const xtest::Image loud = session.shot();
    loud.savePng(picturePath("editor-clap-noise.png"));
    expectOutputShown(quiet, loud);
}

TEST(ClapGui, HostValuesAndLoadedStatesRedrawTheirControlAlone) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    Instance& plugin = *session.plugin;
    session.settle();
    const xtest::Image before = session.shot();
    const auto agc = static_cast<std::size_t>(Control::outputAgcThreshold);
    plugin.changes.add(static_cast<clap_id>(agc), 0, controlRecords[agc].reach.maximum);
    plugin.flush();
    session.settle();
    const xtest::Image changed = session.shot();
    expectOnlyControlRedrawn(before, changed, agc);

    // A state saved with the low-pass at its lowest, loaded into this plug-in.
    const auto lowpass = static_cast<std::size_t>(Control::lowpassCutoff);
    std::vector<unsigned char> saved;
    {
        Instance other(factory(), kRate, kBlock);
        other.changes.add(static_cast<clap_id>(lowpass), 0, controlRecords[lowpass].reach.minimum);
        other.changes.add(static_cast<clap_id>(agc), 0, controlRecords[agc].reach.maximum);
        other.flush();
        saved = other.save();
    }
    ASSERT_TRUE(plugin.load(saved));
    session.settle();
    expectOnlyControlRedrawn(changed, session.shot(), lowpass);
}

TEST(ClapGui, ADragReachesTheHostAsOneGestureWithTheValueTheControlShows) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    Instance& plugin = *session.plugin;
    session.settle();
    plugin.sent.log.clear();
    const auto c = static_cast<std::size_t>(Control::autoEqThreshold);
    dragLeft(session.display, c, [&] { session.settle(); });

    // The host flushed when asked, and heard one gesture: begin, values, end.
    std::vector<SentEvent> edits;
    for (const SentEvent& e : plugin.sent.log) {
        if (e.id == c) edits.push_back(e);
    }
    ASSERT_GE(edits.size(), 3u);
    EXPECT_EQ(edits.front().type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(edits.back().type, CLAP_EVENT_PARAM_GESTURE_END);
    for (std::size_t i = 1; i + 1 < edits.size(); ++i) {
        EXPECT_EQ(edits[i].type, CLAP_EVENT_PARAM_VALUE);
    }
    const double sent = edits[edits.size() - 2].value;
    EXPECT_LT(sent, controlRecords[c].reach.initial);  // dragged left: lower
    EXPECT_EQ(plugin.value(static_cast<clap_id>(c)), sent);
    expectShowsValue(session.shot(), c, static_cast<float>(sent));

    // The plug-in runs with it: the next block sounds as one whose host set that value.
    Instance reference(factory(), kRate, kBlock);
    reference.changes.add(static_cast<clap_id>(c), 0, sent);
    std::vector<float> left(kBlock), right(kBlock), expectLeft(kBlock), expectRight(kBlock);
    plugin.process(session.noise.data(), left.data(), right.data(), kBlock);
    reference.process(session.noise.data(), expectLeft.data(), expectRight.data(), kBlock);
    EXPECT_EQ(left, expectLeft);
    EXPECT_EQ(right, expectRight);
}

TEST(ClapGui, TwoPluginsShowTwoGuisAtOnce) {
    REQUIRE_SERVER();
    ClapEditorSession first(*server), second(*server, 820);
    ASSERT_TRUE(first.opened && second.opened);
    const xtest::Image firstQuiet = first.shot(), secondQuiet = second.shot();
    first.run(60, true);
    second.run(8, false);
    EXPECT_GT(regionDifferences(firstQuiet, first.shot(), editor::layout.goniometer), 500);
    EXPECT_EQ(regionDifferences(secondQuiet, second.shot(), editor::layout.goniometer), 0);
    second.run(60, true);
    EXPECT_GT(regionDifferences(secondQuiet, second.shot(), editor::layout.goniometer), 500);
}

TEST(ClapGui, CreatedAndDestroyedAThousandTimesLeavesNothingBehind) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    Instance& plugin = *session.plugin;
    const clap_plugin_gui_t* gui = guiOf(plugin);
    gui->destroy(plugin.plugin);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(openGui(plugin, session.parent));
        session.turn();
        gui->destroy(plugin.plugin);
        ASSERT_TRUE(plugin.host.timers.empty() && plugin.host.fds.empty()) << i;
    }
    // The leak checker of the sanitized build reports anything left at exit.
}

TEST(ClapGui, DestroyedWhileAudioRunsOrAfterThePluginIsSafe) {
    REQUIRE_SERVER();
    ClapEditorSession session(*server);
    ASSERT_TRUE(session.opened);
    Instance& plugin = *session.plugin;
    const clap_plugin_gui_t* gui = guiOf(plugin);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> left(kBlock), right(kBlock);
        while (!stop.load()) {
            plugin.process(session.noise.data(), left.data(), right.data(), kBlock);
        }
    });
    for (int i = 0; i < 30; ++i) {
        gui->destroy(plugin.plugin);
        ASSERT_TRUE(openGui(plugin, session.parent));
        for (int t = 0; t < 3; ++t) plugin.host.serveMainLoop(plugin.plugin);
    }
    stop = true;
    audio.join();

    // The host destroys the plug-in with its GUI still created: the GUI goes with it and gives
    // back its timer and descriptor.
    const clap_plugin_t* raw = plugin.plugin;
    Host& host = plugin.host;
    plugin.deactivate();
    raw->destroy(raw);
    EXPECT_TRUE(host.timers.empty());
    EXPECT_TRUE(host.fds.empty());
    session.plugin->plugin = nullptr;
    session.plugin->params = nullptr;
}

TEST(ClapGui, WithoutTheHostsLoopOrADisplayItIsRefusedAndAudioRuns) {
    Instance plugin(factory(), kRate, kBlock);
    ASSERT_TRUE(plugin);
    const clap_plugin_gui_t* gui = guiOf(plugin);
    ASSERT_NE(gui, nullptr);
    std::vector<float> in(kBlock, 0.25f), left(kBlock), right(kBlock);

    // No display: the GUI is created (no connection yet) but does not embed.
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    setenv("DISPLAY", ":9999", 1);
    ASSERT_TRUE(gui->create(plugin.plugin, CLAP_WINDOW_API_X11, false));
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = 1;
    EXPECT_FALSE(gui->set_parent(plugin.plugin, &window));
    EXPECT_TRUE(plugin.host.fds.empty());
    EXPECT_EQ(plugin.process(in.data(), left.data(), right.data(), kBlock), CLAP_PROCESS_CONTINUE);
    gui->destroy(plugin.plugin);
    EXPECT_TRUE(plugin.host.timers.empty());
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");

    // A host without timers and a watch on descriptors gets no GUI.
    Host bare;
    bare.offersMainLoop = false;
    const clap_plugin_t* other =
        factory()->create_plugin(factory(), &bare.record, clapglue::kPluginId);
    ASSERT_TRUE(other && other->init(other));
    const auto* otherGui = extensionOf<clap_plugin_gui_t>(other, CLAP_EXT_GUI);
    EXPECT_FALSE(otherGui->is_api_supported(other, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(otherGui->create(other, CLAP_WINDOW_API_X11, false));
    other->destroy(other);
}

TEST(ClapGui, TheAudioIsTheSameWithAGuiOrWithout) {
    const std::vector<float> in = testsignal::noise(kBlock * 50, 3u);
    const auto render = [&](bool withGui) {
        Instance plugin(factory(), kRate, kBlock);
        if (withGui) {
            EXPECT_TRUE(guiOf(plugin)->create(plugin.plugin, CLAP_WINDOW_API_X11, false));
        }
        std::vector<float> left(kBlock), right(kBlock), out;
        for (std::uint32_t b = 0; b < 50; ++b) {
            if (b == 20) plugin.changes.add(2, 100, 20.0);
            plugin.process(in.data() + b * kBlock, left.data(), right.data(), kBlock);
            out.insert(out.end(), left.begin(), left.end());
            out.insert(out.end(), right.begin(), right.end());
        }
        if (withGui) guiOf(plugin)->destroy(plugin.plugin);
        return out;
    };
    const std::vector<float> without = render(false), with = render(true);
    ASSERT_EQ(without.size(), with.size());
    EXPECT_EQ(std::memcmp(without.data(), with.data(), without.size() * sizeof(float)), 0);
}

}  // namespace
