// Measurements the signal-chain tests share.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace measure {

inline constexpr double pi = 3.14159265358979323846;

// Amplitude of the component at `hz` in `signal`, from the correlation with a sine and a cosine
// over the whole signal (single DFT bin). Callers pass whole periods, or enough of them that the
// leakage of a partial period is negligible.
inline double amplitudeAt(const std::vector<float>& signal, double hz, double fs) {
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < signal.size(); ++n) {
        const double phase = 2.0 * pi * hz * static_cast<double>(n) / fs;
        re += signal[n] * std::cos(phase);
        im += signal[n] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(signal.size());
}

}  // namespace measure
