#include "tools/render/progress.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace render {

namespace {

// Redrawing ten times a second is smooth to the eye and costs nothing measurable.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(bool wanted, std::string label, std::int64_t total, double sampleRate)
    : enabled_(wanted && isatty(STDERR_FILENO)),
      label_(std::move(label)),
      total_(total),
      sampleRate_(sampleRate) {}

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
    if (total_ > 0) {
        const double fraction = done >= total_ ? 1.0 : static_cast<double>(done) / total_;
        const int filled = static_cast<int>(fraction * kBarWidth);
        char bar[kBarWidth + 1];
        for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '-';
        bar[kBarWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %s", bar, static_cast<int>(fraction * 100.0),
                     label_.c_str());
    } else {
        std::fprintf(stderr, "\r%.1f s  %s", static_cast<double>(done) / sampleRate_,
                     label_.c_str());
    }
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
