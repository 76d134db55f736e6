#include "tools/render/plugin_module.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>

#include "tools/render/failure.h"

namespace render {

namespace {

// The plug-in may call back before its effect record exists (VSTPluginMain asks for the host's
// version first), so the instance being created is reached through this pointer until the
// record's user field can carry it.
PluginInstance* instanceBeingCreated = nullptr;

constexpr VstIntPtr kHostVersion = 2400;
constexpr std::size_t kTextBufferSize = 256;  // far above the 8 to 64 characters plug-ins write

void copyText(void* destination, const char* text, std::size_t limit) {
    if (!destination) return;
    std::strncpy(static_cast<char*>(destination), text, limit - 1);
    static_cast<char*>(destination)[limit - 1] = '\0';
}

// dlsym also searches the libraries a module depends on; an entry counts only when the module
// itself defines it.
bool definedInModule(void* handle, void* symbol) {
    link_map* module = nullptr;
    Dl_info where{};
    if (dlinfo(handle, RTLD_DI_LINKMAP, &module) != 0 || !module) return false;
    if (!dladdr(symbol, &where) || !where.dli_fname || !module->l_name) return false;
    return std::strcmp(where.dli_fname, module->l_name) == 0;
}

}  // namespace

PluginModule::PluginModule(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        throw Failure(ExitStatus::kPlugin, "Cannot load the plug-in module " + inQuotes(path) +
                                               ": " + (reason ? reason : "unknown reason") + ".");
    }
    entry_ = reinterpret_cast<PluginEntry>(dlsym(handle_, "VSTPluginMain"));
    if (!entry_) {
        // Plug-ins built for Linux before VST 2.4 named their entry "main", and many current
        // ones still export only that name; hosts accept both.
        void* legacy = dlsym(handle_, "main");
        if (legacy && definedInModule(handle_, legacy))
            entry_ = reinterpret_cast<PluginEntry>(legacy);
    }
    if (!entry_) {
        dlclose(handle_);
        handle_ = nullptr;
        throw Failure(ExitStatus::kPlugin,
                      inQuotes(path) + " is not a VST 2.4 plug-in: it has no VSTPluginMain entry.");
    }
}

PluginModule::~PluginModule() {
    if (handle_) dlclose(handle_);
}

PluginInstance::PluginInstance(const PluginModule& module, double sampleRate, int blockSize)
    : sampleRate_(sampleRate), blockSize_(blockSize) {
    instanceBeingCreated = this;
    effect_ = module.entry()(&PluginInstance::hostCallback);
    instanceBeingCreated = nullptr;
    if (!effect_) {
        throw Failure(ExitStatus::kPlugin,
                      "The plug-in " + inQuotes(module.path()) + " refused to create an effect.");
    }
    if (effect_->magic != kEffectMagic || !effect_->dispatcher) {
        // Not an effect record we may talk to, so it is not closed either.
        effect_ = nullptr;
        throw Failure(ExitStatus::kPlugin, inQuotes(module.path()) +
                                               " is not a VST 2.4 plug-in: its VSTPluginMain "
                                               "returned something other than an effect record.");
    }
    effect_->user = this;

    const char* refusal = nullptr;
    if (effect_->numInputs < 1) {
        refusal = " has no audio input, so there is nothing to feed it (is it an instrument?).";
    } else if (effect_->numOutputs < 1) {
        refusal = " has no audio output.";
    } else if (!effect_->processReplacing && !effect_->process) {
        refusal = " has no process entry.";
    }
    if (refusal) {
        dispatch(effClose);
        effect_ = nullptr;
        throw Failure(ExitStatus::kPlugin, "The plug-in " + inQuotes(module.path()) + refusal);
    }

    inputs_.assign(static_cast<std::size_t>(effect_->numInputs),
                   std::vector<float>(static_cast<std::size_t>(blockSize), 0.0f));
    outputs_.assign(static_cast<std::size_t>(effect_->numOutputs),
                    std::vector<float>(static_cast<std::size_t>(blockSize), 0.0f));
    for (auto& buffer : inputs_) inputPointers_.push_back(buffer.data());
    for (auto& buffer : outputs_) outputPointers_.push_back(buffer.data());

    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, blockSize);
}

PluginInstance::~PluginInstance() {
    if (!effect_) return;
    if (resumed_) suspend();
    dispatch(effClose);
}

VstIntPtr PluginInstance::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr,
                                       void* ptr, float) {
    PluginInstance* self =
        effect && effect->user ? static_cast<PluginInstance*>(effect->user) : instanceBeingCreated;
    switch (opcode) {
        case audioMasterVersion:
            return kHostVersion;
        case audioMasterWantMidi:
            // Taken note of; a renderer of audio files has no MIDI to send.
            return 0;
        case audioMasterGetSampleRate:
            return self ? static_cast<VstIntPtr>(self->sampleRate_) : 0;
        case audioMasterGetBlockSize:
            return self ? self->blockSize_ : 0;
        case audioMasterGetVendorString:
            copyText(ptr, "Zelko", kVstMaxVendorStrLen);
            return 1;
        case audioMasterGetProductString:
            copyText(ptr, "zelko-render", kVstMaxProductStrLen);
            return 1;
        default:
            return 0;
    }
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginInstance::text(VstInt32 opcode, VstInt32 index) {
    char buffer[kTextBufferSize] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[kTextBufferSize - 1] = '\0';
    return buffer;
}

std::string PluginInstance::effectName() {
    return text(effGetEffectName, 0);
}
std::string PluginInstance::vendorName() {
    return text(effGetVendorString, 0);
}
std::string PluginInstance::parameterName(int index) {
    return text(effGetParamName, index);
}
std::string PluginInstance::parameterLabel(int index) {
    return text(effGetParamLabel, index);
}
std::string PluginInstance::parameterDisplay(int index) {
    return text(effGetParamDisplay, index);
}

float PluginInstance::parameter(int index) {
    return effect_->getParameter(effect_, index);
}

void PluginInstance::setParameter(int index, float normalised) {
    effect_->setParameter(effect_, index, normalised);
}

bool PluginInstance::parameterProperties(int index, VstParameterProperties& properties) {
    std::memset(&properties, 0, sizeof properties);
    return dispatch(effGetParameterProperties, index, 0, &properties) != 0;
}

void PluginInstance::resume() {
    dispatch(effMainsChanged, 0, 1);
    resumed_ = true;
}

void PluginInstance::suspend() {
    dispatch(effMainsChanged, 0, 0);
    resumed_ = false;
}

float* PluginInstance::feedSecond() {
    secondFed_ = true;
    return inputs_.at(1).data();
}

void PluginInstance::process(int frames) {
    // Refilled on every block: some plug-ins work in place and leave their inputs changed.
    const auto count = static_cast<std::size_t>(frames);
    for (std::size_t channel = secondFed_ ? 2 : 1; channel < inputs_.size(); ++channel) {
        if (secondFed_) {
            std::fill(inputs_[channel].begin(), inputs_[channel].end(), 0.0f);
        } else {
            std::copy(inputs_[0].begin(), inputs_[0].begin() + count, inputs_[channel].begin());
        }
    }
    if (effect_->processReplacing) {
        effect_->processReplacing(effect_, inputPointers_.data(), outputPointers_.data(), frames);
    } else {
        // The accumulating entry adds to what the outputs hold.
        for (auto& buffer : outputs_) std::fill(buffer.begin(), buffer.end(), 0.0f);
        effect_->process(effect_, inputPointers_.data(), outputPointers_.data(), frames);
    }
}

}  // namespace render
