// The editor apart from any host: the output meter measures what it should, the hand-over never
// tears a snapshot, the picture shows the scene (drawn into a cairo image and read back by pixel),
// and the mouse turns into edits the way a user expects.
#include "editor/editor.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "editor/cairo_painter.h"
#include "support/cairo_caches.h"
#include "support/noise.h"

namespace {

using namespace editor;

// ---- the output meter ---------------------------------------------------------------------------

struct Stereo {
    std::vector<float> left, right;
};

Stereo sine(float amplitude, float rightGain, int frames, float rate = 48000.0f) {
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    for (int i = 0; i < frames; ++i) {
        s.left[i] = amplitude * std::sin(6.2831853f * 1000.0f * static_cast<float>(i) / rate);
        s.right[i] = rightGain * s.left[i];
    }
    return s;
}

void feed(OutputMeter& meter, const Stereo& s, int block = 256) {
    for (std::size_t at = 0; at < s.left.size(); at += block) {
        const int n = static_cast<int>(std::min<std::size_t>(block, s.left.size() - at));
        meter.step(s.left.data() + at, s.right.data() + at, n);
    }
}

TEST(OutputMeter, ReadsPeakRmsAndCorrelationOfASine) {
    OutputMeter meter;
    meter.reset(48000.0f);
    feed(meter, sine(0.5f, 1.0f, 3 * 48000));
    OutputLevels same = meter.levels();
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(same.peakDb[c], 20 * std::log10(0.5f), 0.05f);
        EXPECT_NEAR(same.rmsDb[c], 20 * std::log10(0.5f / std::sqrt(2.0f)), 0.1f);
    }
    EXPECT_NEAR(same.correlation, 1.0f, 1e-3f);

    meter.reset(48000.0f);
    feed(meter, sine(0.5f, -1.0f, 48000));
    EXPECT_NEAR(meter.levels().correlation, -1.0f, 1e-3f);
}

TEST(OutputMeter, SilenceSettlesOnTheFloorAndStaysThere) {
    OutputMeter meter;
    meter.reset(48000.0f);
    feed(meter, sine(1.0f, 0.3f, 4800));
    const Stereo silence{std::vector<float>(48000 * 10), std::vector<float>(48000 * 10)};
    feed(meter, silence);
    const OutputLevels settled = meter.levels();
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(settled.peakDb[c], OutputMeter::floorDb);
        EXPECT_EQ(settled.rmsDb[c], OutputMeter::floorDb);
    }
    EXPECT_EQ(settled.correlation, 0.0f);
    feed(meter, Stereo{std::vector<float>(512), std::vector<float>(512)});
    EXPECT_EQ(meter.levels(), settled);
}

TEST(OutputMeter, GoniometerHoldsTheLastFiftyMillisecondsTurnedSoThatMonoStandsUpright) {
    OutputMeter meter;
    meter.reset(48000.0f);
    const int span = meter.decimationFactor() * static_cast<int>(OutputMeter::pointCount);
    EXPECT_NEAR(span / 48000.0, OutputMeter::historySeconds, 0.005);
    // Left alone, then mono: after one full history of mono no left-only point is left.
    feed(meter, sine(0.5f, 0.0f, span));
    int leftOnly = 0;
    meter.copyPoints([&](std::size_t, GoniometerPoint p) {
        EXPECT_NEAR(p.side, p.mid, 1e-6f);
        leftOnly += p.mid != 0.0f;
    });
    EXPECT_GT(leftOnly, 200);
    feed(meter, sine(0.5f, 1.0f, span));
    meter.copyPoints([](std::size_t, GoniometerPoint p) { EXPECT_EQ(p.side, 0.0f); });
}

// ---- the hand-over ------------------------------------------------------------------------------

TEST(LatestValue, TheReaderGetsWholeValuesNewestFirstAndOnlyOnce) {
    struct Pair {
        std::uint64_t a = 0, b = 0;
    };
    LatestValue<Pair> exchange;
    EXPECT_FALSE(exchange.take());
    constexpr std::uint64_t last = 200000;
    std::thread producer([&] {
        for (std::uint64_t n = 1; n <= last; ++n) {
            exchange.writeSlot() = {n, ~n};
            exchange.publish();
        }
    });
    std::uint64_t seen = 0;
    while (seen != last) {
        if (!exchange.take()) continue;
        const Pair p = exchange.read();
        ASSERT_EQ(p.b, ~p.a);
        ASSERT_GT(p.a, seen);
        seen = p.a;
    }
    producer.join();
    EXPECT_FALSE(exchange.take());
}

