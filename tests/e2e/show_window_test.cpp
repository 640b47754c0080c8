// The show binary as a user starts it: a window under a private X server, Escape, Alt+F4 and a
// window-manager close request end it with code 0; without any display it ends at once with code 0.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "process.h"

namespace {

const std::string showDir = SHOW_DIR;
const std::string showBinary = SHOW_DIR "/kaldra";

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::map<std::string, std::string> showEnvironment(const std::string& display) {
    return {{"DISPLAY", display}, {"SDL_AUDIODRIVER", "dummy"}, {"SDL_VIDEODRIVER", ""}, {"WAYLAND_DISPLAY", ""}};
}

std::string findShowWindow(const std::string& display, Child& show, double timeout) {
    double deadline = seconds() + timeout;
    while (seconds() < deadline && show.running()) {
        std::string out = runCommand({"xdotool", "search", "--onlyvisible", "--name", "TOVIRA -- KALDRA"},
                                     {{"DISPLAY", display}});
        if (!out.empty()) return out.substr(0, out.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

void pressKeys(const std::string& display, const std::string& window, const std::string& keys) {
    runCommand({"xdotool", "windowfocus", "--sync", window}, {{"DISPLAY", display}});
    runCommand({"xdotool", "key", keys}, {{"DISPLAY", display}});
}

struct Ending {
    const char* name;
    void (*act)(const std::string& display, const std::string& window);
};

class ShowWindow : public ::testing::TestWithParam<Ending> {};

TEST_P(ShowWindow, EndsWithCodeZeroSoonAfterTheRequest) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    Child show({showBinary}, showDir, showEnvironment(x.display()), true);
    std::string window = findShowWindow(x.display(), show, 20);
    ASSERT_FALSE(window.empty()) << "no show window appeared";
    // Let the one-second pause and the loading pass, so the request meets the running loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(show.running());
    window = findShowWindow(x.display(), show, 5);
    double requested = seconds();
    GetParam().act(x.display(), window);
    ChildResult result = show.wait(20);
    double took = seconds() - requested;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
    // The key reaches the loop as several messages, one pumped per frame.
    EXPECT_LT(took, 2.5) << "the show took " << took << " s to end";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ShowWindow,
    ::testing::Values(
        Ending{"Escape", [](const std::string& d, const std::string& w) { pressKeys(d, w, "Escape"); }},
        Ending{"AltF4", [](const std::string& d, const std::string& w) { pressKeys(d, w, "alt+F4"); }},
        Ending{"CloseButton", [](const std::string& d, const std::string& w) { ASSERT_TRUE(sendCloseRequest(d, w)); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShowWindowEarly, EscapeDuringStartUpEndsTheShowInItsFirstFrames) {
    XServer x;
    ASSERT_TRUE(x.ok());
    Child show({showBinary}, showDir, showEnvironment(x.display()), true);
    std::string window = findShowWindow(x.display(), show, 20);
    ASSERT_FALSE(window.empty());
    // The key waits in the queue through the pause and the loading; the loop takes it at once.
    pressKeys(x.display(), window, "Escape");
    ChildResult result = show.wait(30);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
}

TEST(ShowWithoutDisplay, EndsAtOnceWithCodeZero) {
    double started = seconds();
    Child show({showBinary}, showDir,
               {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}, {"SDL_AUDIODRIVER", "dummy"}},
               true);
    ChildResult result = show.wait(20);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
    EXPECT_LT(seconds() - started, 5.0);
}

}  // namespace
