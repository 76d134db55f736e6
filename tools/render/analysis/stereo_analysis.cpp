#include "tools/render/analysis/stereo_analysis.h"

#include <ebur128.h>
#include <fftw3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <mutex>
#include <random>
#include <stdexcept>

#include "tools/render/analysis/utf8_text.h"

namespace render {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrtHalf = 0.70710678118654752440;

double powerDb(double power) {
    return power > 0.0 ? 10.0 * std::log10(power) : -kInfinity;
}

double amplitudeDb(double amplitude) {
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -kInfinity;
}

// 10 log10(side / mid) with the edge cases named: no side is -inf, no mid +inf, neither NaN.
double ratioDb(double side, double mid) {
    if (mid > 0.0) return powerDb(side / mid);
    return side > 0.0 ? kInfinity : kNaN;
}

double correlationOf(double crossPower, double leftPower, double rightPower) {
    if (!(leftPower > 0.0) || !(rightPower > 0.0)) return kNaN;
    return std::clamp(crossPower / std::sqrt(leftPower * rightPower), -1.0, 1.0);
}

struct MeterDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using LoudnessMeter = std::unique_ptr<ebur128_state, MeterDeleter>;

// The histogram mode keeps the gating blocks' loudness in 0.1 dB bins rather than one by one, so
// that the meter's memory does not grow with the file; the integrated loudness it gives is
// within about 0.05 LU of the exact one. Only the output's true peak is reported: the 4x
// oversampling behind it cost more than the plug-in itself when every meter ran it, and it
// plays no part in the integrated loudness, which is the same with it or without.
enum class TruePeak { kMeasured, kNot };
LoudnessMeter makeMeter(unsigned channels, int sampleRate, TruePeak truePeak = TruePeak::kNot) {
    const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM |
                     (truePeak == TruePeak::kMeasured ? EBUR128_MODE_TRUE_PEAK : 0);
    LoudnessMeter meter(ebur128_init(channels, static_cast<unsigned long>(sampleRate), mode));
    if (!meter) {
        throw std::invalid_argument("the loudness meter does not take a sample rate of " +
                                    std::to_string(sampleRate) + " Hz");
    }
    return meter;
}

double integratedLoudness(ebur128_state* meter) {
    double loudness = -kInfinity;
    if (ebur128_loudness_global(meter, &loudness) != EBUR128_SUCCESS) return kNaN;
    return loudness;  // -HUGE_VAL when every block is gated away
}

// FFTW's planner is one for the process and not safe to call from two threads at once (only
// fftw_execute is), and files of a batch are analysed side by side (--jobs).
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

// Long-term power spectra by Welch's method: Hann-windowed frames overlapping by half, the
// squared magnitudes averaged over every frame of the file. With two channels the real part of
// their cross-spectrum is averaged too, which is what correlation and side level need.
class WelchSpectra {
  public:
    WelchSpectra(int frameSize, int channels)
        : frameSize_(frameSize),
          channels_(channels),
          window_(frameSize),
          frameBuffers_(channels, std::vector<double>(frameSize)),
          autoPower_(channels, std::vector<double>(frameSize / 2 + 1)),
          crossPower_(channels == 2 ? frameSize / 2 + 1 : 0),
          firstSpectrum_(frameSize / 2 + 1) {
        for (int n = 0; n < frameSize; ++n) {
            window_[n] = 0.5 - 0.5 * std::cos(2.0 * kPi * n / frameSize);  // periodic Hann
            windowSum_ += window_[n];
            windowSquareSum_ += window_[n] * window_[n];
        }
        fftIn_ = fftw_alloc_real(frameSize);
        fftOut_ = fftw_alloc_complex(frameSize / 2 + 1);
        if (!fftIn_ || !fftOut_) throw std::bad_alloc();
        std::lock_guard<std::mutex> lock(plannerMutex());
        plan_ = fftw_plan_dft_r2c_1d(frameSize, fftIn_, fftOut_, FFTW_ESTIMATE);
    }
    ~WelchSpectra() {
        std::lock_guard<std::mutex> lock(plannerMutex());
        fftw_destroy_plan(plan_);
        fftw_free(fftIn_);
        fftw_free(fftOut_);
    }
    WelchSpectra(const WelchSpectra&) = delete;
    WelchSpectra& operator=(const WelchSpectra&) = delete;

