// The editor's X11 window: a child of the host's window, with its own display connection, opened
// only when a view is attached (so loading the plug-in never needs a display), drawn with cairo.
// It does nothing on its own time: the host's run loop tells it when the connection has events
// (`connectionFd`, `handleEvents`) and when to redraw. It takes the keyboard focus while its
// client wants keys, and gives it back after.
#pragma once

#include <memory>

#include "editor/window_client.h"

namespace editor {

class X11Window {
  public:
    using Client = WindowClient;

    explicit X11Window(Client& client);
    ~X11Window();
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // Opens a connection to the display named by DISPLAY and a window inside `parent`; false
    // when either fails.
    bool open(unsigned long parent, int width, int height);
    void close();
    bool isOpen() const;

    unsigned long windowId() const;
    int connectionFd() const;
    // Handles every event waiting on the connection.
    void handleEvents();
    void resize(int width, int height);
    // Maps or unmaps the window; it keeps its place in the host's window.
    void setVisible(bool visible);
    // Draws the whole window now.
    void redraw();

  private:
    void followKeyboard();

    struct State;
    Client& client;
    std::unique_ptr<State> state;
};

}  // namespace editor
