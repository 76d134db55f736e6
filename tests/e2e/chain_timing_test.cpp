// The whole signal chain through the effect record: silence and latency after a reset, and
// outputs that do not depend on how the host cuts the signal into blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

using testhost::Plugin;

// Input to the first sample that reaches the outputs: 221 (input look-ahead) + 125 (noise
// reduction look-ahead) + 132 + 2048 (band look-aheads) + 132 (output look-ahead).
constexpr int chainLatency = 2658;

using testsignal::noise;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

// Runs `input` through the plug-in in blocks of the given sizes (cycled).
Stereo render(Plugin& plugin, const std::vector<float>& input, const std::vector<int>& blocks) {
    const int frames = static_cast<int>(input.size());
    Stereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
    int done = 0;
    for (std::size_t b = 0; done < frames; ++b) {
        const int size = std::min(blocks[b % blocks.size()], frames - done);
        plugin.processReplacing(input.data() + done, out.left.data() + done,
                                out.right.data() + done, size);
        done += size;
    }
    return out;
}

int firstNonZero(const std::vector<float>& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != 0.0f) return static_cast<int>(i);
    }
    return -1;
}

TEST(ChainTiming, SilenceAfterAResetGivesExactZeros) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    const Stereo out = render(plugin, std::vector<float>(20000, 0.0f), {512});
    EXPECT_EQ(firstNonZero(out.left), -1);
    EXPECT_EQ(firstNonZero(out.right), -1);
}

TEST(ChainTiming, NothingLeavesBeforeTheChainLatency) {
    for (float scale : {1e-6f, 0.5f, 1.0f}) {
        Plugin plugin;
        ASSERT_TRUE(plugin);
        const Stereo out = render(plugin, noise(chainLatency + 500, 99u, scale), {256});
        EXPECT_EQ(firstNonZero(out.left), chainLatency) << scale;
        EXPECT_EQ(firstNonZero(out.right), chainLatency) << scale;
    }
}

TEST(ChainTiming, AnImpulseAtSampleZeroFirstAppearsAtTheLatency) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    std::vector<float> impulse(6000, 0.0f);
    impulse[0] = 1.0f;
    const Stereo out = render(plugin, impulse, {512});
    EXPECT_EQ(firstNonZero(out.left), chainLatency);
    EXPECT_EQ(firstNonZero(out.right), chainLatency);
}

TEST(ChainTiming, BlockSizeDoesNotChangeTheOutput) {
    // One second of noise: past the latency, through every ring's wrap (the largest has 4096
    // slots) and well into the levelled, separated steady state.
    const std::vector<float> input = noise(44100);
    Plugin reference;
    ASSERT_TRUE(reference);
    const Stereo expected = render(reference, input, {512});
    ASSERT_NE(firstNonZero(expected.left), -1);

    std::vector<int> randomPartition;
    std::uint32_t seed = 17u;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1664525u + 1013904223u;
        randomPartition.push_back(1 + static_cast<int>((seed >> 8) % 700u));
    }
    for (const std::vector<int>& blocks :
         std::vector<std::vector<int>>{{1}, {7}, {64}, {4096}, {3, 1000, 1, 77}, randomPartition}) {
        Plugin plugin;
        ASSERT_TRUE(plugin);
        const Stereo out = render(plugin, input, blocks);
        EXPECT_EQ(out.left, expected.left) << "first block size " << blocks[0];
        EXPECT_EQ(out.right, expected.right) << "first block size " << blocks[0];
    }
}

TEST(ChainTiming, ASampleRateChangeRestartsTheChainFromSilence) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    render(plugin, noise(30000), {512});
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);

    // Everything is cleared: silence stays exactly silent, and what follows matches a plug-in
    // that has only ever run at 48000 Hz.
    const Stereo silence = render(plugin, std::vector<float>(8000, 0.0f), {512});
    EXPECT_EQ(firstNonZero(silence.left), -1);
    EXPECT_EQ(firstNonZero(silence.right), -1);

    Plugin fresh;
    ASSERT_TRUE(fresh);
    fresh.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    render(fresh, std::vector<float>(8000, 0.0f), {512});
    const std::vector<float> input = noise(20000, 4242u);
    const Stereo restarted = render(plugin, input, {512});
    const Stereo expected = render(fresh, input, {512});
    EXPECT_EQ(restarted.left, expected.left);
    EXPECT_EQ(restarted.right, expected.right);
}

}  // namespace
