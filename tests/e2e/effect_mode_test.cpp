// Effect mode: the host's buffers go straight through the main processor under flush-to-zero
// and denormals-are-zero, and nothing else happens.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/mydsp.h"
#include "support/allocation_counter.h"
#include "support/plugin_host.h"
#include "test_processors.h"

namespace {

using testhost::Plugin;

constexpr unsigned kFlushBits = 0x8040;

std::vector<float> testSignal(int frames, float scale) {
    std::vector<float> signal(frames);
    for (int i = 0; i < frames; ++i) {
        signal[i] = scale * std::sin(0.05f * static_cast<float>(i)) + 0.001f * (i % 7);
    }
    return signal;
}

TEST(EffectMode, OutputsEqualTheProcessorRunDirectly) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    plugin.setParameter(1, 0.2f);

    // The same processor, driven directly with the same rate and control values.
    auto reference = std::make_unique<mydsp>();
    vstUI controls;
    reference->declareControls(&controls);
    reference->initialize(48000);
    controls.fUITable[1]->setNormalized(0.2f);

    constexpr int kBlock = 256;
    for (int b = 0; b < 6; ++b) {
        std::vector<float> first = testSignal(kBlock, 0.3f * static_cast<float>(b + 1));
        std::vector<float> second = testSignal(kBlock, -0.7f);
        const std::vector<float> firstCopy = first, secondCopy = second;
        std::vector<float> left(kBlock, 5.0f), right(kBlock, 5.0f);
        float* inputs[2] = {first.data(), second.data()};
        float* outputs[2] = {left.data(), right.data()};
        plugin.effect()->processReplacing(plugin.effect(), inputs, outputs, kBlock);

        std::vector<float> refInFirst = firstCopy, refInSecond = secondCopy;
        std::vector<float> refLeft(kBlock, 5.0f), refRight(kBlock, 5.0f);
        float* refInputs[2] = {refInFirst.data(), refInSecond.data()};
        float* refOutputs[2] = {refLeft.data(), refRight.data()};
        const unsigned saved = _mm_getcsr();
        _mm_setcsr(saved | kFlushBits);
        reference->process(kBlock, refInputs, refOutputs);
        _mm_setcsr(saved);

        EXPECT_EQ(first, firstCopy) << "block " << b;
        EXPECT_EQ(second, secondCopy) << "block " << b;
        EXPECT_EQ(left, refLeft) << "block " << b;
        EXPECT_EQ(right, refRight) << "block " << b;
    }
}

TEST(EffectMode, RestoresTheCallersFloatingPointState) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    const unsigned saved = _mm_getcsr();
    std::vector<float> in = testSignal(128, 0.5f), left(128), right(128);
    // Both modes of the caller come back unchanged: flush bits off, and flush bits already on
    // with a different rounding mode.
    for (unsigned callerCsr : {saved & ~kFlushBits, (saved | kFlushBits | 0x6000u)}) {
        _mm_setcsr(callerCsr);
        plugin.processReplacing(in.data(), left.data(), right.data(), 128);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(saved);
        EXPECT_EQ(after, callerCsr);
    }
}

TEST(EffectMode, FlushesDenormalsInsideTheBlockOnly) {
    auto* probe = new testproc::MxcsrProbe;
    testproc::ZelkoPtr zelko = testproc::build(probe);
    ASSERT_FALSE(zelko->isInstrument());

    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved & ~kFlushBits);
    const unsigned before = _mm_getcsr();
    constexpr float kDenormal = std::numeric_limits<float>::denorm_min() * 1000.0f;
    ASSERT_TRUE(std::fpclassify(kDenormal) == FP_SUBNORMAL);
    std::vector<float> first(8, kDenormal), second(8, 0.0f), left(8, 1.0f), right(8, 1.0f);
    float* inputs[2] = {first.data(), second.data()};
    float* outputs[2] = {left.data(), right.data()};
    zelko->processReplacing(inputs, outputs, 8);
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);

    EXPECT_EQ(probe->insideCsr & kFlushBits, kFlushBits);
    EXPECT_EQ(probe->insideCsr & ~kFlushBits, before & ~kFlushBits);
    EXPECT_EQ(after, before);
    // The processor read the denormal inputs as zero; the host's buffer still holds them.
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(left[i], 0.0f);
        EXPECT_EQ(first[i], kDenormal);
    }
}