    // `channels[c][i]` for i below `count`.
    void add(const float* const* channels, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            const std::size_t take =
                std::min(count - done, static_cast<std::size_t>(frameSize_ - filled_));
            for (int c = 0; c < channels_; ++c) {
                std::copy_n(channels[c] + done, take, frameBuffers_[c].begin() + filled_);
            }
            filled_ += static_cast<int>(take);
            done += take;
            if (filled_ == frameSize_) {
                transformFrame();
                const int hop = frameSize_ / 2;
                for (auto& frame : frameBuffers_) {
                    std::copy(frame.begin() + hop, frame.end(), frame.begin());
                }
                filled_ = frameSize_ - hop;
            }
        }
    }

    // A signal shorter than one frame still gets a spectrum, from a zero-padded frame.
    void finish() {
        if (frameCount_ > 0 || filled_ == 0) return;
        for (auto& frame : frameBuffers_) std::fill(frame.begin() + filled_, frame.end(), 0.0);
        transformFrame();
    }

    int frameSize() const { return frameSize_; }
    // Averaged squared magnitudes, scaled so that a sine of amplitude A on a bin reads A^2.
    double autoPower(int channel, int bin) const { return autoPower_[channel][bin] * scale(); }
    double crossPower(int bin) const { return crossPower_[bin] * scale(); }
    // The factor that turns a sum of bins of the above into the power of the signal in them:
    // a sine's energy spreads over the window's main lobe.
    double bandFactor() const { return windowSum_ * windowSum_ / (frameSize_ * windowSquareSum_); }

  private:
    void transformFrame() {
        for (int c = 0; c < channels_; ++c) {
            for (int n = 0; n < frameSize_; ++n) fftIn_[n] = frameBuffers_[c][n] * window_[n];
            fftw_execute(plan_);
            for (int k = 0; k <= frameSize_ / 2; ++k) {
                const std::complex<double> bin(fftOut_[k][0], fftOut_[k][1]);
                autoPower_[c][k] += std::norm(bin);
                if (channels_ == 2 && c == 0) firstSpectrum_[k] = bin;
                if (channels_ == 2 && c == 1) {
                    crossPower_[k] += (firstSpectrum_[k] * std::conj(bin)).real();
                }
            }
        }
        ++frameCount_;
    }
    double scale() const {
        return frameCount_ == 0 ? 0.0 : 4.0 / (windowSum_ * windowSum_ * frameCount_);
    }

    int frameSize_;
    int channels_;
    std::vector<double> window_;
    std::vector<std::vector<double>> frameBuffers_;
    int filled_ = 0;
    std::vector<std::vector<double>> autoPower_;
    std::vector<double> crossPower_;
    std::vector<std::complex<double>> firstSpectrum_;
    std::int64_t frameCount_ = 0;
    double windowSum_ = 0.0;
    double windowSquareSum_ = 0.0;
    double* fftIn_ = nullptr;
    fftw_complex* fftOut_ = nullptr;
    fftw_plan plan_ = nullptr;
};

// A uniform random sample of a stream of unknown length in fixed memory (Li's "Algorithm L":
// it draws random numbers only for the items it keeps, not for every item).
class Reservoir {
  public:
    explicit Reservoir(std::size_t capacity) : capacity_(capacity) { points_.reserve(capacity); }

    void offer(GoniometerPoint point) {
        if (points_.size() < capacity_) {
            points_.push_back(point);
            if (points_.size() == capacity_) {
                weight_ = std::exp(std::log(uniform()) / capacity_);
                nextKept_ = seen_ + skip();
            }
        } else if (seen_ == nextKept_) {
            points_[rng_() % capacity_] = point;
            weight_ *= std::exp(std::log(uniform()) / capacity_);
            nextKept_ += skip();
        }
        ++seen_;
    }

    const std::vector<GoniometerPoint>& points() const { return points_; }

