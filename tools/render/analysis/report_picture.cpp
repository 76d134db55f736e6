#include "tools/render/analysis/report_picture.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tools/render/analysis/utf8_text.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Where everything goes: a title line, three frequency panels down the left (correlation per
// band, side level per band, spectra) and the goniometer with the figures on the right.
constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr double kLeft = 80.0;
constexpr double kPlotWidth = 780.0;
constexpr double kRightColumn = 930.0;
constexpr double kGoniometerSize = 320.0;

struct Colour {
    double red, green, blue;
};
constexpr Colour kInk{0.10, 0.10, 0.12};
constexpr Colour kGrid{0.86, 0.87, 0.89};
constexpr Colour kAxisText{0.30, 0.30, 0.33};
constexpr Colour kPositive{0.18, 0.55, 0.42};
constexpr Colour kNegative{0.82, 0.26, 0.22};
constexpr Colour kSide{0.26, 0.42, 0.78};
constexpr Colour kInput{0.35, 0.35, 0.40};
constexpr Colour kMonoSum{0.88, 0.42, 0.08};
constexpr Colour kDensity{0.08, 0.20, 0.48};

void setColour(cairo_t* cr, Colour c) {
    cairo_set_source_rgb(cr, c.red, c.green, c.blue);
}

enum class Align { kLeft, kCentre, kRight };

// Writes `text` with its baseline at y, aligned on x.
void label(cairo_t* cr, double x, double y, const std::string& text, double size,
           Align align = Align::kLeft, bool bold = false) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    const std::string valid = validUtf8(text);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, valid.c_str(), &extents);
    double start = x;
    if (align == Align::kCentre) start -= extents.x_advance / 2.0;
    if (align == Align::kRight) start -= extents.x_advance;
    cairo_move_to(cr, start, y);
    cairo_show_text(cr, valid.c_str());
}

// A label read bottom to top, centred on (x, y).
void verticalLabel(cairo_t* cr, double x, double y, const std::string& text, double size) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, -kPi / 2.0);
    label(cr, 0.0, 0.0, text, size, Align::kCentre);
    cairo_restore(cr);
}

std::string fixed(double value, int decimals, bool sign = false) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;  // no "-0.00"
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    return text;
}

std::string frequencyName(double hz) {
    if (hz >= 1000.0)
        return fixed(hz / 1000.0, hz < 10000.0 && std::fmod(hz, 1000.0) ? 1 : 0) + "k";
    return fixed(hz, 0);
}

// A panel with a logarithmic frequency axis and a linear value axis.
struct FrequencyPanel {
    double x, y, width, height;
    double lowestHz, highestHz;
    double bottom, top;  // the value axis

    double xOf(double hz) const {
        return x + width * std::log(hz / lowestHz) / std::log(highestHz / lowestHz);
    }
    double yOf(double value) const {
        return y + height * (top - std::clamp(value, bottom, top)) / (top - bottom);
    }
};

