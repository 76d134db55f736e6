// The LV2 plug-in as hosts see it: through Debian's lv2ls, lv2info and lv2apply, compared with
// the VST module and the renderer, and driven by a small host built on liblilv.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/urid/urid.h>

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

// The host's urid:map: URIs numbered from 1 in the order they are first asked for.
struct UridMap {
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
        std::vector<std::string>& uris = static_cast<UridMap*>(handle)->uris;
        const auto known = std::find(uris.begin(), uris.end(), uri);
        if (known != uris.end()) return static_cast<LV2_URID>(known - uris.begin() + 1);
        uris.push_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    LV2_URID operator()(const char* uri) { return mapUri(this, uri); }

    std::vector<std::string> uris;
    LV2_URID_Map map{this, mapUri};
    LV2_Feature feature{LV2_URID__map, &map};
};

// One instance at a rate, each control port connected to a value of its own and the goniometer to
// an atom buffer: the audio ports come first, the controls from port 3, the meters from 8, the
// latency at 20, the enabled switch at 21, the output's readings from 22 and the goniometer at 27.
// The host offers urid:map unless told not to.
struct Host {
    explicit Host(double rate = 48000.0, bool offerMap = true) {
        lilv_world_load_all(world);
        const LilvPlugins* all = lilv_world_get_all_plugins(world);
        LilvNode* uri = lilv_new_uri(world, kUri.c_str());
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(all, uri);
        lilv_node_free(uri);
        const LV2_Feature* features[] = {&urids.feature, nullptr};
        instance = lilv_plugin_instantiate(plugin, rate, offerMap ? features : nullptr);
        values = minimum = maximum = std::vector<float>(lilv_plugin_get_num_ports(plugin));
        lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), values.data());
        values[lv2glue::kGoniometerPort] = 0.0f;  // an atom port: no value of its own
        for (std::uint32_t p = 3; p < values.size(); ++p) {
            lilv_instance_connect_port(
                instance, p,
                p == lv2glue::kGoniometerPort ? static_cast<void*>(atoms) : &values[p]);
        }
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

    // Before each run the goniometer's buffer says how much room it has, as LV2 hosts do for an
    // output sequence.
    void run(const float* in, float* left, float* right, std::uint32_t frames) {
        lilv_instance_connect_port(instance, 0, const_cast<float*>(in));
        lilv_instance_connect_port(instance, 1, left);
        lilv_instance_connect_port(instance, 2, right);
        sequence()->atom = {atomRoom, urids(LV2_ATOM__Chunk)};
        faults += allocation_counter::faultsDuring([&] { lilv_instance_run(instance, frames); });
    }

    LV2_Atom_Sequence* sequence() { return reinterpret_cast<LV2_Atom_Sequence*>(atoms); }
    float reading(OutputReading r) {
        return values[lv2glue::kFirstReadingPort + static_cast<std::uint32_t>(r)];
    }
    // The goniometer's points as the last run wrote them, (mid, side) after each other; nothing
    // unless the port holds a sequence of exactly one vector of floats.
    std::vector<float> goniometer() {
        const LV2_Atom_Sequence* s = sequence();
        if (s->atom.type != urids(LV2_ATOM__Sequence)) return {};
        std::vector<float> points;
        int events = 0;
        LV2_ATOM_SEQUENCE_FOREACH(s, event) {
            ++events;
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(&event->body);
            if (vector->atom.type != urids(LV2_ATOM__Vector) ||
                vector->body.child_type != urids(LV2_ATOM__Float) ||
                vector->body.child_size != sizeof(float)) {
                return {};
            }
            const auto* first = reinterpret_cast<const float*>(&vector->body + 1);
            points.assign(first, first + (vector->atom.size - sizeof vector->body) / sizeof(float));
        }
        return events == 1 ? points : std::vector<float>{};
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

    UridMap urids;
    LilvWorld* world = lilv_world_new();
    LilvInstance* instance = nullptr;
    std::vector<float> values, minimum, maximum;
    alignas(8) std::uint8_t atoms[lv2glue::kGoniometerBufferBytes] = {};
    std::uint32_t atomRoom = sizeof atoms - sizeof(LV2_Atom);
    allocation_counter::Faults faults;
};

// A number as the VST shows it, or as Turtle writes it: "-6", "0.25"; a switch is OFF or ON.
std::string plain(const std::string& text) {
    std::ostringstream out;
    out << (text == "ON" ? 1.0 : text == "OFF" ? 0.0 : std::stod(text));
    return out.str();
}

