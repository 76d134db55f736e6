#include "tools/render/audio_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "tools/render/failure.h"

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

SoundFileReader::SoundFileReader(const std::string& path, int channel, int blockSize)
    : path_(path), channel_(channel) {
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
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_) {
        std::string reason = sf_strerror(nullptr);
        while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) {
            reason.pop_back();
        }
        throw Failure(ExitStatus::kInput, "The input " + inQuotes(path) +
                                              " is not an audio file that can be read (" + reason +
                                              ").");
    }
    if (info_.channels < 1 || info_.samplerate < 1) {
        sf_close(file_);
        file_ = nullptr;
        throw Failure(ExitStatus::kInput,
                      "The input " + inQuotes(path) + " has no channels or no sample rate.");
    }
    if (channel_ > info_.channels) {
        sf_close(file_);
        file_ = nullptr;
        throw Failure(ExitStatus::kUsage,
                      "The input " + inQuotes(path) + " has " + std::to_string(info_.channels) +
                          (info_.channels == 1 ? " channel" : " channels") +
                          ", so it has no channel " + std::to_string(channel_) + ".");
    }
    interleaved_.resize(static_cast<std::size_t>(blockSize) *
                        static_cast<std::size_t>(info_.channels));
}

SoundFileReader::~SoundFileReader() {
    if (file_) sf_close(file_);
}

FileFormat SoundFileReader::format() const {
    return {info_.format & SF_FORMAT_TYPEMASK, info_.format & SF_FORMAT_SUBMASK};
}

int SoundFileReader::read(float* destination, int frames) {
    const int channels = info_.channels;
    const int capacity = static_cast<int>(interleaved_.size()) / channels;
    int done = 0;
    while (done < frames) {
        const int wanted = std::min(frames - done, capacity);
        const auto got = static_cast<int>(sf_readf_float(file_, interleaved_.data(), wanted));
        if (got <= 0) break;
        const float* frame = interleaved_.data();
        for (int i = 0; i < got; ++i, frame += channels) {
            if (channel_ > 0) {
                destination[done + i] = frame[channel_ - 1];
            } else {
                float sum = 0.0f;
                for (int c = 0; c < channels; ++c) sum += frame[c];
                destination[done + i] = sum / static_cast<float>(channels);
            }
        }
        done += got;
    }
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
        throw Failure(ExitStatus::kInput, "Reading the input " + inQuotes(path_) + " failed (" +
                                              sf_strerror(file_) + ").");
    }
    return done;
}

SoundFileWriter::SoundFileWriter(const std::string& path, FileFormat format, int sampleRate,
                                 int channels, int blockSize)
    : path_(path),
      channels_(channels),
      interleaved_(static_cast<std::size_t>(blockSize) * static_cast<std::size_t>(channels)) {
    SF_INFO info{};
    info.format = format.code();
    info.channels = channels;
    info.samplerate = sampleRate;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot create " + inQuotes(path) + " (" + sf_strerror(nullptr) + ").");
    }
    // Integer encodings must clip samples above full scale; without this they wrap around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

SoundFileWriter::~SoundFileWriter() {
    if (file_) sf_close(file_);
}

void SoundFileWriter::write(const float* left, const float* right, int frames) {
    if (channels_ == 1) {
        if (sf_writef_float(file_, left, frames) != frames) {
            throw Failure(ExitStatus::kWriteFailed,
                          "Writing " + inQuotes(path_) + " failed (" + sf_strerror(file_) + ").");
        }
        return;
    }
    const int capacity = static_cast<int>(interleaved_.size()) / 2;
    int done = 0;
    while (done < frames) {
        const int count = std::min(frames - done, capacity);
        for (int i = 0; i < count; ++i) {
            interleaved_[2 * static_cast<std::size_t>(i)] = left[done + i];
            interleaved_[2 * static_cast<std::size_t>(i) + 1] = right[done + i];
        }
        if (sf_writef_float(file_, interleaved_.data(), count) != count) {
            throw Failure(ExitStatus::kWriteFailed,
                          "Writing " + inQuotes(path_) + " failed (" + sf_strerror(file_) + ").");
        }
        done += count;
    }
}

void SoundFileWriter::close() {
    if (!file_) return;
    const int result = sf_close(file_);
    file_ = nullptr;
    if (result != 0) {
        throw Failure(ExitStatus::kWriteFailed, "Finishing " + inQuotes(path_) + " failed (" +
                                                    sf_error_number(result) + ").");
    }
}

}  // namespace render
