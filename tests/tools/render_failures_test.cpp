// Every failure gives one plain sentence on standard error and its own exit status, and leaves
// the folder exactly as it was: no partial output, no replaced input.

#include <chrono>
#include <thread>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

class RendererFailuresTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1,
                   testSignal(4410, 440.0, 44100));
        writeSound(path("duo.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                   testSignal(8820, 440.0, 44100));
        std::ofstream(path("notes.wav")) << "these are words, not samples\n";
        std::ofstream(path("claims.wav"), std::ios::binary) << wavWithAnOverlongListPart();
        std::ofstream(path("typed.wav"), std::ios::binary) << wavWhoseListTypeClaimsAPart();
        std::ofstream(path("module.so")) << "not a shared library\n";
        before_ = files();
    }

    // Runs the renderer and checks the failure's status, its one sentence, and that the work
    // folder is unchanged.
    RunResult expectFailure(const std::vector<std::string>& arguments, int status,
                            const std::string& phrase) {
        const auto result = run(arguments);
        EXPECT_EQ(result.status, status) << result.err;
        EXPECT_EQ(result.err.rfind("zelko-render: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(phrase), std::string::npos) << result.err;
        EXPECT_EQ(files(), before_);
        return result;
    }

    std::vector<std::string> before_;

    // 124 bytes: a format chunk and a LIST chunk, longer than the file, whose third part (of an
    // unknown kind) claims 0xFFFFFFD8 bytes. libsndfile 1.2 takes minutes to open it.
    static std::string wavWithAnOverlongListPart() {
        const std::string format = monoFormatChunk();
        const std::string parts = "INFO" + std::string("INAM") + le32(6) +
                                  std::string("seed\0\0", 6) + "IART" + le32(6) +
                                  std::string(6, '\xff') + std::string("S\x11\xc3\xbe", 4) +
                                  le32(0xFFFFFFD8u) + std::string(40, '\xff');
        const std::string body = "WAVE" + format + "LIST" + le32(810) + parts;
        return "RIFF" + le32(930) + body;
    }

    // 181 bytes, found by the fuzzer: a LIST chunk of an unknown type, which libsndfile reads as
    // a part whose size is the next four bytes, 0xFFFFFFF8. Its walk then loops for good.
    static std::string wavWhoseListTypeClaimsAPart() {
        const std::string list = std::string("\0\0\0\xfc", 4) + le32(0xFFFFFFF8u) + le32(0);
        const std::string body = "WAVE" + monoFormatChunk() + "LIST" + le32(42) + list;
        return "RIFF" + le32(930) + body + std::string(181 - 8 - body.size(), '\0');
    }
};

TEST_F(RendererFailuresTest, UsageErrors) {
    expectFailure({"in.wav", "--frobnicate"}, 2, "Unknown option \"--frobnicate\"");
    expectFailure({}, 2, "No input given");
    expectFailure({"in.wav", "--block", "0"}, 2, "--block needs a whole number");
    expectFailure({"in.wav", "--format", "mp4"}, 2, "Unknown output format \"mp4\"");
    expectFailure({"in.wav", "--param", "Lowpass Filter"}, 2, "has no '='");
    expectFailure({"duo.wav", "--channel", "3"}, 2, "has 2 channels, so it has no channel 3");
    expectFailure({"in.wav", "duo.wav", "-o", "x.wav"}, 2, "--output names one file");
    expectFailure({"in.wav", "--format", "wav", "-o", "f.flac"}, 2,
                  "--format wav disagrees with the name \"f.flac\"");
}

TEST_F(RendererFailuresTest, InputsThatCannotBeRead) {
    expectFailure({"missing.wav"}, 3, "\"missing.wav\" does not exist");
    expectFailure({"notes.wav"}, 3, "\"notes.wav\" is not an audio file that can be read");
    // Refused before libsndfile, which would walk the part's claimed 4 GB for minutes.
    expectFailure({"claims.wav"}, 3,
                  "\"claims.wav\" is not an audio file that can be read (a part of its LIST "
                  "chunk claims 4294967256 bytes, past the end of the file)");
    expectFailure({"typed.wav"}, 3,
                  "\"typed.wav\" is not an audio file that can be read (a part of its LIST "
                  "chunk claims 4294967288 bytes, past the end of the file)");
}

TEST_F(RendererFailuresTest, ABatchNamesEveryBadInputBeforeRenderingAny) {
    // Every input's problem at once, the first one's status, and nothing written; an MP3
    // output cannot hold 192 kHz, which is found before the first file is rendered.
    writeSound(path("hi.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 1,
               testSignal(1920, 440.0, 192000));
    before_ = files();
    const auto result =
        run({"missing.wav", "in.wav", "hi.wav", "notes.wav", "-d", "out", "--format", "mp3"});
    EXPECT_EQ(result.status, 3);
    for (const std::string phrase :
         {"\"missing.wav\" does not exist", "not 192000 Hz", "\"notes.wav\" is not an audio file",
          "3 of 4 inputs cannot be rendered, so none was; --keep-going renders the other 1."}) {
        EXPECT_NE(result.err.find(phrase), std::string::npos) << result.err;
    }
    EXPECT_EQ(files(), before_);
    // --keep-going renders the good one and ends with a summary and the first failure's status.
    const auto going = run({"missing.wav", "in.wav", "hi.wav", "notes.wav", "-d", "out", "--format",
                            "mp3", "--keep-going", "-q"});
    EXPECT_EQ(going.status, 3);
    EXPECT_NE(going.err.find("1 of 4 inputs rendered; not rendered: \"missing.wav\", "
                             "\"hi.wav\", \"notes.wav\""),
              std::string::npos)
        << going.err;
    EXPECT_TRUE(fs::exists(path("out/in.mp3")));
}

TEST_F(RendererFailuresTest, ModulesThatAreNotVstEffects) {
    expectFailure({"in.wav", "--plugin", "module.so"}, 4, "Cannot load the plug-in module");
    expectFailure({"in.wav", "--plugin", "absent.so"}, 4, "Cannot load the plug-in module");
    expectFailure({"in.wav", "--plugin", fixturePlugin(3)}, 4, "has no VSTPluginMain entry");
    expectFailure({"in.wav", "--plugin", fixturePlugin(1)}, 4,
                  "returned something other than an effect record");
    expectFailure({"in.wav", "--plugin", fixturePlugin(2)}, 4, "refused to create an effect");
    expectFailure({"--list-params", "--plugin", fixturePlugin(3)}, 4, "has no VSTPluginMain");
}

TEST_F(RendererFailuresTest, ParametersThatDoNotExist) {
    expectFailure({"in.wav", "--plugin", fixturePlugin(), "--param", "Volume=3"}, 5,
                  "no parameter named \"Volume\"");
    expectFailure({"in.wav", "--plugin", fixturePlugin(), "--param", "5=0.5n"}, 5,
                  "numbered from 0 to 4");
    expectFailure({"in.wav", "--param", "Lowpass Filtre=15000"}, 5,
                  "no parameter named \"Lowpass Filtre\"");
}

TEST_F(RendererFailuresTest, NearMissesGetASuggestion) {
    expectFailure({"in.wav", "--param", "Lowpas Filter=15000"}, 5,
                  "Did you mean \"Lowpass Filter\"?");
    expectFailure({"in.wav", "--param", "lowpass=15000"}, 5, "Did you mean \"Lowpass Filter\"?");
    expectFailure({"in.wav", "--plugin", fixturePlugin(), "--param", "Gian=3"}, 5,
                  "Did you mean \"Gain\"?");
    expectFailure({"in.wav", "--forc"}, 2, "Did you mean \"--force\"?");
    expectFailure({"in.wav", "--overwrite"}, 2, "Did you mean \"--force\"?");
    expectFailure({"in.wav", "--ouptut", "x.wav"}, 2, "Did you mean \"--output\"?");
    // Nothing near: no guess.
    const auto result = run({"in.wav", "--frobnicate"});
    EXPECT_EQ(result.err.find("Did you mean"), std::string::npos) << result.err;
}

TEST_F(RendererFailuresTest, ValuesThatAreOutOfRangeOrNotNumbers) {
    const std::string fixture = fixturePlugin();
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Gain=30"}, 6,
                  "\"30\" is out of range for \"Gain\" (-24.0 to 24.0)");
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Cutoff=10"}, 6, "out of range");
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Gain=loud"}, 6,
                  "\"loud\" for \"Gain\" is not a number");
    // A third-party plug-in's units are the labels it reports.
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Gain=3 kHz"}, 6,
                  "\"Gain\" is in dB, not kHz");
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Cutoff=1000 dB"}, 6,
                  "\"Cutoff\" is in Hz, not dB");
    expectFailure({"in.wav", "--plugin", fixture, "--param", "0=1.5n"}, 6, "outside 0 to 1");
    expectFailure({"in.wav", "--plugin", fixture, "--param", "Route=4"}, 6,
                  "shows \"Both\" to \"Right\" rather than numbers");
    expectFailure({"in.wav", "--param", "Lowpass Filter=500"}, 6, "out of range");
    expectFailure({"in.wav", "--param", "Output AGC Threshold=minus six"}, 6, "not a number");
}

