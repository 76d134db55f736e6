// Audio files through libsndfile, read and written in blocks so that memory stays the same
// whatever the length of the file.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/render/frame_sink.h"

namespace render {

// Where mono samples for the plug-in come from: an audio file, or the built-in demo programme.
class MonoSource {
  public:
    virtual ~MonoSource() = default;
    virtual double sampleRate() const = 0;
    // The number of frames, or -1 when the source cannot tell in advance.
    virtual std::int64_t frameCount() const = 0;
    // Fills up to `frames` samples; fewer than asked only at the end of the source.
    virtual int read(float* destination, int frames) = 0;
    // Whether the source has two channels to feed to two inputs as they are (--stereo).
    virtual bool isStereo() const { return false; }
    // Fills two channels: a stereo source's own, or the mono signal in both.
    virtual int readPair(float* left, float* right, int frames);
    // After the end: whether the source held less than it promised (a header's length, or an
    // end its format marks), or broke off where it could no longer be decoded.
    virtual bool cutShort() const { return false; }
    // After the end, when cut short: the number of frames its header promises, or -1 when it
    // says none that can be trusted (an Ogg stream cut before its last page, a compressed WAV).
    virtual std::int64_t promisedFrames() const { return -1; }
    // After the end, when the source broke off on an error rather than at its end: why.
    virtual std::string breakReason() const { return ""; }
};

// What a file says about itself besides its samples: its text tags (title, artist, comment,
// date ...), its Broadcast Wave description and its cue points, kept so that they can be copied
// into the output where its format holds them.
struct Metadata {
    std::vector<std::pair<int, std::string>> strings;  // SF_STR_* and the text
    bool hasBroadcast = false;
    SF_BROADCAST_INFO broadcast{};
    std::vector<SF_CUE_POINT> cues;
    // Chunks of a WAV file that libsndfile neither reads nor writes itself, kept whole: iXML and
    // the LIST adtl chunk, whose labels name the cue points. Each is an id and its data.
    std::vector<std::pair<std::string, std::vector<char>>> chunks;
};

// How floats become integer samples in 8- to 16-bit outputs: with triangular (TPDF) dither of
// one step either way, which makes the rounding error noise independent of the signal, or
// rounded to the nearest step.
enum class Dither { kTriangular, kNone };

// A container and a sample encoding, as libsndfile's SF_FORMAT_* major and subtype codes.
struct FileFormat {
    int container = 0;
    int encoding = 0;
    // An RF64 file that libsndfile rewrites as plain WAV when it ends under 4 GiB: for a WAV
    // output whose length cannot be told before it is rendered.
    bool rf64UnlessSmall = false;
    int code() const { return container | encoding; }
};

// The container named on the command line ("wav", "flac", "aiff", "ogg" ...), or 0.
int containerFromName(const std::string& name);
// The container a file name's extension stands for, or 0 when it stands for none we know.
int containerFromExtension(const std::string& path);
// The encoding named on the command line ("pcm16", "pcm24", "float" ...), or 0.
int encodingFromName(const std::string& name, int container);
std::string containerName(int container);
std::string encodingName(int encoding);
std::string containerExtension(int container);
// The bytes one sample takes in an encoding of fixed size, or 0 for a compressed one.
int bytesPerSample(int encoding);
// Whether the container's lengths are 32-bit byte counts, so that a file of it cannot pass
// 4 GiB (WAV with either format chunk, AIFF, AU).
bool hasClassicSizeLimit(int container);
// The largest file such a container holds: its RIFF or FORM length counts the bytes after
// the first eight.
inline constexpr std::uint64_t kClassicFileLimit = 0xFFFFFFFFull + 8;
// Whether libsndfile can write that container and encoding for a file at that rate.
bool canWrite(FileFormat format, int sampleRate, int channels = 2);
// The encoding a file in `container` gets when it was `preferred` and that cannot be kept.
int fallbackEncoding(int container, int preferred, int sampleRate);
// The names accepted by --format and --subtype, for the help text and messages.
std::string containerNames();
std::string encodingNames();

// An audio file read as the plug-in's mono input: its mono mix, or one channel of it.
class SoundFileReader : public MonoSource {
  public:
    // `channel` counts from 1; 0 asks for the mono mix; `stereo` asks for both channels of a
    // two-channel file. The path "-" reads standard input; a path that is a pipe (/dev/stdin,
    // a shell's <(...)) is read as one. A format libsndfile cannot read from a pipe (FLAC, CAF,
    // RF64) is first copied whole into a temporary file, which goes when the reader does or a
    // signal ends the process. Fails with ExitStatus::kInput, or kUsage when the file has no
    // such channel, or is not stereo when `stereo` is asked.
    SoundFileReader(const std::string& path, int channel, int blockSize, bool stereo = false);
    // Reads through libsndfile's virtual input (a file held in memory, for the fuzzer); `name`
    // is the file's name for messages.
    SoundFileReader(SF_VIRTUAL_IO& io, void* user, const std::string& name, int channel,
                    int blockSize, bool stereo = false);
    ~SoundFileReader() override;
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    double sampleRate() const override { return info_.samplerate; }
    std::int64_t frameCount() const override { return info_.frames; }
    int read(float* destination, int frames) override;
    bool isStereo() const override { return stereo_; }
    int readPair(float* left, float* right, int frames) override;
    bool cutShort() const override;
    std::int64_t promisedFrames() const override;
    std::string breakReason() const override { return breakReason_; }

