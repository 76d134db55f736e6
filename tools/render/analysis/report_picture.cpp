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

// Where everything goes: a title and a line saying what was rendered, four panels down the left
// (correlation per band, side level per band, spectra, and both over time) and the goniometer,
// the mono-compatibility answer and the figures on the right.
constexpr int kWidth = 1280;
constexpr int kHeight = 1200;
constexpr double kLeft = 80.0;
constexpr double kPlotWidth = 780.0;
constexpr double kRightColumn = 930.0;
constexpr double kGoniometerSize = 320.0;

// The fixed ranges. Fixed, so that two reports compare at a glance and a cancellation cannot
// stretch an axis to -250 dB; what lies beyond is drawn at the edge and named in words.
constexpr double kSideFloorDb = -40.0;
constexpr double kSideTopDb = 20.0;
constexpr double kSpectrumFloorDb = -120.0;
constexpr double kSpectrumTopDb = 6.0;
// Side 10 dB above mid: the mono sum has lost most of the programme there.
constexpr double kCancellingDb = 10.0;

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
constexpr Colour kNoSignal{0.93, 0.93, 0.94};
constexpr Colour kWarning{0.80, 0.12, 0.10};
constexpr Colour kCaution{0.85, 0.55, 0.05};

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
        const double left = panel.xOf(std::max(band.lowHz, panel.lowestHz)) + 1.5;
        const double right = panel.xOf(std::min(band.highHz, panel.highestHz)) - 1.5;
        if (!band.hasSignal) {
            setColour(cr, kNoSignal);
            cairo_rectangle(cr, left, panel.y + 1.0, right - left, panel.height - 2.0);
            cairo_fill(cr);
            continue;
        }
        const double value = valueOf(band);
        if (std::isnan(value) || value == -kInfinity) continue;
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

// A warning in words across the middle of a panel, on white so that it reads over the bars.
void panelAlert(cairo_t* cr, const FrequencyPanel& panel, const std::string& text) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 13.0);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    const double cx = panel.x + panel.width / 2.0, cy = panel.y + panel.height / 2.0;
    cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.92);
    cairo_rectangle(cr, cx - extents.x_advance / 2.0 - 8.0, cy - 17.0, extents.x_advance + 16.0,
                    24.0);
    cairo_fill(cr);
    setColour(cr, kWarning);
    label(cr, cx, cy, text, 13.0, Align::kCentre, true);
}

bool anyBandWithoutSignal(const StereoSummary& summary) {
    return std::any_of(summary.bands.begin(), summary.bands.end(),
                       [](const BandStatistics& band) { return !band.hasSignal; });
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
    if (summary.outputSilent) {
        panelNote(cr, panel, "the output is silent");
    } else if (anyBandWithoutSignal(summary)) {
        setColour(cr, kAxisText);
        label(cr, panel.x + panel.width, panel.y - 8.0, "grey: no signal in the band", 11.0,
              Align::kRight);
    }
}

void drawSidePanel(cairo_t* cr, const StereoSummary& summary, FrequencyPanel panel) {
    panel.bottom = kSideFloorDb;
    panel.top = kSideTopDb;
    std::vector<double> ticks;
    for (double value = panel.bottom; value <= panel.top; value += 10.0) ticks.push_back(value);
    drawPanelFrame(cr, panel, "Side level against mid per third-octave band", "side / mid (dB)",
                   ticks, 0);
    // Bars rise from the floor; a band whose side lies 10 dB above its mid, where the mono sum
    // cancels, is red, and one beyond the top (+inf when the channels cancel exactly) reaches it.
    drawBandBars(
        cr, panel, summary.bands, panel.bottom,
        [](const BandStatistics& b) { return b.sideToMidDb; },
        [](double value) { return value >= kCancellingDb ? kNegative : kSide; });
    dashedLevel(cr, panel, std::clamp(summary.sideToMidDb, kSideFloorDb, kSideTopDb),
                "whole file " + (summary.sideToMidDb > kSideTopDb
                                     ? std::string("above ") + fixed(kSideTopDb, 0, true) + " dB"
                                     : fixed(summary.sideToMidDb, 1, true) + " dB"));
    setColour(cr, kAxisText);
    label(cr, panel.x + panel.width, panel.y - 8.0,
          "floor " + fixed(kSideFloorDb, 0) + " dB; red: side 10 dB above mid", 11.0,
          Align::kRight);
    if (summary.sideToMidDb == -kInfinity) {
        panelNote(cr, panel, "no side signal: the output is mono");
    } else if (summary.outputSilent) {
        panelNote(cr, panel, "the output is silent");
    } else if (summary.sideToMidDb == kInfinity) {
        panelAlert(cr, panel, "the channels cancel exactly: the mono sum is silent");
    }
}

