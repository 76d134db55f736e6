// The VST 3 module driven through its interfaces by the compact test host: it renders what the
// VST 2.4 module renders, bit for bit, with parameter changes at any sample, any block length and
// in-place buffers; its state survives a round trip and nothing else gets in; the bypass switch
// fades without a click; the meters come back once per block.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dsp/mydsp.h"
#include "support/cut_render.h"
#include "support/noise.h"
#include "support/plugin_host.h"
#include "support/render_programme.h"
#include "support/vst3_host.h"
#include "vst3/factory.h"
#include "vst3/parameters.h"
#include "vst3/state_record.h"
#include "vst3/zelko_vst3.h"

namespace {

using namespace vst3host;

constexpr double kRate = 48000.0;
constexpr int kMaxBlock = 512;

IPluginFactory* factory() {
    static IPluginFactory* loaded = loadFactory(moduleInBundle(ZELKO_VST3_BUNDLE));
    return loaded;
}

using cutrender::Change;

std::vector<float> cutVst2Render(const std::vector<float>& input, std::vector<Change> changes) {
    return cutrender::vst2(input, std::move(changes), kRate, kMaxBlock);
}

// The VST 3 module over `input` in blocks of the given lengths (cycled), each change sent as a
// point in the block it falls in; the input buffer doubles as the left output when `inPlace`.
std::vector<float> vst3Render(const std::vector<float>& input, const std::vector<Change>& changes,
                              const std::vector<int>& blocks, bool inPlace = false) {
    Instance plugin(factory(), kRate, kMaxBlock);
    EXPECT_TRUE(plugin);
    const int frames = static_cast<int>(input.size());
    std::vector<float> work = input, left(frames), right(frames), out;
    std::size_t block = 0;
    for (int position = 0; position < frames; ++block) {
        const int length = std::min(frames - position, blocks[block % blocks.size()]);
        for (const Change& change : changes) {
            if (change.at >= position &&
                (change.at < position + length || (length == 0 && change.at == position))) {
                plugin.changes.add(static_cast<ParamID>(change.index), change.at - position,
                                   change.value);
            }
        }
        // A change due at this position waits for a block that has samples, unless this block
        // is empty and takes it (the 0-sample call applies parameters and renders nothing).
        float* in = work.data() + position;
        float* l = inPlace ? in : left.data() + position;
        EXPECT_EQ(plugin.process(in, l, right.data() + position, length), kResultOk);
        position += length;
    }
    for (int i = 0; i < frames; ++i) {
        out.push_back(inPlace ? work[i] : left[i]);
        out.push_back(right[i]);
    }
    return out;
}

long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return -2;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<long>(i / 2);
    }
    return -1;
}

std::vector<float> programmeInput(int frames) {
    std::vector<float> first, second;
    programme::makeInputs(first, second);
    first.resize(static_cast<std::size_t>(frames));
    return first;
}

TEST(Vst3, RendersTheProgrammeAsTheVst2ModuleDoes) {
    testhost::Plugin vst2;
    vst2.dispatch(effOpen);
    const std::vector<float> reference = programme::render(vst2.effect());
    EXPECT_EQ(firstDifference(renderProgramme(factory()), reference), -1);
}

// Changes anywhere in a block, several in one block and one queue, on every control, at the
// first and last sample of a block, and a long block with none.
TEST(Vst3, ChangesAtTheirSampleOffsetsEqualTheCutVst2Render) {
    const std::vector<float> input = programmeInput(24000);
    std::mt19937 random(7);
    std::vector<Change> changes = {{0, 0, 0.3f},   {511, 1, 0.9f}, {512, 2, 0.1f},  {700, 0, 0.75f},
                                   {701, 0, 0.2f}, {701, 4, 1.0f}, {9000, 3, 0.05f}};
    for (int n = 0; n < 40; ++n) {
        changes.push_back({static_cast<int>(random() % 24000), static_cast<int>(random() % 5),
                           static_cast<float>(random() % 1001) / 1000.0f});
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.at < b.at; });
    EXPECT_EQ(
        firstDifference(vst3Render(input, changes, {kMaxBlock}), cutVst2Render(input, changes)),
        -1);
}

