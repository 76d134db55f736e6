// Hosts write parameters from their user-interface or automation thread while the audio thread
// runs blocks. The writes are plain float stores that each processor picks up at its next
// block, so nothing is locked; what must hold is that no interleaving of writes and blocks
// produces a sample a host cannot play or a parameter outside 0 ... 1.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "reliability/reliability_support.h"

namespace {

constexpr int kWrittenBlocks = 500;
constexpr int kWrittenBlockSize = 512;

TEST(Threads, ParameterWritesFromASecondThreadDuringFiveHundredBlocks) {
    testhost::Plugin plugin;
    ASSERT_TRUE(plugin);
    reliability::startPlayback(plugin, 44100.0f, kWrittenBlockSize);
    AEffect* effect = plugin.effect();

    std::atomic<bool> stop{false};
    std::atomic<long> writes{0};
    std::atomic<int> badReads{0};
    std::thread writer([&] {
        reliability::Noise dice(77);
        while (!stop.load(std::memory_order_relaxed)) {
            const auto index = static_cast<VstInt32>(dice.next() % 5);
            effect->setParameter(effect, index, dice.unit());
            const float back = effect->getParameter(effect, index);
            if (!(back >= 0.0f && back <= 1.0f)) badReads.fetch_add(1);
            writes.fetch_add(1, std::memory_order_relaxed);
        }
    });

    const auto signal =
        reliability::noise(static_cast<std::size_t>(kWrittenBlocks) * kWrittenBlockSize, 5);
    reliability::BlockRunner runner(effect, kWrittenBlockSize);
    std::string fault;
    long writesSeenByBlocks = 0;
    for (int b = 0; b < kWrittenBlocks && fault.empty(); ++b) {
        runner.run(signal.data() + static_cast<std::size_t>(b) * kWrittenBlockSize,
                   kWrittenBlockSize);
        fault = runner.fault(kWrittenBlockSize);
        if (b == kWrittenBlocks / 2) writesSeenByBlocks = writes.load();
    }
    stop = true;
    writer.join();

    EXPECT_EQ(fault, "");
    EXPECT_EQ(badReads.load(), 0);
    // The writer really ran while blocks were processed, not only before or after them.
    EXPECT_GT(writesSeenByBlocks, 0);
    EXPECT_GT(writes.load(), writesSeenByBlocks);
}

}  // namespace
