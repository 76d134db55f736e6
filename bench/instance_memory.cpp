// Resident memory per plug-in instance, as a host sees it.
//
// Loads the VST 2.4 module with dlopen, as a host does, and opens N instances side by side in this
// one process: each is opened, set to the rate and to blocks of 512, switched on, and then all of
// them run two seconds of noise block by block, the way a host runs the tracks of a session. The
// resident memory of the process (/proc/self/statm) is read after the module is loaded and before
// the first instance, and again at the end; the difference over N is the memory one instance
// costs, its share of the heap's bookkeeping included.
//
//   instance_memory [--plugin PATH] [--instances N] [--rate HZ]
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/vst2.h"

namespace {

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

double residentMegabytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    long size = 0;
    long resident = 0;
    if (statm == nullptr || std::fscanf(statm, "%ld %ld", &size, &resident) != 2) {
        std::fputs("instance_memory: cannot read /proc/self/statm\n", stderr);
        std::exit(1);
    }
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = ZELKO_PLUGIN_PATH;
    int instances = 1;
    int rate = 48000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--plugin") == 0) {
            path = argv[i + 1];
        } else if (std::strcmp(argv[i], "--instances") == 0) {
            instances = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rate") == 0) {
            rate = std::atoi(argv[i + 1]);
        }
    }
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    using PluginMain = AEffect* (*)(audioMasterCallback);
    const auto pluginMain =
        module ? reinterpret_cast<PluginMain>(dlsym(module, "VSTPluginMain")) : nullptr;
    if (pluginMain == nullptr || instances < 1) {
        std::fprintf(stderr, "instance_memory: cannot load %s\n", path);
        return 1;
    }

    constexpr int blockSize = 512;
    std::vector<float> input(blockSize);
    std::vector<float> silence(blockSize, 0.0f);
    std::vector<float> left(blockSize);
    std::vector<float> right(blockSize);
    const double before = residentMegabytes();

    std::vector<AEffect*> effects;
    for (int i = 0; i < instances; ++i) {
        AEffect* effect = pluginMain(hostCallback);
        if (effect == nullptr) {
            std::fputs("instance_memory: the plug-in made no instance\n", stderr);
            return 1;
        }
        effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
        effect->dispatcher(effect, effSetBlockSize, 0, blockSize, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        effects.push_back(effect);
    }
    std::uint32_t state = 2463534242u;
    for (int block = 0; block < 2 * rate / blockSize; ++block) {
        for (float& s : input) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            s = 0.5f * static_cast<float>(static_cast<std::int32_t>(state)) / 2147483648.0f;
        }
        for (AEffect* effect : effects) {
            float* inputs[2] = {input.data(), silence.data()};
            float* outputs[2] = {left.data(), right.data()};
            effect->processReplacing(effect, inputs, outputs, blockSize);
        }
    }
    const double after = residentMegabytes();
    std::printf("%d instance%s at %d Hz: %.2f MB resident per instance (%.1f MB in all)\n",
                instances, instances == 1 ? "" : "s", rate, (after - before) / instances,
                after - before);

    for (AEffect* effect : effects) {
        effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    }
    return 0;
}