// ---- the picture --------------------------------------------------------------------------------

// A scene drawn into an image at a scale, read back pixel by pixel.
class Picture {
  public:
    Picture(const Scene& scene, float scale)
        : s(scale),
          surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24,
                                             static_cast<int>(designWidth * scale),
                                             static_cast<int>(designHeight * scale))) {
        cairo_t* cr = cairo_create(surface);
        CairoPainter painter(cr);
        drawEditor(scene, painter, designWidth * scale, designHeight * scale, scale);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    ~Picture() { cairo_surface_destroy(surface); }
    Picture(const Picture&) = delete;

    // The pixel at a point in design units, as 0xRRGGBB.
    std::uint32_t at(float x, float y) const {
        const int px = static_cast<int>(x * s), py = static_cast<int>(y * s);
        const unsigned char* row =
            cairo_image_surface_get_data(surface) + py * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const std::uint32_t*>(row)[px] & 0xFFFFFF;
    }
    // How many pixels of a region (design units) differ from the same region of another picture.
    int differences(const Picture& other, const Rect& region) const {
        int count = 0;
        for (float y = region.y; y < region.bottom(); y += 1.0f / s) {
            for (float x = region.x; x < region.right(); x += 1.0f / s) {
                count += at(x, y) != other.at(x, y);
            }
        }
        return count;
    }
    // How many different colours a region holds: text and lines make more than a flat fill.
    int colours(const Rect& region) const {
        std::vector<std::uint32_t> seen;
        for (float y = region.y; y < region.bottom(); y += 1.0f / s) {
            for (float x = region.x; x < region.right(); x += 1.0f / s) {
                const std::uint32_t p = at(x, y);
                if (std::find(seen.begin(), seen.end(), p) == seen.end()) seen.push_back(p);
            }
        }
        return static_cast<int>(seen.size());
    }
    void save(const std::string& name) const {
        cairo_surface_write_to_png(surface,
                                   (std::string(ZELKO_EDITOR_PICTURES) + "/" + name).c_str());
    }

  private:
    float s;
    cairo_surface_t* surface;
};

Scene noisyScene() {
    Scene scene;
    scene.audio.latencySamples = 2658;
    scene.audio.sampleRate = 48000.0f;
    for (std::size_t m = 0; m < separatedBandCount; ++m) {
        scene.audio.meters.values[m] = 0.15f * static_cast<float>(m);
        scene.hold.values[m] = scene.audio.meters.values[m] + 0.1f;
    }
    scene.audio.meters[Meter::dnrBandwidth] = 4000.0f;
    scene.audio.meters[Meter::dnr2Bandwidth] = 12000.0f;
    OutputMeter meter;
    meter.reset(48000.0f);
    testsignal::Xorshift32 noise;
    std::vector<float> left(4800), right(4800);
    for (std::size_t i = 0; i < left.size(); ++i) {
        const float common = 0.3f * noise.bipolar();
        left[i] = common + 0.1f * noise.bipolar();
        right[i] = common + 0.1f * noise.bipolar();
    }
    meter.step(left.data(), right.data(), static_cast<int>(left.size()));
    scene.audio.takeFrom(meter);
    return scene;
}

// The top of a separation bar: its span's middle, just below the level it shows.
std::pair<float, float> barTop(const Scene& scene, std::size_t row) {
    const BandRow& band = bandTable[row];
    const Rect& plot = layout.bandPlot;
    const auto x = [&](float hz) {
        return plot.x + plot.w * std::log(hz / axisLowHz) / std::log(axisHighHz / axisLowHz);
    };
    const float middle = (x(band.lowEdge) + x(std::min(band.highEdge, axisHighHz))) / 2;
    const float level = scene.audio.meters.values[static_cast<std::size_t>(band.bandNumber - 3)];
    return {middle, plot.bottom() - plot.h * level / separationMaximum};
}

