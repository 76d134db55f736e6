// A compact VST 3 host for the tests, on Linux and (cross-built) on Windows: loads a module,
// creates the plug-in through its factory and drives it through the interfaces alone, as a host
// does. Its streams and parameter-change lists reserve their room up front, so that a block run
// through it allocates nothing on the host's side either.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "tests/support/render_programme.h"
#include "vst3/vst3_abi.h"

namespace vst3host {

using namespace vst3;

// Interface objects the host owns: reference counts are not needed by their lifetime.
template <typename Interface>
class HostObject : public Interface {
  public:
    tresult ZELKO_VST3_API queryInterface(const TUID iid, void** object) override {
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, Interface::iid)) {
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32 ZELKO_VST3_API addRef() override { return 1; }
    uint32 ZELKO_VST3_API release() override { return 1; }
};

class MemoryStream final : public HostObject<IBStream> {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<unsigned char> data) : bytes(std::move(data)) {}
    tresult ZELKO_VST3_API read(void* buffer, int32 numBytes, int32* numBytesRead) override {
        const int32 n = numBytes < 0 ? 0
                                     : static_cast<int32>(std::min<std::size_t>(
                                           static_cast<std::size_t>(numBytes), bytes.size() - at));
        if (n > 0) std::memcpy(buffer, bytes.data() + at, static_cast<std::size_t>(n));
        at += static_cast<std::size_t>(n);
        if (numBytesRead) *numBytesRead = n;
        return kResultOk;
    }
    tresult ZELKO_VST3_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override {
        if (numBytes < 0) return kInvalidArgument;
        const auto* from = static_cast<const unsigned char*>(buffer);
        if (at + static_cast<std::size_t>(numBytes) > bytes.size()) bytes.resize(at + numBytes);
        std::memcpy(bytes.data() + at, from, static_cast<std::size_t>(numBytes));
        at += static_cast<std::size_t>(numBytes);
        if (numBytesWritten) *numBytesWritten = numBytes;
        return kResultOk;
    }
    tresult ZELKO_VST3_API seek(int64 pos, int32 mode, int64* result) override {
        const int64 base = mode == kIBSeekSet   ? 0
                           : mode == kIBSeekCur ? static_cast<int64>(at)
                                                : static_cast<int64>(bytes.size());
        if (base + pos < 0 || base + pos > static_cast<int64>(bytes.size())) return kResultFalse;
        at = static_cast<std::size_t>(base + pos);
        if (result) *result = static_cast<int64>(at);
        return kResultOk;
    }
    tresult ZELKO_VST3_API tell(int64* pos) override {
        if (pos) *pos = static_cast<int64>(at);
        return kResultOk;
    }
    void rewind() { at = 0; }

    std::vector<unsigned char> bytes;
    std::size_t at = 0;
};

struct Point {
    int32 offset;
    ParamValue value;
};

class ParamQueue final : public HostObject<IParamValueQueue> {
  public:
    ParamQueue() { points.reserve(4096); }
    ParamID ZELKO_VST3_API getParameterId() override { return id; }
    int32 ZELKO_VST3_API getPointCount() override { return static_cast<int32>(points.size()); }
    tresult ZELKO_VST3_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) override {
        if (index < 0 || index >= getPointCount()) return kInvalidArgument;
        sampleOffset = points[index].offset;
        value = points[index].value;
        return kResultOk;
    }
    tresult ZELKO_VST3_API addPoint(int32 sampleOffset, ParamValue value, int32& index) override {
        if (points.size() == points.capacity()) return kResultFalse;
        index = getPointCount();
        points.push_back({sampleOffset, value});
        return kResultOk;
    }
    ParamID id = 0;
    std::vector<Point> points;
};

class ParamChanges final : public HostObject<IParameterChanges> {
  public:
    static constexpr int kCapacity = 32;
    int32 ZELKO_VST3_API getParameterCount() override { return used; }
    IParamValueQueue* ZELKO_VST3_API getParameterData(int32 index) override {
        return index >= 0 && index < used ? &queues[index] : nullptr;
    }
    IParamValueQueue* ZELKO_VST3_API addParameterData(const ParamID& id, int32& index) override {
        for (int32 q = 0; q < used; ++q) {
            if (queues[q].id == id) {
                index = q;
                return &queues[q];
            }
        }
        if (used == kCapacity) return nullptr;
        index = used;
        queues[used].id = id;
        queues[used].points.clear();
        return &queues[used++];
    }
    void add(ParamID id, int32 offset, ParamValue value) {
        int32 index = 0, point = 0;
        if (IParamValueQueue* queue = addParameterData(id, index))
            queue->addPoint(offset, value, point);
    }
    // The last value sent for `id`, or -1.
    ParamValue last(ParamID id) const {
        for (int32 q = 0; q < used; ++q) {
            if (queues[q].id == id && !queues[q].points.empty())
                return queues[q].points.back().value;
        }
        return -1.0;
    }
    void clear() {
        for (int32 q = 0; q < used; ++q) queues[q].points.clear();
        used = 0;
    }
    ParamQueue queues[kCapacity];
    int32 used = 0;
};

