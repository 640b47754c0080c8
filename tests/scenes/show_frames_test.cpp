// Frames of the whole show, rendered offline with the real device, scenes and generated data, checked
// for what a viewer must see at the moments the timeline fixes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/demo_engine.h"
#include "scenes/greetings_scene.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;

struct Rgb {
    int r, g, b;
};

Rgb rgb(uint32_t p) { return Rgb{int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)}; }

// Average brightness of a rectangle, 0..255.
double brightness(const std::vector<uint32_t>& f, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            Rgb c = rgb(f[size_t(y) * W + x]);
            sum += (c.r + c.g + c.b) / 3.0;
        }
    return sum / double((x1 - x0) * (y1 - y0));
}

class ShowFrames : public StagedShow {};

TEST_F(ShowFrames, FlashesFadesAndBlackFramesFallWhereTheTimelinePutsThem) {
    struct Case {
        DWORD time;
        double minBrightness, maxBrightness;
        const char* what;
    };
    const Case cases[] = {
        {0, 0, 0, "the opening fade is opaque black"},
        {16000, 254.5, 255, "the white flash of the intro"},
        {17999, 0, 3, "the intro has almost faded to black"},
        {49999, 250, 255, "the biogen scene's closing white fade at 0.996"},
        {50000, 254.5, 255, "the white flash at the start of the plupo scene"},
        {81999, 0, 2, "the plupo scene's fade to black at 0.9998"},
        {58000, 254.5, 255, "the flash at the second plupo section"},
        {66000, 254.5, 255, "the flash at the third plupo section"},
        {74000, 254.5, 255, "the flash at the fourth plupo section"},
        {82000, 0, 0, "the corrosion scene opens behind opaque black"},
        {98000, 254.5, 255, "the greetings open on a white flash"},
        {136000, 0, 0, "the closing picture has faded to black"},
    };
    for (const Case& c : cases) {
        const auto& frame = show->frameAt(c.time);
        double b = brightness(frame, 0, 0, W, H);
        EXPECT_GE(b, c.minBrightness) << c.what << " at " << c.time;
        EXPECT_LE(b, c.maxBrightness) << c.what << " at " << c.time;
    }
}

TEST_F(ShowFrames, TheSceneAt500MsShowsTheHalfLitBackgroundAndTheBox) {
    const auto& frame = show->frameAt(500);
    EXPECT_GT(brightness(frame, 0, 0, 120, 120), 5);    // the background around the box
    EXPECT_GT(brightness(frame, 270, 190, 370, 290), 40);  // the lit box in the middle
}

TEST_F(ShowFrames, LetterboxBarsGrowInTheBiogenSceneAndLeaveInTheFarewell) {
    struct Case {
        DWORD time;
        int barHeight;  // black rows at the top; -1: the first row must not be black
    };
    for (const Case& c : {Case{19000, 32}, Case{20000, 64}, Case{30000, 64}, Case{60000, 64}, Case{90000, 64},
                          Case{130000, 64}, Case{131000, 32}}) {
        const auto& frame = show->frameAt(c.time);
        EXPECT_TRUE(rowIsBlack(frame, 0)) << c.time;
        EXPECT_TRUE(rowIsBlack(frame, c.barHeight - 1)) << c.time;
        EXPECT_TRUE(rowIsBlack(frame, H - 1)) << c.time;
        EXPECT_FALSE(rowIsBlack(frame, c.barHeight + 1)) << c.time;
    }
    const auto& open = show->frameAt(132500);
    EXPECT_FALSE(rowIsBlack(open, 0));
    EXPECT_FALSE(rowIsBlack(open, H - 1));
}

TEST_F(ShowFrames, TheCorrosionFadeChangesColourInvisiblyAt86Seconds) {
    const std::vector<uint32_t> before = show->frameAt(85999);
    const std::vector<uint32_t>& after = show->frameAt(86000);
    double difference = 0;
    for (size_t i = 0; i < before.size(); ++i)
        for (int shift : {0, 8, 16}) difference += std::abs(int((before[i] >> shift) & 0xFF) - int((after[i] >> shift) & 0xFF));
    // One millisecond of sliding credits and rippling sea, no fade of either colour.
    EXPECT_LT(difference / (3.0 * double(before.size())), 2.0);
}

TEST_F(ShowFrames, TheFarewellStopsTheShowOnlyAfter136Seconds) {
    show->frameAt(136000);
    EXPECT_FALSE(show->stopRequested());
    show->frameAt(136001);
    EXPECT_TRUE(show->stopRequested());
}

TEST(GreetingsBeats, FlashAndHighlightFollowTheBeatTable) {
    OfflineShow show(SHOW_DIR);
    ASSERT_TRUE(show.ok()) << show.error();
    auto* greetings = static_cast<GreetingsScene*>(engine->scenes.at(4));
    EXPECT_EQ(beatTimes[0], 98000.0f);
    EXPECT_EQ(beatTimes[11], 104500.0f);
    EXPECT_EQ(beatTimes[47], 128500.0f);
    for (float beat : beatTimes) {
        EXPECT_FLOAT_EQ(greetings->flashAt(beat), 1.0f) << beat;
        EXPECT_FLOAT_EQ(greetings->flashAt(beat + 100), 1.0f) << beat;
        EXPECT_FLOAT_EQ(greetings->highlightAt(beat + 150), 1.0f) << beat;
    }
    EXPECT_FLOAT_EQ(greetings->scrollAt(98000), 300.0f);
    EXPECT_FLOAT_EQ(greetings->highlightAt(98000), 0.0f);
}

// Scenes rely on device state that earlier scenes leave behind: a frame staged on its own must
// come out byte for byte as it does inside a run that played through the scenes before it.
TEST(OfflineStaging, AFrameRenderedAloneEqualsTheSameFrameInAContinuousRun) {
    const DWORD probes[] = {18250, 50250, 82250, 98250, 130250};
    std::vector<std::vector<uint32_t>> continuous;
    {
        OfflineShow run(SHOW_DIR);
        ASSERT_TRUE(run.ok()) << run.error();
        size_t next = 0;
        for (DWORD t = 0; t <= 130250 && next < std::size(probes); t += 250) {
            const auto& frame = run.nextFrame(t);
            if (t == probes[next]) {
                continuous.push_back(frame);
                ++next;
            }
        }
    }
    ASSERT_EQ(continuous.size(), std::size(probes));
    OfflineShow alone(SHOW_DIR);
    ASSERT_TRUE(alone.ok());
    for (size_t i = std::size(probes); i-- > 0;) {
        const auto& frame = alone.frameAt(probes[i]);
        EXPECT_TRUE(frame == continuous[i]) << "frame at " << probes[i] << " differs";
    }
}

}  // namespace
