#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dsp/mydsp.h"
#include "front_chain.h"
#include "support/noise.h"

namespace {

// Finds the processor's control fields by label, the way a control collector does.
class FieldFinder : public UIReal<float> {
  public:
    std::map<std::string, float*> fields;

    void addButtonControl(const char* label, float* value) override { fields[label] = value; }
    void addCheckButtonControl(const char* label, float* value) override { fields[label] = value; }
    void addVerticalSliderControl(const char* label, float* value, float, float, float,
                                  float) override {
        fields[label] = value;
    }
    void addHorizontalSliderControl(const char* label, float* value, float, float, float,
                                    float) override {
        fields[label] = value;
    }
    void addNumberEntryControl(const char* label, float* value, float, float, float,
                               float) override {
        fields[label] = value;
    }
    void addHorizontalMeter(const char*, float*, float, float) override {}
    void addVerticalMeter(const char*, float*, float, float) override {}
    void declareProperty(float*, const char*, const char*) override {}
};

struct Processor {
    std::unique_ptr<mydsp> processor = std::make_unique<mydsp>();
    FieldFinder controls;

    explicit Processor(int rate) {
        processor->declareControls(&controls);
        processor->initialize(rate);
    }

    float& control(const char* label) { return *controls.fields.at(label); }

    // Runs the input in blocks of the given sizes (repeated) and returns left and right.
    std::pair<std::vector<float>, std::vector<float>> run(const std::vector<float>& in,
                                                          const std::vector<int>& blockSizes = {
                                                              512}) {
        std::vector<float> left(in.size()), right(in.size());
        std::vector<float> input(in);
        std::size_t done = 0;
        for (std::size_t b = 0; done < in.size(); ++b) {
            const int size =
                std::min(blockSizes[b % blockSizes.size()], static_cast<int>(in.size() - done));
            float* inputs[2] = {input.data() + done, nullptr};
            float* outputs[2] = {left.data() + done, right.data() + done};
            processor->process(size, inputs, outputs);
            done += static_cast<std::size_t>(size);
        }
        return {left, right};
    }
};

std::vector<float> noise(int samples, float level, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-level, level);
    std::vector<float> out(static_cast<std::size_t>(samples));
    for (float& v : out) v = uniform(random);
    return out;
}

TEST(Frame, RatesFrom192kHzUpShareTheConstantsOf192kHz) {
    Processor at192k(192000);
    Processor at400k(400000);
    Processor at191999(191999);
    EXPECT_EQ(at400k.processor->sampleRate(), 400000);
    EXPECT_EQ(at400k.processor->clampedRate().fs, 192000.0f);
    EXPECT_TRUE(at400k.processor->rateConstants() == at192k.processor->rateConstants());
    EXPECT_EQ(at400k.processor->clampedRate().piOverFs, at192k.processor->clampedRate().piOverFs);
    EXPECT_FALSE(at191999.processor->rateConstants() == at192k.processor->rateConstants());
}

TEST(Frame, RatesUpToOneHertzShareTheConstantsOfOneHertz) {
    Processor one(1);
    for (int rate : {0, -1, -44100}) {
        Processor p(rate);
        EXPECT_EQ(p.processor->sampleRate(), rate);
        EXPECT_EQ(p.processor->clampedRate().fs, 1.0f);
        EXPECT_TRUE(p.processor->rateConstants() == one.processor->rateConstants()) << rate;
    }
}

// Even a processor at a rate of 1 Hz, where every frequency of the chain lies far above half
// the rate, stays finite on noise.
TEST(Frame, ExtremeRatesStayFinite) {
    for (int rate : {0, 1, 1000, 8000, 22050, 32000, 44000, 400000}) {
        Processor p(rate);
        const auto [left, right] = p.run(noise(20000, 1.0f, 5));
        for (std::size_t n = 0; n < left.size(); ++n) {
            ASSERT_TRUE(std::isfinite(left[n]) && std::isfinite(right[n])) << rate << ", " << n;
        }
    }
}

