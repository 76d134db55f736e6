// The LV2 plug-in as hosts see it: through Debian's lv2ls, lv2info and lv2apply, compared with
// the VST module and the renderer, and driven by a small host built on liblilv.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sndfile.hh>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/control_record.h"
#include "lv2/port_table.h"

// GCC 12 reports its own <regex> as maybe uninitialized under the sanitizers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "support/allocation_counter.h"
#include "support/command.h"
#include "support/noise.h"
#include "support/plugin_host.h"
#include "support/render_programme.h"

namespace {

const std::string kUri = "urn:zelko:comb-stereo-processor";
const std::string kStereoUri = "urn:zelko:comb-stereo-processor-stereo";
// The tools and liblilv alike find only the built bundle; the tools, which are not instrumented,
// load a sanitized module only with the sanitizer's runtime loaded first.
const bool kEnvironment = setenv("LV2_PATH", ZELKO_LV2_BUNDLE_DIR "/..", 1) == 0 &&
                          setenv("LD_PRELOAD", ZELKO_LV2_TOOL_PRELOAD, 1) == 0 &&
                          setenv("ASAN_OPTIONS", "detect_leaks=0", 1) == 0;

// One instance at a rate, each control port connected to a value of its own: the audio ports come
// first, the controls from port 3, the meters from 8, the latency at 20.
struct Host {
    explicit Host(double rate = 48000.0) {
        lilv_world_load_all(world);
        const LilvPlugins* all = lilv_world_get_all_plugins(world);
        LilvNode* uri = lilv_new_uri(world, kUri.c_str());
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(all, uri);
        lilv_node_free(uri);
        instance = lilv_plugin_instantiate(plugin, rate, nullptr);
        values = minimum = maximum = std::vector<float>(lilv_plugin_get_num_ports(plugin));
        lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), values.data());
        for (std::uint32_t p = 3; p < values.size(); ++p)
            lilv_instance_connect_port(instance, p, &values[p]);
        lilv_instance_activate(instance);
    }
    // No run of any instance in these tests, whatever its block or controls, may allocate or
    // make a system call.
    ~Host() {
        EXPECT_TRUE(allocation_counter::hooksInstalled && faults.none()) << faults;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
        lilv_world_free(world);
    }

    void run(const float* in, float* left, float* right, std::uint32_t frames) {
        lilv_instance_connect_port(instance, 0, const_cast<float*>(in));
        lilv_instance_connect_port(instance, 1, left);
        lilv_instance_connect_port(instance, 2, right);
        faults += allocation_counter::faultsDuring([&] { lilv_instance_run(instance, frames); });
    }

    // The input in blocks of the given sizes taken in turn, read in place from the left (1) or
    // right (2) output when `shared` says so; the left output, then the right.
    std::vector<float> render(const std::vector<float>& in,
                              const std::vector<std::uint32_t>& blocks = {256}, int shared = 0) {
        const std::size_t n = in.size();
        std::vector<float> out(2 * n);
        if (shared) std::copy(in.begin(), in.end(), &out[(shared - 1) * n]);
        for (std::size_t at = 0, b = 0; at < n; ++b) {
            const auto frames = std::min<std::size_t>(blocks[b % blocks.size()], n - at);
            run(shared ? &out[(shared - 1) * n + at] : &in[at], &out[at], &out[n + at], frames);
            at += frames;
        }
        return out;
    }

    LilvWorld* world = lilv_world_new();
    LilvInstance* instance = nullptr;
    std::vector<float> values, minimum, maximum;
    allocation_counter::Faults faults;
};

// A number as the VST shows it, or as Turtle writes it: "-6", "0.25"; a switch is OFF or ON.
std::string plain(const std::string& text) {
    std::ostringstream out;
    out << (text == "ON" ? 1.0 : text == "OFF" ? 0.0 : std::stod(text));
    return out.str();
}

// Each port in the Turtle that lv2info writes, by name: its kinds, range, default, unit,
// designation and properties, such as {"ControlPort", "InputPort", "default=0", "hz"}.
std::map<std::string, std::set<std::string>> describedPorts(const std::string& turtle) {
    const std::regex port(R"x(\[[^\]]*lv2:name "([^"]*)"[^\]]*\])x");
    const std::regex fact(R"(lv2:(minimum|maximum|default) (\S+) ;|(units#|lv2:))"
                          R"((hz|db|\w+Port|toggled|latency|reportsLatency|enabled)\b)");
    std::map<std::string, std::set<std::string>> ports;
    for (std::sregex_iterator p(turtle.begin(), turtle.end(), port), end; p != end; ++p) {
        for (std::sregex_iterator f((*p)[0].first, (*p)[0].second, fact); f != end; ++f) {
            const std::smatch& m = *f;
            ports[(*p)[1]].insert(m[1].matched ? m[1].str() + "=" + plain(m[2]) : m[4].str());
        }
    }
    return ports;
}