TEST(Picture, SeparationBarsRiseToTheirMetersOverTheirBands) {
    const Scene scene = noisyScene();
    const Picture picture(scene, 1.0f);
    picture.save("editor-test-noise.png");
    Picture(scene, 2.0f).save("editor-test-noise-2x.png");
    for (std::size_t row = 0; row < separatedBandCount; ++row) {
        const auto [x, top] = barTop(scene, row);
        if (top > layout.bandPlot.bottom() - 6) continue;  // too short to probe
        const std::uint32_t inside = picture.at(x, top + 4);
        const std::uint32_t above = picture.at(x, top - 6);
        EXPECT_NE(inside, above) << "band row " << row;
    }
    // Every band's bar has the same colour inside.
    const auto [x0, top0] = barTop(scene, 0);
    const auto [x1, top1] = barTop(scene, 1);
    EXPECT_EQ(picture.at(x0, top0 + 4), picture.at(x1, top1 + 4));
}

TEST(Picture, MetersAndGoniometerShowTheOutputAndNothingElseChanges) {
    const Scene noisy = noisyScene();
    Scene silent = noisy;
    silent.audio.levels = OutputLevels{};
    silent.audio.points = {};
    const Picture a(noisy, 1.0f), b(silent, 1.0f);
    EXPECT_GT(a.differences(b, layout.goniometer), 200);
    EXPECT_GT(a.differences(b, layout.levelBars[0]), 200);
    EXPECT_GT(a.differences(b, layout.levelBars[1]), 200);
    EXPECT_GT(a.differences(b, layout.correlation), 20);
    EXPECT_EQ(a.differences(b, layout.bands), 0);
    EXPECT_EQ(a.differences(b, layout.controls[0].cell), 0);
}

TEST(Picture, AControlShowsItsValueOnItsTrackAndInText) {
    Scene low = noisyScene(), high = low;
    low.controls[Control::outputAgcThreshold] = -12.0f;
    high.controls[Control::outputAgcThreshold] = 3.0f;
    const Picture a(low, 1.0f), b(high, 1.0f);
    const ControlCell& cell =
        layout.controls[static_cast<std::size_t>(Control::outputAgcThreshold)];
    EXPECT_GT(a.differences(b, cell.value), 20);
    const float y = cell.track.y + cell.track.h / 2;
    const float nearEnd = cell.track.right() - 8;
    EXPECT_NE(a.at(nearEnd, y), b.at(nearEnd, y));
    EXPECT_EQ(a.differences(b, layout.controls[0].cell), 0);
    // Every cell carries text: its name and its value.
    for (const ControlCell& c : layout.controls) {
        EXPECT_GT(a.colours(c.name), 4);
        EXPECT_GT(a.colours(c.value), 4);
    }
}

TEST(Picture, EveryTextFitsItsBoxAtTheSmallestScale) {
    // Text drawn past its box would reach the panel's edge colour; at the smallest scale the
    // names must still end inside their cells.
    const Scene scene = noisyScene();
    const Picture small(scene, minimumScale);
    small.save("editor-test-small.png");
    for (const ControlCell& c : layout.controls) {
        const Rect rightMargin{c.cell.right() - 7, c.name.y, 4, c.name.h};
        EXPECT_EQ(small.colours(rightMargin), 1);
    }
}

// ---- the peak hold ------------------------------------------------------------------------------

TEST(SeparationHold, HoldsAPeakThenFallsToTheMeterAndStops) {
    SeparationHold hold;
    MeterValues meters = MeterValues::lowest();
    meters.values[3] = 1.2f;
    hold.update(meters);
    meters.values[3] = 0.2f;
    for (int frame = 0; frame < SeparationHold::holdFrames; ++frame) hold.update(meters);
    EXPECT_EQ(hold.values[3], 1.2f);
    hold.update(meters);
    EXPECT_LT(hold.values[3], 1.2f);
    for (int frame = 0; frame < 200; ++frame) hold.update(meters);
    EXPECT_EQ(hold.values[3], 0.2f);
    const SeparationHold settled = hold;
    hold.update(meters);
    EXPECT_EQ(hold, settled);
}

// ---- the mouse ----------------------------------------------------------------------------------

struct Edit {
    char kind;  // 'b'egin, 'p'erform, 'e'nd
    Control control;
    double value;
};

struct Recorder final : EditSink {
    std::vector<Edit> edits;
    void beginEdit(Control c) override { edits.push_back({'b', c, 0.0}); }
    void performEdit(Control c, double v) override { edits.push_back({'p', c, v}); }
    void endEdit(Control c) override { edits.push_back({'e', c, 0.0}); }
    std::string kinds() const {
        std::string k;
        for (const Edit& e : edits) k += e.kind;
        return k;
    }
};

