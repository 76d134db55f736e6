// The renderer hosts plug-ins that nobody here wrote: Debian's dpf-plugins-vst. Their behaviour
// at chosen settings is known, so the output shows that the host side feeds, drives and sets
// them correctly.

#include <cmath>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr long kFrames = 48000;

class RendererThirdPartyTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        input_ = testSignal(kFrames, 1000.0, kRate, 0.5f);
        writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input_);
    }

    Sound render(const std::string& plugin, const std::vector<std::string>& settings) {
        std::vector<std::string> arguments = {"in.wav", "-o",       "out.wav",        "--force",
                                              "-q",     "--plugin", dpfPlugin(plugin)};
        for (const auto& setting : settings) {
            arguments.push_back("--param");
            arguments.push_back(setting);
        }
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        Sound sound = readSound(path("out.wav"));
        EXPECT_EQ(sound.frames(), kFrames);
        EXPECT_EQ(sound.channels(), 2);
        return sound;
    }

    std::vector<float> input_;
};

#define REQUIRE_DPF(name) \
    if (!fs::exists(dpfPlugin(name))) GTEST_SKIP() << "dpf-plugins-vst is not installed"

TEST_F(RendererThirdPartyTest, ThreeBandEqPassesAudioUnchangedAtItsDefaults) {
    REQUIRE_DPF("3BandEQ");
    const Sound sound = render("3BandEQ", {});
    // Its bands are split by subtraction and added back, so float rounding of a few parts in
    // 1e7 of full scale is all that may differ.
    // Its second input gets the mono signal too, so its right output carries it as well.
    for (long i = 0; i < kFrames; ++i) {
        ASSERT_NEAR(sound.at(i, 0), input_[static_cast<std::size_t>(i)], 1e-6f) << i;
        ASSERT_NEAR(sound.at(i, 1), input_[static_cast<std::size_t>(i)], 1e-6f) << i;
    }
}

TEST_F(RendererThirdPartyTest, ThreeBandEqMasterAtItsMinimumLowersTheLevelBy24Decibels) {
    REQUIRE_DPF("3BandEQ");
    const Sound sound = render("3BandEQ", {"Master=-24"});
    const double change = 20.0 * std::log10(rms(sound.channel(0)) / rms(input_));
    // The plug-in converts decibels with 8.65617 where 20 / ln 10 = 8.68589 belongs, which
    // puts its -24 dB at -24.08 dB; 0.15 dB covers that and nothing that could be a wrong
    // setting (the next display step, -23.9, is 0.1 dB away, and a wrong parameter is dBs).
    EXPECT_NEAR(change, -24.0, 0.15);
    // By index and normalised value: the same setting.
    const Sound again = render("3BandEQ", {"3=0n"});
    EXPECT_EQ(again.samples, sound.samples);
}

TEST_F(RendererThirdPartyTest, PingPongPanWithWidthZeroLeavesTheLevelUnchanged) {
    REQUIRE_DPF("PingPongPan");
    const Sound narrow = render("PingPongPan", {"Width=0"});
    EXPECT_NEAR(rms(narrow.channel(0)) / rms(input_), 1.0, 1e-6);
    for (long i = 0; i < kFrames; i += 101) {
        ASSERT_NEAR(narrow.at(i, 0), input_[static_cast<std::size_t>(i)], 1e-6f) << i;
    }
    // At its default width of 75 % it pans the level away, so the setting above did reach it.
    const Sound wide = render("PingPongPan", {});
    EXPECT_LT(rms(wide.channel(0)) / rms(input_), 0.9);
}

TEST_F(RendererThirdPartyTest, StereoFeedsBothChannelsAndASilentResultIsReported) {
    REQUIRE_DPF("3BandEQ");
    // A stereo file whose right channel is silent: 3 Band EQ passes each channel through.
    std::vector<float> stereo;
    for (float x : input_) stereo.insert(stereo.end(), {x, 0.0f});
    writeSound(path("duo.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, stereo);
    const auto fed = run({"duo.wav", "-o", "eq.wav", "--stereo", "--plugin", dpfPlugin("3BandEQ")});
    ASSERT_EQ(fed.status, 0) << fed.err;
    const Sound eq = readSound(path("eq.wav"));
    EXPECT_NEAR(rms(eq.channel(0)), rms(input_), 1e-6);
    EXPECT_EQ(rms(eq.channel(1)), 0.0);
    EXPECT_EQ(fed.err.find("warning"), std::string::npos) << fed.err;

    // Amplitude Imposer gives its first input the level of its second: mono fed to both
    // inputs comes out, a silent second channel silences it all, and the summary says so.
    REQUIRE_DPF("AmplitudeImposer");
    const Sound mono = render("AmplitudeImposer", {});
    EXPECT_GT(rms(mono.channel(0)), 0.01);
    const auto silenced =
        run({"duo.wav", "-o", "ai.wav", "--stereo", "--plugin", dpfPlugin("AmplitudeImposer")});
    ASSERT_EQ(silenced.status, 0) << silenced.err;
    EXPECT_NE(silenced.err.find("warning: The output is silent although the input is not"),
              std::string::npos)
        << silenced.err;
}

}  // namespace
}  // namespace rendertest
