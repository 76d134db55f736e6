// The CLAP module driven through its records by the compact test host: it describes itself and
// its ports as the other formats do, renders what the VST 2.4 module renders bit for bit with
// automation at any sample and any block length, keeps its state in the VST 3 plug-in's record,
// refuses what it must, and sends its meters back once per block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "clap/parameters.h"
#include "clap/zelko_clap.h"
#include "dsp/bypass.h"
#include "dsp/metadata.h"
#include "dsp/mydsp.h"
#include "dsp/output_readings.h"
#include "dsp/saved_state.h"
#include "support/clap_host.h"
#include "support/cut_render.h"
#include "support/noise.h"
#include "support/plugin_host.h"
#include "support/render_programme.h"
#include "support/vst3_host.h"

namespace {

using namespace claphost;
using cutrender::Change;

constexpr double kRate = 48000.0;
constexpr int kMaxBlock = 512;

const clap_plugin_factory_t* factory() {
    static const clap_plugin_factory_t* loaded = loadFactory(ZELKO_CLAP_MODULE);
    return loaded;
}

vst3host::IPluginFactory* vst3Factory() {
    static vst3host::IPluginFactory* loaded =
        vst3host::loadFactory(vst3host::moduleInBundle(ZELKO_VST3_BUNDLE));
    return loaded;
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

// Blocks of the given lengths (cycled) over `input`; each change (a VST 2.4 position of a control,
// or of the bypass as index 5) goes as its plain value in the block it falls in, at its offset.
// A change due where an empty block stands is sent with that block.
template <typename Send, typename Process>
std::vector<float> renderInBlocks(const std::vector<float>& input,
                                  const std::vector<Change>& changes,
                                  const std::vector<int>& blocks, Send&& send, Process&& process) {
    const int frames = static_cast<int>(input.size());
    std::vector<float> left(frames), right(frames), out;
    std::size_t block = 0;
    for (int position = 0; position < frames; ++block) {
        const int length = std::min(frames - position, blocks[block % blocks.size()]);
        for (const Change& change : changes) {
            if (change.at >= position &&
                (change.at < position + length || (length == 0 && change.at == position))) {
                send(change, change.at - position);
            }
        }
        process(input.data() + position, left.data() + position, right.data() + position, length);
        position += length;
    }
    for (int i = 0; i < frames; ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

constexpr int kBypassIndex = static_cast<int>(controlCount);

std::vector<float> clapRender(const std::vector<float>& input, const std::vector<Change>& changes,
                              const std::vector<int>& blocks) {
    Instance plugin(factory(), kRate, kMaxBlock);
    EXPECT_TRUE(plugin);
    return renderInBlocks(
        input, changes, blocks,
        [&](const Change& change, int offset) {
            const bool bypass = change.index == kBypassIndex;
            plugin.changes.add(
                bypass ? clapglue::kBypassId : static_cast<clap_id>(change.index),
                static_cast<std::uint32_t>(offset),
                bypass ? bypassRecord.fromNormalised(change.value)
                       : plainFor(static_cast<std::size_t>(change.index), change.value));
        },
        [&](const float* in, float* left, float* right, int frames) {
            EXPECT_EQ(plugin.process(in, left, right, static_cast<std::uint32_t>(frames)),
                      CLAP_PROCESS_CONTINUE);
        });
}

std::vector<float> vst3Render(const std::vector<float>& input, const std::vector<Change>& changes,
                              const std::vector<int>& blocks) {
    vst3host::Instance plugin(vst3Factory(), kRate, kMaxBlock);
    EXPECT_TRUE(plugin);
    return renderInBlocks(
        input, changes, blocks,
        [&](const Change& change, int offset) {
            const bool bypass = change.index == kBypassIndex;
            plugin.changes.add(bypass ? 100u : static_cast<vst3::ParamID>(change.index), offset,
                               change.value);
        },
        [&](const float* in, float* left, float* right, int frames) {
            plugin.process(const_cast<float*>(in), left, right, frames);
        });
}

std::vector<Change> randomChanges(std::mt19937& random, int frames, int count, int indices) {
    std::vector<Change> changes;
    for (int n = 0; n < count; ++n) {
        changes.push_back({static_cast<int>(random() % frames),
                           static_cast<int>(random() % indices),
                           static_cast<float>(random() % 100001) / 100000.0f});
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.at < b.at; });
    return changes;
}

// ---- description ---------------------------------------------------------------------------

TEST(ClapModule, DescriptorNamesThePluginItsVendorAndFeatures) {
    ASSERT_NE(factory(), nullptr);
    ASSERT_EQ(factory()->get_plugin_count(factory()), 1u);
    EXPECT_EQ(factory()->get_plugin_descriptor(factory(), 1), nullptr);
    const clap_plugin_descriptor_t* d = factory()->get_plugin_descriptor(factory(), 0);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(clap_version_is_compatible(d->clap_version));
    EXPECT_STREQ(d->id, "org.zelko.comb-stereo-processor");
    EXPECT_STREQ(d->name, "Comb Stereo Processor");
    metadataTable metadata;
    mydsp().declareMetadata(&metadata);
    ASSERT_NE(metadata.find("author"), nullptr);
    EXPECT_STREQ(d->vendor, metadata.find("author"));
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f != nullptr; ++f) features.push_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "stereo", "mono"}));
    // Another ID, or a host of the development versions, gets no plug-in.
    Host host;
    EXPECT_EQ(factory()->create_plugin(factory(), &host.record, "org.zelko.other"), nullptr);
    host.record.clap_version = {0, 19, 0};
    EXPECT_EQ(factory()->create_plugin(factory(), &host.record, d->id), nullptr);
}