TEST(Lv2Bundle, ListsAndReportsTheVstParametersTheMetersAndTheLatencyAndExportsOneSymbol) {
    EXPECT_EQ(runCommand("lv2ls; echo $?"), kUri + "\n" + kStereoUri + "\n0\n");
    std::map<std::string, std::set<std::string>> expected;
    const auto expect = [&](const std::string& name, const std::string& facts) {
        std::istringstream words(facts);
        for (std::string word; words >> word;) expected[name].insert(word);
    };
    expect("In", "AudioPort InputPort");
    for (const char* name : {"Left", "Right"}) expect(name, "AudioPort OutputPort");
    for (int band = 3; band <= 12; ++band) {
        expect("Band " + std::to_string(band) + " Separation",
               "ControlPort OutputPort minimum=0 maximum=1.5");
    }
    // The meters declare what they reach, not the processor's own narrower ranges.
    for (const char* name : {"DNR Bandwidth", "DNR2 Bandwidth"})
        expect(name, "ControlPort OutputPort minimum=1000 maximum=22000 hz");
    expect("Latency", "ControlPort OutputPort minimum=0 maximum=2658 latency reportsLatency");
    expect("Enabled", "ControlPort InputPort default=1 minimum=0 maximum=1 toggled enabled");
    // The units are what the VST parameters do not carry, and the names leave the unit out.
    expect("Lowpass Filter", "hz");
    for (const char* name : {"Auto-EQ Threshold", "Noisegate Gain", "Output AGC Threshold"})
        expect(name, "db");
    testhost::Plugin vst;
    ASSERT_TRUE(vst);
    for (int i = 0; i < vst.effect()->numParams; ++i) {
        const std::string name = controlRecords[static_cast<std::size_t>(i)].name,
                          initial = vst.text(effGetParamDisplay, i);
        EXPECT_EQ(vst.text(effGetParamName, i), controlRecords[static_cast<std::size_t>(i)].label);
        vst.setParameter(i, 0.0f);
        const std::string low = vst.text(effGetParamDisplay, i);
        vst.setParameter(i, 1.0f);
        expect(name, "ControlPort InputPort default=" + plain(initial) + " minimum=" + plain(low) +
                         " maximum=" + plain(vst.text(effGetParamDisplay, i)) +
                         (low == "OFF" ? " toggled" : ""));
    }
    EXPECT_EQ(describedPorts(runCommand("lv2info -p /dev/stdout " + kUri)), expected);
    // The latency port reports the VST's delay from the first run on.
    Host host;
    host.run(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(host.values[20], 2658.0f);
    EXPECT_EQ(host.values[20], static_cast<float>(vst.effect()->initialDelay));
    EXPECT_EQ(
        runCommand("nm -D --defined-only --format=just-symbols " ZELKO_LV2_BUNDLE_DIR "/zelko.so"),
        "lv2_descriptor\n");
}

std::vector<float> readSound(const std::string& path) {
    SndfileHandle file(path);
    std::vector<float> samples(static_cast<std::size_t>(file.frames() * file.channels()));
    file.readf(samples.data(), file.frames());
    return samples;
}

// The other setting of the five controls, as the two hosts take it: VST parameters whose plain
// values are exact floats, so that both reach the processor with the same bits.
TEST(Lv2Apply, RendersTheVstOutputBitForBit) {
    const std::string settings[][2] = {
        {"", ""},
        {"-c lowpass_filter 6250 -c auto_eq_threshold -45 -c noisegate_gain_db 17.5 -c "
         "output_agc_threshold -8.25 -c dnr_lpf_disable 1",
         "-p 0=0.25n -p 1=0.5n -p 2=0.25n -p 3=0.25n -p 4=on"}};
    const std::string renderVst =
        " && " ZELKO_RENDER_PATH
        " in.wav -o vst.wav -f -q --subtype float --no-latency-compensation ";
    std::string dir = testing::TempDir() + "zelko-lv2apply-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::vector<float> input, unused;
    programme::makeInputs(input, unused);  // noise, tones, clicks and silence
    for (int rate : {44100, 48000, 96000}) {
        SndfileHandle(dir + "/in.wav", SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate)
            .writef(input.data(), input.size());
        std::vector<float> previous;
        for (const auto& [lv2Controls, vstParameters] : settings) {
            int status = -1;
            const std::string said =
                runCommand("cd " + dir + " && lv2apply -i in.wav -o lv2.wav " + lv2Controls + " " +
                               kUri + renderVst + vstParameters + " 2>&1",
                           &status);
            ASSERT_EQ(status, 0) << said;
            const std::vector<float> lv2 = readSound(dir + "/lv2.wav"),
                                     vst = readSound(dir + "/vst.wav");
            EXPECT_TRUE(lv2.size() == 2 * input.size() && vst.size() == lv2.size() &&
                        std::memcmp(lv2.data(), vst.data(), lv2.size() * 4) == 0)
                << rate << " Hz " << vstParameters;
            // Both settings reach the chain: they sound different, and neither is silent.
            EXPECT_NE(lv2, previous);
            EXPECT_GT(*std::max_element(lv2.begin(), lv2.end()), 0.01f);
            previous = lv2;
        }
    }
    runCommand("rm -r " + dir);
}

const std::vector<float> kNoise = testsignal::noise(24000, 5u, 0.5f);

// Blocks of every size up to 4096 and empty ones, and the input buffer shared with either output.
TEST(Lv2Host, BlockSizesAndSharedBuffersGiveTheSameOutput) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t size = 1; size <= 4096; size *= 2)
        sizes.insert(sizes.end(), {size - 1, 0, size, std::min(size + 1, 4096u)});
    Host whole, blocks;
    const std::vector<float> out = whole.render(kNoise, {24000});
    EXPECT_EQ(blocks.render(kNoise, sizes), out);
    EXPECT_TRUE(std::equal(whole.values.begin() + 3, whole.values.end(), &blocks.values[3]));
    EXPECT_EQ(Host().render(kNoise, {1000}, 1), out);
    EXPECT_EQ(Host().render(kNoise, {1000}, 2), out);
}

