#include "tools/render/demo_programme.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::int64_t kSectionFrames =
    static_cast<std::int64_t>(DemoProgramme::kSectionSeconds * DemoProgramme::kSampleRate);

// Fades of this length at every boundary keep the programme free of clicks it did not mean.
constexpr double kFadeSeconds = 0.01;

double fade(double time, double length) {
    const double edge = std::min(time, length - time);
    if (edge <= 0.0) return 0.0;
    if (edge >= kFadeSeconds) return 1.0;
    return 0.5 - 0.5 * std::cos(kPi * edge / kFadeSeconds);
}

double sine(double frequency, double time) {
    return std::sin(2.0 * kPi * frequency * time);
}

// Three steady tones, low, middle and high, one second each.
double tones(double time) {
    constexpr double kFrequencies[] = {220.0, 880.0, 3520.0};
    const int index = std::min(static_cast<int>(time), 2);
    const double local = time - index;
    return 0.25 * fade(local, 1.0) * sine(kFrequencies[index], local);
}

// The opening phrase of a well-known tune, plucked: twelve notes of a quarter second.
double melody(double time) {
    constexpr double kNotes[] = {329.63, 329.63, 349.23, 392.00, 392.00, 349.23,
                                 329.63, 293.66, 261.63, 261.63, 293.66, 329.63};
    constexpr double kNoteSeconds = 0.25;
    const int index = std::min(static_cast<int>(time / kNoteSeconds), 11);
    const double local = time - index * kNoteSeconds;
    const double envelope =
        std::min(local / 0.005, 1.0) * std::exp(-local * 9.0) * fade(local, kNoteSeconds);
    double tone = 0.0;
    for (int harmonic = 1; harmonic <= 4; ++harmonic) {
        tone += sine(kNotes[index] * harmonic, local) / harmonic;
    }
    return 0.2 * envelope * tone;
}

}  // namespace

DemoProgramme::DemoProgramme(double seconds)
    : totalFrames_(static_cast<std::int64_t>(std::llround(seconds * kSampleRate))) {}

float DemoProgramme::nextWhiteNoise() {
    // xorshift32: cheap, and the same sequence on every machine.
    noiseSeed_ ^= noiseSeed_ << 13;
    noiseSeed_ ^= noiseSeed_ >> 17;
    noiseSeed_ ^= noiseSeed_ << 5;
    return static_cast<float>(noiseSeed_) * (2.0f / 4294967296.0f) - 1.0f;
}

float DemoProgramme::sampleAt(std::int64_t frame) {
    const std::int64_t section = (frame / kSectionFrames) % kSectionCount;
    const double time = static_cast<double>(frame % kSectionFrames) / kSampleRate;
    const float white = nextWhiteNoise();
    switch (section) {
        case 0:
            return static_cast<float>(tones(time));
        case 1:
            return static_cast<float>(melody(time));
        case 2: {
            pinkState_[0] = 0.99765f * pinkState_[0] + white * 0.0990460f;
            pinkState_[1] = 0.96300f * pinkState_[1] + white * 0.2965164f;
            pinkState_[2] = 0.57000f * pinkState_[2] + white * 1.0526913f;
            const float pink = pinkState_[0] + pinkState_[1] + pinkState_[2] + white * 0.1848f;
            return static_cast<float>(0.06 * fade(time, kSectionSeconds)) * pink;
        }
        default: {
            // A beat of eighth notes: a falling low thump on the beat, a bright tick between.
            constexpr double kBeatSeconds = 0.25;
            const int beat = static_cast<int>(time / kBeatSeconds);
            const double local = time - beat * kBeatSeconds;
            if (beat % 2 == 0) {
                const double frequency = 50.0 + 100.0 * std::exp(-local * 30.0);
                return static_cast<float>(0.5 * std::exp(-local * 25.0) * sine(frequency, local));
            }
            return static_cast<float>(0.35 * std::exp(-local * 900.0)) * white;
        }
    }
}

int DemoProgramme::read(float* destination, int frames) {
    const auto count = static_cast<int>(
        std::min<std::int64_t>(frames, std::max<std::int64_t>(totalFrames_ - position_, 0)));
    for (int i = 0; i < count; ++i) destination[i] = sampleAt(position_ + i);
    position_ += count;
    return count;
}

}  // namespace render
