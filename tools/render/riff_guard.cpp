#include "tools/render/riff_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace render {

namespace {

// The 32-bit size of a chunk header, little-endian in RIFF, big-endian in RIFX.
std::uint32_t sizeField(const std::string& header, bool bigEndian) {
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>(
            header[static_cast<std::size_t>(4 + (bigEndian ? i : 3 - i))]);
        size = (size << 8) | byte;
    }
    return size;
}

// Enough for any real file's chunk list or list's parts; a longer one is left to libsndfile.
constexpr int kMostChunks = 4096;

bool hasId(const std::string& header, const char* id) {
    return header.compare(0, 4, id) == 0;
}

// How libsndfile's walk of one list ends: the size of a part that wraps its 32-bit count of bytes
// read (-1 where none does), and whether it stopped at a "data" that it then reads as the
// file's samples.
struct ListWalk {
    std::int64_t wrappingSize = -1;
    bool endsAtData = false;
};

// libsndfile's walk of a list's parts, as 1.2 does it. It begins at the list's type and reads it
// as a part, size and all, unless the type is "INFO" or "adtl"; four zero bytes, "data" or
// "exif" end it (the exif walk bounds its own parts). Where adding a part's size to the count of
// bytes read wraps past 2^32, the wrapped sum passes its bounds check, the skip goes backwards,
// and the walk never ends.
ListWalk walkList(const ReadAt& readAt, std::int64_t start, std::int64_t listLength,
                  std::int64_t fileLength, bool bigEndian) {
    std::uint32_t bytesRead = 0;
    std::int64_t at = start;
    for (int part = 0; part < kMostChunks && bytesRead < listLength; ++part) {
        const std::string header = readAt(at, 8);
        if (header.size() < 4 || header.compare(0, 4, std::string(4, '\0')) == 0 ||
            hasId(header, "exif")) {
            break;
        }
        if (hasId(header, "data")) return {-1, true};
        bytesRead += 4;
        at += 4;
        if (hasId(header, "INFO") || hasId(header, "adtl")) continue;
        if (header.size() < 8) break;
        std::uint32_t size = sizeField(header, bigEndian);
        size += size & 1;
        bytesRead += 4;
        at += 4;
        if (std::uint64_t{bytesRead} + size >= (std::uint64_t{1} << 32) && size > fileLength - at) {
            return {size, false};
        }
        if (bytesRead + size > listLength) break;
        bytesRead += size;
        at += size;
    }
    return {};
}

// The walk of the list whose header is at `offset`; a list of eight bytes or fewer is skipped
// whole.
ListWalk walkListAt(const ReadAt& readAt, std::int64_t offset, std::uint32_t size,
                    std::int64_t fileLength, bool bigEndian) {
    if (size <= 8) return {};
    const std::int64_t listLength = std::min<std::int64_t>(size, fileLength - (offset + 8));
    return walkList(readAt, offset + 8, listLength, fileLength, bigEndian);
}

std::string claimsPastTheEnd(std::int64_t size) {
    return "a part of its LIST chunk claims " + std::to_string(size) +
           " bytes, past the end of the file";
}

