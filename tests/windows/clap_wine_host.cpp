// Loads the Windows CLAP module with LoadLibrary, as a Windows host does, renders the shared test
// programme through it with the compact test host, and writes the interleaved outputs to a file as
// raw floats, for the native test to compare with the Linux module.
//
// Usage: zelko_clap_wine_host.exe <module> <output file>   (Unix paths map to drive Z:)
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/clap_host.h"

namespace {

std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: zelko_clap_wine_host.exe <module> <output file>\n");
        return 2;
    }
    const clapabi::clap_plugin_factory_t* factory = claphost::loadFactory(windowsPath(argv[1]));
    if (!factory) {
        std::printf("FAILED: the module gives no factory\n");
        return 1;
    }
    const std::vector<float> out = claphost::renderProgramme(factory);
    if (out.empty()) {
        std::printf("FAILED: no instance\n");
        return 1;
    }
    std::FILE* file = std::fopen(windowsPath(argv[2]).c_str(), "wb");
    if (!file) {
        std::printf("FAILED: cannot write %s\n", argv[2]);
        return 1;
    }
    const bool written = std::fwrite(out.data(), sizeof(float), out.size(), file) == out.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
