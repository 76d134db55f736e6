#include "tools/render/audio_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tools/render/failure.h"
#include "tools/render/output_file.h"
#include "tools/render/riff_guard.h"
#include "tools/render/stream_header.h"

namespace render {

namespace {

struct ContainerEntry {
    const char* name;
    int container;
    const char* extension;
    bool alias;  // accepted, but not listed
};

constexpr ContainerEntry kContainers[] = {
    {"wav", SF_FORMAT_WAV, ".wav", false},    {"flac", SF_FORMAT_FLAC, ".flac", false},
    {"aiff", SF_FORMAT_AIFF, ".aiff", false}, {"aif", SF_FORMAT_AIFF, ".aif", true},
    {"ogg", SF_FORMAT_OGG, ".ogg", false},    {"oga", SF_FORMAT_OGG, ".oga", true},
    {"opus", SF_FORMAT_OGG, ".opus", false},  {"mp3", SF_FORMAT_MPEG, ".mp3", false},
    {"caf", SF_FORMAT_CAF, ".caf", false},    {"w64", SF_FORMAT_W64, ".w64", false},
    {"rf64", SF_FORMAT_RF64, ".rf64", false}, {"au", SF_FORMAT_AU, ".au", false},
    {"snd", SF_FORMAT_AU, ".snd", true},
};

struct EncodingEntry {
    const char* name;
    int encoding;
};

constexpr EncodingEntry kEncodings[] = {
    {"pcm16", SF_FORMAT_PCM_16}, {"pcm24", SF_FORMAT_PCM_24},       {"pcm32", SF_FORMAT_PCM_32},
    {"pcm8", SF_FORMAT_PCM_S8},  {"float", SF_FORMAT_FLOAT},        {"double", SF_FORMAT_DOUBLE},
    {"ulaw", SF_FORMAT_ULAW},    {"alaw", SF_FORMAT_ALAW},          {"vorbis", SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OPUS},    {"mp3", SF_FORMAT_MPEG_LAYER_III},
};

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string extensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lowercase(path.substr(dot));
}

}  // namespace

int containerFromName(const std::string& name) {
    const std::string wanted = lowercase(name);
    for (const auto& entry : kContainers) {
        if (wanted == entry.name) return entry.container;
    }
    return 0;
}

int containerFromExtension(const std::string& path) {
    const std::string extension = extensionOf(path);
    for (const auto& entry : kContainers) {
        if (extension == entry.extension) return entry.container;
    }
    return 0;
}

int encodingFromName(const std::string& name, int container) {
    const std::string wanted = lowercase(name);
    for (const auto& entry : kEncodings) {
        if (wanted != entry.name) continue;
        // Eight-bit WAV is unsigned by its definition; the other containers store it signed.
        if (entry.encoding == SF_FORMAT_PCM_S8 && container == SF_FORMAT_WAV) {
            return SF_FORMAT_PCM_U8;
        }
        return entry.encoding;
    }
    return 0;
}

std::string containerName(int container) {
    for (const auto& entry : kContainers) {
        if (entry.container == container) return entry.name;
    }
    SF_FORMAT_INFO info{};
    info.format = container;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "unknown";
}

std::string encodingName(int encoding) {
    if (encoding == SF_FORMAT_PCM_U8) return "pcm8";
    for (const auto& entry : kEncodings) {
        if (entry.encoding == encoding) return entry.name;
    }
    SF_FORMAT_INFO info{};
    info.format = encoding;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
        return info.name;
    }
    return "unknown";
}

std::string containerExtension(int container) {
    for (const auto& entry : kContainers) {
        if (entry.container == container) return entry.extension;
    }
    return ".wav";
}

bool canWrite(FileFormat format, int sampleRate, int channels) {
    SF_INFO info{};
    info.format = format.code();
    info.channels = channels;
    info.samplerate = sampleRate;
    if (!sf_format_check(&info)) return false;
    // libsndfile accepts MP3 samples in a WAV header but can only write them in an MP3 file.
    if (format.encoding == SF_FORMAT_MPEG_LAYER_III && format.container != SF_FORMAT_MPEG) {
        return false;
    }
    // libsndfile lets LAME try any rate, and it fails on the first block of one that MPEG
    // audio has no place for.
    if (format.encoding == SF_FORMAT_MPEG_LAYER_III) {
        for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
            if (sampleRate == rate) return true;
        }
        return false;
    }
    // Opus runs only at the rates of its own clock.
    if (format.encoding == SF_FORMAT_OPUS) {
        return sampleRate == 8000 || sampleRate == 12000 || sampleRate == 16000 ||
               sampleRate == 24000 || sampleRate == 48000;
    }
    return true;
}

