// Drivers that run the front stages of the chain as value types, each with its own ring counter,
// the way the processor's sample loop runs them.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "dsp/comb_decorrelator.h"
#include "dsp/control_block.h"
#include "dsp/input_stage.h"
#include "dsp/noise_reduction.h"
#include "dsp/sample_rate.h"

namespace fronttest {

inline constexpr double pi = 3.14159265358979323846;

// The five controls, the switch first as the tests here list them.
inline ControlValues controlValues(float dnrLpfDisable, float lowpassCutoff, float autoEqThreshold,
                                   float noisegateGain, float outputAgcThreshold) {
    ControlValues values;
    values[Control::dnrLpfDisable] = dnrLpfDisable;
    values[Control::lowpassCutoff] = lowpassCutoff;
    values[Control::autoEqThreshold] = autoEqThreshold;
    values[Control::noisegateGain] = noisegateGain;
    values[Control::outputAgcThreshold] = outputAgcThreshold;
    return values;
}

inline ControlValues defaultControls() {
    return ControlValues::initial();
}

// The input stage alone.
struct InputDriver {
    SampleRate rate;
    InputStageConstants constants;
    ControlBlock block;
    InputStage stage;
    std::uint32_t ringIndex = 0;
    float divisor = 0.0f;

    explicit InputDriver(int sampleRate, ControlValues controls = defaultControls())
        : rate(SampleRate::fromHz(sampleRate)),
          constants(InputStageConstants::at(rate)),
          block(ControlBlock::compute(controls, rate)) {}

    // Returns u[n]; the filtered e[n] is filtered() until the next step.
    float step(float in) {
        divisor = stage.step(in, ringIndex, constants, block.inputLowpass);
        const float u = stage.normalisedRing.read(ringIndex, 0);
        ++ringIndex;
        return u;
    }
    float filtered() const { return stage.lookAheadRing.read(ringIndex - 1, 0); }
};

// One sample of noise reduction as the tests look at it.
struct NoiseReductionSample {
    float dnrOutput;
    float k2;
    float k2PlusOne;
    float dnr2Cutoff;
    float dnrCutoff;
};

// Runs the noise reduction on one sample, as the processor runs it on a run of samples.
template <class Normalise>
NoiseReductionSample reduceOneSample(NoiseReduction& stage, Normalise&& normalise,
                                     const DelayRing<128>& normalisedRing, std::uint32_t ringIndex,
                                     float disableCutoff, const NoiseReductionConstants& c,
                                     const SampleRate& rate) {
    NoiseReductionRun run;
    if (c.preciseDetector) {
        stage.run<true>(1, normalise, normalisedRing, ringIndex, disableCutoff, c, rate,
                        BandPath::sse2, run);
    } else {
        stage.run<false>(1, normalise, normalisedRing, ringIndex, disableCutoff, c, rate,
                         BandPath::sse2, run);
    }
    return {run.dnrOutput[0], run.k2[0], run.k2PlusOne[0], run.last.dnr2, run.last.dnr};
}

// Noise reduction fed straight with normalised samples, in single or double precision as the
// rate asks for.
struct NoiseReductionDriver {
    SampleRate rate;
    NoiseReductionConstants constants;
    float disableCutoff = 0.0f;
    DelayRing<128> normalisedRing;
    NoiseReduction stage;
    std::uint32_t ringIndex = 0;

    explicit NoiseReductionDriver(int sampleRate, float disable = 0.0f)
        : rate(SampleRate::fromHz(sampleRate)),
          constants(NoiseReductionConstants::at(rate)),
          disableCutoff(disable) {}

    NoiseReductionSample step(float u, float divisor = 1.0f) {
        const auto normalise = [&](int, std::uint32_t n) {
            normalisedRing.write(n, u);
            return divisor;
        };
        const NoiseReductionSample out = reduceOneSample(stage, normalise, normalisedRing,
                                                         ringIndex, disableCutoff, constants, rate);
        ++ringIndex;
        return out;
    }
};

// Input stage, noise reduction and decorrelator in the processor's order: x and d of a sample.
struct FrontChain {
    InputDriver input;
    NoiseReductionConstants reductionConstants;
    NoiseReduction reduction;
    CombDecorrelator<> decorrelator;
    NoiseReductionSample last{};

    explicit FrontChain(int sampleRate, ControlValues controls = defaultControls())
        : input(sampleRate, controls),
          reductionConstants(NoiseReductionConstants::at(input.rate)) {}

    struct Pair {
        float x;
        float d;
    };

    Pair step(float in) {
        const std::uint32_t n = input.ringIndex;
        const auto normalise = [&](int, std::uint32_t) {
            return input.stage.step(in, n, input.constants, input.block.inputLowpass);
        };
        last = reduceOneSample(reduction, normalise, input.stage.normalisedRing, n,
                               input.block.disableCutoff, reductionConstants, input.rate);
        const float d = decorrelator.step(last.dnrOutput, n);
        ++input.ringIndex;
        return {last.dnrOutput, d};
    }
};

// Magnitude of the product of elliptic sections at f Hz, evaluated in double from the float
// coefficients.
inline double chainMagnitude(const EllipticCoefficients* sections, int count, double f, double fs) {
    using complex = std::complex<double>;
    const complex z1 = std::exp(complex(0.0, -2.0 * pi * f / fs));
    const complex z2 = z1 * z1;
    complex h = 1.0;
    for (int s = 0; s < count; ++s) {
        const EllipticCoefficients& c = sections[s];
        const complex numerator = (double(c.b0) * (1.0 + z2) + double(c.b1) * z1) * double(c.invA0);
        const complex denominator = 1.0 + (double(c.a1) * z1 + double(c.a2) * z2) * double(c.invA0);
        h *= numerator / denominator;
    }
    return std::abs(h);
}

inline std::vector<float> sine(double amplitude, double hz, int sampleRate, int samples) {
    std::vector<float> out(static_cast<std::size_t>(samples));
    for (int n = 0; n < samples; ++n) {
        out[static_cast<std::size_t>(n)] =
            static_cast<float>(amplitude * std::sin(2.0 * pi * hz * n / sampleRate));
    }
    return out;
}

}  // namespace fronttest