// The module file inside a bundle folder.
inline std::string moduleInBundle(const std::string& bundle) {
#if defined(_WIN32)
    return bundle + "\\Contents\\x86_64-win\\zelko.vst3";
#else
    return bundle + "/Contents/x86_64-linux/zelko.so";
#endif
}

// The factory of a module file; the module stays loaded for the life of the process.
inline IPluginFactory* loadFactory(const std::string& module) {
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(module.c_str());
    if (!handle) return nullptr;
    auto init = reinterpret_cast<bool (*)()>(GetProcAddress(handle, "InitDll"));
    if (!init || !init()) return nullptr;
    auto get = reinterpret_cast<GetFactoryProc>(GetProcAddress(handle, "GetPluginFactory"));
#else
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle, "ModuleEntry"));
    if (!entry || !entry(handle)) return nullptr;
    auto get = reinterpret_cast<GetFactoryProc>(dlsym(handle, "GetPluginFactory"));
#endif
    return get ? get() : nullptr;
}

// One plug-in instance, created, initialised, set up and switched on.
class Instance {
  public:
    Instance(IPluginFactory* factory, double rate, int32 maxBlock,
             SpeakerArrangement input = kArrangementMono) {
        PClassInfo info;
        if (!factory || factory->getClassInfo(0, &info) != kResultOk) return;
        void* object = nullptr;
        if (factory->createInstance(info.cid, IComponent::iid.bytes, &object) != kResultOk) return;
        component = static_cast<IComponent*>(object);
        component->queryInterface(IAudioProcessor::iid.bytes, &object);
        processor = static_cast<IAudioProcessor*>(object);
        component->queryInterface(IEditController::iid.bytes, &object);
        controller = static_cast<IEditController*>(object);
        component->initialize(nullptr);
        SpeakerArrangement out = kArrangementStereo;
        processor->setBusArrangements(&input, 1, &out, 1);
        inputChannels = input == kArrangementStereo ? 2 : 1;
        setup(rate, maxBlock);
    }
    ~Instance() {
        if (!component) return;
        processor->setProcessing(0);
        component->setActive(0);
        component->terminate();
        controller->release();
        processor->release();
        component->release();
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    explicit operator bool() const { return component && processor && controller; }

    void setup(double rate, int32 maxBlock) {
        component->setActive(0);
        ProcessSetup config{kRealtime, kSample32, maxBlock, rate};
        processor->setupProcessing(config);
        component->setActive(1);
        processor->setProcessing(1);
    }

    // One block: `in` goes to every input channel (the same buffer), the outputs to left and right.
    tresult process(float* in, float* left, float* right, int32 frames) {
        float* inputs[2] = {in, in};
        float* outputs[2] = {left, right};
        inputBus.numChannels = inputChannels;
        inputBus.silenceFlags = 0;
        inputBus.channelBuffers32 = inputs;
        outputBus.numChannels = 2;
        outputBus.silenceFlags = 0;
        outputBus.channelBuffers32 = outputs;
        data.numInputs = 1;
        data.numOutputs = 1;
        return processBuses(frames);
    }

    // One block through the buses as they are set in inputBus, outputBus and data.
    tresult processBuses(int32 frames) {
        data.numSamples = frames;
        data.inputs = &inputBus;
        data.outputs = &outputBus;
        data.inputParameterChanges = &changes;
        data.outputParameterChanges = &sent;
        sent.clear();
        const tresult result = processor->process(data);
        changes.clear();
        return result;
    }

    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
    ParamChanges changes;  // to send with the next block
    ParamChanges sent;     // what the last block sent back
    ProcessData data{kRealtime, kSample32, 0,       0,       0,       nullptr,
                     nullptr,   nullptr,   nullptr, nullptr, nullptr, nullptr};
    AudioBusBuffers inputBus{};
    AudioBusBuffers outputBus{};
    int inputChannels = 1;
};

// The shared test programme (tests/support/render_programme.h) through a VST 3 instance: the
// same blocks, and the same normalised values at the same block starts, as the VST 2.4 render.
inline std::vector<float> renderProgramme(IPluginFactory* factory) {
    using namespace programme;
    Instance plugin(factory, kSampleRate, kBlock);
    if (!plugin) return {};
    std::vector<float> first, second;
    makeInputs(first, second);
    std::vector<float> left(kBlock), right(kBlock), out;
    out.reserve(2 * kFrames);
    for (int start = 0; start < kFrames; start += kBlock) {
        if (start == kSegment) plugin.changes.add(4, 0, 0.8f);
        if (start == 3 * kSegment) {
            for (ParamID p = 0; p < 5; ++p) plugin.changes.add(p, 0, p % 2 == 0 ? 0.7f : 0.2f);
        }
        plugin.process(first.data() + start, left.data(), right.data(), kBlock);
        for (int i = 0; i < kBlock; ++i) {
            out.push_back(left[i]);
            out.push_back(right[i]);
        }
    }
    return out;
}

}  // namespace vst3host
