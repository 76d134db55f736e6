// The editor's window on Windows: a child of the host's window, drawn with GDI+ into memory and
// copied to the screen in one piece. Its timer and messages come through the host's own message
// loop, as every Windows window's do.
#pragma once

#include <memory>

#include "editor/window_client.h"

namespace editor {

class Win32Window {
  public:
    using Client = WindowClient;

    explicit Win32Window(Client& client);
    ~Win32Window();
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // A window inside `parent` (an HWND) with a timer of `frameMilliseconds`.
    bool open(void* parent, int width, int height, unsigned frameMilliseconds);
    void close();
    bool isOpen() const;
    void resize(int width, int height);
    void setVisible(bool visible);
    // Draws the whole window now.
    void redraw();

    struct State;

  private:
    Client& client;
    std::unique_ptr<State> state;
};

}  // namespace editor
