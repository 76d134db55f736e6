// The CLAP GUI extension's object: the editor embedded in the host's window, "x11" on Linux and
// "win32" on Windows, never floating. It exists between the host's `create` and `destroy`.
//
// On Linux it runs on the host's main loop alone: a timer from the host's timer-support
// extension redraws about 30 times a second when the picture changed, and the host's
// posix-fd-support extension watches the X connection and calls back when events wait. Without
// both the GUI is refused: nothing would ever draw or answer the mouse. The X connection opens
// only in `set_parent`, so creating the GUI, like loading and rendering, needs no display.
// On Windows the window's own timer and messages come through the host's message loop.
#pragma once

#include <cstdint>
#include <memory>

#include "clap/clap_abi.h"
#include "editor/embedded_view.h"

#if !ZELKO_EDITOR_HAS_WINDOW
#error "the CLAP plug-in is built for Linux (X11) and Windows, where the editor has a window"
#endif

namespace clapglue {

// The host's extensions the GUI runs on, asked for once at the plug-in's init.
struct GuiHost {
    const clapabi::clap_host_t* host = nullptr;
    const clapabi::clap_host_gui_t* gui = nullptr;
    const clapabi::clap_host_timer_support_t* timers = nullptr;
    const clapabi::clap_host_posix_fd_support_t* fds = nullptr;

    static GuiHost of(const clapabi::clap_host_t* host);
    // Whether this build has a window for `api` (embedded) and this host can serve it.
    bool supports(const char* api, bool isFloating) const;
};

// The window API this build embeds into.
const char* ourWindowApi();

class Gui {
  public:
    // A GUI for a host that `supports` it; null when the host will not give it a timer.
    static std::unique_ptr<Gui> create(const GuiHost& host, editor::ViewSource& source);
    ~Gui();
    Gui(const Gui&) = delete;
    Gui& operator=(const Gui&) = delete;

    bool setParent(const clapabi::clap_window_t* window);
    // The host's scale for this screen: the picture's size at that scale, asked of the host when
    // the window is already shown.
    bool setScale(double scale);
    editor::PixelSize size() const { return view.size(); }
    void setSize(editor::PixelSize size) { view.setSize(size); }
    void setVisible(bool visible) { view.setVisible(visible); }

    void onTimer(clapabi::clap_id timer);
    void onFd(int fd);

  private:
    Gui(const GuiHost& host, editor::ViewSource& source);
    void closeWindow();

    GuiHost host;
    editor::EmbeddedView view;
    clapabi::clap_id timer = clapabi::CLAP_INVALID_ID;
    int watchedFd = -1;
};

}  // namespace clapglue