// The middle of a control's track in pixels at `scale`.
std::pair<float, float> trackMiddle(Control c, float scale) {
    const Rect t = layout.controls[static_cast<std::size_t>(c)].track.scaled(scale);
    return {t.x + t.w / 2, t.y + t.h / 2};
}

TEST(Interaction, ADragIsOneGestureOfSnappedValuesAndShiftMovesATenth) {
    const float scale = 1.5f;
    const ControlValues current = ControlValues::initial();
    const Control c = Control::autoEqThreshold;
    const ControlRecord& record = recordOf(c);
    const float trackWidth = layout.controls[1].track.w * scale;
    const auto [x, y] = trackMiddle(c, scale);

    Recorder coarse;
    Interaction mouse;
    mouse.press(x, y, {}, 10.0, scale, current, coarse);
    EXPECT_EQ(mouse.activeControl(), static_cast<int>(c));
    mouse.move(x - trackWidth / 3, y, {}, coarse);
    mouse.release(coarse);
    ASSERT_EQ(coarse.kinds(), "bpe");
    EXPECT_EQ(mouse.activeControl(), -1);
    const float coarseValue = record.fromNormalised(coarse.edits[1].value);
    EXPECT_EQ(coarseValue, std::round(coarseValue));  // on a whole step
    EXPECT_NEAR(coarseValue, record.range.initial - 30.0f, 1.0f);

    Recorder fine;
    mouse.press(x, y, {true}, 20.0, scale, current, fine);
    mouse.move(x - trackWidth / 3, y, {true}, fine);
    mouse.release(fine);
    ASSERT_EQ(fine.kinds(), "bpe");
    EXPECT_NEAR(record.fromNormalised(fine.edits[1].value), record.range.initial - 3.0f, 1.0f);
}

TEST(Interaction, ADoubleClickSetsTheDefaultAndASwitchToggles) {
    ControlValues current = ControlValues::initial();
    current[Control::noisegateGain] = 10.0f;
    Recorder edits;
    Interaction mouse;
    const auto [x, y] = trackMiddle(Control::noisegateGain, 1.0f);
    mouse.press(x, y, {}, 5.0, 1.0f, current, edits);
    mouse.release(edits);
    mouse.press(x, y, {}, 5.2, 1.0f, current, edits);
    mouse.release(edits);
    ASSERT_EQ(edits.kinds(), "bebpe");
    EXPECT_EQ(recordOf(Control::noisegateGain).fromNormalised(edits.edits[3].value),
              recordOf(Control::noisegateGain).range.initial);

    Recorder toggles;
    const auto [sx, sy] = trackMiddle(Control::dnrLpfDisable, 1.0f);
    mouse.press(sx, sy, {}, 9.0, 1.0f, current, toggles);
    mouse.release(toggles);
    ASSERT_EQ(toggles.kinds(), "bpe");
    EXPECT_EQ(toggles.edits[1].value, 1.0);
}

TEST(Interaction, TheWheelStepsTwoPercentOrOneStepWithShift) {
    const ControlValues current = ControlValues::initial();
    const Control c = Control::lowpassCutoff;
    const ControlRecord& record = recordOf(c);
    const auto [x, y] = trackMiddle(c, 1.0f);
    Interaction mouse;
    Recorder coarse, fine, nowhere;
    mouse.wheel(x, y, -1.0f, {}, 1.0f, current, coarse);
    mouse.wheel(x, y, -1.0f, {true}, 1.0f, current, fine);
    mouse.wheel(1.0f, 1.0f, -1.0f, {}, 1.0f, current, nowhere);
    ASSERT_EQ(coarse.kinds(), "bpe");
    ASSERT_EQ(fine.kinds(), "bpe");
    EXPECT_TRUE(nowhere.edits.empty());
    EXPECT_EQ(record.fromNormalised(coarse.edits[1].value), 22000.0f - 400.0f);
    EXPECT_EQ(record.fromNormalised(fine.edits[1].value), 22000.0f - 100.0f);
}

// ---- the value entry ---------------------------------------------------------------------------

