#include "vst3/plug_view.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__linux__)
#include "editor/x11_window.h"
#define ZELKO_HAS_VIEW 1
#elif defined(_WIN32)
#include "editor/win32_window.h"
#define ZELKO_HAS_VIEW 1
#endif

namespace vst3glue {

using namespace vst3;

#if ZELKO_HAS_VIEW

namespace {

#if defined(__linux__)
using PlatformWindow = editor::X11Window;
constexpr FIDString kOurPlatform = kPlatformTypeX11EmbedWindowID;
#else
using PlatformWindow = editor::Win32Window;
constexpr FIDString kOurPlatform = kPlatformTypeHWND;
#endif

bool samePlatform(FIDString type, FIDString wanted) {
    return type != nullptr && std::strcmp(type, wanted) == 0;
}

int designPixels(float units, float scale) {
    return static_cast<int>(std::lround(units * scale));
}

class EditorView final : public IPlugView,
                         public IPlugViewContentScaleSupport,
#if defined(__linux__)
                         public Linux::IEventHandler,
                         public Linux::ITimerHandler,
#endif
                         private editor::WindowClient,
                         private editor::EditSink {
  public:
    explicit EditorView(ViewHost& owner) : host(owner), window(*this) {
        host.addRef();
        host.viewOpened();
        width = designPixels(editor::designWidth, 1.0f);
        height = designPixels(editor::designHeight, 1.0f);
    }

    ~EditorView() override {
        removed();
        host.viewClosed();
        host.release();
    }

    // FUnknown
    tresult ZELKO_VST3_API queryInterface(const TUID iid, void** object) override {
        if (object == nullptr) return kInvalidArgument;
        void* found = nullptr;
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPlugView::iid)) {
            found = static_cast<IPlugView*>(this);
        } else if (sameUid(iid, IPlugViewContentScaleSupport::iid)) {
            found = static_cast<IPlugViewContentScaleSupport*>(this);
        }
#if defined(__linux__)
        else if (sameUid(iid, Linux::IEventHandler::iid)) {
            found = static_cast<Linux::IEventHandler*>(this);
        } else if (sameUid(iid, Linux::ITimerHandler::iid)) {
            found = static_cast<Linux::ITimerHandler*>(this);
        }
#endif
        *object = found;
        if (found == nullptr) return kNoInterface;
        addRef();
        return kResultOk;
    }
    uint32 ZELKO_VST3_API addRef() override {
        return references.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    uint32 ZELKO_VST3_API release() override {
        const uint32 left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    // IPlugView
    tresult ZELKO_VST3_API isPlatformTypeSupported(FIDString type) override {
        return samePlatform(type, kOurPlatform) ? kResultTrue : kResultFalse;
    }

    tresult ZELKO_VST3_API attached(void* parent, FIDString type) override {
        if (parent == nullptr || !samePlatform(type, kOurPlatform)) return kResultFalse;
        if (window.isOpen()) return kResultFalse;
#if defined(__linux__)
        // Without the host's run loop nothing would ever redraw or answer the mouse.
        if (plugFrame == nullptr) return kResultFalse;
        void* loop = nullptr;
        if (plugFrame->queryInterface(Linux::IRunLoop::iid.bytes, &loop) != kResultOk || !loop) {
            return kResultFalse;
        }
        runLoop = static_cast<Linux::IRunLoop*>(loop);
        if (!window.open(reinterpret_cast<unsigned long>(parent), width, height)) {
            runLoop->release();
            runLoop = nullptr;
            return kResultFalse;
        }
        runLoop->registerEventHandler(this, window.connectionFd());
        runLoop->registerTimer(this, kFrameMilliseconds);
#else
        if (!window.open(parent, width, height, static_cast<unsigned>(kFrameMilliseconds))) {
            return kResultFalse;
        }
#endif
        refreshScene();
        window.redraw();
        return kResultOk;
    }

    tresult ZELKO_VST3_API removed() override {
#if defined(__linux__)
        if (runLoop != nullptr) {
            runLoop->unregisterTimer(this);
            runLoop->unregisterEventHandler(this);
            runLoop->release();
            runLoop = nullptr;
        }
#endif
        if (interaction.activeControl() >= 0) interaction.release(*this);
        interaction.focusLost();
        window.close();
        return kResultOk;
    }

    // Keys and the wheel come as X events on the window itself; the host's copies are not ours.
    tresult ZELKO_VST3_API onWheel(float) override {
        return kResultFalse;
    }
    tresult ZELKO_VST3_API onKeyDown(char16, int16, int16) override {
        return kResultFalse;
    }
    tresult ZELKO_VST3_API onKeyUp(char16, int16, int16) override {
        return kResultFalse;
    }
    tresult ZELKO_VST3_API onFocus(TBool) override {
        return kResultOk;
    }

    tresult ZELKO_VST3_API getSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        *size = {0, 0, width, height};
        return kResultOk;
    }

    tresult ZELKO_VST3_API onSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        width = std::max(1, size->right - size->left);
        height = std::max(1, size->bottom - size->top);
        window.resize(width, height);
        return kResultOk;
    }

    tresult ZELKO_VST3_API setFrame(IPlugFrame* newFrame) override {
        plugFrame = newFrame;
        return kResultOk;
    }

    tresult ZELKO_VST3_API canResize() override {
        return kResultTrue;
    }

