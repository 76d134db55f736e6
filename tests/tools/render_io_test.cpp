// What the renderer reads and writes besides ordinary files: special outputs, pipes, integer
// samples, inputs cut short, the tail after the input, and the metadata that travels along.
// The fixture plug-in at its defaults passes its input through unchanged (after its latency,
// which the renderer compensates), so the output shows exactly what the renderer did.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

constexpr int kRate = 48000;

class RendererIoTest : public RendererTest {
  protected:
    void SetUp() override {
        RendererTest::SetUp();
        input_ = testSignal(kRate, 440.0, kRate, 0.5f);
        writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input_);
    }

    RunResult render(std::vector<std::string> arguments,
                     const std::string& stdinPath = "/dev/null") {
        arguments.insert(arguments.end(), {"--plugin", fixturePlugin()});
        return run(arguments, {}, stdinPath);
    }

    mode_t typeOf(const std::string& name) {
        struct stat status {};
        lstat(path(name).c_str(), &status);
        return status.st_mode & S_IFMT;
    }

    std::vector<float> input_;
};

TEST_F(RendererIoTest, OutputsThatAreNotPlainFilesAreStreamedFollowedOrRefused) {
    // A FIFO is written in place, as a stream in a format that can be streamed.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
    std::string streamed;
    // Read without blocking, so that a renderer that replaced the FIFO fails the test rather
    // than leaving it waiting for a writer forever.
    std::thread reader([&] {
        const int fd = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
        char buffer[65536];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                streamed.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 && !streamed.empty()) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        close(fd);
    });
    const auto piped = render({"in.wav", "-o", "fifo", "--format", "au", "-q"});
    reader.join();
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(typeOf("fifo"), S_IFIFO);
    EXPECT_EQ(streamed.substr(0, 4), ".snd");
    EXPECT_GT(streamed.size(), input_.size() * 2 * 2);
    // A format that must seek back to its header is refused before anything is written.
    EXPECT_EQ(render({"in.wav", "-o", "fifo", "--format", "w64"}).status, 2);

    // A character device (a null device of our own) stays what it is.
    if (geteuid() == 0) {
        ASSERT_EQ(mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        EXPECT_EQ(render({"in.wav", "-o", "null", "--force", "-q"}).status, 0);
        EXPECT_EQ(typeOf("null"), S_IFCHR);
    }

    // A symbolic link is followed: its target is replaced and the link stays.
    std::ofstream(path("target.wav")) << "old";
    fs::create_symlink("target.wav", path("link.wav"));
    EXPECT_EQ(render({"in.wav", "-o", "link.wav", "--force", "-q"}).status, 0);
    EXPECT_EQ(typeOf("link.wav"), S_IFLNK);
    EXPECT_EQ(readSound(path("target.wav")).frames(), kRate);

    // A socket is neither written nor replaced.
    const int socketFd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path("socket").c_str());
    ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto refused = render({"in.wav", "-o", "socket", "--force"});
    close(socketFd);
    EXPECT_EQ(refused.status, 7);
    EXPECT_NE(refused.err.find("is a socket"), std::string::npos) << refused.err;
    EXPECT_EQ(typeOf("socket"), S_IFSOCK);
}

