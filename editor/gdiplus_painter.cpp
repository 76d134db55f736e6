#include "editor/gdiplus_painter.h"

#include <algorithm>
#include <string>

namespace editor {
namespace {

Gdiplus::Color colourOf(Colour c) {
    const auto byte = [](float v) {
        return static_cast<BYTE>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
    };
    return Gdiplus::Color(byte(c.a), byte(c.r), byte(c.g), byte(c.b));
}

// UTF-8 to the UTF-16 GDI+ draws; the editor's texts are ASCII, so this stays simple.
std::wstring wide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (const char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return out;
}

constexpr float degreesPerRadian = 57.29577951f;

}  // namespace

GdiplusPainter::GdiplusPainter(Gdiplus::Graphics& graphics) : g(graphics) {
    // Wine's GDI+ sees only the host system's fonts, where Arial's metric twin Liberation Sans
    // or DejaVu Sans stand in.
    for (const wchar_t* name :
         {L"Segoe UI", L"Tahoma", L"Arial", L"Liberation Sans", L"DejaVu Sans"}) {
        family = std::make_unique<Gdiplus::FontFamily>(name);
        if (family->GetLastStatus() == Gdiplus::Ok) break;
        family.reset();
    }
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
}

void GdiplusPainter::fillRect(const Rect& r, Colour c) {
    Gdiplus::SolidBrush brush(colourOf(c));
    g.FillRectangle(&brush, r.x, r.y, r.w, r.h);
}

void GdiplusPainter::strokeRect(const Rect& r, float width, Colour c) {
    Gdiplus::Pen pen(colourOf(c), width);
    g.DrawRectangle(&pen, r.x + width / 2, r.y + width / 2, r.w - width, r.h - width);
}

void GdiplusPainter::line(float x0, float y0, float x1, float y1, float width, Colour c) {
    Gdiplus::Pen pen(colourOf(c), width);
    g.DrawLine(&pen, x0, y0, x1, y1);
}

void GdiplusPainter::arc(float cx, float cy, float radius, float from, float to, float width,
                         Colour c) {
    Gdiplus::Pen pen(colourOf(c), width);
    g.DrawArc(&pen, cx - radius, cy - radius, 2 * radius, 2 * radius, from * degreesPerRadian,
              (to - from) * degreesPerRadian);
}

void GdiplusPainter::fillCircle(float cx, float cy, float radius, Colour c) {
    Gdiplus::SolidBrush brush(colourOf(c));
    g.FillEllipse(&brush, cx - radius, cy - radius, 2 * radius, 2 * radius);
}

void GdiplusPainter::text(const Rect& box, std::string_view words, float size, Align align,
                          bool bold, Colour c) {
    if (!family) return;
    Gdiplus::Font font(family.get(), size,
                       bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular,
                       Gdiplus::UnitPixel);
    Gdiplus::StringFormat format(Gdiplus::StringFormatFlagsNoWrap |
                                 Gdiplus::StringFormatFlagsNoClip);
    format.SetAlignment(align == Align::left     ? Gdiplus::StringAlignmentNear
                        : align == Align::centre ? Gdiplus::StringAlignmentCenter
                                                 : Gdiplus::StringAlignmentFar);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::SolidBrush brush(colourOf(c));
    const std::wstring line = wide(words);
    g.DrawString(line.c_str(), static_cast<INT>(line.size()), &font,
                 Gdiplus::RectF(box.x, box.y, box.w, box.h), &format, &brush);
}

// Measured as `text` draws it, less the padding GDI+ puts before the first glyph, so that a caret
// after the text stands where its last glyph ends.
float GdiplusPainter::textWidth(std::string_view words, float size, bool bold) {
    if (!family || words.empty()) return 0.0f;
    Gdiplus::Font font(family.get(), size,
                       bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular,
                       Gdiplus::UnitPixel);
    Gdiplus::StringFormat format(Gdiplus::StringFormatFlagsNoWrap |
                                 Gdiplus::StringFormatFlagsNoClip);
    const std::wstring line = wide(words);
    Gdiplus::RectF bounds;
    g.MeasureString(line.c_str(), static_cast<INT>(line.size()), &font, Gdiplus::PointF(0, 0),
                    &format, &bounds);
    return std::max(0.0f, bounds.Width - size / 3.0f);
}

void GdiplusPainter::clip(const Rect& r) {
    g.SetClip(Gdiplus::RectF(r.x, r.y, r.w, r.h));
}

void GdiplusPainter::unclip() {
    g.ResetClip();
}

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
    if (token != 0) Gdiplus::GdiplusShutdown(token);
}

}  // namespace editor
