// Opens the Windows VST 3 module's editor in a window of its own, as a Windows host does (an
// HWND, the host's message loop), sets one control from the host's side, lets the view draw, and
// writes the screen's pixels under the window to a file (editor_capture.h) for the native test to
// compare with the Linux editor's.
//
// Usage: zelko_vst3_editor_wine_host.exe <bundle folder> <output file>   (Unix paths map to Z:)
#include <cstdio>
#include <vector>

#include "dsp/control_record.h"
#include "tests/support/vst3_host.h"
#include "tests/windows/editor_capture.h"

namespace {

using namespace vst3host;

class Frame final : public HostObject<IPlugFrame> {
  public:
    tresult ZELKO_VST3_API resizeView(IPlugView* view, ViewRect* size) override {
        return view->onSize(size);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: zelko_vst3_editor_wine_host.exe <bundle> <output file>\n");
        return 2;
    }
    IPluginFactory* factory = loadFactory(moduleInBundle(wineeditor::windowsPath(argv[1])));
    if (!factory) {
        std::printf("FAILED: the module gives no factory\n");
        return 1;
    }
    constexpr int width = 800, height = 440;
    HWND parent = wineeditor::hostWindow(width, height);
    int status = 1;
    {
        Instance plugin(factory, 48000.0, 512);
        IPlugView* view = plugin ? plugin.controller->createView(kEditorViewName) : nullptr;
        Frame frame;
        if (view == nullptr || view->isPlatformTypeSupported(kPlatformTypeHWND) != kResultTrue) {
            std::printf("FAILED: no view for HWND\n");
            return 1;
        }
        view->setFrame(&frame);
        if (view->attached(parent, kPlatformTypeHWND) != kResultOk) {
            std::printf("FAILED: the view did not attach\n");
            return 1;
        }
        // What the Linux picture it is compared with shows: silence at 48 kHz, the output
        // threshold at its top.
        plugin.controller->setParamNormalized(static_cast<ParamID>(Control::outputAgcThreshold),
                                              1.0);
        std::vector<float> in(512), left(512), right(512);
        for (int b = 0; b < 8; ++b) plugin.process(in.data(), left.data(), right.data(), 512);
        wineeditor::pumpMessages(800);
        status = wineeditor::writeScreen(wineeditor::windowsPath(argv[2]), width, height) ? 0 : 1;
        view->removed();
        view->release();
    }
    DestroyWindow(parent);
    return status;
}