// Every block length from 0 to the maximum, with empty blocks between, and the outputs written
// over the input: the same samples as one plain render.
TEST(Vst3, AnyBlockLengthAndInPlaceBuffersRenderTheSame) {
    const std::vector<float> input = programmeInput(40000);
    std::vector<int> blocks;
    for (int length = 0; length <= kMaxBlock; length += 7) {
        blocks.push_back(length);
        blocks.push_back(0);
    }
    blocks.push_back(kMaxBlock);
    // A change in an empty block is applied before the next samples.
    const std::vector<Change> changes = {{3000, 0, 0.4f}, {20000, 2, 0.9f}};
    const std::vector<float> reference = cutVst2Render(input, changes);
    EXPECT_EQ(firstDifference(vst3Render(input, changes, blocks), reference), -1);
    EXPECT_EQ(firstDifference(vst3Render(input, changes, blocks, true), reference), -1);
}

TEST(Vst3, StereoInputReadsItsFirstChannel) {
    const std::vector<float> input = programmeInput(9600);
    const std::vector<float> other = testsignal::noise(9600, 99u);
    Instance stereo(factory(), kRate, kMaxBlock, kArrangementStereo);
    SpeakerArrangement arrangement = 0;
    ASSERT_EQ(stereo.processor->getBusArrangement(kInput, 0, arrangement), kResultOk);
    ASSERT_EQ(arrangement, kArrangementStereo);
    std::vector<float> out;
    std::vector<float> first = input, second = other, left(480), right(480);
    stereo.data.numInputs = 1;
    stereo.data.numOutputs = 1;
    for (int start = 0; start < 9600; start += 480) {
        float* inputs[2] = {first.data() + start, second.data() + start};
        float* outputs[2] = {left.data(), right.data()};
        stereo.inputBus = {2, 0, {inputs}};
        stereo.outputBus = {2, 0, {outputs}};
        ASSERT_EQ(stereo.processBuses(480), kResultOk);
        for (int i = 0; i < 480; ++i) {
            out.push_back(left[i]);
            out.push_back(right[i]);
        }
    }
    EXPECT_EQ(firstDifference(out, vst3Render(input, {}, {480})), -1);
}

TEST(Vst3, BusArrangementsOtherThanMonoOrStereoInAndStereoOutAreRefused) {
    Instance plugin(factory(), kRate, kMaxBlock);
    SpeakerArrangement stereo = kArrangementStereo, mono = kArrangementMono;
    SpeakerArrangement surround = kArrangementStereo | (1u << 2);
    for (auto [in, out] :
         {std::pair{surround, stereo}, std::pair{mono, mono}, std::pair{stereo, surround}}) {
        EXPECT_EQ(plugin.processor->setBusArrangements(&in, 1, &out, 1), kResultFalse);
        SpeakerArrangement current = 0;
        plugin.processor->getBusArrangement(kInput, 0, current);
        EXPECT_EQ(current, kArrangementMono);
    }
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample64), kResultFalse);
    EXPECT_EQ(plugin.processor->getLatencySamples(), chainLatency);
}

std::vector<unsigned char> savedState(Instance& plugin) {
    MemoryStream stream;
    EXPECT_EQ(plugin.component->getState(&stream), kResultOk);
    return stream.bytes;
}

