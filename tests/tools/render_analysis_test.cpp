// The renderer's analysis on signals whose answers are known: mono and opposite-polarity pairs,
// a delayed copy whose correlation swings with frequency, independent noises, and a 1 kHz sine of
// known loudness. The report picture must decode, and the JSON must parse.
#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/render/analysis/report_picture.h"
#include "tools/render/analysis/stereo_analysis.h"

namespace render {
namespace {

constexpr int kRate = 48000;

std::vector<float> noise(std::size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, 0.1f);
    std::vector<float> samples(frames);
    for (float& s : samples) s = normal(generator);
    return samples;
}

StereoSummary analyse(const std::vector<float>& input, const std::vector<float>& left,
                      const std::vector<float>& right) {
    StereoAnalyser analyser(kRate);
    analyser.addInput(input.data(), input.size());
    analyser.addOutput(left.data(), right.data(), left.size());
    return analyser.finish();
}

const BandStatistics& bandAt(const StereoSummary& summary, double centreHz) {
    for (const auto& band : summary.bands) {
        if (std::fabs(band.centreHz / centreHz - 1.0) < 0.03) return band;
    }
    throw std::runtime_error("no band at " + std::to_string(centreHz));
}

std::string temporaryPath(const std::string& name) {
    const auto folder = std::filesystem::temp_directory_path() / "render_analysis_test";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

// A copy of one channel: correlation exactly 1 and no side at all; inverted, exactly -1 and no
// mid. The sums behind both are formed from the same products, so no rounding tolerance is due.
TEST(StereoAnalysis, MonoAndOppositePolarityAreTheExtremes) {
    const auto x = noise(kRate * 2, 1);
    std::vector<float> inverted(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) inverted[i] = -x[i];

    const StereoSummary mono = analyse(x, x, x);
    EXPECT_EQ(mono.correlation, 1.0);
    EXPECT_EQ(mono.sideToMidDb, -INFINITY);
    const StereoSummary opposite = analyse(x, x, inverted);
    EXPECT_EQ(opposite.correlation, -1.0);
    EXPECT_EQ(opposite.sideToMidDb, INFINITY);
    ASSERT_GE(mono.bands.size(), 30u);  // 20 Hz to 20 kHz
    for (std::size_t b = 0; b < mono.bands.size(); ++b) {
        SCOPED_TRACE(mono.bands[b].centreHz);
        // Per bin, Re(X conj X) and |X|^2 round alike only to the last bit.
        EXPECT_NEAR(mono.bands[b].correlation, 1.0, 1e-12);
        EXPECT_LT(mono.bands[b].sideToMidDb, -200.0);
        EXPECT_NEAR(opposite.bands[b].correlation, -1.0, 1e-12);
        EXPECT_GT(opposite.bands[b].sideToMidDb, 200.0);
    }
    // The mono sum of a mono output is the input itself.
    for (std::size_t k = 0; k < mono.spectrumHz.size(); k += 97) {
        EXPECT_NEAR(mono.monoSumSpectrumDb[k], mono.inputSpectrumDb[k], 1e-9);
    }
}

// R = L delayed by d samples: the cross-spectrum is |X|^2 e^(-j 2 pi f d / fs), so a band's
// correlation is the mean of cos(2 pi f d / fs) over it for white noise. 20 s of noise give each
// band from 250 Hz up at least 2,000 Welch averages, a standard error below 0.03.
TEST(StereoAnalysis, BandCorrelationFollowsTheDelayAndIndependentNoisesAreUncorrelated) {
    constexpr int kDelay = 24;  // half a period at 1 kHz: that band is near -1, 2 kHz near +1
    const auto x = noise(kRate * 20, 2);
    std::vector<float> delayed(x.size(), 0.0f);
    std::copy(x.begin(), x.end() - kDelay, delayed.begin() + kDelay);
    const StereoSummary summary = analyse(x, x, delayed);
    for (const auto& band : summary.bands) {
        if (band.centreHz < 250.0 || band.centreHz > 16000.0) continue;
        double expected = 0.0;
        constexpr int kSteps = 1000;
        for (int i = 0; i < kSteps; ++i) {
            const double f = band.lowHz + (band.highHz - band.lowHz) * (i + 0.5) / kSteps;
            expected += std::cos(2.0 * M_PI * f * kDelay / kRate) / kSteps;
        }
        EXPECT_NEAR(band.correlation, expected, 0.1) << band.centreHz << " Hz";
    }
    EXPECT_LT(bandAt(summary, 1000.0).correlation, -0.9);

    const StereoSummary independent = analyse(x, x, noise(x.size(), 3));
    EXPECT_NEAR(independent.correlation, 0.0, 0.01);  // 1/sqrt(960000) is 0.001
    EXPECT_NEAR(independent.sideToMidDb, 0.0, 0.1);
    for (const auto& band : independent.bands) {
        if (band.centreHz >= 250.0) {
            EXPECT_NEAR(band.correlation, 0.0, 0.1) << band.centreHz;
        }
    }
}

// A 1 kHz sine peaking at -23 dBFS in both channels measures -23 LUFS (the reference case of
// EBU Tech 3341); the mono input, counted as dual mono, measures the same, and so does that sine
// given as a stereo input. libebur128 is
// accurate to far better than the 0.1 LU that Tech 3341 allows.
TEST(StereoAnalysis, SineLoudnessPeakAndBandLevel) {
    const double amplitude = std::pow(10.0, -23.0 / 20.0);
    std::vector<float> sine(kRate * 10);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * i / kRate));
    }
    const StereoSummary summary = analyse(sine, sine, sine);
    EXPECT_NEAR(summary.outputLufs, -23.0, 0.1);
    EXPECT_NEAR(summary.inputLufs, -23.0, 0.1);
    StereoAnalyser stereoInput(kRate);
    stereoInput.addInput(sine.data(), sine.data(), sine.size());
    EXPECT_NEAR(stereoInput.finish().inputLufs, -23.0, 0.1);
    EXPECT_NEAR(summary.peakDbfs, -23.0, 0.001);  // the sine hits its crest on every 48th sample
    EXPECT_GE(summary.truePeakDbtp, summary.peakDbfs);
    EXPECT_LT(summary.truePeakDbtp, -22.9);
    EXPECT_DOUBLE_EQ(summary.durationSeconds, 10.0);
    // A band's level holds the whole of the window's main lobe; the spectrum's peak lies on the
    // bin nearest 1 kHz, within the Hann window's 1.42 dB scalloping loss.
    EXPECT_NEAR(bandAt(summary, 1000.0).monoSumDb, -23.0, 0.05);
    EXPECT_NEAR(bandAt(summary, 1000.0).inputDb, -23.0, 0.05);
    const auto peak =
        std::max_element(summary.monoSumSpectrumDb.begin(), summary.monoSumSpectrumDb.end());
    const double binHz = summary.spectrumHz[0];
    EXPECT_NEAR(summary.spectrumHz[peak - summary.monoSumSpectrumDb.begin()], 1000.0, binHz);
    EXPECT_NEAR(*peak, -23.0 - 0.75, 0.75);
}

