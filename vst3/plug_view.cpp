#include "vst3/plug_view.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace vst3glue {

using namespace vst3;

#if ZELKO_EDITOR_HAS_WINDOW

namespace {

#if defined(__linux__)
constexpr FIDString kOurPlatform = kPlatformTypeX11EmbedWindowID;
#else
constexpr FIDString kOurPlatform = kPlatformTypeHWND;
#endif

bool samePlatform(FIDString type, FIDString wanted) {
    return type != nullptr && std::strcmp(type, wanted) == 0;
}

class EditorView final : public IPlugView,
#if defined(__linux__)
                         public Linux::IEventHandler,
                         public Linux::ITimerHandler,
#endif
                         public IPlugViewContentScaleSupport {
  public:
    explicit EditorView(ViewHost& owner) : host(owner), view(owner) {
        host.addRef();
        host.viewOpened();
    }

    ~EditorView() {
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
        if (view.isOpen()) return kResultFalse;
#if defined(__linux__)
        // Without the host's run loop nothing would ever redraw or answer the mouse.
        if (plugFrame == nullptr) return kResultFalse;
        void* loop = nullptr;
        if (plugFrame->queryInterface(Linux::IRunLoop::iid.bytes, &loop) != kResultOk || !loop) {
            return kResultFalse;
        }
        runLoop = static_cast<Linux::IRunLoop*>(loop);
        if (!view.open(reinterpret_cast<unsigned long>(parent))) {
            runLoop->release();
            runLoop = nullptr;
            return kResultFalse;
        }
        runLoop->registerEventHandler(this, view.connectionFd());
        runLoop->registerTimer(this, kFrameMilliseconds);
#else
        if (!view.open(parent)) return kResultFalse;
#endif
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
        view.close();
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
        const editor::PixelSize now = view.size();
        *size = {0, 0, now.width, now.height};
        return kResultOk;
    }

    tresult ZELKO_VST3_API onSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        view.setSize({size->right - size->left, size->bottom - size->top});
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
        const editor::PixelSize fitted = editor::sizeForWidth(rect->right - rect->left);
        rect->right = rect->left + fitted.width;
        rect->bottom = rect->top + fitted.height;
        return kResultTrue;
    }

    // IPlugViewContentScaleSupport: the host's scale for this screen. The view grows with it
    // and asks the host for the room.
    tresult ZELKO_VST3_API setContentScaleFactor(ScaleFactor factor) override {
        if (!(factor > 0.0f) || !std::isfinite(factor)) return kResultFalse;
        const float relative = factor / contentScale;
        contentScale = factor;
        const editor::PixelSize now = view.size();
        ViewRect wanted{0, 0, editor::designPixels(static_cast<float>(now.width), relative),
                        editor::designPixels(static_cast<float>(now.height), relative)};
        checkSizeConstraint(&wanted);
        if (plugFrame != nullptr && (wanted.right != now.width || wanted.bottom != now.height)) {
            plugFrame->resizeView(this, &wanted);
        } else {
            view.setSize({wanted.right, wanted.bottom});
        }
        return kResultTrue;
    }

#if defined(__linux__)
    // Linux::IEventHandler
    void ZELKO_VST3_API onFDIsSet(Linux::FileDescriptor) override {
        // The host may call us from the very loop it removes us in; hold on until we return.
        addRef();
        view.handleEvents();
        release();
    }

    // Linux::ITimerHandler. The host may release the view from inside what a frame sends it.
    void ZELKO_VST3_API onTimer() override {
        addRef();
        view.timerTick();
        release();
    }
#endif

  private:
    ViewHost& host;
    std::atomic<uint32> references{1};
    IPlugFrame* plugFrame = nullptr;
#if defined(__linux__)
    Linux::IRunLoop* runLoop = nullptr;
#endif
    editor::EmbeddedView view;
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
