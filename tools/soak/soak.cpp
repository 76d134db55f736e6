// zelko-soak: an hour (or any length) of mixed programme through the plug-in, as fast as the
// machine allows, with parameter automation, checking every output sample and watching the
// processing time per block.
//
// The plug-in is loaded like any host loads it (dlopen, VSTPluginMain, the effect record). The
// programme changes character every 0.5 to 5 seconds: music-like chords, noise at various
// levels, exact silence, clicks, DC steps and exponentially decaying tails, the classic way to
// fill filter states with denormal numbers. The first and the last minute carry the same
// programme and the same automation, so their block times compare like with like: a slowdown
// at the end (denormals, a growing queue, a drifting state) shows up as their ratio.
//
//   zelko-soak [--minutes M | --seconds S] [--rate HZ] [--block N] [--plugin PATH]
//              [--no-timing-check]
//
// Exit status 0 when every sample was finite and within the ceiling and the median block time
// (processor time of the processing thread) of the last minute is within 1.5 times that of the
// first; 1 otherwise; 2 for usage errors.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dsp/output_stage.h"
#include "host/vst2.h"

namespace {

constexpr float kOutputCeiling = OutputStage::ceiling;  // -1 dB full scale
constexpr double kTimingLimit = 1.5;
constexpr int kParameterCount = 5;
constexpr double kTwoPi = 6.283185307179586;

struct Options {
    double seconds = 3600.0;
    int rate = 48000;
    int block = 512;
    std::string plugin = ZELKO_SOAK_PLUGIN;
    bool timingCheck = true;
};

[[noreturn]] void usage(const char* message) {
    std::fprintf(stderr,
                 "zelko-soak: %s\nusage: zelko-soak [--minutes M | --seconds S] [--rate HZ] "
                 "[--block N] [--plugin PATH] [--no-timing-check]\n",
                 message);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
            return argv[++i];
        };
        if (arg == "--minutes") {
            options.seconds = 60.0 * std::atof(value().c_str());
        } else if (arg == "--seconds") {
            options.seconds = std::atof(value().c_str());
        } else if (arg == "--rate") {
            options.rate = std::atoi(value().c_str());
        } else if (arg == "--block") {
            options.block = std::atoi(value().c_str());
        } else if (arg == "--plugin") {
            options.plugin = value();
        } else if (arg == "--no-timing-check") {
            options.timingCheck = false;
        } else {
            usage(("unknown option " + arg).c_str());
        }
    }
    if (!(options.seconds > 0.0) || options.rate < 8000 || options.rate > 384000 ||
        options.block < 1 || options.block > 65536) {
        usage("length, rate (8000 ... 384000) or block size (1 ... 65536) out of range");
    }
    return options;
}

class Random {
  public:
    explicit Random(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double between(double low, double high) { return low + (high - low) * unit(); }

  private:
    std::uint64_t state;
};

// The programme: one segment after another, each of one character.
class Programme {
  public:
    enum Kind { kMusic, kNoise, kSilence, kClicks, kDcSteps, kDecay, kKindCount };

    Programme(double rate, std::uint64_t seed) : rate(rate), random(seed) { startSegment(); }

    float next() {
        if (remaining-- <= 0) startSegment();
        ++position;
        switch (kind) {
            case kMusic:
                return music();
            case kNoise:
                return level * static_cast<float>(random.between(-1.0, 1.0));
            case kSilence:
                return 0.0f;
            case kClicks:
                return random.unit() < clickChance ? (random.unit() < 0.5 ? -level : level) : 0.0f;
            case kDcSteps:
                if (position % stepLength == 0) dc = static_cast<float>(random.between(-0.9, 0.9));
                return dc;
            default:
                // A loud burst that decays over a second towards zero and far below it.
                tail *= decay;
                return tail * static_cast<float>(random.between(-1.0, 1.0));
        }
    }

  private:
    void startSegment() {
        kind = static_cast<Kind>(random.next() % kKindCount);
        remaining = static_cast<long>(random.between(0.5, 5.0) * rate);
        position = 0;
        level = static_cast<float>(std::pow(10.0, random.between(-60.0, 0.0) / 20.0));
        clickChance = random.between(1.0, 20.0) / rate;
        stepLength = static_cast<long>(random.between(0.05, 1.0) * rate) + 1;
        tail = 1.0f;
        decay = static_cast<float>(std::exp(-random.between(5.0, 40.0) / rate));
        for (double& f : chord)
            f = 110.0 * std::pow(2.0, std::floor(random.between(0.0, 36.0)) / 12.0);
        noteLength = static_cast<long>(random.between(0.15, 1.0) * rate);
    }

    float music() {
        if (position % noteLength == 0) {
            chord[random.next() % 3] =
                110.0 * std::pow(2.0, std::floor(random.between(0.0, 36.0)) / 12.0);
        }
        const double t = static_cast<double>(position) / rate;
        const double envelope = std::exp(-3.0 * static_cast<double>(position % noteLength) / rate);
        double sum = 0.0;
        for (double f : chord) {
            for (int h = 1; h <= 4; ++h) {
                if (f * h < 0.45 * rate) sum += std::sin(kTwoPi * f * h * t) / (h * h);
            }
        }
        return static_cast<float>(level * 0.3 * envelope * sum);
    }