  private:
    // In (0, 1), never 0, so that its logarithm is finite.
    double uniform() { return (static_cast<double>(rng_() >> 11) + 0.5) * 0x1.0p-53; }
    std::uint64_t skip() {
        const double gap = std::floor(std::log(uniform()) / std::log1p(-weight_)) + 1.0;
        return gap < 0x1.0p62 ? static_cast<std::uint64_t>(gap) : std::uint64_t{1} << 62;
    }

    std::size_t capacity_;
    std::vector<GoniometerPoint> points_;
    std::mt19937_64 rng_{0x5EED};  // fixed, so that the same file always draws the same picture
    double weight_ = 1.0;
    std::uint64_t seen_ = 0;
    std::uint64_t nextKept_ = 0;
};

// Correlation and side level over time, in windows of about 400 ms, in fixed memory: when the
// slots are full, neighbours are merged and each slot covers twice as many windows. A slot keeps
// its sums, and the worst correlation and side level of the 400 ms windows inside it.
class Timeline {
  public:
    Timeline(int sampleRate, std::size_t slots)
        : windowFrames_(
              std::max<std::int64_t>(1, std::llround(StereoAnalyser::kWindowSeconds * sampleRate))),
          sampleRate_(sampleRate),
          capacity_(slots) {
        slots_.reserve(slots);
    }

    void add(double l, double r) {
        window_.left += l * l;
        window_.right += r * r;
        window_.cross += l * r;
        if (++window_.frames == windowFrames_) closeWindow();
    }

    std::vector<TimeWindow> finish(double& cancellingSeconds) {
        if (window_.frames > 0) closeWindow();
        cancellingSeconds = cancellingFrames_ / static_cast<double>(sampleRate_);
        std::vector<TimeWindow> windows;
        std::int64_t start = 0;
        for (const Slot& slot : slots_) {
            TimeWindow window;
            window.startSeconds = static_cast<double>(start) / sampleRate_;
            window.seconds = static_cast<double>(slot.frames) / sampleRate_;
            window.correlation = correlationOf(slot.cross, slot.left, slot.right);
            window.sideToMidDb = ratioDb(slot.left + slot.right - 2.0 * slot.cross,
                                         slot.left + slot.right + 2.0 * slot.cross);
            window.hasSignal = slot.hasSignal;
            if (slot.hasSignal && std::isfinite(slot.worstCorrelation)) {
                window.worstCorrelation = slot.worstCorrelation;
            }
            if (slot.hasSignal) window.largestSideToMidDb = slot.largestSideToMid;  // -inf: mono
            windows.push_back(window);
            start += slot.frames;
        }
        return windows;
    }

  private:
    struct Slot {
        double left = 0.0, right = 0.0, cross = 0.0;
        std::int64_t frames = 0;
        bool hasSignal = false;
        double worstCorrelation = kInfinity;
        double largestSideToMid = -kInfinity;
    };

    // -90 dBFS: well above the dither of 16-bit audio, well below anything heard as programme.
    static constexpr double kSignalPower = 1e-9;
    // Side 10 dB above mid: the mono sum has lost most of the programme.
    static constexpr double kCancellingSideToMidDb = 10.0;

    void closeWindow() {
        Slot& w = window_;
        w.hasSignal = (w.left + w.right) / (2.0 * static_cast<double>(w.frames)) >= kSignalPower;
        if (w.hasSignal) {
            const double correlation = correlationOf(w.cross, w.left, w.right);
            const double sideToMid =
                ratioDb(w.left + w.right - 2.0 * w.cross, w.left + w.right + 2.0 * w.cross);
            w.worstCorrelation = std::isnan(correlation) ? kInfinity : correlation;
            w.largestSideToMid = std::isnan(sideToMid) ? -kInfinity : sideToMid;
            if (sideToMid >= kCancellingSideToMidDb) cancellingFrames_ += w.frames;
        }
        merge(pending_, w);
        window_ = Slot{};
        if (++pendingWindows_ < windowsPerSlot_) return;
        if (slots_.size() == capacity_) {
            for (std::size_t i = 0; i < capacity_ / 2; ++i) {
                slots_[i] = slots_[2 * i];
                merge(slots_[i], slots_[2 * i + 1]);
            }
            slots_.resize(capacity_ / 2);
            windowsPerSlot_ *= 2;
        }
        // After a doubling the pending slot is only half full; it waits for the other half.
        if (pendingWindows_ < windowsPerSlot_) return;
        slots_.push_back(pending_);
        pending_ = Slot{};
        pendingWindows_ = 0;
    }

