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
            // The members follow the list's four-letter type.
            const std::int64_t end = std::min(offset + 8 + size, length);
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
