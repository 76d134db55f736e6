// A progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace render {

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
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace render