int fallbackEncoding(int container, int preferred, int sampleRate) {
    const int candidates[] = {preferred,        SF_FORMAT_PCM_24,         SF_FORMAT_PCM_16,
                              SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III, SF_FORMAT_FLOAT};
    for (int encoding : candidates) {
        if (canWrite({container, encoding}, sampleRate)) return encoding;
    }
    return 0;
}

std::string containerNames() {
    std::string names;
    for (const auto& entry : kContainers) {
        if (entry.alias) continue;
        if (!names.empty()) names += ", ";
        names += entry.name;
    }
    return names;
}

std::string encodingNames() {
    std::string names;
    for (const auto& entry : kEncodings) {
        if (!names.empty()) names += ", ";
        names += entry.name;
    }
    return names;
}

bool canStream(int container) {
    // WAV and AIFF stream with a header of unknown length, written by the renderer itself.
    return container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF ||
           container == SF_FORMAT_FLAC || container == SF_FORMAT_AU || container == SF_FORMAT_OGG ||
           container == SF_FORMAT_MPEG;
}

int MonoSource::readPair(float* left, float* right, int frames) {
    const int got = read(left, frames);
    std::copy(left, left + got, right);
    return got;
}

namespace {

std::string withoutFinalStop(std::string reason) {
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    return reason;
}

// The first `count` bytes of a pipe, read without taking them out of it (tee copies them into a
// pipe of our own); fewer at its end, and none when the descriptor is not a pipe.
std::string peekPipe(int descriptor, std::size_t count) {
    int scratch[2];
    if (pipe(scratch) != 0) return "";
    std::string bytes;
    // A writer may deliver the first bytes in pieces; a few tries a millisecond apart wait
    // for the rest.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const ssize_t copied = tee(descriptor, scratch[1], count, 0);
        if (copied <= 0) break;
        bytes.resize(static_cast<std::size_t>(copied));
        if (read(scratch[0], bytes.data(), bytes.size()) != copied) bytes.clear();
        if (bytes.size() >= count) break;
        usleep(1000);
    }
    ::close(scratch[0]);
    ::close(scratch[1]);
    return bytes;
}

// Whether a pipe is at its end: closed by its writer before anything came.
bool pipeAtEnd(int descriptor) {
    int scratch[2];
    if (pipe(scratch) != 0) return false;
    const ssize_t copied = tee(descriptor, scratch[1], 1, 0);
    ::close(scratch[0]);
    ::close(scratch[1]);
    return copied == 0;
}

// A file in $TMPDIR (or /tmp) that no name leads to, so that nothing is left behind however
// the process ends; -1 with errno set on failure.
int unlinkedTemporaryFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder && *folder ? folder : "/tmp") + "/zelko-render-XXXXXX";
    const int descriptor = mkstemp(name.data());
    if (descriptor >= 0) unlink(name.c_str());
    return descriptor;
}

// Copies everything from one descriptor to another; false with errno set on failure.
bool copyAll(int from, int to) {
    std::vector<char> buffer(1 << 16);
    while (true) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                write(to, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += put;
        }
    }
}

// Whether errno holds the failure of a write. libsndfile's MP3 writer reports every block as
// written even when the system refused the encoded bytes (a full disk), so errno, cleared before
// each call, is asked as well; these values come only from a write that failed.
bool writeRefused(int savedErrno) {
    return savedErrno == ENOSPC || savedErrno == EDQUOT || savedErrno == EFBIG ||
           savedErrno == EIO || savedErrno == EPIPE;
}

// Why writing failed, in one plain sentence's words. libsndfile reports a failed write in words
// of its own ("problem with initialization of the flac decoder", "Unspecified internal
// error"), but the system's reason is still in errno when the failure came from a write.
std::string writeFailure(int savedErrno, const char* library) {
    switch (savedErrno) {
        case ENOSPC:
        case EDQUOT:
            return "no space is left on the device";
        case EFBIG:
            return "the file would be larger than the file system allows";
        case EPIPE:
            return "the program reading the pipe has stopped reading";
        case EIO:
            return "the device reported an input/output error";
        case EROFS:
            return "the file system is read-only";
        default:
            break;
    }
    std::string reason = withoutFinalStop(library);
    const std::string system = "System error : ";
    if (reason.rfind(system, 0) == 0) reason = reason.substr(system.size());
    if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(reason[0]));
    return reason;
}

}  // namespace

