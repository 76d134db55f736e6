#include "clap/gui.h"

#include <cmath>
#include <cstring>

namespace clapglue {

using namespace clapabi;

namespace {

template <typename Extension>
const Extension* hostExtension(const clap_host_t* host, const char* id) {
    if (host == nullptr || host->get_extension == nullptr) return nullptr;
    return static_cast<const Extension*>(host->get_extension(host, id));
}

}  // namespace

const char* ourWindowApi() {
#if defined(_WIN32)
    return CLAP_WINDOW_API_WIN32;
#else
    return CLAP_WINDOW_API_X11;
#endif
}

GuiHost GuiHost::of(const clap_host_t* host) {
    GuiHost found;
    found.host = host;
    found.gui = hostExtension<clap_host_gui_t>(host, CLAP_EXT_GUI);
    if (found.gui != nullptr && found.gui->request_resize == nullptr) found.gui = nullptr;
    found.timers = hostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT);
    if (found.timers != nullptr &&
        (found.timers->register_timer == nullptr || found.timers->unregister_timer == nullptr)) {
        found.timers = nullptr;
    }
    found.fds = hostExtension<clap_host_posix_fd_support_t>(host, CLAP_EXT_POSIX_FD_SUPPORT);
    if (found.fds != nullptr &&
        (found.fds->register_fd == nullptr || found.fds->unregister_fd == nullptr)) {
        found.fds = nullptr;
    }
    return found;
}

bool GuiHost::supports(const char* api, bool isFloating) const {
    if (isFloating || api == nullptr || std::strcmp(api, ourWindowApi()) != 0) return false;
#if defined(__linux__)
    return timers != nullptr && fds != nullptr;
#else
    return true;
#endif
}

Gui::Gui(const GuiHost& owner, editor::ViewSource& source) : host(owner), view(source) {}

std::unique_ptr<Gui> Gui::create(const GuiHost& host, editor::ViewSource& source) {
    std::unique_ptr<Gui> gui(new Gui(host, source));
#if defined(__linux__)
    if (host.timers == nullptr ||
        !host.timers->register_timer(host.host, editor::frameMilliseconds, &gui->timer)) {
        gui->timer = CLAP_INVALID_ID;
        return nullptr;
    }
#endif
    return gui;
}

Gui::~Gui() {
    closeWindow();
#if defined(__linux__)
    if (timer != CLAP_INVALID_ID) host.timers->unregister_timer(host.host, timer);
#endif
}

void Gui::closeWindow() {
#if defined(__linux__)
    if (watchedFd >= 0) host.fds->unregister_fd(host.host, watchedFd);
    watchedFd = -1;
#endif
    view.close();
}

bool Gui::setParent(const clap_window_t* window) {
    if (window == nullptr || window->api == nullptr ||
        std::strcmp(window->api, ourWindowApi()) != 0) {
        return false;
    }
    closeWindow();
#if defined(__linux__)
    if (window->x11 == 0 || !view.open(window->x11)) return false;
    const int fd = view.connectionFd();
    if (!host.fds->register_fd(host.host, fd, CLAP_POSIX_FD_READ)) {
        view.close();
        return false;
    }
    watchedFd = fd;
#else
    if (window->win32 == nullptr || !view.open(window->win32)) return false;
#endif
    return true;
}

bool Gui::setScale(double scale) {
    if (!(scale > 0.0) || !std::isfinite(scale) || scale > 16.0) return false;
    const editor::PixelSize wanted =
        editor::sizeForWidth(editor::designPixels(editor::designWidth, static_cast<float>(scale)));
    if (wanted == view.size()) return true;
    // A shown window grows only with the host's room for it; before that the host asks our size.
    if (view.isOpen()) {
        if (host.gui == nullptr ||
            !host.gui->request_resize(host.host, static_cast<std::uint32_t>(wanted.width),
                                      static_cast<std::uint32_t>(wanted.height))) {
            return false;
        }
    }
    view.setSize(wanted);
    return true;
}

void Gui::onTimer(clap_id id) {
    if (id == timer) view.timerTick();
}

void Gui::onFd(int fd) {
#if defined(__linux__)
    if (fd == watchedFd && watchedFd >= 0) view.handleEvents();
#else
    (void)fd;
#endif
}

}  // namespace clapglue
