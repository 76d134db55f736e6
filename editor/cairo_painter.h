// The painter on cairo: the Linux editor's window surface, and image surfaces in the tests and
// for screenshots. Text uses cairo's own font selection with the generic "sans-serif" family,
// which fontconfig resolves to whatever sans font the system has (DejaVu Sans on most).
#pragma once

#include <cairo.h>

#include "editor/painter.h"

namespace editor {

class CairoPainter final : public Painter {
  public:
    explicit CairoPainter(cairo_t* context) : cr(context) {}

    void fillRect(const Rect& r, Colour c) override;
    void strokeRect(const Rect& r, float width, Colour c) override;
    void line(float x0, float y0, float x1, float y1, float width, Colour c) override;
    void arc(float cx, float cy, float radius, float from, float to, float width,
             Colour c) override;
    void fillCircle(float cx, float cy, float radius, Colour c) override;
    void text(const Rect& box, std::string_view text, float size, Align align, bool bold,
              Colour c) override;
    float textWidth(std::string_view text, float size, bool bold) override;
    void clip(const Rect& r) override;
    void unclip() override;

  private:
    void colour(Colour c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }
    cairo_t* cr;
    int clips = 0;
};

}  // namespace editor
