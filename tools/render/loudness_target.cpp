#include "tools/render/loudness_target.h"

#include <ebur128.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/render/failure.h"
#include "tools/render/output_file.h"

namespace render {

namespace {

// A value that rounds to zero is written "0.0", never "-0.0" or "+0.0".
double roundedToTenths(double value) {
    return std::fabs(value) < 0.05 ? 0.0 : value;
}

std::string signedFigure(double value, const char* unit) {
    char text[48];
    value = roundedToTenths(value);
    std::snprintf(text, sizeof text, value == 0.0 ? "%.1f %s" : "%+.1f %s", value, unit);
    return text;
}

std::string figure(double value, const char* unit) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", roundedToTenths(value), unit);
    return text;
}

void jsonNumber(std::string& json, const char* key, double value) {
    json += ",\"";
    json += key;
    json += "\":";
    if (!std::isfinite(value)) {
        json += "null";
        return;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", value);
    json += text;
}

// A temporary file that no other process can see and that goes with the process, however it
// ends: it is unlinked as soon as it is made.
std::FILE* anonymousFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder && *folder ? folder : "/tmp") + "/zelko-render-loudness-XXXXXX";
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot make a temporary file for the loudness pass in " +
                          inQuotes(pattern.substr(0, pattern.rfind('/'))) + " (" +
                          std::strerror(errno) + ").");
    }
    unlink(pattern.c_str());
    std::FILE* file = fdopen(descriptor, "w+b");
    if (!file) close(descriptor);
    return file;
}

}  // namespace

LoudnessOutcome loudnessGain(double measuredLufs, double measuredTruePeakDbtp, double targetLufs,
                             double ceilingDbtp) {
    LoudnessOutcome outcome;
    outcome.targetLufs = targetLufs;
    outcome.ceilingDbtp = ceilingDbtp;
    outcome.measuredLufs = measuredLufs;
    outcome.measuredTruePeakDbtp = measuredTruePeakDbtp;
    outcome.measurable = std::isfinite(measuredLufs) && std::isfinite(measuredTruePeakDbtp);
    if (outcome.measurable) {
        outcome.gainDb = targetLufs - measuredLufs;
        if (measuredTruePeakDbtp + outcome.gainDb > ceilingDbtp) {
            outcome.gainDb = ceilingDbtp - measuredTruePeakDbtp;
            outcome.limitedByTruePeak = true;
        }
    }
    outcome.reachedLufs = measuredLufs + outcome.gainDb;
    outcome.reachedTruePeakDbtp = measuredTruePeakDbtp + outcome.gainDb;
    return outcome;
}

std::string describeLoudness(const LoudnessOutcome& outcome) {
    if (!outcome.measurable) return "loudness not measurable, gain 0 dB";
    return "loudness " + figure(outcome.reachedLufs, "LUFS") + " (target " +
           figure(outcome.targetLufs, "LUFS") + "), gain " + signedFigure(outcome.gainDb, "dB") +
           ", true peak " + figure(outcome.reachedTruePeakDbtp, "dBTP");
}

std::vector<std::string> loudnessWarnings(const LoudnessOutcome& outcome) {
    std::vector<std::string> warnings;
    if (!outcome.measurable) {
        warnings.push_back(
            "The output is silent or too quiet to measure, so it was left as it "
            "is rather than brought to " +
            figure(outcome.targetLufs, "LUFS") + ".");
    } else if (outcome.limitedByTruePeak) {
        warnings.push_back(
            "The target of " + figure(outcome.targetLufs, "LUFS") +
            " would have put the true peak at " +
            figure(outcome.measuredTruePeakDbtp + outcome.targetLufs - outcome.measuredLufs,
                   "dBTP") +
            ", above the ceiling of " + figure(outcome.ceilingDbtp, "dBTP") +
            "; the gain stopped there, and the output reached " +
            figure(outcome.reachedLufs, "LUFS") + ".");
    }
    return warnings;
}

std::string loudnessJson(const LoudnessOutcome& outcome) {
    std::string json;
    jsonNumber(json, "loudness_target_lufs", outcome.targetLufs);
    jsonNumber(json, "true_peak_ceiling_dbtp", outcome.ceilingDbtp);
    jsonNumber(json, "loudness_measured_lufs", outcome.measuredLufs);
    jsonNumber(json, "loudness_gain_db", outcome.gainDb);
    jsonNumber(json, "loudness_reached_lufs", outcome.reachedLufs);
    jsonNumber(json, "true_peak_reached_dbtp", outcome.reachedTruePeakDbtp);
    json += ",\"loudness_limited_by_true_peak\":";
    json += outcome.limitedByTruePeak ? "true" : "false";
    return json;
}

