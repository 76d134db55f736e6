#include "tools/render/analysis/report_picture.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "tools/render/analysis/utf8_text.h"

namespace render {

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;

void draw(cairo_t* cr, const StereoSummary&, const std::string& title) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 18);
    cairo_move_to(cr, 20, 30);
    cairo_show_text(cr, validUtf8(title).c_str());
}

std::string lowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

[[noreturn]] void fail(const std::string& path, cairo_status_t status) {
    throw std::runtime_error("cannot write the report picture " + path + ": " +
                             cairo_status_to_string(status));
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

void writeReportPicture(const StereoSummary& summary, const std::string& path) {
    writeReportPicture(summary, path, std::filesystem::path(path).stem().string());
}

void writeReportPicture(const StereoSummary& summary, const std::string& path,
                        const std::string& title) {
    const std::string extension = lowerExtension(path);
    const bool png = extension == ".png";
    if (!png && extension != ".svg") {
        throw std::runtime_error("a report picture must be named .png or .svg, not " + path);
    }
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        png ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight)
            : cairo_svg_surface_create(path.c_str(), kWidth, kHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        fail(path, cairo_surface_status(surface.get()));
    }
    {
        std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
        draw(cr.get(), summary, title);
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) fail(path, cairo_status(cr.get()));
    }
    if (png) {
        const cairo_status_t status = cairo_surface_write_to_png(surface.get(), path.c_str());
        if (status != CAIRO_STATUS_SUCCESS) fail(path, status);
    } else {
        cairo_surface_finish(surface.get());
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
            fail(path, cairo_surface_status(surface.get()));
        }
    }
}

}  // namespace render
