// Outputs past the 4 GiB that WAV, AIFF and AU lengths can count. The renderer under test here
// is a build whose limit is 8 MB (ZELKO_RENDER_CLASSIC_FILE_LIMIT), so that a few seconds of
// audio stand for hours.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

const std::string kSmallFilesRenderer = ZELKO_RENDER_SMALL_FILES_PATH;

class RendererSizesTest : public RendererTest {
  protected:
    // A float mono input whose stereo float output takes `seconds` * 384 kB.
    void writeInput(const std::string& name, double seconds) {
        writeSound(path(name), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1,
                   testSignal(static_cast<long>(seconds * kRate), 330.0, kRate));
    }
    RunResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--plugin", fixturePlugin(), "-q"});
        return runProgram(kSmallFilesRenderer, arguments);
    }
    static int containerOf(const Sound& sound) { return sound.info.format & SF_FORMAT_TYPEMASK; }
};

TEST_F(RendererSizesTest, WavThatWouldPassTheLimitIsWrittenAsRf64AndReadInFull) {
    writeInput("long.wav", 30.0);  // 11.5 MB of output samples
    writeInput("short.wav", 5.0);  // 1.9 MB
    ASSERT_EQ(render({"long.wav", "-o", "long-out.wav"}).status, 0);
    ASSERT_EQ(render({"short.wav", "-o", "short-out.wav"}).status, 0);
    const Sound large = readSound(path("long-out.wav"));
    EXPECT_EQ(containerOf(large), SF_FORMAT_RF64);
    EXPECT_EQ(large.frames(), 30 * kRate);
    // A file that fits stays the plain WAV it always was.
    EXPECT_EQ(containerOf(readSound(path("short-out.wav"))), SF_FORMAT_WAV);
}

TEST_F(RendererSizesTest, AiffAndAuThatWouldPassTheLimitAreRefusedBeforeRendering) {
    writeInput("long.wav", 30.0);
    for (const std::string format : {"aiff", "au"}) {
        const RunResult result = render({"long.wav", "-o", "out." + format});
        EXPECT_EQ(result.status, 2) << format;
        EXPECT_NE(result.err.find("4 GiB"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--format rf64"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(path("out." + format)));
    }
}

TEST_F(RendererSizesTest, WavOfUnknownLengthIsReadInFullAndStaysWavWhenSmall) {
    // The RF64 written for an input of unknown length becomes WAV (with the extensible format
    // chunk) when it ends under the real 4 GiB, which the test build's limit does not change.
    writeInput("in.wav", 5.0);
    std::string bytes = readFile(path("in.wav"));
    bytes.replace(bytes.find("data") + 4, 4, "\xff\xff\xff\xff");  // as a pipe has it
    std::ofstream(path("stream.wav"), std::ios::binary) << bytes;
    const std::string command = "cat " + path("stream.wav") + " | " + kSmallFilesRenderer +
                                " - -o " + path("out.wav") + " --plugin " + fixturePlugin() + " -q";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Sound out = readSound(path("out.wav"));
    EXPECT_EQ(readFile(path("out.wav")).substr(0, 4), "RIFF");
    EXPECT_EQ(containerOf(out), SF_FORMAT_WAVEX);
    EXPECT_EQ(out.channel(0), readSound(path("in.wav")).samples);  // not one sample overwritten

    EXPECT_EQ(out.frames(), 5 * kRate);
}

// The demo programme's length is known before it is rendered: its WAV stays plain WAV.
TEST_F(RendererSizesTest, DemoProgrammeIsPlainWav) {
    ASSERT_EQ(runProgram(kRenderer, {"--demo", "-o", "demo.wav", "-q"}).status, 0);
    EXPECT_EQ(containerOf(readSound(path("demo.wav"))), SF_FORMAT_WAV);
}

TEST_F(RendererSizesTest, Rf64IsAllowedUnderAWavName) {
    writeInput("short.wav", 1.0);
    ASSERT_EQ(render({"short.wav", "-o", "out.wav", "--format", "rf64"}).status, 0);
    EXPECT_EQ(containerOf(readSound(path("out.wav"))), SF_FORMAT_RF64);
}

}  // namespace
}  // namespace rendertest
