#include "editor/cairo_painter.h"

#include <string>

namespace editor {

void CairoPainter::fillRect(const Rect& r, Colour c) {
    colour(c);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

void CairoPainter::strokeRect(const Rect& r, float width, Colour c) {
    colour(c);
    cairo_set_line_width(cr, width);
    // Inset by half the line so that the stroke stays inside the rectangle.
    cairo_rectangle(cr, r.x + width / 2, r.y + width / 2, r.w - width, r.h - width);
    cairo_stroke(cr);
}

void CairoPainter::line(float x0, float y0, float x1, float y1, float width, Colour c) {
    colour(c);
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void CairoPainter::arc(float cx, float cy, float radius, float from, float to, float width,
                       Colour c) {
    colour(c);
    cairo_set_line_width(cr, width);
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, radius, from, to);
    cairo_stroke(cr);
}

void CairoPainter::fillCircle(float cx, float cy, float radius, Colour c) {
    colour(c);
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, radius, 0.0, 6.283185307179586);
    cairo_fill(cr);
}

void CairoPainter::text(const Rect& box, std::string_view words, float size, Align align, bool bold,
                        Colour c) {
    // Measuring selects the face and size the line is then shown in.
    const double advance = textWidth(words, size, bold);
    const std::string line(words);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    double x = box.x;
    if (align == Align::centre) x = box.x + (box.w - advance) / 2;
    if (align == Align::right) x = box.x + box.w - advance;
    // The baseline that centres the font's ascent and descent in the box.
    const double y = box.y + (box.h + font.ascent - font.descent) / 2;
    colour(c);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, line.c_str());
}

float CairoPainter::textWidth(std::string_view words, float size, bool bold) {
    const std::string line(words);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, line.c_str(), &extents);
    return static_cast<float>(extents.x_advance);
}

void CairoPainter::clip(const Rect& r) {
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_clip(cr);
    ++clips;
}

void CairoPainter::unclip() {
    if (clips == 0) return;
    cairo_restore(cr);
    --clips;
}

}  // namespace editor
