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
    // A band's level holds the whole of the window's main lobe, and so does each point of the
    // spectrum: both read the sine's level in dBFS, without the Hann window's scalloping.
    EXPECT_NEAR(bandAt(summary, 1000.0).monoSumDb, -23.0, 0.05);
    EXPECT_NEAR(bandAt(summary, 1000.0).inputDb, -23.0, 0.05);
    const auto peak =
        std::max_element(summary.monoSumSpectrumDb.begin(), summary.monoSumSpectrumDb.end());
    EXPECT_NEAR(summary.spectrumHz[peak - summary.monoSumSpectrumDb.begin()], 1000.0, 1000 * 0.01);
    EXPECT_NEAR(*peak, -23.0, 0.05);
}

// The spectrum is in dBFS: a sine reads its peak level wherever it lies, between bins or high up
// where a pixel column spans dozens of them (a sine peaking at -17 dBFS once read -22). Noise
// reads its power in the stated band, on the same scale, where a full-scale sine's power of 1/2
// is 0 dB: white noise of RMS s in 1/24 octave at 1 kHz, 28.9 Hz of the 24 kHz, reads
// 2 s^2 * 28.9 / 24000 (within 0.3 dB: each point averages some ten bins over 117 frames).
TEST(StereoAnalysis, SpectrumReadsSinesInDbfsAndNoiseInItsStatedBand) {
    for (const double hz : {997.3, 10007.7, 63.1}) {
        std::vector<float> sine(kRate * 4);
        const double amplitude = std::pow(10.0, -17.0 / 20.0);
        for (std::size_t i = 0; i < sine.size(); ++i) {
            sine[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * i / kRate));
        }
        const StereoSummary summary = analyse(sine, sine, sine);
        const auto peak =
            std::max_element(summary.inputSpectrumDb.begin(), summary.inputSpectrumDb.end());
        EXPECT_NEAR(*peak, -17.0, 0.1) << hz;
        EXPECT_NEAR(summary.spectrumHz[peak - summary.inputSpectrumDb.begin()] / hz, 1.0, 0.02);
    }
    const auto x = noise(kRate * 20, 9);  // RMS 0.1
    const StereoSummary summary = analyse(x, x, x);
    const auto at = std::lower_bound(summary.spectrumHz.begin(), summary.spectrumHz.end(), 1000.0);
    const double bandHz = *at * (std::pow(2.0, 1.0 / 48.0) - std::pow(2.0, -1.0 / 48.0));
    EXPECT_NEAR(summary.inputSpectrumDb[at - summary.spectrumHz.begin()],
                10.0 * std::log10(2.0 * 0.01 * bandHz / (kRate / 2.0)), 0.3);
}

// One figure for mono compatibility: what the mono sum loses against the stereo output, in LU,
// whatever the render did to the level (a separate figure), and the band that folding to mono
// hurts most; a delay of half a period at 1 kHz notches the mono sum there, and opposite
// polarity cancels it. Bands without signal are marked, not measured.
TEST(StereoAnalysis, MonoCompatibilityWorstBandAndBandsWithoutSignal) {
    const auto x = noise(kRate * 10, 10);
    std::vector<float> louder(x.size()), inverted(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        louder[i] = 2.0f * x[i];
        inverted[i] = -louder[i];
    }
    const StereoSummary gained = analyse(x, louder, louder);
    EXPECT_NEAR(gained.monoAgainstOutputLu, 0.0, 1e-6);  // the same samples, measured alike
    EXPECT_FALSE(gained.monoSumCancels);
    EXPECT_NEAR(gained.levelChangeLu, 20.0 * std::log10(2.0), 0.05);
    EXPECT_NEAR(gained.levelMatchDb, -gained.levelChangeLu, 0.05);
    EXPECT_NEAR(gained.worstBandDb, 0.0, 0.3);
    EXPECT_EQ(gained.cancellingSeconds, 0.0);

    constexpr int kDelay = 24;
    std::vector<float> delayed(x.size(), 0.0f);
    std::copy(x.begin(), x.end() - kDelay, delayed.begin() + kDelay);
    const StereoSummary comb = analyse(x, x, delayed);
    EXPECT_NEAR(comb.worstBandHz, 1000.0, 30.0);
    EXPECT_LT(comb.worstBandDb, -10.0);
    EXPECT_LT(comb.monoAgainstOutputLu, -1.0);

    // Complete cancellation: a bound at the absolute gate, and the strongest band named.
    const StereoSummary opposite = analyse(x, louder, inverted);
    EXPECT_TRUE(opposite.monoSumCancels);
    EXPECT_NEAR(opposite.monoAgainstOutputLu,
                StereoSummary::kAbsoluteGateLufs - opposite.outputLufs, 1e-9);
    EXPECT_LT(opposite.monoAgainstOutputLu, -40.0);
    EXPECT_EQ(opposite.worstBandDb, StereoSummary::kDeepestBandLossDb);
    EXPECT_TRUE(std::isfinite(opposite.worstBandHz));
    EXPECT_NE(summaryJson(opposite, 0.0, "", "").find("\"worst_band_db\":-100.00"),
              std::string::npos);

    std::vector<float> sine(kRate * 2);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * i / kRate));
    }
    const StereoSummary tone = analyse(sine, sine, sine);
    EXPECT_TRUE(bandAt(tone, 1000.0).hasSignal);
    EXPECT_FALSE(bandAt(tone, 100.0).hasSignal);
    EXPECT_FALSE(bandAt(tone, 10000.0).hasSignal);
    const std::vector<float> silence(kRate, 0.0f);
    for (const auto& band : analyse(silence, silence, silence).bands) EXPECT_FALSE(band.hasSignal);
}