TEST_F(RendererIoTest, IntegerOutputIsRoundedToNearestAndDitheredAtSixteenBits) {
    // Two samples beyond full scale must clip to the ends of the range, not wrap.
    input_[100] = 1.5f;
    input_[200] = -1.5f;
    writeSound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input_);
    // The error against the float signal, in steps of 16 bits: its mean and its RMS.
    auto error = [&](const std::string& output) {
        const Sound sound = readSound(path(output));
        double sum = 0.0, energy = 0.0;
        long count = 0;
        for (long i = 0; i < sound.frames(); ++i) {
            if (i == 100 || i == 200) continue;
            const double e = (sound.at(i, 0) - input_[static_cast<std::size_t>(i)]) * 32768.0;
            sum += e;
            energy += e * e;
            ++count;
        }
        EXPECT_EQ(sound.at(100, 0), 32767.0f / 32768.0f);
        EXPECT_EQ(sound.at(200, 0), -1.0f);
        return std::pair{sum / count, std::sqrt(energy / count)};
    };
    ASSERT_EQ(render({"in.wav", "-o", "plain.wav", "--subtype", "pcm16", "--dither", "none", "-q"})
                  .status,
              0);
    ASSERT_EQ(render({"in.wav", "-o", "dithered.wav", "--subtype", "pcm16", "-q"}).status, 0);
    // Rounding to nearest leaves a uniform error over +-0.5 step: mean 0 (within 0.01 step for
    // 48000 samples, whose standard error is 0.0013) and RMS sqrt(1/12) = 0.289. Triangular
    // dither of +-1 step adds a variance of 1/6, for an RMS of sqrt(1/12 + 1/6) = 0.5.
    const auto [plainMean, plainRms] = error("plain.wav");
    EXPECT_NEAR(plainMean, 0.0, 0.01);
    EXPECT_NEAR(plainRms, std::sqrt(1.0 / 12.0), 0.01);
    const auto [ditheredMean, ditheredRms] = error("dithered.wav");
    EXPECT_NEAR(ditheredMean, 0.0, 0.01);
    EXPECT_NEAR(ditheredRms, 0.5, 0.01);

    // Eight bits round to nearest too: no sample is more than half a step from the float one.
    ASSERT_EQ(
        render({"in.wav", "-o", "eight.wav", "--subtype", "pcm8", "--dither", "none", "-q"}).status,
        0);
    const Sound eight = readSound(path("eight.wav"));
    for (long i = 0; i < eight.frames(); i += 7) {
        if (i == 100 || i == 200) continue;
        ASSERT_LE(std::fabs(eight.at(i, 0) - input_[static_cast<std::size_t>(i)]), 0.5f / 128.0f)
            << i;
    }
}

