// The check of a WAV file's lists before libsndfile opens it: a list whose walk would keep
// libsndfile looping is refused wherever libsndfile meets it, and well-formed files pass whatever
// their samples hold.

#include "tools/render/riff_guard.h"

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

std::string guardOf(const std::string& file) {
    const render::ReadAt readAt = [&file](std::int64_t offset, std::size_t count) {
        const auto from = static_cast<std::size_t>(offset);
        return from < file.size() ? file.substr(from, count) : std::string();
    };
    return render::implausibleRiffChunks(readAt, static_cast<std::int64_t>(file.size()));
}

std::string chunk(const std::string& id, const std::string& body) {
    return id + le32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string wave(const std::string& chunks, const std::string& riff = "RIFF") {
    return riff + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// A list whose part claims 0xFFFFFFF8 bytes, which wraps libsndfile's count of bytes read; as
// 16-bit samples its last bytes are quiet noise (-8, -1).
const std::string kWrappingList = chunk("LIST", "INFO" + std::string("IXYZ") + le32(0xFFFFFFF8u));

TEST(RiffGuard, WellFormedFilesPassWhateverTheirSamplesHold) {
    const std::string tags = chunk("LIST", "INFO" + chunk("INAM", std::string("take\0\0", 6)));
    // libsndfile reads a list of another type with the type as a part: here one that claims
    // "labl" bytes, more than the list holds, which ends that walk.
    const std::string labels =
        chunk("LIST", "adtx" + chunk("labl", le32(1) + std::string("cue\0", 4)));
    EXPECT_EQ(guardOf(wave(monoFormatChunk() + tags + labels + chunk("data", kWrappingList))), "");
    // RF64: the samples' length comes from "ds64".
    const std::string ds64 =
        chunk("ds64", le64(0) + le64(kWrappingList.size()) + le64(0) + le32(0));
    EXPECT_EQ(
        guardOf(wave(ds64 + monoFormatChunk() + "data" + le32(0xFFFFFFFF) + kWrappingList, "RF64")),
        "");
}

TEST(RiffGuard, RefusesAWrappingListWhereverLibsndfileMeetsIt) {
    const std::string refused =
        "a part of its LIST chunk claims 4294967288 bytes, past the end of the file";
    const std::string samples = std::string(8, '\0');
    EXPECT_EQ(guardOf(wave(monoFormatChunk() + kWrappingList + chunk("data", samples))), refused);
    // After the samples; in RF64, after the length "ds64" gives them.
    EXPECT_EQ(guardOf(wave(monoFormatChunk() + chunk("data", samples) + kWrappingList)), refused);
    const std::string ds64 = chunk("ds64", le64(0) + le64(samples.size()) + le64(0) + le32(0));
    EXPECT_EQ(
        guardOf(wave(ds64 + monoFormatChunk() + "data" + le32(0xFFFFFFFF) + samples + kWrappingList,
                     "RF64")),
        refused);
    // Inside the declared samples, where an earlier list's walk stops at a "data" of its own:
    // libsndfile takes its samples from there and reads on into these.
    const std::string stopsAtData = chunk("LIST", "INFO" + chunk("data", le32(0)));
    EXPECT_EQ(guardOf(wave(monoFormatChunk() + stopsAtData + chunk("data", kWrappingList))),
              refused);
}

}  // namespace
}  // namespace rendertest