    double rate;
    Random random;
    Kind kind = kSilence;
    long remaining = 0;
    long position = 0;
    float level = 0.0f;
    double clickChance = 0.0;
    long stepLength = 1;
    float dc = 0.0f;
    float tail = 0.0f;
    float decay = 0.0f;
    double chord[3] = {};
    long noteLength = 1;
};

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Processor time of this thread, in microseconds. Block times are measured in it rather than on
// the wall clock, so that other processes competing for the cores do not pass for a slowdown of
// the plug-in.
double threadMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) * 1e-3;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (double v : values) sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);

    void* module = dlopen(options.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "zelko-soak: cannot load %s: %s\n", options.plugin.c_str(), dlerror());
        return 1;
    }
    auto entry =
        reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(module, "VSTPluginMain"));
    AEffect* effect = entry ? entry(hostCallback) : nullptr;
    if (!effect) {
        std::fprintf(stderr, "zelko-soak: %s gives no effect record\n", options.plugin.c_str());
        return 1;
    }
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(options.rate));
    effect->dispatcher(effect, effSetBlockSize, 0, options.block, nullptr, 0.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);

    const long long totalSamples = std::llround(options.seconds * options.rate);
    const long long minuteSamples = 60LL * options.rate;
    // The two timing windows: the first minute and the last (the first and last fifth of a run
    // shorter than five minutes), the last starting on a block boundary.
    const long long window = std::min(minuteSamples, totalSamples / 5);
    const long long lastStart = (totalSamples - window) / options.block * options.block;

    std::vector<float> input(static_cast<std::size_t>(options.block));
    std::vector<float> silentInput(static_cast<std::size_t>(options.block), 0.0f);
    std::vector<float> left(input.size()), right(input.size());
    std::vector<double> firstTimes, lastTimes;

    long long done = 0, blocks = 0, parameterWrites = 0, faults = 0, subnormals = 0;
    long long firstFaultAt = -1;
    float peak = 0.0f;
    double energy = 0.0, slowest = 0.0;
    long long slowestAt = 0;
    long long minute = 0;
    Programme programme(options.rate, 0);
    Random automation(1000);

    const auto started = std::chrono::steady_clock::now();
    while (done < totalSamples) {
        // Each minute has its own programme and automation; the last window replays the
        // first, so that their block times compare the same work.
        if (done == lastStart) {
            programme = Programme(options.rate, 0);
            automation = Random(1000);
        } else if (done < lastStart && done / minuteSamples != minute) {
            minute = done / minuteSamples;
            programme = Programme(options.rate, static_cast<std::uint64_t>(minute));
            automation = Random(static_cast<std::uint64_t>(minute) + 1000);
        }
        const int frames =
            static_cast<int>(std::min<long long>(options.block, totalSamples - done));
        for (int i = 0; i < frames; ++i) input[static_cast<std::size_t>(i)] = programme.next();

        // About eight writes a second, each to a random parameter, as a host's automation lane.
        if (automation.unit() < 8.0 * options.block / options.rate) {
            effect->setParameter(effect, static_cast<VstInt32>(automation.next() % kParameterCount),
                                 static_cast<float>(automation.unit()));
            ++parameterWrites;
        }

        float* inputs[2] = {input.data(), silentInput.data()};
        float* outputs[2] = {left.data(), right.data()};
        const double before = threadMicros();
        effect->processReplacing(effect, inputs, outputs, frames);
        const double micros = threadMicros() - before;

        if (frames == options.block) {
            if (done < window) firstTimes.push_back(micros);
            if (done >= lastStart) lastTimes.push_back(micros);
        }
        if (micros > slowest) {
            slowest = micros;
            slowestAt = done;
        }

        for (const float* out : {left.data(), right.data()}) {
            for (int i = 0; i < frames; ++i) {
                const float s = out[i];
                if (!std::isfinite(s) || std::fabs(s) > kOutputCeiling) {
                    if (firstFaultAt < 0) firstFaultAt = done + i;
                    ++faults;
                    continue;
                }
                if (std::fpclassify(s) == FP_SUBNORMAL) ++subnormals;
                peak = std::max(peak, std::fabs(s));
                energy += static_cast<double>(s) * s;
            }
        }
        done += frames;
        ++blocks;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);

    const double audioSeconds = static_cast<double>(done) / options.rate;
    const double firstMedian = median(firstTimes), lastMedian = median(lastTimes);
    const double ratio = firstMedian > 0.0 ? lastMedian / firstMedian : 0.0;
    std::printf("zelko-soak: %.1f s of %d Hz audio in blocks of %d (%lld samples, %lld blocks)\n",
                audioSeconds, options.rate, options.block, done, blocks);
    std::printf("  wall time %.1f s, %.2fx real time\n", wall, audioSeconds / wall);
    std::printf("  parameter writes: %lld\n", parameterWrites);
    std::printf("  output: %lld faulty samples (non-finite or above %.7f)", faults,
                static_cast<double>(kOutputCeiling));
    if (firstFaultAt >= 0) std::printf(", first at sample %lld", firstFaultAt);
    std::printf("; %lld subnormal; peak %.7f, rms %.2f dBFS\n", subnormals,
                static_cast<double>(peak),
                10.0 * std::log10(energy / (2.0 * static_cast<double>(done)) + 1e-30));
    std::printf("  block processor time, first window: median %.1f us, mean %.1f us (%zu blocks)\n",
                firstMedian, mean(firstTimes), firstTimes.size());
    std::printf("  block processor time, last window:  median %.1f us, mean %.1f us (%zu blocks)\n",
                lastMedian, mean(lastTimes), lastTimes.size());
    std::printf("  last / first median: %.3f (limit %.1f%s); slowest block %.1f us at %.1f s\n",
                ratio, kTimingLimit, options.timingCheck ? "" : ", not checked", slowest,
                static_cast<double>(slowestAt) / options.rate);

    const bool timingOk = !options.timingCheck || (ratio > 0.0 && ratio <= kTimingLimit);
    const bool pass = faults == 0 && timingOk;
    std::printf("  result: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
