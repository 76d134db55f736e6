#include "dsp/band_constants.h"

BandSharedConstants BandSharedConstants::at(const SampleRate& rate) {
    const Pole<> activityPoleSlow = Pole<>::at(rate, 2.0f);
    const Pole<> smoothPoleFast = Pole<>::at(rate, 66.666664f);
    const Pole<> activityPoleAverage = Pole<>::at(rate, 0.1f);
    const Pole<> activityPoleWidth = Pole<>::at(rate, 16.666666f);
    const Pole<> smoothPoleWidth = Pole<>::at(rate, 1000.0f);

    BandSharedConstants c;
    c.periodT = rate.T;
    c.peakLevel = {0.25f, activityPoleSlow, smoothPoleFast};
    c.averageLevel = {5.0f, activityPoleAverage, activityPoleSlow};
    c.envelope = {0.03f, activityPoleWidth, smoothPoleWidth};
    c.gatePole = Pole<>::at(rate, 33.333332f);
    c.levelHoldPole = Pole<>::at(rate, 2.5f);
    c.lowpass10Hz = FirstOrderLowpassConstants::at(rate, 10.0f);
    c.lowpass30Hz = ButterworthCoefficients<>::at(rate.prewarp(30.0f));
    return c;
}

BandConstants BandConstants::at(const SampleRate& rate, const BandRow& row) {
    BandConstants c;
    c.lowEdge = ButterworthCoefficients<>::at(rate.prewarp(row.lowEdge));
    c.highEdge = ButterworthCoefficients<>::at(rate.prewarp(row.highEdge));
    c.gateRelease = Pole<>::at(rate, row.gateRelease);
    c.bandGain = row.bandGain;
    c.polarityGain = row.polarity * row.bandGain;
    return c;
}