TEST(ClapModule, ExtensionsGiveLatencyTailRenderModeTheGuiAndNothingElse) {
    Instance plugin(factory(), 96000.0, kMaxBlock);
    ASSERT_TRUE(plugin);
    const auto* latency = extensionOf<clap_plugin_latency_t>(plugin.plugin, CLAP_EXT_LATENCY);
    const auto* tail = extensionOf<clap_plugin_tail_t>(plugin.plugin, CLAP_EXT_TAIL);
    const auto* render = extensionOf<clap_plugin_render_t>(plugin.plugin, CLAP_EXT_RENDER);
    ASSERT_TRUE(latency && tail && render);
    EXPECT_EQ(latency->get(plugin.plugin), chainLatency);
    EXPECT_EQ(tail->get(plugin.plugin), 96000u);  // a second at the rate it runs at
    EXPECT_FALSE(render->has_hard_realtime_requirement(plugin.plugin));
    EXPECT_TRUE(render->set(plugin.plugin, CLAP_RENDER_OFFLINE));
    EXPECT_FALSE(render->set(plugin.plugin, 7));
    // The GUI (tests/clap/editor_test.cpp), and the host's loop calling it back.
    EXPECT_NE(plugin.plugin->get_extension(plugin.plugin, "clap.gui"), nullptr);
    EXPECT_NE(plugin.plugin->get_extension(plugin.plugin, "clap.timer-support"), nullptr);
    EXPECT_NE(plugin.plugin->get_extension(plugin.plugin, "clap.posix-fd-support"), nullptr);
    EXPECT_EQ(plugin.plugin->get_extension(plugin.plugin, "clap.note-ports"), nullptr);
}

std::vector<std::pair<std::uint32_t, std::string>> portsOf(const clap_plugin_t* plugin,
                                                           bool isInput) {
    const auto* ports = extensionOf<clap_plugin_audio_ports_t>(plugin, CLAP_EXT_AUDIO_PORTS);
    std::vector<std::pair<std::uint32_t, std::string>> found;
    for (std::uint32_t p = 0; p < ports->count(plugin, isInput); ++p) {
        clap_audio_port_info_t info;
        EXPECT_TRUE(ports->get(plugin, p, isInput, &info));
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
        found.emplace_back(info.channel_count, info.port_type);
    }
    return found;
}

