// Loads the plug-in DLL with LoadLibrary, as a Windows host does, and drives it through its
// effect record: open, a sample-rate change, one block of audio, close. Prints each failed check
// and exits non-zero when any failed. Given an output file, it instead renders the shared test
// programme through a fresh instance and writes the interleaved outputs there as raw floats, for
// the native test to compare with zelko.so.
//
// Usage: zelko_wine_host.exe <path of zelko.dll> [<output file>]
// (Unix paths are mapped through drive Z:)
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/vst2.h"
#include "tests/support/render_programme.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool condition, const char* what) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what);
    }
}

int versionRequests = 0;

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) {
        ++versionRequests;
        return 2400;
    }
    return 0;
}

std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

int renderProgramme(AEffect* effect, const std::string& path) {
    if (!effect) return 1;
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    const std::vector<float> out = programme::render(effect);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::printf("FAILED: cannot write %s\n", path.c_str());
        return 1;
    }
    const bool written = std::fwrite(out.data(), sizeof(float), out.size(), file) == out.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::printf("usage: %s <plug-in dll> [<output file>]\n", argv[0]);
        return 2;
    }
    const std::string path = windowsPath(argv[1]);
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        std::printf("FAILED: LoadLibrary(%s), error %lu\n", path.c_str(), GetLastError());
        return 1;
    }
    using PluginMain = AEffect* (*)(audioMasterCallback);
    auto main = reinterpret_cast<PluginMain>(
        reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
    check(main != nullptr, "VSTPluginMain is exported");
    if (!main) return 1;

    AEffect* effect = main(hostCallback);
    if (argc == 3) return renderProgramme(effect, windowsPath(argv[2]));
    check(effect != nullptr, "VSTPluginMain returns an effect record");
    if (!effect) return 1;
    check(versionRequests == 1, "the host version is asked once");
    check(effect->magic == kEffectMagic, "magic is 'VstP'");
    check(effect->numPrograms == 1, "one program");
    check(effect->numParams == 5, "five parameters");
    check(effect->numInputs == 2, "two inputs");
    check(effect->numOutputs == 2, "two outputs");
    check(effect->flags == effFlagsCanReplacing, "flags are exactly can-replacing");
    check(effect->ioRatio == 1.0f, "ioRatio is 1");
    check(effect->version == 1, "version 1");
    check(effect->dispatcher && effect->processReplacing && effect->setParameter &&
              effect->getParameter && effect->process && effect->processDoubleReplacing,
          "every entry is set");

    auto dispatch = [effect](VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                             float opt) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    };

    check(dispatch(effOpen, 0, 0, nullptr, 0.0f) == 0, "effOpen answers 0");
    check(dispatch(effGetVstVersion, 0, 0, nullptr, 0.0f) == 2400, "effGetVstVersion is 2400");
    check(dispatch(effGetPlugCategory, 0, 0, nullptr, 0.0f) == kPlugCategUnknown,
          "effGetPlugCategory is 0");
    check(dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f) == 0, "effSetSampleRate answers 0");
    check(dispatch(effSetBlockSize, 0, 512, nullptr, 0.0f) == 0, "effSetBlockSize answers 0");
    dispatch(effMainsChanged, 0, 1, nullptr, 0.0f);

    constexpr int kFrames = 512;
    std::vector<float> in(kFrames), silent(kFrames), left(kFrames, NAN), right(kFrames, NAN);
    for (int i = 0; i < kFrames; ++i) {
        in[i] = 0.5f * static_cast<float>(std::sin(2.0 * 3.141592653589793 * 440.0 * i / 48000.0));
    }
    const std::vector<float> inCopy = in;
    float* inputs[2] = {in.data(), silent.data()};
    float* outputs[2] = {left.data(), right.data()};
    effect->processReplacing(effect, inputs, outputs, kFrames);
    bool outputsWritten = true;
    for (int i = 0; i < kFrames; ++i) {
        // The output stage's ceiling is -1 dB full scale; 1.0 leaves room for rounding.
        outputsWritten = outputsWritten && std::isfinite(left[i]) && std::isfinite(right[i]) &&
                         std::fabs(left[i]) <= 1.0f && std::fabs(right[i]) <= 1.0f;
    }
    check(outputsWritten, "one block writes finite samples within full scale to both outputs");
    check(in == inCopy, "the input buffer is left unchanged");

    dispatch(effMainsChanged, 0, 0, nullptr, 0.0f);
    check(dispatch(effClose, 0, 0, nullptr, 0.0f) == 1, "effClose answers 1");
    check(FreeLibrary(module) != 0, "the DLL unloads");

    std::printf("wine host: %d checks passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
