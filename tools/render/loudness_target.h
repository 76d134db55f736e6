// --loudness: the output brought to a loudness target by gain alone. The first pass measures
// the output's integrated loudness and true peak (BS.1770, libebur128) while spooling it to a
// temporary file; the second reads it back with the gain applied. The gain is capped so that the
// true peak stays at or below a ceiling, since gain alone cannot make a loud peak quieter. Memory
// stays the same whatever the length: the audio waits on disk, not in memory.
#pragma once

#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tools/render/frame_sink.h"

namespace render {

struct LoudnessOutcome {
    double targetLufs = 0.0;
    double ceilingDbtp = 0.0;
    // Of the output before the gain; -inf when it is silent or below the gate.
    double measuredLufs = -std::numeric_limits<double>::infinity();
    double measuredTruePeakDbtp = -std::numeric_limits<double>::infinity();
    double gainDb = 0.0;
    double reachedLufs = -std::numeric_limits<double>::infinity();
    double reachedTruePeakDbtp = -std::numeric_limits<double>::infinity();
    bool limitedByTruePeak = false;  // the target would have put the true peak above the ceiling
    bool measurable = false;         // some of the output rose above the gate
};

// The gain that brings `measuredLufs` to `targetLufs`, capped so that the true peak stays at or
// below `ceilingDbtp`; the figures reached follow from it, since gain moves both alike.
LoudnessOutcome loudnessGain(double measuredLufs, double measuredTruePeakDbtp, double targetLufs,
                             double ceilingDbtp);

// A sentence for the summary: "loudness -16.0 LUFS (target -16.0), gain +4.2 dB, true peak
// -3.1 dBTP".
std::string describeLoudness(const LoudnessOutcome& outcome);
// Sentences for a target missed: capped by the ceiling, or nothing to measure.
std::vector<std::string> loudnessWarnings(const LoudnessOutcome& outcome);
// The JSON members, each with a leading comma: loudness_target_lufs, loudness_gain_db, ...
std::string loudnessJson(const LoudnessOutcome& outcome);

class LoudnessTarget : public FrameSink {
  public:
    // Output of `channels` (1 or 2) at `sampleRate`; a mono output is measured as one channel,
    // as a mono file is played. Throws Failure (kUsage for a rate libebur128 does not take,
    // kWriteFailed when no temporary file can be made).
    LoudnessTarget(FrameSink& next, int sampleRate, int channels, double targetLufs,
                   double ceilingDbtp, int blockSize);
    ~LoudnessTarget() override;

    void write(const float* left, const float* right, int frames) override;
    // Measures, then reads the spooled output back through the gain into the next sink.
    void finish() override;
    const LoudnessOutcome& outcome() const { return outcome_; }

  private:
    struct Meter;
    FrameSink& next_;
    std::unique_ptr<Meter> meter_;
    double targetLufs_;
    double ceilingDbtp_;
    int channels_;
    int blockSize_;
    std::FILE* spool_ = nullptr;
    std::vector<float> interleaved_;
    std::vector<float> left_, right_;
    LoudnessOutcome outcome_;
};

}  // namespace render
