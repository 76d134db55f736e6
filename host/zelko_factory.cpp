// Creation of the plug-in object: the processor declares its controls into a fresh collector
// before anything initialises it, then the plug-in is built around both.
#include <memory>
#include <utility>

#include "controls/vstUI.h"
#include "dsp/mydsp.h"
#include "host/Zelko.h"

Zelko* createZelko(audioMasterCallback audioMaster, dsp* processor) {
    std::unique_ptr<dsp> owned(processor);
    if (!owned) return nullptr;
    auto collector = std::make_unique<vstUI>();
    owned->declareControls(collector.get());
    return new Zelko(audioMaster, std::move(owned), std::move(collector));
}

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return createZelko(audioMaster, new mydsp);
}
