// VSTPluginMain and the six plain entries of the effect record, driven through the built module
// exactly as a host drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/support/noise.h"
#include "tests/support/plugin_host.h"

namespace {

using testhost::HostRecorder;
using testhost::Plugin;

class EntryTest : public ::testing::Test {
  protected:
    void TearDown() override { HostRecorder::current() = nullptr; }
    HostRecorder recorder;
};

TEST_F(EntryTest, HostVersionZeroGetsNoPlugin) {
    recorder.versionAnswer = 0;
    Plugin plugin(recorder);
    EXPECT_EQ(plugin.effect(), nullptr);
    // The version question is the only call, asked before any record exists.
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(recorder.calls[0].effect, nullptr);
}

TEST_F(EntryTest, NullHostCallbackGetsNoPlugin) {
    auto main = testhost::loadPluginMain();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main(nullptr), nullptr);
}

TEST_F(EntryTest, RecordIsComplete) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    AEffect* effect = plugin.effect();
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_NE(effect->dispatcher, nullptr);
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->setParameter, nullptr);
    EXPECT_NE(effect->getParameter, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->processDoubleReplacing, nullptr);
    EXPECT_NE(effect->object, nullptr);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, effFlagsCanReplacing);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->version, 1);
    const char zeros[sizeof effect->future] = {};
    EXPECT_EQ(std::memcmp(effect->future, zeros, sizeof zeros), 0);
}

TEST_F(EntryTest, EachCallMakesItsOwnObject) {
    Plugin first(recorder), second(recorder);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.effect(), second.effect());
    EXPECT_NE(first.effect()->object, second.effect()->object);
}

TEST_F(EntryTest, CloseAnswersOne) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    // The object is released here; the sanitizer build reports a leak at exit otherwise.
    EXPECT_EQ(plugin.close(), 1);
}

// Fills the output buffers with a pattern no processor writes, runs one entry and reports
// whether the pattern survived.
template <typename Sample, typename Entry>
bool outputsUntouched(AEffect* effect, Entry entry) {
    constexpr int kFrames = 64;
    std::vector<Sample> in0(kFrames, Sample(0.5)), in1(kFrames, Sample(-0.25));
    std::vector<Sample> left(kFrames, Sample(123.0)), right(kFrames, Sample(-456.0));
    Sample* inputs[2] = {in0.data(), in1.data()};
    Sample* outputs[2] = {left.data(), right.data()};
    entry(effect, inputs, outputs, kFrames);
    for (int i = 0; i < kFrames; ++i) {
        if (left[i] != Sample(123.0) || right[i] != Sample(-456.0)) return false;
        if (in0[i] != Sample(0.5) || in1[i] != Sample(-0.25)) return false;
    }
    return true;
}

TEST_F(EntryTest, AccumulatingAndDoubleEntriesLeaveBuffersAlone) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    plugin.dispatch(effMainsChanged, 0, 1);
    EXPECT_TRUE(outputsUntouched<float>(plugin.effect(), plugin.effect()->process));
    EXPECT_TRUE(outputsUntouched<double>(plugin.effect(), plugin.effect()->processDoubleReplacing));
}

// Runs `blocks` blocks of 256 frames of one noise programme through the replacing entry, with
// the channel pointers that `wire` chooses, and returns both outputs of every block in a row.
// The outputs start out holding a value the chain never writes, so a skipped block shows.
template <typename Wire>
std::vector<float> renderWired(Plugin& plugin, int blocks, Wire wire) {
    constexpr int kFrames = 256;
    const std::vector<float> programme = testsignal::noise(blocks * kFrames);
    std::vector<float> rendered;
    for (int b = 0; b < blocks; ++b) {
        std::vector<float> in0(programme.begin() + b * kFrames,
                               programme.begin() + (b + 1) * kFrames);
        std::vector<float> in1(kFrames, 0.0f), left(kFrames, 123.0f), right(kFrames, 123.0f);
        float* inputChannels[2] = {in0.data(), in1.data()};
        float* outputChannels[2] = {left.data(), right.data()};
        float** inputs = inputChannels;
        float** outputs = outputChannels;
        wire(inputs, outputs);
        plugin.effect()->processReplacing(plugin.effect(), inputs, outputs, kFrames);
        rendered.insert(rendered.end(), left.begin(), left.end());
        rendered.insert(rendered.end(), right.begin(), right.end());
    }
    return rendered;
}