int bytesPerSample(int encoding) {
    switch (encoding) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return 1;
        case SF_FORMAT_PCM_16:
            return 2;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

bool hasClassicSizeLimit(int container) {
    return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
           container == SF_FORMAT_AIFF || container == SF_FORMAT_AU;
}

namespace {

struct HeaderLength {
    bool cut = false;          // the header promises more than the file holds
    std::int64_t frames = -1;  // what it promises, when that can be told exactly
};

// libsndfile trims a WAV or AIFF data chunk that is longer than the file to what the file holds
// and notes it in its log as "data : 384000 (should be 199956)": the length the header promised
// and the length that is there, in bytes. The promise in frames is the promised bytes over the
// bytes of a frame (an AIFF's SSND chunk starts with 8 bytes of offset and block size), or the
// frame count of its COMM chunk where the log gives it; for a compressed encoding it cannot be
// told.
HeaderLength promisedByHeader(SNDFILE* file, const SF_INFO& info) {
    char log[16384] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const int frameBytes = bytesPerSample(info.format & SF_FORMAT_SUBMASK) * info.channels;
    HeaderLength length;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        long long counted = 0;
        if (std::sscanf(line.c_str(), "*** Frame count read from 'COMM' chunk (%lld)", &counted) ==
            1) {
            if (length.cut && counted > 0) length.frames = counted;
            continue;
        }
        const std::size_t begin = line.find_first_not_of(' ');
        if (begin == std::string::npos) continue;
        const bool data = line.compare(begin, 4, "data") == 0;
        const bool soundData = line.compare(begin, 4, "SSND") == 0;
        if (!data && !soundData) continue;
        const auto colon = line.find(':');
        long long promised = 0;
        long long present = 0;
        if (colon == std::string::npos ||
            std::sscanf(line.c_str() + colon + 1, " %lld (should be %lld)", &promised, &present) !=
                2 ||
            promised <= present || promised == 0xFFFFFFFFll) {
            continue;
        }
        length.cut = true;
        const long long bytes = soundData ? promised - 8 : promised;
        if (frameBytes > 0 && bytes > 0) length.frames = bytes / frameBytes;
    }
    return length;
}

}  // namespace

SoundFileReader::SoundFileReader(const std::string& path, int channel, int blockSize, bool stereo)
    : path_(path), channel_(channel), stereo_(stereo) {
    if (path == "-") {
        path_ = "standard input";
        struct stat status {};
        streamed_ = fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode);
        if (streamed_) {
            openPipe(STDIN_FILENO, false, blockSize);
        } else {
            refuseImplausible(implausibleRiffChunks(STDIN_FILENO));
            open(sf_open_fd(STDIN_FILENO, SFM_READ, &info_, SF_FALSE), blockSize);
        }
        return;
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw Failure(ExitStatus::kInput, "The input " + inQuotes(path) + " does not exist.");
    }
    if (S_ISDIR(status.st_mode)) {
        throw Failure(ExitStatus::kInput, "The input " + inQuotes(path) + " is a folder.");
    }
    if (access(path.c_str(), R_OK) != 0) {
        throw Failure(ExitStatus::kInput, "The input " + inQuotes(path) + " cannot be read (" +
                                              std::strerror(errno) + ").");
    }
    streamed_ = S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode);
    if (streamed_) {
        // libsndfile's sf_open takes a path for a file it may seek in; a pipe is opened here
        // and handed over as a descriptor, which it reads as a stream.
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            throw Failure(ExitStatus::kInput, "The input " + inQuotes(path) + " cannot be read (" +
                                                  std::strerror(errno) + ").");
        }
        openPipe(descriptor, true, blockSize);
        return;
    }
    refuseImplausibleFile(path);
    open(sf_open(path.c_str(), SFM_READ, &info_), blockSize);
}

void SoundFileReader::refuseImplausible(const std::string& problem) {
    if (problem.empty()) return;
    removeSpool();
    throw Failure(ExitStatus::kInput,
                  subject() + " is not an audio file that can be read (" + problem + ").");
}