// The curve of one Welch spectrum, thinned to one point per pixel column by averaging power,
// so that an hour-long file's thousands of bins per column neither blacken the plot nor hide
// the notches that a column can show.
void drawSpectrum(cairo_t* cr, const FrequencyPanel& panel, const StereoSummary& summary,
                  const std::vector<double>& levelsDb, double offsetDb, Colour colour,
                  double width) {
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
            const double py = panel.yOf(level + offsetDb);  // held at the floor below it
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

std::string hertz(double hz) {
    return hz >= 1000.0 ? fixed(hz / 1000.0, hz < 10000.0 ? 2 : 1) + " kHz"
                        : fixed(hz, hz < 100.0 ? 1 : 0) + " Hz";
}

void drawSpectrumPanel(cairo_t* cr, const StereoSummary& summary, FrequencyPanel panel) {
    panel.top = kSpectrumTopDb;
    panel.bottom = kSpectrumFloorDb;
    std::vector<double> ticks;
    for (double value = panel.bottom; value <= 0.0; value += 20.0) ticks.push_back(value);
    drawPanelFrame(cr, panel, "Spectrum of the mono sum against the input", "level (dBFS)", ticks,
                   0);
    const double match = std::isfinite(summary.levelMatchDb) ? summary.levelMatchDb : 0.0;
    // The input goes on top and thinner, so that where the two agree both still show.
    drawSpectrum(cr, panel, summary, summary.monoSumSpectrumDb, match, kMonoSum, 2.2);
    drawSpectrum(cr, panel, summary, summary.inputSpectrumDb, 0.0, kInput, 1.0);

    // What the levels mean, under the panel.
    setColour(cr, kAxisText);
    const double bandHz = StereoSummary::kSpectrumMinimumBins * summary.spectrumBinHz;
    label(cr, panel.x, panel.y + panel.height + 28.0,
          "dBFS: a full-scale sine reads 0. Power in 1/" +
              std::to_string(StereoSummary::kSpectrumOctaveFraction) + "-octave bands, at least " +
              fixed(bandHz, 1) + " Hz wide (Hann, " + fixed(summary.spectrumBinHz, 2) +
              " Hz bins). Floor " + fixed(kSpectrumFloorDb, 0) + " dBFS.",
          11.0);

    const std::string matched =
        std::isfinite(summary.levelMatchDb)
            ? "mono sum (L+R)/2, matched to the input: " + fixed(summary.levelMatchDb, 1, true) +
                  " dB"
            : "mono sum (L+R)/2, not matched (no loudness to match)";
    // The legend, one entry a line, in the panel's top right corner on white.
    const std::pair<Colour, std::string> entries[] = {{kMonoSum, matched},
                                                      {kInput, "input to the plug-in"}};
    double widest = 0.0;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11.0);
    for (const auto& entry : entries) {
        cairo_text_extents_t extents;
        cairo_text_extents(cr, entry.second.c_str(), &extents);
        widest = std::max(widest, extents.x_advance);
    }
    const double legendX = panel.x + panel.width - widest - 44.0;
    cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.9);
    cairo_rectangle(cr, legendX - 6.0, panel.y + 4.0, widest + 46.0, 40.0);
    cairo_fill(cr);
    double legendY = panel.y + 19.0;
    for (const auto& [colour, text] : entries) {
        setColour(cr, colour);
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, legendX, legendY - 4.0);
        cairo_line_to(cr, legendX + 22.0, legendY - 4.0);
        cairo_stroke(cr);
        setColour(cr, kInk);
        label(cr, legendX + 30.0, legendY, text, 11.0);
        legendY += 17.0;
    }
    if (summary.outputSilent) {
        panelNote(cr, panel, "the output is silent");
    } else if (summary.monoSumLufs == -kInfinity && summary.sideToMidDb > kCancellingDb) {
        panelAlert(cr, panel, "the mono sum cancels: nothing is left of it to draw");
    }
}

