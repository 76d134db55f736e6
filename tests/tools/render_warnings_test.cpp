// What the renderer says about inputs that will not sound as expected: a stereo file whose
// channels cancel in the mono mix, warnings in a batch, and the JSON's account of the input.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr int kRate = 48000;

class RendererWarningsTest : public RendererTest {
  protected:
    RunResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--plugin", fixturePlugin()});
        return run(arguments);
    }
    // A stereo file: the signal on the left, `rightGain` times it on the right.
    void writeStereo(const std::string& name, float rightGain, double seconds = 2.0) {
        const auto mono = testSignal(static_cast<long>(seconds * kRate), 220.0, kRate);
        std::vector<float> frames;
        for (float x : mono) frames.insert(frames.end(), {x, rightGain * x});
        writeSound(path(name), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, frames);
    }
    static bool jsonTrue(const std::string& json, const std::string& key) {
        return json.find("\"" + key + "\":true") != std::string::npos;
    }
    static bool jsonFalse(const std::string& json, const std::string& key) {
        return json.find("\"" + key + "\":false") != std::string::npos;
    }
};

TEST_F(RendererWarningsTest, AntiPhaseInputIsWarnedOfBeforeRenderingAndTheJsonSaysTheMixCancelled) {
    writeStereo("opposite.wav", -1.0f);
    const RunResult result = render({"opposite.wav", "-o", "out.wav", "--json"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("channels 1 and 2 in opposite polarity"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("--channel 1"), std::string::npos) << result.err;
    // The file is not silent; its mix is.
    EXPECT_TRUE(jsonFalse(result.out, "input_silent")) << result.out;
    EXPECT_TRUE(jsonTrue(result.out, "input_mix_cancelled")) << result.out;

    // One channel fed, or channels that agree: nothing to warn of.
    const RunResult chosen = render({"opposite.wav", "-o", "one.wav", "--json", "--channel", "1"});
    EXPECT_EQ(chosen.err.find("opposite polarity"), std::string::npos) << chosen.err;
    EXPECT_TRUE(jsonFalse(chosen.out, "input_mix_cancelled")) << chosen.out;
    writeStereo("wide.wav", 0.3f);
    const RunResult wide = render({"wide.wav", "-o", "wide-out.wav", "--json"});
    EXPECT_EQ(wide.err.find("opposite polarity"), std::string::npos) << wide.err;
    EXPECT_TRUE(jsonFalse(wide.out, "input_mix_cancelled")) << wide.out;
}

TEST_F(RendererWarningsTest, AntiPhaseStreamIsWarnedOfAfterItsRender) {
    writeStereo("opposite.wav", -1.0f);
    const RunResult result =
        run({"-", "-o", "out.wav", "-q", "--plugin", fixturePlugin()}, {}, path("opposite.wav"));
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("channels 1 and 2 in opposite polarity"), std::string::npos)
        << result.err;
}

TEST_F(RendererWarningsTest, WarningsInABatchNameTheirInput) {
    writeStereo("opposite.wav", -1.0f);
    writeStereo("fine.wav", 1.0f);
    const RunResult result = render({"fine.wav", "opposite.wav", "-d", "out", "-q"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("warning: opposite.wav: The input"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("fine.wav:"), std::string::npos) << result.err;
}

TEST_F(RendererWarningsTest, JsonSaysWhetherTheInputWasCutShort) {
    writeStereo("whole.wav", 1.0f, 0.5);
    writeSound(path("cut.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1,
               testSignal(9600, 440.0, kRate));
    fs::resize_file(path("cut.wav"), 44 + 5000 * 2);
    const RunResult cut = render({"cut.wav", "-o", "cut-out.wav", "--json"});
    EXPECT_EQ(cut.status, 9);
    EXPECT_TRUE(jsonTrue(cut.out, "input_cut_short")) << cut.out;
    const RunResult whole = render({"whole.wav", "-o", "whole-out.wav", "--json"});
    EXPECT_TRUE(jsonFalse(whole.out, "input_cut_short")) << whole.out;
}

}  // namespace
}  // namespace rendertest
