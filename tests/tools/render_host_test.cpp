// The renderer's host side, checked against the fixture plug-in, whose behaviour is known to the
// sample: the order of the host's calls, latency compensation, block-size invariance and the
// parameter settings that reach the plug-in.

#include <cmath>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr int kHostRate = 44100;

class RendererHostTest : public RendererTest {
  protected:
    // A float WAV, so that input and output compare without quantisation.
    std::vector<float> writeInput(const std::string& name, long frames) {
        auto signal = testSignal(frames, 440.0, kHostRate);
        writeSound(path(name), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kHostRate, 1, signal);
        return signal;
    }
};

TEST_F(RendererHostTest, DrivesTheEffectRecordInAHostsOrder) {
    writeInput("in.wav", 3000);
    const std::string log = root_ + "/calls.txt";
    const auto result = run({"in.wav", "-o", "out.wav", "--plugin", fixturePlugin(), "--block",
                             "256", "--param", "Gain=-6", "-q"},
                            {{"FIXTURE_LOG", log}});
    ASSERT_EQ(result.status, 0) << result.err;

    // The first instance only resolves the parameter (it is never resumed); the second renders.
    // Its second input gets the same signal as its first, or the fixture would log it.
    const std::string expected =
        "version 2400\nopen\nrate 44100\nblock 256\nclose\n"
        "version 2400\nopen\nrate 44100\nblock 256\n"
        "resume, host answers want-midi with 0\nprocess 256\nsuspend\nclose\n";
    EXPECT_EQ(readFile(log), expected);
}

TEST_F(RendererHostTest, CompensatedOutputIsTheInputSampleForSample) {
    // 3000 frames: not a multiple of any block size used, and longer than the latency.
    const auto input = writeInput("in.wav", 3000);
    for (const char* block : {"1", "7", "37", "512", "4096"}) {
        SCOPED_TRACE(block);
        const std::string output = std::string("out-") + block + ".wav";
        const auto result =
            run({"in.wav", "-o", output, "--plugin", fixturePlugin(), "--block", block, "-q"});
        ASSERT_EQ(result.status, 0) << result.err;
        const Sound sound = readSound(path(output));
        ASSERT_EQ(sound.channels(), 2);
        ASSERT_EQ(sound.frames(), 3000);
        // The fixture at 0 dB multiplies by exactly 1, so nothing may differ at all.
        EXPECT_EQ(sound.channel(0), input);
        EXPECT_EQ(sound.channel(1), input);
    }
}

TEST_F(RendererHostTest, RawStreamIsDelayedByTheLatencyAndKeepsTheInputLength) {
    const auto input = writeInput("in.wav", 3000);
    const auto result = run({"in.wav", "-o", "out.wav", "--plugin", fixturePlugin(), "--block",
                             "100", "--no-latency-compensation", "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound sound = readSound(path("out.wav"));
    ASSERT_EQ(sound.frames(), 3000);
    for (long i = 0; i < kFixtureLatency; ++i) ASSERT_EQ(sound.at(i, 0), 0.0f) << i;
    for (long i = kFixtureLatency; i < 3000; ++i) {
        ASSERT_EQ(sound.at(i, 0), input[static_cast<std::size_t>(i - kFixtureLatency)]) << i;
    }
}

TEST_F(RendererHostTest, InputShorterThanTheLatencyStillComesOutWhole) {
    const auto input = writeInput("in.wav", 5);
    const auto result = run({"in.wav", "-o", "out.wav", "--plugin", fixturePlugin(), "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readSound(path("out.wav")).channel(0), input);
}

TEST_F(RendererHostTest, EmptyInputGivesAnEmptyOutput) {
    writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kHostRate, 1, {});
    const auto result = run({"in.wav", "-o", "out.wav", "--plugin", fixturePlugin(), "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound sound = readSound(path("out.wav"));
    EXPECT_EQ(sound.channels(), 2);
    EXPECT_EQ(sound.frames(), 0);
}

TEST_F(RendererHostTest, ParametersReachThePluginByNameIndexUnitsAndTexts) {
    const auto input = writeInput("in.wav", 2000);
    struct Case {
        std::vector<std::string> settings;
        float leftGain;
        float rightGain;
    };
    // -6 dB in units lands in the middle of the display step "-6.0" (+-0.05 dB), so within
    // 1e-4 dB of -6; 0.25n is -12 dB exactly. The fixture computes its gain in float.
    // Trim's display truncates ("-5" for -5.6): its stretch is found by bisection and -5.6
    // placed within it in proportion, so the fixture's linear Trim lands on -5.6 itself.
    const float minus6 = std::pow(10.0f, -6.0f / 20.0f);
    const float minus5point6 = std::pow(10.0f, -5.6f / 20.0f);
    const float minus12 = std::pow(10.0f, -12.0f / 20.0f);
    const Case cases[] = {
        {{"Gain=-6"}, minus6, minus6},
        {{"gain=-6 dB"}, minus6, minus6},
        {{"0=0.25n"}, minus12, minus12},
        {{"Invert=on"}, -1.0f, -1.0f},
        {{"Route=Left", "1=yes"}, -1.0f, 0.0f},
        {{"Route=right"}, 0.0f, 1.0f},
        {{"Trim=-5.6"}, minus5point6, minus5point6},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string output = "out-" + std::to_string(n++) + ".wav";
        std::vector<std::string> arguments = {"in.wav",        "-o", output, "--plugin",
                                              fixturePlugin(), "-q"};
        for (const auto& setting : c.settings) {
            arguments.push_back("--param");
            arguments.push_back(setting);
        }
        SCOPED_TRACE(c.settings.front());
        const auto result = run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        const Sound sound = readSound(path(output));
        for (long i = 0; i < 2000; i += 97) {
            const float x = input[static_cast<std::size_t>(i)];
            EXPECT_NEAR(sound.at(i, 0), x * c.leftGain, 2e-5f * std::fabs(x) + 1e-9f) << i;
            EXPECT_NEAR(sound.at(i, 1), x * c.rightGain, 2e-5f * std::fabs(x) + 1e-9f) << i;
        }
    }
}

TEST_F(RendererHostTest, ListingShowsValuesSetInUnitsOnANonLinearDisplay) {
    const auto result = run({"--list-params", "--plugin", fixturePlugin(), "--param",
                             "Cutoff=1000Hz", "--param", "Gain=3.5", "--param", "Route=Left"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("name: Render Fixture"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("latency: 37 samples"), std::string::npos) << result.out;
    using Cells = std::vector<std::string>;
    EXPECT_EQ(listingRow(result.out, 0),
              (Cells{"0", "Gain", "3.5", "dB", "-24.0 .. 24.0", "0.5729"}));
    EXPECT_EQ(listingRow(result.out, 2),
              (Cells{"2", "Route", "Left", "-", "Both .. Right", "0.5000"}));
    ASSERT_EQ(listingRow(result.out, 3).size(), 6u) << result.out;
    EXPECT_EQ(listingRow(result.out, 3)[2], "1000");
    // 20 * 1000^x = 1000 at x = log(50) / log(1000).
    EXPECT_NEAR(std::stod(listingRow(result.out, 3)[5]), std::log(50.0) / std::log(1000.0), 2e-4);
}

}  // namespace
}  // namespace rendertest