// Renders `frames` of the programme after the host's calls in `prepare`.
template <typename Prepare>
std::vector<float> renderAfter(Prepare prepare, int frames = 9600) {
    Instance plugin(factory(), kRate, kMaxBlock);
    prepare(plugin);
    std::vector<float> input = programmeInput(frames), left(frames), right(frames);
    for (int start = 0; start < frames; start += 480) {
        plugin.process(input.data() + start, left.data() + start, right.data() + start, 480);
    }
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

TEST(Vst3, StateRoundTripsAndASessionReopensSoundingTheSame) {
    std::vector<unsigned char> state;
    const std::vector<float> original = renderAfter([&](Instance& plugin) {
        for (ParamID p = 0; p < 5; ++p) plugin.changes.add(p, 0, 0.15f + 0.2f * p);
        plugin.process(nullptr, nullptr, nullptr, 0);
        state = savedState(plugin);
    });
    ASSERT_EQ(state.size(), vst3glue::kStateSize);
    const std::vector<float> reopened = renderAfter([&](Instance& plugin) {
        MemoryStream stream(state);
        ASSERT_EQ(plugin.component->setState(&stream), kResultOk);
        EXPECT_EQ(savedState(plugin), state);
        stream.rewind();
        ASSERT_EQ(plugin.controller->setComponentState(&stream), kResultOk);
        // The switch reads its 0.95 as on.
        for (ParamID p = 0; p < 5; ++p) {
            EXPECT_FLOAT_EQ(static_cast<float>(plugin.controller->getParamNormalized(p)),
                            p == 4 ? 1.0f : 0.15f + 0.2f * p);
        }
    });
    EXPECT_EQ(firstDifference(reopened, original), -1);
}

// States set from another thread while blocks run: every block runs with one whole state (never
// some controls of one and some of another), and the last one set is the one that stays. The
// instance is made in this process, so that its processor's control block can be read.
TEST(Vst3, StateSetWhileAudioRunsIsTakenWhole) {
    Instance plugin(vst3glue::pluginFactory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    const auto& inside =
        static_cast<vst3glue::ZelkoVst3&>(static_cast<vst3glue::ComponentSide&>(*plugin.component));
    vst3glue::PluginState low{}, high{};
    for (std::size_t c = 0; c < controlCount; ++c) {
        low.controls.values[c] = controlRecords[c].range.minimum;
        high.controls.values[c] = controlRecords[c].range.maximum;
    }
    auto blockOf = [&](const vst3glue::PluginState& state) {
        return ControlBlock::compute(state.controls, inside.processor().clampedRate());
    };
    const ControlBlock lowBlock = blockOf(low), highBlock = blockOf(high);
    const auto lowBytes = vst3glue::encodeState(low), highBytes = vst3glue::encodeState(high);

    std::atomic<bool> started{false}, done{false};
    std::atomic<int> blocks{0};
    std::thread writer([&] {
        while (!started) std::this_thread::yield();
        // However the two threads are scheduled, the writer goes on until the audio side has run
        // a hundred blocks against it, and it stops after a high state.
        for (int n = 0; n < 20000 || blocks < 100 || n % 2 == 1; ++n) {
            const auto& bytes = n % 2 == 0 ? lowBytes : highBytes;
            MemoryStream stream(std::vector<unsigned char>(bytes.begin(), bytes.end()));
            EXPECT_EQ(plugin.component->setState(&stream), kResultOk);
        }
        done = true;
    });
    std::vector<float> in = testsignal::noise(64, 4u), left(64), right(64);
    int mixed = 0, taken = 0;
    started = true;
    while (!done) {
        plugin.process(in.data(), left.data(), right.data(), 64);
        ++blocks;
        const ControlBlock& block = inside.processor().controlBlock();
        taken += block == lowBlock || block == highBlock;
        mixed += taken > 0 && !(block == lowBlock || block == highBlock);
    }
    writer.join();
    plugin.process(in.data(), left.data(), right.data(), 64);
    EXPECT_GT(taken, 10);
    EXPECT_EQ(mixed, 0);
    EXPECT_TRUE(inside.processor().controlBlock() == highBlock);
    EXPECT_EQ(savedState(plugin), std::vector<unsigned char>(highBytes.begin(), highBytes.end()));
}

TEST(Vst3, DamagedOrRandomStateIsRefusedAndChangesNothing) {
    Instance plugin(factory(), kRate, kMaxBlock);
    plugin.changes.add(1, 0, 0.25f);
    plugin.process(nullptr, nullptr, nullptr, 0);
    const std::vector<unsigned char> good = savedState(plugin);
    const double controllerValue = plugin.controller->getParamNormalized(1);

    std::vector<std::vector<unsigned char>> bad;
    bad.push_back({});
    bad.push_back(std::vector<unsigned char>(good.begin(), good.end() - 1));  // cut short
    bad.push_back(good);
    bad.back().push_back(0);  // a byte too many
    auto withWord = [&](std::size_t at, std::uint32_t word) {
        std::vector<unsigned char> bytes = good;
        for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<unsigned char>(word >> (8 * b));
        return bytes;
    };
    auto floatWord = [](float value) {
        std::uint32_t word;
        std::memcpy(&word, &value, 4);
        return word;
    };
    bad.push_back(withWord(0, 0x12345678));                   // another mark
    bad.push_back(withWord(4, vst3glue::kStateVersion + 1));  // a later version
    bad.push_back(withWord(8, floatWord(NAN)));               // a value that is no number
    bad.push_back(withWord(8, floatWord(INFINITY)));
    bad.push_back(withWord(8, floatWord(999.0f)));        // below the lowpass range
    bad.push_back(withWord(8 + 4 * 4, floatWord(0.5f)));  // a switch half on
    bad.push_back(withWord(8 + 4 * 5, 2));                // a bypass neither on nor off
    std::mt19937 random(11);
    for (int n = 0; n < 200; ++n) {
        std::vector<unsigned char> bytes(random() % 64);
        for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
        if (n % 2 == 0 && bytes.size() >= 4) std::memcpy(bytes.data(), good.data(), 4);
        bad.push_back(bytes);
    }
    for (const auto& bytes : bad) {
        MemoryStream stream(bytes);
        EXPECT_EQ(plugin.component->setState(&stream), kResultFalse);
        stream.rewind();
        EXPECT_EQ(plugin.controller->setComponentState(&stream), kResultFalse);
    }
    EXPECT_EQ(savedState(plugin), good);
    EXPECT_EQ(plugin.controller->getParamNormalized(1), controllerValue);
}

TEST(Vst3, BypassPassesTheDelayedInputAndFadesWithoutAClick) {
    constexpr int frames = 24000, switchAt = 9000, fade = 480;  // 10 ms at 48 kHz
    std::vector<float> input(frames);
    for (int n = 0; n < frames; ++n) input[n] = 0.5f * std::sin(0.0577f * n);
    const std::vector<float> wet = vst3Render(input, {}, {kMaxBlock});

    Instance plugin(factory(), kRate, kMaxBlock);
    std::vector<float> work = input, left(frames), right(frames);
    for (int start = 0; start < frames; start += 500) {
        if (switchAt >= start && switchAt < start + 500) {
            plugin.changes.add(vst3glue::kBypassId, switchAt - start, 1.0);
        }
        plugin.process(work.data() + start, left.data() + start, right.data() + start, 500);
    }
    float wetStep = 0.0f, dryStep = 0.0f, gap = 0.0f, fadeStep = 0.0f;
    for (int n = switchAt; n < switchAt + fade + 1; ++n) {
        const float dry = input[n - chainLatency];
        wetStep = std::max(wetStep, std::fabs(wet[2 * n] - wet[2 * n - 2]));
        dryStep = std::max(dryStep, std::fabs(dry - input[n - 1 - chainLatency]));
        gap = std::max(gap, std::fabs(wet[2 * n] - dry));
        fadeStep = std::max(fadeStep, std::fabs(left[n] - left[n - 1]));
    }
    // A linear fade of two signals moves by at most the larger of their own steps plus the gain
    // step (1/fade) times their largest difference; a click would exceed that.
    EXPECT_LE(fadeStep, std::max(wetStep, dryStep) + gap / fade + 1e-6f);
    for (int n = 0; n < switchAt; ++n) ASSERT_EQ(left[n], wet[2 * n]) << n;
    for (int n = switchAt + fade; n < frames; ++n) {
        ASSERT_EQ(left[n], input[n - chainLatency]) << n;
        ASSERT_EQ(right[n], input[n - chainLatency]) << n;
    }
}

// The meters of a low tone, then of broadband noise: the band separations and the noise
// reduction's bandwidths answer the new material, and every block reports all twelve at its
// last sample.
TEST(Vst3, MetersComeBackOncePerBlockAndMoveWithTheSignal) {
    Instance plugin(factory(), kRate, kMaxBlock);
    std::vector<float> tone(kMaxBlock), left(kMaxBlock), right(kMaxBlock);
    const std::vector<float> noise = testsignal::noise(48000, 5u, 0.5f);
    auto meters = [&](auto source, int blocks) {
        std::vector<double> values(vst3glue::kMeterCount);
        for (int b = 0; b < blocks; ++b) {
            std::vector<float> in = source(b);
            plugin.process(in.data(), left.data(), right.data(), 400);
            EXPECT_EQ(plugin.sent.used, vst3glue::kMeterCount);
            for (int m = 0; m < vst3glue::kMeterCount; ++m) {
                const ParamQueue& queue = plugin.sent.queues[m];
                EXPECT_EQ(queue.id, vst3glue::kFirstMeterId + static_cast<ParamID>(m));
                EXPECT_EQ(queue.points.size(), 1u);
                EXPECT_EQ(queue.points[0].offset, 399);
                values[m] = queue.points[0].value;
                EXPECT_TRUE(values[m] >= 0.0 && values[m] <= 1.0);
            }
        }
        return values;
    };
    const auto quiet = meters(
        [&](int b) {
            std::vector<float> in(400);
            for (int i = 0; i < 400; ++i) in[i] = 0.3f * std::sin(0.01f * (400 * b + i));
            return in;
        },
        100);
    const auto wide = meters(
        [&](int b) {
            return std::vector<float>(noise.begin() + 400 * b, noise.begin() + 400 * b + 400);
        },
        100);
    int moved = 0;
    for (int m = 0; m < vst3glue::kMeterCount; ++m) moved += quiet[m] != wide[m];
    EXPECT_GE(moved, vst3glue::kMeterCount / 2);
}

// Without its input the block does not run: the outputs are silenced and flagged, and the
// signal state does not move on, so what follows sounds as if the block had never been.
TEST(Vst3, MissingBuffersSilenceTheOutputsAndMoveNothing) {
    const std::vector<float> input = programmeInput(4800);
    const std::vector<float> reference = renderAfter([](Instance&) {}, 4800);
    const std::vector<float> skipped = renderAfter(
        [](Instance& plugin) {
            std::vector<float> left(480, 7.0f), right(480, 7.0f);
            float* outputs[2] = {left.data(), right.data()};
            plugin.inputBus = {1, 0, {nullptr}};
            plugin.outputBus = {2, 0, {outputs}};
            plugin.data.numInputs = 0;
            plugin.data.numOutputs = 1;
            ASSERT_EQ(plugin.processBuses(480), kResultOk);
            EXPECT_EQ(plugin.outputBus.silenceFlags, 3u);
            EXPECT_EQ(std::count(left.begin(), left.end(), 0.0f), 480);
            EXPECT_EQ(std::count(right.begin(), right.end(), 0.0f), 480);
        },
        4800);
    EXPECT_EQ(firstDifference(skipped, reference), -1);
}

// The announced tail covers the chain's decay: after a second of full-scale noise, everything
// past the tail stays below -120 dBFS.
TEST(Vst3, TheTailCoversTheDecay) {
    Instance plugin(factory(), kRate, kMaxBlock);
    const uint32 tail = plugin.processor->getTailSamples();
    ASSERT_GT(tail, chainLatency);
    const int loud = 48000, frames = loud + static_cast<int>(tail) + 48000;
    std::vector<float> in = testsignal::noise(loud, 7u, 1.0f), left(frames), right(frames);
    in.resize(frames, 0.0f);
    for (int start = 0; start < frames; start += kMaxBlock) {
        const int length = std::min(kMaxBlock, frames - start);
        plugin.process(in.data() + start, left.data() + start, right.data() + start, length);
    }
    auto peakOver = [&](int from, int to) {
        float peak = 0.0f;
        for (int n = from; n < to; ++n)
            peak = std::max({peak, std::fabs(left[n]), std::fabs(right[n])});
        return peak;
    };
    const float inTail = peakOver(loud, loud + static_cast<int>(tail));
    const float after = peakOver(loud + static_cast<int>(tail), frames);
    EXPECT_GT(inTail, 1e-3f);  // there is a decay to cover
    EXPECT_LT(after, 1e-6f);
}

TEST(Vst3, SwitchingOnStartsFromExactSilence) {
    Instance plugin(factory(), kRate, kMaxBlock);
    std::vector<float> in = testsignal::noise(4800, 3u), left(480), right(480);
    for (int start = 0; start < 4800; start += 480) {
        plugin.process(in.data() + start, left.data(), right.data(), 480);
    }
    plugin.component->setActive(0);
    plugin.component->setActive(1);
    std::vector<float> silence(480, 0.0f);
    plugin.process(silence.data(), left.data(), right.data(), 480);
    EXPECT_EQ(std::count(left.begin(), left.end(), 0.0f), 480);
    EXPECT_EQ(std::count(right.begin(), right.end(), 0.0f), 480);
    EXPECT_EQ(plugin.outputBus.silenceFlags, 3u);
}

std::string text(const String128 value) {
    std::string out;
    for (int i = 0; i < 128 && value[i] != 0; ++i) out += static_cast<char>(value[i]);
    return out;
}

std::u16string wide(const char* text) {
    std::u16string out;
    for (; *text != '\0'; ++text) out += static_cast<char16_t>(*text);
    return out;
}

TEST(Vst3, ParameterTextsCarryUnitsAndUnparsableTextIsRefused) {
    Instance plugin(factory(), kRate, kMaxBlock);
    IEditController& controller = *plugin.controller;
    auto shown = [&](ParamID id, const char* typed) {
        std::u16string input = wide(typed);
        ParamValue normalized = -1.0;
        if (controller.getParamValueByString(id, input.data(), normalized) != kResultOk) {
            return std::string("refused");
        }
        String128 out;
        controller.getParamStringByValue(id, normalized, out);
        return text(out);
    };
    EXPECT_EQ(shown(0, "15000 Hz"), "15000 Hz");
    EXPECT_EQ(shown(0, "15000"), "15000 Hz");
    EXPECT_EQ(shown(3, "-6 dB"), "-6 dB");
    EXPECT_EQ(shown(3, " -6db "), "-6 dB");
    EXPECT_EQ(shown(4, "On"), "On");
    EXPECT_EQ(shown(4, "off"), "Off");
    EXPECT_EQ(shown(vst3glue::kBypassId, "on"), "On");
    for (const char* nonsense : {"", "loud", "15000 Hzz", "6 Hz", "nan", "1e999", "12 34"}) {
        EXPECT_EQ(shown(3, nonsense), "refused") << nonsense;
    }
    // The host's plain values are the processor's control values.
    EXPECT_EQ(controller.normalizedParamToPlain(0, 1.0), 22000.0);
    EXPECT_EQ(controller.plainParamToNormalized(2, 55.0),
              static_cast<double>((55.0f - 0.0f) / 70.0f));
    ParameterInfo info;
    ASSERT_EQ(controller.getParameterInfo(vst3glue::kControlCount, info), kResultOk);
    EXPECT_EQ(info.flags & ParameterInfo::kIsBypass, ParameterInfo::kIsBypass);
    EXPECT_EQ(info.stepCount, 1);
    ASSERT_EQ(controller.getParameterInfo(vst3glue::kParameterCount - 1, info), kResultOk);
    EXPECT_EQ(info.flags, ParameterInfo::kIsReadOnly);
    EXPECT_EQ(text(info.title), "DNR2 Bandwidth");
}

// What a host shows for a value, typed back, shows the same: 10^5 random values of every
// parameter, and every step of a slider lands on the step itself.
TEST(Vst3, EveryShownValueTypedBackShowsTheSameTextAndStepsComeBackExactly) {
    Instance plugin(factory(), kRate, kMaxBlock);
    IEditController& controller = *plugin.controller;
    auto shownAt = [&](ParamID id, ParamValue normalized) {
        String128 out;
        EXPECT_EQ(controller.getParamStringByValue(id, normalized, out), kResultOk);
        return text(out);
    };
    auto typed = [&](ParamID id, const std::string& said) {
        std::u16string input = wide(said.c_str());
        ParamValue normalized = -1.0;
        EXPECT_EQ(controller.getParamValueByString(id, input.data(), normalized), kResultOk)
            << said;
        return normalized;
    };
    std::mt19937 random(27);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int index = 0; index < controller.getParameterCount(); ++index) {
        ParameterInfo info;
        ASSERT_EQ(controller.getParameterInfo(index, info), kResultOk);
        int mismatches = 0;
        for (int n = 0; n < 100000; ++n) {
            const std::string said = shownAt(info.id, unit(random));
            const std::string again = shownAt(info.id, typed(info.id, said));
            mismatches += again != said;
            if (again != said && mismatches < 4) ADD_FAILURE() << said << " came back as " << again;
        }
        EXPECT_EQ(mismatches, 0) << text(info.title);
        if (info.stepCount > 1) {
            const double low = controller.normalizedParamToPlain(info.id, 0.0),
                         high = controller.normalizedParamToPlain(info.id, 1.0);
            for (int k = 0; k <= info.stepCount; ++k) {
                const double step = static_cast<float>(low + (high - low) * k / info.stepCount);
                const ParamValue back =
                    typed(info.id, shownAt(info.id, (step - low) / (high - low)));
                ASSERT_EQ(controller.normalizedParamToPlain(info.id, back), step)
                    << text(info.title);
            }
        }
    }
}

// Outputs holding denormal samples are not silent, though the audio thread flushes denormals to
// zero and a float comparison would take them for zeros: the bypass passes them on untouched.
TEST(Vst3, SilenceFlagsOnlyForOutputsOfExactZeros) {
    Instance plugin(factory(), kRate, kMaxBlock);
    std::vector<float> tiny(4000, 1e-40f), left(4000), right(4000);
    plugin.changes.add(vst3glue::kBypassId, 0, 1.0);
    plugin.process(tiny.data(), left.data(), right.data(), 4000);
    EXPECT_EQ(left[3999], 1e-40f);
    EXPECT_EQ(plugin.outputBus.silenceFlags, 0u);
    std::vector<float> zeros(4000, 0.0f);
    plugin.process(zeros.data(), left.data(), right.data(), 4000);
    plugin.process(zeros.data(), left.data(), right.data(), 4000);
    EXPECT_EQ(plugin.outputBus.silenceFlags, 3u);
}

// A version-1 record as sessions saved it, byte by byte, loads into the controls it names; and
// the same mark with a later version is refused without touching anything.
TEST(Vst3, VersionOneRecordsKeepLoadingAndLaterVersionsAreRefused) {
    auto word = [](std::vector<unsigned char>& bytes, std::uint32_t value) {
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<unsigned char>(value >> (8 * b)));
    };
    auto record = [&](std::uint32_t version) {
        std::vector<unsigned char> bytes = {'Z', 'C', 'S', '3'};
        word(bytes, version);
        for (float value : {15000.0f, -45.0f, 20.0f, -3.0f, 1.0f})
            word(bytes, std::bit_cast<std::uint32_t>(value));
        word(bytes, 1);
        return bytes;
    };
    const std::vector<unsigned char> saved = record(1);
    ASSERT_EQ(saved.size(), 32u);
    const std::optional<vst3glue::PluginState> loaded = vst3glue::decodeState(saved);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->controls[Control::lowpassCutoff], 15000.0f);
    EXPECT_EQ(loaded->controls[Control::autoEqThreshold], -45.0f);
    EXPECT_EQ(loaded->controls[Control::noisegateGain], 20.0f);
    EXPECT_EQ(loaded->controls[Control::outputAgcThreshold], -3.0f);
    EXPECT_EQ(loaded->controls[Control::dnrLpfDisable], 1.0f);
    EXPECT_TRUE(loaded->bypassed);

    Instance plugin(factory(), kRate, kMaxBlock);
    const std::vector<unsigned char> before = savedState(plugin);
    for (std::uint32_t later : {2u, 3u, 0xFFFFFFFFu, 0u}) {
        MemoryStream stream(record(later));
        EXPECT_NE(plugin.component->setState(&stream), kResultOk) << later;
    }
    EXPECT_EQ(savedState(plugin), before);
}

}  // namespace
