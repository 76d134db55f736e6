// The VST 3 editor in a test host of our own under Xvfb (editor_session.h). The view shows the
// output while audio runs and stands still in silence, follows the host's values, turns a mouse
// drag into one edit gesture whose value it then shows, takes typed values, and survives the ways
// hosts open, close and release it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "editor_session.h"
#include "support/cairo_caches.h"
#include "vst3/parameters.h"

namespace {

using namespace editortest;

TEST(Vst3Editor, MetersAndGoniometerFollowTheOutputAndStandStillInSilence) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_NE(session.view, nullptr);
    ASSERT_EQ(session.attached, kResultOk);
    EXPECT_EQ(session.frame.intervals, std::vector<Linux::TimerInterval>{33});

    session.run(200, false);
    const xtest::Image quiet = session.shot();
    session.run(40, false);
    const xtest::Image stillQuiet = session.shot();
    EXPECT_EQ(
        regionDifferences(quiet, stillQuiet, {0, 0, editor::designWidth, editor::designHeight}), 0);

    session.run(100, true);
    const xtest::Image loud = session.shot();
    loud.savePng(picturePath("editor-vst3-noise.png"));
    expectOutputShown(quiet, loud);
}

// Something like music: eleven tones across the bands, each swelling at a rate of its own, over
// quiet noise.
std::vector<float> programme(int frames) {
    std::vector<float> signal = testsignal::noise(static_cast<std::size_t>(frames), 11u);
    constexpr float tones[] = {250, 370, 560, 820, 1250, 1900, 2800, 4200, 6300, 9500, 14000};
    for (int i = 0; i < frames; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(kRate);
        float sum = 0.3f * signal[static_cast<std::size_t>(i)];
        for (int k = 0; k < 11; ++k) {
            const float swell = 0.5f + 0.5f * std::sin(6.2831853f * (0.7f + 0.37f * k) * t);
            sum += 0.08f * swell * std::sin(6.2831853f * tones[k] * t);
        }
        signal[static_cast<std::size_t>(i)] = sum;
    }
    return signal;
}

// The same programme with the noise gate low (every band stays near mono) and at its top (the
// bands spread): the correlation bar, which grows from the middle toward +1, reaches far less
// far in the wide setting.
TEST(Vst3Editor, TheCorrelationMeterTellsAWideSettingFromAMonoCompatibleOne) {
    REQUIRE_SERVER();
    const std::vector<float> music = programme(kBlock * 200);
    const auto shoot = [&](double gate, const char* name) {
        EditorSession session(*server);
        session.plugin->changes.add(static_cast<ParamID>(Control::noisegateGain), 0, gate);
        session.plugin->controller->setParamNormalized(static_cast<ParamID>(Control::noisegateGain),
                                                       gate);
        session.run(400, music);
        xtest::Image image = session.shot();
        image.savePng(picturePath(name));
        return image;
    };
    const xtest::Image mono = shoot(0.3, "editor-vst3-mono.png");
    const xtest::Image wide = shoot(1.0, "editor-vst3-wide.png");
    const Rect& bar = editor::layout.correlationBar;
    // Three quarters of the way toward +1.
    const int x = static_cast<int>(bar.x + bar.w * 0.875f), y = static_cast<int>(bar.y + bar.h / 2);
    const int middle = static_cast<int>(bar.x + bar.w * 0.5f) + 3;
    EXPECT_EQ(mono.at(x, y), mono.at(middle, y));
    EXPECT_NE(wide.at(x, y), wide.at(middle, y));
    EXPECT_GT(regionDifferences(mono, wide, editor::layout.bandPlot), 500);
}

TEST(Vst3Editor, AValueFromTheHostRedrawsItsControlAlone) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.settle();
    const xtest::Image before = session.shot();
    const auto agc = static_cast<std::size_t>(Control::outputAgcThreshold);
    session.plugin->controller->setParamNormalized(static_cast<ParamID>(agc), 1.0);
    session.settle();
    expectOnlyControlRedrawn(before, session.shot(), agc);
}

TEST(Vst3Editor, ADragReachesTheHostAsOneGestureWithTheValueTheControlShows) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.settle();
    const auto c = static_cast<std::size_t>(Control::autoEqThreshold);
    dragLeft(session.display, c, [&] { session.settle(); });

    const std::vector<Edit>& edits = session.handler.edits;
    ASSERT_GE(edits.size(), 3u);
    EXPECT_EQ(edits.front().kind, 'b');
    EXPECT_EQ(edits.back().kind, 'e');
    for (const Edit& e : edits) EXPECT_EQ(e.id, c);
    for (std::size_t i = 1; i + 1 < edits.size(); ++i) EXPECT_EQ(edits[i].kind, 'p');
    const ParamValue sent = edits[edits.size() - 2].value;
    EXPECT_EQ(session.plugin->controller->getParamNormalized(static_cast<ParamID>(c)), sent);

    // What the window shows in the control's value is the drawing of the value sent.
    expectShowsValue(session.shot(), c, controlRecords[c].fromNormalised(sent));
}

