// The capture tool as a user runs it: usage, refusals, frames, ranges and contact sheets.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/offline/offline_show.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("capture-test-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ToolRun capture(const std::string& arguments) {
        const std::string command = std::string(BINARY_DIR) + "/capture " + arguments + " >" +
                                    (dir / "out").string() + " 2>" + (dir / "err").string();
        const int status = std::system(command.c_str());
        return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "out"), slurp(dir / "err")};
    }

    fs::path dir;
};

bool readPng(const fs::path& path, std::vector<uint32_t>& pixels, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_BGRA;
    width = int(image.width);
    height = int(image.height);
    pixels.assign(size_t(width) * height, 0);
    return png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
}

TEST_F(Capture, HelpStatesTheUsage) {
    const ToolRun run = capture("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("usage: capture"), std::string::npos);
    EXPECT_NE(run.out.find("--sheet"), std::string::npos);
}

TEST_F(Capture, BadArgumentsAreRefusedWithOneLine) {
    const char* cases[] = {
        "",
        "--time",
        "--time abc --out f.png",
        "--time -5 --out f.png",
        "--time 1000",
        "--frobnicate",
        "--from 2000 --to 1000 --step 100 --out frames",
        "--from 0 --to 1000 --out frames",
        "--from 0 --to 1000 --step 0 --out frames",
        "--times 1,x --sheet s.png",
        "--times 1,2 --out f.png",
        "--time 5 --sheet s.png",
        "--sheet s.png --times 1,2 --scale 7",
    };
    for (const char* arguments : cases) {
        const ToolRun run = capture(arguments);
        EXPECT_NE(run.exitCode, 0) << arguments;
        EXPECT_EQ(run.err.rfind("capture: ", 0), 0u) << arguments << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << arguments << ": " << run.err;
    }
}

TEST_F(Capture, AMissingShowFolderIsReported) {
    const ToolRun run =
        capture("--show-dir " + (dir / "nowhere").string() + " --time 0 --out " + (dir / "f.png").string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("nowhere"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "f.png"));
}

TEST_F(Capture, OneFrameIsTheOfflineShowsFrame) {
    const fs::path png = dir / "f.png";
    const ToolRun run =
        capture(std::string("--show-dir ") + SHOW_DIR + " --time 16000 --out " + png.string());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<uint32_t> pixels;
    int w, h;
    ASSERT_TRUE(readPng(png, pixels, w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    const fs::path png2 = dir / "g.png";
    ASSERT_EQ(capture(std::string("--show-dir ") + SHOW_DIR + " --time 500 --out " + png2.string()).exitCode,
              0);
    ASSERT_TRUE(readPng(png2, pixels, w, h));
    OfflineShow show(SHOW_DIR);
    ASSERT_TRUE(show.ok()) << show.error();
    const auto& frame = show.frameAt(500);
    size_t differing = 0;
    for (size_t i = 0; i < frame.size(); ++i) differing += (frame[i] & 0xFFFFFF) != (pixels[i] & 0xFFFFFF);
    EXPECT_EQ(differing, 0u);
}

TEST_F(Capture, ARangeWritesOneFilePerStepAndShowsProgress) {
    const fs::path frames = dir / "frames" / "deeper";
    const ToolRun run = capture(std::string("--show-dir ") + SHOW_DIR +
                                " --from 17000 --to 18000 --step 500 --out " + frames.string());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* name : {"frame-17000.png", "frame-17500.png", "frame-18000.png"})
        EXPECT_TRUE(fs::exists(frames / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(frames), fs::directory_iterator()), 3);
    EXPECT_NE(run.err.find("3/3"), std::string::npos) << run.err;
}

TEST_F(Capture, ASheetHoldsTheThumbnailsInColumns) {
    const fs::path sheet = dir / "sheet.png";
    const ToolRun run = capture(std::string("--show-dir ") + SHOW_DIR + " --sheet " + sheet.string() +
                                " --times 0,16000,500 --columns 2");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<uint32_t> pixels;
    int w, h;
    ASSERT_TRUE(readPng(sheet, pixels, w, h));
    EXPECT_EQ(w, 2 * 160);
    EXPECT_GE(h, 2 * 120);
    auto at = [&](int x, int y) { return pixels[size_t(y) * w + x] & 0xFFFFFF; };
    EXPECT_EQ(at(80, 60), 0x000000u) << "0 ms is black";
    EXPECT_EQ(at(160 + 80, 60), 0xFFFFFFu) << "16000 ms is the white flash";
    // Each thumbnail has its time written under it.
    const int rowHeight = h / 2;
    int label = 0;
    for (int y = 120; y < rowHeight; ++y)
        for (int x = 0; x < 160; ++x) label += at(x, y) == 0xD0D0D0u;
    EXPECT_GT(label, 20);
    EXPECT_GT(rowHeight, 120);
}

}  // namespace