TEST(ClapModule, PortsAreMonoOrStereoInAndStereoOutAsTheHostChooses) {
    using Ports = std::vector<std::pair<std::uint32_t, std::string>>;
    Host host;
    const clap_plugin_t* plugin =
        factory()->create_plugin(factory(), &host.record, "org.zelko.comb-stereo-processor");
    ASSERT_TRUE(plugin && plugin->init(plugin));
    const auto* configs =
        extensionOf<clap_plugin_audio_ports_config_t>(plugin, CLAP_EXT_AUDIO_PORTS_CONFIG);
    ASSERT_NE(configs, nullptr);
    ASSERT_EQ(configs->count(plugin), 2u);
    EXPECT_EQ(portsOf(plugin, true), (Ports{{1, "mono"}}));
    EXPECT_EQ(portsOf(plugin, false), (Ports{{2, "stereo"}}));
    for (std::uint32_t c = 0; c < 2; ++c) {
        clap_audio_ports_config_t config;
        ASSERT_TRUE(configs->get(plugin, c, &config));
        EXPECT_EQ(config.input_port_count, 1u);
        EXPECT_EQ(config.output_port_count, 1u);
        EXPECT_EQ(config.main_output_channel_count, 2u);
        ASSERT_TRUE(configs->select(plugin, config.id));
        EXPECT_EQ(portsOf(plugin, true),
                  (Ports{{config.main_input_channel_count, config.main_input_port_type}}));
    }
    EXPECT_EQ(portsOf(plugin, true), (Ports{{2, "stereo"}}));
    EXPECT_FALSE(configs->select(plugin, 2));
    // An active plug-in's ports stay as they are.
    ASSERT_TRUE(plugin->activate(plugin, kRate, 1, kMaxBlock));
    clap_audio_ports_config_t mono;
    ASSERT_TRUE(configs->get(plugin, 0, &mono));
    EXPECT_FALSE(configs->select(plugin, mono.id));
    EXPECT_EQ(portsOf(plugin, true), (Ports{{2, "stereo"}}));
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
}

// ---- parameters ----------------------------------------------------------------------------

TEST(ClapParams, AreTheVst3ParametersIdForIdWithPlainRanges) {
    Instance plugin(factory(), kRate, kMaxBlock);
    vst3host::Instance vst3(vst3Factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin && vst3);
    // The VST 3 plug-in's parameters first, then the output's readings (below).
    const auto count = static_cast<std::uint32_t>(vst3.controller->getParameterCount());
    ASSERT_EQ(plugin.params->count(plugin.plugin), count + clapglue::kReadingParams);
    for (std::uint32_t p = 0; p < count; ++p) {
        clap_param_info_t info;
        vst3::ParameterInfo other;
        ASSERT_TRUE(plugin.params->get_info(plugin.plugin, p, &info));
        ASSERT_EQ(vst3.controller->getParameterInfo(static_cast<vst3::int32>(p), other),
                  vst3::kResultOk);
        EXPECT_EQ(info.id, other.id);
        std::string title;
        for (const vst3::char16* c = other.title; *c != 0; ++c) title += static_cast<char>(*c);
        EXPECT_EQ(info.name, title);
        const bool readOnly = other.flags & vst3::ParameterInfo::kIsReadOnly;
        const bool bypass = other.flags & vst3::ParameterInfo::kIsBypass;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_READONLY) != 0, readOnly) << info.id;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_BYPASS) != 0, bypass) << info.id;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0, !readOnly) << info.id;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, other.stepCount == 1) << info.id;
        // The plain range is the one the normalised values span, and the default is where the
        // VST 3 parameter starts.
        const ControlRecord& record = *clapglue::paramWithId(info.id)->record;
        EXPECT_EQ(info.min_value, record.fromNormalised(0.0));
        EXPECT_EQ(info.max_value, record.fromNormalised(1.0));
        EXPECT_EQ(record.toNormalised(static_cast<float>(info.default_value)),
                  other.defaultNormalizedValue);
        double value = -1.0;
        ASSERT_TRUE(plugin.params->get_value(plugin.plugin, info.id, &value));
        EXPECT_EQ(value, info.default_value) << info.id;
    }
    clap_param_info_t info;
    EXPECT_FALSE(plugin.params->get_info(plugin.plugin, count + clapglue::kReadingParams, &info));
    double value;
    EXPECT_FALSE(plugin.params->get_value(plugin.plugin, 5, &value));
}

