// The LV2 editor in Debian's jalv.gtk3 under Xvfb, with JACK's dummy driver on a server of the
// test's own: jalv embeds the X11 UI in its window (not blank), and with a tone played into the
// plug-in the output's level and correlation ports change and the editor's meters, correlation
// bar and goniometer move; a value typed into the editor reaches the plug-in. Every process the
// test starts is ended when it ends, however it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dsp/control_record.h"
#include "editor/editor.h"
#include "support/cairo_caches.h"
#include "support/x11_display.h"

namespace {

// A child process in a process group of its own, with extra environment and its standard output
// in a file (or nowhere); the group is ended when the object goes: SIGTERM, then SIGKILL if it
// has not gone within five seconds.
class Process {
  public:
    Process(const std::vector<std::string>& command, const std::vector<std::string>& environment,
            const std::string& output = "/dev/null") {
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            for (const std::string& setting : environment) putenv(strdup(setting.c_str()));
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int none = open("/dev/null", O_WRONLY);
            if (out >= 0) dup2(out, STDOUT_FILENO);
            if (none >= 0) dup2(none, STDERR_FILENO);
            std::vector<char*> argv;
            for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid > 0) setpgid(pid, pid);
    }
    ~Process() {
        if (pid <= 0 || reaped) return;
        kill(-pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                kill(-pid, SIGKILL);  // anything the process left behind in its group
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running() {
        if (pid > 0 && !reaped && waitpid(pid, nullptr, WNOHANG) == pid) reaped = true;
        return pid > 0 && !reaped;
    }

    pid_t pid = -1;
    bool reaped = false;
};

template <typename Condition>
bool waitFor(double seconds, Condition done) {
    for (int i = 0; i < static_cast<int>(seconds * 10); ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// The top-level window with this name, or 0.
Window windowNamed(Display* display, const std::string& name) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) && title != nullptr) {
            if (name == title) found = children[i];
            XFree(title);
        }
    }
    if (children) XFree(children);
    return found;
}

bool runs(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The last value jalv printed for each output port ("symbol = value" lines) so far.
std::map<std::string, float> printedControls(const std::string& path) {
    std::map<std::string, float> values;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::string symbol, equals;
        float value = 0.0f;
        if (words >> symbol >> equals >> value && equals == "=") values[symbol] = value;
    }
    return values;
}

