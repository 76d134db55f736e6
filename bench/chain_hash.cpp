// A fingerprint of the whole chain's output, for checking that a change to how the chain is
// evaluated leaves every output bit as it was.
//
// For each band path (scalar, SSE2, AVX2 where the processor has it) and each rate, the processor
// runs eight seconds of repeatable noise whose level rises and falls by 60 dB (so that the gates,
// the noise reduction and the mono/stereo decisions all move), in blocks of changing length, once
// with the default controls and once with every control moved away from its default half-way
// through. It prints an FNV-1a hash of the raw bits of both outputs and of every meter after every
// block. Every path must print the same hash at a rate, and a faster evaluation of the chain must
// print the hashes its predecessor printed; a single differing bit changes the hash.
//
//   chain_hash              every path at 22050, 44100, 48000, 96000 and 192000 Hz
//   chain_hash 48000 96000  those rates only
#include <xmmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dsp/dsp.h"
#include "dsp/mydsp.h"

namespace {

// The addresses of the processor's controls and meters by label.
class ControlAddresses : public UIReal<float> {
  public:
    std::map<std::string, float*> controls;
    std::vector<float*> meters;

    void addButtonControl(const char* label, float* value) override { controls[label] = value; }
    void addCheckButtonControl(const char* label, float* value) override {
        controls[label] = value;
    }
    void addVerticalSliderControl(const char* label, float* value, float, float, float,
                                  float) override {
        controls[label] = value;
    }
    void addHorizontalSliderControl(const char* label, float* value, float, float, float,
                                    float) override {
        controls[label] = value;
    }
    void addNumberEntryControl(const char* label, float* value, float, float, float,
                               float) override {
        controls[label] = value;
    }
    void addHorizontalMeter(const char*, float* value, float, float) override {
        meters.push_back(value);
    }
    void addVerticalMeter(const char*, float* value, float, float) override {
        meters.push_back(value);
    }
    void declareProperty(float*, const char*, const char*) override {}

    void set(const char* label, float value) const {
        const auto found = controls.find(label);
        if (found == controls.end()) {
            std::fprintf(stderr, "chain_hash: the processor declares no control \"%s\"\n", label);
            std::exit(1);
        }
        *found->second = value;
    }
};

struct Fnv1a {
    std::uint64_t state = 14695981039346656037ull;
    void add(float v) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
        for (int byte = 0; byte < 4; ++byte) {
            state ^= (bits >> (8 * byte)) & 0xffu;
            state *= 1099511628211ull;
        }
    }
};

// Noise whose level moves between -60 and 0 dBFS in slow steps, with short stretches of exact
// silence.
std::vector<float> programme(int rate, int seconds) {
    const std::size_t frames = static_cast<std::size_t>(rate) * static_cast<std::size_t>(seconds);
    std::vector<float> samples(frames);
    std::uint32_t state = 2463534242u;
    for (std::size_t n = 0; n < frames; ++n) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const float white = static_cast<float>(static_cast<std::int32_t>(state)) / 2147483648.0f;
        const std::size_t stretch = n / (static_cast<std::size_t>(rate) / 4);  // quarter seconds
        const float gain = stretch % 7 == 5   ? 0.0f
                           : stretch % 3 == 0 ? 0.001f
                           : stretch % 3 == 1 ? 0.5f
                                              : 0.03f;
        samples[n] = gain * white;
    }
    return samples;
}

std::uint64_t chainHash(BandPath path, int rate, bool movedControls) {
    mydsp processor(path);
    ControlAddresses addresses;
    processor.declareControls(&addresses);
    processor.initialize(rate);

    const std::vector<float> input = programme(rate, 8);
    const std::size_t frames = input.size();
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    static constexpr int blockLengths[] = {512, 1, 37, 256, 1024, 3, 64, 100};
    Fnv1a hash;
    std::size_t start = 0;
    for (std::size_t block = 0; start < frames; ++block) {
        if (movedControls && start >= frames / 2 && start < frames / 2 + 4096) {
            addresses.set("Lowpass Filter", 9000.0f);
            addresses.set("Auto-EQ Threshold", -30.0f);
            addresses.set("Noisegate Gain dB", 20.0f);
            addresses.set("Output AGC Threshold", 0.0f);
            addresses.set("DNR LPF Disable", 1.0f);
        }
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::size_t>(blockLengths[block % 8]), frames - start);
        float* inputs[2] = {const_cast<float*>(input.data()) + start, nullptr};
        float* outputs[2] = {left.data() + start, right.data() + start};
        processor.process(static_cast<int>(length), inputs, outputs);
        for (std::size_t n = start; n < start + length; ++n) {
            hash.add(left[n]);
            hash.add(right[n]);
        }
        for (const float* meter : addresses.meters) hash.add(*meter);
        start += length;
    }
    return hash.state;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> rates;
    for (int i = 1; i < argc; ++i) rates.push_back(std::atoi(argv[i]));
    if (rates.empty()) rates = {22050, 44100, 48000, 96000, 192000};

    // As in a host: flush-to-zero and denormals-are-zero.
    _mm_setcsr(_mm_getcsr() | 0x8040u);
    struct Path {
        BandPath path;
        const char* name;
    };
    static constexpr Path paths[] = {{BandPath::scalar, "scalar"},
                                     {BandPath::sse2, "sse2"},
                                     {BandPath::avx2, "avx2"},
                                     {BandPath::avx512, "avx512"}};
    bool agree = true;
    for (const int rate : rates) {
        for (const bool moved : {false, true}) {
            std::uint64_t first = 0;
            for (const Path& p : paths) {
                if (!bandPathAvailable(p.path)) continue;
                const std::uint64_t h = chainHash(p.path, rate, moved);
                std::printf("%6d Hz  %-8s %-7s %016llx\n", rate, moved ? "moved" : "default",
                            p.name, static_cast<unsigned long long>(h));
                std::fflush(stdout);
                if (p.path == BandPath::scalar) first = h;
                agree = agree && h == first;
            }
        }
    }
    if (!agree) std::puts("the paths disagree");
    return agree ? 0 : 1;
}