std::string SoundFileReader::subject() const {
    return path_ == "standard input" ? "Standard input" : "The input " + inQuotes(path_);
}

void SoundFileReader::refuseImplausibleFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return;  // libsndfile's open then says why
    const std::string problem = implausibleRiffChunks(descriptor);
    ::close(descriptor);
    refuseImplausible(problem);
}

void SoundFileReader::openPipe(int descriptor, bool owned, int blockSize) {
    const std::string magic = peekPipe(descriptor, 4);
    if (magic.empty() && pipeAtEnd(descriptor)) {
        // Nothing came before the writer closed the pipe: not an unknown format, no input.
        if (owned) ::close(descriptor);
        throw Failure(ExitStatus::kInput, subject() + " is empty.");
    }
    if (magic != "fLaC" && magic != "caff" && magic != "RF64") {
        pipeDescriptor_ = descriptor;
        open(sf_open_fd(descriptor, SFM_READ, &info_, owned ? SF_TRUE : SF_FALSE), blockSize);
        return;
    }
    // libsndfile reads these only from a file it can seek in.
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder && *folder ? folder : "/tmp") + "/zelko-render-XXXXXX";
    const int spool = mkstemp(name.data());
    if (spool < 0) {
        const int error = errno;
        if (owned) ::close(descriptor);
        throw Failure(ExitStatus::kInput, "Cannot make a temporary copy of the input " +
                                              inQuotes(path_) + " in " + inQuotes(name) + " (" +
                                              std::strerror(error) + ").");
    }
    spool_ = name;
    setPendingSpool(spool_);
    const bool copied = copyAll(descriptor, spool);
    const int error = errno;
    if (owned) ::close(descriptor);
    ::close(spool);
    if (!copied) {
        throw Failure(ExitStatus::kInput, "Cannot make a temporary copy of the input " +
                                              inQuotes(path_) + " in " + inQuotes(name) + " (" +
                                              std::strerror(error) + ").");
    }
    streamed_ = false;
    refuseImplausibleFile(spool_);
    open(sf_open(spool_.c_str(), SFM_READ, &info_), blockSize);
}

SoundFileReader::SoundFileReader(SF_VIRTUAL_IO& io, void* user, const std::string& name,
                                 int channel, int blockSize, bool stereo)
    : path_(name), channel_(channel), stereo_(stereo) {
    const ReadAt readAt = [&io, user](std::int64_t offset, std::size_t count) {
        std::string bytes(count, '\0');
        if (io.seek(offset, SEEK_SET, user) != offset) return std::string();
        const sf_count_t got = io.read(bytes.data(), static_cast<sf_count_t>(count), user);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return bytes;
    };
    const std::string problem = implausibleRiffChunks(readAt, io.get_filelen(user));
    io.seek(0, SEEK_SET, user);
    refuseImplausible(problem);
    open(sf_open_virtual(&io, SFM_READ, &info_, user), blockSize);
}

