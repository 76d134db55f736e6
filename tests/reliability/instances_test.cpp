// Instances share no mutable state: sixteen of them fed the same input side by side produce the
// same output bit for bit, and one instance gives the same output whether it runs alone or
// between others that get different input and parameters.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "reliability/reliability_support.h"

namespace {

constexpr int kInstances = 16;
constexpr int kBlockSize = 256;
constexpr int kBlocks = 80;  // about half a second at 44.1 kHz, past the chain's delay

TEST(Instances, SixteenSideBySideGiveIdenticalOutput) {
    testhost::HostRecorder recorder;
    std::vector<std::unique_ptr<testhost::Plugin>> plugins;
    std::vector<std::unique_ptr<reliability::BlockRunner>> runners;
    for (int n = 0; n < kInstances; ++n) {
        plugins.push_back(std::make_unique<testhost::Plugin>(recorder));
        ASSERT_TRUE(*plugins.back());
        reliability::startPlayback(*plugins.back(), 44100.0f, kBlockSize);
        plugins.back()->setParameter(0, 0.4f);
        runners.push_back(
            std::make_unique<reliability::BlockRunner>(plugins.back()->effect(), kBlockSize));
    }

    const auto signal =
        reliability::musicLike(static_cast<std::size_t>(kBlocks) * kBlockSize, 44100.0, 3);
    std::vector<std::vector<float>> left(kInstances), right(kInstances);
    for (int b = 0; b < kBlocks; ++b) {
        for (int n = 0; n < kInstances; ++n) {
            runners[static_cast<std::size_t>(n)]->run(
                signal.data() + static_cast<std::size_t>(b) * kBlockSize, kBlockSize);
            auto& runner = *runners[static_cast<std::size_t>(n)];
            ASSERT_EQ(runner.fault(kBlockSize), "") << "instance " << n << ", block " << b;
            left[static_cast<std::size_t>(n)].insert(left[static_cast<std::size_t>(n)].end(),
                                                     runner.left.begin(),
                                                     runner.left.begin() + kBlockSize);
            right[static_cast<std::size_t>(n)].insert(right[static_cast<std::size_t>(n)].end(),
                                                      runner.right.begin(),
                                                      runner.right.begin() + kBlockSize);
        }
    }
    EXPECT_GT(reliability::peak(left[0]), 1e-3f);
    for (int n = 1; n < kInstances; ++n) {
        EXPECT_EQ(left[static_cast<std::size_t>(n)], left[0]) << "instance " << n;
        EXPECT_EQ(right[static_cast<std::size_t>(n)], right[0]) << "instance " << n;
    }
}

TEST(Instances, NeighboursWithOtherInputAndSettingsChangeNothing) {
    const auto signal =
        reliability::musicLike(static_cast<std::size_t>(kBlocks) * kBlockSize, 44100.0, 11);

    testhost::Plugin alone;
    ASSERT_TRUE(alone);
    reliability::startPlayback(alone, 44100.0f, kBlockSize);
    const auto reference = reliability::render(alone.effect(), signal, kBlockSize);
    ASSERT_EQ(reference.fault, "");

    testhost::Plugin subject;
    ASSERT_TRUE(subject);
    reliability::startPlayback(subject, 44100.0f, kBlockSize);
    std::array<std::unique_ptr<testhost::Plugin>, 3> neighbours;
    std::array<std::unique_ptr<reliability::BlockRunner>, 3> neighbourRunners;
    for (std::size_t n = 0; n < neighbours.size(); ++n) {
        neighbours[n] = std::make_unique<testhost::Plugin>();
        ASSERT_TRUE(*neighbours[n]);
        reliability::startPlayback(*neighbours[n], n == 0 ? 96000.0f : 48000.0f, kBlockSize);
        for (int p = 0; p < 5; ++p)
            neighbours[n]->setParameter(p, 0.1f * static_cast<float>(n + p));
        neighbourRunners[n] =
            std::make_unique<reliability::BlockRunner>(neighbours[n]->effect(), kBlockSize);
    }
    const auto loud = reliability::noise(signal.size(), 1234);

    reliability::BlockRunner runner(subject.effect(), kBlockSize);
    std::vector<float> left, right;
    for (int b = 0; b < kBlocks; ++b) {
        const std::size_t start = static_cast<std::size_t>(b) * kBlockSize;
        for (auto& neighbour : neighbourRunners) neighbour->run(loud.data() + start, kBlockSize);
        runner.run(signal.data() + start, kBlockSize);
        left.insert(left.end(), runner.left.begin(), runner.left.begin() + kBlockSize);
        right.insert(right.end(), runner.right.begin(), runner.right.begin() + kBlockSize);
    }
    EXPECT_EQ(left, reference.left);
    EXPECT_EQ(right, reference.right);
}

}  // namespace