TEST(Lv2Editor, JalvShowsItAndItsMetersMoveWithAudio) {
    for (const char* tool : {"/usr/bin/jalv.gtk3", "/usr/bin/jackd", "/usr/bin/jack_simple_client",
                             "/usr/bin/jack_connect", "/usr/bin/jack_lsp", "/usr/bin/stdbuf"}) {
        if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
    }
    xtest::Server* server = xtest::Server::get();
    if (server == nullptr) GTEST_SKIP() << "no Xvfb on this machine";
    Display* display = server->display;

    // A server of this test's own, so that nothing else on the machine is touched.
    const std::string name = "zelko-editor-" + std::to_string(getpid());
    const std::vector<std::string> environment = {
        "JACK_DEFAULT_SERVER=" + name, "JACK_NO_AUDIO_RESERVATION=1",
        "LV2_PATH=" ZELKO_JALV_LV2_PATH, "NO_AT_BRIDGE=1"};
    Process jack(
        {"/usr/bin/jackd", "--no-realtime", "-n", name, "-d", "dummy", "-r", "48000", "-p", "512"},
        environment);
    const std::string withServer = "JACK_DEFAULT_SERVER=" + name + " ";
    ASSERT_TRUE(waitFor(10, [&] { return runs(withServer + "jack_lsp"); }));

    // jalv prints every change of an output port; line-buffered, so that it can be read while
    // jalv runs.
    const std::string printed = ZELKO_EDITOR_PICTURES "/lv2-jalv-controls.txt";
    const std::string title = "Comb Stereo Processor";
    Process jalv({"/usr/bin/stdbuf", "-oL", "/usr/bin/jalv.gtk3", "--print-controls",
                  "urn:zelko:comb-stereo-processor"},
                 environment, printed);
    Window window = 0;
    ASSERT_TRUE(waitFor(20, [&] { return (window = windowNamed(display, title)) != 0; }));
    ASSERT_TRUE(waitFor(10, [&] { return printedControls(printed).count("output_left_rms"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::map<std::string, float> silent = printedControls(printed);
    const xtest::Image quiet = xtest::capture(display, window);
    quiet.savePng(ZELKO_EDITOR_PICTURES "/lv2-jalv-quiet.png");
    std::set<std::uint32_t> colours(quiet.pixels.begin(), quiet.pixels.end());
    EXPECT_GT(colours.size(), 50u);
    // jalv puts its menu bar above the UI.
    const int top = quiet.height - static_cast<int>(editor::designHeight);
    ASSERT_GE(top, 0);
    ASSERT_GE(quiet.width, static_cast<int>(editor::designWidth));

    // A steady tone, so that the goniometer's 50 ms always hold some of it.
    Process tone({"/usr/bin/jack_simple_client", "tone"}, environment);
    ASSERT_TRUE(waitFor(
        10, [&] { return runs(withServer + "jack_connect tone:output1 '" + title + ":in'"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    ASSERT_TRUE(jalv.running());
    const std::map<std::string, float> playing = printedControls(printed);
    const xtest::Image loud = xtest::capture(display, window);
    loud.savePng(ZELKO_EDITOR_PICTURES "/lv2-jalv-playing.png");

    // The ports: the floor in silence, the tone's level (well above -60 dBFS) with it, and a
    // correlation other than the silent 0.
    for (const char* level :
         {"output_left_peak", "output_right_peak", "output_left_rms", "output_right_rms"}) {
        ASSERT_TRUE(silent.count(level) && playing.count(level)) << level;
        EXPECT_EQ(silent.at(level), -90.0f) << level;
        EXPECT_GT(playing.at(level), -60.0f) << level;
    }
    ASSERT_TRUE(silent.count("output_correlation") && playing.count("output_correlation"));
    EXPECT_EQ(silent.at("output_correlation"), 0.0f);
    EXPECT_GT(std::fabs(playing.at("output_correlation")), 0.05f);

    // The pixels: the band plot, both level meters, the correlation bar and the goniometer.
    const auto moved = [&](const Rect& r) {
        return quiet.differences(loud, static_cast<int>(r.x), top + static_cast<int>(r.y),
                                 static_cast<int>(r.w), static_cast<int>(r.h));
    };
    EXPECT_GT(moved(editor::layout.bands), 100);
    EXPECT_GT(moved(editor::layout.levelBars[0]), 200);
    EXPECT_GT(moved(editor::layout.levelBars[1]), 200);
    EXPECT_GT(moved(editor::layout.correlationBar), 50);
    EXPECT_GT(moved(editor::layout.goniometer), 100);

    // A value typed into the editor reaches the plug-in through jalv: the noise gate typed down
    // to 0 dB keeps the bands near mono, and their separations fall.
    const auto separations = [](const std::map<std::string, float>& values) {
        float sum = 0.0f;
        for (int band = 3; band <= 12; ++band)
            sum += values.at("band_" + std::to_string(band) + "_separation");
        return sum;
    };
    const Rect gate =
        editor::layout.controls[static_cast<std::size_t>(Control::noisegateGain)].value;
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display),
                          static_cast<int>(gate.x + gate.w / 2),
                          top + static_cast<int>(gate.y + 10), &rootX, &rootY, &child);
    xtest::click(display, rootX, rootY);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    xtest::type(display, "0 dB");
    xtest::key(display, XK_Return);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const std::map<std::string, float> gated = printedControls(printed);
    xtest::capture(display, window).savePng(ZELKO_EDITOR_PICTURES "/lv2-jalv-typed.png");
    EXPECT_LT(separations(gated), separations(playing) - 0.5f);
}

}  // namespace