void SoundFileReader::open(SNDFILE* file, int blockSize) {
    file_ = file;
    const std::string name = subject();
    if (!file_) {
        removeSpool();
        throw Failure(ExitStatus::kInput, name + " is not an audio file that can be read (" +
                                              withoutFinalStop(sf_strerror(nullptr)) + ").");
    }
    auto refuse = [&](ExitStatus status, const std::string& sentence) {
        sf_close(file_);
        file_ = nullptr;
        removeSpool();
        throw Failure(status, sentence);
    };
    if (info_.channels < 1 || info_.samplerate < 1 || info_.frames < 0) {
        refuse(ExitStatus::kInput, name + " has no channels, no sample rate or no length.");
    }
    if (channel_ > info_.channels) {
        refuse(ExitStatus::kUsage, name + " has " + std::to_string(info_.channels) +
                                       (info_.channels == 1 ? " channel" : " channels") +
                                       ", so it has no channel " + std::to_string(channel_) + ".");
    }
    if (stereo_ && info_.channels != 2) {
        refuse(ExitStatus::kUsage, "--stereo feeds the two channels of a stereo file, but " + name +
                                       " has " + std::to_string(info_.channels) +
                                       (info_.channels == 1 ? " channel." : " channels."));
    }
    const int container = info_.format & SF_FORMAT_TYPEMASK;
    // Through a pipe only the headers of these formats give a length that can be trusted.
    if (streamed_ && container != SF_FORMAT_WAV && container != SF_FORMAT_AIFF &&
        container != SF_FORMAT_AU) {
        info_.frames = -1;
    }
    // A streamed WAV or AIFF whose header leaves its length unknown is read to its end.
    // libsndfile does so by itself for the length 0xFFFFFFFF, but reads nothing of a WAV whose
    // data chunk says 0; the header is behind it by then, so the samples are read as they are.
    if (streamed_ && (container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF) &&
        pipeDescriptor_ >= 0 && headerLengthUnknown(file_)) {
        if (info_.frames == 0) {
            SF_INFO raw{};
            raw.format = SF_FORMAT_RAW | (info_.format & SF_FORMAT_SUBMASK) |
                         (container == SF_FORMAT_WAV ? SF_ENDIAN_LITTLE : SF_ENDIAN_BIG);
            raw.channels = info_.channels;
            raw.samplerate = info_.samplerate;
            // The copy goes with the new reader; the pipe's own descriptor with the old one
            // where that owned it.
            const int descriptor = dup(pipeDescriptor_);
            sf_close(file_);
            file_ = descriptor < 0 ? nullptr : sf_open_fd(descriptor, SFM_READ, &raw, SF_TRUE);
            if (!file_) {
                if (descriptor >= 0) ::close(descriptor);
                throw Failure(ExitStatus::kInput, name + " holds samples that cannot be read (" +
                                                      withoutFinalStop(sf_strerror(nullptr)) +
                                                      ").");
            }
        }
        info_.frames = -1;
    }
    // libsndfile says SF_COUNT_MAX where it could not find a length: an Ogg stream cut before
    // its last page, whose final position gives the length.
    if (info_.frames == SF_COUNT_MAX) {
        info_.frames = -1;
        lengthKnown_ = false;
    }
    if (!streamed_) {
        const HeaderLength length = promisedByHeader(file_, info_);
        headerCut_ = length.cut;
        headerFrames_ = length.frames;
    }

    for (int type = SF_STR_FIRST; type <= SF_STR_LAST; ++type) {
        if (const char* text = sf_get_string(file_, type); text && *text) {
            metadata_.strings.emplace_back(type, text);
        }
    }
    metadata_.hasBroadcast = sf_command(file_, SFC_GET_BROADCAST_INFO, &metadata_.broadcast,
                                        sizeof metadata_.broadcast) == SF_TRUE;
    std::uint32_t cueCount = 0;
    if (sf_command(file_, SFC_GET_CUE_COUNT, &cueCount, sizeof cueCount) == SF_TRUE &&
        cueCount > 0) {
        SF_CUES cues{};
        if (sf_command(file_, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE) {
            const auto count = std::min<std::uint32_t>(cues.cue_count, 100);
            metadata_.cues.assign(cues.cue_points, cues.cue_points + count);
        }
    }

    // WAVEX is WAV with the 40-byte extensible format chunk, the usual layout of 24-bit files.
    if (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64) {
        readChunks();
    }

    interleaved_.resize(static_cast<std::size_t>(blockSize) *
                        static_cast<std::size_t>(info_.channels));
}

void SoundFileReader::readChunks() {
    // Far above any real iXML or label list; a larger chunk is left behind, not copied.
    constexpr unsigned kLargestChunk = 1u << 20;
    for (const char* id : {"iXML", "LIST"}) {
        SF_CHUNK_INFO wanted{};
        std::snprintf(wanted.id, sizeof wanted.id, "%s", id);
        wanted.id_size = 4;
        for (SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file_, &wanted); chunk;
             chunk = sf_next_chunk_iterator(chunk)) {
            SF_CHUNK_INFO info{};
            if (sf_get_chunk_size(chunk, &info) != SF_ERR_NO_ERROR || info.datalen == 0 ||
                info.datalen > kLargestChunk) {
                continue;
            }
            std::vector<char> data(info.datalen);
            info.data = data.data();
            if (sf_get_chunk_data(chunk, &info) != SF_ERR_NO_ERROR) continue;
            // libsndfile writes the LIST INFO chunk of the text tags itself.
            if (std::string(id) == "LIST" &&
                (data.size() < 4 || std::memcmp(data.data(), "adtl", 4))) {
                continue;
            }
            metadata_.chunks.emplace_back(id, std::move(data));
        }
    }
}

