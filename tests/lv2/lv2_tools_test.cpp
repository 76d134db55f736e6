// The bundle as Debian's LV2 tools see it: listed with the VST's parameters, and rendering the
// VST's output bit for bit.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// GCC 12 reports its own <regex> as maybe uninitialized under the sanitizers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

namespace fs = std::filesystem;

const std::string kUri = "urn:zelko:comb-stereo-processor";

// The output of a shell command run with LV2_PATH at the folder of the built bundle.
std::string run(const std::string& command, int* status = nullptr) {
    std::string line = "LV2_PATH='" + fs::path(ZELKO_LV2_BUNDLE_DIR).parent_path().string() + "' ";
    if (*ZELKO_LV2_TOOL_PRELOAD) {
        line += "LD_PRELOAD='" ZELKO_LV2_TOOL_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
    }
    FILE* pipe = popen((line + command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int exit = pclose(pipe);
    if (status) *status = exit;
    return out;
}

bool found(const std::string& text, const std::string& pattern) {
    return std::regex_search(text, std::regex(pattern));
}

// lv2info prints a number as "%f"; a switch shows OFF and ON on the VST side.
std::string asListed(const std::string& display) {
    char text[32];
    const double value = display == "ON" ? 1.0 : display == "OFF" ? 0.0 : std::stod(display);
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

TEST(Lv2Module, ExportsOnlyTheDescriptor) {
    EXPECT_EQ(run("nm -D --defined-only --format=just-symbols " ZELKO_LV2_BUNDLE_DIR "/zelko.so"),
              "lv2_descriptor\n");
}

TEST(Lv2Listing, ControlsAreTheVstParametersWithTheirRangesAndDefaults) {
    int status = 0;
    EXPECT_EQ(run("lv2ls", &status), kUri + "\n");
    EXPECT_EQ(status, 0);
    const std::string info = run("lv2info " + kUri);

    testhost::Plugin vst;
    ASSERT_TRUE(vst);
    const int count = vst.effect()->numParams;
    int defaults = 0;
    for (std::size_t at = 0; (at = info.find("Default:", at)) != std::string::npos; ++at)
        ++defaults;
    EXPECT_EQ(defaults, count);
    for (int i = 0; i < count; ++i) {
        const std::string name = vst.text(effGetParamName, i);
        const std::string initial = vst.text(effGetParamDisplay, i);
        vst.setParameter(i, 0.0f);
        const std::string low = vst.text(effGetParamDisplay, i);
        vst.setParameter(i, 1.0f);
        const std::string high = vst.text(effGetParamDisplay, i);
        EXPECT_TRUE(found(info, "(Input|Control)Port\n\t\tSymbol: +[a-z][a-z0-9_]*\n\t\tName: +" +
                                    name + "\n\t\tMinimum: +" + asListed(low) + "\n\t\tMaximum: +" +
                                    asListed(high) + "\n\t\tDefault: +" + asListed(initial) +
                                    (low == "OFF" ? "\n\t\tProperties: +\\S+#toggled" : "\n\n")))
            << name;
    }
}

TEST(Lv2Listing, AudioMetersUnitsAndLatency) {
    const std::string info = run("lv2info " + kUri);
    const std::string turtleFile =
        testing::TempDir() + "zelko-lv2info-" + std::to_string(getpid()) + ".ttl";
    fs::remove(turtleFile);
    run("lv2info -p " + turtleFile + " " + kUri);
    std::ostringstream turtle;
    turtle << std::ifstream(turtleFile).rdbuf();
    fs::remove(turtleFile);

    EXPECT_TRUE(found(info, "Port 20:") && !found(info, "Port 21:"));
    EXPECT_TRUE(found(info, "Port 0:\n.*#AudioPort\n.*#InputPort\n"));
    EXPECT_TRUE(found(info, "Port 1:\n.*#AudioPort\n.*#OutputPort\n"));
    EXPECT_TRUE(found(info, "Port 2:\n.*#AudioPort\n.*#OutputPort\n"));
    const auto meter = [&](const std::string& name, const char* range, const char* unit) {
        EXPECT_TRUE(found(info, "OutputPort\n(.*\n){1,2}\t\tName: +" + name + range + "\n\n"))
            << name;
        if (*unit) {
            EXPECT_TRUE(found(turtle.str(), std::string("units#") + unit +
                                                "> ;\n(\t\t.*\n)*?\t\tlv2:name \"" + name + "\""))
                << name;
        }
    };
    for (int band = 3; band <= 12; ++band) {
        meter("Band " + std::to_string(band) + " Separation", "\n.*0.000000\n.*1.000000", "");
    }
    meter("DNR Bandwidth", "\n.*0.000000\n.*20000.000000", "hz");
    meter("DNR2 Bandwidth", "\n.*0.000000\n.*20000.000000", "hz");
    EXPECT_TRUE(found(turtle.str(), "units#hz> ;\n(\t\t.*\n)*?\t\tlv2:name \"Lowpass Filter\""));
    for (const char* name : {"Auto-EQ Threshold", "Noisegate Gain dB", "Output AGC Threshold"}) {
        EXPECT_TRUE(found(turtle.str(),
                          std::string("units#db> ;\n(\t\t.*\n)*?\t\tlv2:name \"") + name + "\""))
            << name;
    }
    EXPECT_TRUE(found(info,
                      "(Output|Control)Port\n\t\tSymbol: +latency\n\t\tName: +Latency\n\t\t"
                      "Designation: +\\S+#latency\n(.*\n)*?.*#reportsLatency"));
}

// Noise, three tones, clicks every 50 ms and silence.
std::vector<float> programme(int rate) {
    std::vector<float> samples = testsignal::noise(rate / 2, 99u, 0.5f);
    for (int i = 0; i < rate / 2; ++i) {
        const double t = 2.0 * M_PI * i / rate;
        samples.push_back(static_cast<float>(
            0.3 * std::sin(110.0 * t) + 0.2 * std::sin(2500.0 * t) + 0.1 * std::sin(12000.0 * t)));
    }
    for (int i = 0; i < rate / 4; ++i) samples.push_back(i % (rate / 20) == 0 ? 0.9f : 0.0f);
    samples.resize(samples.size() + rate / 4, 0.0f);
    return samples;
}

std::vector<float> readFloats(const std::string& path, SF_INFO& info) {
    info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    if (file) sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

// The settings as the two hosts take them: normalised values of the VST parameters whose plain
// values are exact floats, so that both reach the processor with the same bits.
TEST(Lv2Apply, RendersTheVstOutputBitForBit) {
    const std::string lv2Controls[] = {
        "",
        "-c lowpass_filter 6250 -c auto_eq_threshold -45 -c noisegate_gain_db 17.5 "
        "-c output_agc_threshold -8.25 -c dnr_lpf_disable 1"};
    const std::string vstParameters[] = {
        "",
        "-p 'Lowpass Filter=0.25n' -p 'Auto-EQ Threshold=0.5n' -p 'Noisegate Gain dB=0.25n' "
        "-p 'Output AGC Threshold=0.25n' -p 'DNR LPF Disable=on'"};
    const fs::path dir = testing::TempDir() + "zelko-lv2apply-" + std::to_string(getpid());
    fs::create_directories(dir);
    for (int rate : {44100, 48000, 96000}) {
        const std::vector<float> input = programme(rate);
        SF_INFO format = {0, rate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
        const std::string in = (dir / "in.wav").string();
        SNDFILE* file = sf_open(in.c_str(), SFM_WRITE, &format);
        ASSERT_NE(file, nullptr);
        sf_writef_float(file, input.data(), static_cast<sf_count_t>(input.size()));
        sf_close(file);

        std::vector<float> previous;
        for (int s = 0; s < 2; ++s) {
            const std::string lv2 = (dir / "lv2.wav").string(), vst = (dir / "vst.wav").string();
            int status = -1;
            const std::string said = run(
                "lv2apply -i " + in + " -o " + lv2 + " " + lv2Controls[s] + " " + kUri, &status);
            ASSERT_EQ(status, 0) << said;
            run(std::string(ZELKO_RENDER_PATH) + " " + in + " -o " + vst + " --force --quiet " +
                    "--subtype float --no-latency-compensation " + vstParameters[s],
                &status);
            ASSERT_EQ(status, 0);
            SF_INFO lv2Info, vstInfo;
            const std::vector<float> fromLv2 = readFloats(lv2, lv2Info);
            const std::vector<float> fromVst = readFloats(vst, vstInfo);
            EXPECT_EQ(lv2Info.channels, 2);
            ASSERT_EQ(fromLv2.size(), 2 * input.size()) << rate;
            ASSERT_EQ(fromVst.size(), fromLv2.size()) << rate;
            EXPECT_EQ(std::memcmp(fromLv2.data(), fromVst.data(), fromLv2.size() * 4), 0)
                << rate << " Hz, setting " << s;
            // Both settings reach the chain: they sound different, and neither is silent.
            EXPECT_NE(fromLv2, previous);
            float peak = 0.0f;
            for (float x : fromLv2) peak = std::max(peak, std::fabs(x));
            EXPECT_GT(peak, 0.05f);
            previous = fromLv2;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
