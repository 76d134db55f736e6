// What the renderer reads and writes besides ordinary files: special outputs, pipes, integer
// samples, inputs cut short, the tail after the input, and the metadata that travels along.
// The fixture plug-in at its defaults passes its input through unchanged (after its latency,
// which the renderer compensates), so the output shows exactly what the renderer did.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

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
    EXPECT_EQ(eight.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
    for (long i = 0; i < eight.frames(); i += 7) {
        if (i == 100 || i == 200) continue;
        ASSERT_LE(std::fabs(eight.at(i, 0) - input_[static_cast<std::size_t>(i)]), 0.5f / 128.0f)
            << i;
    }
    // Unsigned 8-bit WAV into AIFF: a plain AIFF of signed bytes, not an AIFC of raw ones.
    ASSERT_EQ(render({"eight.wav", "-o", "eight.aiff", "-q"}).status, 0);
    EXPECT_EQ(readFile(path("eight.aiff")).substr(8, 4), "AIFF");
    EXPECT_EQ(readSound(path("eight.aiff")).info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8);
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

    // Cut at an odd byte, half a sample more: the promise is still the header's 9600 frames.
    fs::resize_file(path("cut.wav"), 44 + 5000 * 2 + 1);
    const auto odd = render({"cut.wav", "-o", "odd.wav", "-q"});
    EXPECT_EQ(odd.status, 9);
    EXPECT_NE(odd.err.find("ends after 5000 of the 9600 frames"), std::string::npos) << odd.err;
    // Nothing but the header is as cut as a file can be, not an empty recording.
    fs::resize_file(path("cut.wav"), 44);
    const auto bare = render({"cut.wav", "-o", "bare.wav", "-q"});
    EXPECT_EQ(bare.status, 9);
    EXPECT_NE(bare.err.find("ends after 0 of the 9600 frames"), std::string::npos) << bare.err;

    // A FLAC file cut in the middle of a frame: what decodes is written, and the run says so.
    writeSound(path("cut.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1, input_);
    fs::resize_file(path("cut.flac"), fs::file_size(path("cut.flac")) / 2);
    const auto flac = render({"cut.flac", "-o", "flac.wav", "--dither", "none", "-q"});
    EXPECT_EQ(flac.status, 9) << flac.err;
    EXPECT_NE(flac.err.find("of the 48000 frames its header promises, where it could no longer "
                            "be decoded"),
              std::string::npos)
        << flac.err;
    const Sound decoded = readSound(path("flac.wav"));
    EXPECT_GT(decoded.frames(), kRate / 4);
    EXPECT_LT(decoded.frames(), kRate);
    // Half a step of rounding into the FLAC file and half a step out of it.
    for (long i = 0; i < decoded.frames(); i += 13) {
        ASSERT_NEAR(decoded.at(i, 0), input_[static_cast<std::size_t>(i)], 1.0f / 32768.0f) << i;
    }

    // An Ogg stream cut before its last page has no length to promise, and none is made up.
    writeSound(path("cut.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, kRate, 1,
               testSignal(4 * kRate, 440.0, kRate, 0.5f));
    fs::resize_file(path("cut.ogg"), fs::file_size(path("cut.ogg")) * 7 / 10);
    const auto ogg = render({"cut.ogg", "-o", "ogg.wav", "-q"});
    EXPECT_EQ(ogg.status, 9) << ogg.err;
    EXPECT_NE(ogg.err.find("frames, short of the end its header promises"), std::string::npos)
        << ogg.err;
    EXPECT_EQ(ogg.err.find("9223372036854775807"), std::string::npos) << ogg.err;
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

// Writes `bytes` into the FIFO at `path` once a reader has opened it; gives up after 20 s, so
// that a renderer that never reads fails the test instead of hanging it.
std::thread feedFifo(const std::string& path, std::string bytes) {
    return std::thread([path, bytes = std::move(bytes)] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int fd = -1;
        while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
            fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (fd < 0) return;
        fcntl(fd, F_SETFL, 0);
        // A reader that stops early must fail the test, not end it by SIGPIPE.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
            if (put <= 0) break;
            done += static_cast<std::size_t>(put);
        }
        close(fd);
    });
}

// Runs the renderer, killing it after 20 s: a renderer waiting on a pipe that nobody will
// write again fails the test instead of hanging it.
RunResult runAtMost20Seconds(RendererProcess process) {
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!done) kill(process.pid(), SIGKILL);
    });
    RunResult result = process.wait();
    done = true;
    watchdog.join();
    return result;
}

