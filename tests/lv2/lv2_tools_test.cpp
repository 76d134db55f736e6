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
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

namespace fs = std::filesystem;
using Port = std::map<std::string, std::string>;  // lv2info's field name -> its text

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

// lv2info's ports by name; a field continued over several lines is joined with spaces.
std::map<std::string, Port> portsByName(const std::string& info) {
    std::map<std::string, Port> ports;
    Port port;
    std::string key;
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("\tPort ", 0) == 0 || line.empty()) {
            if (port.count("Name")) ports[port["Name"]] = port;
            if (!line.empty()) port.clear();
        } else if (line.rfind("\t\t", 0) == 0) {
            const std::size_t colon = line.find(':');
            if (line[2] != ' ') key = line.substr(2, colon - 2);
            const std::size_t value = line.find_first_not_of(' ', line[2] != ' ' ? colon + 1 : 2);
            port[key] += (port[key].empty() ? "" : " ") + line.substr(value);
        }
    }
    return ports;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The unit of a port, from the Turtle that lv2info writes: "hz", "db", "frame" or empty.
std::string unitOf(const std::string& turtle, const std::string& symbol) {
    const std::size_t at = turtle.find("lv2:symbol \"" + symbol + "\"");
    const std::size_t begin = turtle.rfind('[', at);
    const std::size_t unit = turtle.find("units#unit> <", begin);
    if (at == std::string::npos || unit > turtle.find(']', at)) return "";
    const std::size_t name = turtle.find('#', unit + 13) + 1;
    return turtle.substr(name, turtle.find('>', name) - name);
}

double shown(const std::string& display) {
    return display == "ON" ? 1.0 : display == "OFF" ? 0.0 : std::stod(display);
}

TEST(Lv2Listing, ControlsAreTheVstParametersWithTheirRangesAndDefaults) {
    int status = 0;
    const std::string listing = run("lv2ls", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(listing, kUri + "\n");
    auto ports = portsByName(run("lv2info " + kUri));

    testhost::Plugin vst;
    ASSERT_TRUE(vst);
    int controlInputs = 0;
    for (auto& [name, port] : ports)
        controlInputs += has(port["Type"], "#ControlPort") && has(port["Type"], "#InputPort");
    EXPECT_EQ(controlInputs, vst.effect()->numParams);
    for (int i = 0; i < vst.effect()->numParams; ++i) {
        const std::string name = vst.text(effGetParamName, i);
        Port& port = ports[name];
        const std::string initial = vst.text(effGetParamDisplay, i);
        vst.setParameter(i, 0.0f);
        const std::string low = vst.text(effGetParamDisplay, i);
        vst.setParameter(i, 1.0f);
        ASSERT_TRUE(port.count("Minimum")) << name;
        EXPECT_TRUE(has(port["Type"], "#InputPort")) << name;
        EXPECT_TRUE(std::regex_match(port["Symbol"], std::regex("[a-z][a-z0-9_]*"))) << name;
        EXPECT_EQ(std::stod(port["Minimum"]), shown(low)) << name;
        EXPECT_EQ(std::stod(port["Maximum"]), shown(vst.text(effGetParamDisplay, i))) << name;
        EXPECT_EQ(std::stod(port["Default"]), shown(initial)) << name;
        EXPECT_EQ(has(port["Properties"], "#toggled"), low == "OFF") << name;
    }
}

TEST(Lv2Listing, AudioMetersUnitsAndLatency) {
    auto ports = portsByName(run("lv2info " + kUri));
    const std::string turtleFile =
        testing::TempDir() + "zelko-lv2info-" + std::to_string(getpid()) + ".ttl";
    fs::remove(turtleFile);
    run("lv2info -p " + turtleFile + " " + kUri);
    std::ostringstream turtle;
    turtle << std::ifstream(turtleFile).rdbuf();
    fs::remove(turtleFile);

    EXPECT_EQ(ports.size(), 21u);
    EXPECT_TRUE(has(ports["In"]["Type"], "#AudioPort") && has(ports["In"]["Type"], "#InputPort"));
    for (const char* side : {"Left", "Right"}) {
        EXPECT_TRUE(has(ports[side]["Type"], "#AudioPort") &&
                    has(ports[side]["Type"], "#OutputPort"));
    }
    for (int band = 3; band <= 12; ++band) {
        Port& meter = ports["Band " + std::to_string(band) + " Separation"];
        EXPECT_TRUE(has(meter["Type"], "#ControlPort") && has(meter["Type"], "#OutputPort"));
        EXPECT_EQ(meter["Minimum"] + " " + meter["Maximum"], "0.000000 1.000000");
    }
    for (const char* name : {"DNR Bandwidth", "DNR2 Bandwidth"}) {
        EXPECT_TRUE(has(ports[name]["Type"], "#OutputPort"));
        EXPECT_EQ(ports[name]["Minimum"] + " " + ports[name]["Maximum"], "0.000000 20000.000000");
        EXPECT_EQ(unitOf(turtle.str(), ports[name]["Symbol"]), "hz");
    }
    EXPECT_EQ(unitOf(turtle.str(), ports["Lowpass Filter"]["Symbol"]), "hz");
    for (const char* name : {"Auto-EQ Threshold", "Noisegate Gain dB", "Output AGC Threshold"}) {
        EXPECT_EQ(unitOf(turtle.str(), ports[name]["Symbol"]), "db") << name;
    }
    Port& latency = ports["Latency"];
    EXPECT_EQ(latency["Symbol"], "latency");
    EXPECT_TRUE(has(latency["Type"], "#OutputPort"));
    EXPECT_TRUE(has(latency["Designation"], "#latency"));
    EXPECT_TRUE(has(latency["Properties"], "#reportsLatency"));
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