// A time axis under a strip, in seconds, minutes or hours as the length asks.
void drawTimeAxis(cairo_t* cr, double x, double y, double width, double seconds) {
    const double steps[] = {0.1, 0.2, 0.5, 1,   2,   5,    10,   15,   30,
                            60,  120, 300, 600, 900, 1800, 3600, 7200, 14400};
    double step = steps[0];
    for (const double candidate : steps) {
        step = candidate;
        if (seconds / candidate <= 10.0) break;
    }
    setColour(cr, kAxisText);
    for (double t = 0.0; t <= seconds + 1e-9; t += step) {
        const double tx = x + width * t / seconds;
        std::string text;
        if (step >= 60.0) {
            const auto whole = static_cast<long>(std::lround(t));
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                          whole % 60);
            text = buffer;
        } else {
            text = fixed(t, step < 1.0 ? 1 : 0) + " s";
        }
        label(cr, tx, y + 14.0, text, 11.0, Align::kCentre);
    }
}

// Correlation and side level over time: a bar per window, drawn to the worst 400 ms inside it,
// so that a short stretch of opposite polarity in an hour still shows; grey where no signal.
void drawTimePanel(cairo_t* cr, const StereoSummary& summary, double x, double y, double width,
                   double height) {
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Over time: correlation and side/mid, 400 ms windows", 14.0, Align::kLeft,
          true);
    const double duration = std::max(summary.durationSeconds, 1e-3);
    const double gap = 22.0;
    const double strip = (height - gap) / 2.0;
    struct Strip {
        double top, bottom;
        std::vector<double> ticks;
        const char* name;
    };
    const Strip strips[] = {{1.0, -1.0, {-1.0, 0.0, 1.0}, "correlation"},
                            {kSideTopDb, kSideFloorDb, {-40.0, -20.0, 0.0, 20.0}, "side/mid dB"}};
    for (int which = 0; which < 2; ++which) {
        const Strip& s = strips[which];
        const double sy = y + which * (strip + gap);
        const auto yOf = [&](double value) {
            return sy + strip * (s.top - std::clamp(value, s.bottom, s.top)) / (s.top - s.bottom);
        };
        setColour(cr, kGrid);
        cairo_set_line_width(cr, 1.0);
        for (const double tick : s.ticks) {
            cairo_move_to(cr, x, std::round(yOf(tick)) + 0.5);
            cairo_line_to(cr, x + width, std::round(yOf(tick)) + 0.5);
        }
        cairo_stroke(cr);
        setColour(cr, kAxisText);
        for (const double tick : s.ticks) {
            label(cr, x - 6.0, yOf(tick) + 4.0, fixed(tick, 0, tick > 0.0), 11.0, Align::kRight);
        }
        verticalLabel(cr, x - 48.0, sy + strip / 2.0, s.name, 11.0);
        for (const auto& window : summary.timeline) {
            const double left = x + width * window.startSeconds / duration;
            const double right =
                std::max(left + 1.0, x + width * (window.startSeconds + window.seconds) / duration);
            const double value = which == 0 ? window.worstCorrelation : window.largestSideToMidDb;
            if (!window.hasSignal) {
                setColour(cr, kNoSignal);
                cairo_rectangle(cr, left, sy + 1.0, right - left, strip - 2.0);
                cairo_fill(cr);
                continue;
            }
            if (std::isnan(value)) continue;
            const double base = which == 0 ? 0.0 : s.bottom;
            const bool bad = which == 0 ? value < 0.0 : value >= kCancellingDb;
            setColour(cr, bad ? kNegative : which == 0 ? kPositive : kSide);
            const double from = yOf(base), to = yOf(value);
            cairo_rectangle(cr, left, std::min(from, to), right - left,
                            std::max(std::fabs(to - from), 1.0));
            cairo_fill(cr);
        }
        setColour(cr, kInk);
        cairo_rectangle(cr, x + 0.5, sy + 0.5, width - 1.0, strip - 1.0);
        cairo_stroke(cr);
    }
    drawTimeAxis(cr, x, y + height, width, duration);
    if (!summary.timeline.empty() && summary.timeline.front().seconds > 0.41) {
        setColour(cr, kAxisText);
        label(cr, x + width, y - 8.0,
              "each bar " + fixed(summary.timeline.front().seconds, 1) +
                  " s, drawn to its worst 400 ms",
              11.0, Align::kRight);
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

// The plain answer on mono compatibility: what a listener to the mono sum loses against one
// who hears the stereo output, the worst band, and a sentence. The plug-in's own level change
// is a figure of its own below, so that it is not taken for a mono loss.
void drawMonoAnswer(cairo_t* cr, const StereoSummary& summary, double x, double y) {
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Mono compatibility", 14.0, Align::kLeft, true);
    const double lu = summary.monoAgainstOutputLu;
    std::string figure, sentence, worst;
    Colour colour = kPositive;
    if (summary.outputSilent) {
        figure = "no output";
        sentence = summary.inputMixCancelled ? "Silent: the input's channels cancel in its mix."
                                             : "The output is silent.";
        colour = kAxisText;
    } else if (!std::isfinite(lu)) {
        figure = "n/a";
        sentence = "Too short or too quiet to measure loudness.";
        colour = kAxisText;
    } else if (summary.monoSumCancels) {
        figure = "\u2264 " + fixed(lu, 0, true) + " LU";
        sentence = "The mono sum cancels entirely.";
        colour = kWarning;
    } else {
        figure = fixed(lu, 1, true) + " LU";
        colour = lu > -3.0 ? kPositive : lu > -6.0 ? kCaution : kWarning;
        sentence = lu > -1.0   ? "In mono it sounds as loud as in stereo."
                   : lu > -3.0 ? "In mono it is a little quieter than in stereo."
                   : lu > -6.0 ? "In mono it is audibly quieter than in stereo."
                               : "The mono sum loses much of the stereo output.";
        // Loudness gates out the blocks where the mono sum cancels, so a few seconds of
        // cancellation hardly move the figure; the colour and the sentence must not hide them.
        if (summary.cancellingSeconds > 0.0 && lu > -3.0) {
            colour = kCaution;
            sentence = "As loud in mono as in stereo, except where it cancels.";
        }
    }
    if (std::isfinite(summary.worstBandHz) && !summary.outputSilent) {
        worst = "worst band " + hertz(summary.worstBandHz) + ": " +
                (summary.worstBandDb > StereoSummary::kDeepestBandLossDb
                     ? fixed(summary.worstBandDb, 1, true) + " dB"
                     : std::string("cancels")) +
                " in mono against the stereo";
    }
    setColour(cr, colour);
    cairo_rectangle(cr, x, y, 6.0, 84.0);
    cairo_fill(cr);
    label(cr, x + 16.0, y + 30.0, figure, 28.0, Align::kLeft, true);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, figure.c_str(), &extents);
    const double caption = x + 16.0 + std::max(130.0, extents.x_advance + 14.0);
    setColour(cr, kAxisText);
    label(cr, caption, y + 14.0, "mono sum (L+R)/2", 11.0);
    label(cr, caption, y + 28.0, "against the stereo", 11.0);
    setColour(cr, kInk);
    label(cr, x + 16.0, y + 52.0, sentence, 12.0);
    if (!worst.empty()) label(cr, x + 16.0, y + 70.0, worst, 11.0);
    if (summary.cancellingSeconds > 0.0 && !summary.outputSilent && !summary.monoSumCancels) {
        setColour(cr, kWarning);
        label(cr, x + 16.0, y + 88.0,
              "It cancels for " + fixed(summary.cancellingSeconds, 1) + " s of " +
                  fixed(summary.durationSeconds, 1) + " s.",
              11.0, Align::kLeft, true);
    }
}

