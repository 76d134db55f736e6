#include "dsp/band_set.h"

void BandSet::computeConstants(const SampleRate& rate) {
    shared = BandSharedConstants::at(rate);
    for (std::size_t i = 0; i < bandCount; ++i)
        constants[i] = BandConstants::at(rate, bandTable[i]);
}

void BandSet::clear() {
    for (SeparatedBand& band : separated) band.reset();
    for (MonoBand& band : mono) band.reset();
}
