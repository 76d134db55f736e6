// Files in and out: formats, lengths, rates, mixing, naming, batches and the demo, with our own
// plug-in unless a test needs a plug-in whose output it can predict.

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

class RendererFilesTest : public RendererTest {};

TEST_F(RendererFilesTest, MonoWavGivesStereoWavOfTheSameLengthRateAndEncoding) {
    // 22050 frames: a length that no block size divides.
    writeSound(path("voice.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1,
               testSignal(22050, 330.0, 44100));
    const auto result = run({"voice.wav"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound sound = readSound(path("voice-stereo.wav"));
    EXPECT_EQ(sound.channels(), 2);
    EXPECT_EQ(sound.frames(), 22050);
    EXPECT_EQ(sound.info.samplerate, 44100);
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // One summary line naming input and output, and the files are exactly these two.
    EXPECT_NE(result.out.find("voice.wav -> voice-stereo.wav: 0.500 s at 44100 Hz"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(files(), (std::vector<std::string>{"voice-stereo.wav", "voice.wav"}));
}

TEST_F(RendererFilesTest, EverydayConventionsOfTheCommandLine) {
    writeSound(path("voice.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1,
               testSignal(4410, 330.0, 44100));
    // Short options bundle, the last one taking its value from the next argument or the rest.
    const auto bundled = run({"voice.wav", "-qfo", "a.wav", "--plugin", fixturePlugin()});
    ASSERT_EQ(bundled.status, 0) << bundled.err;
    EXPECT_EQ(bundled.out + bundled.err, "");
    EXPECT_EQ(run({"voice.wav", "-qob.wav", "--plugin", fixturePlugin()}).status, 0);
    EXPECT_EQ(readSound(path("b.wav")).frames(), 4410);
    // --verbose says on standard error what is read, written and run, and with what settings.
    const auto verbose =
        run({"voice.wav", "-v", "-o", "c.flac", "--plugin", fixturePlugin(), "-p", "Gain=-6"});
    ASSERT_EQ(verbose.status, 0) << verbose.err;
    for (const std::string& line :
         {"zelko-render: plug-in \"" + fixturePlugin() + "\": Render Fixture by Zelko Tests",
          std::string("latency 37 samples"), std::string("parameter 0 \"Gain\" = -6.0 dB"),
          std::string("\"voice.wav\" (wav pcm16, 1 ch, 44100 Hz, 0.100 s) -> \"c.flac\" (flac "
                      "pcm16, 2 ch, 44100 Hz)")}) {
        EXPECT_NE(verbose.err.find(line), std::string::npos) << verbose.err;
    }
    EXPECT_NE(verbose.out.find("voice.wav -> c.flac"), std::string::npos) << verbose.out;
    EXPECT_EQ(run({"voice.wav", "-q", "-v"}).status, 2);
    const auto version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("zelko-render ", 0), 0u) << version.out;
}

TEST_F(RendererFilesTest, StereoFlacGivesStereoFlac) {
    std::vector<float> stereo;
    const auto left = testSignal(30000, 250.0, 48000, 0.4f, 1);
    const auto right = testSignal(30000, 700.0, 48000, 0.4f, 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
        stereo.push_back(left[i]);
        stereo.push_back(right[i]);
    }
    writeSound(path("duo.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2, stereo);
    const auto result = run({"duo.flac", "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const Sound sound = readSound(path("duo-stereo.flac"));
    EXPECT_EQ(sound.channels(), 2);
    EXPECT_EQ(sound.frames(), 30000);
    EXPECT_EQ(sound.info.samplerate, 48000);
    EXPECT_EQ(sound.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

// 3 Band EQ passes its first input through at its defaults (see render_third_party_test.cpp),
// which shows exactly what the renderer fed it.
TEST_F(RendererFilesTest, StereoInputIsFedAsItsMonoMixOrAsTheChosenChannel) {
    if (!fs::exists(dpfPlugin("3BandEQ"))) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    std::vector<float> stereo;
    const auto left = testSignal(20000, 250.0, 48000, 0.4f, 1);
    const auto right = testSignal(20000, 700.0, 48000, 0.4f, 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
        stereo.push_back(left[i]);
        stereo.push_back(right[i]);
    }
    writeSound(path("duo.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2, stereo);
    const Sound written = readSound(path("duo.flac"));  // as quantised to 24 bits

    ASSERT_EQ(run({"duo.flac", "-o", "mix.flac", "--plugin", dpfPlugin("3BandEQ")}).status, 0);
    ASSERT_EQ(
        run({"duo.flac", "-o", "second.flac", "--channel", "2", "--plugin", dpfPlugin("3BandEQ")})
            .status,
        0);
    const Sound mix = readSound(path("mix.flac"));
    const Sound second = readSound(path("second.flac"));
    ASSERT_EQ(mix.frames(), 20000);
    ASSERT_EQ(second.frames(), 20000);
    // Two steps of 24-bit quantisation (2^-23 each) bound the difference; the plug-in's own
    // rounding is far below that.
    const float tolerance = 2.5f / 8388608.0f;
    for (long i = 0; i < 20000; ++i) {
        const float mean = 0.5f * (written.at(i, 0) + written.at(i, 1));
        ASSERT_NEAR(mix.at(i, 0), mean, tolerance) << i;
        ASSERT_NEAR(second.at(i, 0), written.at(i, 1), tolerance) << i;
    }
}

TEST_F(RendererFilesTest, FormatFollowsOptionsAndTheOutputName) {
    writeSound(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
               testSignal(4800, 440.0, 48000));
    ASSERT_EQ(run({"a.wav", "-o", "b.flac", "-q"}).status, 0);
    EXPECT_EQ(readSound(path("b.flac")).info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(run({"a.wav", "--format", "aiff", "--subtype", "float", "-q"}).status, 0);
    EXPECT_EQ(readSound(path("a-stereo.aiff")).info.format, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    ASSERT_EQ(run({"a.wav", "-o", "c.ogg", "-q"}).status, 0);
    EXPECT_EQ(readSound(path("c.ogg")).info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(readSound(path("c.ogg")).frames(), 4800);
    // FLAC holds no float samples: asking for both is a usage error, and nothing is written.
    const auto refused = run({"a.wav", "-o", "d.flac", "--subtype", "float"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_FALSE(fs::exists(path("d.flac")));
}

TEST_F(RendererFilesTest, BatchWritesEveryInputIntoTheOutputFolderUnderItsOwnName) {
    writeSound(path("one.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 1,
               testSignal(1000, 440.0, 44100));
    writeSound(path("two.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 32000, 1,
               testSignal(2000, 440.0, 32000));
    const auto result = run({"one.wav", "two.flac", "--output-dir", "stereo"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound one = readSound(path("stereo/one.wav"));
    const Sound two = readSound(path("stereo/two.flac"));
    EXPECT_EQ(one.frames(), 1000);
    EXPECT_EQ(one.info.samplerate, 44100);
    EXPECT_EQ(two.frames(), 2000);
    EXPECT_EQ(two.info.samplerate, 32000);
    // A line per file and one for the batch.
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3) << result.out;
    EXPECT_NE(result.out.find("\n2 of 2 inputs rendered.\n"), std::string::npos) << result.out;
}

TEST_F(RendererFilesTest, DemoWritesAStereoRenderingOfItsProgramme) {
    const auto result = run({"--demo", "-o", "demo.wav"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound sound = readSound(path("demo.wav"));
    EXPECT_EQ(sound.channels(), 2);
    EXPECT_EQ(sound.info.samplerate, 48000);
    EXPECT_EQ(sound.frames(), 12 * 48000);

    // The dry programme is mono, of the same length, and has sound in every section.
    ASSERT_EQ(run({"--demo", "--dry", "-o", "dry.wav", "-q"}).status, 0);
    const Sound dry = readSound(path("dry.wav"));
    ASSERT_EQ(dry.channels(), 1);
    ASSERT_EQ(dry.frames(), 12 * 48000);
    for (int section = 0; section < 4; ++section) {
        const auto begin = dry.samples.begin() + section * 3 * 48000;
        const std::vector<float> part(begin, begin + 3 * 48000);
        EXPECT_GT(rms(part), 0.01) << "section " << section;
    }
}

TEST_F(RendererFilesTest, JsonAndReportDescribeTheStereoResult) {
    // The fixture at its defaults copies the mono input to both outputs: a mono result, with
    // correlation 1, no side at all, and the loudness of its input. The tolerances are the
    // last digit the JSON prints (four decimals for correlation, two for loudness).
    writeSound(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
               testSignal(48000, 440.0, 48000));
    writeSound(path("b.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
               testSignal(24000, 1000.0, 48000));
    const auto result = run({"a.wav", "b.wav", "-d", "out", "--json", "--plugin", fixturePlugin()});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::vector<std::string> objects;
    for (std::string line; std::getline(lines, line);) objects.push_back(line);
    ASSERT_EQ(objects.size(), 2u) << result.out;  // one object per file, and nothing else
    EXPECT_EQ(objects[0].front(), '{');
    EXPECT_NEAR(jsonNumber(objects[0], "correlation"), 1.0, 1e-4) << objects[0];
    EXPECT_NE(objects[0].find("\"side_to_mid_db\":null"), std::string::npos) << objects[0];
    EXPECT_NEAR(jsonNumber(objects[0], "output_lufs"), jsonNumber(objects[0], "input_lufs"), 0.01);
    EXPECT_NEAR(jsonNumber(objects[1], "duration_seconds"), 0.5, 1e-6) << objects[1];

    // Opposite channels fed as they are through 3 Band EQ, which passes each through: -1.
    if (!fs::exists(dpfPlugin("3BandEQ"))) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    std::vector<float> opposite;
    for (float x : testSignal(48000, 440.0, 48000)) opposite.insert(opposite.end(), {x, -x});
    writeSound(path("opposite.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, opposite);
    const auto inverted = run({"opposite.wav", "-o", "o.wav", "--stereo", "--json", "--report",
                               "o.png", "--plugin", dpfPlugin("3BandEQ")});
    ASSERT_EQ(inverted.status, 0) << inverted.err;
    EXPECT_NEAR(jsonNumber(inverted.out, "correlation"), -1.0, 1e-4) << inverted.out;
    EXPECT_EQ(readFile(path("o.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(RendererFilesTest, InputFaultsAndTruePeaksAreCountedAndFlagged) {
    const std::string fixture = fixturePlugin();
    // Ten NaNs and an infinity in a tone: counted, placed, fed as silence, and kept out of the
    // loudness, which stays that of the clean tone (to the two decimals the JSON prints).
    auto tone = testSignal(48000, 440.0, 48000, 0.25f);
    writeSound(path("clean.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, tone);
    for (int i = 0; i < 10; ++i) tone[static_cast<std::size_t>(4800 + 100 * i)] = NAN;
    tone[30000] = INFINITY;
    writeSound(path("nan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, tone);
    const auto clean = run({"clean.wav", "-o", "c.wav", "--json", "--plugin", fixture});
    const auto faulty = run({"nan.wav", "-o", "n.wav", "--json", "--plugin", fixture});
    ASSERT_EQ(faulty.status, 0) << faulty.err;
    EXPECT_NE(faulty.err.find("warning: The input holds 11 samples that are not numbers (NaN) or "
                              "infinite, the first at frame 4800 (0.100 s)"),
              std::string::npos)
        << faulty.err;
    EXPECT_EQ(jsonNumber(faulty.out, "nonfinite_input_samples"), 11.0) << faulty.out;
    EXPECT_NEAR(jsonNumber(faulty.out, "input_lufs"), jsonNumber(clean.out, "input_lufs"), 0.011);
    const Sound rendered = readSound(path("n.wav"));
    EXPECT_EQ(rendered.at(4800, 0), 0.0f);
    EXPECT_EQ(rendered.at(30000, 1), 0.0f);
    // An input of nothing but NaN gives silence, and the run says why.
    writeSound(path("allnan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
               std::vector<float>(4800, NAN));
    const auto allNan = run({"allnan.wav", "-o", "a.wav", "--plugin", fixture});
    EXPECT_NE(allNan.err.find("silent because the input holds nothing but samples that are not"),
              std::string::npos)
        << allNan.err;

    // A stereo file's loudness as it is, beside that of the mono mix it feeds: with the right
    // channel silent the mix is the left at half amplitude on both sides, 10 log10(2 / 4) =
    // -3.01 dB below the file (libebur128's histogram resolves 0.05 LU; both go through it).
    std::vector<float> leftOnly;
    for (float x : testSignal(96000, 440.0, 48000, 0.25f)) leftOnly.insert(leftOnly.end(), {x, 0});
    writeSound(path("left.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, leftOnly);
    const auto stereo = run({"left.wav", "-o", "l.wav", "--json", "--plugin", fixture});
    ASSERT_EQ(stereo.status, 0) << stereo.err;
    EXPECT_NEAR(jsonNumber(stereo.out, "input_lufs") - jsonNumber(stereo.out, "feed_lufs"), 3.01,
                0.1)
        << stereo.out;

    // A tone at a quarter of the rate, sampled 45 degrees off its crests: the samples peak at
    // 0.707 of its amplitude of 1.2, so they stay below full scale while the wave between them
    // reaches +1.6 dBTP. The fixture passes it through; the summary and the JSON flag it.
    std::vector<float> between(48000);
    for (std::size_t i = 0; i < between.size(); ++i) {
        between[i] =
            static_cast<float>(1.2 * std::sin(M_PI / 2.0 * static_cast<double>(i) + M_PI / 4.0));
    }
    writeSound(path("over.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, between);
    const auto over = run({"over.wav", "-o", "o.wav", "--plugin", fixture});
    ASSERT_EQ(over.status, 0) << over.err;
    EXPECT_NE(over.err.find("warning: The output's true peak reaches +1.6"), std::string::npos)
        << over.err;
    const auto overJson = run({"over.wav", "-o", "o2.wav", "--json", "--plugin", fixture});
    EXPECT_NE(overJson.out.find("\"true_peak_over_0_dbtp\":true"), std::string::npos)
        << overJson.out;
    EXPECT_EQ(clean.err.find("true peak"), std::string::npos) << clean.err;
}

}  // namespace
}  // namespace rendertest
