// A minimal VST 2.4 host for the tests: loads the built plug-in module with dlopen, answers the
// host callback and records every call the plug-in makes to it, and drives the plug-in only
// through its effect record, exactly as a real host does.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/vst2.h"

namespace testhost {

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    AEffect* effect = nullptr;  // the record the plug-in passed; null before it exists
};

// The host side of the callback. One recorder serves one test at a time; it is reached through
// a global because the callback carries no user pointer before the effect record exists.
struct HostRecorder {
    VstIntPtr versionAnswer = 2400;
    // Answers for the other opcodes; an opcode not listed is answered with 0.
    std::map<VstInt32, VstIntPtr> answers;
    std::vector<HostCall> calls;

    static HostRecorder*& current() {
        static HostRecorder* recorder = nullptr;
        return recorder;
    }

    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                              void* ptr, float opt) {
        HostRecorder* self = current();
        if (!self) return opcode == audioMasterVersion ? 2400 : 0;
        self->calls.push_back({opcode, index, value, ptr, opt, effect});
        if (opcode == audioMasterVersion) return self->versionAnswer;
        auto answer = self->answers.find(opcode);
        return answer == self->answers.end() ? 0 : answer->second;
    }

    int count(VstInt32 opcode) const {
        int n = 0;
        for (const auto& c : calls) n += c.opcode == opcode;
        return n;
    }
};

using PluginMain = AEffect* (*)(audioMasterCallback);

// The loaded module; the handle stays open for the life of the process, as hosts keep it.
inline PluginMain loadPluginMain(const char* path = ZELKO_PLUGIN_PATH) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return reinterpret_cast<PluginMain>(dlsym(handle, "VSTPluginMain"));
}

// One plug-in instance driven through its effect record.
class Plugin {
  public:
    explicit Plugin(HostRecorder& recorder, const char* path = ZELKO_PLUGIN_PATH)
        : recorder_(recorder) {
        HostRecorder::current() = &recorder_;
        PluginMain main = loadPluginMain(path);
        effect_ = main ? main(&HostRecorder::callback) : nullptr;
    }
    Plugin() : Plugin(defaultRecorder()) {}
    ~Plugin() { close(); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    AEffect* effect() const { return effect_; }
    explicit operator bool() const { return effect_ != nullptr; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }

    VstIntPtr close() {
        if (!effect_) return 0;
        VstIntPtr result = dispatch(effClose);
        effect_ = nullptr;
        return result;
    }

    void setParameter(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
    float getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

    std::string text(VstInt32 opcode, VstInt32 index = 0, std::size_t size = 256) {
        std::vector<char> buffer(size, '\x7f');
        dispatch(opcode, index, 0, buffer.data());
        return std::string(buffer.data(), strnlen(buffer.data(), size));
    }

    // Runs one block through the replacing entry; the second input is silent unless given.
    void processReplacing(const float* in, float* left, float* right, int frames,
                          const float* in2 = nullptr) {
        std::vector<float> first(in, in + frames);
        std::vector<float> second = in2 ? std::vector<float>(in2, in2 + frames)
                                        : std::vector<float>(static_cast<std::size_t>(frames));
        float* inputs[2] = {first.data(), second.data()};
        float* outputs[2] = {left, right};
        effect_->processReplacing(effect_, inputs, outputs, frames);
    }

  private:
    static HostRecorder& defaultRecorder() {
        static HostRecorder recorder;
        return recorder;
    }

    HostRecorder& recorder_;
    AEffect* effect_ = nullptr;
};

}  // namespace testhost