// The middle of a control's value text in pixels at `scale`.
std::pair<float, float> valueMiddle(Control c, float scale) {
    const Rect& v = layout.controls[static_cast<std::size_t>(c)].value;
    return {(v.x + v.w / 2) * scale, (v.y + v.h / 2) * scale};
}

// A click on the value text opens the entry with the value shown and selected; typing replaces
// it, Enter sends one gesture of exactly the typed value held to the range, unit or not.
TEST(ValueEntry, AClickOnTheValueOpensItAndEnterSendsTheTypedValueExactly) {
    const ControlValues current = ControlValues::initial();
    const Control c = Control::autoEqThreshold;
    const ControlRecord& record = recordOf(c);
    const auto [x, y] = valueMiddle(c, 1.5f);
    Interaction mouse;
    Recorder edits;
    double seconds = 1.0;
    mouse.press(x, y, {}, seconds, 1.5f, current, edits);
    mouse.move(x + 2.0f, y, {}, edits);  // within a click's slop
    mouse.release(edits);
    ASSERT_TRUE(mouse.wantsKeyboard());
    EXPECT_EQ(mouse.entry().control, static_cast<int>(c));
    EXPECT_EQ(mouse.entry().view(), "-60 dB");
    EXPECT_TRUE(mouse.entry().selected);
    EXPECT_EQ(edits.kinds(), "be");  // the press and release, which sent no value

    for (const auto& [typed, expected] :
         {std::pair{"-40 dB", -40.0f}, std::pair{"-12.5", -12.5f}, std::pair{"  -3 db ", -3.0f},
          std::pair{"-200", -90.0f}, std::pair{"+7", 0.0f}}) {
        Recorder typedEdits;
        seconds += 1.0;
        mouse.press(x, y, {}, seconds, 1.5f, current, typedEdits);
        mouse.release(typedEdits);
        typedEdits.edits.clear();
        EXPECT_TRUE(mouse.type(typed));
        EXPECT_EQ(mouse.entry().view(), typed);
        EXPECT_TRUE(mouse.key(Key::enter, typedEdits));
        ASSERT_EQ(typedEdits.kinds(), "bpe") << typed;
        EXPECT_EQ(typedEdits.edits[1].control, c);
        EXPECT_EQ(record.fromNormalised(typedEdits.edits[1].value), expected) << typed;
        EXPECT_FALSE(mouse.wantsKeyboard());
    }
}

// A text that is no value is refused and sends nothing, and the entry stays to be corrected;
// Escape, focus loss, a press elsewhere and the wheel close it unsent.
TEST(ValueEntry, ARefusedTextChangesNothingAndEscapeFocusLossOrAPressElsewhereCancel) {
    const ControlValues current = ControlValues::initial();
    const Control c = Control::lowpassCutoff;
    const auto [x, y] = valueMiddle(c, 1.0f);
    Interaction mouse;
    Recorder edits;
    double seconds = 1.0;
    const auto open = [&] {
        seconds += 1.0;
        mouse.press(x, y, {}, seconds, 1.0f, current, edits);
        mouse.release(edits);
        edits.edits.clear();
        return mouse.wantsKeyboard();
    };
    ASSERT_TRUE(open());
    mouse.type("12 dB");  // the wrong unit
    mouse.key(Key::enter, edits);
    EXPECT_TRUE(edits.edits.empty());
    EXPECT_TRUE(mouse.entry().refused);
    EXPECT_TRUE(mouse.wantsKeyboard());
    // Corrected in place: the caret moves, Backspace and Delete take single characters.
    for (Key k : {Key::backspace, Key::backspace, Key::backspace, Key::home, Key::del})
        mouse.key(k, edits);
    mouse.type("3");
    mouse.key(Key::end, edits);
    mouse.type("000");
    EXPECT_EQ(mouse.entry().view(), "32000");
    EXPECT_FALSE(mouse.entry().refused);
    mouse.key(Key::enter, edits);
    ASSERT_EQ(edits.kinds(), "bpe");
    EXPECT_EQ(recordOf(c).fromNormalised(edits.edits[1].value), 22000.0f);

    for (int way = 0; way < 4; ++way) {
        ASSERT_TRUE(open()) << way;
        mouse.type("5000");
        if (way == 0) mouse.key(Key::escape, edits);
        if (way == 1) mouse.focusLost();
        if (way == 2) mouse.press(1.0f, 1.0f, {}, 50.0 + way, 1.0f, current, edits);
        if (way == 3) mouse.wheel(1.0f, 1.0f, 1.0f, {}, 1.0f, current, edits);
        EXPECT_FALSE(mouse.wantsKeyboard()) << way;
        EXPECT_TRUE(edits.edits.empty()) << way;
    }
}

