// Frame-exact video: the file's streams match the show, parallel rendering changes no pixel, and a
// missing ffmpeg is refused clearly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string runOutput(const std::string& command, int* code = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    int status = pipe ? pclose(pipe) : -1;
    if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

const std::string capture = std::string(BINARY_DIR) + "/capture --show-dir " + SHOW_DIR;

TEST(Video, StreamsMatchTheRangeFrameForFrameWithTheMusic) {
    const std::string video = ::testing::TempDir() + "range.mp4";
    fs::remove(video);
    int code = -1;
    std::string log = runOutput(capture + " --video " + video + " --from 49000 --to 51000 --fps 30", &code);
    ASSERT_EQ(code, 0) << log;
    std::string probe = runOutput("ffprobe -v error -count_frames -show_entries stream=codec_type,codec_name,nb_read_frames,duration -of csv=p=0 " + video);
    // 61 frames at 30 fps cover 49000..51000 inclusive: 2.0333 s, and as much music.
    EXPECT_NE(probe.find("h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find(",61"), std::string::npos) << probe;
    double videoSeconds = 0, audioSeconds = 0;
    std::istringstream lines(probe);
    for (std::string line; std::getline(lines, line);) {
        double seconds = std::stod(line.substr(line.find(',', line.find(',') + 1) + 1));
        (line.find("video") != std::string::npos ? videoSeconds : audioSeconds) = seconds;
    }
    EXPECT_NEAR(videoSeconds, 61.0 / 30, 0.02);
    EXPECT_NEAR(audioSeconds, 61.0 / 30, 0.05);
    for (const auto& entry : fs::directory_iterator(fs::path(video).parent_path()))
        EXPECT_NE(entry.path().filename().string().rfind(".capture-", 0), 0u) << "work folder left behind";
}

TEST(Video, ParallelSegmentsGiveTheSameFramesAsOneProcess) {
    const fs::path one = fs::path(::testing::TempDir()) / "frames-one", two = fs::path(::testing::TempDir()) / "frames-two";
    for (const fs::path& dir : {one, two}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    // Across the change from the first scene to the second.
    int code = -1;
    std::string log = runOutput(capture + " --frames " + one.string() + " --jobs 1 --fps 20 --from 17600 --to 18400", &code);
    ASSERT_EQ(code, 0) << log;
    log = runOutput(capture + " --frames " + two.string() + " --jobs 2 --fps 20 --from 17600 --to 18400", &code);
    ASSERT_EQ(code, 0) << log;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(one)) {
        std::ifstream a(entry.path(), std::ios::binary), b(two / entry.path().filename(), std::ios::binary);
        std::string bytesA((std::istreambuf_iterator<char>(a)), {}), bytesB((std::istreambuf_iterator<char>(b)), {});
        EXPECT_FALSE(bytesA.empty());
        EXPECT_EQ(bytesA, bytesB) << entry.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared, 17);
}

TEST(Video, WithoutFfmpegItSaysSoAndLeavesNothing) {
    const std::string video = ::testing::TempDir() + "never.mp4";
    int code = -1;
    std::string log = runOutput("PATH=/nonexistent " + capture + " --video " + video + " --from 0 --to 100", &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(log.find("ffmpeg is missing"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(video));
}

}  // namespace