TEST(Lv2Host, ActivationReturnsToExactSilence) {
    const std::vector<float> fresh = Host().render(kNoise);
    Host host;
    for (int cycle = 0; cycle < 3; ++cycle) {
        host.render(testsignal::noise(5000, 11u + cycle, 0.9f));
        lilv_instance_deactivate(host.instance);
        lilv_instance_activate(host.instance);
        EXPECT_EQ(host.render(kNoise), fresh) << cycle;
    }
}

// Above the range, below it and NaN, which reads as the minimum; a rate that is no number plays
// as 44.1 kHz and one beyond reason as 192 kHz.
TEST(Lv2Host, ControlsOutsideTheirRangesAndOddRatesAreHeldToTheirLimits) {
    Host wild(std::nan("")), limits(44100.0);
    for (std::uint32_t p = 3; p < 8; ++p) {
        wild.values[p] = p % 2 == 1 ? 1e9f : p == 4 ? -1e9f : std::nanf("");
        limits.values[p] = p % 2 == 1 ? limits.maximum[p] : limits.minimum[p];
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
    for (std::uint32_t p = 8; p < 20; ++p) {
        EXPECT_TRUE(host.values[p] >= 0.0f && host.values[p] <= (p < 18 ? 1.5f : 22000.0f)) << p;
        EXPECT_TRUE(p < 18 ? host.values[p] != afterTone[p] : host.values[p] > afterTone[p] + 1000)
            << p;
    }
}

// The host's enabled port at 0 bypasses: after the 10 ms fade both outputs are the input delayed
// by the reported latency, exactly. The processor keeps running meanwhile, so once enabled again
// and faded back the output is what it would have been had it never been bypassed.
TEST(Lv2Host, EnabledPortBypassesWithTheLatencyAndComesBackWithoutAJump) {
    const std::size_t n = kNoise.size(), latency = lv2glue::kLatencyPort;
    Host bypassed, through;
    ASSERT_EQ(bypassed.values.size(), lv2glue::kPortCount);
    bypassed.values[lv2glue::kEnabledPort] = 0.0f;
    const std::vector<float> out = bypassed.render(kNoise);
    const std::size_t delay = static_cast<std::size_t>(bypassed.values[latency]);
    for (std::size_t i = delay; i < n; ++i) {
        ASSERT_TRUE(out[i] == kNoise[i - delay] && out[n + i] == kNoise[i - delay]) << i;
    }
    through.render(kNoise);
    bypassed.values[lv2glue::kEnabledPort] = 1.0f;
    const std::vector<float> back = bypassed.render(kNoise), reference = through.render(kNoise);
    const std::size_t fade = 480;  // 10 ms at 48 kHz
    EXPECT_TRUE(std::equal(back.begin() + fade, back.begin() + n, reference.begin() + fade));
    EXPECT_TRUE(std::equal(back.begin() + n + fade, back.end(), reference.begin() + n + fade));
    // During the fade each sample lies between the delayed input and the processed output.
    for (std::size_t i = 0; i < fade; ++i) {
        const float dry = kNoise[n - delay + i], wet = reference[i];
        EXPECT_TRUE(back[i] >= std::min(dry, wet) - 1e-6f && back[i] <= std::max(dry, wet) + 1e-6f)
            << i;
    }
}

TEST(Lv2Apply, EnabledPortAtZeroGivesTheInputDelayedByTheLatency) {
    std::string dir = testing::TempDir() + "zelko-lv2bypass-XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    SndfileHandle(dir + "/in.wav", SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000)
        .writef(kNoise.data(), kNoise.size());
    int status = -1;
    const std::string said = runCommand(
        "cd " + dir + " && lv2apply -i in.wav -o out.wav -c enabled 0 " + kUri + " 2>&1", &status);
    ASSERT_EQ(status, 0) << said;
    const std::vector<float> out = readSound(dir + "/out.wav");
    ASSERT_EQ(out.size(), 2 * kNoise.size());
    for (std::size_t i = chainLatency; i < kNoise.size(); ++i) {
        ASSERT_TRUE(out[2 * i] == kNoise[i - chainLatency] && out[2 * i + 1] == out[2 * i]) << i;
    }
    runCommand("rm -r " + dir);
}

// ---- the stereo-input plug-in ------------------------------------------------------------

// Its two audio inputs and two outputs each a stereo group, left and right; every other port the
// mono plug-in's, one index on.
TEST(Lv2Stereo, GroupsItsAudioPortsInStereoPairsAndHasTheMonoPluginsControls) {
    std::map<std::string, std::set<std::string>> mono =
        describedPorts(runCommand("lv2info -p /dev/stdout " + kUri));
    std::map<std::string, std::set<std::string>> stereo =
        describedPorts(runCommand("lv2info -p /dev/stdout " + kStereoUri));
    const std::set<std::string> input = mono["In"];
    mono.erase("In");
    EXPECT_EQ(stereo["Left In"], input);
    EXPECT_EQ(stereo["Right In"], input);
    stereo.erase("Left In");
    stereo.erase("Right In");
    EXPECT_EQ(stereo, mono);

    const std::string info = runCommand("lv2info " + kStereoUri);
    std::map<std::string, int> groups;
    const std::regex port(
        R"(Symbol:\s+(\w+)\s+Name:[^\n]*\n\s+Group:\s+(\S+)\s+Designation:\s+\S+#(\w+))");
    for (std::sregex_iterator p(info.begin(), info.end(), port), end; p != end; ++p) {
        const std::string group = (*p)[2].str().substr(kStereoUri.size());
        EXPECT_EQ((*p)[1].str(), (group == "#input" ? "in_" : "out_") + (*p)[3].str());
        ++groups[group];
    }
    EXPECT_EQ(groups, (std::map<std::string, int>{{"#input", 2}, {"#output", 2}}));
    EXPECT_NE(info.find("Has latency:       yes, reported by port " +
                        std::to_string(lv2glue::kStereoPorts.latency())),
              std::string::npos);
    EXPECT_NE(runCommand("lv2info -p /dev/stdout " + kStereoUri).find("the VST 2.4 effect reads"),
              std::string::npos);
}

// A scratch folder with the programme as a mono file and as a stereo file whose right channel is
// other noise; removed with the fixture.
class Lv2Renders : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        std::vector<float> left, right;
        programme::makeInputs(left, right);
        left.resize(96000);
        right.resize(96000);
        std::vector<float> both;
        for (std::size_t i = 0; i < left.size(); ++i) both.insert(both.end(), {left[i], right[i]});
        SndfileHandle(dir + "/mono.wav", SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000)
            .writef(left.data(), left.size());
        SndfileHandle(dir + "/stereo.wav", SFM_WRITE, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000)
            .writef(both.data(), left.size());
        frames = left.size();
    }
    void TearDown() override { runCommand("rm -r " + dir); }

    // Runs a command in the folder; answers what it wrote to `output`, or nothing when it failed.
    std::vector<float> rendered(const std::string& command, const std::string& output) {
        int status = -1;
        const std::string said = runCommand("cd " + dir + " && " + command + " 2>&1", &status);
        EXPECT_EQ(status, 0) << command << "\n" << said;
        return status == 0 ? readSound(dir + "/" + output) : std::vector<float>{};
    }

    std::string dir = testing::TempDir() + "zelko-lv2stereo-XXXXXX";
    std::size_t frames = 0;
};