struct LoudnessTarget::Meter {
    ebur128_state* state = nullptr;
    ~Meter() {
        if (state) ebur128_destroy(&state);
    }
};

LoudnessTarget::LoudnessTarget(FrameSink& next, int sampleRate, int channels, double targetLufs,
                               double ceilingDbtp, int blockSize)
    : next_(next),
      meter_(std::make_unique<Meter>()),
      targetLufs_(targetLufs),
      ceilingDbtp_(ceilingDbtp),
      channels_(channels),
      blockSize_(blockSize),
      interleaved_(2 * static_cast<std::size_t>(blockSize)),
      left_(static_cast<std::size_t>(blockSize)),
      right_(static_cast<std::size_t>(blockSize)) {
    // The histogram keeps the gating blocks in 0.1 dB bins, so the meter does not grow with the
    // file.
    meter_->state =
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM);
    if (!meter_->state) {
        throw Failure(ExitStatus::kUsage,
                      "--loudness cannot measure audio at " + std::to_string(sampleRate) + " Hz.");
    }
    spool_ = anonymousFile();
    if (!spool_) {
        throw Failure(ExitStatus::kWriteFailed,
                      std::string("Cannot open the loudness pass's temporary file (") +
                          std::strerror(errno) + ").");
    }
}

LoudnessTarget::~LoudnessTarget() {
    if (spool_) std::fclose(spool_);
}

void LoudnessTarget::write(const float* left, const float* right, int frames) {
    for (int done = 0; done < frames;) {
        const int count = std::min(frames - done, blockSize_);
        for (int i = 0; i < count; ++i) {
            const auto at = static_cast<std::size_t>(channels_ * i);
            interleaved_[at] = left[done + i];
            if (channels_ == 2) interleaved_[at + 1] = right[done + i];
        }
        ebur128_add_frames_float(meter_->state, interleaved_.data(),
                                 static_cast<std::size_t>(count));
        const auto values = static_cast<std::size_t>(channels_ * count);
        if (std::fwrite(interleaved_.data(), sizeof(float), values, spool_) != values) {
            throw Failure(ExitStatus::kWriteFailed,
                          std::string("Cannot write the loudness pass's temporary file (") +
                              std::strerror(errno) + ").");
        }
        done += count;
    }
}

void LoudnessTarget::finish() {
    double loudness = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_global(meter_->state, &loudness) != EBUR128_SUCCESS) {
        loudness = -std::numeric_limits<double>::infinity();
    }
    double truePeak = 0.0;
    for (unsigned channel = 0; channel < static_cast<unsigned>(channels_); ++channel) {
        double peak = 0.0;
        if (ebur128_true_peak(meter_->state, channel, &peak) == EBUR128_SUCCESS) {
            truePeak = std::max(truePeak, peak);
        }
    }
    outcome_ = loudnessGain(
        loudness,
        truePeak > 0.0 ? 20.0 * std::log10(truePeak) : -std::numeric_limits<double>::infinity(),
        targetLufs_, ceilingDbtp_);

    const auto gain = static_cast<float>(std::pow(10.0, outcome_.gainDb / 20.0));
    if (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0) {
        throw Failure(ExitStatus::kWriteFailed,
                      std::string("Cannot read back the loudness pass's temporary file (") +
                          std::strerror(errno) + ").");
    }
    while (true) {
        if (interruptRequested()) throw Interrupted();
        const std::size_t values =
            std::fread(interleaved_.data(), sizeof(float),
                       static_cast<std::size_t>(channels_ * blockSize_), spool_);
        const int count = static_cast<int>(values) / channels_;
        if (count == 0) break;
        for (int i = 0; i < count; ++i) {
            const auto at = static_cast<std::size_t>(channels_ * i);
            left_[static_cast<std::size_t>(i)] = interleaved_[at] * gain;
            right_[static_cast<std::size_t>(i)] = interleaved_[at + channels_ - 1] * gain;
        }
        next_.write(left_.data(), right_.data(), count);
    }
    if (std::ferror(spool_)) {
        throw Failure(ExitStatus::kWriteFailed,
                      "Cannot read back the loudness pass's temporary file.");
    }
    std::fclose(spool_);
    spool_ = nullptr;
    next_.finish();
}

}  // namespace render
