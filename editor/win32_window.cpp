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
    return Modifiers{(GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT) != 0};
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
            return 0;
        case WM_MOUSEMOVE:
            state->client->mouseMove(x, y, modifiersOf(wParam));
            return 0;
        case WM_LBUTTONUP:
            ReleaseCapture();
            state->client->mouseRelease();
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
