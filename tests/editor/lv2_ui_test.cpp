// The LV2 editor in Debian's jalv.gtk3 under Xvfb, with JACK's dummy driver: jalv embeds the X11
// UI in its window (not blank), and with a metronome played into the plug-in the meters move.
// jalv.gtk3 hangs in GTK's start-up when the AddressSanitizer runtime is preloaded into it, so a
// sanitized build skips this test; the plain builds run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "support/cairo_caches.h"
#include "support/x11_display.h"

namespace {

// A child process with extra environment, ended (and waited for) when the object goes.
class Process {
  public:
    Process(const std::vector<std::string>& command, const std::vector<std::string>& environment) {
        pid = fork();
        if (pid == 0) {
            for (const std::string& setting : environment) putenv(strdup(setting.c_str()));
            std::vector<char*> argv;
            for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Process() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    pid_t pid = -1;
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

TEST(Lv2Editor, JalvShowsItAndItsMetersMoveWithAudio) {
#if ZELKO_SANITIZED
    GTEST_SKIP() << "jalv.gtk3 does not start with the sanitizer runtime preloaded";
#endif
    for (const char* tool : {"/usr/bin/jalv.gtk3", "/usr/bin/jackd", "/usr/bin/jack_metro",
                             "/usr/bin/jack_connect", "/usr/bin/jack_lsp"}) {
        if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
    }
    xtest::Server* server = xtest::Server::get();
    if (server == nullptr) GTEST_SKIP() << "no Xvfb on this machine";
    Display* display = server->display;

    const std::string name = "zelko-editor-" + std::to_string(getpid());
    const std::vector<std::string> environment = {
        "JACK_DEFAULT_SERVER=" + name, "JACK_NO_AUDIO_RESERVATION=1",
        "LV2_PATH=" ZELKO_LV2_BUNDLE_DIR "/..", "NO_AT_BRIDGE=1"};
    Process jack({"/usr/bin/jackd", "-n", name, "-d", "dummy", "-r", "48000", "-p", "512"},
                 environment);
    const std::string withServer = "JACK_DEFAULT_SERVER=" + name + " ";
    ASSERT_TRUE(waitFor(10, [&] { return runs(withServer + "jack_lsp"); }));

    const std::string title = "Comb Stereo Processor";
    Process jalv({"/usr/bin/jalv.gtk3", "urn:zelko:comb-stereo-processor"}, environment);
    Window window = 0;
    ASSERT_TRUE(waitFor(20, [&] { return (window = windowNamed(display, title)) != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const xtest::Image quiet = xtest::capture(display, window);
    quiet.savePng(ZELKO_EDITOR_PICTURES "/lv2-jalv-quiet.png");
    std::set<std::uint32_t> colours(quiet.pixels.begin(), quiet.pixels.end());
    EXPECT_GT(colours.size(), 50u);
    // jalv puts its menu bar above the UI.
    const int top = quiet.height - static_cast<int>(editor::designHeight);
    ASSERT_GE(top, 0);

    Process metronome({"/usr/bin/jack_metro", "-b", "300"}, environment);
    ASSERT_TRUE(waitFor(
        10, [&] { return runs(withServer + "jack_connect metro:300_bpm '" + title + ":in'"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const xtest::Image playing = xtest::capture(display, window);
    playing.savePng(ZELKO_EDITOR_PICTURES "/lv2-jalv-playing.png");
    const Rect plot = editor::layout.bands;
    EXPECT_GT(quiet.differences(playing, static_cast<int>(plot.x), top + static_cast<int>(plot.y),
                                static_cast<int>(plot.w), static_cast<int>(plot.h)),
              100);
}

}  // namespace
