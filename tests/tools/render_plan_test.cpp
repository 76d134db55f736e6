// The renderer's planning, called directly: formats, output names, the checks made before a
// batch starts, and the progress line's rate and time left.

#include "tests/tools/render_support.h"
#include "tools/render/failure.h"
#include "tools/render/job_plan.h"
#include "tools/render/loudness_target.h"
#include "tools/render/progress.h"

namespace rendertest {
namespace {

using render::ExitStatus;
using render::Failure;
using render::FileFormat;
using render::Options;

// The status a call fails with, or kOk when it does not.
template <typename Call>
ExitStatus statusOf(Call call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.status();
    }
    return ExitStatus::kOk;
}

class RenderPlanTest : public RendererTest {};

TEST_F(RenderPlanTest, FormatComesFromTheOptionsTheNameOrTheInput) {
    const FileFormat wav16{SF_FORMAT_WAV, SF_FORMAT_PCM_16};
    Options options;
    EXPECT_EQ(render::chooseFormat(options, "x.wav", wav16, 48000, 2).code(), wav16.code());
    options.output = "x.flac";
    EXPECT_EQ(render::chooseFormat(options, "x.flac", wav16, 48000, 2).code(),
              SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    // Float does not fit FLAC: without --subtype the nearest encoding is taken, with it the
    // request is refused.
    const FileFormat wavFloat{SF_FORMAT_WAV, SF_FORMAT_FLOAT};
    EXPECT_EQ(render::chooseFormat(options, "x.flac", wavFloat, 48000, 2).code(),
              SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    options.subtype = "float";
    EXPECT_EQ(statusOf([&] { render::chooseFormat(options, "x.flac", wav16, 48000, 2); }),
              ExitStatus::kUsage);
    // An MP3 input written as WAV becomes PCM: libsndfile writes MP3 only in MP3 files.
    Options wav;
    wav.output = "x.wav";
    EXPECT_EQ(
        render::chooseFormat(wav, "x.wav", {SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III}, 48000, 2)
            .code(),
        SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    // Opus by name runs only at its own rates.
    Options opus;
    opus.format = "opus";
    EXPECT_EQ(render::chooseFormat(opus, "x.opus", wav16, 48000, 2).encoding, SF_FORMAT_OPUS);
    EXPECT_EQ(statusOf([&] { render::chooseFormat(opus, "x.opus", wav16, 44100, 2); }),
              ExitStatus::kUsage);
}

TEST_F(RenderPlanTest, OutputNamesFollowTheInputFolderAndFormat) {
    Options options;
    EXPECT_EQ(render::outputPathFor(options, "a/take.wav", SF_FORMAT_WAV), "a/take-stereo.wav");
    options.format = "flac";
    EXPECT_EQ(render::outputPathFor(options, "a/take.wav", SF_FORMAT_WAV), "a/take-stereo.flac");
    options.outputDir = "out";
    EXPECT_EQ(render::outputPathFor(options, "a/take.wav", SF_FORMAT_WAV), "out/take.flac");
    options.output = "named.aiff";
    EXPECT_EQ(render::outputPathFor(options, "a/take.wav", SF_FORMAT_WAV), "named.aiff");
}

TEST_F(RenderPlanTest, FormatAndNameMustAgree) {
    Options options;
    options.format = "wav";
    options.output = "f.flac";
    EXPECT_EQ(statusOf([&] { render::checkFormatAgreesWithName(options); }), ExitStatus::kUsage);
    options.output = "f.wav";
    EXPECT_EQ(statusOf([&] { render::checkFormatAgreesWithName(options); }), ExitStatus::kOk);
    options.format = "opus";  // Opus lives in Ogg
    options.output = "f.ogg";
    EXPECT_EQ(statusOf([&] { render::checkFormatAgreesWithName(options); }), ExitStatus::kOk);
    options.output = "f.take";  // no format of ours
    EXPECT_EQ(statusOf([&] { render::checkFormatAgreesWithName(options); }), ExitStatus::kOk);
    options.format = "rf64";  // RF64 files usually keep the .wav name
    options.output = "f.wav";
    EXPECT_EQ(statusOf([&] { render::checkFormatAgreesWithName(options); }), ExitStatus::kOk);
}

// The loudness pass spools each output as floats: the two largest of a batch on two jobs
// must fit in what $TMPDIR has free.
TEST_F(RenderPlanTest, LoudnessRunIsRefusedWhenItsSpoolWouldNotFit) {
    Options options;
    options.loudnessTarget = true;
    std::vector<render::Job> jobs(3);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].inputRate = jobs[i].sampleRate = 48000;
        jobs[i].inputFrames = 48000 * static_cast<std::int64_t>(i + 1);  // 1, 2 and 3 s
    }
    const std::uint64_t second = 48000 * 2 * 4;  // a second of stereo floats
    const auto check = [&](int sideBySide, std::uint64_t free) {
        return statusOf(
            [&] { render::checkLoudnessSpoolRoom(jobs, options, sideBySide, free, "/spool"); });
    };
    EXPECT_EQ(check(1, 3 * second), ExitStatus::kOk);
    EXPECT_EQ(check(1, 3 * second - 1), ExitStatus::kWriteFailed);
    EXPECT_EQ(check(2, 5 * second), ExitStatus::kOk);
    EXPECT_EQ(check(2, 5 * second - 1), ExitStatus::kWriteFailed);
    options.loudnessTarget = false;
    EXPECT_EQ(check(2, 0), ExitStatus::kOk);
}

// A gain that rounds to nothing is "0.0 dB", neither "-0.0" nor "+0.0".
TEST_F(RenderPlanTest, LoudnessFiguresNeverShowANegativeZero) {
    const std::string text =
        render::describeLoudness(render::loudnessGain(-15.96, -6.0, -16.0, -1.0));
    EXPECT_NE(text.find("gain 0.0 dB"), std::string::npos) << text;
    EXPECT_NE(render::describeLoudness(render::loudnessGain(-18.0, -6.0, -16.0, -1.0))
                  .find("gain +2.0 dB"),
              std::string::npos);
}

TEST_F(RenderPlanTest, OutputFoldersAreCheckedBeforeAnythingIsRendered) {
    std::ofstream(path("file")) << "not a folder";
    auto status = [&](const std::string& file, bool creatable) {
        return statusOf([&] { render::checkFolderWritable(path(file), creatable); });
    };
    EXPECT_EQ(status("x.wav", false), ExitStatus::kOk);
    EXPECT_EQ(status("new/deeper/x.wav", false), ExitStatus::kWriteFailed);
    EXPECT_EQ(status("new/deeper/x.wav", true), ExitStatus::kOk);  // --output-dir creates it
    EXPECT_EQ(status("file/x.wav", true), ExitStatus::kWriteFailed);
}

TEST_F(RenderPlanTest, ABatchIsPlannedWholeOrRefused) {
    writeSound(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 1,
               testSignal(100, 440, 44100));
    fs::create_directory(path("b"));
    fs::copy_file(path("a.wav"), path("b/a.wav"));
    Options options;
    options.inputs = {path("a.wav"), path("b/a.wav")};
    const auto plan = render::planJobs(options);
    ASSERT_EQ(plan.jobs.size(), 2u);
    EXPECT_EQ(plan.jobs[1].output, path("b/a-stereo.wav"));
    EXPECT_EQ(plan.jobs[1].sampleRate, 44100);
    EXPECT_EQ(plan.jobs[1].format.code(), SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    // Both into one folder would be one file: the second is a problem of the plan.
    options.outputDir = path("out");
    const auto clash = render::planJobs(options);
    ASSERT_EQ(clash.problems.size(), 1u);
    EXPECT_EQ(clash.problems[0].input, path("b/a.wav"));
    EXPECT_EQ(clash.problems[0].status, ExitStatus::kOutputRefused);
    EXPECT_EQ(clash.jobs.size(), 1u);
    // Standard input needs a named output, and standard output a format.
    Options piped;
    piped.inputs = {"-"};
    EXPECT_EQ(statusOf([&] { render::planJobs(piped); }), ExitStatus::kUsage);
    piped.inputs = {path("a.wav")};
    piped.output = "-";
    EXPECT_EQ(statusOf([&] { render::planJobs(piped); }), ExitStatus::kUsage);
}

TEST_F(RenderPlanTest, ProgressShowsTheSpeedAndTheTimeLeft) {
    // Ten seconds of audio done in one second: 10x, and the ten seconds left take one.
    EXPECT_EQ(render::progressLine(480000, 960000, 48000.0, 1.0, "in.wav"),
              "[###############---------------]  50%  10x  0:01 left  in.wav");
    // Two hours left at 1x.
    EXPECT_NE(render::progressLine(48000, 48000 * 7201, 48000.0, 1.0, "x").find("1x  2:00:00 left"),
              std::string::npos);
    // Too early to tell, and a source of unknown length.
    EXPECT_NE(render::progressLine(4800, 96000, 48000.0, 0.01, "x").find("--  -- left"),
              std::string::npos);
    EXPECT_EQ(render::progressLine(96000, -1, 48000.0, 0.5, "x"), "2.0 s  4x  x");
}

}  // namespace
}  // namespace rendertest
