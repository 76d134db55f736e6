// What the renderer says: about inputs that will not sound as expected (a stereo file whose
// channels cancel in the mono mix), warnings in a batch, the JSON's account of the input, and
// the sentences of --verbose, --help and refusals.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

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

TEST_F(RendererWarningsTest, VerboseDescribesTheInputAtItsOwnRateAndTheOutputAtItsOwn) {
    writeStereo("in.wav", 1.0f, 3.0);
    const RunResult result = render({"in.wav", "-o", "out.wav", "-v", "--rate", "8000"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("2 ch, 48000 Hz, 3.000 s) -> \"out.wav\" (wav float, 2 ch, 8000 Hz)"),
              std::string::npos)
        << result.err;
}

TEST_F(RendererWarningsTest, EmptyOrUnreadableStandardInputIsNamedAsSuch) {
    std::ofstream(path("empty")).close();
    const std::string command = "cat " + path("empty") + " | " + kRenderer + " - -o " +
                                path("out.wav") + " --plugin " + fixturePlugin() + " 2>&1";
    EXPECT_NE(commandOutput(command).find("Standard input is empty."), std::string::npos);
    std::ofstream(path("text")) << "not audio at all, only words";
    const std::string text = "cat " + path("text") + " | " + kRenderer + " - -o " +
                             path("out.wav") + " --plugin " + fixturePlugin() + " 2>&1";
    EXPECT_NE(commandOutput(text).find("Standard input is not an audio file"), std::string::npos);
}

TEST_F(RendererWarningsTest, ABadParameterIsToldBeforeAnOutputThatExists) {
    writeStereo("in.wav", 1.0f, 0.5);
    std::ofstream(path("out.wav")) << "taken";
    const RunResult result = render({"in.wav", "-o", "out.wav", "--param", "No Such Knob=1"});
    EXPECT_EQ(result.status, 5) << result.err;
    EXPECT_EQ(result.err.find("exists"), std::string::npos) << result.err;
}

TEST_F(RendererWarningsTest, EveryReportThatExistsIsNamed) {
    writeStereo("a.wav", 1.0f, 0.5);
    writeStereo("b.wav", 1.0f, 0.5);
    fs::create_directory(path("pictures"));
    std::ofstream(path("pictures/a.png")) << "old";
    std::ofstream(path("pictures/b.png")) << "old";
    const RunResult result = render({"a.wav", "b.wav", "-d", "out", "--report", "pictures/"});
    EXPECT_EQ(result.status, 7);
    EXPECT_NE(result.err.find("a.png"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("b.png"), std::string::npos) << result.err;
}

TEST_F(RendererWarningsTest, HelpNamesEveryFormatStandardInputReads) {
    const std::string help = run({"--help"}).out;
    const std::string sentence = help.substr(help.find("reads standard input"), 200);
    for (const std::string format : {"flac", "caf", "rf64"}) {
        writeSound(path("in." + format),
                   (format == "flac"  ? SF_FORMAT_FLAC
                    : format == "caf" ? SF_FORMAT_CAF
                                      : SF_FORMAT_RF64) |
                       SF_FORMAT_PCM_16,
                   kRate, 1, testSignal(kRate / 10, 440.0, kRate));
        const std::string command = "cat " + path("in." + format) + " | " + kRenderer + " - -o " +
                                    path(format + "-out.wav") + " -q --plugin " + fixturePlugin();
        EXPECT_EQ(std::system(command.c_str()), 0) << format;
        EXPECT_NE(sentence.find(format), std::string::npos) << sentence;
    }
}

}  // namespace
}  // namespace rendertest