// The output meter's five readings are read-only parameters 300 to 304 with their rows' names,
// ranges and texts; they rest at the floor (correlation 0) before any sound.
TEST(ClapParams, TheOutputReadingsAreReadOnlyParametersOfTheirRows) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    for (std::size_t r = 0; r < outputReadingCount; ++r) {
        const std::uint32_t index =
            clapglue::kControlParams + 1 + clapglue::kMeterParams + static_cast<std::uint32_t>(r);
        clap_param_info_t info;
        ASSERT_TRUE(plugin.params->get_info(plugin.plugin, index, &info));
        const ControlRecord& record = outputReadingRecords[r];
        EXPECT_EQ(info.id, 300u + r);
        EXPECT_STREQ(info.name, record.name);
        EXPECT_EQ(info.flags, static_cast<std::uint32_t>(CLAP_PARAM_IS_READONLY)) << r;
        EXPECT_EQ(info.min_value, record.reach.minimum);
        EXPECT_EQ(info.max_value, record.reach.maximum);
        const double rest = r == static_cast<std::size_t>(OutputReading::correlation) ? 0.0 : -90.0;
        EXPECT_EQ(plugin.value(info.id), rest) << r;
        char text[64], expected[controlTextCapacity];
        ASSERT_TRUE(
            plugin.params->value_to_text(plugin.plugin, info.id, -12.25, text, sizeof text));
        record.format(record.reach.held(-12.25f), expected);
        EXPECT_STREQ(text, expected);
    }
    char text[64];
    ASSERT_TRUE(plugin.params->value_to_text(plugin.plugin, 300, -6.0, text, sizeof text));
    EXPECT_STREQ(text, "-6.0 dB");
    // Host events cannot set them.
    plugin.changes.add(300, 0, 0.0);
    plugin.flush();
    EXPECT_EQ(plugin.value(300), -90.0);
}

TEST(ClapParams, TextsRoundTripAndTypedValuesLandExactly) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    const auto& params = *plugin.params;
    for (std::uint32_t p = 0; p < params.count(plugin.plugin); ++p) {
        clap_param_info_t info;
        ASSERT_TRUE(params.get_info(plugin.plugin, p, &info));
        for (int step = 0; step <= 64; ++step) {
            const double plain = info.min_value + (info.max_value - info.min_value) * step / 64.0;
            char text[64], again[64];
            ASSERT_TRUE(params.value_to_text(plugin.plugin, info.id, plain, text, sizeof text));
            double parsed = 0.0;
            ASSERT_TRUE(params.text_to_value(plugin.plugin, info.id, text, &parsed)) << text;
            ASSERT_TRUE(params.value_to_text(plugin.plugin, info.id, parsed, again, sizeof again));
            EXPECT_STREQ(text, again) << info.id;
            // A shown value is a value the parameter takes exactly.
            double reparsed = 0.0;
            params.text_to_value(plugin.plugin, info.id, again, &reparsed);
            EXPECT_EQ(parsed, reparsed);
        }
        double parsed = 0.0;
        EXPECT_FALSE(params.text_to_value(plugin.plugin, info.id, "loud", &parsed));
        char tiny[2];
        EXPECT_FALSE(params.value_to_text(plugin.plugin, info.id, info.max_value, tiny, 2));
    }
    double value = 0.0;
    ASSERT_TRUE(params.text_to_value(plugin.plugin, 1, "-40 dB", &value));
    EXPECT_EQ(value, -40.0);
    ASSERT_TRUE(params.text_to_value(plugin.plugin, 0, "15000", &value));
    EXPECT_EQ(value, 15000.0);
    ASSERT_TRUE(params.text_to_value(plugin.plugin, clapglue::kBypassId, "on", &value));
    EXPECT_EQ(value, 1.0);
}