TEST_F(RendererFailuresTest, ExistingOutputsAreKeptUnlessForced) {
    std::ofstream(path("taken.wav")) << "an earlier rendering";
    before_ = files();
    expectFailure({"in.wav", "-o", "taken.wav"}, 7, "already exists; --force replaces it");
    EXPECT_EQ(readFile(path("taken.wav")), "an earlier rendering");

    ASSERT_EQ(run({"in.wav", "-o", "taken.wav", "--force", "-q"}).status, 0);
    EXPECT_EQ(readSound(path("taken.wav")).frames(), 4410);
}

TEST_F(RendererFailuresTest, TheInputIsNeverReplaced) {
    const std::string original = readFile(path("in.wav"));
    expectFailure({"in.wav", "-o", "in.wav", "--force"}, 7, "never replaces its input");
    expectFailure({"in.wav", "-o", "./in.wav", "--force"}, 7, "never replaces its input");
    // Writing a folder's files into the same folder would replace them.
    expectFailure({"in.wav", "-d", ".", "--force"}, 7, "never replaces its input");
    EXPECT_EQ(readFile(path("in.wav")), original);
}

TEST_F(RendererFailuresTest, TwoInputsOntoOneOutputAreRefused) {
    fs::create_directory(path("other"));
    fs::copy_file(path("in.wav"), path("other/in.wav"));
    before_ = files();
    const auto result = run({"in.wav", "other/in.wav", "-d", "out"});
    EXPECT_EQ(result.status, 7);
    EXPECT_NE(result.err.find("would both be written"), std::string::npos) << result.err;
    EXPECT_EQ(files(), before_);
}