    static void merge(Slot& into, const Slot& from) {
        into.left += from.left;
        into.right += from.right;
        into.cross += from.cross;
        into.frames += from.frames;
        into.hasSignal = into.hasSignal || from.hasSignal;
        into.worstCorrelation = std::min(into.worstCorrelation, from.worstCorrelation);
        into.largestSideToMid = std::max(into.largestSideToMid, from.largestSideToMid);
    }

    std::int64_t windowFrames_;
    int sampleRate_;
    std::size_t capacity_;
    std::vector<Slot> slots_;
    Slot window_;
    Slot pending_;
    std::int64_t pendingWindows_ = 0;
    std::int64_t windowsPerSlot_ = 1;
    std::int64_t cancellingFrames_ = 0;
};

// Power in a band of frequencies from per-bin powers, through their running sums: bins
// ceil(low / binHz) to floor(high / binHz), each at k * binHz.
class BandPower {
  public:
    template <class PowerOf>
    BandPower(int bins, double binHz, double bandFactor, PowerOf powerOf)
        : binHz_(binHz), bandFactor_(bandFactor), sums_(static_cast<std::size_t>(bins) + 1) {
        for (int k = 1; k <= bins; ++k) sums_[k] = sums_[k - 1] + powerOf(k);
    }
    double binHz() const { return binHz_; }
    double operator()(double lowHz, double highHz) const {
        const int bins = static_cast<int>(sums_.size()) - 1;
        const int first = std::max(1, static_cast<int>(std::ceil(lowHz / binHz_)));
        const int last = std::min(bins, static_cast<int>(std::floor(highHz / binHz_)));
        if (last < first) return 0.0;
        return (sums_[last] - sums_[first - 1]) * bandFactor_;
    }

  private:
    double binHz_;
    double bandFactor_;
    std::vector<double> sums_;
};

// Frames of about a third of a second: bins a few hertz wide, so that even the 20 Hz band
// holds more than one.
int welchFrameSize(int sampleRate) {
    int size = 1024;
    while (size < sampleRate / 3) size *= 2;
    return size;
}

// Blocks of this many frames go through the time-domain sums and the loudness meter at once.
constexpr std::size_t kChunk = 4096;

}  // namespace

struct StereoAnalyser::State {
    State(int rate, int inputRate, int fileRate)
        : sampleRate(rate),
          inputRate(inputRate),
          fileRate(fileRate),
          outputMeter(makeMeter(2, rate, TruePeak::kMeasured)),
          inputMeter(makeMeter(1, inputRate)),
          outputSpectra(welchFrameSize(rate), 2),
          inputSpectra(welchFrameSize(inputRate), 1),
          goniometer(kGoniometerPoints),
          monoSumMeter(makeMeter(1, rate)),
          timeline(rate, kTimeWindows) {
        // A mono input counts as if it were played on both loudspeakers; so does the mono sum.
        ebur128_set_channel(inputMeter.get(), 0, EBUR128_DUAL_MONO);
        ebur128_set_channel(monoSumMeter.get(), 0, EBUR128_DUAL_MONO);
        monoSum.reserve(kChunk);
        interleaved.reserve(2 * kChunk);
        inputSum.reserve(kChunk);
    }

    int sampleRate;
    int inputRate;
    int fileRate;
    LoudnessMeter outputMeter;
    LoudnessMeter inputMeter;
    LoudnessMeter stereoInputMeter;  // made on the first stereo input block
    LoudnessMeter fileMeter;         // made on the first block of the file's own channels
    std::vector<float> fileFrames;
    WelchSpectra outputSpectra;
    WelchSpectra inputSpectra;
    Reservoir goniometer;
    LoudnessMeter monoSumMeter;
    Timeline timeline;
    std::vector<float> monoSum;
    std::vector<float> interleaved;
    std::vector<float> inputSum;