// The samples' bytes where the chunks up to them are laid out as libsndfile reads them too.
struct Samples {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// Walks the chunks as declared: fails a list part that runs past the end of the file, and finds
// the samples, unless a list's walk stops at a "data" of its own (libsndfile's samples then
// begin elsewhere). The lists' wrapping parts are left to the walk of every list.
std::string walkChunks(const ReadAt& readAt, std::int64_t length, bool bigEndian,
                       Samples& samples) {
    std::int64_t offset = 12;
    std::int64_t longSamples = -1;  // the samples' length an RF64 file gives in "ds64"
    for (int chunk = 0; chunk < kMostChunks && offset + 8 <= length; ++chunk) {
        const std::string header = readAt(offset, 8);
        if (header.size() < 8) break;
        std::int64_t size = sizeField(header, bigEndian);
        if (hasId(header, "ds64")) {
            const std::string lengths = readAt(offset + 8, 16);
            if (lengths.size() == 16) {
                longSamples = 0;
                for (int i = 15; i >= 8; --i) {
                    longSamples = (longSamples << 8) |
                                  static_cast<unsigned char>(lengths[static_cast<std::size_t>(i)]);
                }
            }
        } else if (hasId(header, "data")) {
            if (size == 0xFFFFFFFF && longSamples >= 0) size = longSamples;
            samples = {offset + 8, std::min(offset + 8 + size, length)};
            if (samples.end < 0 || samples.end < samples.begin) samples = {};
            return "";
        } else if (hasId(header, "LIST")) {
            if (walkListAt(readAt, offset, static_cast<std::uint32_t>(size), length, bigEndian)
                    .endsAtData) {
                return "";
            }
            // The members follow the list's four-letter type.
            const std::int64_t end = std::min(offset + 8 + size, length);
            std::int64_t member = offset + 12;
            for (int part = 0; part < kMostChunks && member + 8 <= end; ++part) {
                const std::string memberHeader = readAt(member, 8);
                if (memberHeader.size() < 8) break;
                const std::int64_t memberSize = sizeField(memberHeader, bigEndian);
                if (memberSize > length - (member + 8)) return claimsPastTheEnd(memberSize);
                member += 8 + memberSize + (memberSize & 1);
            }
        }
        if (offset + 8 + size > length) break;
        offset += 8 + size + (size & 1);
    }
    return "";
}

// The size of a wrapping part in a list whose header starts in [begin, end), or -1. A list's type
// "INFO" is not walked again: its list is.
std::int64_t wrappingListBetween(const ReadAt& readAt, std::int64_t begin, std::int64_t end,
                                 std::int64_t length, bool bigEndian) {
    constexpr std::int64_t kBlock = 1 << 20;
    for (std::int64_t from = begin; from < end; from += kBlock) {
        // Seven bytes more, for the header of a list that starts in the block's last bytes.
        const std::string block = readAt(from, static_cast<std::size_t>(kBlock + 7));
        const auto starts = static_cast<std::size_t>(std::min(kBlock, end - from));
        for (const char* marker : {"LIST", "INFO"}) {
            for (std::size_t at = block.find(marker); at < starts && at + 8 <= block.size();
                 at = block.find(marker, at + 1)) {
                const std::int64_t offset = from + static_cast<std::int64_t>(at);
                if (marker[0] == 'I' && offset >= 8 && readAt(offset - 8, 4) == "LIST") continue;
                const ListWalk walk = walkListAt(
                    readAt, offset, sizeField(block.substr(at, 8), bigEndian), length, bigEndian);
                if (walk.wrappingSize >= 0) return walk.wrappingSize;
            }
        }
    }
    return -1;
}

}  // namespace

std::string implausibleRiffChunks(const ReadAt& readAt, std::int64_t length) {
    const std::string head = readAt(0, 12);
    if (head.size() < 12 || head.compare(8, 4, "WAVE") != 0) return "";
    const bool rifx = hasId(head, "RIFX");
    if (!rifx && !hasId(head, "RIFF") && !hasId(head, "RF64")) return "";
    Samples samples;
    if (std::string problem = walkChunks(readAt, length, rifx, samples); !problem.empty()) {
        return problem;
    }
    // Where libsndfile's own walk lands differs from the declared layout wherever a file is
    // malformed, so every "LIST" is walked as a list, wherever it is, and so is every "INFO"
    // (libsndfile reads a chunk of that name as a list too). Only the samples are left out,
    // where the chunks before them agree on where they are.
    if (samples.end <= samples.begin) samples = {length, length};
    std::int64_t wrapping = wrappingListBetween(readAt, 12, samples.begin, length, rifx);
    if (wrapping < 0) wrapping = wrappingListBetween(readAt, samples.end, length, length, rifx);
    return wrapping >= 0 ? claimsPastTheEnd(wrapping) : "";
}

std::string implausibleRiffChunks(int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return "";
    const ReadAt readAt = [descriptor](std::int64_t offset, std::size_t count) {
        std::string bytes(count, '\0');
        const ssize_t got = pread(descriptor, bytes.data(), count, static_cast<off_t>(offset));
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return bytes;
    };
    return implausibleRiffChunks(readAt, static_cast<std::int64_t>(status.st_size));
}

}  // namespace render
