#include "editor/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "editor/cairo_painter.h"

namespace editor {
namespace {

// A host may destroy its window, and ours inside it, before it removes the view; drawing into it
// then is an X error, and Xlib's default handler ends the process. Errors on our own connections
// are ours and mean nothing worse than a lost frame, so they are ignored; any other connection's
// go to the handler that was there before. The handler is put back when our last connection
// closes, unless the host has set one of its own since, so that no handler of an unloaded module
// is left behind.
std::mutex connectionsLock;
std::vector<Display*> connections;
XErrorHandler previousHandler = nullptr;

int onXError(Display* display, XErrorEvent* error) {
    {
        const std::lock_guard<std::mutex> lock(connectionsLock);
        if (std::find(connections.begin(), connections.end(), display) != connections.end()) {
            return 0;
        }
    }
    return previousHandler != nullptr ? previousHandler(display, error) : 0;
}

void addConnection(Display* display) {
    const std::lock_guard<std::mutex> lock(connectionsLock);
    if (connections.empty()) previousHandler = XSetErrorHandler(onXError);
    connections.push_back(display);
}

void removeConnection(Display* display) {
    const std::lock_guard<std::mutex> lock(connectionsLock);
    std::erase(connections, display);
    if (!connections.empty()) return;
    const XErrorHandler current = XSetErrorHandler(previousHandler);
    if (current != onXError) XSetErrorHandler(current);
}

}  // namespace

// The picture is drawn by cairo into memory and sent to the window as an image. Cairo's own X
// surfaces would keep glyphs and fonts on the X server, shared between every connection of the
// process; with two views open (two connections) freeing them fails on the server, and an X error
// ends the host. An image is also drawn exactly as the tests and screenshots draw it.
struct X11Window::State {
    Display* display = nullptr;
    Window window = 0;
    GC gc = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    cairo_surface_t* surface = nullptr;
    int width = 0;
    int height = 0;
    // Whether we asked for the keyboard focus, and who had it then, to give it back.
    bool focused = false;
    Window previousFocus = None;