    std::int64_t outputFrames = 0;
    std::int64_t inputFrames = 0;
    bool outputNonZero = false;
    bool inputNonZero = false;
    bool fileNonZero = false;
    float peak = 0.0f;
    // Sums of products over the whole output. Each block is summed on its own first, which keeps
    // the rounding of an hour's sum close to that of a block's.
    double leftPower = 0.0;
    double rightPower = 0.0;
    double crossPower = 0.0;
};

StereoAnalyser::StereoAnalyser(int sampleRate, int inputRate, int fileRate) {
    if (inputRate == 0) inputRate = sampleRate;
    if (fileRate == 0) fileRate = inputRate;
    if (sampleRate <= 0 || inputRate <= 0 || fileRate <= 0) {
        throw std::invalid_argument("a sample rate must be positive, not " +
                                    std::to_string(std::min({sampleRate, inputRate, fileRate})));
    }
    state_ = std::make_unique<State>(sampleRate, inputRate, fileRate);
}

StereoAnalyser::~StereoAnalyser() = default;

void StereoAnalyser::addInput(const float* mono, std::size_t frames) {
    State& s = *state_;
    if (s.stereoInputMeter) throw std::logic_error("a stereo input cannot continue as mono");
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t count = std::min(kChunk, frames - done);
        const float* block = mono + done;
        ebur128_add_frames_float(s.inputMeter.get(), block, count);
        s.inputSpectra.add(&block, count);
        for (std::size_t i = 0; i < count && !s.inputNonZero; ++i) {
            s.inputNonZero = block[i] != 0.0f;
        }
    }
    s.inputFrames += static_cast<std::int64_t>(frames);
}

void StereoAnalyser::addInput(const float* left, const float* right, std::size_t frames) {
    State& s = *state_;
    if (!s.stereoInputMeter) {
        if (s.inputFrames > 0) throw std::logic_error("a mono input cannot continue as stereo");
        s.stereoInputMeter = makeMeter(2, s.inputRate);
    }
    std::vector<float>& sum = s.inputSum;
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t count = std::min(kChunk, frames - done);
        s.interleaved.resize(2 * count);
        sum.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            s.interleaved[2 * i] = left[done + i];
            s.interleaved[2 * i + 1] = right[done + i];
            sum[i] = 0.5f * (left[done + i] + right[done + i]);
            s.inputNonZero = s.inputNonZero || left[done + i] != 0.0f || right[done + i] != 0.0f;
        }
        ebur128_add_frames_float(s.stereoInputMeter.get(), s.interleaved.data(), count);
        const float* block = sum.data();
        s.inputSpectra.add(&block, count);
    }
    s.inputFrames += static_cast<std::int64_t>(frames);
}

void StereoAnalyser::addFileInput(const float* interleaved, std::size_t frames, int channels) {
    State& s = *state_;
    if (!s.fileMeter) {
        s.fileMeter = makeMeter(static_cast<unsigned>(channels), s.fileRate);
        if (channels == 1) ebur128_set_channel(s.fileMeter.get(), 0, EBUR128_DUAL_MONO);
    }
    const auto width = static_cast<std::size_t>(channels);
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t count = std::min(kChunk, frames - done);
        s.fileFrames.assign(interleaved + done * width, interleaved + (done + count) * width);
        for (float& sample : s.fileFrames) {
            if (!std::isfinite(sample)) sample = 0.0f;
            s.fileNonZero = s.fileNonZero || sample != 0.0f;
        }
        ebur128_add_frames_float(s.fileMeter.get(), s.fileFrames.data(), count);
    }
}

