// The test host of the VST 3 editor tests: the plug-in with its view open in an X11 window under
// the tests' Xvfb, the host's frame and run loop (served from the test's thread, as a host serves
// them from its own), its component handler, and pictures of the window.
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "support/editor_pictures.h"
#include "support/noise.h"
#include "support/vst3_host.h"
#include "support/x11_display.h"

namespace editortest {

using namespace vst3host;

inline IPluginFactory* factory() {
    static IPluginFactory* loaded = loadFactory(moduleInBundle(ZELKO_VST3_BUNDLE));
    return loaded;
}

// The host's frame, which also offers its run loop, as Linux hosts do.
class HostFrame final : public IPlugFrame, public Linux::IRunLoop {
  public:
    tresult ZELKO_VST3_API queryInterface(const TUID iid, void** object) override {
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPlugFrame::iid)) {
            *object = static_cast<IPlugFrame*>(this);
        } else if (sameUid(iid, Linux::IRunLoop::iid)) {
            *object = static_cast<Linux::IRunLoop*>(this);
        } else {
            *object = nullptr;
            return kNoInterface;
        }
        ++references;
        return kResultOk;
    }
    uint32 ZELKO_VST3_API addRef() override { return static_cast<uint32>(++references); }
    uint32 ZELKO_VST3_API release() override { return static_cast<uint32>(--references); }

    tresult ZELKO_VST3_API resizeView(IPlugView* view, ViewRect* size) override {
        ++resizeRequests;
        return view->onSize(size);
    }

    tresult ZELKO_VST3_API registerEventHandler(Linux::IEventHandler* handler,
                                                Linux::FileDescriptor fd) override {
        handlers.push_back({handler, fd});
        return kResultOk;
    }
    tresult ZELKO_VST3_API unregisterEventHandler(Linux::IEventHandler* handler) override {
        std::erase_if(handlers, [&](const auto& h) { return h.first == handler; });
        return kResultOk;
    }
    tresult ZELKO_VST3_API registerTimer(Linux::ITimerHandler* handler,
                                         Linux::TimerInterval milliseconds) override {
        timers.push_back(handler);
        intervals.push_back(milliseconds);
        return kResultOk;
    }
    tresult ZELKO_VST3_API unregisterTimer(Linux::ITimerHandler* handler) override {
        std::erase(timers, handler);
        return kResultOk;
    }

    // One turn of the loop: every descriptor with input, then every timer once.
    void turn() {
        for (const auto& [handler, fd] : std::vector(handlers)) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0) handler->onFDIsSet(fd);
        }
        for (Linux::ITimerHandler* timer : std::vector(timers)) timer->onTimer();
    }

    int references = 0;
    int resizeRequests = 0;
    std::vector<std::pair<Linux::IEventHandler*, int>> handlers;
    std::vector<Linux::ITimerHandler*> timers;
    std::vector<Linux::TimerInterval> intervals;
};

struct Edit {
    char kind;
    ParamID id;
    ParamValue value;
};

class EditRecorder final : public HostObject<IComponentHandler> {
  public:
    tresult ZELKO_VST3_API beginEdit(ParamID id) override {
        edits.push_back({'b', id, 0.0});
        return kResultOk;
    }
    tresult ZELKO_VST3_API performEdit(ParamID id, ParamValue value) override {
        edits.push_back({'p', id, value});
        return kResultOk;
    }
    tresult ZELKO_VST3_API endEdit(ParamID id) override {
        edits.push_back({'e', id, 0.0});
        return kResultOk;
    }
    tresult ZELKO_VST3_API restartComponent(int32) override { return kResultOk; }
    std::vector<Edit> edits;
};

inline constexpr double kRate = 48000.0;
inline constexpr int kBlock = 512;

// A plug-in with its editor open in a window of the test host.
class EditorSession {
  public:
    explicit EditorSession(xtest::Server& server, int x = 0)
        : display(server.display),
          plugin(std::make_unique<Instance>(factory(), kRate, kBlock)),
          noise(testsignal::noise(kBlock * 64, 5u)) {
        plugin->controller->setComponentHandler(&handler);
        parent = xtest::hostWindow(display, kWidth, kHeight, x);
        view = plugin->controller->createView(kEditorViewName);
        if (view == nullptr) return;
        view->setFrame(&frame);
        attached = view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID);
    }
    ~EditorSession() {
        if (view) {
            view->removed();
            view->release();
        }
        plugin.reset();
        XDestroyWindow(display, parent);
        XSync(display, False);
    }

    // Blocks of noise (or silence, or another signal), a frame of the run loop after every fourth.
    void run(int blocks, bool loud) { run(blocks, loud ? noise : std::vector<float>(kBlock)); }
    void run(int blocks, const std::vector<float>& signal) {
        std::vector<float> in(kBlock), left(kBlock), right(kBlock);
        const int signalBlocks = static_cast<int>(signal.size()) / kBlock;
        for (int b = 0; b < blocks; ++b) {
            std::copy_n(signal.begin() + (b % signalBlocks) * kBlock, kBlock, in.begin());
            plugin->process(in.data(), left.data(), right.data(), kBlock);
            if (b % 4 == 3) frame.turn();
        }
        settle();
    }
    // Turns of the loop until the view has drawn what it was sent; the X server draws the
    // view's requests on its own time, so the capture waits a little for them.
    void settle() {
        for (int i = 0; i < 3; ++i) frame.turn();
        XSync(display, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        frame.turn();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xtest::Image shot() { return xtest::capture(display, parent); }

    Display* display;
    std::unique_ptr<Instance> plugin;
    std::vector<float> noise;
    EditRecorder handler;
    HostFrame frame;
    Window parent = 0;
    IPlugView* view = nullptr;
    tresult attached = kResultFalse;
};

}  // namespace editortest