// A host that sends the plain value of a VST 2.4 position sets the control to what the VST 2.4
// slider sets for that position; so does one that computes it from the position in double
// precision, where that gives a value no float is (a float is taken as written). Anything outside
// the range, NaN included, is held as every format holds it.
TEST(ClapParams, PlainValuesOfPositionsSetWhatTheVst2SliderSets) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    std::mt19937 random(5);
    for (int n = 0; n < 4000; ++n) {
        const auto c = static_cast<std::size_t>(n % controlCount);
        const ControlRecord& record = controlRecords[c];
        const float position = static_cast<float>(random() % 16777217) / 16777216.0f;
        const double span =
            static_cast<double>(record.reach.maximum) - static_cast<double>(record.reach.minimum);
        const double computed = record.reach.minimum + static_cast<double>(position) * span;
        const float expected = record.fromNormalised(position);
        for (const double plain : {static_cast<double>(expected), computed}) {
            if (plain == computed && static_cast<double>(static_cast<float>(plain)) == plain) {
                continue;
            }
            plugin.changes.add(static_cast<clap_id>(c), 0, plain);
            plugin.flush();
            ASSERT_EQ(static_cast<float>(plugin.value(static_cast<clap_id>(c))), expected)
                << record.name << " at " << position << " sent as " << plain;
        }
    }
    const ControlRange& lowpass = controlRecords[0].reach;
    for (const auto& [sent, held] :
         {std::pair{std::nan(""), lowpass.minimum}, std::pair{-1e300, lowpass.minimum},
          std::pair{1e300, lowpass.maximum}, std::pair{-HUGE_VAL, lowpass.minimum}}) {
        plugin.changes.add(0, 0, sent);
        plugin.flush();
        EXPECT_EQ(plugin.value(0), held) << sent;
    }
}

// ---- rendering -----------------------------------------------------------------------------

TEST(ClapRender, TheProgrammeEqualsTheVst2Render) {
    testhost::Plugin vst2;
    vst2.dispatch(effOpen);
    EXPECT_EQ(firstDifference(renderProgramme(factory()), programme::render(vst2.effect())), -1);
}

// Random block lengths (empty ones included) and random automation of every control at random
// offsets, several in one block and at one sample: the VST 2.4 render cut at the same samples.
TEST(ClapRender, RandomBlocksAndAutomationEqualTheCutVst2Render) {
    const std::vector<float> input = programmeInput(48000);
    std::mt19937 random(29);
    std::vector<Change> changes = randomChanges(random, 48000, 160, static_cast<int>(controlCount));
    changes.insert(changes.begin(), {0, 2, 0.9f});
    changes.push_back({47999, 0, 0.1f});
    std::vector<int> blocks;
    for (int n = 0; n < 300; ++n) {
        blocks.push_back(random() % 4 == 0 ? 0 : static_cast<int>(random() % (kMaxBlock + 1)));
    }
    EXPECT_EQ(firstDifference(clapRender(input, changes, blocks),
                              cutrender::vst2(input, changes, kRate, kMaxBlock)),
              -1);
}

// The bypass switch, automated at random samples together with the controls, fades exactly as the
// VST 3 plug-in's does: the one bypass block behind both.
TEST(ClapRender, BypassAutomationEqualsTheVst3Render) {
    const std::vector<float> input = programmeInput(36000);
    std::mt19937 random(31);
    std::vector<Change> changes =
        randomChanges(random, 36000, 60, static_cast<int>(controlCount) + 1);
    const std::vector<int> blocks = {480, 0, 97, 512, 1, 333};
    const std::vector<float> clap = clapRender(input, changes, blocks);
    EXPECT_EQ(firstDifference(clap, vst3Render(input, changes, blocks)), -1);
    EXPECT_NE(firstDifference(clap, clapRender(input, {}, blocks)), -1);
}

