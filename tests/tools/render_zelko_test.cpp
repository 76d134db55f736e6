// Our own plug-in through the renderer: its latency is compensated to the sample, and its five
// parameters are reached by name, by index and in its own units.

#include <cmath>

#include "tests/tools/render_support.h"

namespace rendertest {
namespace {

// The delay from the plug-in's input to its outputs, which it reports as its initial delay.
constexpr long kZelkoLatency = 2658;

// The amplitude of the component of `samples` at `frequency`, by correlation over whole
// periods (a single-bin Fourier transform).
double amplitudeAt(const std::vector<float>& samples, long begin, long end, double frequency) {
    double re = 0.0;
    double im = 0.0;
    for (long i = begin; i < end; ++i) {
        const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / kRate;
        re += samples[static_cast<std::size_t>(i)] * std::cos(phase);
        im += samples[static_cast<std::size_t>(i)] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(end - begin);
}

class RendererZelkoTest : public RendererTest {};

TEST_F(RendererZelkoTest, ImpulseLinesUpWithCompensationAndIsLateByTheLatencyWithout) {
    std::vector<float> impulse(12000, 0.0f);
    impulse[1000] = 0.5f;
    writeSound(path("impulse.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, impulse);

    const auto listing = run({"--list-params"});
    ASSERT_NE(listing.out.find("latency: 2658 samples"), std::string::npos) << listing.out;

    ASSERT_EQ(run({"impulse.wav", "-o", "aligned.wav", "-q"}).status, 0);
    ASSERT_EQ(run({"impulse.wav", "-o", "raw.wav", "--no-latency-compensation", "-q"}).status, 0);
    const Sound aligned = readSound(path("aligned.wav"));
    const Sound raw = readSound(path("raw.wav"));
    ASSERT_EQ(aligned.frames(), 12000);
    ASSERT_EQ(raw.frames(), 12000);
    // Silence before the impulse must come out as exact silence, so the first sample that is
    // not zero marks where the impulse arrives, in both channels.
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel);
        EXPECT_EQ(firstAbove(aligned.channel(channel), 0.0f), 1000);
        EXPECT_EQ(firstAbove(raw.channel(channel), 0.0f), 1000 + kZelkoLatency);
    }
    // The raw stream is the aligned one, later by the latency.
    for (long i = kZelkoLatency; i < 12000; ++i) {
        ASSERT_EQ(raw.at(i, 0), aligned.at(i - kZelkoLatency, 0)) << i;
    }
}

TEST_F(RendererZelkoTest, ParametersSetByNameAndIndexShowInTheListing) {
    const auto result =
        run({"--list-params", "--param", "Lowpass Filter=15000", "--param", "1=-45", "--param",
             "Noisegate Gain dB=0.5n", "--param", "3=-6", "--param", "DNR LPF Disable=on"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(listingRow(result.out, 0)[2], "15000") << result.out;
    EXPECT_EQ(listingRow(result.out, 1)[2], "-45") << result.out;
    EXPECT_EQ(listingRow(result.out, 2)[2], "35") << result.out;
    EXPECT_EQ(listingRow(result.out, 3)[2], "-6") << result.out;
    EXPECT_EQ(listingRow(result.out, 4)[2], "ON") << result.out;
    // Values in units land on the value itself, not somewhere inside the display's step: the
    // slider maps linearly, so the normalised value says where it landed.
    EXPECT_EQ(listingRow(result.out, 0)[5], "0.6667") << result.out;
    EXPECT_EQ(listingRow(result.out, 3)[5], "0.4000") << result.out;
}

TEST_F(RendererZelkoTest, FractionsUnitSuffixesAndSwitchNumbersLandOnTheValueAsked) {
    // The sliders' displays truncate toward zero, so -5.6 shows "-5"; the announced linear
    // range places it exactly, and the listing shows it with its fraction.
    const auto result = run({"--list-params", "--param", "Output AGC Threshold=-5.6", "--param",
                             "Auto-EQ Threshold=-40.6dB", "--param", "Noisegate Gain dB=30.6",
                             "--param", "Lowpass Filter=8 kHz", "--param", "DNR LPF Disable=1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(listingRow(result.out, 3)[2], "-5.6") << result.out;
    EXPECT_EQ(listingRow(result.out, 3)[5], "0.4267") << result.out;  // (12 - 5.6) / 15
    EXPECT_EQ(listingRow(result.out, 1)[2], "-40.6") << result.out;
    EXPECT_EQ(listingRow(result.out, 2)[2], "30.6") << result.out;
    EXPECT_EQ(listingRow(result.out, 0)[2], "8000") << result.out;
    EXPECT_EQ(listingRow(result.out, 4)[2], "ON") << result.out;
    const auto spaced = run({"--list-params", "--param", "Lowpass Filter=8000 Hz", "--param",
                             "Output AGC Threshold=-1.5 DB", "--param", "DNR LPF Disable=0"});
    ASSERT_EQ(spaced.status, 0) << spaced.err;
    EXPECT_EQ(listingRow(spaced.out, 0)[2], "8000") << spaced.out;
    EXPECT_EQ(listingRow(spaced.out, 3)[2], "-1.5") << spaced.out;
    EXPECT_EQ(listingRow(spaced.out, 4)[2], "OFF") << spaced.out;
}

TEST_F(RendererZelkoTest, UnitsAreTheDeclaredOnesListedAndAWrongOneIsRefused) {
    const auto listing = run({"--list-params"});
    ASSERT_EQ(listing.status, 0) << listing.err;
    EXPECT_EQ(listingRow(listing.out, 0)[3], "Hz") << listing.out;
    EXPECT_EQ(listingRow(listing.out, 3)[3], "dB") << listing.out;
    EXPECT_EQ(listingRow(listing.out, 4)[3], "-") << listing.out;  // a switch has none
    // A wrong unit is refused in a sentence naming the right one, before any range check, and
    // a scaled unit counts only where it scales the declared one (kHz for Hz, never for dB).
    for (const auto& [setting, sentence] :
         {std::pair<std::string, std::string>{"Output AGC Threshold=-6 Hz",
                                              "\"Output AGC Threshold\" is in dB, not Hz"},
          {"Auto-EQ Threshold=-0.05 kHz", "\"Auto-EQ Threshold\" is in dB, not kHz"},
          {"Lowpass Filter=15 dB", "\"Lowpass Filter\" is in Hz, not dB: write \"15 Hz\""},
          {"DNR LPF Disable=1 dB", "takes a plain number, without a unit such as \"dB\""}}) {
        const auto result = run({"--list-params", "--param", setting});
        EXPECT_EQ(result.status, 6) << setting;
        EXPECT_NE(result.err.find(sentence), std::string::npos) << result.err;
    }
}

TEST_F(RendererZelkoTest, AnInputFarAboveFullScaleIsNamedAsTheReasonTheOutputDucks) {
    auto input = std::vector<float>(kRate, 0.0f);
    for (long i = 0; i < kRate; ++i)
        input[static_cast<std::size_t>(i)] = 0.1f * std::sin(0.05f * i);
    input[1000] = 1e5f;
    writeSound(path("spike.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input);
    const auto result = run({"spike.wav", "-o", "out.wav"});
    ASSERT_EQ(result.status, 0) << result.err;
    // Warnings go to standard error, also beside the summary line, which keeps standard output.
    EXPECT_NE(result.err.find("zelko-render: warning: The input peaks at +100.0 dBFS"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.out.find("spike.wav -> out.wav"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("warning"), std::string::npos) << result.out;
    // Ordinary input draws no warning.
    input[1000] = 0.0f;
    writeSound(path("calm.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input);
    EXPECT_EQ(run({"calm.wav", "-o", "calm-out.wav"}).err.find("warning"), std::string::npos);
}

TEST_F(RendererZelkoTest, SurprisingResultsAreExplained) {
    // --stereo feeds our plug-in's second input, which it never reads.
    std::vector<float> duo;
    for (float x : testSignal(4800, 440.0, kRate)) duo.insert(duo.end(), {x, 0.5f * x});
    writeSound(path("duo.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, duo);
    const auto stereo = run({"duo.wav", "-o", "s.wav", "--stereo"});
    ASSERT_EQ(stereo.status, 0) << stereo.err;
    EXPECT_NE(stereo.err.find("warning: This plug-in reads only its first input"),
              std::string::npos)
        << stereo.err;
    // Raw output of a file shorter than the latency ends before the plug-in answers.
    writeSound(path("short.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1,
               testSignal(1000, 440.0, kRate));
    const auto raw = run({"short.wav", "-o", "r.wav", "--no-latency-compensation"});
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_NE(raw.err.find("the input, 1000 frames long, is shorter than the plug-in's latency of "
                           "2658 samples"),
              std::string::npos)
        << raw.err;
    EXPECT_EQ(raw.err.find("gave nothing back"), std::string::npos) << raw.err;
}

TEST_F(RendererZelkoTest, LowpassFilterSetByNameReachesTheSound) {
    // A low and a high tone together; the lowpass at 1000 Hz must take the high one away while
    // the low one stays. Levels are compared as a ratio of the two tones in the same output,
    // so the plug-in's level controls (equaliser, gate, AGC) cancel out.
    const long frames = 2 * kRate;
    std::vector<float> input(static_cast<std::size_t>(frames));
    for (long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        input[static_cast<std::size_t>(i)] = static_cast<float>(
            0.25 * std::sin(2.0 * M_PI * 300.0 * t) + 0.25 * std::sin(2.0 * M_PI * 6000.0 * t));
    }
    writeSound(path("tones.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 1, input);
    ASSERT_EQ(run({"tones.wav", "-o", "open.wav", "-q"}).status, 0);
    ASSERT_EQ(run({"tones.wav", "-o", "closed.wav", "-q", "--param", "Lowpass Filter=1000"}).status,
              0);
    const auto open = readSound(path("open.wav")).channel(0);
    const auto closed = readSound(path("closed.wav")).channel(0);
    // The second half, after every detector has settled; 48000 frames are whole periods of
    // both tones.
    const auto ratio = [](const std::vector<float>& x) {
        return amplitudeAt(x, kRate, 2 * kRate, 6000.0) / amplitudeAt(x, kRate, 2 * kRate, 300.0);
    };
    // Open, both tones come through within a few decibels of each other; closed, the high
    // tone lies in the elliptic stopband, far more than 40 dB down.
    EXPECT_GT(ratio(open), 0.3);
    EXPECT_LT(ratio(closed), 0.01);
}

}  // namespace
}  // namespace rendertest
