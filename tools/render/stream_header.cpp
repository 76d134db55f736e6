#include "tools/render/stream_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/render/failure.h"

namespace render {

namespace {

constexpr std::uint32_t kUnknownLength = 0xFFFFFFFFu;
constexpr std::uint32_t kLargeAiffBytes = 0x7F000000u;

void littleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void bigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The 80-bit IEEE 754 extended number AIFF keeps its rate in: sign and 15-bit exponent, then a
// 64-bit mantissa with its leading one explicit.
void extendedRate(std::string& out, int sampleRate) {
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    int highest = 63;
    while (!(rate >> highest & 1u)) --highest;
    bigEndian(out, 16383u + static_cast<unsigned>(highest), 2);
    bigEndian(out, rate << (63 - highest), 8);
}

// The WAVE format tag and bits per sample of an encoding, or 0.
std::pair<int, int> waveTag(int encoding) {
    switch (encoding) {
        case SF_FORMAT_PCM_U8:
            return {1, 8};
        case SF_FORMAT_PCM_16:
            return {1, 16};
        case SF_FORMAT_PCM_24:
            return {1, 24};
        case SF_FORMAT_PCM_32:
            return {1, 32};
        case SF_FORMAT_FLOAT:
            return {3, 32};
        case SF_FORMAT_DOUBLE:
            return {3, 64};
        case SF_FORMAT_ALAW:
            return {6, 8};
        case SF_FORMAT_ULAW:
            return {7, 8};
        default:
            return {0, 0};
    }
}

// AIFF's sample size, and for AIFF-C's float encodings the compression type; 0 when AIFF holds
// no such samples (it has no unsigned bytes).
struct AiffEncoding {
    int bits = 0;
    const char* compression = nullptr;  // null for plain AIFF
    const char* compressionName = nullptr;
};

AiffEncoding aiffEncoding(int encoding) {
    switch (encoding) {
        case SF_FORMAT_PCM_S8:
            return {8};
        case SF_FORMAT_PCM_16:
            return {16};
        case SF_FORMAT_PCM_24:
            return {24};
        case SF_FORMAT_PCM_32:
            return {32};
        case SF_FORMAT_FLOAT:
            return {32, "fl32", "32-bit floating point"};
        case SF_FORMAT_DOUBLE:
            return {64, "fl64", "64-bit floating point"};
        default:
            return {};
    }
}

std::string waveHeader(FileFormat format, int sampleRate, int channels) {
    const auto [tag, bits] = waveTag(format.encoding);
    const int blockAlign = channels * bits / 8;
    std::string out = "RIFF";
    littleEndian(out, kUnknownLength, 4);
    out += "WAVEfmt ";
    // Formats other than integer PCM carry the extension size, and a fact chunk with the frame
    // count, unknown here like the rest.
    const bool extended = tag != 1;
    littleEndian(out, extended ? 18 : 16, 4);
    littleEndian(out, static_cast<std::uint32_t>(tag), 2);
    littleEndian(out, static_cast<std::uint32_t>(channels), 2);
    littleEndian(out, static_cast<std::uint32_t>(sampleRate), 4);
    littleEndian(out, static_cast<std::uint32_t>(sampleRate * blockAlign), 4);
    littleEndian(out, static_cast<std::uint32_t>(blockAlign), 2);
    littleEndian(out, static_cast<std::uint32_t>(bits), 2);
    if (extended) {
        littleEndian(out, 0, 2);
        out += "fact";
        littleEndian(out, 4, 4);
        littleEndian(out, kUnknownLength, 4);
    }
    out += "data";
    littleEndian(out, kUnknownLength, 4);
    return out;
}

std::string aiffHeader(FileFormat format, int sampleRate, int channels) {
    const AiffEncoding encoding = aiffEncoding(format.encoding);
    std::string out = "FORM";
    bigEndian(out, kUnknownLength, 4);
    out += encoding.compression ? "AIFC" : "AIFF";
    if (encoding.compression) {
        out += "FVER";
        bigEndian(out, 4, 4);
        bigEndian(out, 0xA2805140u, 4);  // the one version of AIFF-C
    }
    std::string name;
    if (encoding.compression) {
        // A Pascal string, padded to an even length with its count byte.
        name += static_cast<char>(std::strlen(encoding.compressionName));
        name += encoding.compressionName;
        if (name.size() % 2) name += '\0';
    }
    out += "COMM";
    bigEndian(out, 18 + (encoding.compression ? 4 + name.size() : 0), 4);
    bigEndian(out, static_cast<std::uint64_t>(channels), 2);
    // The frame count is unsigned, but ffmpeg reads it as a signed int and takes 0xFFFFFFFF for
    // an error; sox writes the frames of 0x7F000000 bytes, which every reader takes for a
    // length to read up to and past, so the renderer does the same.
    bigEndian(out, kLargeAiffBytes / (static_cast<std::uint32_t>(channels * encoding.bits / 8)), 4);
    bigEndian(out, static_cast<std::uint64_t>(encoding.bits), 2);
    extendedRate(out, sampleRate);
    if (encoding.compression) out += std::string(encoding.compression) + name;
    out += "SSND";
    bigEndian(out, kUnknownLength, 4);
    bigEndian(out, 0, 4);  // offset
    bigEndian(out, 0, 4);  // block size
    return out;
}

}  // namespace

bool descriptorIsPipe(int descriptor) {
    return lseek(descriptor, 0, SEEK_CUR) < 0 && errno == ESPIPE;
}

bool streamsWithUnknownLength(FileFormat format) {
    if (format.container == SF_FORMAT_WAV) return waveTag(format.encoding).first != 0;
    if (format.container == SF_FORMAT_AIFF) return aiffEncoding(format.encoding).bits != 0;
    return false;
}

std::string streamHeader(FileFormat format, int sampleRate, int channels) {
    return format.container == SF_FORMAT_WAV ? waveHeader(format, sampleRate, channels)
                                             : aiffHeader(format, sampleRate, channels);
}

int writeStreamHeader(int descriptor, FileFormat format, int sampleRate, int channels,
                      const std::string& name) {
    if (!streamsWithUnknownLength(format)) {
        throw Failure(ExitStatus::kUsage, "The " + containerName(format.container) +
                                              " format cannot stream " +
                                              encodingName(format.encoding) +
                                              " samples to a pipe; choose another --subtype for " +
                                              inQuotes(name) + ".");
    }
    const std::string header = streamHeader(format, sampleRate, channels);
    std::size_t done = 0;
    while (done < header.size()) {
        const ssize_t wrote = write(descriptor, header.data() + done, header.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            throw Failure(ExitStatus::kWriteFailed,
                          "Writing " + inQuotes(name) + " failed (" + std::strerror(errno) + ").");
        }
        done += static_cast<std::size_t>(wrote);
    }
    const int order = format.container == SF_FORMAT_WAV ? SF_ENDIAN_LITTLE : SF_ENDIAN_BIG;
    return SF_FORMAT_RAW | format.encoding | order;
}

bool headerLengthUnknown(SNDFILE* file) {
    char log[16384] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("data", 0) != 0 && line.rfind(" SSND", 0) != 0 &&
            line.rfind("SSND", 0) != 0) {
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        unsigned long long length = 1;
        if (std::sscanf(line.c_str() + colon + 1, " %llu", &length) == 1) {
            return length == 0 || length == kUnknownLength;
        }
    }
    return false;
}

}  // namespace render
