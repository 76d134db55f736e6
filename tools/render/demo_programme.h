// The renderer's own test programme: a mono recording synthesised on the fly, so that anyone can
// hear what the plug-in does without bringing a file. It cycles through four sections of three
// seconds each: steady tones, a plucked melody, noise, and percussive clicks.
#pragma once

#include <cstdint>

#include "tools/render/audio_io.h"

namespace render {

class DemoProgramme : public MonoSource {
  public:
    static constexpr int kSampleRate = 48000;
    static constexpr double kSectionSeconds = 3.0;
    static constexpr int kSectionCount = 4;
    static constexpr double kDefaultSeconds = kSectionSeconds * kSectionCount;

    // A programme of the given length; longer than one cycle, it repeats the sections.
    explicit DemoProgramme(double seconds = kDefaultSeconds);

    double sampleRate() const override { return kSampleRate; }
    std::int64_t frameCount() const override { return totalFrames_; }
    int read(float* destination, int frames) override;

  private:
    float sampleAt(std::int64_t frame);
    float nextWhiteNoise();

    std::int64_t totalFrames_;
    std::int64_t position_ = 0;
    std::uint32_t noiseSeed_ = 0x2545F491u;
    // Three leaky integrators that tilt white noise towards pink.
    float pinkState_[3] = {};
};

}  // namespace render
