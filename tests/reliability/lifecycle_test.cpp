// The host decides the order of the lifecycle calls and the sizes of the blocks; none of them
// may change what the plug-in plays, and none may leak. Every comparison here is bit for bit:
// the same input through the same chain state gives the same floats, whatever the host did
// around it.
#include <gtest/gtest.h>

#include <cstddef>

#include "reliability/reliability_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZELKO_HEAP_FROM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELKO_HEAP_FROM_ASAN 1
#endif
#endif

#if defined(ZELKO_HEAP_FROM_ASAN)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

using reliability::render;

using reliability::kRate;

// Bytes currently allocated by the process.
std::size_t heapInUse() {
#if defined(ZELKO_HEAP_FROM_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

std::vector<float> input(std::size_t frames = 16384) {
    return reliability::musicLike(frames, kRate, 21);
}

TEST(Lifecycle, BlockLongerThanAnnouncedMatchesAnnouncedBlocks) {
    const auto signal = input();

    testhost::Plugin announced;
    ASSERT_TRUE(announced);
    reliability::startPlayback(announced, kRate, 64);
    const auto reference = render(announced.effect(), signal, 64);
    ASSERT_EQ(reference.fault, "");

    // The host announced 64 and then sends 4096 at a time, four times the usual maximum.
    testhost::Plugin oversized;
    ASSERT_TRUE(oversized);
    reliability::startPlayback(oversized, kRate, 64);
    const auto out = render(oversized.effect(), signal, 4096);
    ASSERT_EQ(out.fault, "");
    EXPECT_GT(reliability::peak(out.left), 1e-3f);
    EXPECT_EQ(out.left, reference.left);
    EXPECT_EQ(out.right, reference.right);
}

TEST(Lifecycle, InPlaceProcessingMatchesSeparateBuffers) {
    const auto signal = input();
    constexpr int kBlock = 512;

    testhost::Plugin separate;
    ASSERT_TRUE(separate);
    reliability::startPlayback(separate, kRate, kBlock);
    const auto reference = render(separate.effect(), signal, kBlock);
    ASSERT_EQ(reference.fault, "");

    // The outputs are the input buffers: channel 0 holds the input, channel 1 the second input.
    testhost::Plugin inPlace;
    ASSERT_TRUE(inPlace);
    reliability::startPlayback(inPlace, kRate, kBlock);
    AEffect* effect = inPlace.effect();
    std::vector<float> first(kBlock), second(kBlock), left, right;
    for (std::size_t start = 0; start < signal.size(); start += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            first[static_cast<std::size_t>(i)] = signal[start + static_cast<std::size_t>(i)];
            second[static_cast<std::size_t>(i)] = -first[static_cast<std::size_t>(i)];
        }
        float* buffers[2] = {first.data(), second.data()};
        effect->processReplacing(effect, buffers, buffers, kBlock);
        left.insert(left.end(), first.begin(), first.end());
        right.insert(right.end(), second.begin(), second.end());
    }
    EXPECT_EQ(left, reference.left);
    EXPECT_EQ(right, reference.right);
}

// Neither opening twice nor suspend and resume between blocks touches the chain: the output is
// that of a plug-in that was opened and resumed once.
TEST(Lifecycle, OpenTwiceAndSuspendResumeBetweenBlocksChangeNothing) {
    const auto signal = input();
    constexpr int kBlock = 256;

    testhost::Plugin plain;
    ASSERT_TRUE(plain);
    reliability::startPlayback(plain, kRate, kBlock);
    const auto reference = render(plain.effect(), signal, kBlock);
    ASSERT_EQ(reference.fault, "");

    testhost::Plugin restless;
    ASSERT_TRUE(restless);
    restless.dispatch(effOpen);
    restless.dispatch(effOpen);
    reliability::startPlayback(restless, kRate, kBlock);
    reliability::BlockRunner runner(restless.effect(), kBlock);
    std::vector<float> left, right;
    for (std::size_t start = 0; start < signal.size(); start += kBlock) {
        restless.dispatch(effMainsChanged, 0, 0);
        restless.dispatch(effMainsChanged, 0, 1);
        runner.run(signal.data() + start, kBlock);
        left.insert(left.end(), runner.left.begin(), runner.left.end());
        right.insert(right.end(), runner.right.begin(), runner.right.end());
    }
    EXPECT_EQ(left, reference.left);
    EXPECT_EQ(right, reference.right);
}

TEST(Lifecycle, ProcessingBeforeOpenAndResumePlaysFromConstruction) {
    const auto signal = input();
    constexpr int kBlock = 128;

    testhost::Plugin prepared;
    ASSERT_TRUE(prepared);
    prepared.dispatch(effOpen);
    prepared.dispatch(effMainsChanged, 0, 1);
    const auto reference = render(prepared.effect(), signal, kBlock);
    ASSERT_EQ(reference.fault, "");

    // Straight from VSTPluginMain into process: the plug-in is ready at 44.1 kHz from
    // construction, so the output is the same.
    testhost::Plugin eager;
    ASSERT_TRUE(eager);
    const auto out = render(eager.effect(), signal, kBlock);
    ASSERT_EQ(out.fault, "");
    EXPECT_EQ(out.left, reference.left);
    EXPECT_EQ(out.right, reference.right);
}

// Also under LeakSanitizer at exit; the heap figure catches a leak in builds without it.
TEST(Lifecycle, ThousandCreateCloseCyclesLeakNothing) {
    const auto signal = reliability::noise(64, 8);
    testhost::HostRecorder recorder;
    auto cycle = [&] {
        testhost::Plugin plugin(recorder);
        ASSERT_TRUE(plugin);
        reliability::startPlayback(plugin, kRate, 64);
        reliability::BlockRunner runner(plugin.effect(), 64);
        runner.run(signal.data(), 64);
        ASSERT_EQ(runner.fault(64), "");
        plugin.dispatch(effMainsChanged, 0, 0);
        EXPECT_EQ(plugin.close(), 1);
        recorder.calls.clear();
    };
    cycle();  // the first instance may leave lasting runtime allocations (stream buffers)
    const std::size_t before = heapInUse();
    for (int n = 1; n < 1000; ++n) {
        cycle();
        if (HasFatalFailure()) return;
    }
    // A plug-in instance holds several megabytes; a leak of any part of one per cycle would
    // add far more than this margin over 999 cycles.
    EXPECT_LT(heapInUse(), before + 64 * 1024);
}

}  // namespace