const std::string kControls =
    "-c lowpass_filter 6250 -c noisegate_gain_db 17.5 -c dnr_lpf_disable 1";

TEST_F(Lv2Renders, StereoPluginReadsTheLeftInputAsTheMonoPluginReadsItsInput) {
    for (const std::string& controls : {std::string(), kControls}) {
        const std::vector<float> mono = rendered(
            "lv2apply -i mono.wav -o mono-out.wav " + controls + " " + kUri, "mono-out.wav");
        const std::vector<float> stereo =
            rendered("lv2apply -i stereo.wav -o stereo-out.wav " + controls + " " + kStereoUri,
                     "stereo-out.wav");
        ASSERT_EQ(mono.size(), 2 * frames);
        EXPECT_EQ(stereo, mono) << controls;
        EXPECT_GT(*std::max_element(mono.begin(), mono.end()), 0.01f);
    }
}

bool haveProgram(const char* name) {
    return runCommand(std::string("command -v ") + name + " >/dev/null && echo yes") == "yes\n";
}

// GStreamer's LV2 element for the stereo plug-in (named after its URI) in a pipeline from a WAV
// file to a WAV file. GStreamer 1.22 starts every toggle of an element at false, whatever its LV2
// default, so the host's enabled switch is set as a user must set it.
TEST_F(Lv2Renders, GStreamerRendersTheStereoPluginAsLv2ApplyDoes) {
    if (!haveProgram("gst-launch-1.0")) GTEST_SKIP() << "gst-launch-1.0 is not installed";
    const std::string registry = "GST_REGISTRY=" + dir + "/registry.bin ";
    if (runCommand(registry + "gst-inspect-1.0 urn-zelko-comb-stereo-processor-stereo >/dev/null "
                              "2>&1 && echo yes") != "yes\n") {
        GTEST_SKIP() << "GStreamer has no LV2 element here (gstreamer1.0-plugins-bad)";
    }
    const std::vector<float> reference = rendered(
        "lv2apply -i stereo.wav -o lv2.wav -c lowpass_filter 6250 " + kStereoUri, "lv2.wav");
    const std::vector<float> gst = rendered(
        registry +
            "gst-launch-1.0 -q filesrc location=stereo.wav ! wavparse ! "
            "urn-zelko-comb-stereo-processor-stereo enabled=true lowpass-filter=6250 ! wavenc ! "
            "filesink location=gst.wav",
        "gst.wav");
    ASSERT_EQ(reference.size(), 2 * frames);
    EXPECT_TRUE(gst == reference);
}

TEST_F(Lv2Renders, FfmpegRendersBothPluginsAsLv2ApplyDoes) {
    if (!haveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const auto& [uri, input] :
         {std::pair{kUri, "mono.wav"}, std::pair{kStereoUri, "stereo.wav"}}) {
        std::string escaped;
        for (char c : uri) escaped += c == ':' ? std::string("\\\\:") : std::string(1, c);
        const std::vector<float> reference =
            rendered("lv2apply -i " + std::string(input) + " -o lv2.wav " + kControls + " " + uri,
                     "lv2.wav");
        const std::vector<float> ffmpeg = rendered(
            "ffmpeg -loglevel error -y -i " + std::string(input) + " -af 'lv2=p=" + escaped +
                ":c=lowpass_filter=6250|noisegate_gain_db=17.5|dnr_lpf_disable=1' -c:a pcm_f32le "
                "ffmpeg.wav",
            "ffmpeg.wav");
        ASSERT_EQ(reference.size(), 2 * frames);
        EXPECT_TRUE(ffmpeg == reference) << uri;
    }
}

}  // namespace