TEST(Frame, CountBelowOneOnlyReadsTheControls) {
    Processor p(44100);
    p.run(noise(3000, 0.5f, 1));
    const float dnr = p.processor->meter(Meter::dnrBandwidth);
    const float dnr2 = p.processor->meter(Meter::dnr2Bandwidth);
    const std::uint32_t counter = p.processor->sampleCounter();
    p.control("DNR LPF Disable") = 1.0f;
    for (int count : {0, -1, -512}) {
        float input[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        float left[4] = {7.0f, 7.0f, 7.0f, 7.0f};
        float right[4] = {7.0f, 7.0f, 7.0f, 7.0f};
        float* inputs[2] = {input, input};
        float* outputs[2] = {left, right};
        p.processor->process(count, inputs, outputs);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(left[i] + right[i], 14.0f) << count;
        EXPECT_EQ(p.processor->sampleCounter(), counter);
        EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), dnr);
        EXPECT_EQ(p.processor->meter(Meter::dnr2Bandwidth), dnr2);
        EXPECT_EQ(p.processor->controlBlock().disableCutoff, 22000.0f);
    }
}

TEST(Frame, CounterMovesOncePerSample) {
    Processor p(48000);
    p.run(std::vector<float>(1000, 0.0f), {1, 7, 300});
    EXPECT_EQ(p.processor->sampleCounter(), 1000u);
}

TEST(Frame, SilenceAfterResetIsExactlySilent) {
    Processor p(48000);
    const auto [left, right] = p.run(std::vector<float>(48000, 0.0f));
    for (std::size_t n = 0; n < left.size(); ++n) {
        ASSERT_EQ(left[n], 0.0f) << n;
        ASSERT_EQ(right[n], 0.0f) << n;
    }
    EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), 1000.0f);
    EXPECT_EQ(p.processor->meter(Meter::dnr2Bandwidth), 1000.0f);
}

// The switch is read at the start of a block and holds from its first sample; exactly 0.5
// counts as off.
TEST(Frame, DisableSwitchActsFromTheFirstSampleOfTheNextBlock) {
    Processor p(44100);
    p.run(std::vector<float>(4410, 0.0f));
    EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), 1000.0f);
    p.control("DNR LPF Disable") = 1.0f;
    p.run({0.0f});
    EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), 22000.0f);
    EXPECT_EQ(p.processor->meter(Meter::dnr2Bandwidth), 22000.0f);
    p.control("DNR LPF Disable") = 0.5f;
    p.run({0.0f});
    EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), 1000.0f);
    EXPECT_EQ(p.processor->meter(Meter::dnr2Bandwidth), 1000.0f);
}

TEST(Frame, OutputDoesNotDependOnTheBlockSizes) {
    const std::vector<float> in = noise(30000, 0.8f, 2);
    Processor whole(48000);
    Processor pieces(48000);
    const auto expected = whole.run(in, {30000});
    const auto actual = pieces.run(in, {1, 2, 3, 64, 511, 1000, 17});
    EXPECT_EQ(actual.first, expected.first);
    EXPECT_EQ(actual.second, expected.second);
    EXPECT_EQ(pieces.processor->meter(Meter::dnrBandwidth),
              whole.processor->meter(Meter::dnrBandwidth));
    EXPECT_EQ(pieces.processor->meter(Meter::dnr2Bandwidth),
              whole.processor->meter(Meter::dnr2Bandwidth));
}

// The host may hand the input buffer as an output buffer; the second input is never read (a
// null pointer here).
TEST(Frame, ProcessesInPlace) {
    const std::vector<float> in = noise(5000, 0.8f, 3);
    Processor separate(44100);
    const auto expected = separate.run(in);
    Processor inPlace(44100);
    std::vector<float> buffer(in);
    std::vector<float> right(in.size());
    float* inputs[2] = {buffer.data(), nullptr};
    float* outputs[2] = {buffer.data(), right.data()};
    inPlace.processor->process(static_cast<int>(in.size()), inputs, outputs);
    EXPECT_EQ(buffer, expected.first);
    EXPECT_EQ(right, expected.second);
}

