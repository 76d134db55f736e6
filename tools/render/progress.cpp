#include "tools/render/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace render {

namespace {

// Redrawing ten times a second is smooth to the eye and costs nothing measurable.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
// A speed measured over less time than this is mostly start-up cost.
constexpr double kShortestMeasure = 0.2;

std::string clockText(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

std::string progressLine(std::int64_t done, std::int64_t total, double sampleRate,
                         double elapsedSeconds, const std::string& label) {
    const double doneSeconds = static_cast<double>(done) / sampleRate;
    const bool measured = elapsedSeconds >= kShortestMeasure && done > 0;
    const double speed = measured ? doneSeconds / elapsedSeconds : 0.0;
    char speedText[32] = "--";
    if (measured) std::snprintf(speedText, sizeof speedText, "%.0fx", speed);
    char text[128];
    if (total > 0) {
        const double fraction = done >= total ? 1.0 : static_cast<double>(done) / total;
        const int filled = static_cast<int>(fraction * kBarWidth);
        std::string bar(static_cast<std::size_t>(kBarWidth), '-');
        for (int i = 0; i < filled; ++i) bar[static_cast<std::size_t>(i)] = '#';
        const std::string left =
            measured
                ? clockText(static_cast<double>(total - std::min(done, total)) / sampleRate / speed)
                : std::string("--");
        std::snprintf(text, sizeof text, "[%s] %3d%%  %s  %s left  ", bar.c_str(),
                      static_cast<int>(fraction * 100.0), speedText, left.c_str());
    } else {
        std::snprintf(text, sizeof text, "%.1f s  %s  ", doneSeconds, speedText);
    }
    return text + label;
}

ProgressBar::ProgressBar(bool wanted, std::string label, std::int64_t total, double sampleRate)
    : enabled_(wanted && isatty(STDERR_FILENO)),
      label_(std::move(label)),
      total_(total),
      sampleRate_(sampleRate),
      start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(std::int64_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    draw(done);
}

void ProgressBar::draw(std::int64_t done) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    // Clear to the end of the row: a shorter line must not leave the end of a longer one.
    std::fprintf(stderr, "\r%s\x1b[K",
                 progressLine(done, total_, sampleRate_, elapsed, label_).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!enabled_ || !drawn_) return;
    // Erase the whole row: carriage return, then clear to the end of the line.
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace render