TEST(ClapRender, StereoInputReadsItsFirstChannel) {
    const std::vector<float> input = programmeInput(9600), other = testsignal::noise(9600, 99u);
    Instance stereo(factory(), kRate, kMaxBlock, true);
    ASSERT_TRUE(stereo);
    std::vector<float> left(9600), right(9600), out;
    for (int start = 0; start < 9600; start += 480) {
        stereo.process(input.data() + start, left.data() + start, right.data() + start, 480,
                       other.data() + start);
    }
    for (int i = 0; i < 9600; ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    EXPECT_EQ(firstDifference(out, clapRender(input, {}, {480})), -1);
}

// Without its input or an output nothing runs and every output there is silenced; an inactive
// plug-in processes nothing; a reset starts from exact silence again.
TEST(ClapRender, MissingBuffersSilenceInactiveFailsResetStartsOver) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    std::vector<float> in = testsignal::noise(256, 3u), left(256, 1.0f), right(256, 1.0f);
    EXPECT_EQ(plugin.process(nullptr, left.data(), right.data(), 256), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(
        std::count(left.begin(), left.end(), 0.0f) + std::count(right.begin(), right.end(), 0.0f),
        512);
    EXPECT_EQ(plugin.outputBuffer.constant_mask, 3u);
    // Nothing moved on: the next block is the first block of a fresh instance.
    std::vector<float> first(512), fresh(512);
    plugin.process(in.data(), first.data(), first.data() + 256, 256);
    {
        Instance other(factory(), kRate, kMaxBlock);
        other.process(in.data(), fresh.data(), fresh.data() + 256, 256);
    }
    EXPECT_EQ(first, fresh);
    plugin.process(in.data(), left.data(), right.data(), 256);
    plugin.plugin->reset(plugin.plugin);
    plugin.process(in.data(), first.data(), first.data() + 256, 256);
    EXPECT_EQ(first, fresh);

    plugin.deactivate();
    std::fill(left.begin(), left.end(), 1.0f);
    EXPECT_EQ(plugin.process(in.data(), left.data(), right.data(), 256), CLAP_PROCESS_ERROR);
    EXPECT_EQ(std::count(left.begin(), left.end(), 0.0f), 256);
}

// Every meter goes out after activation and then whenever it moved, each at most once per block,
// at the block's last sample, within its declared range; get_value answers the last one sent.
TEST(ClapMeters, GoOutOncePerBlockAtTheLastSample) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    const std::vector<float> input = programmeInput(48000);
    std::vector<float> left(400), right(400);
    std::vector<double> last(meterCount, NAN);
    int moved = 0;
    for (int b = 0; b < 120; ++b) {
        plugin.process(input.data() + 400 * b, left.data(), right.data(), 400);
        std::vector<int> seen(meterCount, 0);
        for (const clap_event_param_value_t& event : plugin.sent.events) {
            ASSERT_GE(event.param_id, clapglue::kFirstMeterId);
            if (event.param_id >= clapglue::kFirstReadingId) continue;  // below
            const std::size_t m = event.param_id - clapglue::kFirstMeterId;
            ASSERT_LT(m, meterCount);
            EXPECT_EQ(event.header.time, 399u);
            EXPECT_EQ(++seen[m], 1);
            EXPECT_NE(event.value, last[m]);
            EXPECT_GE(event.value, meterRecords[m].reach.minimum);
            EXPECT_LE(event.value, meterRecords[m].reach.maximum);
            last[m] = event.value;
            moved += b > 0;
        }
        if (b == 0) {
            EXPECT_EQ(plugin.sent.events.size(), meterCount + outputReadingCount);
        }
    }
    EXPECT_GT(moved, 100);
    for (std::size_t m = 0; m < meterCount; ++m) {
        EXPECT_EQ(plugin.value(clapglue::kFirstMeterId + static_cast<clap_id>(m)), last[m]);
    }
}

