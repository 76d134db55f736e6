// The painter on GDI+, which every Windows has: nothing to ship beside the DLL. Text uses the
// first sans-serif family the system has of Segoe UI (Windows Vista on), Tahoma and Arial (every
// Windows), Liberation Sans and DejaVu Sans (wine on Linux).
#pragma once

#include <windows.h>
// GDI+'s headers expect min and max from windows.h, which NOMINMAX-free builds provide.
#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <memory>

#include "editor/painter.h"

namespace editor {

class GdiplusPainter final : public Painter {
  public:
    explicit GdiplusPainter(Gdiplus::Graphics& graphics);

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
    Gdiplus::Graphics& g;
    std::unique_ptr<Gdiplus::FontFamily> family;
};

// GDI+ started for as long as one window needs it.
class GdiplusSession {
  public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

  private:
    ULONG_PTR token = 0;
};

}  // namespace editor
