// A progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace render {

// One state of the bar: "[#########---------------------]  30%  41x  0:07 left  in.wav", where
// 41x is the speed in audio seconds per second so far and 0:07 the time left at that speed;
// without a total, "12.5 s  41x  in.wav". Until a speed can be told, "--" stands in for it.
std::string progressLine(std::int64_t done, std::int64_t total, double sampleRate,
                         double elapsedSeconds, const std::string& label);

class ProgressBar {
  public:
    // `total` frames, or -1 when the length is unknown (the bar then counts seconds done).
    ProgressBar(bool wanted, std::string label, std::int64_t total, double sampleRate);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(std::int64_t done);
    // Clears the bar so that the next line starts on a clean row.
    void finish();

  private:
    void draw(std::int64_t done);

    bool enabled_;
    bool drawn_ = false;
    std::string label_;
    std::int64_t total_;
    double sampleRate_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace render
