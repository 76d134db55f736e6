// What the output sounds like, measured for an editor: each channel's peak and RMS level in dBFS,
// the correlation of left and right (+1 mono, 0 unrelated, -1 opposite), and the last ~50 ms of
// the output as goniometer points (mid, side), decimated to a fixed number.
//
// The format glue feeds it the finished output once per block; it only reads the samples, so the
// audio is the same whether anything is measured or not. A value type with reset and step, no
// allocation: the audio thread runs it.
//
//   peak     instant attack, falls 20 dB per second
//   RMS      mean square through a one-pole average of 300 ms
//   corr     <LR> / sqrt(<LL><RR>) over the same average; 0 while either side is below -90 dBFS
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

// A goniometer point: the sample pair turned by 45 degrees, so that mono stands upright.
struct GoniometerPoint {
    float mid;   // (L + R) / sqrt 2
    float side;  // (L - R) / sqrt 2: positive for a left-heavy sample, which is drawn to the left
    friend bool operator==(const GoniometerPoint&, const GoniometerPoint&) = default;
};

// The level every meter is held to: below it a meter shows nothing.
inline constexpr float outputFloorDb = -90.0f;

struct OutputLevels {
    std::array<float, 2> peakDb{outputFloorDb, outputFloorDb};
    std::array<float, 2> rmsDb{outputFloorDb, outputFloorDb};
    float correlation = 0.0f;
    friend bool operator==(const OutputLevels&, const OutputLevels&) = default;
};

class OutputMeter {
  public:
    static constexpr float floorDb = outputFloorDb;
    static constexpr std::size_t pointCount = 256;
    static constexpr float historySeconds = 0.05f;
    static constexpr float averageSeconds = 0.3f;
    static constexpr float peakFallDbPerSecond = 20.0f;

    OutputMeter() { reset(48000.0f); }

    void reset(float sampleRate) {
        rate = sampleRate > 1.0f ? sampleRate : 1.0f;
        averageCoefficient = 1.0f - std::exp(-1.0f / (averageSeconds * rate));
        const auto wanted =
            static_cast<int>(historySeconds * rate / static_cast<float>(pointCount));
        decimation = std::max(1, wanted);
        peak = {};
        meanSquare = {};
        meanProduct = 0.0f;
        points.fill({});
        nextPoint = 0;
        countdown = 0;
    }

    // One block of the output.
    void step(const float* left, const float* right, int count) {
        if (count <= 0) return;
        const float fall =
            std::pow(10.0f, -peakFallDbPerSecond * static_cast<float>(count) / (20.0f * rate));
        float blockPeak[2] = {0.0f, 0.0f};
        float squareL = meanSquare[0], squareR = meanSquare[1], product = meanProduct;
        const float a = averageCoefficient;
        for (int i = 0; i < count; ++i) {
            const float l = left[i], r = right[i];
            blockPeak[0] = std::max(blockPeak[0], std::fabs(l));
            blockPeak[1] = std::max(blockPeak[1], std::fabs(r));
            squareL += a * (l * l - squareL);
            squareR += a * (r * r - squareR);
            product += a * (l * r - product);
            if (--countdown < 0) {
                countdown = decimation - 1;
                constexpr float half = 0.70710678f;
                points[nextPoint] = {(l + r) * half, (l - r) * half};
                nextPoint = (nextPoint + 1) % pointCount;
            }
        }
        // Averages that have fallen far below the floor are set to zero, so that silence settles
        // to one reading instead of decaying through denormals for minutes.
        constexpr float negligible = 1e-20f;
        meanSquare[0] = squareL < negligible ? 0.0f : squareL;
        meanSquare[1] = squareR < negligible ? 0.0f : squareR;
        meanProduct = std::fabs(product) < negligible ? 0.0f : product;
        for (int c = 0; c < 2; ++c) {
            peak[c] = std::max(blockPeak[c], peak[c] * fall);
            if (peak[c] < negligible) peak[c] = 0.0f;
        }
    }

    OutputLevels levels() const {
        OutputLevels out;
        for (int c = 0; c < 2; ++c) {
            out.peakDb[c] = toDb(peak[c]);
            out.rmsDb[c] = toDb(std::sqrt(meanSquare[c]));
        }
        const float floorPower = std::pow(10.0f, floorDb / 10.0f);
        if (meanSquare[0] > floorPower && meanSquare[1] > floorPower) {
            const float c = meanProduct / std::sqrt(meanSquare[0] * meanSquare[1]);
            out.correlation = std::clamp(c, -1.0f, 1.0f);
        }
        return out;
    }

    // The points oldest first.
    template <typename Sink>
    void copyPoints(Sink&& sink) const {
        for (std::size_t i = 0; i < pointCount; ++i) sink(i, points[(nextPoint + i) % pointCount]);
    }

    int decimationFactor() const { return decimation; }

    static float toDb(float amplitude) {
        if (!(amplitude > 0.0f)) return floorDb;
        return std::max(floorDb, 20.0f * std::log10(amplitude));
    }

  private:
    float rate = 48000.0f;
    float averageCoefficient = 0.0f;
    int decimation = 1;
    std::array<float, 2> peak{};
    std::array<float, 2> meanSquare{};
    float meanProduct = 0.0f;
    std::array<GoniometerPoint, pointCount> points{};
    std::size_t nextPoint = 0;
    int countdown = 0;
};
