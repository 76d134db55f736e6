// Sample-rate conversion by libsoxr at its very high quality (a passband flat to 0.01 dB up to
// 91 % of the lower Nyquist frequency, stopband and noise below -170 dB), in blocks, so that
// memory stays the same whatever the length of the file. soxr takes its own filter delay out,
// and the converter pads or trims the end so that N frames in give exactly round(N * ratio)
// frames out: a converted file lines up with its source from the first sample to the last.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/frame_sink.h"

namespace render {

class RateConverter {
  public:
    // Throws Failure (ExitStatus::kUsage) when soxr refuses the rates.
    RateConverter(double inputRate, double outputRate, int channels);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // Converts `frames` frames of `channels` separate channels; the result waits in pending().
    void push(const float* const* channels, int frames);
    // The input has ended: the filter's last output is brought out, and the output made exactly
    // round(input frames * ratio) long.
    void end();
    // Moves up to `frames` converted frames into `channels`; returns how many.
    int take(float* const* channels, int frames);
    int pending() const { return static_cast<int>(pending_[0].size() - taken_); }
    bool ended() const { return ended_; }

  private:
    void convert(const float* const* channels, int frames);
    void compact();

    struct Soxr;
    std::unique_ptr<Soxr> soxr_;
    double ratio_;
    int channels_;
    std::vector<std::vector<float>> pending_;  // per channel; the first taken_ are gone
    std::size_t taken_ = 0;
    std::vector<std::vector<float>> scratch_;
    std::int64_t inputFrames_ = 0;
    std::int64_t outputFrames_ = 0;  // made so far, trimmed to the exact length at the end
    bool ended_ = false;
};

// A source read at another rate: the plug-in then runs at the rate that --process-rate asks for.
class ResampledSource : public MonoSource {
  public:
    ResampledSource(MonoSource& source, double rate, int blockSize);

    double sampleRate() const override { return rate_; }
    std::int64_t frameCount() const override;
    int read(float* destination, int frames) override;
    bool isStereo() const override { return source_.isStereo(); }
    int readPair(float* left, float* right, int frames) override;
    std::int64_t promisedFrames() const override { return source_.promisedFrames(); }

  private:
    int fill(float* first, float* second, int frames);

    MonoSource& source_;
    double rate_;
    int blockSize_;
    RateConverter converter_;
    std::vector<float> left_, right_, mixScratch_;
};

// The output converted to another rate on its way to the next sink (--rate, or back from
// --process-rate to the input's rate).
class ResamplingSink : public FrameSink {
  public:
    ResamplingSink(FrameSink& next, double inputRate, double outputRate, int channels);

    void write(const float* left, const float* right, int frames) override;
    void finish() override;

  private:
    void handOn();

    FrameSink& next_;
    int channels_;
    RateConverter converter_;
    std::vector<float> left_, right_;
};

}  // namespace render