    void makeSurface() {
        if (surface != nullptr) cairo_surface_destroy(surface);
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    }
};

X11Window::X11Window(Client& owner) : client(owner) {}

X11Window::~X11Window() {
    close();
}

bool X11Window::open(unsigned long parent, int width, int height) {
    close();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    addConnection(display);
    auto opened = std::make_unique<State>();
    opened->display = display;
    opened->width = width > 0 ? width : 1;
    opened->height = height > 0 ? height : 1;
    XSetWindowAttributes attributes{};
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            StructureNotifyMask | KeyPressMask | FocusChangeMask;
    attributes.background_pixmap = None;
    const int screen = DefaultScreen(display);
    opened->window = XCreateWindow(
        display, static_cast<Window>(parent), 0, 0, static_cast<unsigned>(opened->width),
        static_cast<unsigned>(opened->height), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWEventMask | CWBackPixmap, &attributes);
    // XEmbed: protocol version 0, mapped. Hosts that embed by XEmbed read this before showing us.
    const Atom embedInfo = XInternAtom(display, "_XEMBED_INFO", False);
    const long info[2] = {0, 1};
    XChangeProperty(display, opened->window, embedInfo, embedInfo, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(info), 2);
    opened->gc = XCreateGC(display, opened->window, 0, nullptr);
    opened->visual = DefaultVisual(display, screen);
    opened->depth = DefaultDepth(display, screen);
    opened->makeSurface();
    XMapWindow(display, opened->window);
    XFlush(display);
    state = std::move(opened);
    return true;
}

void X11Window::close() {
    if (!state) return;
    cairo_surface_destroy(state->surface);
    XFreeGC(state->display, state->gc);
    XDestroyWindow(state->display, state->window);
    // Any error the window's end causes arrives before the connection leaves our list.
    XSync(state->display, False);
    removeConnection(state->display);
    XCloseDisplay(state->display);
    state.reset();
}

bool X11Window::isOpen() const {
    return state != nullptr;
}

unsigned long X11Window::windowId() const {
    return state ? state->window : 0;
}

int X11Window::connectionFd() const {
    return state ? ConnectionNumber(state->display) : -1;
}

void X11Window::resize(int width, int height) {
    if (!state || width <= 0 || height <= 0) return;
    state->width = width;
    state->height = height;
    XResizeWindow(state->display, state->window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    state->makeSurface();
    redraw();
}

void X11Window::setVisible(bool visible) {
    if (!state) return;
    if (visible)
        XMapWindow(state->display, state->window);
    else
        XUnmapWindow(state->display, state->window);
    XFlush(state->display);
}

void X11Window::redraw() {
    if (!state) return;
    cairo_t* cr = cairo_create(state->surface);
    {
        CairoPainter painter(cr);
        client.paint(painter, state->width, state->height);
    }
    cairo_destroy(cr);
    cairo_surface_flush(state->surface);
    // Cairo's RGB24 is 32 bits a pixel, 0x00RRGGBB in native order: the layout of a 24-bit
    // TrueColor visual's ZPixmap, which is what X servers on PCs offer.
    XImage* image =
        XCreateImage(state->display, state->visual, static_cast<unsigned>(state->depth), ZPixmap, 0,
                     reinterpret_cast<char*>(cairo_image_surface_get_data(state->surface)),
                     static_cast<unsigned>(state->width), static_cast<unsigned>(state->height), 32,
                     cairo_image_surface_get_stride(state->surface));
    if (image == nullptr) return;
    XPutImage(state->display, state->window, state->gc, image, 0, 0, 0, 0,
              static_cast<unsigned>(state->width), static_cast<unsigned>(state->height));
    image->data = nullptr;  // cairo's
    XDestroyImage(image);
    XFlush(state->display);
}

namespace {

Modifiers modifiersOf(unsigned state) {
    return Modifiers{(state & ShiftMask) != 0, (state & ControlMask) != 0};
}

// The value entry's keys; false for a key that types text or means nothing to it.
bool entryKey(KeySym symbol, Key& key) {
    switch (symbol) {
        case XK_Return:
        case XK_KP_Enter:
            key = Key::enter;
            return true;
        case XK_Escape:
            key = Key::escape;
            return true;
        case XK_BackSpace:
            key = Key::backspace;
            return true;
        case XK_Delete:
        case XK_KP_Delete:
            key = Key::del;
            return true;
        case XK_Left:
        case XK_KP_Left:
            key = Key::left;
            return true;
        case XK_Right:
        case XK_KP_Right:
            key = Key::right;
            return true;
        case XK_Home:
        case XK_KP_Home:
            key = Key::home;
            return true;
        case XK_End:
        case XK_KP_End:
            key = Key::end;
            return true;
        default:
            return false;
    }
}

}  // namespace

// An embedded window gets keys only with the keyboard focus: it is asked for while the client
// wants keys (a value being typed) and given back to whoever had it once the client is done.
void X11Window::followKeyboard() {
    if (!state) return;
    const bool wanted = client.wantsKeyboard();
    if (wanted && !state->focused) {
        int revert = 0;
        XGetInputFocus(state->display, &state->previousFocus, &revert);
        XSetInputFocus(state->display, state->window, RevertToParent, CurrentTime);
        state->focused = true;
    } else if (!wanted && state->focused) {
        state->focused = false;
        Window now = None;
        int revert = 0;
        XGetInputFocus(state->display, &now, &revert);
        if (now == state->window && state->previousFocus != None &&
            state->previousFocus != PointerRoot && state->previousFocus != state->window) {
            XSetInputFocus(state->display, state->previousFocus, RevertToParent, CurrentTime);
        }
    }
    XFlush(state->display);
}

void X11Window::handleEvents() {
    if (!state) return;
    bool exposed = false;
    // Handling an event may close the window (a press that makes the host remove the view), so
    // the state is looked at again for every event.
    while (state && XPending(state->display) > 0) {
        XEvent event;
        XNextEvent(state->display, &event);
        switch (event.type) {
            case Expose:
                exposed = true;
                break;
            case ConfigureNotify:
                if (event.xconfigure.window == state->window &&
                    (event.xconfigure.width != state->width ||
                     event.xconfigure.height != state->height)) {
                    state->width = event.xconfigure.width;
                    state->height = event.xconfigure.height;
                    state->makeSurface();
                    exposed = true;
                }
                break;
            case ButtonPress: {
                const XButtonEvent& b = event.xbutton;
                const Modifiers modifiers = modifiersOf(b.state);
                if (b.button == Button1) {
                    client.mousePress(static_cast<float>(b.x), static_cast<float>(b.y), modifiers,
                                      static_cast<double>(b.time) / 1000.0);
                } else if (b.button == Button4 || b.button == Button5) {
                    client.mouseWheel(static_cast<float>(b.x), static_cast<float>(b.y),
                                      b.button == Button4 ? 1.0f : -1.0f, modifiers);
                }
                followKeyboard();
                break;
            }
            case MotionNotify: {
                const XMotionEvent& m = event.xmotion;
                client.mouseMove(static_cast<float>(m.x), static_cast<float>(m.y),
                                 modifiersOf(m.state));
                break;
            }
            case ButtonRelease:
                if (event.xbutton.button == Button1) client.mouseRelease();
                followKeyboard();
                break;
            case KeyPress: {
                char typed[16];
                KeySym symbol = NoSymbol;
                const int count = XLookupString(&event.xkey, typed, sizeof typed, &symbol, nullptr);
                Key key;
                if (entryKey(symbol, key)) {
                    client.keyPressed(key);
                } else if (count > 0 && (event.xkey.state & ControlMask) == 0) {
                    client.textTyped({typed, static_cast<std::size_t>(count)});
                }
                followKeyboard();
                break;
            }
            case FocusOut: {
                // Focus moving inside our window, or a grab, is not a loss.
                const XFocusChangeEvent& f = event.xfocus;
                if (f.window == state->window && f.mode == NotifyNormal &&
                    f.detail != NotifyInferior && f.detail != NotifyPointer) {
                    state->focused = false;
                    client.focusLost();
                }
                break;
            }
            default:
                break;
        }
    }
    if (exposed && state) redraw();
}

}  // namespace editor