// A click on a value opens the entry in place; "-40 dB" typed and Enter reach the host as one
// gesture of exactly -40 dB, which the control then shows. A text that is no value, typed and
// entered, sends nothing and changes nothing, and Escape closes the entry.
TEST(Vst3Editor, ATypedValueReachesTheHostExactlyAndARefusedTextChangesNothing) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.settle();
    const xtest::Image before = session.shot();
    const auto c = static_cast<std::size_t>(Control::autoEqThreshold);
    const Rect value = editor::layout.controls[c].value;
    const int x = static_cast<int>(value.x + value.w / 2), y = static_cast<int>(value.y + 10);
    // The X server draws on its own time: a picture is awaited for up to two seconds.
    const auto shotWhen = [&](auto shows) {
        xtest::Image image = session.shot();
        for (int tries = 0; tries < 20 && !shows(image); ++tries) {
            session.settle();
            image = session.shot();
        }
        return image;
    };
    xtest::click(session.display, x, y);
    session.settle();
    const xtest::Image opened =
        shotWhen([&](const xtest::Image& i) { return regionDifferences(before, i, value) > 100; });
    opened.savePng(picturePath("editor-vst3-entry.png"));
    EXPECT_GT(regionDifferences(before, opened, value), 100);  // the entry, in place
    xtest::type(session.display, "-40 dB");
    xtest::key(session.display, XK_Return);
    session.settle();

    const std::vector<Edit>& edits = session.handler.edits;
    ASSERT_EQ(edits.size(), 5u);  // the click's begin and end, then the typed value's gesture
    EXPECT_EQ(edits[2].kind, 'b');
    EXPECT_EQ(edits[3].kind, 'p');
    EXPECT_EQ(edits[4].kind, 'e');
    for (const Edit& e : edits) EXPECT_EQ(e.id, c);
    const ParamValue sent = edits[3].value;
    EXPECT_EQ(controlRecords[c].fromNormalised(sent), -40.0f);
    EXPECT_EQ(session.plugin->controller->getParamNormalized(static_cast<ParamID>(c)), sent);
    editor::Scene expected;
    expected.controls.values[c] = -40.0f;
    const xtest::Image typed = session.shot();
    EXPECT_LT(regionDifferences(typed, offline(expected), editor::layout.controls[c].cell), 10);

    xtest::click(session.display, x, y);
    session.settle();
    xtest::type(session.display, "loud");
    xtest::key(session.display, XK_Return);
    session.settle();
    const xtest::Image refused =
        shotWhen([&](const xtest::Image& i) { return regionDifferences(i, typed, value) > 20; });
    xtest::key(session.display, XK_Escape);
    session.settle();
    EXPECT_EQ(edits.size(), 7u);  // the second click's begin and end alone
    EXPECT_EQ(session.plugin->controller->getParamNormalized(static_cast<ParamID>(c)), sent);
    EXPECT_GT(regionDifferences(refused, typed, value), 20);  // the refused text, outlined
    EXPECT_EQ(regionDifferences(session.shot(), typed, editor::layout.controls[c].cell), 0);
}

TEST(Vst3Editor, SizeFollowsTheHostsScaleAndConstraintsKeepTheProportions) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    void* object = nullptr;
    ASSERT_EQ(session.view->queryInterface(IPlugViewContentScaleSupport::iid.bytes, &object),
              kResultOk);
    auto* scaling = static_cast<IPlugViewContentScaleSupport*>(object);
    EXPECT_EQ(scaling->setContentScaleFactor(1.5f), kResultTrue);
    scaling->release();
    ViewRect size{};
    ASSERT_EQ(session.view->getSize(&size), kResultOk);
    EXPECT_EQ(session.frame.resizeRequests, 1);
    EXPECT_EQ(size.right - size.left, kWidth * 3 / 2);
    EXPECT_EQ(size.bottom - size.top, kHeight * 3 / 2);

    EXPECT_EQ(session.view->canResize(), kResultTrue);
    ViewRect tiny{0, 0, 10, 900};
    ASSERT_EQ(session.view->checkSizeConstraint(&tiny), kResultTrue);
    EXPECT_EQ(tiny.right, static_cast<int>(kWidth * editor::minimumScale));
    EXPECT_EQ(tiny.bottom, static_cast<int>(kHeight * editor::minimumScale));
}

TEST(Vst3Editor, TwoViewsAtOnceBothShowTheOutput) {
    REQUIRE_SERVER();
    EditorSession first(*server);
    ASSERT_EQ(first.attached, kResultOk);
    const Window secondParent = xtest::hostWindow(server->display, kWidth, kHeight, 820);
    IPlugView* second = first.plugin->controller->createView(kEditorViewName);
    ASSERT_NE(second, nullptr);
    second->setFrame(&first.frame);
    ASSERT_EQ(
        second->attached(reinterpret_cast<void*>(secondParent), kPlatformTypeX11EmbedWindowID),
        kResultOk);
    first.run(8, false);
    const xtest::Image quiet = xtest::capture(server->display, secondParent);
    const xtest::Image firstQuiet = first.shot();
    first.run(60, true);
    EXPECT_GT(regionDifferences(quiet, xtest::capture(server->display, secondParent),
                                editor::layout.goniometer),
              500);
    EXPECT_GT(regionDifferences(firstQuiet, first.shot(), editor::layout.goniometer), 500);
    second->removed();
    second->release();
    XDestroyWindow(server->display, secondParent);
}

