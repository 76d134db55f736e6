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
    double inputLufs = -std::numeric_limits<double>::infinity();
    double correlation = std::numeric_limits<double>::quiet_NaN();  // of L and R, -1 to 1
    // Power of (L-R)/2 against power of (L+R)/2: -inf for a mono output, +inf when the
    // channels cancel.
    double sideToMidDb = std::numeric_limits<double>::quiet_NaN();
    bool outputSilent = true;  // every output sample was exactly zero
    bool inputSilent = true;

    std::vector<BandStatistics> bands;  // from 20 Hz up to the last centre below Nyquist
    // Welch-averaged power per bin, in dB against a full-scale sine at the bin's frequency,
    // from the first bin above DC to Nyquist.
    std::vector<double> spectrumHz;
    std::vector<double> monoSumSpectrumDb;  // of (L+R)/2
    std::vector<double> inputSpectrumDb;    // of a stereo input, (L+R)/2
    // A uniform random sample of the output's frames, at most kGoniometerPoints of them.
    std::vector<GoniometerPoint> goniometer;
};

class StereoAnalyser {
  public:
    static constexpr std::size_t kGoniometerPoints = 65536;

    // The output at `sampleRate`, the input at `inputRate` (0: the same), which differ when the
    // plug-in runs at another rate than the output's. Throws std::invalid_argument for a rate
    // that the loudness meter does not take.
    explicit StereoAnalyser(int sampleRate, int inputRate = 0);
    ~StereoAnalyser();
    StereoAnalyser(const StereoAnalyser&) = delete;
    StereoAnalyser& operator=(const StereoAnalyser&) = delete;

    // The mono signal fed to the plug-in.
    void addInput(const float* mono, std::size_t frames);
    // Or a stereo input fed as it is: its loudness is measured as stereo and its spectrum is
    // that of (L+R)/2. A file's input comes in one form only: mixing them throws
    // std::logic_error.
    void addInput(const float* left, const float* right, std::size_t frames);
    // The output as written, latency-aligned.
    void addOutput(const float* left, const float* right, std::size_t frames);
    // Call once, after the last block.
    StereoSummary finish();

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