TEST_F(RendererIoTest, AnInputCutShortIsReportedAndWhatItHeldIsWritten) {
    // A 16-bit WAV whose data chunk promises 9600 frames, cut after 5000 of them.
    writeSound(path("cut.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1,
               std::vector<float>(input_.begin(), input_.begin() + 9600));
    fs::resize_file(path("cut.wav"), 44 + 5000 * 2);
    const auto result = render({"cut.wav", "-o", "out.wav", "-q"});
    EXPECT_EQ(result.status, 9);
    EXPECT_NE(result.err.find("ends after 5000 of the 9600 frames its header promises"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(readSound(path("out.wav")).frames(), 5000);
}

TEST_F(RendererIoTest, StandardInputAndOutputCarryTheFormatsThatStream) {
    const auto result =
        render({"-", "-o", "-", "--format", "flac", "--subtype", "pcm24"}, path("in.wav"));
    ASSERT_EQ(result.status, 0) << result.err;
    // The audio goes to standard output, so the summary goes to standard error.
    EXPECT_NE(result.err.find("standard input -> -: 1.000 s"), std::string::npos) << result.err;
    std::ofstream(path("out.flac"), std::ios::binary) << result.out;
    const Sound sound = readSound(path("out.flac"));
    ASSERT_EQ(sound.frames(), kRate);
    for (long i = 0; i < kRate; i += 11) {
        ASSERT_NEAR(sound.at(i, 1), input_[static_cast<std::size_t>(i)], 1.0f / 8388608.0f) << i;
    }
    EXPECT_EQ(render({"in.wav", "-o", "-"}).status, 2);  // no format for standard output
}

TEST_F(RendererIoTest, TailRendersThePluginBeyondTheInputsEnd) {
    // Raw, the fixture's output is its input 37 samples late; a tail of 100 samples brings the
    // input's last samples out, followed by silence.
    const auto result = render(
        {"in.wav", "-o", "out.wav", "--tail", "0.0020833333", "--no-latency-compensation", "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Sound sound = readSound(path("out.wav"));
    ASSERT_EQ(sound.frames(), kRate + 100);
    for (long i = kRate; i < kRate + kFixtureLatency; ++i) {
        ASSERT_EQ(sound.at(i, 0), input_[static_cast<std::size_t>(i - kFixtureLatency)]) << i;
    }
    for (long i = kRate + kFixtureLatency; i < kRate + 100; ++i) ASSERT_EQ(sound.at(i, 0), 0.0f);
}

TEST_F(RendererIoTest, TagsBroadcastDescriptionAndCuesAreCopied) {
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    info.channels = 1;
    info.samplerate = kRate;
    SNDFILE* file = sf_open(path("tagged.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_set_string(file, SF_STR_TITLE, "Interview");
    sf_set_string(file, SF_STR_ARTIST, "A. Speaker");
    sf_set_string(file, SF_STR_DATE, "2026-12-08");
    SF_BROADCAST_INFO broadcast{};
    std::snprintf(broadcast.description, sizeof broadcast.description, "take 3");
    broadcast.time_reference_low = 1000000;
    sf_command(file, SFC_SET_BROADCAST_INFO, &broadcast, sizeof broadcast);
    SF_CUES cues{};
    cues.cue_count = 2;
    cues.cue_points[0].indx = 1;
    cues.cue_points[0].sample_offset = 4800;
    cues.cue_points[1].indx = 2;
    cues.cue_points[1].sample_offset = 24000;
    sf_command(file, SFC_SET_CUE, &cues, sizeof cues);
    sf_writef_float(file, input_.data(), kRate);
    sf_close(file);

    ASSERT_EQ(render({"tagged.wav", "-o", "aligned.wav", "-q"}).status, 0);
    ASSERT_EQ(render({"tagged.wav", "-o", "raw.wav", "--no-latency-compensation", "-q"}).status, 0);
    ASSERT_EQ(render({"tagged.wav", "-o", "tagged.flac", "-q"}).status, 0);
    // The time reference marks the first sample: the same when aligned, earlier by the
    // latency when the output comes raw.
    for (const auto& [name, reference] : {std::pair{std::string("aligned.wav"), 1000000u},
                                          {"raw.wav", 1000000u - kFixtureLatency}}) {
        SCOPED_TRACE(name);
        SF_INFO outInfo{};
        SNDFILE* out = sf_open(path(name).c_str(), SFM_READ, &outInfo);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(sf_get_string(out, SF_STR_TITLE), "Interview");
        EXPECT_STREQ(sf_get_string(out, SF_STR_ARTIST), "A. Speaker");
        SF_BROADCAST_INFO copied{};
        ASSERT_EQ(sf_command(out, SFC_GET_BROADCAST_INFO, &copied, sizeof copied), SF_TRUE);
        EXPECT_STREQ(copied.description, "take 3");
        EXPECT_EQ(copied.time_reference_low, reference);
        SF_CUES copiedCues{};
        ASSERT_EQ(sf_command(out, SFC_GET_CUE, &copiedCues, sizeof copiedCues), SF_TRUE);
        ASSERT_EQ(copiedCues.cue_count, 2u);
        EXPECT_EQ(copiedCues.cue_points[1].sample_offset, 24000u);
        sf_close(out);
    }
    // FLAC keeps the text tags as Vorbis comments.
    SF_INFO flacInfo{};
    SNDFILE* flac = sf_open(path("tagged.flac").c_str(), SFM_READ, &flacInfo);
    ASSERT_NE(flac, nullptr);
    EXPECT_STREQ(sf_get_string(flac, SF_STR_DATE), "2026-12-08");
    sf_close(flac);
}

}  // namespace
}  // namespace rendertest
