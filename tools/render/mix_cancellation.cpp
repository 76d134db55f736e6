#include "tools/render/mix_cancellation.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace render {

void MixCancellation::add(const float* interleaved, int frames, int channels) {
    if (channels_ == 0) {
        channels_ = channels;
        power_.assign(static_cast<std::size_t>(channels), 0.0);
        cross_.assign(static_cast<std::size_t>(channels * (channels - 1) / 2), 0.0);
    }
    if (channels != channels_ || channels < 2) return;
    const float* frame = interleaved;
    for (int i = 0; i < frames; ++i, frame += channels) {
        double sum = 0.0;
        std::size_t pair = 0;
        for (int a = 0; a < channels; ++a) {
            const double x = std::isfinite(frame[a]) ? frame[a] : 0.0;
            sum += x;
            power_[static_cast<std::size_t>(a)] += x * x;
            for (int b = a + 1; b < channels; ++b, ++pair) {
                const double y = std::isfinite(frame[b]) ? frame[b] : 0.0;
                cross_[pair] += x * y;
            }
        }
        const double mix = sum / channels;
        mixPower_ += mix * mix;
    }
}

double MixCancellation::mixAgainstChannelsDb() const {
    if (channels_ < 2) return std::numeric_limits<double>::quiet_NaN();
    double channelPower = 0.0;
    for (double power : power_) channelPower += power / channels_;
    if (!(channelPower > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    if (mixPower_ <= 0.0) return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(mixPower_ / channelPower);
}

std::pair<int, int> MixCancellation::opposedChannels() const {
    std::pair<int, int> opposed{1, 2};
    double lowest = std::numeric_limits<double>::infinity();
    std::size_t pair = 0;
    for (int a = 0; a < channels_; ++a) {
        for (int b = a + 1; b < channels_; ++b, ++pair) {
            const double scale = std::sqrt(power_[static_cast<std::size_t>(a)] *
                                           power_[static_cast<std::size_t>(b)]);
            const double correlation = scale > 0.0 ? cross_[pair] / scale : 0.0;
            if (correlation < lowest) {
                lowest = correlation;
                opposed = {a + 1, b + 1};
            }
        }
    }
    return opposed;
}

std::string MixCancellation::warning(const std::string& input, double seconds) const {
    const auto [first, second] = opposedChannels();
    const double db = mixAgainstChannelsDb();
    char level[64];
    if (std::isfinite(db)) {
        std::snprintf(level, sizeof level, "%.0f dB below them", -db);
    } else {
        std::snprintf(level, sizeof level, "silent");
    }
    char span[64] = "";
    if (seconds > 0.0) std::snprintf(span, sizeof span, " in its first %.0f s", seconds);
    const std::string a = std::to_string(first), b = std::to_string(second);
    return "The input " + input + " has channels " + a + " and " + b + " in opposite polarity" +
           span + ": the mono mix fed to the plug-in is " + level +
           ", so it hears next to nothing. Feed it one channel with --channel " + a +
           " or --channel " + b + ".";
}

MixCancellation scanMix(const std::string& path, double seconds) {
    MixCancellation balance;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return balance;
    constexpr int kBlock = 4096;
    std::vector<float> frames(static_cast<std::size_t>(kBlock * info.channels));
    auto left = static_cast<sf_count_t>(seconds * info.samplerate);
    while (left > 0) {
        const sf_count_t got =
            sf_readf_float(file, frames.data(), std::min<sf_count_t>(kBlock, left));
        if (got <= 0) break;
        balance.add(frames.data(), static_cast<int>(got), info.channels);
        left -= got;
    }
    sf_close(file);
    return balance;
}

}  // namespace render