SoundFileReader::~SoundFileReader() {
    if (file_) sf_close(file_);
    removeSpool();
}

void SoundFileReader::removeSpool() {
    if (spool_.empty()) return;
    unlink(spool_.c_str());
    setPendingSpool("");
    spool_.clear();
}

FileFormat SoundFileReader::format() const {
    return {info_.format & SF_FORMAT_TYPEMASK, info_.format & SF_FORMAT_SUBMASK};
}

bool SoundFileReader::cutShort() const {
    if (!ended_) return false;
    return headerCut_ || !lengthKnown_ || !breakReason_.empty() || info_.frames > framesRead_;
}

std::int64_t SoundFileReader::promisedFrames() const {
    if (!cutShort()) return -1;
    if (headerCut_) return headerFrames_ > framesRead_ ? headerFrames_ : -1;
    return info_.frames > framesRead_ ? info_.frames : -1;
}

int SoundFileReader::read(float* destination, int frames) {
    return readFrames(destination, nullptr, frames);
}

int SoundFileReader::readPair(float* left, float* right, int frames) {
    if (!stereo_) return MonoSource::readPair(left, right, frames);
    return readFrames(left, right, frames);
}

// Into `first` goes the mono mix, the chosen channel, or with `second` the left channel.
int SoundFileReader::readFrames(float* first, float* second, int frames) {
    const int channels = info_.channels;
    const int capacity = static_cast<int>(interleaved_.size()) / channels;
    int done = 0;
    while (done < frames && !ended_) {
        const int wanted = std::min(frames - done, capacity);
        const auto got = static_cast<int>(sf_readf_float(file_, interleaved_.data(), wanted));
        if (got <= 0) {
            ended_ = true;
            break;
        }
        if (observer_) observer_(interleaved_.data(), got, channels);
        const float* frame = interleaved_.data();
        for (int i = 0; i < got; ++i, frame += channels) {
            if (second) {
                first[done + i] = frame[0];
                second[done + i] = frame[1];
            } else if (channel_ > 0) {
                first[done + i] = frame[channel_ - 1];
            } else {
                float sum = 0.0f;
                for (int c = 0; c < channels; ++c) sum += frame[c];
                first[done + i] = sum / static_cast<float>(channels);
            }
        }
        done += got;
        framesRead_ += got;
    }
    // A decoder that loses its way (a FLAC file cut inside a frame loses sync) ends the input
    // there: what decoded so far is kept, as for any input cut short.
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
        breakReason_ = withoutFinalStop(sf_strerror(file_));
        ended_ = true;
    }
    if (done < frames) ended_ = true;
    return done;
}

int SoundFileWriter::integerBits(int encoding) {
    switch (encoding) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 8;
        case SF_FORMAT_PCM_16:
            return 16;
        case SF_FORMAT_PCM_24:
            return 24;
        case SF_FORMAT_PCM_32:
            return 32;
        default:
            return 0;
    }
}

