// The few drawing operations the editor needs, in pixels, so that one drawing function serves
// every system: cairo on Linux, GDI+ on Windows, and a recorder in the tests.
#pragma once

#include <string_view>

struct Colour {
    float r, g, b, a = 1.0f;
};

struct Rect {
    float x = 0.0f, y = 0.0f, w = 0.0f, h = 0.0f;

    constexpr float right() const { return x + w; }
    constexpr float bottom() const { return y + h; }
    constexpr bool contains(float px, float py) const {
        return px >= x && px < x + w && py >= y && py < y + h;
    }
    constexpr Rect scaled(float s) const { return {x * s, y * s, w * s, h * s}; }
    constexpr Rect inset(float d) const { return {x + d, y + d, w - 2 * d, h - 2 * d}; }
};

enum class Align { left, centre, right };

class Painter {
  public:
    virtual ~Painter() = default;
    virtual void fillRect(const Rect& r, Colour c) = 0;
    virtual void strokeRect(const Rect& r, float width, Colour c) = 0;
    virtual void line(float x0, float y0, float x1, float y1, float width, Colour c) = 0;
    // An arc of the circle around (cx, cy), angles in radians clockwise from the x axis (screen
    // coordinates grow downward).
    virtual void arc(float cx, float cy, float radius, float from, float to, float width,
                     Colour c) = 0;
    virtual void fillCircle(float cx, float cy, float radius, Colour c) = 0;
    // Text on one line, vertically centred in `box` and aligned within it; `size` is the font's
    // em height in pixels.
    virtual void text(const Rect& box, std::string_view text, float size, Align align, bool bold,
                      Colour c) = 0;
    // How far `text` advances at that size: where a caret after it stands.
    virtual float textWidth(std::string_view text, float size, bool bold) = 0;
    // Later drawing stays inside `r` until `unclip`.
    virtual void clip(const Rect& r) = 0;
    virtual void unclip() = 0;
};