// The readings follow the output: at the floor in silence, loud and correlated with noise; each
// goes out when it moved, once per block at its last sample, and get_value answers the last sent.
TEST(ClapMeters, OutputReadingsFollowTheSignal) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    const std::vector<float> loud = testsignal::noise(400 * 60, 4u);
    const std::vector<float> silence(400);
    std::vector<float> left(400), right(400);
    std::vector<double> last(outputReadingCount, NAN);
    const auto runBlocks = [&](int blocks, bool noisy) {
        for (int b = 0; b < blocks; ++b) {
            plugin.process(noisy ? loud.data() + 400 * b : silence.data(), left.data(),
                           right.data(), 400);
            std::vector<int> seen(outputReadingCount, 0);
            for (const clap_event_param_value_t& event : plugin.sent.events) {
                if (event.param_id < clapglue::kFirstReadingId) continue;
                const std::size_t r = event.param_id - clapglue::kFirstReadingId;
                ASSERT_LT(r, outputReadingCount);
                EXPECT_EQ(event.header.time, 399u);
                EXPECT_EQ(++seen[r], 1);
                EXPECT_NE(event.value, last[r]);
                last[r] = event.value;
            }
        }
        for (std::size_t r = 0; r < outputReadingCount; ++r) {
            EXPECT_EQ(plugin.value(clapglue::kFirstReadingId + static_cast<clap_id>(r)), last[r]);
        }
    };
    runBlocks(40, false);
    for (std::size_t r = 0; r < 4; ++r) EXPECT_EQ(last[r], -90.0) << r;
    runBlocks(60, true);
    for (std::size_t r = 0; r < 4; ++r) {
        EXPECT_GT(last[r], -30.0) << r;
        EXPECT_LT(last[r], 6.0) << r;
    }
    // Noise through the default setting stays largely mono-compatible.
    EXPECT_GT(last[4], 0.2);
    EXPECT_LE(last[4], 1.0);
}

// ---- state ---------------------------------------------------------------------------------

TEST(ClapState, RoundTripsInTheVst3RecordAndReopensSoundingTheSame) {
    const std::vector<float> input = programmeInput(12000);
    std::vector<Change> changes;
    for (int c = 0; c < kBypassIndex; ++c) changes.push_back({0, c, 0.15f + 0.13f * c});
    std::vector<unsigned char> saved;
    {
        Instance plugin(factory(), kRate, kMaxBlock);
        for (const Change& change : changes) {
            const auto c = static_cast<std::size_t>(change.index);
            plugin.changes.add(static_cast<clap_id>(c), 0, plainFor(c, change.value));
        }
        plugin.flush();
        saved = plugin.save();
    }
    ASSERT_EQ(saved.size(), kStateSize);
    // The VST 3 plug-in reads the same record and writes it back byte for byte.
    vst3host::Instance vst3(vst3Factory(), kRate, kMaxBlock);
    vst3host::MemoryStream stream(saved);
    ASSERT_EQ(vst3.component->setState(&stream), vst3::kResultOk);
    vst3host::MemoryStream back;
    ASSERT_EQ(vst3.component->getState(&back), vst3::kResultOk);
    EXPECT_EQ(back.bytes, saved);

    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin.load(saved));
    EXPECT_EQ(plugin.host.rescans, 1);
    EXPECT_EQ(plugin.save(), saved);
    for (std::size_t c = 0; c < controlCount; ++c) {
        EXPECT_EQ(plugin.value(static_cast<clap_id>(c)), plainFor(c, changes[c].value));
    }
    const std::vector<float> reopened = renderInBlocks(
        input, {}, {kMaxBlock}, [](const Change&, int) {},
        [&](const float* in, float* left, float* right, int frames) {
            plugin.process(in, left, right, static_cast<std::uint32_t>(frames));
        });
    EXPECT_EQ(firstDifference(reopened, clapRender(input, changes, {kMaxBlock})), -1);
}

