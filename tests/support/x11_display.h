// A private X server for the editor tests: Xvfb on a display number of its own, started once per
// test programme and stopped at its end, with helpers to make a host window, read its pixels and
// move the mouse and type through XTest. Tests skip when the machine has no Xvfb.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cairo.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace xtest {

class Server {
  public:
    // The shared server, started on first use; null when there is none.
    static Server* get() {
        static Server server;
        return server.display ? &server : nullptr;
    }
    Display* display = nullptr;

    ~Server() {
        if (display) XCloseDisplay(display);
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }

  private:
    Server() {
        const std::string xvfb = "/usr/bin/Xvfb";
        if (access(xvfb.c_str(), X_OK) != 0) return;
        const int number = 180 + static_cast<int>(getpid() % 400);
        std::string name = ":";
        name += std::to_string(number);
        pid = fork();
        if (pid == 0) {
            execl(xvfb.c_str(), "Xvfb", name.c_str(), "-screen", "0", "1700x1000x24", "-nolisten",
                  "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return;
        setenv("DISPLAY", name.c_str(), 1);
        for (int tries = 0; tries < 100 && display == nullptr; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            display = XOpenDisplay(name.c_str());
        }
    }
    pid_t pid = -1;
};

// A top-level window of the test host, at the screen's top-left corner.
inline Window hostWindow(Display* display, int width, int height, int x = 0) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    const Window window =
        XCreateWindow(display, DefaultRootWindow(display), x, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

// A window's pixels as 0xRRGGBB, row by row.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Pixels that differ from another image inside a rectangle.
    int differences(const Image& other, int x0, int y0, int w, int h) const {
        int count = 0;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) count += at(x, y) != other.at(x, y);
        }
        return count;
    }
    void savePng(const std::string& path) const {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        auto* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
            for (int x = 0; x < width; ++x) row[x] = at(x, y);
        }
        cairo_surface_mark_dirty(surface);
        cairo_surface_write_to_png(surface, path.c_str());
        cairo_surface_destroy(surface);
    }
};

inline Image capture(Display* display, Window window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    Image image;
    image.width = attributes.width;
    image.height = attributes.height;
    XImage* x = XGetImage(display, window, 0, 0, static_cast<unsigned>(image.width),
                          static_cast<unsigned>(image.height), AllPlanes, ZPixmap);
    image.pixels.resize(static_cast<std::size_t>(image.width * image.height));
    for (int y = 0; y < image.height; ++y) {
        for (int px = 0; px < image.width; ++px) {
            image.pixels[static_cast<std::size_t>(y * image.width + px)] =
                static_cast<std::uint32_t>(XGetPixel(x, px, y)) & 0xFFFFFF;
        }
    }
    XDestroyImage(x);
    return image;
}

// The pointer to a screen position, a button pressed or released there.
inline void moveTo(Display* display, int x, int y) {
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    XFlush(display);
}
inline void button(Display* display, bool down) {
    XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
    XFlush(display);
}
inline void click(Display* display, int x, int y) {
    moveTo(display, x, y);
    button(display, true);
    button(display, false);
}

// A key pressed and released, with Shift held when the key symbol is on the key's shifted level.
inline void key(Display* display, KeySym symbol) {
    const KeyCode code = XKeysymToKeycode(display, symbol);
    const bool shifted = XkbKeycodeToKeysym(display, code, 0, 0) != symbol;
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    if (shifted) XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XFlush(display);
}
// ASCII text typed key by key: printable Latin-1 characters are their own key symbols.
inline void type(Display* display, std::string_view text) {
    for (const char c : text) key(display, static_cast<KeySym>(static_cast<unsigned char>(c)));
}

}  // namespace xtest
