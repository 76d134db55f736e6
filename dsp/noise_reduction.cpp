#include "dsp/noise_reduction.h"

NoiseReductionConstants NoiseReductionConstants::at(const SampleRate& rate) {
    NoiseReductionConstants c;
    const float k = rate.prewarp(detectorHighpassHz);
    c.highpassK = k;
    c.highpassOneMinusK = 1.0f - k;
    c.highpassInvOnePlusK = 1.0f / (1.0f + k);
    c.highpassGain = -k / (1.0f + k);

    c.detectorSlow = ButterworthCoefficients<>::at(rate.prewarp(detectorSlowHz));
    c.detectorFast = ButterworthCoefficients<>::at(rate.prewarp(detectorFastHz));
    c.dnr2Scale = 50000.0f / c.detectorFast.a0;
    c.dnrScale = 65000.0f / c.detectorFast.a0;

    c.preciseDetector = rate.fs > highestSinglePrecisionDetectorRate;
    if (c.preciseDetector) {
        const double piOverFs = 3.141592653589793 / static_cast<double>(rate.fs);
        const auto prewarp = [&](float hz) {
            return 1.0 / crmath::tanDouble(piOverFs * static_cast<double>(rate.tunable(hz)));
        };
        c.preciseDetectorSlow = ButterworthCoefficients<double>::at(prewarp(detectorSlowHz));
        c.preciseDetectorFast = ButterworthCoefficients<double>::at(prewarp(detectorFastHz));
        c.preciseDnr2Scale = 50000.0 / c.preciseDetectorFast.a0;
        c.preciseDnrScale = 65000.0 / c.preciseDetectorFast.a0;
    }
    return c;
}