bool allZero(const std::vector<float>& samples) {
    for (float s : samples) {
        if (s != 0.0f || std::signbit(s)) return false;
    }
    return true;
}

// The processor reads only the first input: a host that leaves the second without a buffer gets
// exactly the output of a silent second input, and one that leaves the first without a buffer
// gets silence, with the chain's state held where it was.
TEST_F(EntryTest, ReplacingEntryNeedsOnlyTheFirstInput) {
    Plugin reference(recorder), secondMissing(recorder), firstMissing(recorder);
    ASSERT_TRUE(reference && secondMissing && firstMissing);
    const auto asIs = [](float**&, float**&) {};
    const std::vector<float> expected = renderWired(reference, 40, asIs);

    EXPECT_EQ(renderWired(secondMissing, 40, [](float**& in, float**&) { in[1] = nullptr; }),
              expected);
    EXPECT_TRUE(
        allZero(renderWired(firstMissing, 8, [](float**& in, float**&) { in[0] = nullptr; })));
    EXPECT_TRUE(allZero(renderWired(firstMissing, 2, [](float**& in, float**&) { in = nullptr; })));
    // Nothing advanced while the input was missing: the same programme now renders as on a
    // fresh instance.
    EXPECT_EQ(renderWired(firstMissing, 40, asIs), expected);
}

// Without somewhere to write both outputs the block cannot run; the output that is there is
// silenced rather than left stale. A negative length is no block at all.
TEST_F(EntryTest, ReplacingEntrySilencesTheOutputItHas) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    constexpr int kFrames = 64;
    std::vector<float> in(kFrames, 0.5f), present(kFrames, 123.0f);
    float* inputs[2] = {in.data(), in.data()};
    for (int missing = 0; missing < 2; ++missing) {
        std::fill(present.begin(), present.end(), 123.0f);
        float* outputs[2] = {present.data(), present.data()};
        outputs[missing] = nullptr;
        plugin.effect()->processReplacing(plugin.effect(), inputs, outputs, kFrames);
        EXPECT_TRUE(allZero(present)) << "output " << missing << " missing";
    }
    plugin.effect()->processReplacing(plugin.effect(), inputs, nullptr, kFrames);

    std::fill(present.begin(), present.end(), 123.0f);
    float* outputs[2] = {present.data(), present.data()};
    plugin.effect()->processReplacing(plugin.effect(), inputs, outputs, -64);
    EXPECT_EQ(present, std::vector<float>(kFrames, 123.0f));
}

TEST_F(EntryTest, ReplacingEntryWritesBothOutputs) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    plugin.dispatch(effMainsChanged, 0, 1);
    constexpr int kFrames = 256;
    std::vector<float> in(kFrames), left(kFrames, NAN), right(kFrames, NAN);
    for (int i = 0; i < kFrames; ++i) in[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
    plugin.processReplacing(in.data(), left.data(), right.data(), kFrames);
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << "frame " << i;
    }
}

// A host bug (a null record, or one whose object is gone) must not crash the process.
TEST_F(EntryTest, EntriesTolerateNullRecordAndObject) {
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    AEffect* effect = plugin.effect();
    EXPECT_EQ(effect->dispatcher(nullptr, effGetVstVersion, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(nullptr, effClose, 0, 0, nullptr, 0.0f), 0);
    effect->setParameter(nullptr, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(nullptr, 0), 0.0f);
    effect->processReplacing(nullptr, nullptr, nullptr, 64);
    effect->process(nullptr, nullptr, nullptr, 64);
    effect->processDoubleReplacing(nullptr, nullptr, nullptr, 64);

    AEffect orphan = *effect;
    orphan.object = nullptr;
    EXPECT_EQ(orphan.dispatcher(&orphan, effGetVstVersion, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(orphan.dispatcher(&orphan, effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(orphan.getParameter(&orphan, 0), 0.0f);
    // The real object is still alive and answering.
    EXPECT_EQ(plugin.dispatch(effGetVstVersion), 2400);
}

}  // namespace
