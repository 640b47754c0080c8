// What the scenes ask of the device, read from the device's call trace on frames of the offline show.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

class SceneCalls : public StagedShow {
protected:

    // The calls of the frame at `t`, after a frame one millisecond earlier.
    std::vector<std::string> callsAt(DWORD t) {
        show->frameAt(t - 1);
        std::vector<std::string> trace;
        d3d9debug::setCallTrace(&trace);
        show->nextFrame(t);
        d3d9debug::setCallTrace(nullptr);
        return trace;
    }
    static std::string bindsOnStage0(const char* resource) {
        char line[64];
        std::snprintf(line, sizeof line, "SetTexture(0,%p)", static_cast<void*>(engine->resources.at(resource)));
        return line;
    }
    static int count(const std::vector<std::string>& trace, const std::string& call) {
        int n = 0;
        for (const std::string& line : trace) n += line == call;
        return n;
    }
};

TEST_F(SceneCalls, WordPlatesAndPanelsSwitchOnTheirTimes) {
    struct Case {
        DWORD time;
        const char* shown;
        const char* notShown;
    };
    const Case cases[] = {
        {3999, "text-tovira.png", "text-presents.png"},   {4000, "text-presents.png", "text-tovira.png"},
        {8000, "text-kaldra.png", "text-presents.png"},   {12000, "text-invitation.png", "text-kaldra.png"},
        {25999, "text-party.png", "text-company.png"},    {26000, "text-company.png", "text-party.png"},
        {34000, "text-friends.png", "text-company.png"},  {42000, "text-harmony.png", "text-friends.png"},
        {57999, "info-1.png", "info-2.png"},              {58000, "info-2.png", "info-1.png"},
        {66000, "info-3.png", "info-2.png"},              {74000, "info-4.png", "info-3.png"},
    };
    for (const Case& c : cases) {
        auto trace = callsAt(c.time);
        EXPECT_EQ(count(trace, bindsOnStage0(c.shown)), 1) << c.time;
        EXPECT_EQ(count(trace, bindsOnStage0(c.notShown)), 0) << c.time;
    }
}

TEST_F(SceneCalls, EachSceneSetsItsCameraOnlyOnItsFirstFrame) {
    for (DWORD start : {18000u, 50000u, 82000u, 98000u, 130000u}) {
        auto first = callsAt(start);
        std::vector<std::string> next;
        d3d9debug::setCallTrace(&next);
        show->nextFrame(start + 16);
        d3d9debug::setCallTrace(nullptr);
        EXPECT_EQ(count(first, "SetTransform(3)"), 1) << start;  // the projection
        EXPECT_EQ(count(next, "SetTransform(3)"), 0) << start;
        // Every frame starts with the clear of colour, depth and stencil.
        EXPECT_EQ(next.at(1).rfind("Clear(0,7,", 0), 0u) << start << ": " << next.at(1);
    }
}

TEST_F(SceneCalls, TheGreetingsDrawUpTo129999AndTheFarewellTakesOver) {
    auto last = callsAt(129999);
    auto next = callsAt(130000);
    EXPECT_EQ(count(last, bindsOnStage0("greetz.png")), 1);
    EXPECT_EQ(count(next, bindsOnStage0("greetz.png")), 0);
    EXPECT_EQ(count(next, bindsOnStage0("seeya.jpg")), 1);
    // The farewell clears to opaque red behind its picture.
    bool redClear = false;
    for (const std::string& line : next) redClear |= line.rfind("Clear(0,7,0xFFFF0000", 0) == 0;
    EXPECT_TRUE(redClear);
}

TEST_F(SceneCalls, TheClosingPictureFadesThroughThirtyPercentAt134Seconds) {
    auto brightness = [](const std::vector<uint32_t>& f) {
        double sum = 0;
        for (uint32_t p : f) sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
        return sum / (3.0 * double(f.size()));
    };
    const double open = brightness(show->frameAt(132500));
    const double faded = brightness(show->frameAt(134000));
    ASSERT_GT(open, 20);
    // Rounding each channel to a byte keeps dark pixels a little brighter than 70 %.
    EXPECT_NEAR(faded / open, 0.7, 0.04);
}

TEST_F(SceneCalls, TheIntroFlashCoversOnlyItsQuarterSecond) {
    auto brightness = [](const std::vector<uint32_t>& f) {
        double sum = 0;
        for (uint32_t p : f) sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
        return sum / (3.0 * double(f.size()));
    };
    EXPECT_LT(brightness(show->frameAt(15949)), 200);
    EXPECT_LT(brightness(show->frameAt(15950)), 200);  // white, but at alpha 0
    EXPECT_GT(brightness(show->frameAt(16050)), 254.5);
    EXPECT_GT(brightness(show->frameAt(16100)), 254.5);
    EXPECT_LT(brightness(show->frameAt(16200)), 200);  // black from here, at alpha 0
}

}  // namespace