void StereoAnalyser::addOutput(const float* left, const float* right, std::size_t frames) {
    State& s = *state_;
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t count = std::min(kChunk, frames - done);
        const float* channels[2] = {left + done, right + done};
        s.interleaved.resize(2 * count);
        s.monoSum.resize(count);
        double leftPower = 0.0, rightPower = 0.0, crossPower = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double l = channels[0][i];
            const double r = channels[1][i];
            s.monoSum[i] = static_cast<float>(0.5 * (l + r));
            s.timeline.add(l, r);
            s.interleaved[2 * i] = channels[0][i];
            s.interleaved[2 * i + 1] = channels[1][i];
            leftPower += l * l;
            rightPower += r * r;
            crossPower += l * r;
            s.peak = std::max({s.peak, std::fabs(channels[0][i]), std::fabs(channels[1][i])});
            s.goniometer.offer(
                {static_cast<float>((r - l) * kSqrtHalf), static_cast<float>((l + r) * kSqrtHalf)});
        }
        s.leftPower += leftPower;
        s.rightPower += rightPower;
        s.crossPower += crossPower;
        ebur128_add_frames_float(s.outputMeter.get(), s.interleaved.data(), count);
        ebur128_add_frames_float(s.monoSumMeter.get(), s.monoSum.data(), count);
        s.outputSpectra.add(channels, count);
    }
    s.outputNonZero = s.outputNonZero || s.leftPower > 0.0 || s.rightPower > 0.0;
    s.outputFrames += static_cast<std::int64_t>(frames);
}

