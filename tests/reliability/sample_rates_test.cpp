// Every common sample rate with block sizes from 1 to beyond the usual 4096: noise in, and every
// output sample finite, within the ceiling and never subnormal.
#include <gtest/gtest.h>

#include <tuple>

#include "reliability/reliability_support.h"

namespace {

using reliability::peak;
using reliability::render;

class SampleRateAndBlock : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SampleRateAndBlock, NoiseGivesFiniteBoundedNormalOutput) {
    const auto [rate, blockSize] = GetParam();
    testhost::Plugin plugin;
    ASSERT_TRUE(plugin);
    reliability::startPlayback(plugin, static_cast<float>(rate), blockSize);

    // Half a second per case keeps the 36 cases short under the sanitizers; it is well past
    // the chain's 2658-sample delay at every rate, so the whole chain carries signal.
    const auto signal = reliability::noise(static_cast<std::size_t>(rate / 2), 0x5eed + rate);
    const auto out = render(plugin.effect(), signal, blockSize);
    ASSERT_EQ(out.fault, "") << rate << " Hz, blocks of " << blockSize;

    // Not silence: the last quarter carries the processed noise on both channels.
    const std::size_t lastQuarter = signal.size() * 3 / 4;
    EXPECT_GT(peak(out.left, lastQuarter), 1e-3f);
    EXPECT_GT(peak(out.right, lastQuarter), 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(Matrix, SampleRateAndBlock,
                         ::testing::Combine(::testing::Values(22050, 44100, 48000, 88200, 96000,
                                                              192000),
                                            ::testing::Values(1, 17, 64, 512, 1024, 4097)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "Hz_block" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
