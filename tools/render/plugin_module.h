// Hosting a VST 2.4 plug-in: the module loaded from disk, and one instance of its effect driven
// through the effect record exactly as a host drives it.
#pragma once

#include <string>
#include <vector>

#include "host/vst2.h"

namespace render {

using PluginEntry = AEffect* (*)(audioMasterCallback);

// A loaded plug-in module. It stays loaded for as long as the object lives, so that instances
// created from it may outlive nothing they depend on.
class PluginModule {
  public:
    // Loads the module and finds its VSTPluginMain; fails with ExitStatus::kPlugin.
    explicit PluginModule(const std::string& path);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    const std::string& path() const { return path_; }
    PluginEntry entry() const { return entry_; }

  private:
    std::string path_;
    void* handle_ = nullptr;
    PluginEntry entry_ = nullptr;
};

// One effect created from a module, opened and configured for one sample rate and block size.
// The life of the object is the host's sequence: construction creates the effect, opens it and
// sets rate and block size; resume() and suspend() switch it on and off; destruction closes it.
class PluginInstance {
  public:
    PluginInstance(const PluginModule& module, double sampleRate, int blockSize);
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    int parameterCount() const { return effect_->numParams; }
    int inputCount() const { return effect_->numInputs; }
    int outputCount() const { return effect_->numOutputs; }
    int blockSize() const { return blockSize_; }
    double sampleRate() const { return sampleRate_; }
    // The delay the plug-in reports between its input and its output, in samples.
    int latency() const { return effect_->initialDelay > 0 ? effect_->initialDelay : 0; }

    std::string effectName();
    std::string vendorName();

    std::string parameterName(int index);
    std::string parameterLabel(int index);
    std::string parameterDisplay(int index);
    float parameter(int index);
    void setParameter(int index, float normalised);
    // Asks for the parameter's properties; false when the plug-in does not answer them. The
    // record is zeroed first, so fields the plug-in leaves alone read as zero.
    bool parameterProperties(int index, VstParameterProperties& properties);

    void resume();
    void suspend();

    // The buffer for the plug-in's first input. Unless the second is fed too (feedSecond), every
    // other input gets a copy of the first: a plug-in made for stereo sources then hears the
    // mono signal on both sides rather than silence on one.
    float* input() { return inputs_[0].data(); }
    // The buffer for the second input, which is fed as it is from now on; any further inputs
    // get silence. Only for a plug-in with two inputs or more.
    float* feedSecond();
    // Runs one block of up to blockSize() frames from the inputs into left() and right().
    void process(int frames);
    const float* left() const { return outputs_[0].data(); }
    const float* right() const { return outputs_.size() > 1 ? outputs_[1].data() : left(); }

  private:
    static VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);
    std::string text(VstInt32 opcode, VstInt32 index);

    AEffect* effect_ = nullptr;
    double sampleRate_;
    int blockSize_;
    bool resumed_ = false;
    bool secondFed_ = false;
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

}  // namespace render
