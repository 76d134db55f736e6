// What a render did to the stereo image, gathered block by block so that memory stays the same
// whatever the length of the file: levels and loudness of the output and of the mono input, how
// alike the two output channels are (overall and per third-octave band), the long-term spectra
// of the mono sum and of the input, and a bounded sample of points for a goniometer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace render {

// One third-octave band of the output, from the Welch-averaged spectra. Levels are in dB
// against a full-scale sine; a band with no energy has NaN correlation and -inf levels.
struct BandStatistics {
    double centreHz = 0.0;  // the exact base-ten centre, 1000 * 10^(k/10)
    double lowHz = 0.0;
    double highHz = 0.0;  // clipped at half the sample rate
    // Re(S_lr) / sqrt(S_ll * S_rr), each cross- and auto-spectrum summed over the band.
    double correlation = std::numeric_limits<double>::quiet_NaN();
    // Power of (L-R)/2 against power of (L+R)/2: -inf when the band is mono, +inf when the
    // channels cancel in it.
    double sideToMidDb = std::numeric_limits<double>::quiet_NaN();
    double monoSumDb = -std::numeric_limits<double>::infinity();  // power of (L+R)/2
    double inputDb = -std::numeric_limits<double>::infinity();
    // Whether the output holds signal in the band: its channels' mean power reaches -100 dBFS
    // and lies within 80 dB of the strongest band. Correlation and side level of a band without
    // signal describe rounding noise, not the programme.
    bool hasSignal = false;
};

// About 400 ms of the output (longer windows when a long file would need more than
// StereoAnalyser::kTimeWindows of them: then each holds several 400 ms windows, and keeps the
// worst of them besides their sum).
struct TimeWindow {
    double startSeconds = 0.0;
    double seconds = 0.0;
    double correlation = std::numeric_limits<double>::quiet_NaN();  // over the whole window
    double sideToMidDb = std::numeric_limits<double>::quiet_NaN();
    // Of the 400 ms windows with signal inside it: the lowest correlation and the highest side
    // level (-inf when all are mono), so that a short stretch of opposite polarity is not
    // averaged away. NaN without signal.
    double worstCorrelation = std::numeric_limits<double>::quiet_NaN();
    double largestSideToMidDb = std::numeric_limits<double>::quiet_NaN();
    bool hasSignal = false;  // a channel's mean power reaches -90 dBFS in some 400 ms of it
};

// One output frame seen on a goniometer: mid up, side across, so that a mono signal is a
// vertical line, the left channel alone leans left and opposite polarity lies flat.
struct GoniometerPoint {
    float side = 0.0f;  // (R - L) / sqrt(2)
    float mid = 0.0f;   // (L + R) / sqrt(2)
};

struct StereoSummary {
    std::int64_t frames = 0;  // of the output
    double durationSeconds = 0.0;
    double inputDurationSeconds = 0.0;
    int sampleRate = 0;
    // Levels in dB are -inf for silence; ratios of two silences are NaN.
    double peakDbfs = -std::numeric_limits<double>::infinity();      // largest output sample
    double truePeakDbtp = -std::numeric_limits<double>::infinity();  // oversampled, BS.1770
    // Integrated loudness; -inf when nothing rises above the absolute gate. A mono input is
    // measured as dual mono, so that a mono signal copied to both outputs measures the same.
    double outputLufs = -std::numeric_limits<double>::infinity();
    // The input file as it is, with its own channels (a mono file as dual mono), when its
    // channels were given (addFileInput); else the same as feedLufs.
    double inputLufs = -std::numeric_limits<double>::infinity();
    // The signal fed to the plug-in: a stereo file's mono mix or chosen channel, say.
    double feedLufs = -std::numeric_limits<double>::infinity();
    // Input samples that were NaN or infinite, counted by the render and set by its caller.
    std::int64_t nonFiniteInputSamples = 0;
    double correlation = std::numeric_limits<double>::quiet_NaN();  // of L and R, -1 to 1
    // Power of (L-R)/2 against power of (L+R)/2: -inf for a mono output, +inf when the
    // channels cancel.
    double sideToMidDb = std::numeric_limits<double>::quiet_NaN();
    bool outputSilent = true;  // every output sample was exactly zero
    // Every sample of the input file was exactly zero (or, without the file's own channels, of
    // the signal fed); a mix that cancels is told by inputMixCancelled instead.
    bool inputSilent = true;
    // Set by the caller: the mono mix of the file's channels fed to the plug-in lies far below
    // the channels themselves (an anti-phase stereo file), and whether the input ended short of
    // what its header promised.
    bool inputMixCancelled = false;
    bool inputCutShort = false;

