// Audio on standard output as other programs read it: WAV and AIFF read in full by sox and
// ffmpeg, and FLAC through a pipe complete with its length and MD5 signature.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr long kFrames = 3 * kRate + 123;  // not a whole number of blocks

class RendererStreamsTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1,
                   testSignal(kFrames, 440.0, kRate));
    }
    // The renderer writing the input to standard output, as a shell pipeline's first stage.
    std::string renderToPipe(const std::string& format, const std::string& subtype) const {
        return kRenderer + " " + path("in.wav") + " -o - -q --format " + format + " --subtype " +
               subtype + " --plugin " + fixturePlugin();
    }
};

TEST_F(RendererStreamsTest, WavAndAiffOnStandardOutputAreReadInFullBySoxAndFfmpeg) {
    if (!installed("sox") || !installed("ffmpeg")) GTEST_SKIP() << "needs sox and ffmpeg";
    for (const std::string format : {"wav", "aiff"}) {
        for (const std::string subtype : {"pcm16", "pcm24", "float"}) {
            SCOPED_TRACE(format + " " + subtype);
            // Both decode to 32-bit floats, two channels: 8 bytes a frame.
            const std::string bySox = commandOutput(renderToPipe(format, subtype) + " | sox -t " +
                                                    format + " - -t f32 - 2>/dev/null");
            const std::string byFfmpeg = commandOutput(
                renderToPipe(format, subtype) + " | ffmpeg -v error -i - -f f32le - 2>/dev/null");
            EXPECT_EQ(bySox.size(), 8u * kFrames);
            EXPECT_EQ(byFfmpeg.size(), 8u * kFrames);
        }
    }
}

TEST_F(RendererStreamsTest, FlacThroughAPipeHasItsLengthAndSignature) {
    if (!installed("flac")) GTEST_SKIP() << "needs flac";
    const std::string out = path("piped.flac");
    ASSERT_EQ(std::system((renderToPipe("flac", "pcm16") + " | cat > " + out).c_str()), 0);
    EXPECT_EQ(std::system(("flac -s -t " + out).c_str()), 0);
    EXPECT_EQ(commandOutput("metaflac --show-total-samples " + out),
              std::to_string(kFrames) + "\n");
    EXPECT_EQ(readSound(out).frames(), kFrames);
}

}  // namespace
}  // namespace rendertest
