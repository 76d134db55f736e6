// The VST 3 SDK's own editor host, named by ZELKO_VST3_EDITORHOST, opens the editor under Xvfb,
// resizes it and closes it without an error. It draws what it shows itself, so this is the view
// as another host than ours drives it.
#include <X11/Xatom.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "editor/editor.h"
#include "support/x11_display.h"

namespace {

// The top-level window with this name, or 0.
Window windowNamed(Display* display, const char* name) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) && title != nullptr) {
            if (std::string(title) == name) found = children[i];
            XFree(title);
        }
    }
    if (children) XFree(children);
    return found;
}

int distinctColours(const xtest::Image& image) {
    std::set<std::uint32_t> colours(image.pixels.begin(), image.pixels.end());
    return static_cast<int>(colours.size());
}

// Waits up to `seconds` for `done`, checking every 50 ms.
template <typename Condition>
bool waitFor(double seconds, Condition done) {
    for (int i = 0; i < static_cast<int>(seconds * 20); ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(Vst3EditorHost, OpensResizesAndClosesTheViewWithoutAnError) {
    const char* host = std::getenv("ZELKO_VST3_EDITORHOST");
    if (host == nullptr || access(host, X_OK) != 0) {
        GTEST_SKIP() << "ZELKO_VST3_EDITORHOST names no editor host";
    }
    xtest::Server* server = xtest::Server::get();
    if (server == nullptr) GTEST_SKIP() << "no Xvfb on this machine";
    Display* display = server->display;
    // The host looks this atom up without creating it.
    XInternAtom(display, "_XEMBED_INFO", False);
    XSync(display, False);

    const std::string log = std::string(ZELKO_EDITOR_PICTURES) + "/editorhost.log";
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        if (*ZELKO_VST3_PRELOAD) setenv("LD_PRELOAD", ZELKO_VST3_PRELOAD, 1);
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execl(host, host, "--componentHandler", ZELKO_VST3_BUNDLE, static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    Window window = 0;
    EXPECT_TRUE(waitFor(20, [&] { return (window = windowNamed(display, "Editor")) != 0; }));
    if (window == 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        FAIL() << "the editor host showed no window";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const xtest::Image opened = xtest::capture(display, window);
    opened.savePng(std::string(ZELKO_EDITOR_PICTURES) + "/editorhost-open.png");
    EXPECT_EQ(opened.width, static_cast<int>(editor::designWidth));
    EXPECT_EQ(opened.height, static_cast<int>(editor::designHeight));
    EXPECT_GT(distinctColours(opened), 50);

    // Larger by a quarter: the view fills the new size with the picture scaled.
    XResizeWindow(display, window, 1000, 550);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const xtest::Image resized = xtest::capture(display, window);
    resized.savePng(std::string(ZELKO_EDITOR_PICTURES) + "/editorhost-resized.png");
    EXPECT_EQ(resized.width, 1000);
    const Rect meters = editor::layout.levels.scaled(1.25f);
    EXPECT_NE(resized.at(static_cast<int>(meters.x + 5), static_cast<int>(meters.y + 5)),
              resized.at(static_cast<int>(meters.x - 4), static_cast<int>(meters.y + 5)));

    // Closed as a window manager closes it.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
    int status = -1;
    const bool ended = waitFor(15, [&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended) << "the editor host did not end when its window closed";
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.str();
    EXPECT_EQ(text.str().find("ERROR"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("runtime error"), std::string::npos) << text.str();
}

}  // namespace