    // The mono sum (L+R)/2, measured as dual mono like a mono input, so that a mono output
    // measures the same as its input; -inf when it cancels or is silent.
    double monoSumLufs = -std::numeric_limits<double>::infinity();
    // Mono compatibility in one figure: what a listener to the mono sum loses against one who
    // hears the stereo output (LU): about 0 for a mono-compatible output, whatever the plug-in
    // does to the level. When the mono sum falls below the absolute gate (-70 LUFS) while the
    // output does not, it counts as -70 LUFS, so the figure is a bound and monoSumCancels says
    // so. The band where folding to mono loses most: the mono sum's power there against the
    // mean power of the two channels (0 dB for a mono band, -3 dB for independent channels,
    // kDeepestBandLossDb where they cancel completely).
    static constexpr double kAbsoluteGateLufs = -70.0;
    static constexpr double kDeepestBandLossDb = -100.0;
    double monoAgainstOutputLu = std::numeric_limits<double>::quiet_NaN();
    bool monoSumCancels = false;
    double worstBandHz = std::numeric_limits<double>::quiet_NaN();
    double worstBandDb = std::numeric_limits<double>::quiet_NaN();
    // What the render did to the level: the output's loudness against the input file's (LU).
    double levelChangeLu = std::numeric_limits<double>::quiet_NaN();
    // The gain that matches the mono sum to the loudness of the signal fed (feed minus mono sum,
    // dB).
    double levelMatchDb = std::numeric_limits<double>::quiet_NaN();
    // How long the mono sum cancels: 400 ms windows with signal whose side lies 10 dB or more
    // above their mid.
    double cancellingSeconds = 0.0;

    std::vector<BandStatistics> bands;  // from 20 Hz up to the last centre below Nyquist
    // Long-term spectra in dBFS, where a full-scale sine reads 0 whatever its frequency: the
    // Welch-averaged power in a band of 1/kSpectrumOctaveFraction octave around each frequency,
    // widened to kSpectrumMinimumBins bins where that is narrower. Frequencies step by 1/96
    // octave from 16 Hz to Nyquist (at most 24 kHz). Noise reads the power in that band, so
    // white noise rises 3 dB an octave.
    static constexpr int kSpectrumOctaveFraction = 24;
    static constexpr int kSpectrumMinimumBins = 5;
    double spectrumBinHz = 0.0;  // the Welch frames' bin spacing, at the output's rate
    std::vector<double> spectrumHz;
    std::vector<double> monoSumSpectrumDb;  // of (L+R)/2
    std::vector<double> inputSpectrumDb;    // of a stereo input, (L+R)/2
    std::vector<TimeWindow> timeline;
    // A uniform random sample of the output's frames, at most kGoniometerPoints of them.
    std::vector<GoniometerPoint> goniometer;
};

class StereoAnalyser {
  public:
    static constexpr std::size_t kGoniometerPoints = 65536;
    static constexpr std::size_t kTimeWindows = 1024;
    static constexpr double kWindowSeconds = 0.4;

    // The output at `sampleRate`, the input fed to the plug-in at `inputRate` and the file's own
    // channels at `fileRate` (0: the rate before), which differ when rates are converted.
    // Throws std::invalid_argument for a rate that the loudness meter does not take.
    explicit StereoAnalyser(int sampleRate, int inputRate = 0, int fileRate = 0);
    ~StereoAnalyser();
    StereoAnalyser(const StereoAnalyser&) = delete;
    StereoAnalyser& operator=(const StereoAnalyser&) = delete;

    // The mono signal fed to the plug-in.
    void addInput(const float* mono, std::size_t frames);
    // Or a stereo input fed as it is: its loudness is measured as stereo and its spectrum is
    // that of (L+R)/2. A file's input comes in one form only: mixing them throws
    // std::logic_error.
    void addInput(const float* left, const float* right, std::size_t frames);
    // The input file's own frames, interleaved, before they are mixed or a channel chosen;
    // NaN and infinite samples count as silence.
    void addFileInput(const float* interleaved, std::size_t frames, int channels);
    // The output as written, latency-aligned.
    void addOutput(const float* left, const float* right, std::size_t frames);
    // Call once, after the last block.
    StereoSummary finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The true peak of a stereo output, 4x oversampled per BS.1770, for when nothing else is
// measured. Throws std::invalid_argument for a rate the meter does not take.
class TruePeakMeter {
  public:
    explicit TruePeakMeter(int sampleRate);
    ~TruePeakMeter();
    TruePeakMeter(const TruePeakMeter&) = delete;
    TruePeakMeter& operator=(const TruePeakMeter&) = delete;
    void add(const float* left, const float* right, std::size_t frames);
    double dbtp() const;  // -inf for silence

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// One JSON object on one line, without a line end. Non-finite numbers (silence, a mono
// output's side level) are written as null, and the paths are escaped, with bytes that are
// not UTF-8 replaced by U+FFFD.
std::string summaryJson(const StereoSummary& summary, double realTimeFactor,
                        const std::string& inputPath, const std::string& outputPath);

}  // namespace render
