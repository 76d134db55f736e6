// Whether the mono mix of a file's channels, which the plug-in is fed by default, cancels: an
// anti-phase stereo file (one channel's wiring reversed) mixes to near silence although each
// channel is loud.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace render {

class MixCancellation {
  public:
    // The mix 20 dB or more below the channels' mean power: independent channels mix 3 dB
    // down, a channel alone 3 dB down, so only opposite polarity comes near.
    static constexpr double kCancelledDb = -20.0;

    // The file's own frames, interleaved; NaN and infinite samples count as silence.
    void add(const float* interleaved, int frames, int channels);
    // The mix's power against the mean power of the channels (dB), or NaN when the channels are
    // silent or there is only one.
    double mixAgainstChannelsDb() const;
    bool cancels() const { return mixAgainstChannelsDb() <= kCancelledDb; }
    // The two channels (from 1) most nearly opposite each other.
    std::pair<int, int> opposedChannels() const;
    // The warning for `input`, read from `seconds` of it (0: the whole file).
    std::string warning(const std::string& input, double seconds) const;

  private:
    int channels_ = 0;
    double mixPower_ = 0.0;
    std::vector<double> power_;  // per channel
    std::vector<double> cross_;  // per pair (a, b), a < b, in order
};

// The mix balance of the first `seconds` of the file at `path`; empty when it cannot be read.
MixCancellation scanMix(const std::string& path, double seconds);

}  // namespace render
