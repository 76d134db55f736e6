// The plug-in driven by a host built on liblilv: block sizes, shared buffers, the audio thread's
// rules, the lifecycle, the meters and the latency port.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "support/allocation_counter.h"
#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

struct Output {
    std::vector<float> left, right;
    bool operator==(const Output&) const = default;
};

// One instance of the built bundle, every control port connected to a value of its own.
class Host {
  public:
    explicit Host(double rate = 48000.0) : world(lilv_world_new()) {
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, ZELKO_LV2_BUNDLE_DIR "/");
        LilvNode* uri = lilv_new_uri(world, "urn:zelko:comb-stereo-processor");
        lilv_world_load_bundle(world, bundle);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        lilv_node_free(bundle);
        if (plugin) instance = lilv_plugin_instantiate(plugin, rate, nullptr);
        if (!instance) return;
        values.resize(lilv_plugin_get_num_ports(plugin));
        lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, values.data());
        for (std::uint32_t p = 3; p < values.size(); ++p) {
            lilv_instance_connect_port(instance, p, &values[p]);
        }
        lilv_instance_activate(instance);
    }
    ~Host() {
        if (instance) lilv_instance_deactivate(instance);
        if (instance) lilv_instance_free(instance);
        lilv_world_free(world);
    }

    float& port(const char* symbol) {
        LilvNode* node = lilv_new_string(world, symbol);
        const LilvPort* found = lilv_plugin_get_port_by_symbol(plugin, node);
        lilv_node_free(node);
        return values.at(lilv_port_get_index(plugin, found));
    }

    void run(const float* in, float* left, float* right, std::uint32_t frames) {
        lilv_instance_connect_port(instance, 0, const_cast<float*>(in));
        lilv_instance_connect_port(instance, 1, left);
        lilv_instance_connect_port(instance, 2, right);
        lilv_instance_run(instance, frames);
    }

    // The whole input, in blocks of the given sizes taken in turn.
    Output render(const std::vector<float>& in, const std::vector<std::uint32_t>& blocks = {256}) {
        Output out{std::vector<float>(in.size()), std::vector<float>(in.size())};
        for (std::size_t at = 0, b = 0; at < in.size(); ++b) {
            const auto n = std::min<std::size_t>(blocks[b % blocks.size()], in.size() - at);
            run(in.data() + at, out.left.data() + at, out.right.data() + at, n);
            at += n;
        }
        return out;
    }

    LilvWorld* world;
    const LilvPlugin* plugin = nullptr;
    LilvInstance* instance = nullptr;
    std::vector<float> values;
};

const std::vector<float> kNoise = testsignal::noise(24000, 5u, 0.5f);

TEST(Lv2Host, EveryBlockSizeUpTo4096AndEmptyBlocksGiveTheSameOutput) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t size = 1; size <= 4096; size *= 2) {
        sizes.insert(sizes.end(), {size - 1, 0, size, std::min(size + 1, 4096u)});
    }
    std::uint32_t total = 0;
    for (std::uint32_t size : sizes) total += size;
    const std::vector<float> in = testsignal::noise(static_cast<int>(total), 9u, 0.5f);
    Host whole, blocks;
    ASSERT_TRUE(whole.instance && blocks.instance);
    EXPECT_EQ(whole.render(in, {total}), blocks.render(in, sizes));
    for (std::uint32_t p = 8; p < 20; ++p) EXPECT_EQ(whole.values[p], blocks.values[p]) << p;
}

TEST(Lv2Host, InPlaceBuffersGiveTheSameOutput) {
    const Output separate = Host().render(kNoise);
    Host left, right;
    Output shared{kNoise, kNoise};
    for (std::size_t at = 0; at < kNoise.size(); at += 1000) {
        std::vector<float> other(1000);
        left.run(&shared.left[at], &shared.left[at], other.data(), 1000);
        EXPECT_TRUE(std::equal(other.begin(), other.end(), &separate.right[at]));
        right.run(&shared.right[at], other.data(), &shared.right[at], 1000);
        EXPECT_TRUE(std::equal(other.begin(), other.end(), &separate.left[at]));
    }
    EXPECT_EQ(shared, separate);
}

TEST(Lv2Host, RunAllocatesNothingWhateverTheBlockOrControls) {
    ASSERT_TRUE(allocation_counter::hooksInstalled);
    Host host;
    std::vector<float> left(4096), right(4096);
    float& lowpass = host.port("lowpass_filter");
    const long allocations = allocation_counter::allocationsDuring([&] {
        for (std::uint32_t frames : {0u, 1u, 4096u, 333u, 64u}) {
            lowpass = static_cast<float>(frames * 10);
            host.run(kNoise.data(), left.data(), right.data(), frames);
        }
    });
    EXPECT_EQ(allocations, 0);
}

TEST(Lv2Host, ActivationReturnsToExactSilence) {
    const Output fresh = Host().render(kNoise);
    Host host;
    for (int cycle = 0; cycle < 3; ++cycle) {
        host.render(testsignal::noise(5000, 11u + cycle, 0.9f));
        lilv_instance_deactivate(host.instance);
        lilv_instance_activate(host.instance);
        EXPECT_EQ(host.render(kNoise), fresh) << cycle;
    }
}

TEST(Lv2Host, ControlsOutsideTheirRangesAndOddRatesAreHeldToTheirLimits) {
    Host wild(std::nan("")), limits(44100.0);
    for (const auto& [symbol, outside, limit] : {std::tuple{"lowpass_filter", 1e9f, 22000.0f},
                                                 {"auto_eq_threshold", -1e9f, -90.0f},
                                                 {"noisegate_gain_db", std::nanf(""), 0.0f},
                                                 {"output_agc_threshold", 40.0f, 3.0f},
                                                 {"dnr_lpf_disable", 7.0f, 1.0f}}) {
        wild.port(symbol) = outside;
        limits.port(symbol) = limit;
    }
    EXPECT_EQ(wild.render(kNoise), limits.render(kNoise));
    EXPECT_EQ(Host(1e12).render(kNoise), Host(192000.0).render(kNoise));
}

// A band-limited tone keeps the noise-reduction lowpass low; broadband noise opens it, and the
// band meters read the new signal.
TEST(Lv2Host, MetersMoveWhenTheSignalWidens) {
    Host host;
    std::vector<float> tone(48000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(0.02f * i);
    host.render(tone);
    const std::vector<float> afterTone = host.values;
    host.render(testsignal::noise(48000, 3u, 0.5f));
    EXPECT_GT(host.port("dnr_bandwidth"), afterTone[18] + 1000.0f);
    EXPECT_GT(host.port("dnr2_bandwidth"), afterTone[19] + 1000.0f);
    for (std::uint32_t p = 8; p < 20; ++p) {
        EXPECT_GE(host.values[p], 0.0f) << p;
        EXPECT_LE(host.values[p], p < 18 ? 1.5f : 22000.0f) << p;
        if (p < 18) {
            EXPECT_NE(host.values[p], afterTone[p]) << p;
        }
    }
}

TEST(Lv2Host, LatencyPortReportsTheVstDelay) {
    Host host;
    host.run(nullptr, nullptr, nullptr, 0);
    testhost::Plugin vst;
    ASSERT_TRUE(vst);
    EXPECT_EQ(host.port("latency"), 2658.0f);
    EXPECT_EQ(host.port("latency"), static_cast<float>(vst.effect()->initialDelay));
}

}  // namespace
