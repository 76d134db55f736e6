// The renderer's measuring thread, driven directly: blocks arrive whole and in order however the
// queue's size and the wake batching fall, finish() leaves nothing unmeasured, and a failure of
// the measuring reaches the render.

#include "tools/render/measurement_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using render::MeasurementThread;
using Stream = MeasurementThread::Stream;

struct Seen {
    Stream stream;
    std::vector<float> first;
    std::vector<float> second;
    int channels;
};

// Blocks of `frames` samples whose values encode the block's number, so that order, tearing and
// loss all show.
std::vector<float> block(int number, int frames, float offset = 0.0f) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<std::size_t>(i)] = number * 1000.0f + i + offset;
    return samples;
}

// Every queue size from one slot up (a one-slot queue makes the render wait on every block; a
// large one lets blocks gather below the wake batch until finish()), and a count of blocks that
// is not a multiple of the batch.
TEST(MeasurementThread, MeasuresEveryBlockWholeAndInOrder) {
    for (const std::size_t slots : {1u, 2u, 7u, 64u}) {
        std::vector<Seen> seen;
        MeasurementThread thread(
            [&](Stream stream, const float* first, const float* second, int frames, int channels) {
                const auto count = static_cast<std::size_t>(frames * channels);
                seen.push_back(
                    {stream,
                     {first, first + count},
                     second ? std::vector<float>(second, second + count) : std::vector<float>{},
                     channels});
            },
            slots);
        constexpr int kBlocks = 203;
        for (int pass = 0; pass < 2; ++pass) {  // finish() twice: the queue is usable after it
            for (int n = 0; n < kBlocks; ++n) {
                const auto left = block(n, 1 + n % 5);
                const auto right = block(n, 1 + n % 5, 0.5f);
                if (n % 3 == 0) {
                    thread.push(Stream::kOutput, left.data(), right.data(), 1 + n % 5);
                } else {
                    thread.push(Stream::kFile, left.data(), nullptr, 1, 1 + n % 5);
                }
            }
            thread.finish();
            ASSERT_EQ(seen.size(), static_cast<std::size_t>((pass + 1) * kBlocks)) << slots;
        }
        for (std::size_t i = 0; i < seen.size(); ++i) {
            const int n = static_cast<int>(i % kBlocks);
            EXPECT_EQ(seen[i].first, block(n, 1 + n % 5)) << "slots " << slots << " block " << i;
            if (n % 3 == 0) {
                EXPECT_EQ(seen[i].stream, Stream::kOutput);
                EXPECT_EQ(seen[i].second, block(n, 1 + n % 5, 0.5f));
            } else {
                EXPECT_EQ(seen[i].stream, Stream::kFile);
                EXPECT_EQ(seen[i].channels, 1 + n % 5);
                EXPECT_TRUE(seen[i].second.empty());
            }
        }
    }
}

// A failure is rethrown by finish(); the blocks after it are taken off the queue unmeasured, so
// a render that goes on pushing never waits for ever.
TEST(MeasurementThread, FailureReachesFinishAndTheQueueKeepsMoving) {
    int measured = 0;
    MeasurementThread thread(
        [&](Stream, const float*, const float*, int, int) {
            if (++measured == 5) throw std::runtime_error("measuring failed");
        },
        2);
    const auto samples = block(0, 8);
    for (int n = 0; n < 100; ++n) thread.push(Stream::kFeed, samples.data(), nullptr, 8);
    EXPECT_THROW(thread.finish(), std::runtime_error);
    EXPECT_EQ(measured, 5);
}

// Destroyed with blocks still queued and no finish(): it stops without hanging.
TEST(MeasurementThread, StopsWithBlocksQueued) {
    const auto samples = block(0, 4);
    MeasurementThread thread([](Stream, const float*, const float*, int, int) {}, 64);
    for (int n = 0; n < 10; ++n) thread.push(Stream::kFeed, samples.data(), nullptr, 4);
}

}  // namespace