// Frame, grid, ticks and labels; `valueTicks` are the values that get a grid line and a number.
void drawPanelFrame(cairo_t* cr, const FrequencyPanel& panel, const std::string& title,
                    const std::string& valueName, const std::vector<double>& valueTicks,
                    int valueDecimals) {
    cairo_set_line_width(cr, 1.0);
    setColour(cr, kGrid);
    for (const double hz :
         {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        if (hz < panel.lowestHz || hz > panel.highestHz) continue;
        const double gx = std::round(panel.xOf(hz)) + 0.5;
        cairo_move_to(cr, gx, panel.y);
        cairo_line_to(cr, gx, panel.y + panel.height);
    }
    for (const double value : valueTicks) {
        const double gy = std::round(panel.yOf(value)) + 0.5;
        cairo_move_to(cr, panel.x, gy);
        cairo_line_to(cr, panel.x + panel.width, gy);
    }
    cairo_stroke(cr);

    setColour(cr, kAxisText);
    for (const double hz :
         {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        if (hz < panel.lowestHz || hz > panel.highestHz) continue;
        label(cr, panel.xOf(hz), panel.y + panel.height + 14.0, frequencyName(hz), 11.0,
              Align::kCentre);
    }
    label(cr, panel.x + panel.width, panel.y + panel.height + 28.0, "frequency (Hz)", 11.0,
          Align::kRight);
    for (const double value : valueTicks) {
        label(cr, panel.x - 6.0, panel.yOf(value) + 4.0, fixed(value, valueDecimals, value > 0.0),
              11.0, Align::kRight);
    }
    verticalLabel(cr, panel.x - 48.0, panel.y + panel.height / 2.0, valueName, 11.0);

    setColour(cr, kInk);
    label(cr, panel.x, panel.y - 8.0, title, 14.0, Align::kLeft, true);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, panel.x + 0.5, panel.y + 0.5, panel.width - 1.0, panel.height - 1.0);
    cairo_stroke(cr);
}

void clipTo(cairo_t* cr, const FrequencyPanel& panel) {
    cairo_rectangle(cr, panel.x, panel.y, panel.width, panel.height);
    cairo_clip(cr);
}

// One bar per band, from `base` to the band's value; bands without a finite value get none.
template <class ValueOf, class ColourOf>
void drawBandBars(cairo_t* cr, const FrequencyPanel& panel,
                  const std::vector<BandStatistics>& bands, double base, ValueOf valueOf,
                  ColourOf colourOf) {
    cairo_save(cr);
    clipTo(cr, panel);
    for (const auto& band : bands) {
        const double value = valueOf(band);
        if (std::isnan(value) || value == -kInfinity) continue;
        const double left = panel.xOf(std::max(band.lowHz, panel.lowestHz)) + 1.5;
        const double right = panel.xOf(std::min(band.highHz, panel.highestHz)) - 1.5;
        const double from = panel.yOf(base);
        const double to = panel.yOf(value);
        setColour(cr, colourOf(value));
        cairo_rectangle(cr, left, std::min(from, to), right - left,
                        std::max(std::fabs(to - from), 1.0));
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void dashedLevel(cairo_t* cr, const FrequencyPanel& panel, double value, const std::string& text) {
    if (!std::isfinite(value)) return;
    const double gy = panel.yOf(value);
    const double dash[] = {6.0, 4.0};
    cairo_save(cr);
    setColour(cr, kInk);
    cairo_set_line_width(cr, 1.2);
    cairo_set_dash(cr, dash, 2, 0.0);
    cairo_move_to(cr, panel.x, gy);
    cairo_line_to(cr, panel.x + panel.width, gy);
    cairo_stroke(cr);
    cairo_restore(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11.0);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    const double right = panel.x + panel.width - 6.0;
    const double baseline = gy > panel.y + 20.0 ? gy - 5.0 : gy + 15.0;
    cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.85);
    cairo_rectangle(cr, right - extents.x_advance - 3.0, baseline - 11.0, extents.x_advance + 6.0,
                    14.0);
    cairo_fill(cr);
    setColour(cr, kInk);
    label(cr, right, baseline, text, 11.0, Align::kRight);
}

void panelNote(cairo_t* cr, const FrequencyPanel& panel, const std::string& text) {
    setColour(cr, kAxisText);
    label(cr, panel.x + panel.width / 2.0, panel.y + panel.height / 2.0, text, 13.0,
          Align::kCentre);
}

void drawCorrelationPanel(cairo_t* cr, const StereoSummary& summary, FrequencyPanel panel) {
    panel.bottom = -1.0;
    panel.top = 1.0;
    drawPanelFrame(cr, panel, "L/R correlation per third-octave band", "correlation",
                   {-1.0, -0.5, 0.0, 0.5, 1.0}, 1);
    drawBandBars(
        cr, panel, summary.bands, 0.0, [](const BandStatistics& b) { return b.correlation; },
        [](double value) { return value >= 0.0 ? kPositive : kNegative; });
    dashedLevel(cr, panel, summary.correlation,
                "whole file " + fixed(summary.correlation, 2, true));
    if (summary.outputSilent) panelNote(cr, panel, "the output is silent");
}

void drawSidePanel(cairo_t* cr, const StereoSummary& summary, FrequencyPanel panel) {
    // The range holds every finite band, within reason: a band where the channels nearly cancel
    // would otherwise flatten the rest.
    panel.bottom = -40.0;
    panel.top = 10.0;
    for (const auto& band : summary.bands) {
        if (!std::isfinite(band.sideToMidDb)) continue;
        panel.bottom =
            std::max(-80.0, std::min(panel.bottom, std::floor(band.sideToMidDb / 10.0) * 10.0));
        panel.top = std::min(40.0, std::max(panel.top, std::ceil(band.sideToMidDb / 10.0) * 10.0));
    }
    std::vector<double> ticks;
    for (double value = panel.bottom; value <= panel.top; value += 10.0) ticks.push_back(value);
    drawPanelFrame(cr, panel, "Side level against mid per third-octave band", "side / mid (dB)",
                   ticks, 0);
    drawBandBars(
        cr, panel, summary.bands, panel.bottom,
        [](const BandStatistics& b) { return b.sideToMidDb; }, [](double) { return kSide; });
    dashedLevel(cr, panel, summary.sideToMidDb,
                "whole file " + fixed(summary.sideToMidDb, 1, true) + " dB");
    if (summary.sideToMidDb == -kInfinity) {
        panelNote(cr, panel, "no side signal: the output is mono");
    } else if (summary.outputSilent) {
        panelNote(cr, panel, "the output is silent");
    }
}

// The curve of one Welch spectrum, thinned to one point per pixel column by averaging power,
// so that an hour-long file's thousands of bins per column neither blacken the plot nor hide
// the notches that a column can show.
void drawSpectrum(cairo_t* cr, const FrequencyPanel& panel, const StereoSummary& summary,
                  const std::vector<double>& levelsDb, Colour colour, double width) {
    cairo_save(cr);
    clipTo(cr, panel);
    setColour(cr, colour);
    cairo_set_line_width(cr, width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    bool drawing = false;
    double power = 0.0, logHz = 0.0;
    int count = 0;
    int column = -1;
    const auto emit = [&] {
        if (count == 0) return;
        const double level = power > 0.0 ? 10.0 * std::log10(power / count) : -kInfinity;
        if (level == -kInfinity) {
            drawing = false;
        } else {
            const double px = panel.xOf(std::exp(logHz / count));
            const double py = panel.yOf(std::max(level, panel.bottom - 10.0));
            if (drawing) {
                cairo_line_to(cr, px, py);
            } else {
                cairo_move_to(cr, px, py);
            }
            drawing = true;
        }
        power = logHz = 0.0;
        count = 0;
    };
    for (std::size_t k = 0; k < summary.spectrumHz.size(); ++k) {
        const double hz = summary.spectrumHz[k];
        if (hz < panel.lowestHz || hz > panel.highestHz) continue;
        const int binColumn = static_cast<int>(panel.xOf(hz));
        if (binColumn != column) emit();
        column = binColumn;
        power += std::pow(10.0, levelsDb[k] / 10.0);
        logHz += std::log(hz);
        ++count;
    }
    emit();
    cairo_stroke(cr);
    cairo_restore(cr);
}

void drawSpectrumPanel(cairo_t* cr, const StereoSummary& summary, FrequencyPanel panel) {
    double loudest = -kInfinity;
    for (std::size_t k = 0; k < summary.spectrumHz.size(); ++k) {
        if (summary.spectrumHz[k] < panel.lowestHz) continue;
        loudest = std::max({loudest, summary.monoSumSpectrumDb[k], summary.inputSpectrumDb[k]});
    }
    // Some headroom above the loudest bin, and 60 dB below: deep enough for comb notches.
    panel.top = std::isfinite(loudest) ? std::ceil((loudest + 5.0) / 10.0) * 10.0 : 0.0;
    panel.bottom = panel.top - 60.0;
    std::vector<double> ticks;
    for (double value = panel.bottom; value <= panel.top; value += 10.0) ticks.push_back(value);
    drawPanelFrame(cr, panel, "Spectrum of the mono sum against the input", "level (dB)", ticks, 0);
    // The input goes on top and thinner, so that where the two agree both still show.
    drawSpectrum(cr, panel, summary, summary.monoSumSpectrumDb, kMonoSum, 2.2);
    drawSpectrum(cr, panel, summary, summary.inputSpectrumDb, kInput, 1.0);

    // The legend sits on the title line, where no curve can cover it.
    double legendX = panel.x + panel.width;
    const std::pair<Colour, const char*> entries[] = {{kMonoSum, "mono sum (L+R)/2 of the output"},
                                                      {kInput, "input to the plug-in"}};
    for (const auto& [colour, text] : entries) {
        cairo_text_extents_t extents;
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 11.0);
        cairo_text_extents(cr, text, &extents);
        legendX -= extents.x_advance;
        setColour(cr, kInk);
        label(cr, legendX, panel.y - 8.0, text, 11.0);
        legendX -= 28.0;
        setColour(cr, colour);
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, legendX, panel.y - 12.0);
        cairo_line_to(cr, legendX + 22.0, panel.y - 12.0);
        cairo_stroke(cr);
        legendX -= 18.0;
    }
}

// Density of the sampled frames, mid up and side across, scaled so that nearly all of them fit
// (the 99.5th percentile of |side| and |mid| reaches 85 % of the way to the frame; the rarer
// peaks beyond the frame are left out).
void drawGoniometer(cairo_t* cr, const StereoSummary& summary, double x, double y, double size) {
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Goniometer (mid up, side across)", 14.0, Align::kLeft, true);

    constexpr int kCells = 120;
    constexpr double kReach = 0.85;
    std::vector<float> extents;
    extents.reserve(summary.goniometer.size());
    for (const auto& p : summary.goniometer) {
        extents.push_back(std::max(std::fabs(p.side), std::fabs(p.mid)));
    }
    double scale = 0.0;
    if (!extents.empty()) {
        const std::size_t rank = extents.size() * 995 / 1000;
        std::nth_element(extents.begin(), extents.begin() + rank, extents.end());
        scale = extents[std::min(rank, extents.size() - 1)];
    }
    cairo_surface_t* density = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kCells, kCells);
    if (scale > 0.0 && cairo_surface_status(density) == CAIRO_STATUS_SUCCESS) {
        const double frameLevel = scale / kReach;
        std::vector<int> counts(kCells * kCells, 0);
        const double half = kCells / 2.0;
        for (const auto& p : summary.goniometer) {
            const int column = static_cast<int>(std::floor(half + half * p.side / frameLevel));
            const int row = static_cast<int>(std::floor(half - half * p.mid / frameLevel));
            if (column < 0 || row < 0 || column >= kCells || row >= kCells) continue;
            ++counts[row * kCells + column];
        }
        const int most = *std::max_element(counts.begin(), counts.end());
        cairo_surface_flush(density);
        unsigned char* pixels = cairo_image_surface_get_data(density);
        const int stride = cairo_image_surface_get_stride(density);
        for (int row = 0; row < kCells; ++row) {
            auto* line = reinterpret_cast<std::uint32_t*>(pixels + row * stride);
            for (int column = 0; column < kCells; ++column) {
                const int count = counts[row * kCells + column];
                // Logarithmic, so that the sparse edges of the cloud still show.
                const double shade =
                    count == 0 ? 0.0 : 0.25 + 0.75 * std::log1p(count) / std::log1p(most);
                const auto channel = [&](double c) {
                    return static_cast<std::uint32_t>(std::lround(255.0 * shade * c));
                };
                // Premultiplied alpha, as cairo stores it.
                line[column] = channel(1.0) << 24 | channel(kDensity.red) << 16 |
                               channel(kDensity.green) << 8 | channel(kDensity.blue);
            }
        }
        cairo_surface_mark_dirty(density);
    }

    setColour(cr, {0.97, 0.97, 0.98});
    cairo_rectangle(cr, x, y, size, size);
    cairo_fill(cr);
    // Guides: mono (M) up, opposite polarity (S) across, each channel alone on a diagonal.
    const double cx = x + size / 2.0, cy = y + size / 2.0, reach = size / 2.0;
    setColour(cr, kGrid);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, cx, y);
    cairo_line_to(cr, cx, y + size);
    cairo_move_to(cr, x, cy);
    cairo_line_to(cr, x + size, cy);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + size, y + size);
    cairo_move_to(cr, x + size, y);
    cairo_line_to(cr, x, y + size);
    cairo_stroke(cr);
    if (cairo_surface_status(density) == CAIRO_STATUS_SUCCESS) {
        cairo_save(cr);
        cairo_translate(cr, x, y);
        cairo_scale(cr, size / kCells, size / kCells);
        cairo_set_source_surface(cr, density, 0.0, 0.0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_surface_destroy(density);
    setColour(cr, kAxisText);
    label(cr, cx + 4.0, y + 14.0, "M", 12.0, Align::kLeft, true);
    label(cr, x + size - 4.0, cy - 5.0, "S", 12.0, Align::kRight, true);
    label(cr, x + 6.0, y + 16.0, "L", 12.0, Align::kLeft, true);
    label(cr, x + size - 6.0, y + 16.0, "R", 12.0, Align::kRight, true);
    label(cr, cx - reach, y + size + 16.0,
          scale > 0.0 ? "auto-scaled: the frame is at " +
                            fixed(20.0 * std::log10(scale / kReach), 1) + " dBFS of mid or side"
                      : "the output is silent",
          11.0);
    setColour(cr, kInk);
    cairo_rectangle(cr, x + 0.5, y + 0.5, size - 1.0, size - 1.0);
    cairo_stroke(cr);
}

// The whole file's correlation as a meter from -1 to +1.
void drawCorrelationMeter(cairo_t* cr, double correlation, double x, double y, double width) {
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Correlation, whole file", 14.0, Align::kLeft, true);
    const double height = 14.0;
    setColour(cr, kGrid);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
    if (std::isfinite(correlation)) {
        const double middle = x + width / 2.0;
        const double to = middle + correlation * width / 2.0;
        setColour(cr, correlation >= 0.0 ? kPositive : kNegative);
        cairo_rectangle(cr, std::min(middle, to), y, std::fabs(to - middle), height);
        cairo_fill(cr);
    }
    setColour(cr, kAxisText);
    label(cr, x, y + height + 14.0, "-1", 11.0);
    label(cr, x + width / 2.0, y + height + 14.0, "0", 11.0, Align::kCentre);
    label(cr, x + width, y + height + 14.0, "+1", 11.0, Align::kRight);
}

std::string levelText(double value, const char* unit, const char* whenSilent) {
    return std::isfinite(value) ? fixed(value, 1) + " " + unit : whenSilent;
}

// Integrated loudness needs one 400 ms gating block at least.
const char* unmeasured(double seconds) {
    return seconds < 0.4 ? "too short to measure" : "below the gate";
}

void drawFigures(cairo_t* cr, const StereoSummary& summary, double x, double y) {
    std::string side = levelText(summary.sideToMidDb, "dB", "silent");
    if (summary.sideToMidDb == -kInfinity) side = "no side (mono)";
    if (summary.sideToMidDb == kInfinity) side = "no mid (the channels cancel)";
    const std::pair<const char*, std::string> rows[] = {
        {"Duration",
         fixed(summary.durationSeconds, 3) + " s at " + std::to_string(summary.sampleRate) + " Hz"},
        {"Peak", levelText(summary.peakDbfs, "dBFS", "silent")},
        {"True peak", levelText(summary.truePeakDbtp, "dBTP", "silent")},
        {"Loudness out",
         levelText(summary.outputLufs, "LUFS", unmeasured(summary.durationSeconds))},
        {"Loudness in",
         levelText(summary.inputLufs, "LUFS", unmeasured(summary.inputDurationSeconds))},
        {"Correlation", std::isfinite(summary.correlation) ? fixed(summary.correlation, 3, true)
                                                           : "none (a channel is silent)"},
        {"Side / mid", side},
    };
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Figures", 14.0, Align::kLeft, true);
    double line = y + 14.0;
    for (const auto& [name, value] : rows) {
        setColour(cr, kAxisText);
        label(cr, x, line, name, 12.0);
        setColour(cr, kInk);
        label(cr, x + 110.0, line, value, 12.0, Align::kLeft, true);
        line += 20.0;
    }
}

void draw(cairo_t* cr, const StereoSummary& summary, const std::string& title) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    setColour(cr, kInk);
    label(cr, 24.0, 34.0, title, 20.0, Align::kLeft, true);
    setColour(cr, kAxisText);
    label(cr, kWidth - 24.0, 34.0, "stereo report", 13.0, Align::kRight);

    const double nyquist = summary.sampleRate / 2.0;
    FrequencyPanel panel{.x = kLeft,
                         .y = 88.0,
                         .width = kPlotWidth,
                         .height = 190.0,
                         .lowestHz = 16.0,
                         .highestHz = std::clamp(nyquist, 1000.0, 24000.0),
                         .bottom = 0.0,
                         .top = 1.0};  // each panel sets its own value range
    drawCorrelationPanel(cr, summary, panel);
    panel.y = 350.0;
    drawSidePanel(cr, summary, panel);
    panel.y = 612.0;
    panel.height = 290.0;
    drawSpectrumPanel(cr, summary, panel);

    drawGoniometer(cr, summary, kRightColumn, 88.0, kGoniometerSize);
    drawCorrelationMeter(cr, summary.correlation, kRightColumn, 470.0, kGoniometerSize);
    drawFigures(cr, summary, kRightColumn, 560.0);
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

#if defined(__SANITIZE_ADDRESS__)
// fontconfig, behind cairo's toy text, keeps its parsed configuration and patterns for the life
// of the process and never frees them. In a sanitised build the leak checker would blame every
// program that draws a report for that; the hook names what to leave out.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