TEST_F(RendererIoTest, PipesNamedByAPathAreReadAndFlacIsSpooledThenRemoved) {
    writeSound(path("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 1, input_);
    fs::create_directory(root_ + "/tmp");
    const std::map<std::string, std::string> environment = {{"TMPDIR", root_ + "/tmp"}};
    ASSERT_EQ(mkfifo(path("wav.pipe").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(path("flac.pipe").c_str(), 0644), 0);
    // A path that is a pipe, as a shell's <(cat in.wav) gives, read as a stream.
    std::thread wav = feedFifo(path("wav.pipe"), readFile(path("in.wav")));
    const auto streamed = runAtMost20Seconds(RendererProcess(
        {"wav.pipe", "-o", "w.wav", "-q", "--plugin", fixturePlugin()}, dir_, environment));
    wav.join();
    // FLAC, which libsndfile reads only from a file, through a named pipe and standard input.
    std::thread flac = feedFifo(path("flac.pipe"), readFile(path("in.flac")));
    const auto spooled = runAtMost20Seconds(RendererProcess(
        {"flac.pipe", "-o", "f.wav", "-q", "--plugin", fixturePlugin()}, dir_, environment));
    flac.join();
    std::thread standard = feedFifo(path("flac.pipe"), readFile(path("in.flac")));
    const auto piped =
        runAtMost20Seconds(RendererProcess({"-", "-o", "s.wav", "-q", "--plugin", fixturePlugin()},
                                           dir_, environment, path("flac.pipe")));
    standard.join();
    for (const auto& [result, output] :
         {std::pair{streamed, "w.wav"}, {spooled, "f.wav"}, {piped, "s.wav"}}) {
        SCOPED_TRACE(output);
        ASSERT_EQ(result.status, 0) << result.err;
        const Sound sound = readSound(path(output));
        ASSERT_EQ(sound.frames(), kRate);
        EXPECT_NEAR(sound.at(kRate / 2, 1), input_[kRate / 2], 1.0f / 8388608.0f);
    }
    // The spooled copies are gone.
    EXPECT_TRUE(fs::is_empty(root_ + "/tmp"));
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
    // An iXML chunk, and the cue labels of a LIST adtl chunk: "labl" for cue 1, "intro" (its
    // text padded to four bytes, as libsndfile 1.2 reads only labels of that length).
    const std::string ixml = "<BWFXML><PROJECT>pilot</PROJECT></BWFXML>";
    const std::string labels = std::string("adtllabl\x0c\0\0\0\x01\0\0\0intro\0\0\0", 24);
    for (const auto& [id, data] : {std::pair{"iXML", ixml}, {"LIST", labels}}) {
        SF_CHUNK_INFO chunk{};
        std::snprintf(chunk.id, sizeof chunk.id, "%s", id);
        chunk.id_size = 4;
        chunk.datalen = static_cast<unsigned>(data.size());
        chunk.data = const_cast<char*>(data.data());
        ASSERT_EQ(sf_set_chunk(file, &chunk), SF_ERR_NO_ERROR);
    }
    sf_writef_float(file, input_.data(), kRate);
    sf_close(file);

    ASSERT_EQ(render({"tagged.wav", "-o", "aligned.wav", "-q"}).status, 0);
    ASSERT_EQ(render({"tagged.wav", "-o", "raw.wav", "--no-latency-compensation", "-q"}).status, 0);
    ASSERT_EQ(render({"tagged.wav", "-o", "tagged.flac", "-q"}).status, 0);
    // The time reference marks the first sample: the same when aligned, earlier by the
    // latency when the output comes raw, where the cue points move later by as much, so that
    // both still mark the same sound.
    for (const auto& [name, shift] :
         {std::pair{std::string("aligned.wav"), 0u}, {"raw.wav", unsigned{kFixtureLatency}}}) {
        SCOPED_TRACE(name);
        SF_INFO outInfo{};
        SNDFILE* out = sf_open(path(name).c_str(), SFM_READ, &outInfo);
        ASSERT_NE(out, nullptr);
        EXPECT_STREQ(sf_get_string(out, SF_STR_TITLE), "Interview");
        EXPECT_STREQ(sf_get_string(out, SF_STR_ARTIST), "A. Speaker");
        SF_BROADCAST_INFO copied{};
        ASSERT_EQ(sf_command(out, SFC_GET_BROADCAST_INFO, &copied, sizeof copied), SF_TRUE);
        EXPECT_STREQ(copied.description, "take 3");
        EXPECT_EQ(copied.time_reference_low, 1000000u - shift);
        SF_CUES copiedCues{};
        ASSERT_EQ(sf_command(out, SFC_GET_CUE, &copiedCues, sizeof copiedCues), SF_TRUE);
        ASSERT_EQ(copiedCues.cue_count, 2u);
        EXPECT_EQ(copiedCues.cue_points[0].sample_offset, 4800u + shift);
        EXPECT_EQ(copiedCues.cue_points[1].sample_offset, 24000u + shift);
        EXPECT_STREQ(copiedCues.cue_points[0].name, "intro");  // libsndfile reads the labels
        SF_CHUNK_INFO wanted{};
        std::snprintf(wanted.id, sizeof wanted.id, "iXML");
        wanted.id_size = 4;
        SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(out, &wanted);
        ASSERT_NE(chunk, nullptr);
        SF_CHUNK_INFO found{};
        ASSERT_EQ(sf_get_chunk_size(chunk, &found), SF_ERR_NO_ERROR);
        std::string data(found.datalen, '\0');
        found.data = data.data();
        ASSERT_EQ(sf_get_chunk_data(chunk, &found), SF_ERR_NO_ERROR);
        EXPECT_EQ(data.substr(0, ixml.size()), ixml);
        sf_close(out);
    }
    // FLAC keeps the text tags as Vorbis comments.
    SF_INFO flacInfo{};
    SNDFILE* flac = sf_open(path("tagged.flac").c_str(), SFM_READ, &flacInfo);
    ASSERT_NE(flac, nullptr);
    EXPECT_STREQ(sf_get_string(flac, SF_STR_DATE), "2026-12-08");
    sf_close(flac);
}

// 24-bit WAV files usually carry the 40-byte extensible format chunk; their iXML travels too.
TEST_F(RendererIoTest, IxmlIsCopiedFromAFileWithTheExtensibleFormatChunk) {
    SF_INFO info{};
    info.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_24;
    info.channels = 1;
    info.samplerate = kRate;
    SNDFILE* file = sf_open(path("extensible.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::string ixml = "<BWFXML><SCENE>12A</SCENE></BWFXML>";
    SF_CHUNK_INFO chunk{};
    std::snprintf(chunk.id, sizeof chunk.id, "iXML");
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(ixml.size());
    chunk.data = ixml.data();
    ASSERT_EQ(sf_set_chunk(file, &chunk), SF_ERR_NO_ERROR);
    sf_writef_float(file, input_.data(), kRate);
    sf_close(file);
    // Kept as it is (beside the input) and converted to plain WAV.
    ASSERT_EQ(render({"extensible.wav", "-q"}).status, 0);
    ASSERT_EQ(render({"extensible.wav", "-o", "plain.wav", "-q"}).status, 0);
    EXPECT_EQ(chunkData(path("extensible-stereo.wav"), "iXML").substr(0, ixml.size()), ixml);
    EXPECT_EQ(chunkData(path("plain.wav"), "iXML").substr(0, ixml.size()), ixml);
}

}  // namespace
}  // namespace rendertest