SoundFileWriter::SoundFileWriter(int descriptor, const std::string& name, FileFormat format,
                                 int sampleRate, int channels, int blockSize, Dither dither,
                                 const Metadata* metadata)
    : path_(name),
      descriptor_(descriptor),
      rf64UnlessSmall_(format.rf64UnlessSmall && format.container == SF_FORMAT_RF64),
      channels_(channels),
      bits_(integerBits(format.encoding)),
      dither_(dither == Dither::kTriangular && bits_ > 0 && bits_ <= 16),
      interleaved_(static_cast<std::size_t>(blockSize) * static_cast<std::size_t>(channels)) {
    if (bits_ > 0) integers_.resize(interleaved_.size());
    frameBytes_ = static_cast<std::uint64_t>(bytesPerSample(format.encoding)) *
                  static_cast<std::uint64_t>(channels);
    SF_INFO info{};
    info.format = format.code();
    info.channels = channels;
    info.samplerate = sampleRate;
    errno = 0;
    if (descriptorIsPipe(descriptor) &&
        (format.container == SF_FORMAT_WAV || format.container == SF_FORMAT_AIFF)) {
        info.format = writeStreamHeader(descriptor, format, sampleRate, channels, path_);
    }
    // libsndfile writes FLAC to a pipe without its length and MD5 signature, which it fills in
    // only by seeking back, so `flac -t` calls such a stream broken. It is written to an
    // unlinked temporary file instead and copied to the pipe once finished.
    if (descriptorIsPipe(descriptor) && format.container == SF_FORMAT_FLAC) {
        spoolDescriptor_ = unlinkedTemporaryFile();
        if (spoolDescriptor_ < 0) {
            throw Failure(ExitStatus::kWriteFailed, "Cannot write " + inQuotes(path_) +
                                                        ": no temporary file for it (" +
                                                        std::strerror(errno) + ").");
        }
    }
    file_ = sf_open_fd(spoolDescriptor_ >= 0 ? spoolDescriptor_ : descriptor, SFM_WRITE, &info,
                       SF_FALSE);
    if (!file_) {
        const int savedErrno = errno;
        throw Failure(ExitStatus::kWriteFailed, "Cannot write " + inQuotes(path_) + ": " +
                                                    writeFailure(savedErrno, sf_strerror(nullptr)) +
                                                    ".");
    }
    // Encodings libsndfile converts (mu-law, A-law) must clip samples above full scale; without
    // this they wrap around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (metadata) {
        // Everything goes in before the first sample, while the header is still being built.
        // A format without a place for an item refuses it, and it is left out.
        for (const auto& [type, text] : metadata->strings) sf_set_string(file_, type, text.c_str());
        if (metadata->hasBroadcast) {
            SF_BROADCAST_INFO broadcast = metadata->broadcast;
            sf_command(file_, SFC_SET_BROADCAST_INFO, &broadcast, sizeof broadcast);
        }
        const int container = format.container;
        if (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
            container == SF_FORMAT_RF64) {
            for (const auto& [id, data] : metadata->chunks) {
                SF_CHUNK_INFO chunk{};
                std::snprintf(chunk.id, sizeof chunk.id, "%s", id.c_str());
                chunk.id_size = 4;
                chunk.datalen = static_cast<unsigned>(data.size());
                chunk.data = const_cast<char*>(data.data());
                sf_set_chunk(file_, &chunk);
            }
        }
        if (!metadata->cues.empty()) {
            SF_CUES cues{};
            cues.cue_count = static_cast<std::uint32_t>(metadata->cues.size());
            std::copy(metadata->cues.begin(), metadata->cues.end(), cues.cue_points);
            sf_command(file_, SFC_SET_CUE, &cues, sizeof cues);
        }
    }
}

SoundFileWriter::~SoundFileWriter() {
    if (file_) sf_close(file_);
    if (spoolDescriptor_ >= 0) ::close(spoolDescriptor_);
}

// Rounds to the nearest step of a `bits_`-bit integer, with dither when it is on, clips to the
// encoding's range, and places the result in the top bits of an int, which is how libsndfile
// takes integers of every width.
int SoundFileWriter::toInteger(float sample) {
    const double steps = std::ldexp(1.0, bits_ - 1);
    double scaled = static_cast<double>(sample) * steps;
    if (dither_) {
        // Two uniform values in [0, 1) from a xorshift generator; their difference has a
        // triangular distribution over (-1, 1) step.
        auto uniform = [this] {
            noiseState_ ^= noiseState_ << 13;
            noiseState_ ^= noiseState_ >> 17;
            noiseState_ ^= noiseState_ << 5;
            return static_cast<double>(noiseState_) / 4294967296.0;
        };
        const double first = uniform();
        scaled += first - uniform();
    }
    double rounded = std::floor(scaled + 0.5);
    if (!(rounded >= -steps)) rounded = -steps;  // NaN too
    if (rounded > steps - 1.0) rounded = steps - 1.0;
    return static_cast<int>(static_cast<std::int64_t>(rounded) * (std::int64_t{1} << (32 - bits_)));
}

void SoundFileWriter::writeInterleaved(int frames) {
    sampleBytes_ += frameBytes_ * static_cast<std::uint64_t>(frames);
    if (sampleByteLimit_ > 0 && sampleBytes_ > sampleByteLimit_) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot write " + inQuotes(path_) +
                          ": it has grown past the 4 GiB its format can hold; render it again "
                          "with --format rf64, w64, caf or flac.");
    }
    sf_count_t written = 0;
    errno = 0;
    if (bits_ > 0) {
        const auto count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < count; ++i) integers_[i] = toInteger(interleaved_[i]);
        written = sf_writef_int(file_, integers_.data(), frames);
    } else {
        written = sf_writef_float(file_, interleaved_.data(), frames);
    }
    const int savedErrno = errno;
    if (written != frames || writeRefused(savedErrno)) {
        throw Failure(ExitStatus::kWriteFailed, "Cannot write " + inQuotes(path_) + ": " +
                                                    writeFailure(savedErrno, sf_strerror(file_)) +
                                                    ".");
    }
}

