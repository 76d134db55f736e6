// Opens the Windows VST 3 module's editor in a window of its own, as a Windows host does (an
// HWND, the host's message loop), sets one control from the host's side, lets the view draw, and
// writes the screen's pixels under the window to a file (editor_capture.h) for the native test to
// compare with the Linux editor's.
//
// Then it types into the view as a user does, through the system's input: a click on the
// Auto-EQ threshold's value, "-40 dB" and Enter, then a click, "loud", Enter and Escape. It prints
// each edit the view sends ("edit b|p|e <id> <value>"), for the native test to read.
//
// Usage: zelko_vst3_editor_wine_host.exe <bundle folder> <output file>   (Unix paths map to Z:)
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/control_record.h"
#include "editor/editor.h"
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

class EditPrinter final : public HostObject<IComponentHandler> {
  public:
    tresult ZELKO_VST3_API beginEdit(ParamID id) override { return print('b', id, 0.0); }
    tresult ZELKO_VST3_API performEdit(ParamID id, ParamValue value) override {
        return print('p', id, value);
    }
    tresult ZELKO_VST3_API endEdit(ParamID id) override { return print('e', id, 0.0); }
    tresult ZELKO_VST3_API restartComponent(int32) override { return kResultOk; }

  private:
    static tresult print(char kind, ParamID id, ParamValue value) {
        std::printf("edit %c %u %.17g\n", kind, static_cast<unsigned>(id), value);
        std::fflush(stdout);
        return kResultOk;
    }
};

}  // namespace

// The left button clicked at a screen position, keys typed as characters and named keys pressed,
// all through SendInput, as a keyboard and mouse would.
void clickAt(int x, int y) {
    SetCursorPos(x, y);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}
void pressKey(WORD virtualKey) {
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = virtualKey;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}
void typeText(std::string_view text) {
    for (const char c : text) {
        INPUT input[2]{};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wScan = input[1].ki.wScan = static_cast<WORD>(c);
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
}

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
        EditPrinter edits;
        plugin.controller->setComponentHandler(&edits);
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

        const Rect value =
            editor::layout.controls[static_cast<std::size_t>(Control::autoEqThreshold)].value;
        const int x = static_cast<int>(value.x + value.w / 2), y = static_cast<int>(value.y + 10);
        for (const char* typed : {"-40 dB", "loud"}) {
            clickAt(x, y);
            wineeditor::pumpMessages(300);
            typeText(typed);
            pressKey(VK_RETURN);
            wineeditor::pumpMessages(300);
        }
        pressKey(VK_ESCAPE);
        wineeditor::pumpMessages(300);
        plugin.controller->setComponentHandler(nullptr);
        view->removed();
        view->release();
    }
    DestroyWindow(parent);
    return status;
}
