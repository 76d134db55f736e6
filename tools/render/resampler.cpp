#include "tools/render/resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "tools/render/failure.h"

namespace render {

namespace {

// soxr's output per call is bounded by this, so the pending output stays small.
constexpr int kChunk = 4096;

}  // namespace

struct RateConverter::Soxr {
    soxr_t handle = nullptr;
    ~Soxr() {
        if (handle) soxr_delete(handle);
    }
};

RateConverter::RateConverter(double inputRate, double outputRate, int channels)
    : soxr_(std::make_unique<Soxr>()),
      ratio_(outputRate / inputRate),
      channels_(channels),
      pending_(static_cast<std::size_t>(channels)),
      scratch_(static_cast<std::size_t>(channels), std::vector<float>(kChunk)) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_->handle = soxr_create(inputRate, outputRate, static_cast<unsigned>(channels), &error, &io,
                                &quality, &runtime);
    if (!soxr_->handle || error) {
        throw Failure(ExitStatus::kUsage, "Cannot convert " + std::to_string(inputRate) +
                                              " Hz to " + std::to_string(outputRate) + " Hz (" +
                                              (error ? error : "soxr refused") + ").");
    }
}

RateConverter::~RateConverter() = default;

// Feeds `frames` (or, with null `channels`, the end of the input) and collects what comes out.
void RateConverter::convert(const float* const* channels, int frames) {
    compact();
    float* out[2] = {scratch_[0].data(), channels_ > 1 ? scratch_[1].data() : nullptr};
    std::size_t offset = 0;
    while (true) {
        const float* in[2] = {};
        if (channels) {
            for (int c = 0; c < channels_; ++c) in[c] = channels[c] + offset;
        }
        std::size_t used = 0, made = 0;
        const soxr_error_t error =
            soxr_process(soxr_->handle, channels ? static_cast<soxr_in_t>(in) : nullptr,
                         channels ? static_cast<std::size_t>(frames) - offset : 0, &used,
                         static_cast<soxr_out_t>(out), kChunk, &made);
        if (error)
            throw Failure(ExitStatus::kInput,
                          std::string("Rate conversion failed (") + error + ").");
        for (int c = 0; c < channels_; ++c) {
            pending_[c].insert(pending_[c].end(), out[c], out[c] + made);
        }
        outputFrames_ += static_cast<std::int64_t>(made);
        offset += used;
        // Input is taken whole; at the end, soxr is asked until it has nothing more.
        if (channels ? offset >= static_cast<std::size_t>(frames) && made < kChunk : made == 0) {
            break;
        }
    }
}

void RateConverter::push(const float* const* channels, int frames) {
    if (frames <= 0) return;
    inputFrames_ += frames;
    convert(channels, frames);
}

void RateConverter::end() {
    if (ended_) return;
    convert(nullptr, 0);
    ended_ = true;
    const auto wanted = static_cast<std::int64_t>(std::llround(inputFrames_ * ratio_));
    const std::int64_t change = wanted - outputFrames_;
    for (auto& channel : pending_) {
        const auto size = static_cast<std::int64_t>(channel.size());
        channel.resize(static_cast<std::size_t>(
            std::max<std::int64_t>(static_cast<std::int64_t>(taken_), size + change)));
    }
    outputFrames_ = wanted;
}

int RateConverter::take(float* const* channels, int frames) {
    const int count = std::min(frames, pending());
    for (int c = 0; c < channels_; ++c) {
        const auto from = pending_[c].begin() + static_cast<std::ptrdiff_t>(taken_);
        std::copy(from, from + count, channels[c]);
    }
    taken_ += static_cast<std::size_t>(count);
    return count;
}

void RateConverter::compact() {
    if (taken_ == 0) return;
    for (auto& channel : pending_) {
        channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(taken_));
    }
    taken_ = 0;
}

ResampledSource::ResampledSource(MonoSource& source, double rate, int blockSize)
    : source_(source),
      rate_(rate),
      blockSize_(blockSize),
      converter_(source.sampleRate(), rate, source.isStereo() ? 2 : 1),
      left_(static_cast<std::size_t>(blockSize)),
      right_(static_cast<std::size_t>(blockSize)) {}

std::int64_t ResampledSource::frameCount() const {
    const std::int64_t frames = source_.frameCount();
    return frames < 0 ? -1
                      : static_cast<std::int64_t>(std::llround(static_cast<double>(frames) * rate_ /
                                                               source_.sampleRate()));
}

int ResampledSource::fill(float* first, float* second, int frames) {
    while (converter_.pending() < frames && !converter_.ended()) {
        const int got = isStereo() ? source_.readPair(left_.data(), right_.data(), blockSize_)
                                   : source_.read(left_.data(), blockSize_);
        const float* channels[2] = {left_.data(), right_.data()};
        converter_.push(channels, got);
        if (got < blockSize_) converter_.end();
    }
    float* out[2] = {first, second};
    return converter_.take(out, frames);
}

int ResampledSource::read(float* destination, int frames) {
    if (!isStereo()) return fill(destination, nullptr, frames);
    // A stereo source asked for one channel gives the mean of its two.
    mixScratch_.resize(static_cast<std::size_t>(frames));
    const int got = fill(destination, mixScratch_.data(), frames);
    for (int i = 0; i < got; ++i) destination[i] = 0.5f * (destination[i] + mixScratch_[i]);
    return got;
}

int ResampledSource::readPair(float* left, float* right, int frames) {
    if (!isStereo()) return MonoSource::readPair(left, right, frames);
    return fill(left, right, frames);
}

ResamplingSink::ResamplingSink(FrameSink& next, double inputRate, double outputRate, int channels)
    : next_(next),
      channels_(channels),
      converter_(inputRate, outputRate, channels),
      left_(kChunk),
      right_(kChunk) {}

void ResamplingSink::write(const float* left, const float* right, int frames) {
    const float* channels[2] = {left, right};
    converter_.push(channels, frames);
    handOn();
}

void ResamplingSink::finish() {
    converter_.end();
    handOn();
    next_.finish();
}

void ResamplingSink::handOn() {
    float* out[2] = {left_.data(), channels_ > 1 ? right_.data() : nullptr};
    while (const int count = converter_.take(out, kChunk)) {
        next_.write(left_.data(), channels_ > 1 ? right_.data() : left_.data(), count);
    }
}

}  // namespace render