void SoundFileWriter::write(const float* left, const float* right, int frames) {
    const int capacity = static_cast<int>(interleaved_.size()) / channels_;
    int done = 0;
    while (done < frames) {
        const int count = std::min(frames - done, capacity);
        if (channels_ == 1) {
            std::copy(left + done, left + done + count, interleaved_.begin());
        } else {
            for (int i = 0; i < count; ++i) {
                interleaved_[2 * static_cast<std::size_t>(i)] = left[done + i];
                interleaved_[2 * static_cast<std::size_t>(i) + 1] = right[done + i];
            }
        }
        writeInterleaved(count);
        done += count;
    }
}

void SoundFileWriter::close() {
    if (!file_) return;
    errno = 0;
    const int result = sf_close(file_);
    const int savedErrno = errno;
    file_ = nullptr;
    if (result != 0 || writeRefused(savedErrno)) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot finish " + inQuotes(path_) + ": " +
                          writeFailure(savedErrno, sf_error_number(result)) + ".");
    }
    if (spoolDescriptor_ >= 0) {
        errno = 0;
        const bool copied =
            lseek(spoolDescriptor_, 0, SEEK_SET) == 0 && copyAll(spoolDescriptor_, descriptor_);
        const int copyErrno = errno;
        ::close(spoolDescriptor_);
        spoolDescriptor_ = -1;
        if (!copied) {
            throw Failure(ExitStatus::kWriteFailed,
                          "Cannot write " + inQuotes(path_) + ": " +
                              writeFailure(copyErrno, std::strerror(copyErrno)) + ".");
        }
    }
    if (rf64UnlessSmall_ && !rf64AsWav(descriptor_)) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot finish " + inQuotes(path_) + ": " + std::strerror(errno) + ".");
    }
}

namespace {

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void putLittleEndian32(unsigned char* bytes, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

// An RF64 file whose ds64 chunk stands where a WAV file may keep a JUNK chunk: under 4 GiB, the
// ds64 chunk becomes that JUNK chunk and the RIFF and data lengths take its figures, which
// turns the file into the plain WAV (extensible format) it would have been. libsndfile 1.2.0's
// own SFC_RF64_AUTO_DOWNGRADE rewrites the header a few bytes longer than it was, over the
// first samples or the last metadata chunk, so the renderer does this itself.
bool rf64AsWav(int descriptor) {
    const off_t length = lseek(descriptor, 0, SEEK_END);
    if (length < 0) return false;
    if (static_cast<std::uint64_t>(length) > kClassicFileLimit) return true;  // stays RF64
    // The header up to the first sample: ds64, fmt, metadata; 16 MiB is more than it holds.
    std::vector<unsigned char> header(
        static_cast<std::size_t>(std::min<off_t>(length, off_t{16} << 20)));
    if (pread(descriptor, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) {
        return false;
    }
    if (header.size() < 20 || std::memcmp(header.data(), "RF64", 4) != 0 ||
        std::memcmp(header.data() + 12, "ds64", 4) != 0) {
        return true;  // not the layout this expects: left as libsndfile wrote it
    }
    std::size_t position = 12;
    while (position + 8 <= header.size() && std::memcmp(header.data() + position, "data", 4)) {
        position += 8 + littleEndian32(header.data() + position + 4);
        position += position & 1u;
    }
    if (position + 8 > header.size()) return true;
    std::memcpy(header.data(), "RIFF", 4);
    putLittleEndian32(header.data() + 4, static_cast<std::uint64_t>(length) - 8);
    std::memcpy(header.data() + 12, "JUNK", 4);
    std::fill(header.data() + 20, header.data() + 20 + littleEndian32(header.data() + 16), 0);
    putLittleEndian32(header.data() + position + 4,
                      static_cast<std::uint64_t>(length) - (position + 8));
    const std::size_t written = position + 8;
    return pwrite(descriptor, header.data(), written, 0) == static_cast<ssize_t>(written);
}

}  // namespace render
