// What a platform window asks of the editor it shows: a picture, and what the mouse and the
// keyboard did. Positions are in the window's pixels.
#pragma once

#include "editor/editor.h"

namespace editor {

class WindowClient {
  public:
    virtual ~WindowClient() = default;
    virtual void paint(Painter& painter, int width, int height) = 0;
    virtual void mousePress(float x, float y, Modifiers modifiers, double seconds) = 0;
    virtual void mouseMove(float x, float y, Modifiers modifiers) = 0;
    virtual void mouseRelease() = 0;
    virtual void mouseWheel(float x, float y, float notches, Modifiers modifiers) = 0;
    // The keyboard: a key the value entry knows, typed text (UTF-8), and the keyboard focus
    // gone to another window. The window takes the focus only while the client wants keys.
    virtual void keyPressed(Key) {}
    virtual void textTyped(std::string_view) {}
    virtual void focusLost() {}
    virtual bool wantsKeyboard() const { return false; }
    // A frame's time has passed, on windows that keep their own timer.
    virtual void frame() {}
};

}  // namespace editor
