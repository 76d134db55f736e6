// What the Windows test hosts that open an editor share: Unix paths as wine sees them, a host
// window, the message loop that serves the editor's timer and painting, and the screen's pixels
// under the window written to a file (width and height as two 32-bit integers, then 0x00RRGGBB
// words row by row) for the native test to compare with the Linux editor.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace wineeditor {

// Unix paths map to drive Z:.
inline std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// A top-most window at the screen's top-left corner, for the editor to embed into.
inline HWND hostWindow(int width, int height) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZelkoTestHost";
    RegisterClassW(&windowClass);
    return CreateWindowExW(WS_EX_TOPMOST, L"ZelkoTestHost", L"host",
                           WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}

// Runs the message loop for about `milliseconds`: the editor's timer and paint messages come here.
inline void pumpMessages(int milliseconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (GetTickCount() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

// The screen's top-left width x height pixels into `path`; false when it cannot be written.
inline bool writeScreen(const std::string& path, int width, int height) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    bool written = false;
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        const std::int32_t size[2] = {width, height};
        const auto pixels = static_cast<std::size_t>(width * height);
        written = std::fwrite(size, sizeof size, 1, file) == 1 &&
                  std::fwrite(bits, 4, pixels, file) == pixels;
        written = std::fclose(file) == 0 && written;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

}  // namespace wineeditor
