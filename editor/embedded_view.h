// The editor inside a host's window, whatever the plug-in format: the platform window, the scene
// it draws, the mouse's edits, and the sizes a host may give it. The format's glue (the VST 3
// view, the CLAP GUI extension) opens and closes it, tells it when a frame is due and, on Linux,
// when its X connection has events; it reads its values from, and sends its edits to, a
// ViewSource. It runs no thread of its own.
#pragma once

#include "editor/editor.h"
#include "editor/window_client.h"

#if defined(__linux__)
#include "editor/x11_window.h"
#define ZELKO_EDITOR_HAS_WINDOW 1
#elif defined(_WIN32)
#include "editor/win32_window.h"
#define ZELKO_EDITOR_HAS_WINDOW 1
#endif

namespace editor {

// What a view shows and where its edits go: the plug-in's side, called on the host's main thread.
class ViewSource {
  public:
    virtual ~ViewSource() = default;
    // The newest snapshot of the audio thread (or the last one, when none came since).
    virtual const Snapshot& latestSnapshot() = 0;
    // The controls and bypass as the host last set them.
    virtual ControlValues shownControls() = 0;
    virtual bool shownBypass() = 0;
    virtual void beginControlEdit(Control control) = 0;
    virtual void performControlEdit(Control control, double normalised) = 0;
    virtual void endControlEdit(Control control) = 0;
};

// How often a view looks for a new picture: about 30 times a second.
inline constexpr unsigned frameMilliseconds = 33;

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// Pixels of `units` design units at `scale`.
int designPixels(float units, float scale);
// The size of the picture for a width, never below the smallest scale: the width decides and
// the height keeps the proportions.
PixelSize sizeForWidth(int width);
// The largest size in the picture's proportions that fits into width x height, never below the
// smallest scale.
PixelSize sizeWithin(int width, int height);

#if ZELKO_EDITOR_HAS_WINDOW

class EmbeddedView final : private WindowClient, private EditSink {
  public:
#if defined(__linux__)
    using PlatformWindow = X11Window;
    using Parent = unsigned long;  // an X window
#else
    using PlatformWindow = Win32Window;
    using Parent = void*;  // an HWND
#endif

    explicit EmbeddedView(ViewSource& source);
    ~EmbeddedView() override;
    EmbeddedView(const EmbeddedView&) = delete;
    EmbeddedView& operator=(const EmbeddedView&) = delete;

    // Opens the window inside `parent` at the current size and draws it; false when that fails
    // (on Linux: no display). Windows' window keeps its own frame timer.
    bool open(Parent parent);
    // Ends a drag under way (a gesture is always closed) and closes the window.
    void close();
    bool isOpen() const {
        return window.isOpen();
    }
#if defined(__linux__)
    // The X connection, for the host's loop to watch; -1 while closed.
    int connectionFd() const {
        return window.connectionFd();
    }
    // Everything waiting on the connection.
    void handleEvents() {
        window.handleEvents();
    }
#endif

    PixelSize size() const {
        return {width, height};
    }
    // Any size of at least a pixel; the picture scales to fit it.
    void setSize(PixelSize size);
    void setVisible(bool visible);

    // A frame's time: the newest values, drawn when they changed the picture.
    void nextFrame();
    // The host's frame timer. On Linux it first takes the events Xlib has already queued: Xlib
    // reads events into its queue whenever it waits to write (a picture is a large request), and
    // those never make the connection readable again, so a click would wait for the next event.
    void timerTick() {
#if defined(__linux__)
        window.handleEvents();
#endif
        nextFrame();
    }

  private:
    // Takes the newest values; true when the picture changed.
    bool refreshScene();
    float scale() const;
    void afterInput();

    // WindowClient
    void frame() override {
        nextFrame();
    }
    void paint(Painter& painter, int w, int h) override;
    void mousePress(float x, float y, Modifiers modifiers, double seconds) override;
    void mouseMove(float x, float y, Modifiers modifiers) override;
    void mouseRelease() override;
    void mouseWheel(float x, float y, float notches, Modifiers modifiers) override;
    void keyPressed(Key key) override;
    void textTyped(std::string_view text) override;
    void focusLost() override;
    bool wantsKeyboard() const override {
        return interaction.wantsKeyboard();
    }

    // EditSink
    void beginEdit(Control control) override {
        source.beginControlEdit(control);
    }
    void performEdit(Control control, double normalised) override {
        source.performControlEdit(control, normalised);
    }
    void endEdit(Control control) override {
        source.endControlEdit(control);
    }

    ViewSource& source;
    PlatformWindow window;
    Interaction interaction;
    Scene scene;
    Scene drawn;
    int width = 0;
    int height = 0;
    bool visible = true;
};

#endif

}  // namespace editor