// How the host cuts the file into blocks must not change the result: the Welch frames, the
// goniometer's sample and the sums all see the same samples in the same order.
TEST(StereoAnalysis, FramingIsSeamlessAndBlockSizeDoesNotMatter) {
    const auto left = noise(200000, 4);
    const auto right = noise(200000, 5);
    const StereoSummary whole = analyse(left, left, right);
    StereoAnalyser analyser(kRate);
    const std::size_t sizes[] = {1, 7, 4095, 4097, 16384, 30001};
    for (std::size_t done = 0, i = 0; done < left.size(); ++i) {
        const std::size_t count = std::min(sizes[i % 6], left.size() - done);
        analyser.addInput(left.data() + done, count);
        analyser.addOutput(left.data() + done, right.data() + done, count);
        done += count;
    }
    const StereoSummary blocks = analyser.finish();
    EXPECT_NEAR(blocks.correlation, whole.correlation, 1e-12);
    EXPECT_EQ(blocks.outputLufs, whole.outputLufs);
    ASSERT_EQ(blocks.bands.size(), whole.bands.size());
    for (std::size_t b = 0; b < blocks.bands.size(); ++b) {
        EXPECT_EQ(blocks.bands[b].correlation, whole.bands[b].correlation);
    }
    EXPECT_EQ(blocks.monoSumSpectrumDb, whole.monoSumSpectrumDb);
    ASSERT_EQ(blocks.goniometer.size(), StereoAnalyser::kGoniometerPoints);
    for (std::size_t i = 0; i < blocks.goniometer.size(); ++i) {
        EXPECT_EQ(blocks.goniometer[i].mid, whole.goniometer[i].mid);
    }

    // A sine centred on a bin leaks nothing through the Hann window beyond its neighbours, as
    // long as every frame holds contiguous samples: a sample dropped or repeated at a hop would
    // spread it to about -97 dB. Float rounding leaves the far bins below -145 dB.
    const double binHz = whole.spectrumHz[0];
    std::vector<float> sine(left.size());
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 300.0 * binHz * i / kRate));
    }
    const StereoSummary pure = analyse(sine, sine, sine);
    for (std::size_t k = 0; k < pure.spectrumHz.size(); ++k) {
        if (k + 1 < 290 || k + 1 > 310) {
            ASSERT_LT(pure.inputSpectrumDb[k], -115.0) << k;
        }
    }

    // The goniometer keeps a uniform sample of the whole file, not its beginning: on a ramp
    // from 0 to 1 the kept points average 0.5 (standard error 0.0011 for 65,536 points).
    std::vector<float> ramp(1000000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / ramp.size();
    double mean = 0.0;
    for (const auto& point : analyse(ramp, ramp, ramp).goniometer) {
        mean += point.mid / std::sqrt(2.0) / StereoAnalyser::kGoniometerPoints;
    }
    EXPECT_NEAR(mean, 0.5, 0.01);
}

