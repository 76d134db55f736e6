// temporary placeholder: a pass-through effect that stands in for the plug-in class until it
// lands, so that the module builds and the host-interface tests can load it.
#include "host/AudioEffectX.h"

namespace {

class PlaceholderEffect : public AudioEffectX {
  public:
    explicit PlaceholderEffect(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, 0) {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing(true);
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        for (VstInt32 i = 0; i < sampleFrames; ++i) {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[0][i];
        }
    }
};

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new PlaceholderEffect(audioMaster);
}