std::vector<std::vector<unsigned char>> damagedStates(const std::vector<unsigned char>& good) {
    std::vector<std::vector<unsigned char>> bad;
    for (std::size_t size = 0; size < good.size(); ++size)
        bad.emplace_back(good.begin(), good.begin() + static_cast<long>(size));
    bad.push_back(good);
    bad.back().push_back(0);
    // Each byte of the mark, the version, a value's sign and exponent, and the bypass word,
    // changed on its own.
    for (const std::size_t at : {0, 3, 4, 7, 11, 15, 19, 23, 27, 28, 31}) {
        bad.push_back(good);
        bad.back()[at] ^= 0x40;
    }
    std::mt19937 random(11);
    for (int n = 0; n < 300; ++n) {
        std::vector<unsigned char> bytes(random() % 64);
        for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
        if (n % 2 == 0 && bytes.size() >= 8) std::memcpy(bytes.data(), good.data(), 8);
        bad.push_back(bytes);
    }
    return bad;
}

TEST(ClapState, DamagedOrRandomStateIsRefusedAndChangesNothing) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    plugin.changes.add(1, 0, -33.0);
    plugin.flush();
    const std::vector<unsigned char> good = plugin.save();
    int refused = 0;
    for (const auto& bytes : damagedStates(good)) {
        if (decodeState(bytes)) continue;  // a random record that happens to be whole
        EXPECT_FALSE(plugin.load(bytes));
        ++refused;
    }
    EXPECT_GT(refused, 300);
    EXPECT_EQ(plugin.save(), good);
    EXPECT_EQ(plugin.value(1), -33.0);
    EXPECT_EQ(plugin.host.rescans, 0);
    // A stream that fails, or claims more than it was asked for, gives no state either.
    Stream failing(good);
    failing.in.read = [](const clap_istream_t*, void*, std::uint64_t) -> std::int64_t {
        return -1;
    };
    EXPECT_FALSE(plugin.state->load(plugin.plugin, &failing.in));
    Stream lying(good);
    lying.in.read = [](const clap_istream_t*, void*, std::uint64_t size) -> std::int64_t {
        return static_cast<std::int64_t>(size) + 1;
    };
    EXPECT_FALSE(plugin.state->load(plugin.plugin, &lying.in));
    EXPECT_EQ(plugin.save(), good);
}

// A state loaded while the plug-in is active is taken at the start of the next block, whole.
TEST(ClapState, LoadedWhileActiveIsTakenAtTheNextBlock) {
    const std::vector<float> input = programmeInput(9000);
    PluginState state;
    state.controls[Control::lowpassCutoff] = static_cast<float>(plainFor(0, 0.2f));
    state.controls[Control::noisegateGain] = static_cast<float>(plainFor(2, 0.3f));
    state.bypassed = true;
    const auto bytes = encodeState(state);
    Instance plugin(factory(), kRate, kMaxBlock);
    std::vector<float> left(9000), right(9000), out;
    for (int start = 0; start < 9000; start += 300) {
        if (start == 3000) {
            ASSERT_TRUE(plugin.load({bytes.begin(), bytes.end()}));
        }
        plugin.process(input.data() + start, left.data() + start, right.data() + start, 300);
    }
    for (int i = 0; i < 9000; ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    const std::vector<Change> changes = {
        {3000, 0, 0.2f}, {3000, 2, 0.3f}, {3000, kBypassIndex, 1.0f}};
    EXPECT_EQ(firstDifference(out, clapRender(input, changes, {300})), -1);
}

// Where the host says which thread calls, the calls that belong to its main thread are refused
// from any other.
TEST(ClapThreads, MainThreadCallsFromAnotherThreadAreRefused) {
    Instance plugin(factory(), kRate, kMaxBlock);
    ASSERT_TRUE(plugin);
    const std::vector<unsigned char> good = plugin.save();
    plugin.deactivate();
    plugin.host.onMainThread = false;
    EXPECT_FALSE(plugin.plugin->activate(plugin.plugin, kRate, 1, kMaxBlock));
    EXPECT_FALSE(plugin.load(good));
    plugin.host.onMainThread = true;
    EXPECT_TRUE(plugin.load(good));
    plugin.activate(kRate, kMaxBlock);
    EXPECT_TRUE(plugin.active);
}

}  // namespace
