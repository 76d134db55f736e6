// What the editor tests of every format share: pictures of the editor's window under the tests'
// Xvfb (x11_display.h) compared region by region with each other and with the editor drawn
// offline, the mouse drag that edits a control, and the comparison of a Windows picture, taken
// under wine, with the Linux one. A suite that saves pictures defines ZELKO_EDITOR_PICTURES.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor/cairo_painter.h"
#include "editor/editor.h"
#include "support/cairo_caches.h"
#include "support/x11_display.h"

namespace editortest {

inline const int kWidth = static_cast<int>(editor::designWidth);
inline const int kHeight = static_cast<int>(editor::designHeight);

inline int regionDifferences(const xtest::Image& a, const xtest::Image& b, const Rect& r) {
    return a.differences(b, static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.w),
                         static_cast<int>(r.h));
}

// The editor as the drawing function paints it offline, for comparison with the window.
inline xtest::Image offline(const editor::Scene& scene) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    {
        editor::CairoPainter painter(cr);
        editor::drawEditor(scene, painter, kWidth, kHeight, 1.0f);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    xtest::Image image{kWidth, kHeight, {}};
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                           y * stride);
        for (int x = 0; x < kWidth; ++x) image.pixels.push_back(row[x] & 0xFFFFFF);
    }
    cairo_surface_destroy(surface);
    return image;
}

#ifdef ZELKO_EDITOR_PICTURES
inline std::string picturePath(const char* name) {
    return std::string(ZELKO_EDITOR_PICTURES) + "/" + name;
}
#endif

#define REQUIRE_SERVER()                          \
    xtest::Server* server = xtest::Server::get(); \
    if (server == nullptr) GTEST_SKIP() << "no Xvfb on this machine"

// What noise changes against silence: the goniometer, both level meters, the correlation and
// the band plot.
inline void expectOutputShown(const xtest::Image& quiet, const xtest::Image& loud) {
    EXPECT_GT(regionDifferences(quiet, loud, editor::layout.goniometer), 500);
    EXPECT_GT(regionDifferences(quiet, loud, editor::layout.levelBars[0]), 500);
    EXPECT_GT(regionDifferences(quiet, loud, editor::layout.levelBars[1]), 500);
    EXPECT_GT(regionDifferences(quiet, loud, editor::layout.correlation), 50);
    EXPECT_GT(regionDifferences(quiet, loud, editor::layout.bandPlot), 500);
}

// A value from the host changed control `changed` alone: its value and track, no other cell.
inline void expectOnlyControlRedrawn(const xtest::Image& before, const xtest::Image& after,
                                     std::size_t changed) {
    EXPECT_GT(regionDifferences(before, after, editor::layout.controls[changed].value), 20);
    EXPECT_GT(regionDifferences(before, after, editor::layout.controls[changed].track), 20);
    for (std::size_t c = 0; c < controlCount; ++c) {
        if (c == changed) continue;
        EXPECT_EQ(regionDifferences(before, after, editor::layout.controls[c].cell), 0) << c;
    }
}

// The mouse pressed in the middle of a control's track, dragged 40 pixels left in four steps
// (the view drawing after each) and released.
inline void dragLeft(Display* display, std::size_t control, const std::function<void()>& settle) {
    const Rect track = editor::layout.controls[control].track;
    const int x = static_cast<int>(track.x + track.w / 2), y = static_cast<int>(track.y + 4);
    xtest::moveTo(display, x, y);
    xtest::button(display, true);
    for (int step = 1; step <= 4; ++step) {
        xtest::moveTo(display, x - 10 * step, y);
        settle();
    }
    xtest::button(display, false);
    settle();
}

// The control's value as the window shows it is the drawing of `value`, and not the default's.
inline void expectShowsValue(const xtest::Image& shown, std::size_t control, float value) {
    editor::Scene expected;
    expected.controls.values[control] = value;
    const Rect region = editor::layout.controls[control].value;
    EXPECT_LT(regionDifferences(shown, offline(expected), region), 10);
    EXPECT_GT(regionDifferences(shown, offline(editor::Scene{}), region), 20);
}