TEST(EffectMode, RestoresTheStateWhenTheBlockThrows) {
    auto* probe = new testproc::MxcsrProbe;
    testproc::ZelkoPtr zelko = testproc::build(probe);
    probe->throwInside = true;
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved & ~kFlushBits);
    const unsigned before = _mm_getcsr();
    std::vector<float> buffer(4);
    float* channels[2] = {buffer.data(), buffer.data()};
    bool thrown = false;
    try {
        zelko->processReplacing(channels, channels, 4);
    } catch (const std::exception&) {
        thrown = true;
    }
    const unsigned after = _mm_getcsr();
    _mm_setcsr(saved);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(probe->insideCsr & kFlushBits, kFlushBits);
    EXPECT_EQ(after, before);
}

TEST(EffectMode, ZeroFramesReachTheProcessor) {
    auto* probe = new testproc::MxcsrProbe;
    testproc::ZelkoPtr zelko = testproc::build(probe);
    float* none[2] = {nullptr, nullptr};
    zelko->processReplacing(none, none, 0);
    EXPECT_EQ(probe->blocks, 1);
}

// Nothing consumes note events in effect mode: they are dropped on arrival, so a long session
// of MIDI neither piles up events nor allocates on the audio thread.
TEST(EffectMode, NoteEventsAreDroppedWithoutAllocating) {
    testproc::ZelkoPtr zelko = testproc::build(new mydsp);
    constexpr int kPerList = 1000;
    std::vector<VstMidiEvent> midi(kPerList);
    std::vector<unsigned char> storage(sizeof(VstEvents) + kPerList * sizeof(VstEvent*));
    auto* list = reinterpret_cast<VstEvents*>(storage.data());
    list->numEvents = kPerList;
    for (int i = 0; i < kPerList; ++i) {
        midi[i] = VstMidiEvent{};
        midi[i].type = kVstMidiType;
        midi[i].byteSize = sizeof(VstMidiEvent);
        midi[i].deltaFrames = i % 300;
        midi[i].midiData[0] = static_cast<char>(i % 2 ? 0x80 : 0x90);
        midi[i].midiData[1] = static_cast<char>(i % 128);
        midi[i].midiData[2] = 100;
        list->events[i] = reinterpret_cast<VstEvent*>(&midi[i]);
    }
    std::vector<float> in(256, 0.1f), silent(256), left(256), right(256);
    float* inputs[2] = {in.data(), silent.data()};
    float* outputs[2] = {left.data(), right.data()};

    ASSERT_TRUE(allocation_counter::hooksInstalled);
    const long allocations = allocation_counter::allocationsDuring([&] {
        for (int round = 0; round < 100; ++round) {
            zelko->processEvents(list);
            zelko->processReplacing(inputs, outputs, 256);
        }
    });

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(zelko->pendingEventCount(), 0u);
    EXPECT_EQ(zelko->eventQueueCapacity(), 0u);
    EXPECT_TRUE(zelko->playing().empty());
}

TEST(EffectMode, PitchBendAndAllNotesOffStillReachTheVoices) {
    // The product's voices have no role controls, so these change nothing, but must not fail.
    testproc::ZelkoPtr zelko = testproc::build(new mydsp);
    VstMidiEvent bend{};
    bend.type = kVstMidiType;
    bend.midiData[0] = static_cast<char>(0xE0);
    bend.midiData[2] = 0x7F;
    VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<VstEvent*>(&bend);
    EXPECT_EQ(zelko->processEvents(&list), 1);
    for (int v = 0; v < Zelko::kVoiceCount; ++v) {
        EXPECT_EQ(zelko->voice(v).pitchbendIndex, -1);
        EXPECT_EQ(zelko->voice(v).fUITable[0]->getPlain(), 22000.0f);
    }
}

}  // namespace