void drawFigures(cairo_t* cr, const StereoSummary& summary, double x, double y) {
    std::string side = levelText(summary.sideToMidDb, "dB", "silent");
    if (summary.sideToMidDb == -kInfinity) side = "no side (mono)";
    if (summary.sideToMidDb == kInfinity) side = "no mid (the channels cancel)";
    const bool truePeakOver = summary.truePeakDbtp > 0.0;
    struct Row {
        const char* name;
        std::string value;
        bool alarm = false;
    };
    const Row rows[] = {
        {"Duration",
         fixed(summary.durationSeconds, 3) + " s at " + std::to_string(summary.sampleRate) + " Hz"},
        {"Peak", levelText(summary.peakDbfs, "dBFS", "silent")},
        {"True peak",
         truePeakOver ? fixed(summary.truePeakDbtp, 2, true) + " dBTP, above 0 dBTP"
                      : levelText(summary.truePeakDbtp, "dBTP", "silent"),
         truePeakOver},
        {"Loudness out",
         levelText(summary.outputLufs, "LUFS", unmeasured(summary.durationSeconds))},
        {"Loudness in",
         levelText(summary.inputLufs, "LUFS", unmeasured(summary.inputDurationSeconds))},
        {"Mono sum",
         levelText(summary.monoSumLufs, "LUFS",
                   summary.outputSilent ? unmeasured(summary.durationSeconds) : "cancels")},
        {"Level change", std::isfinite(summary.levelChangeLu)
                             ? fixed(summary.levelChangeLu, 1, true) + " LU, output against input"
                             : std::string("not measured")},
        {"Correlation", std::isfinite(summary.correlation) ? fixed(summary.correlation, 3, true)
                                                           : "none (a channel is silent)"},
        {"Side / mid", side},
    };
    setColour(cr, kInk);
    label(cr, x, y - 8.0, "Figures", 14.0, Align::kLeft, true);
    double line = y + 14.0;
    for (const auto& row : rows) {
        if (row.alarm) {
            // A true peak above 0 dBTP clips in any converter or codec that meets it.
            setColour(cr, {1.0, 0.90, 0.88});
            cairo_rectangle(cr, x - 4.0, line - 14.0, kGoniometerSize + 8.0, 19.0);
            cairo_fill(cr);
        }
        setColour(cr, row.alarm ? kWarning : kAxisText);
        label(cr, x, line, row.name, 12.0);
        setColour(cr, row.alarm ? kWarning : kInk);
        label(cr, x + 110.0, line, row.value, 12.0, Align::kLeft, true);
        line += 20.0;
    }
}