TEST_F(RendererFailuresTest, AnOutputThatCannotBeWritten) {
    expectFailure({"in.wav", "-o", "notes.wav/out.wav"}, 8, "Cannot create");
    expectFailure({"in.wav", "-o", "no/such/folder/out.wav"}, 8, "Cannot create");
    // A full device gets the system's reason in plain words, not the library's, in every format
    // (FLAC fails as its header goes out, WAV on its first block, MP3 where libsndfile reports
    // nothing at all).
    for (const std::string format : {"flac", "wav", "mp3"}) {
        expectFailure({"in.wav", "-o", "/dev/full", "--format", format, "-q"}, 8,
                      "Cannot write \"/dev/full\": no space is left on the device.");
    }
    // A terminal gets no audio.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    expectFailure({"in.wav", "-o", ptsname(terminal), "--format", "au"}, 7,
                  "is a terminal, and audio is not written to one");
    close(terminal);
}

TEST_F(RendererFailuresTest, AnUnwritableFolderStopsABatchBeforeItStarts) {
    // Run as an unprivileged user, for whom a folder without write permission is one.
    fs::permissions(root_, fs::perms::all);
    fs::permissions(dir_, fs::perms::all);
    fs::create_directory(path("a"));
    fs::create_directory(path("ro"));
    fs::permissions(path("a"), fs::perms::all);
    fs::copy_file(path("in.wav"), path("a/x.wav"));
    fs::copy_file(path("in.wav"), path("ro/y.wav"));
    fs::permissions(path("ro"), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const auto result =
        RendererProcess({"a/x.wav", "ro/y.wav", "-q"}, dir_, {}, "/dev/null", true).wait();
    EXPECT_EQ(result.status, 8) << result.err;
    EXPECT_NE(result.err.find("the folder \"ro\" may not be written"), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(path("a/x-stereo.wav")));
}

TEST_F(RendererFailuresTest, AnInterruptedRenderLeavesNothingBehind) {
    // An hour of demo programme takes far longer than the moment the test waits.
    std::ofstream(path("long.wav")) << "an earlier rendering";
    before_ = files();
    RendererProcess process({"--demo", "--demo-seconds", "3600", "-o", "long.wav", "-q", "-f"},
                            dir_);
    bool writing = false;
    for (int attempt = 0; attempt < 400 && !writing; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        for (const auto& name : files()) writing |= name.find(".partial-") != std::string::npos;
    }
    ASSERT_TRUE(writing) << "the renderer never started writing";
    kill(process.pid(), SIGINT);
    const auto result = process.wait();
    EXPECT_EQ(result.status, 128 + SIGINT);
    EXPECT_EQ(result.err,
              "zelko-render: Interrupted while rendering the demo programme; the old "
              "\"long.wav\" is untouched.\n");
    EXPECT_EQ(files(), before_);
    EXPECT_EQ(readFile(path("long.wav")), "an earlier rendering");
}

}  // namespace
}  // namespace rendertest
