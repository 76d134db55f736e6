// Parameter automation as dense as hosts make it: a write every 32 samples, ordinary values for
// ten seconds and hostile values (NaN, infinities, far out of range) for two. The output stays
// finite and within the ceiling, and every parameter reads back inside 0 ... 1.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "reliability/reliability_support.h"

namespace {

using reliability::kRate;
constexpr int kAutomationStep = 32;
constexpr int kParameterCount = 5;

// Input of both tests: music-like material with full-scale noise bursts every other second.
std::vector<float> programme(int seconds) {
    auto signal = reliability::musicLike(static_cast<std::size_t>(seconds * kRate), kRate, 7);
    const auto burst = reliability::noise(signal.size(), 99);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if ((i / kRate) % 2 == 1) signal[i] = burst[i];
    }
    return signal;
}

// Runs `signal` in blocks of 32 samples with `write` called before each block.
template <typename Write>
std::string automate(testhost::Plugin& plugin, const std::vector<float>& signal, Write write,
                     float& loudest) {
    reliability::BlockRunner runner(plugin.effect(), kAutomationStep);
    for (std::size_t start = 0; start + kAutomationStep <= signal.size();
         start += kAutomationStep) {
        write();
        runner.run(signal.data() + start, kAutomationStep);
        const std::string fault = runner.fault(kAutomationStep);
        if (!fault.empty()) return fault + " of the block at " + std::to_string(start);
        for (int p = 0; p < kParameterCount; ++p) {
            const float value = plugin.getParameter(p);
            if (!(value >= 0.0f && value <= 1.0f)) {
                return "parameter " + std::to_string(p) + " reads " + std::to_string(value);
            }
        }
        for (int i = 0; i < kAutomationStep; ++i) {
            loudest = std::max({loudest, std::fabs(runner.left[static_cast<std::size_t>(i)]),
                                std::fabs(runner.right[static_cast<std::size_t>(i)])});
        }
    }
    return {};
}

TEST(Automation, RandomWriteEvery32SamplesForTenSeconds) {
    testhost::Plugin plugin;
    ASSERT_TRUE(plugin);
    reliability::startPlayback(plugin, kRate, kAutomationStep);

    reliability::Noise dice(2024);
    float loudest = 0.0f;
    const std::string fault = automate(
        plugin, programme(10),
        [&] {
            plugin.setParameter(static_cast<VstInt32>(dice.next() % kParameterCount), dice.unit());
        },
        loudest);
    EXPECT_EQ(fault, "");
    EXPECT_GT(loudest, 1e-3f) << "the automated chain fell silent";
}

TEST(Automation, HostileValuesLeaveTheChainPlayable) {
    testhost::Plugin plugin;
    ASSERT_TRUE(plugin);
    reliability::startPlayback(plugin, kRate, kAutomationStep);

    const float hostile[] = {std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::max(),
                             -std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::denorm_min(),
                             -1.0e30f,
                             1.5f,
                             -0.5f,
                             0.5f};
    reliability::Noise dice(31337);
    float loudest = 0.0f;
    std::string fault = automate(
        plugin, programme(2),
        [&] {
            plugin.setParameter(static_cast<VstInt32>(dice.next() % kParameterCount),
                                hostile[dice.next() % std::size(hostile)]);
        },
        loudest);
    ASSERT_EQ(fault, "");

    // Afterwards ordinary values take hold again and the chain still plays.
    for (int p = 0; p < kParameterCount; ++p) plugin.setParameter(p, 0.75f);
    for (int p = 0; p < kParameterCount - 1; ++p) {
        // The sliders map 0.75 back to 0.75 up to float rounding of min + x * (max - min).
        EXPECT_NEAR(plugin.getParameter(p), 0.75f, 1e-6f) << "parameter " << p;
    }
    EXPECT_EQ(plugin.getParameter(4), 1.0f);  // a switch reads as on or off
    loudest = 0.0f;
    fault = automate(
        plugin, programme(2), [] {}, loudest);
    EXPECT_EQ(fault, "");
    EXPECT_GT(loudest, 1e-3f) << "hostile parameter values left the chain silent";
}

}  // namespace
