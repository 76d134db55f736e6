// The Windows editor draws the layout the Linux one draws: the Windows module's view, opened in a
// Windows host under wine on the tests' Xvfb, compared region by region with the Linux view in
// the same state. Regions without text must match within kShapeTolerance (mean difference per
// colour channel). The two systems' fonts differ (DejaVu Sans on Linux, Liberation Sans under
// wine, Segoe UI on Windows), so a text region is compared by its ink, the pixels that are not
// its background: Windows must put down between kInkRatio[0] and kInkRatio[1] times Linux's.
// The host then types into the view through Windows' own input, and the edits it prints show a
// typed value reaching the host exactly and a refused text sending nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "editor_session.h"
#include "support/command.h"

namespace {

using namespace editortest;

// Mean absolute difference per colour channel, 0 ... 255, over a region.
constexpr double kShapeTolerance = 3.0;
constexpr double kInkRatio[2] = {0.5, 1.5};

// Pixels of a region that differ from its commonest colour.
int ink(const xtest::Image& image, const Rect& r) {
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

double meanDifference(const xtest::Image& a, const xtest::Image& b, const Rect& r) {
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

xtest::Image readWindowsPicture(const std::string& path) {
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
    ASSERT_EQ(windows.height, kHeight);
    windows.savePng(picturePath("editor-windows.png"));

    // The same state on Linux: silence at 48 kHz, the output threshold at its top.
    EditorSession session(*server);
    ASSERT_EQ(session.attached, kResultOk);
    session.plugin->controller->setParamNormalized(
        static_cast<ParamID>(Control::outputAgcThreshold), 1.0);
    session.run(8, false);
    const xtest::Image linux = session.shot();
    linux.savePng(picturePath("editor-linux.png"));

    const editor::Layout& l = editor::layout;
    const struct {
        const char* name;
        Rect region;
    } shapes[] = {
        {"control tracks",
         {l.controls[0].track.x, l.controls[0].track.y - 3,
          l.controls[4].track.right() - l.controls[0].track.x, l.controls[0].track.h + 6}},
        {"band plot", l.bandPlot},
        {"goniometer", l.goniometer.inset(20)},
        {"correlation bar", l.correlationBar},
        {"left meter", l.levelBars[0]},
        {"right meter", l.levelBars[1]},
    };
    for (const auto& r : shapes) {
        const double difference = meanDifference(linux, windows, r.region);
        std::printf("%-18s mean difference %.2f\n", r.name, difference);
        EXPECT_LE(difference, kShapeTolerance) << r.name;
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