void draw(cairo_t* cr, const StereoSummary& summary, const ReportHeading& heading) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    setColour(cr, kInk);
    label(cr, 24.0, 34.0, heading.input, 20.0, Align::kLeft, true);
    std::string line;
    for (const std::string* part : {&heading.plugin, &heading.settings, &heading.date}) {
        if (part->empty()) continue;
        if (!line.empty()) line += "   |   ";
        line += *part;
    }
    setColour(cr, kAxisText);
    label(cr, 24.0, 56.0, line, 12.0);
    label(cr, kWidth - 24.0, 34.0, "stereo report", 13.0, Align::kRight);
    if (summary.truePeakDbtp > 0.0) {
        setColour(cr, kWarning);
        label(cr, kWidth - 24.0, 56.0,
              "true peak " + fixed(summary.truePeakDbtp, 2, true) + " dBTP, above 0 dBTP", 13.0,
              Align::kRight, true);
    }

    const double nyquist = summary.sampleRate / 2.0;
    FrequencyPanel panel{.x = kLeft,
                         .y = 106.0,
                         .width = kPlotWidth,
                         .height = 160.0,
                         .lowestHz = 16.0,
                         .highestHz = std::clamp(nyquist, 1000.0, 24000.0),
                         .bottom = 0.0,
                         .top = 1.0};  // each panel sets its own value range
    drawCorrelationPanel(cr, summary, panel);
    panel.y = 326.0;
    drawSidePanel(cr, summary, panel);
    panel.y = 546.0;
    panel.height = 270.0;
    drawSpectrumPanel(cr, summary, panel);
    drawTimePanel(cr, summary, kLeft, 900.0, kPlotWidth, 240.0);

    drawGoniometer(cr, summary, kRightColumn, 106.0, kGoniometerSize);
    drawCorrelationMeter(cr, summary.correlation, kRightColumn, 488.0, kGoniometerSize);
    drawMonoAnswer(cr, summary, kRightColumn, 576.0);
    drawFigures(cr, summary, kRightColumn, 720.0);
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
    ReportHeading heading;
    heading.input = title;
    writeReportPicture(summary, path, heading);
}

void writeReportPicture(const StereoSummary& summary, const std::string& path,
                        const ReportHeading& heading) {
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
        draw(cr.get(), summary, heading);
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