// Silence has no loudness and no correlation; JSON has no infinity, so those are null. Paths
// are bytes: quotes, backslashes, control characters and stray non-UTF-8 bytes must survive as
// valid JSON. Python's parser is the judge.
TEST(StereoAnalysis, JsonParsesForSilenceAndAwkwardPaths) {
    if (std::system("python3 -c pass") != 0) GTEST_SKIP() << "python3 is not available";
    const std::vector<float> silence(kRate, 0.0f);
    const StereoSummary summary = analyse(silence, silence, silence);
    EXPECT_TRUE(summary.outputSilent);
    const std::string json = summaryJson(summary, 0.0125, "in \"a\"\\b\n\t\x01.wav", "o\xff.wav");
    EXPECT_EQ(json.find('\n'), std::string::npos);
    const std::string path = temporaryPath("summary.json");
    std::ofstream(path) << json;
    const std::string check =
        "python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
        "assert d['input']=='in \\\"a\\\"\\\\\\\\b\\n\\t\\x01.wav', d['input']; "
        "assert d['output']=='o\\ufffd.wav'; assert d['output_lufs'] is None; "
        "assert d['correlation'] is None and d['peak_dbfs'] is None; "
        "assert d['output_silent'] is True and d['sample_rate']==48000; "
        "assert abs(d['real_time_factor']-0.0125)<1e-9\" " +
        path;
    EXPECT_EQ(std::system(check.c_str()), 0) << json;
}

// The PNG decodes at its size, the SVG is an SVG document, a silent file still draws, and a
// picture that cannot be written is an error rather than a missing file.
TEST(ReportPicture, PngDecodesSvgIsSvgAndFailuresThrow) {
    const auto x = noise(kRate * 2, 6);
    std::vector<float> comb(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) comb[i] = x[i] - (i >= 300 ? x[i - 300] : 0.0f);
    for (const StereoSummary& summary : {analyse(x, x, comb), analyse(x, {}, {})}) {
        const std::string png = temporaryPath("report.png");
        std::filesystem::remove(png);
        writeReportPicture(summary, png);
        cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
        EXPECT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
        EXPECT_GE(cairo_image_surface_get_width(image), 800);
        EXPECT_GE(cairo_image_surface_get_height(image), 600);
        cairo_surface_destroy(image);

        const std::string svg = temporaryPath("report.SVG");
        writeReportPicture(summary, svg, "comb \xff title");
        std::stringstream text;
        text << std::ifstream(svg).rdbuf();
        EXPECT_EQ(text.str().rfind("<?xml", 0), 0u);
        EXPECT_NE(text.str().find("<svg"), std::string::npos);
        EXPECT_NE(text.str().find("</svg>"), std::string::npos);
    }
    EXPECT_THROW(writeReportPicture(analyse(x, x, x), temporaryPath("report.jpg")),
                 std::runtime_error);
    EXPECT_THROW(writeReportPicture(analyse(x, x, x), "/nonexistent/folder/report.png"),
                 std::runtime_error);
    EXPECT_THROW(writeReportPicture(analyse(x, x, x), "/nonexistent/folder/report.svg"),
                 std::runtime_error);
}

}  // namespace
}  // namespace render