TEST(Vst3Editor, OpeningAndClosingAThousandTimesLeavesNothingBehind) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.view->removed();
    for (int i = 0; i < 1000; ++i) {
        IPlugView* view = session.plugin->controller->createView(kEditorViewName);
        ASSERT_NE(view, nullptr);
        view->setFrame(&session.frame);
        ASSERT_EQ(
            view->attached(reinterpret_cast<void*>(session.parent), kPlatformTypeX11EmbedWindowID),
            kResultOk);
        session.frame.turn();
        view->removed();
        view->release();
    }
    // Every registration was taken back and every reference to the frame returned.
    EXPECT_TRUE(session.frame.handlers.empty());
    EXPECT_TRUE(session.frame.timers.empty());
    EXPECT_EQ(session.frame.references, 0);
    // The leak checker of the sanitized build reports anything left at exit.
}

TEST(Vst3Editor, ClosingWhileAudioRunsAndReleasingThePluginFirstAreSafe) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> left(kBlock), right(kBlock);
        while (!stop.load()) {
            session.plugin->process(session.noise.data(), left.data(), right.data(), kBlock);
        }
    });
    for (int i = 0; i < 30; ++i) {
        IPlugView* view = session.plugin->controller->createView(kEditorViewName);
        view->setFrame(&session.frame);
        view->attached(reinterpret_cast<void*>(session.parent), kPlatformTypeX11EmbedWindowID);
        for (int t = 0; t < 3; ++t) session.frame.turn();
        view->removed();
        view->release();
    }
    stop = true;
    audio.join();

    // The host lets go of the plug-in while the first view is still attached, then keeps the
    // view running for a while before it removes it.
    session.plugin.reset();
    for (int t = 0; t < 10; ++t) session.frame.turn();
    EXPECT_EQ(session.view->removed(), kResultOk);
    session.view->release();
    session.view = nullptr;
}

// Some hosts destroy their window, and the view's inside it, before they remove the view.
TEST(Vst3Editor, AHostWindowDestroyedBeforeTheViewIsRemovedCostsNothingWorse) {
    REQUIRE_SERVER();
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.run(8, true);
    XDestroyWindow(server->display, session.parent);
    XSync(server->display, False);
    session.run(40, true);
    EXPECT_EQ(session.view->removed(), kResultOk);
    session.view->release();
    session.view = nullptr;
    // The next view in a new window works as ever.
    session.parent = xtest::hostWindow(server->display, kWidth, kHeight);
    session.view = session.plugin->controller->createView(kEditorViewName);
    session.view->setFrame(&session.frame);
    ASSERT_EQ(session.view->attached(reinterpret_cast<void*>(session.parent),
                                     kPlatformTypeX11EmbedWindowID),
              kResultOk);
    session.run(40, false);
    const xtest::Image quiet = session.shot();
    session.run(60, true);
    EXPECT_GT(regionDifferences(quiet, session.shot(), editor::layout.goniometer), 500);
}

TEST(Vst3Editor, TheAudioIsTheSameWithAnEditorOpenOrNever) {
    const std::vector<float> in = testsignal::noise(kBlock * 50, 3u);
    const auto render = [&](bool withView) {
        Instance plugin(factory(), kRate, kBlock);
        IPlugView* view = withView ? plugin.controller->createView(kEditorViewName) : nullptr;
        std::vector<float> left(kBlock), right(kBlock), out;
        for (int b = 0; b < 50; ++b) {
            if (b == 20) plugin.changes.add(2, 100, 0.2);
            plugin.process(const_cast<float*>(in.data()) + b * kBlock, left.data(), right.data(),
                           kBlock);
            out.insert(out.end(), left.begin(), left.end());
            out.insert(out.end(), right.begin(), right.end());
        }
        if (view) view->release();
        return out;
    };
    const std::vector<float> never = render(false), open = render(true);
    ASSERT_EQ(never.size(), open.size());
    EXPECT_EQ(std::memcmp(never.data(), open.data(), never.size() * sizeof(float)), 0);
}

TEST(Vst3Editor, WithoutADisplayTheViewRefusesToAttachAndAudioStillRuns) {
    Instance plugin(factory(), kRate, kBlock);
    ASSERT_TRUE(plugin);
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    setenv("DISPLAY", ":9999", 1);
    IPlugView* view = plugin.controller->createView(kEditorViewName);
    ASSERT_NE(view, nullptr);
    HostFrame frame;
    view->setFrame(&frame);
    EXPECT_EQ(view->attached(reinterpret_cast<void*>(1), kPlatformTypeX11EmbedWindowID),
              kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultFalse);
    std::vector<float> in(kBlock, 0.25f), left(kBlock), right(kBlock);
    EXPECT_EQ(plugin.process(in.data(), left.data(), right.data(), kBlock), kResultOk);
    view->release();
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
    EXPECT_EQ(frame.references, 0);
}

}  // namespace