    // Any size from the smallest scale up, in the picture's proportions: the width decides.
    tresult ZELKO_VST3_API checkSizeConstraint(ViewRect* rect) override {
        if (rect == nullptr) return kInvalidArgument;
        const int smallest = designPixels(editor::designWidth, editor::minimumScale);
        const int w = std::max(smallest, rect->right - rect->left);
        const int h =
            designPixels(editor::designHeight * static_cast<float>(w) / editor::designWidth, 1.0f);
        rect->right = rect->left + w;
        rect->bottom = rect->top + h;
        return kResultTrue;
    }

    // IPlugViewContentScaleSupport: the host's scale for this screen. The view grows with it
    // and asks the host for the room.
    tresult ZELKO_VST3_API setContentScaleFactor(ScaleFactor factor) override {
        if (!(factor > 0.0f) || !std::isfinite(factor)) return kResultFalse;
        const float relative = factor / contentScale;
        contentScale = factor;
        ViewRect wanted{0, 0, designPixels(static_cast<float>(width), relative),
                        designPixels(static_cast<float>(height), relative)};
        checkSizeConstraint(&wanted);
        if (plugFrame != nullptr && (wanted.right != width || wanted.bottom != height)) {
            plugFrame->resizeView(this, &wanted);
        } else {
            width = wanted.right;
            height = wanted.bottom;
        }
        return kResultTrue;
    }

#if defined(__linux__)
    // Linux::IEventHandler
    void ZELKO_VST3_API onFDIsSet(Linux::FileDescriptor) override {
        // The host may call us from the very loop it removes us in; hold on until we return.
        addRef();
        window.handleEvents();
        release();
    }

    // Linux::ITimerHandler. Xlib reads events into its queue whenever it waits to write (a
    // picture is a large request), and those never make the connection readable again: each
    // frame takes them first, so that no click waits for the next event to be seen.
    void ZELKO_VST3_API onTimer() override {
        addRef();
        window.handleEvents();
        nextFrame();
        release();
    }
#endif

  private:
    // A frame's time: the newest values, drawn if they changed the picture.
    void nextFrame() {
        if (!window.isOpen()) return;
        scene.hold.update(host.latestSnapshot().meters);
        if (refreshScene()) window.redraw();
    }

    // Takes the newest values; true when the picture changed.
    bool refreshScene() {
        editor::Scene next = scene;
        next.audio = host.latestSnapshot();
        next.controls = host.shownControls();
        next.bypassed = host.shownBypass();
        next.activeControl = interaction.activeControl();
        next.entry = interaction.entry();
        const bool changed = !(next == drawn);
        scene = next;
        return changed;
    }

    float scale() const {
        return editor::scaleFor(static_cast<float>(width), static_cast<float>(height));
    }

    // editor::WindowClient
    void frame() override {
        nextFrame();
    }
    void paint(Painter& painter, int w, int h) override {
        editor::drawEditor(scene, painter, static_cast<float>(w), static_cast<float>(h),
                           editor::scaleFor(static_cast<float>(w), static_cast<float>(h)));
        drawn = scene;
    }
    void mousePress(float x, float y, editor::Modifiers modifiers, double seconds) override {
        interaction.press(x, y, modifiers, seconds, scale(), host.shownControls(), *this);
        afterInput();
    }
    void mouseMove(float x, float y, editor::Modifiers modifiers) override {
        interaction.move(x, y, modifiers, *this);
        afterInput();
    }
    void mouseRelease() override {
        interaction.release(*this);
        afterInput();
    }
    void mouseWheel(float x, float y, float notches, editor::Modifiers modifiers) override {
        interaction.wheel(x, y, notches, modifiers, scale(), host.shownControls(), *this);
        afterInput();
    }
    void keyPressed(editor::Key key) override {
        interaction.key(key, *this);
        afterInput();
    }
    void textTyped(std::string_view text) override {
        interaction.type(text);
        afterInput();
    }
    void focusLost() override {
        interaction.focusLost();
        afterInput();
    }
    bool wantsKeyboard() const override {
        return interaction.wantsKeyboard();
    }
    // An edit shows at once, not at the next frame.
    void afterInput() {
        if (window.isOpen() && refreshScene()) window.redraw();
    }

    // editor::EditSink
    void beginEdit(Control control) override {
        host.beginControlEdit(control);
    }
    void performEdit(Control control, double normalised) override {
        host.performControlEdit(control, normalised);
    }
    void endEdit(Control control) override {
        host.endControlEdit(control);
    }

    ViewHost& host;
    std::atomic<uint32> references{1};
    IPlugFrame* plugFrame = nullptr;
#if defined(__linux__)
    Linux::IRunLoop* runLoop = nullptr;
#endif
    PlatformWindow window;
    editor::Interaction interaction;
    editor::Scene scene;
    editor::Scene drawn;
    int width = 0;
    int height = 0;
    float contentScale = 1.0f;
};

}  // namespace

bool viewSupportsPlatform(FIDString type) {
    return samePlatform(type, kOurPlatform);
}

IPlugView* createPlugView(ViewHost& host) {
    return new EditorView(host);
}

#else

bool viewSupportsPlatform(FIDString) {
    return false;
}

IPlugView* createPlugView(ViewHost&) {
    return nullptr;
}

#endif

}  // namespace vst3glue
