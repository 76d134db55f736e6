// Loads the Windows CLAP module with LoadLibrary, as a Windows host does, and either renders the
// shared test programme through it with the compact test host, writing the interleaved outputs to
// a file as raw floats, or opens its GUI in a window of its own (an HWND, the host's message
// loop) with one control set from the host's side and writes the screen's pixels under it
// (editor_capture.h); the native tests compare both with the Linux module.
//
// Usage: zelko_clap_wine_host.exe [--editor] <module> <output file>   (Unix paths map to Z:)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/clap_host.h"
#include "tests/windows/editor_capture.h"

namespace {

using wineeditor::windowsPath;

int render(const clapabi::clap_plugin_factory_t* factory, const char* output) {
    const std::vector<float> out = claphost::renderProgramme(factory);
    if (out.empty()) {
        std::printf("FAILED: no instance\n");
        return 1;
    }
    std::FILE* file = std::fopen(windowsPath(output).c_str(), "wb");
    if (!file) {
        std::printf("FAILED: cannot write %s\n", output);
        return 1;
    }
    const bool written = std::fwrite(out.data(), sizeof(float), out.size(), file) == out.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}

// What the Linux picture it is compared with shows: silence at 48 kHz, the output threshold at
// its top.
int showEditor(const clapabi::clap_plugin_factory_t* factory, const char* output) {
    using namespace clapabi;
    constexpr int width = 800, height = 440;
    HWND parent = wineeditor::hostWindow(width, height);
    int status = 1;
    {
        claphost::Instance plugin(factory, 48000.0, 512);
        const auto* gui =
            plugin ? claphost::extensionOf<clap_plugin_gui_t>(plugin.plugin, CLAP_EXT_GUI)
                   : nullptr;
        if (gui == nullptr || !gui->is_api_supported(plugin.plugin, CLAP_WINDOW_API_WIN32, false) ||
            !gui->create(plugin.plugin, CLAP_WINDOW_API_WIN32, false)) {
            std::printf("FAILED: no GUI for win32\n");
            return 1;
        }
        clap_window_t window{};
        window.api = CLAP_WINDOW_API_WIN32;
        window.win32 = parent;
        if (!gui->set_parent(plugin.plugin, &window) || !gui->show(plugin.plugin)) {
            std::printf("FAILED: the GUI did not embed\n");
            gui->destroy(plugin.plugin);
            return 1;
        }
        const auto agc = static_cast<clap_id>(Control::outputAgcThreshold);
        plugin.changes.add(agc, 0, controlRecords[agc].reach.maximum);
        plugin.flush();
        std::vector<float> in(512), left(512), right(512);
        for (int b = 0; b < 8; ++b) plugin.process(in.data(), left.data(), right.data(), 512);
        wineeditor::pumpMessages(800);
        status = wineeditor::writeScreen(windowsPath(output), width, height) ? 0 : 1;
        gui->destroy(plugin.plugin);
    }
    DestroyWindow(parent);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const bool editor = argc == 4 && std::strcmp(argv[1], "--editor") == 0;
    if (argc != 3 && !editor) {
        std::printf("usage: zelko_clap_wine_host.exe [--editor] <module> <output file>\n");
        return 2;
    }
    const clapabi::clap_plugin_factory_t* factory =
        claphost::loadFactory(windowsPath(argv[editor ? 2 : 1]));
    if (!factory) {
        std::printf("FAILED: the module gives no factory\n");
        return 1;
    }
    return editor ? showEditor(factory, argv[3]) : render(factory, argv[2]);
}