// The mouse keeps its ways: a drag from the value text drags and opens nothing, a double-click
// there still sets the default, a click on the track opens nothing, and a press inside the open
// entry leaves it open. Ctrl+click opens the entry on any control, the switch too, which takes
// "on" and "off".
TEST(ValueEntry, DragsDoubleClicksAndSwitchesKeepTheirWaysAndCtrlClickOpensAnyControl) {
    ControlValues current = ControlValues::initial();
    const Control c = Control::noisegateGain;
    const auto [x, y] = valueMiddle(c, 1.0f);
    Interaction mouse;
    Recorder drag;
    mouse.press(x, y, {}, 1.0, 1.0f, current, drag);
    mouse.move(x - 40.0f, y, {}, drag);
    mouse.release(drag);
    EXPECT_EQ(drag.kinds(), "bpe");
    EXPECT_FALSE(mouse.wantsKeyboard());

    current[c] = 10.0f;
    Recorder twice;
    mouse.press(x, y, {}, 5.0, 1.0f, current, twice);
    mouse.release(twice);
    EXPECT_TRUE(mouse.wantsKeyboard());
    mouse.press(x, y, {}, 5.2, 1.0f, current, twice);
    mouse.release(twice);
    ASSERT_EQ(twice.kinds(), "bebpe");
    EXPECT_EQ(recordOf(c).fromNormalised(twice.edits[3].value), recordOf(c).range.initial);
    EXPECT_FALSE(mouse.wantsKeyboard());

    Recorder track;
    const auto [tx, ty] = trackMiddle(c, 1.0f);
    mouse.press(tx, ty, {}, 9.0, 1.0f, current, track);
    mouse.release(track);
    EXPECT_FALSE(mouse.wantsKeyboard());
    mouse.press(x, y, {}, 12.0, 1.0f, current, track);
    mouse.release(track);
    mouse.press(x, y, {}, 13.0, 1.0f, current, track);
    EXPECT_TRUE(mouse.wantsKeyboard());

    Recorder toggle;
    const auto [sx, sy] = trackMiddle(Control::dnrLpfDisable, 1.0f);
    mouse.press(sx, sy, {false, true}, 20.0, 1.0f, current, toggle);
    mouse.release(toggle);
    EXPECT_TRUE(toggle.edits.empty());
    EXPECT_EQ(mouse.entry().view(), "Off");
    mouse.type("ON");
    mouse.key(Key::enter, toggle);
    ASSERT_EQ(toggle.kinds(), "bpe");
    EXPECT_EQ(toggle.edits[1].value, 1.0);
}

// The entry draws in place of the value text alone: a field around the typed text, outlined red
// once refused.
TEST(Picture, TheValueEntryDrawsInPlaceOfTheValueText) {
    Scene plain;
    Scene typing = plain;
    typing.entry.control = static_cast<int>(Control::outputAgcThreshold);
    const std::string_view text = "-4";
    std::copy(text.begin(), text.end(), typing.entry.text.begin());
    typing.entry.length = typing.entry.caret = 2;
    Scene refused = typing;
    refused.entry.refused = true;
    const Picture before(plain, 1.0f), during(typing, 1.0f), after(refused, 1.0f);
    during.save("value-entry.png");
    const ControlCell& cell =
        layout.controls[static_cast<std::size_t>(Control::outputAgcThreshold)];
    EXPECT_GT(during.differences(before, cell.value), 200);
    EXPECT_GT(after.differences(during, cell.value), 100);
    EXPECT_EQ(during.differences(before, layout.bands), 0);
    for (std::size_t c = 0; c < controlCount; ++c) {
        if (&layout.controls[c] == &cell) continue;
        EXPECT_EQ(during.differences(before, layout.controls[c].cell), 0) << c;
    }
    const float middle = cell.value.y + cell.value.h / 2;
    EXPECT_EQ(after.at(cell.value.x - 2.5f, middle), 0xE6463C);  // the warning red's outline
}

}  // namespace