StereoSummary StereoAnalyser::finish() {
    State& s = *state_;
    StereoSummary summary;
    summary.sampleRate = s.sampleRate;
    summary.frames = s.outputFrames;
    summary.durationSeconds = static_cast<double>(s.outputFrames) / s.sampleRate;
    summary.inputDurationSeconds = static_cast<double>(s.inputFrames) / s.inputRate;
    summary.outputSilent = !s.outputNonZero;
    summary.inputSilent = s.fileMeter ? !s.fileNonZero : !s.inputNonZero;

    double truePeak = s.peak;  // the oversampled peak is never reported below the sample peak
    for (unsigned channel = 0; channel < 2; ++channel) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(s.outputMeter.get(), channel, &channelPeak) == EBUR128_SUCCESS) {
            truePeak = std::max(truePeak, channelPeak);
        }
    }
    summary.peakDbfs = amplitudeDb(s.peak);
    summary.truePeakDbtp = amplitudeDb(truePeak);
    summary.outputLufs = integratedLoudness(s.outputMeter.get());
    summary.feedLufs =
        integratedLoudness(s.stereoInputMeter ? s.stereoInputMeter.get() : s.inputMeter.get());
    summary.inputLufs = s.fileMeter ? integratedLoudness(s.fileMeter.get()) : summary.feedLufs;

    summary.correlation = correlationOf(s.crossPower, s.leftPower, s.rightPower);
    // (L-R)/2 and (L+R)/2, from the same three sums: a mono output's side is then exactly 0.
    summary.sideToMidDb = ratioDb(s.leftPower + s.rightPower - 2.0 * s.crossPower,
                                  s.leftPower + s.rightPower + 2.0 * s.crossPower);

    s.outputSpectra.finish();
    s.inputSpectra.finish();
    const WelchSpectra& out = s.outputSpectra;
    const WelchSpectra& in = s.inputSpectra;
    const BandPower left(out.frameSize() / 2, static_cast<double>(s.sampleRate) / out.frameSize(),
                         out.bandFactor(), [&](int k) { return out.autoPower(0, k); });
    const BandPower right(out.frameSize() / 2, left.binHz(), out.bandFactor(),
                          [&](int k) { return out.autoPower(1, k); });
    const BandPower cross(out.frameSize() / 2, left.binHz(), out.bandFactor(),
                          [&](int k) { return out.crossPower(k); });
    const BandPower input(in.frameSize() / 2, static_cast<double>(s.inputRate) / in.frameSize(),
                          in.bandFactor(), [&](int k) { return in.autoPower(0, k); });
    const auto midPower = [&](double low, double high) {
        return 0.25 * (left(low, high) + right(low, high) + 2.0 * cross(low, high));
    };

    const double nyquist = 0.5 * s.sampleRate;
    const double inputNyquist = 0.5 * s.inputRate;
    summary.spectrumBinHz = left.binHz();
    const double halfBand = std::pow(2.0, 0.5 / StereoSummary::kSpectrumOctaveFraction);
    for (double hz = 16.0; hz <= std::min(nyquist, 24000.0); hz *= std::pow(2.0, 1.0 / 96.0)) {
        double low = hz / halfBand, high = hz * halfBand;
        const double leastWidth = StereoSummary::kSpectrumMinimumBins * left.binHz();
        if (high - low < leastWidth) {
            low = hz - 0.5 * leastWidth;
            high = hz + 0.5 * leastWidth;
        }
        summary.spectrumHz.push_back(hz);
        summary.monoSumSpectrumDb.push_back(powerDb(midPower(low, high)));
        summary.inputSpectrumDb.push_back(hz < inputNyquist ? powerDb(input(low, high))
                                                            : -kInfinity);
    }

    double strongest = 0.0;
    for (int index = -17;; ++index) {  // 20 Hz is 1 kHz * 10^(-17/10)
        BandStatistics band;
        band.centreHz = 1000.0 * std::pow(10.0, index / 10.0);
        if (band.centreHz >= nyquist || band.centreHz > 21000.0) break;
        band.lowHz = band.centreHz * std::pow(10.0, -0.05);
        band.highHz = std::min(band.centreHz * std::pow(10.0, 0.05), nyquist);
        // Bins from the low edge up to, not including, the high one, so bands do not overlap.
        const double high = band.highHz - 1e-9 * band.highHz;
        const double l = left(band.lowHz, high), r = right(band.lowHz, high);
        const double c = cross(band.lowHz, high);
        band.correlation = correlationOf(c, l, r);
        band.sideToMidDb = ratioDb(l + r - 2.0 * c, l + r + 2.0 * c);
        band.monoSumDb = powerDb(0.25 * (l + r + 2.0 * c));
        band.inputDb = powerDb(input(band.lowHz, high));
        strongest = std::max(strongest, 0.5 * (l + r));
        summary.bands.push_back(band);
    }
    // Each band's mean channel power, again, against the floors.
    for (auto& band : summary.bands) {
        const double high = band.highHz - 1e-9 * band.highHz;
        const double power = 0.5 * (left(band.lowHz, high) + right(band.lowHz, high));
        band.hasSignal = power >= 1e-10 && power >= strongest * 1e-8;
    }

    summary.monoSumLufs = integratedLoudness(s.monoSumMeter.get());
    if (std::isfinite(summary.outputLufs)) {
        summary.monoSumCancels = !(summary.monoSumLufs > StereoSummary::kAbsoluteGateLufs);
        summary.monoAgainstOutputLu =
            (summary.monoSumCancels ? StereoSummary::kAbsoluteGateLufs : summary.monoSumLufs) -
            summary.outputLufs;
    }
    summary.levelChangeLu = summary.outputLufs - summary.inputLufs;
    if (!std::isfinite(summary.levelChangeLu)) summary.levelChangeLu = kNaN;
    // The spectrum shows what was fed, so the mono sum is matched to that.
    if (std::isfinite(summary.feedLufs - summary.monoSumLufs)) {
        summary.levelMatchDb = summary.feedLufs - summary.monoSumLufs;
    }
    // The worst band: where folding the output to mono loses most, the mono sum's power against
    // the channels' mean power in the band. A comb shows there; the plug-in's own filters and
    // level, which the stereo output has as well, do not. Where several cancel completely, the
    // strongest of them is the one a listener misses most.
    double worstBandPower = 0.0;
    for (const auto& band : summary.bands) {
        if (!band.hasSignal) continue;
        const double high = band.highHz - 1e-9 * band.highHz;
        const double power = 0.5 * (left(band.lowHz, high) + right(band.lowHz, high));
        const double loss =
            std::max(band.monoSumDb - powerDb(power), StereoSummary::kDeepestBandLossDb);
        if (std::isnan(summary.worstBandDb) || loss < summary.worstBandDb ||
            (loss == summary.worstBandDb && power > worstBandPower)) {
            summary.worstBandDb = loss;
            summary.worstBandHz = band.centreHz;
            worstBandPower = power;
        }
    }
    summary.timeline = s.timeline.finish(summary.cancellingSeconds);

    summary.goniometer = s.goniometer.points();
    return summary;
}

struct TruePeakMeter::State {
    LoudnessMeter meter;
    std::vector<float> interleaved;
};

