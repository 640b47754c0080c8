// Whole runs of the show binary: a missing data file, the full show with its music through SDL's disk
// driver, and the full show without music on the timer clock.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

namespace fs = std::filesystem;

namespace {

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A copy of the show folder to take things away from.
std::string copyShow(const std::string& name, const std::vector<std::string>& leaveOut) {
    fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    fs::copy_file(fs::path(SHOW_DIR) / "kaldra", dir / "kaldra");
    fs::permissions(dir / "kaldra", fs::perms::owner_all);
    for (const auto& entry : fs::directory_iterator(fs::path(SHOW_DIR) / "data"))
        if (std::find(leaveOut.begin(), leaveOut.end(), entry.path().filename().string()) == leaveOut.end())
            fs::copy_file(entry.path(), dir / "data" / entry.path().filename());
    if (std::find(leaveOut.begin(), leaveOut.end(), "kaldra.mp3") == leaveOut.end())
        fs::copy_file(fs::path(SHOW_DIR) / "kaldra.mp3", dir / "kaldra.mp3");
    return dir.string();
}

std::map<std::string, std::string> environment(const std::string& display, const std::string& audio) {
    return {{"DISPLAY", display}, {"SDL_AUDIODRIVER", audio}, {"SDL_VIDEODRIVER", ""}, {"WAYLAND_DISPLAY", ""}};
}

TEST(ShowRun, AMissingDataFileStopsStartUpWithItsMessageAndCodeOne) {
    XServer x;
    ASSERT_TRUE(x.ok());
    for (const auto& [file, message] :
         {std::pair<std::string, std::string>{"grid.x", "ERROR: Can't load mesh [data\\grid.x]"},
          {"seeya.jpg", "ERROR: Can't load texture [data\\seeya.jpg]"}}) {
        std::string dir = copyShow("missing-" + file, {file});
        Child show({dir + "/kaldra"}, dir, environment(x.display(), "dummy"), true);
        // The message box waits for the user; dismiss it as one would.
        double deadline = seconds() + 30;
        std::string box;
        while (box.empty() && show.running() && seconds() < deadline) {
            // The box is a plain X window that xdotool's search does not list; the window tree does.
            std::string tree = runCommand({"xwininfo", "-root", "-tree"}, {{"DISPLAY", x.display()}});
            size_t at = tree.find("\"ERROR\"");
            if (at != std::string::npos) {
                size_t start = tree.rfind("0x", at);
                box = tree.substr(start, tree.find(' ', start) - start);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (!box.empty()) {
            std::string id = box.substr(0, box.find('\n'));
            runCommand({"xdotool", "windowfocus", "--sync", id}, {{"DISPLAY", x.display()}});
            runCommand({"xdotool", "key", "Return"}, {{"DISPLAY", x.display()}});
        }
        ChildResult result = show.wait(30);
        EXPECT_FALSE(result.timedOut) << file;
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_NE(result.stdErr.find(message), std::string::npos) << result.stdErr;
    }
}

std::vector<int16_t> decodeStart(const std::string& path, size_t samples) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open(h, path.c_str());
    std::vector<int16_t> out(samples);
    size_t got = 0;
    mpg123_read(h, reinterpret_cast<unsigned char*>(out.data()), samples * 2, &got);
    out.resize(got / 2);
    mpg123_close(h);
    mpg123_delete(h);
    return out;
}

// Slow: the show plays its 136 seconds in real time.
TEST(ShowRun, TheWholeShowPlaysItsMusicAndEndsByItselfAfter136Seconds) {
    XServer x;
    ASSERT_TRUE(x.ok());
    std::string dir = copyShow("full-run", {});
    auto env = environment(x.display(), "disk");
    env["SDL_DISKAUDIOFILE"] = dir + "/heard.raw";
    double started = seconds();
    Child show({dir + "/kaldra"}, dir, env, true);
    ChildResult result = show.wait(300);
    double took = seconds() - started;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
    // The disk driver paces itself by whole milliseconds per buffer and runs a few percent fast, so the
    // show's length is measured on the music it consumed, not on the wall clock.
    EXPECT_GT(took, 120.0);
    // Generous: a loaded machine may hand the audio device its buffers late, and the clock follows it.
    EXPECT_LT(took, 240.0);

    std::ifstream in(dir + "/heard.raw", std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int16_t* heard = reinterpret_cast<const int16_t*>(raw.data());
    const size_t samples = raw.size() / 2;
    size_t lead = 0;
    while (lead < samples && heard[lead] == 0) ++lead;
    const double playedSeconds = double(samples - lead) / (44100.0 * 2);
    EXPECT_GT(playedSeconds, 136.0);
    std::vector<int16_t> music = decodeStart(dir + "/kaldra.mp3", 44100 * 2);
    size_t first = 0;
    while (first < music.size() && music[first] == 0) ++first;
    size_t equal = 0, compared = 0;
    for (size_t i = 0; i < 8192 && first + i < music.size() && lead + i < samples; ++i, ++compared)
        equal += heard[lead + i] == music[first + i];
    EXPECT_EQ(equal, compared) << "the device did not start at the music's first sample";
}

TEST(ShowRun, WithoutMusicTheWholeShowRunsSilentOnTheTimer) {
    XServer x;
    ASSERT_TRUE(x.ok());
    std::string dir = copyShow("no-music", {"kaldra.mp3"});
    double started = seconds();
    Child show({dir + "/kaldra"}, dir, environment(x.display(), "dummy"), true);
    ChildResult result = show.wait(300);
    double took = seconds() - started;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
    EXPECT_GT(took, 136.5);
    // Generous: a loaded machine may hand the audio device its buffers late, and the clock follows it.
    EXPECT_LT(took, 240.0);
}

}  // namespace
