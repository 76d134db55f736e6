// The renderer's conveniences for everyday work, each run as a user would: WAV and AIFF through
// pipes, rate conversion, a loudness target, and report pictures for a batch. The fixture
// plug-in at its defaults passes its input through unchanged, so the output shows exactly what
// the renderer did around it.

#include <cairo.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

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

// A 1 kHz sine, converted, is the same sine at the new rate, sample for sample: soxr takes its
// own delay out, so a converted file lines up with its source, and N frames become exactly
// round(N * ratio). The error away from the ends is that of 32-bit floats and soxr's very high
// quality (below -120 dB); a shift by one sample would leave an error of 0.07.
TEST_F(RendererFeaturesTest, RatesAreConvertedInStepWithTheSource) {
    const auto sine = [](long frames, int rate) {
        std::vector<float> samples(static_cast<std::size_t>(frames));
        for (long i = 0; i < frames; ++i) {
            samples[static_cast<std::size_t>(i)] =
                static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * i / rate));
        }
        return samples;
    };
    writeSound(path("sine.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, sine(2 * kRate, kRate));
    const auto largestError = [&](const std::string& name, int rate) {
        const Sound sound = readSound(path(name));
        EXPECT_EQ(sound.info.samplerate, rate);
        EXPECT_EQ(sound.frames(), 2L * rate);
        const auto expected = sine(sound.frames(), rate);
        double error = 0.0;
        for (long i = rate / 10; i < sound.frames() - rate / 10; ++i) {
            for (int c = 0; c < 2; ++c) {
                error = std::max(error, std::fabs(static_cast<double>(sound.at(i, c)) -
                                                  expected[static_cast<std::size_t>(i)]));
            }
        }
        return error;
    };
    const std::string log = path("calls.log");
    auto converted =
        run({"sine.wav", "-o", "44k.wav", "--rate", "44100", "-q", "--plugin", fixturePlugin()},
            {{"FIXTURE_LOG", log}});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_LT(largestError("44k.wav", 44100), 1e-5);
    EXPECT_NE(readFile(log).find("rate 48000"), std::string::npos);  // the plug-in at the input's

    // The plug-in at 96 kHz, the output back at the input's rate.
    std::filesystem::remove(log);
    converted = run(
        {"sine.wav", "-o", "96k.wav", "--process-rate", "96000", "-q", "--plugin", fixturePlugin()},
        {{"FIXTURE_LOG", log}});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_NE(readFile(log).find("rate 96000"), std::string::npos);
    EXPECT_LT(largestError("96k.wav", kRate), 1e-5);
    // Both at once: in to 88.2 kHz for the plug-in, out to 32 kHz.
    ASSERT_EQ(
        render({"sine.wav", "-o", "both.wav", "--process-rate", "88200", "--rate", "32000", "-q"})
            .status,
        0);
    EXPECT_LT(largestError("both.wav", 32000), 1e-5);

    EXPECT_EQ(render({"sine.wav", "--rate", "12"}).status, 2);
    EXPECT_EQ(run({"--demo", "--dry", "--process-rate", "96000"}).status, 2);
}

// The loudness the output reaches is the target, measured again on the written file by the
// analysis (libebur128, within 0.1 LU); where the target would push the true peak above the
// ceiling the gain stops there and says so; silence is left as it is.
TEST_F(RendererFeaturesTest, LoudnessTargetIsReachedByGainWithinTheTruePeakCeiling) {
    auto result = render({"in.wav", "-o", "quiet.wav", "--loudness", "-30", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NEAR(jsonNumber(result.out, "output_lufs"), -30.0, 0.1) << result.out;
    EXPECT_DOUBLE_EQ(jsonNumber(result.out, "loudness_reached_lufs"), -30.0);
    const double measured = jsonNumber(result.out, "loudness_measured_lufs");
    EXPECT_NEAR(jsonNumber(result.out, "loudness_gain_db"), -30.0 - measured, 0.01);
    // The gain is the gain: the output is the input scaled, sample for sample.
    const Sound quiet = readSound(path("quiet.wav"));
    const double gain = std::pow(10.0, jsonNumber(result.out, "loudness_gain_db") / 20.0);
    EXPECT_NEAR(quiet.at(kRate, 0), input_[kRate] * gain, 1e-4);

    result = render({"in.wav", "-o", "loud.wav", "--loudness", "-1", "--true-peak", "-2 dBTP",
                     "--json", "--subtype", "pcm16"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\"loudness_limited_by_true_peak\":true"), std::string::npos);
    EXPECT_NEAR(jsonNumber(result.out, "true_peak_dbtp"), -2.0, 0.05) << result.out;
    EXPECT_LT(jsonNumber(result.out, "output_lufs"), -2.0);
    EXPECT_NE(result.err.find("above the ceiling of -2.0 dBTP"), std::string::npos) << result.err;
    // Without --json the summary line gives the figures.
    result = render({"in.wav", "-o", "summary.wav", "--loudness", "-23LUFS"});
    EXPECT_NE(result.out.find("loudness -23.0 LUFS (target -23.0 LUFS)"), std::string::npos)
        << result.out;

    writeSound(path("silence.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1,
               std::vector<float>(kRate, 0.0f));
    result = render({"silence.wav", "-o", "still.wav", "--loudness", "-16", "--json"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(jsonNumber(result.out, "loudness_gain_db"), 0.0) << result.out;
    EXPECT_NE(result.err.find("too quiet to measure"), std::string::npos) << result.err;

    EXPECT_EQ(render({"in.wav", "--true-peak", "-1"}).status, 2);
    EXPECT_EQ(render({"in.wav", "--loudness", "+3"}).status, 2);
}

// --report DIR/ draws a picture per output in a batch, named after it; one that exists stops
// the batch before anything is rendered, unless --force is given.
TEST_F(RendererFeaturesTest, ReportFolderGetsOnePicturePerFile) {
    writeSound(path("second.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1, input_);
    auto result = render({"in.wav", "second.wav", "-d", "out", "--report", "pictures/", "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* name : {"in", "second"}) {
        const std::string picture = path(std::string("pictures/") + name + ".png");
        cairo_surface_t* image = cairo_image_surface_create_from_png(picture.c_str());
        EXPECT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << picture;
        cairo_surface_destroy(image);
    }
    fs::remove(path("out/in.wav"));
    result = render({"in.wav", "-d", "out", "--report", "pictures", "-q"});
    EXPECT_EQ(result.status, 7) << result.err;
    EXPECT_NE(result.err.find("pictures/in.png"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(path("out/in.wav")));
    EXPECT_EQ(render({"in.wav", "-d", "out", "--report", "pictures", "-q", "-f"}).status, 0);
    EXPECT_EQ(render({"in.wav", "second.wav", "-d", "out", "--report", "one.png"}).status, 2);
}

}  // namespace
}  // namespace rendertest
