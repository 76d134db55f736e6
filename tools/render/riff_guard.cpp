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

// Enough for any real file's chunk list; a longer list is left to libsndfile.
constexpr int kMostChunks = 4096;

bool hasId(const std::string& header, const char* id) {
    return header.compare(0, 4, id) == 0;
}

// The size of the part whose header libsndfile's LIST walk would take at each step, where adding
// it to the walk's 32-bit count of bytes read wraps past 2^32. The wrapped sum passes its bounds
// check, and the skip then goes backwards, so the walk never ends. That walk begins at the
// list's type and reads it as a part, size and all, unless the type is "INFO" or "adtl"; four
// zero bytes, "data" or "exif" end it (the exif walk bounds its own parts).
std::int64_t wrappingListPart(const ReadAt& readAt, std::int64_t start, std::int64_t listLength,
                              std::int64_t fileLength, bool bigEndian) {
    std::uint32_t bytesRead = 0;
    std::int64_t at = start;
    for (int part = 0; part < kMostChunks && bytesRead < listLength; ++part) {
        const std::string header = readAt(at, 8);
        if (header.size() < 4 || header.compare(0, 4, std::string(4, '\0')) == 0 ||
            hasId(header, "data") || hasId(header, "exif")) {
            break;
        }
        bytesRead += 4;
        at += 4;
        if (hasId(header, "INFO") || hasId(header, "adtl")) continue;
        if (header.size() < 8) break;
        std::uint32_t size = sizeField(header, bigEndian);
        size += size & 1;
        bytesRead += 4;
        at += 4;
        if (std::uint64_t{bytesRead} + size >= (std::uint64_t{1} << 32) && size > fileLength - at) {
            return size;
        }
        if (bytesRead + size > listLength) break;
        bytesRead += size;
        at += size;
    }
    return -1;
}

}  // namespace

std::string implausibleRiffChunks(const ReadAt& readAt, std::int64_t length) {
    const std::string head = readAt(0, 12);
    if (head.size() < 12 || head.compare(8, 4, "WAVE") != 0) return "";
    const bool riff = head.compare(0, 4, "RIFF") == 0;
    const bool rifx = head.compare(0, 4, "RIFX") == 0;
    if (!riff && !rifx) return "";
    std::int64_t offset = 12;
    for (int chunk = 0; chunk < kMostChunks && offset + 8 <= length; ++chunk) {
        const std::string header = readAt(offset, 8);
        if (header.size() < 8) break;
        const std::int64_t size = sizeField(header, rifx);
        if (header.compare(0, 4, "LIST") == 0) {
            const std::int64_t end = std::min(offset + 8 + size, length);
            // A list of eight bytes or fewer is skipped whole.
            if (size > 8) {
                const std::int64_t wrapping =
                    wrappingListPart(readAt, offset + 8, end - offset - 8, length, rifx);
                if (wrapping >= 0) {
                    return "a part of its LIST chunk claims " + std::to_string(wrapping) +
                           " bytes, past the end of the file";
                }
            }
            // The members follow the list's four-letter type.
            std::int64_t member = offset + 12;
            for (int part = 0; part < kMostChunks && member + 8 <= end; ++part) {
                const std::string memberHeader = readAt(member, 8);
                if (memberHeader.size() < 8) break;
                const std::int64_t memberSize = sizeField(memberHeader, rifx);
                if (memberSize > length - (member + 8)) {
                    return "a part of its LIST chunk claims " + std::to_string(memberSize) +
                           " bytes, past the end of the file";
                }
                member += 8 + memberSize + (memberSize & 1);
            }
        }
        // The samples of a stream end the file with a length of 0 or 0xFFFFFFFF.
        if (offset + 8 + size > length) break;
        offset += 8 + size + (size & 1);
    }
    return "";
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
