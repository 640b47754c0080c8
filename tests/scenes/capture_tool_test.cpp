// The capture tool as a user runs it: usage, refusals, a PNG for one moment.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct ToolRun {
    int code;
    std::string output;
};

ToolRun capture(const std::string& arguments) {
    std::string command = std::string(BINARY_DIR) + "/capture " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, ""};
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
    int status = pipe ? pclose(pipe) : -1;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CaptureTool, StatesItsUsageAndRefusesBadArgumentsWithOneClearLine) {
    ToolRun help = capture("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.output.find("usage: capture"), std::string::npos);
    const char* bad[] = {"", "--time", "--time abc --out x.png", "--time 5 --sheet x.png", "--from 10 --to 5 --step 1 --out .",
                         "--from 0 --to 10 --out .", "--time 5", "--bogus", "--from 0 --to 10 --step 0 --out ."};
    for (const char* arguments : bad) {
        ToolRun run = capture(arguments);
        EXPECT_EQ(run.code, 2) << arguments;
        EXPECT_EQ(run.output.rfind("capture: ", 0), 0u) << arguments << ": " << run.output;
    }
    ToolRun missing = capture("--show-dir /no/such/show --time 0 --out /tmp/never.png");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.output.find("capture: "), std::string::npos);
}

TEST(CaptureTool, WritesTheFrameOfAMomentAsAPicture) {
    const std::string out = ::testing::TempDir() + "flash.png";
    std::remove(out.c_str());
    ToolRun run = capture(std::string("--show-dir ") + SHOW_DIR + " --time 16000 --out " + out);
    ASSERT_EQ(run.code, 0) << run.output;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, out.c_str()));
    EXPECT_EQ(image.width, 640u);
    EXPECT_EQ(image.height, 480u);
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    // The white flash of the intro.
    EXPECT_EQ(pixels[0], 255);
    EXPECT_EQ(pixels[pixels.size() - 1], 255);
}

}  // namespace
