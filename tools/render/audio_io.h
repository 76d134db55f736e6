// Audio files through libsndfile, read and written in blocks so that memory stays the same
// whatever the length of the file.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

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
};

// A container and a sample encoding, as libsndfile's SF_FORMAT_* major and subtype codes.
struct FileFormat {
    int container = 0;
    int encoding = 0;
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
    // `channel` counts from 1; 0 asks for the mono mix. Fails with ExitStatus::kInput, or
    // kUsage when the file has no such channel.
    SoundFileReader(const std::string& path, int channel, int blockSize);
    ~SoundFileReader() override;
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    double sampleRate() const override { return info_.samplerate; }
    std::int64_t frameCount() const override { return info_.frames; }
    int read(float* destination, int frames) override;

    int channels() const { return info_.channels; }
    FileFormat format() const;

  private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    int channel_;
    std::vector<float> interleaved_;
};

// An audio file being written: stereo, or mono for the demo's dry programme.
class SoundFileWriter {
  public:
    // Fails with ExitStatus::kWriteFailed.
    SoundFileWriter(const std::string& path, FileFormat format, int sampleRate, int channels,
                    int blockSize);
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // A mono file takes only `left`.
    void write(const float* left, const float* right, int frames);
    // Finishes the file; a failure to do so is a write failure.
    void close();

  private:
    std::string path_;
    int channels_;
    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
};

}  // namespace render
