#include "editor/win32_window.h"

#include <windowsx.h>

#include "editor/gdiplus_painter.h"

namespace editor {

struct Win32Window::State {
    Client* client = nullptr;
    HWND window = nullptr;
    GdiplusSession gdiplus;
    int width = 0;
    int height = 0;
    // Whether we took the keyboard focus, and from which window, to give it back.
    bool focused = false;
    HWND previousFocus = nullptr;
};

namespace {

constexpr UINT_PTR frameTimer = 1;
constexpr wchar_t className[] = L"ZelkoCombStereoEditor";

// The module this code is in: the plug-in's DLL, whose window class this is.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

Modifiers modifiersOf(WPARAM wParam) {
    return Modifiers{(GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) != 0,
                     (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) != 0};
}

// The keyboard focus follows the client: taken while it wants keys (a value being typed), given
// back to the window that had it once it is done.
void followKeyboard(Win32Window::State& state) {
    const bool wanted = state.client->wantsKeyboard();
    if (wanted && !state.focused) {
        state.focused = true;
        state.previousFocus = SetFocus(state.window);
    } else if (!wanted && state.focused) {
        state.focused = false;
        if (GetFocus() == state.window && state.previousFocus != nullptr &&
            IsWindow(state.previousFocus)) {
            SetFocus(state.previousFocus);
        }
    }
}

// The value entry's keys; false for a key that types text or means nothing to it.
bool entryKey(WPARAM virtualKey, Key& key) {
    switch (virtualKey) {
        case VK_RETURN:
            key = Key::enter;
            return true;
        case VK_ESCAPE:
            key = Key::escape;
            return true;
        case VK_BACK:
            key = Key::backspace;
            return true;
        case VK_DELETE:
            key = Key::del;
            return true;
        case VK_LEFT:
            key = Key::left;
            return true;
        case VK_RIGHT:
            key = Key::right;
            return true;
        case VK_HOME:
            key = Key::home;
            return true;
        case VK_END:
            key = Key::end;
            return true;
        default:
            return false;
    }
}

void paintInto(Win32Window::State& state, HDC target) {
    // Drawn in memory first, so that a frame never shows half drawn.
    Gdiplus::Bitmap buffer(state.width, state.height, PixelFormat32bppRGB);
    {
        Gdiplus::Graphics graphics(&buffer);
        GdiplusPainter painter(graphics);
        state.client->paint(painter, state.width, state.height);
    }
    Gdiplus::Graphics screen(target);
    screen.DrawImage(&buffer, 0, 0, state.width, state.height);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<Win32Window::State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (state == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    const auto x = static_cast<float>(GET_X_LPARAM(lParam));
    const auto y = static_cast<float>(GET_Y_LPARAM(lParam));
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC target = BeginPaint(window, &paint);
            paintInto(*state, target);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_TIMER:
            if (wParam == frameTimer) state->client->frame();
            return 0;
        case WM_LBUTTONDOWN:
            SetCapture(window);
            state->client->mousePress(x, y, modifiersOf(wParam),
                                      static_cast<double>(GetMessageTime()) / 1000.0);
            followKeyboard(*state);
            return 0;
        case WM_MOUSEMOVE:
            state->client->mouseMove(x, y, modifiersOf(wParam));
            return 0;
        case WM_LBUTTONUP:
            ReleaseCapture();
            state->client->mouseRelease();
            followKeyboard(*state);
            return 0;
        // Enter and Escape are ours too, not a host dialog's.
        case WM_GETDLGCODE:
            return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
        case WM_KEYDOWN: {
            Key key;
            if (!state->client->wantsKeyboard() || !entryKey(wParam, key)) {
                return DefWindowProcW(window, message, wParam, lParam);
            }
            state->client->keyPressed(key);
            followKeyboard(*state);
            return 0;
        }
        // Typed text; the control characters that Enter, Escape and Backspace also send were
        // taken as keys above.
        case WM_CHAR:
            if (!state->client->wantsKeyboard()) {
                return DefWindowProcW(window, message, wParam, lParam);
            }
            if (wParam >= 0x20 && wParam < 0x7f) {
                const char typed = static_cast<char>(wParam);
                state->client->textTyped({&typed, 1});
            }
            return 0;
        case WM_KILLFOCUS:
            if (state->focused) {
                state->focused = false;
                state->client->focusLost();
            }
            return 0;
        case WM_MOUSEWHEEL: {
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(window, &at);
            const float notches = static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA;
            state->client->mouseWheel(static_cast<float>(at.x), static_cast<float>(at.y), notches,
                                      modifiersOf(wParam));
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool registerClass(HINSTANCE module) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(module, className, &existing)) return true;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = className;
    return RegisterClassExW(&windowClass) != 0;
}

}  // namespace

Win32Window::Win32Window(Client& owner) : client(owner) {}

Win32Window::~Win32Window() {
    close();
}

bool Win32Window::open(void* parent, int width, int height, unsigned frameMilliseconds) {
    close();
    const HINSTANCE module = thisModule();
    if (!registerClass(module)) return false;
    auto opened = std::make_unique<State>();
    opened->client = &client;
    opened->width = width > 0 ? width : 1;
    opened->height = height > 0 ? height : 1;
    opened->window = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0,
                                     0, opened->width, opened->height, static_cast<HWND>(parent),
                                     nullptr, module, opened.get());
    if (opened->window == nullptr) return false;
    SetTimer(opened->window, frameTimer, frameMilliseconds, nullptr);
    state = std::move(opened);
    return true;
}

void Win32Window::close() {
    if (!state) return;
    KillTimer(state->window, frameTimer);
    SetWindowLongPtrW(state->window, GWLP_USERDATA, 0);
    DestroyWindow(state->window);
    state.reset();
}

bool Win32Window::isOpen() const {
    return state != nullptr;
}

void Win32Window::resize(int width, int height) {
    if (!state || width <= 0 || height <= 0) return;
    state->width = width;
    state->height = height;
    SetWindowPos(state->window, nullptr, 0, 0, width, height,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    redraw();
}

void Win32Window::setVisible(bool visible) {
    if (state) ShowWindow(state->window, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32Window::redraw() {
    if (!state) return;
    HDC target = GetDC(state->window);
    paintInto(*state, target);
    ReleaseDC(state->window, target);
}

}  // namespace editor