TruePeakMeter::TruePeakMeter(int sampleRate) : state_(std::make_unique<State>()) {
    if (sampleRate <= 0) throw std::invalid_argument("a sample rate must be positive");
    state_->meter.reset(
        ebur128_init(2, static_cast<unsigned long>(sampleRate), EBUR128_MODE_TRUE_PEAK));
    if (!state_->meter) {
        throw std::invalid_argument("the true-peak meter does not take a sample rate of " +
                                    std::to_string(sampleRate) + " Hz");
    }
}

TruePeakMeter::~TruePeakMeter() = default;

void TruePeakMeter::add(const float* left, const float* right, std::size_t frames) {
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t count = std::min(kChunk, frames - done);
        state_->interleaved.resize(2 * count);
        for (std::size_t i = 0; i < count; ++i) {
            state_->interleaved[2 * i] = left[done + i];
            state_->interleaved[2 * i + 1] = right[done + i];
        }
        ebur128_add_frames_float(state_->meter.get(), state_->interleaved.data(), count);
    }
}

double TruePeakMeter::dbtp() const {
    double peak = 0.0;
    for (unsigned channel = 0; channel < 2; ++channel) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(state_->meter.get(), channel, &channelPeak) == EBUR128_SUCCESS) {
            peak = std::max(peak, channelPeak);
        }
    }
    return amplitudeDb(peak);
}

namespace {

void appendNumber(std::string& out, double value, int decimals) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, result.ptr);
}

void appendString(std::string& out, const std::string& raw) {
    out += '"';
    for (const char c : validUtf8(raw)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

std::string summaryJson(const StereoSummary& summary, double realTimeFactor,
                        const std::string& inputPath, const std::string& outputPath) {
    std::string json = "{";
    const auto key = [&](const char* name) {
        if (json.size() > 1) json += ',';
        json += '"';
        json += name;
        json += "\":";
    };
    key("input");
    appendString(json, inputPath);
    key("output");
    appendString(json, outputPath);
    key("frames");
    json += std::to_string(summary.frames);
    key("duration_seconds");
    appendNumber(json, summary.durationSeconds, 6);
    key("sample_rate");
    json += std::to_string(summary.sampleRate);
    key("real_time_factor");
    appendNumber(json, realTimeFactor, 6);
    key("peak_dbfs");
    appendNumber(json, summary.peakDbfs, 2);
    key("true_peak_dbtp");
    appendNumber(json, summary.truePeakDbtp, 2);
    key("output_lufs");
    appendNumber(json, summary.outputLufs, 2);
    key("input_lufs");
    appendNumber(json, summary.inputLufs, 2);
    key("feed_lufs");
    appendNumber(json, summary.feedLufs, 2);
    key("true_peak_over_0_dbtp");
    json += summary.truePeakDbtp > 0.0 ? "true" : "false";
    key("nonfinite_input_samples");
    json += std::to_string(summary.nonFiniteInputSamples);
    key("correlation");
    appendNumber(json, summary.correlation, 4);
    key("side_to_mid_db");
    appendNumber(json, summary.sideToMidDb, 2);
    key("mono_sum_lufs");
    appendNumber(json, summary.monoSumLufs, 2);
    key("mono_against_output_lu");
    appendNumber(json, summary.monoAgainstOutputLu, 2);
    key("mono_sum_cancels");
    json += summary.monoSumCancels ? "true" : "false";
    key("level_change_lu");
    appendNumber(json, summary.levelChangeLu, 2);
    key("worst_band_hz");
    appendNumber(json, summary.worstBandHz, 0);
    key("worst_band_db");
    appendNumber(json, summary.worstBandDb, 2);
    key("cancelling_seconds");
    appendNumber(json, summary.cancellingSeconds, 1);
    key("output_silent");
    json += summary.outputSilent ? "true" : "false";
    key("input_silent");
    json += summary.inputSilent ? "true" : "false";
    key("input_mix_cancelled");
    json += summary.inputMixCancelled ? "true" : "false";
    key("input_cut_short");
    json += summary.inputCutShort ? "true" : "false";
    json += '}';
    return json;
}

}  // namespace render