// ---- Windows against Linux ---------------------------------------------------------------------
// Regions without text must match within kShapeTolerance (mean difference per colour channel).
// The two systems' fonts differ (DejaVu Sans on Linux, Liberation Sans under wine, Segoe UI on
// Windows), so a text region is compared by its ink, the pixels that are not its background:
// Windows must put down between kInkRatio[0] and kInkRatio[1] times Linux's.
inline constexpr double kShapeTolerance = 3.0;
inline constexpr double kInkRatio[2] = {0.5, 1.5};

// Pixels of a region that differ from its commonest colour.
inline int ink(const xtest::Image& image, const Rect& r) {
    std::map<std::uint32_t, int> counts;
    int total = 0;
    for (int y = static_cast<int>(r.y); y < static_cast<int>(r.bottom()); ++y) {
        for (int x = static_cast<int>(r.x); x < static_cast<int>(r.right()); ++x) {
            ++counts[image.at(x, y)];
            ++total;
        }
    }
    int background = 0;
    for (const auto& [colour, count] : counts) background = std::max(background, count);
    return total - background;
}

// Mean absolute difference per colour channel, 0 ... 255, over a region.
inline double meanDifference(const xtest::Image& a, const xtest::Image& b, const Rect& r) {
    double sum = 0.0;
    int count = 0;
    for (int y = static_cast<int>(r.y); y < static_cast<int>(r.bottom()); ++y) {
        for (int x = static_cast<int>(r.x); x < static_cast<int>(r.right()); ++x) {
            const std::uint32_t p = a.at(x, y), q = b.at(x, y);
            for (int shift = 0; shift < 24; shift += 8) {
                sum += std::abs(static_cast<int>((p >> shift) & 0xFF) -
                                static_cast<int>((q >> shift) & 0xFF));
            }
            count += 3;
        }
    }
    return count ? sum / count : 0.0;
}

// A picture as the Windows hosts write it: width and height as two 32-bit integers, then
// 0x00RRGGBB words row by row.
inline xtest::Image readWindowsPicture(const std::string& path) {
    xtest::Image image;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return image;
    std::int32_t size[2] = {0, 0};
    if (std::fread(size, sizeof size, 1, file) == 1 && size[0] > 0 && size[1] > 0) {
        image.width = size[0];
        image.height = size[1];
        image.pixels.resize(static_cast<std::size_t>(size[0] * size[1]));
        const std::size_t read = std::fread(image.pixels.data(), 4, image.pixels.size(), file);
        if (read != image.pixels.size()) image = {};
        for (std::uint32_t& p : image.pixels) p &= 0xFFFFFF;
    }
    std::fclose(file);
    return image;
}

// The Windows picture against the Linux one, region by region, each figure printed.
inline void expectSameLayout(const xtest::Image& linux, const xtest::Image& windows) {
    ASSERT_EQ(windows.width, kWidth);
    ASSERT_EQ(windows.height, kHeight);
    const editor::Layout& l = editor::layout;
    const std::pair<const char*, Rect> shapes[] = {
        {"control tracks",
         {l.controls[0].track.x, l.controls[0].track.y - 3,
          l.controls[4].track.right() - l.controls[0].track.x, l.controls[0].track.h + 6}},
        {"band plot", l.bandPlot},
        {"goniometer", l.goniometer.inset(20)},
        {"correlation bar", l.correlationBar},
        {"left meter", l.levelBars[0]},
        {"right meter", l.levelBars[1]},
    };
    for (const auto& [name, region] : shapes) {
        const double difference = meanDifference(linux, windows, region);
        std::printf("%-18s mean difference %.2f\n", name, difference);
        EXPECT_LE(difference, kShapeTolerance) << name;
    }
    std::vector<std::pair<std::string, Rect>> texts = {{"header", l.header}, {"status", l.status}};
    for (std::size_t c = 0; c < controlCount; ++c) {
        texts.push_back({"name " + std::to_string(c), l.controls[c].name});
        texts.push_back({"value " + std::to_string(c), l.controls[c].value});
    }
    for (const auto& [name, region] : texts) {
        const double ratio = static_cast<double>(ink(windows, region)) / ink(linux, region);
        std::printf("%-18s ink ratio %.2f\n", name.c_str(), ratio);
        EXPECT_GE(ratio, kInkRatio[0]) << name;
        EXPECT_LE(ratio, kInkRatio[1]) << name;
    }
}

}  // namespace editortest
