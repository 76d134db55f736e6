// One voice of the instrument mode: a collector that owns its own processor, so that its table
// drives that processor only.
#pragma once

#include <memory>

#include "controls/vstUI.h"
#include "dsp/dsp.h"

class Voice : public vstUI {
  public:
    // Takes a processor that is constructed only, initialises it at `sampleRate` and collects its
    // controls.
    Voice(std::unique_ptr<dsp> processor, int sampleRate);
    ~Voice() override;

    std::unique_ptr<dsp> processor;
};
