// The renderer's conveniences for everyday work, each run as a user would: WAV and AIFF through
// pipes, rate conversion, a loudness target, and report pictures for a batch. The fixture
// plug-in at its defaults passes its input through unchanged, so the output shows exactly what
// the renderer did around it.

#include <sys/stat.h>

#include <cstring>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr int kRate = 48000;

class RendererFeaturesTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        input_ = testSignal(2 * kRate, 440.0, kRate, 0.25f);
        writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input_);
    }

    RunResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--plugin", fixturePlugin()});
        return run(arguments);
    }

    // Runs a shell pipeline in the work folder; $R is the renderer with the fixture plug-in.
    int shell(const std::string& pipeline) {
        const std::string command = "cd '" + dir_ + "' && R='" + kRenderer + " --plugin " +
                                    fixturePlugin() + "' && { " + pipeline + "; } 2>stderr.txt";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<float> input_;
};

// Through a pipe the header is written first with its lengths unknown, then the samples; the
// samples are exactly those of the same render into a file. Read back from a pipe, such a
// stream is read to its end, also when its data chunk says 0 rather than 0xFFFFFFFF, and is not
// taken for a cut file.
TEST_F(RendererFeaturesTest, WavAndAiffStreamThroughPipesAndAreReadBack) {
    const std::pair<const char*, const char*> cases[] = {
        {"wav", "pcm16"}, {"wav", "float"}, {"aiff", "pcm24"}, {"aiff", "float"}};
    for (const auto& [format, subtype] : cases) {
        SCOPED_TRACE(std::string(format) + " " + subtype);
        const std::string streamed = std::string("streamed.") + format;
        const std::string direct = std::string("direct.") + format;
        ASSERT_EQ(shell("cat in.wav | $R - -o - -q --format " + std::string(format) +
                        " --subtype " + subtype + " | cat > " + streamed),
                  0)
            << readFile(path("stderr.txt"));
        ASSERT_EQ(render({"in.wav", "-o", direct, "--subtype", subtype, "-q", "-f"}).status, 0);
        const std::string bytes = readFile(path(streamed));
        ASSERT_GT(bytes.size(), 64u);
        EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\xff'));  // the RIFF or FORM length
        const Sound got = readSound(path(streamed));
        const Sound expected = readSound(path(direct));
        EXPECT_EQ(got.info.format, expected.info.format);
        EXPECT_EQ(got.frames(), static_cast<long>(input_.size()));
        EXPECT_EQ(got.samples, expected.samples);

        ASSERT_EQ(shell("cat " + streamed + " | $R - -o back.wav --force -q"), 0)
            << readFile(path("stderr.txt"));
        EXPECT_EQ(readSound(path("back.wav")).frames(), static_cast<long>(input_.size()));
    }

    // A data chunk of length 0, as some streaming writers leave it.
    std::string bytes = readFile(path("streamed.wav"));
    const auto data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    bytes.replace(data + 4, 4, std::string(4, '\0'));
    std::ofstream(path("zero.wav"), std::ios::binary) << bytes;
    ASSERT_EQ(shell("cat zero.wav | $R - -o back.wav --force -q"), 0)
        << readFile(path("stderr.txt"));
    EXPECT_EQ(readSound(path("back.wav")).samples, readSound(path("streamed.wav")).samples);
    // Saved to a file, a stream with unknown lengths is read whole and not called cut short.
    const auto saved = render({"streamed.wav", "-o", "saved.wav", "-q"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(readSound(path("saved.wav")).frames(), static_cast<long>(input_.size()));
}

}  // namespace
}  // namespace rendertest