// A steady tone that comes out in opposite polarity for two seconds of ten: the whole file's
// correlation stays positive, but the 400 ms windows show the two seconds, and the mono sum is
// said to cancel for that long. In an hour the windows merge to stay within kTimeWindows, and
// each keeps the worst of what it merged, so 400 ms of opposite polarity still shows.
TEST(StereoAnalysis, TimelineShowsShortCancellationsInFixedMemory) {
    std::vector<float> tone(kRate * 10), flipped(kRate * 10);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 440.0 * i / kRate));
        flipped[i] = i >= 4u * kRate && i < 6u * kRate ? -tone[i] : tone[i];
    }
    const StereoSummary summary = analyse(tone, tone, flipped);
    EXPECT_GT(summary.correlation, 0.5);
    ASSERT_EQ(summary.timeline.size(), 25u);  // ten seconds in 400 ms
    for (const auto& window : summary.timeline) {
        const double middle = window.startSeconds + window.seconds / 2.0;
        EXPECT_NEAR(window.worstCorrelation, middle > 4.0 && middle < 6.0 ? -1.0 : 1.0, 0.01)
            << middle;
    }
    EXPECT_NEAR(summary.cancellingSeconds, 2.0, 0.01);

    // Four thousand windows at a low rate, for speed: one of them in opposite polarity.
    constexpr int kLowRate = 2000;
    StereoAnalyser analyser(kLowRate);
    const std::size_t windowFrames = kLowRate * 2 / 5;
    std::vector<float> left(windowFrames), right(windowFrames);
    for (std::size_t i = 0; i < windowFrames; ++i) {
        left[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 50.0 * i / kLowRate));
    }
    for (int window = 0; window < 4000; ++window) {
        for (std::size_t i = 0; i < windowFrames; ++i)
            right[i] = window == 2500 ? -left[i] : left[i];
        analyser.addOutput(left.data(), right.data(), windowFrames);
    }
    const StereoSummary hour = analyser.finish();
    ASSERT_LE(hour.timeline.size(), StereoAnalyser::kTimeWindows);
    ASSERT_GE(hour.timeline.size(), StereoAnalyser::kTimeWindows / 4);
    int negative = 0;
    for (const auto& window : hour.timeline) negative += window.worstCorrelation < -0.99;
    EXPECT_EQ(negative, 1);
    EXPECT_NEAR(hour.timeline.back().startSeconds + hour.timeline.back().seconds, 1600.0, 1e-6);
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
    const double binHz = whole.spectrumBinHz;
    std::vector<float> sine(left.size());
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 300.0 * binHz * i / kRate));
    }
    const StereoSummary pure = analyse(sine, sine, sine);
    for (std::size_t k = 0; k < pure.spectrumHz.size(); ++k) {
        if (std::fabs(pure.spectrumHz[k] / (300.0 * binHz) - 1.0) > 0.06) {
            ASSERT_LT(pure.inputSpectrumDb[k], -115.0) << pure.spectrumHz[k];
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

// The PNG decodes at its size, the SVG is an SVG document, and a picture that cannot be written
// is an error rather than a missing file, for the cases that once drew badly: a tonal programme
// through a comb, noise, an opposite-polarity output (once on a -250 dB axis), a silent file, an
// empty one, and a tone that flips polarity for two seconds with a true peak above 0 dBTP. The
// pictures stay in the temporary folder, to be looked at.
TEST(ReportPicture, PngDecodesSvgIsSvgAndFailuresThrow) {
    const auto x = noise(kRate * 2, 6);
    std::vector<float> comb(x.size()), tonal(x.size()), combed(x.size()), inverted(x.size());
    std::vector<float> flipped(x.size() * 3), hot(x.size() * 3);
    for (std::size_t i = 0; i < x.size(); ++i) {
        comb[i] = x[i] - (i >= 300 ? x[i - 300] : 0.0f);
        for (const double hz : {220.0, 330.0, 440.0, 1250.0, 3000.0}) {
            tonal[i] += static_cast<float>(0.1 * std::sin(2.0 * M_PI * hz * i / kRate));
        }
        combed[i] = 0.5f * (tonal[i] - (i >= 300 ? tonal[i - 300] : 0.0f));
        inverted[i] = -x[i];
    }
    for (std::size_t i = 0; i < hot.size(); ++i) {
        hot[i] = static_cast<float>(1.0 * std::sin(2.0 * M_PI * 11025.0 * (i + 0.5) / kRate));
        flipped[i] = i >= x.size() && i < 2 * x.size() ? -hot[i] : hot[i];
    }
    const std::vector<float> silence(x.size(), 0.0f);
    const std::pair<const char*, StereoSummary> cases[] = {
        {"tonal", analyse(tonal, tonal, combed)},
        {"noise", analyse(x, x, comb)},
        {"opposite", analyse(x, x, inverted)},
        {"silent", analyse(silence, silence, silence)},
        {"empty", analyse(x, {}, {})},
        {"flipped", analyse(hot, hot, flipped)}};
    for (const auto& [name, summary] : cases) {
        SCOPED_TRACE(name);
        const std::string png = temporaryPath(std::string("report-") + name + ".png");
        std::filesystem::remove(png);
        writeReportPicture(summary, png,
                           ReportHeading{name, "fixture", "Gain=-3", "2026-01-01 12:00 UTC"});
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