    int channels() const { return info_.channels; }
    FileFormat format() const;
    // Shown every block of the file's own frames, interleaved, as it is read: (frames,
    // frame count, channels).
    using FrameObserver = std::function<void(const float*, int, int)>;
    void observeFrames(FrameObserver observer) { observer_ = std::move(observer); }
    const Metadata& metadata() const { return metadata_; }

  private:
    void open(SNDFILE* file, int blockSize);
    // "Standard input" or "The input "NAME"", to begin a sentence.
    std::string subject() const;
    void openPipe(int descriptor, bool owned, int blockSize);
    // Fails as an unreadable input where `problem` (tools/render/riff_guard.h) is not empty.
    void refuseImplausible(const std::string& problem);
    void refuseImplausibleFile(const std::string& path);
    void removeSpool();
    void readChunks();
    int readFrames(float* first, float* second, int frames);

    std::string path_;
    std::string spool_;  // the temporary copy of a pipe, or ""
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    int channel_;
    bool stereo_;
    bool streamed_ = false;           // read from a pipe: the length is what the header says
    bool headerCut_ = false;          // a header's length is more than the file holds
    std::int64_t headerFrames_ = -1;  // that length in frames, when it can be told
    bool lengthKnown_ = true;         // info_.frames is a length, not libsndfile's "unknown"
    std::string breakReason_;         // the decoder's error that ended the reading
    int pipeDescriptor_ = -1;         // the pipe read, for a stream whose length is unknown
    std::int64_t framesRead_ = 0;
    bool ended_ = false;
    Metadata metadata_;
    std::vector<float> interleaved_;
    FrameObserver observer_;
};

// An audio file being written: stereo, or mono for the demo's dry programme.
class SoundFileWriter : public FrameSink {
  public:
    // Writes to `descriptor`, which stays open; `name` is the output's name for messages.
    // `metadata` is copied into the file where its format holds it. Fails with
    // ExitStatus::kWriteFailed.
    SoundFileWriter(int descriptor, const std::string& name, FileFormat format, int sampleRate,
                    int channels, int blockSize, Dither dither = Dither::kTriangular,
                    const Metadata* metadata = nullptr);
    ~SoundFileWriter() override;
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // A mono file takes only `left`.
    void write(const float* left, const float* right, int frames) override;
    // Finishes the file; a failure to do so is a write failure.
    void close();
    // Refuses to write samples past `bytes` (a container whose lengths would wrap around
    // otherwise, when its length could not be told before the render); 0 for no limit.
    void limitSampleBytes(std::uint64_t bytes) { sampleByteLimit_ = bytes; }

    // The bits of an integer encoding the renderer converts to itself, or 0.
    static int integerBits(int encoding);

  private:
    void writeInterleaved(int frames);
    int toInteger(float sample);

    std::string path_;
    int descriptor_;
    int spoolDescriptor_ = -1;  // a FLAC stream's temporary file, or -1
    bool rf64UnlessSmall_;
    int channels_;
    int bits_;  // 0: libsndfile converts the floats
    bool dither_;
    std::uint32_t noiseState_ = 0x9E3779B9u;
    std::uint64_t frameBytes_ = 0;
    std::uint64_t sampleBytes_ = 0;
    std::uint64_t sampleByteLimit_ = 0;
    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
    std::vector<int> integers_;
};

// Turns a finished RF64 file under 4 GiB into WAV in place, by its header alone; false with
// errno set when it cannot be read or written.
bool rf64AsWav(int descriptor);

// Whether libsndfile can write the container to a pipe, which cannot seek back to its header.
bool canStream(int container);

}  // namespace render