// Each port in the Turtle that lv2info writes, by name: its kinds, range, default, unit,
// designation and properties, such as {"ControlPort", "InputPort", "default=0", "hz"}, and for an
// atom port its buffer and event types and the buffer size it asks for.
std::map<std::string, std::set<std::string>> describedPorts(const std::string& turtle) {
    const std::regex port(R"x(\[[^\]]*lv2:name "([^"]*)"[^\]]*\])x");
    const std::regex fact(R"((?:lv2:|resize-port#)(minimum|maximum|default|minimumSize)>? (\S+) ;)"
                          R"(|(units#|lv2:|atom#))"
                          R"((hz|db|\w+Port|toggled|latency|reportsLatency|enabled|)"
                          R"(connectionOptional|Sequence|Vector)\b)");
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
    // The output as the editor shows it: levels in dBFS with room above full scale for a loud
    // bypassed input, the correlation, and the goniometer as an atom port hosts may leave alone.
    for (const char* name :
         {"Output Left Peak", "Output Right Peak", "Output Left RMS", "Output Right RMS"})
        expect(name, "ControlPort OutputPort minimum=-90 maximum=24 db");
    expect("Output Correlation", "ControlPort OutputPort minimum=-1 maximum=1");
    expect("Goniometer", "AtomPort OutputPort Sequence Vector connectionOptional minimumSize=4096");
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

// Saved sessions hold ports by index and symbol: the ones added for the editor come after every
// port there was, in both plug-ins, and the ones before keep their places.
TEST(Lv2Bundle, PortsForTheEditorAreAppendedAfterThePortsSessionsHold) {
    const std::vector<std::string> appended = {
        "latency",         "enabled",          "output_left_peak",   "output_right_peak",
        "output_left_rms", "output_right_rms", "output_correlation", "goniometer"};
    for (const auto& [uri, first] : {std::pair{kUri, 20}, std::pair{kStereoUri, 21}}) {
        const std::string info = runCommand("lv2info " + uri);
        std::map<int, std::string> symbols;
        const std::regex port(R"(Port (\d+):\n(?:[^\n]*\n)*?\s+Symbol:\s+(\w+))");
        for (std::sregex_iterator p(info.begin(), info.end(), port), end; p != end; ++p)
            symbols[std::stoi((*p)[1])] = (*p)[2];
        ASSERT_EQ(symbols.size(), static_cast<std::size_t>(first) + appended.size()) << uri;
        EXPECT_EQ(symbols[first - 17], "lowpass_filter") << uri;
        for (std::size_t i = 0; i < appended.size(); ++i)
            EXPECT_EQ(symbols[first + static_cast<int>(i)], appended[i]) << uri;
    }
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
// The meters and the output's averages read the same at the end; the output's peaks are held per
// block, so they depend on where blocks end and are left out.
TEST(Lv2Host, BlockSizesAndSharedBuffersGiveTheSameOutput) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t size = 1; size <= 4096; size *= 2)
        sizes.insert(sizes.end(), {size - 1, 0, size, std::min(size + 1, 4096u)});
    Host whole, blocks;
    const std::vector<float> out = whole.render(kNoise, {24000});
    EXPECT_EQ(blocks.render(kNoise, sizes), out);
    EXPECT_TRUE(std::equal(whole.values.begin() + 3,
                           whole.values.begin() + lv2glue::kFirstReadingPort, &blocks.values[3]));
    for (OutputReading r :
         {OutputReading::leftRms, OutputReading::rightRms, OutputReading::correlation}) {
        EXPECT_EQ(whole.reading(r), blocks.reading(r));
    }
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

// The levels and correlation ports and the goniometer atom read the finished output: checked
// against the output itself, with the meter's published time constants (peaks fall 20 dB a second,
// averages over 300 ms, 256 points over 50 ms, one every 9 samples at 48 kHz).
TEST(Lv2Host, OutputReadingsAndGoniometerShowTheFinishedOutput) {
    Host host;
    const std::vector<float> noise = testsignal::noise(96000, 7u, 0.5f);
    const std::size_t n = noise.size();
    const std::vector<float> out = host.render(noise, {512});
    const float* channels[2] = {&out[0], &out[n]};
    const auto db = [](double power) { return 10.0 * std::log10(power); };
    const std::size_t window = 14400;  // 300 ms
    double power[2] = {0, 0}, product = 0;
    for (std::size_t i = n - window; i < n; ++i) {
        power[0] += channels[0][i] * channels[0][i] / window;
        power[1] += channels[1][i] * channels[1][i] / window;
        product += channels[0][i] * channels[1][i] / window;
    }
    for (int c = 0; c < 2; ++c) {
        float lastBlock = 0.0f, loudest = 0.0f;
        for (std::size_t i = 0; i < n; ++i) {
            loudest = std::max(loudest, std::fabs(channels[c][i]));
            if (i >= n - 512) lastBlock = std::max(lastBlock, std::fabs(channels[c][i]));
        }
        const float peak =
            host.reading(c == 0 ? OutputReading::leftPeak : OutputReading::rightPeak);
        EXPECT_GE(peak, 20.0f * std::log10(lastBlock) - 1e-3f) << c;
        EXPECT_LE(peak, 20.0f * std::log10(loudest) + 1e-3f) << c;
        const float rms = host.reading(c == 0 ? OutputReading::leftRms : OutputReading::rightRms);
        EXPECT_NEAR(rms, db(power[c]), 1.0) << c;
    }
    EXPECT_NEAR(host.reading(OutputReading::correlation), product / std::sqrt(power[0] * power[1]),
                0.05);

    // The newest point is one of the last 9 samples, and every point 9 samples before the next.
    const std::vector<float> points = host.goniometer();
    ASSERT_EQ(points.size(), 512u);
    std::size_t newest = n;
    for (std::size_t back = 1; back <= 9 && newest == n; ++back) {
        if (points[510] == (channels[0][n - back] + channels[1][n - back]) * 0.70710678f)
            newest = n - back;
    }
    ASSERT_LT(newest, n);
    for (std::size_t k = 0; k < 256; ++k) {
        const std::size_t i = newest - 9 * (255 - k);
        EXPECT_FLOAT_EQ(points[2 * k], (channels[0][i] + channels[1][i]) * 0.70710678f) << k;
        EXPECT_FLOAT_EQ(points[2 * k + 1], (channels[0][i] - channels[1][i]) * 0.70710678f) << k;
    }

    // Activation clears them: silence then reads the floor at once, not a peak still falling.
    lilv_instance_deactivate(host.instance);
    lilv_instance_activate(host.instance);
    host.render(std::vector<float>(512));
    for (OutputReading r : {OutputReading::leftPeak, OutputReading::rightPeak,
                            OutputReading::leftRms, OutputReading::rightRms}) {
        EXPECT_EQ(host.reading(r), -90.0f);
    }
    EXPECT_EQ(host.reading(OutputReading::correlation), 0.0f);
    EXPECT_EQ(host.goniometer(), std::vector<float>(512, 0.0f));
}

// The goniometer port is optional: unconnected, or without urid:map to name its atoms, the plug-in
// runs and renders exactly the same; without the map the port's buffer is left as the host gave it,
// a buffer too small for the points gets an empty sequence, and a run of no frames sends none.
TEST(Lv2Host, TheGoniometerPortIsOptionalAndChangesNoSample) {
    const std::vector<float> reference = Host().render(kNoise);
    Host unconnected;
    lilv_instance_connect_port(unconnected.instance, lv2glue::kGoniometerPort, nullptr);
    EXPECT_EQ(unconnected.render(kNoise), reference);

    Host withoutMap(48000.0, false);
    EXPECT_EQ(withoutMap.render(kNoise), reference);
    EXPECT_EQ(withoutMap.sequence()->atom.size, withoutMap.atomRoom);
    EXPECT_EQ(withoutMap.sequence()->atom.type, withoutMap.urids(LV2_ATOM__Chunk));
    EXPECT_NE(withoutMap.reading(OutputReading::leftRms), -90.0f);

    Host small;
    small.atomRoom = 1024;
    EXPECT_EQ(small.render(kNoise), reference);
    EXPECT_EQ(small.sequence()->atom.type, small.urids(LV2_ATOM__Sequence));
    EXPECT_EQ(small.sequence()->atom.size, sizeof(LV2_Atom_Sequence_Body));
    Host idle;
    idle.render(kNoise);
    idle.run(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(idle.sequence()->atom.type, idle.urids(LV2_ATOM__Sequence));
    EXPECT_EQ(idle.sequence()->atom.size, sizeof(LV2_Atom_Sequence_Body));
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