TEST(Frame, ReinitialisationEqualsAFreshProcessor) {
    Processor used(44100);
    used.control("Lowpass Filter") = 3000.0f;
    used.control("DNR LPF Disable") = 1.0f;
    used.control("Noisegate Gain dB") = 10.0f;
    used.run(noise(20000, 1.0f, 4));
    used.processor->initialize(48000);
    EXPECT_EQ(used.control("Lowpass Filter"), 22000.0f);
    EXPECT_EQ(used.control("DNR LPF Disable"), 0.0f);
    EXPECT_EQ(used.processor->sampleCounter(), 0u);

    Processor fresh(48000);
    const std::vector<float> in = fronttest::sine(0.5, 3000.0, 48000, 10000);
    const auto expected = fresh.run(in);
    const auto actual = used.run(in);
    EXPECT_EQ(actual.first, expected.first);
    EXPECT_EQ(actual.second, expected.second);
    EXPECT_TRUE(used.processor->controlBlock() == fresh.processor->controlBlock());
}

// NaN, infinities and the largest floats from a host are read as silence or held to the input
// limit, so every output stays finite and the chain comes back to rest afterwards.
TEST(Frame, NonFiniteAndHugeInputCannotPoisonTheChain) {
    const int rate = 48000;
    Processor p(rate);
    std::vector<float> in = noise(rate, 0.5f, 6);
    const float burst[] = {
        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(),      std::numeric_limits<float>::max()};
    for (int n = 0; n < 600; ++n) in[static_cast<std::size_t>(10000 + n)] = burst[n % 6];
    in.resize(static_cast<std::size_t>(6 * rate), 0.0f);  // then five seconds of silence
    const auto [left, right] = p.run(in);
    for (std::size_t n = 0; n < left.size(); ++n) {
        ASSERT_TRUE(std::isfinite(left[n]) && std::isfinite(right[n])) << "sample " << n;
    }
    EXPECT_EQ(p.processor->meter(Meter::dnrBandwidth), 1000.0f);
    EXPECT_EQ(p.processor->meter(Meter::dnr2Bandwidth), 1000.0f);
}

}  // namespace

namespace {

// Sudden noise after silence, a pure tone, a full-scale square at half the rate, DC steps and
// single clicks: what moves a meter fastest and farthest.
std::vector<float> meterProgramme(int rate) {
    const int second = rate;
    std::vector<float> in = testsignal::noise(second / 2, 91u, 0.9f);
    in.insert(in.begin(), static_cast<std::size_t>(second / 4), 0.0f);
    for (int n = 0; n < second / 2; ++n) in.push_back(0.7f * std::sin(0.03f * n));
    for (int n = 0; n < second / 4; ++n) in.push_back(n % 2 == 0 ? 1.0f : -1.0f);
    for (int n = 0; n < second / 4; ++n) in.push_back(n < second / 8 ? 1.0f : -1.0f);
    for (int n = 0; n < second / 4; ++n) in.push_back(n % (second / 20) == 0 ? 1.0f : 0.0f);
    const std::vector<float> burst = testsignal::noise(second / 4, 5u, 1.0f);
    in.insert(in.end(), burst.begin(), burst.end());
    return in;
}

// Every meter stays inside the range the formats declare for it (the record's reach), after
// every block, at rates from 8 to 192 kHz and with the controls at either end: hosts would
// otherwise clamp what they show.
TEST(Meters, StayInsideTheRangesTheFormatsDeclare) {
    for (int rate : {8000, 22050, 44100, 48000, 96000, 192000}) {
        const std::vector<float> in = meterProgramme(rate);
        for (const bool extremes : {false, true}) {
            Processor p(rate);
            if (extremes) {
                for (std::size_t c = 0; c < controlCount; ++c) {
                    const ControlRange& range = controlRecords[c].range;
                    p.processor->controlValues().values[c] = c % 2 == 0 ? range.minimum : range.maximum;
                }
            }
            std::vector<float> left(64), right(64), block(64);
            for (std::size_t at = 0; at + 64 <= in.size(); at += 64) {
                std::copy(in.begin() + at, in.begin() + at + 64, block.begin());
                float* inputs[2] = {block.data(), block.data()};
                float* outputs[2] = {left.data(), right.data()};
                p.processor->process(64, inputs, outputs);
                for (std::size_t m = 0; m < meterCount; ++m) {
                    const float value = p.processor->meterValues().values[m];
                    const ControlRange& reach = meterRecords[m].reach;
                    ASSERT_TRUE(value >= reach.minimum && value <= reach.maximum)
                        << meterRecords[m].label << " read " << value << " at " << rate
                        << " Hz, sample " << at << (extremes ? ", controls at their ends" : "");
                }
            }
        }
    }
}

}  // namespace
