#include "controls/Voice.h"

#include <utility>

Voice::Voice(std::unique_ptr<dsp> voiceProcessor, int sampleRate)
    : processor(std::move(voiceProcessor)) {
    processor->initializeInstance(sampleRate);
    processor->declareControls(this);
}

// The control objects only point at the processor's fields and never read them while they are
// destroyed, so the processor may go before the collector part.
Voice::~Voice() = default;
