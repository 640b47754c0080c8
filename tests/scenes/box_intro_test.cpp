// The opening scene on the offline show: real device, real scenes, generated data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "anim/quads.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/scene.h"
#include "tests/scenes/call_trace.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;

std::vector<uint32_t> depthStencil() {
    std::vector<uint32_t> words;
    UINT w, h;
    d3d9debug::readSurface(engine->savedDepthStencil, words, w, h);
    return words;
}

float depthOf(uint32_t word) {
    return float(word >> 8) / float(0xFFFFFF);
}

class BoxIntro : public StagedShow {};

TEST_F(BoxIntro, FadesAndTheFlashAtTheirKeyTimes) {
    struct Case {
        DWORD time;
        double minBrightness, maxBrightness;
        const char* what;
    };
    const Case cases[] = {
        {0, 0, 0, "opaque black at the start"},
        {500, 8, 200, "the fade has lifted"},
        {15950, 8, 200, "the flash quad is white but still transparent"},
        {16000, 254.5, 255, "full white flash"},
        {16100, 254.5, 255, "the flash holds"},
        {16125, 130, 254, "the flash falls"},
        {16200, 8, 200, "the quad has turned black and transparent"},
        {17000, 1, 120, "fading to black"},
        {17999, 0, 3, "almost black"},
    };
    for (const Case& c : cases) {
        const double b = brightness(show->frameAt(c.time));
        EXPECT_GE(b, c.minBrightness) << c.what << " at " << c.time;
        EXPECT_LE(b, c.maxBrightness) << c.what << " at " << c.time;
    }
}

TEST_F(BoxIntro, AtFourSecondsTheWordPlateIsInvisibleButItsTextureHasSwitched) {
    // The plate sits 3 units in front of the eye; the box stays near the origin, 25 units away.
    auto platePixels = [] {
        const auto words = depthStencil();
        return std::count_if(words.begin(), words.end(), [](uint32_t w) { return depthOf(w) < 0.8f; });
    };
    auto wordTextureDrawn = [](DWORD time) {
        calls::Recorder recorder;
        show->nextFrame(time);
        const auto trace = recorder.folded();
        // The plate is the last mesh drawn; its texture is the last one bound before it.
        auto draw = std::find(trace.rbegin(), trace.rend(), calls::drawSubset);
        auto bound = std::find_if(draw, trace.rend(),
                                  [](const std::string& l) { return l.rfind("SetTexture(", 0) == 0; });
        return bound == trace.rend() ? std::string() : *bound;
    };
    show->frameAt(3990);
    EXPECT_EQ(wordTextureDrawn(3999), calls::texture(named("text-tovira.png"))) << 3999;
    EXPECT_EQ(wordTextureDrawn(4000), calls::texture(named("text-presents.png"))) << 4000;
    EXPECT_EQ(platePixels(), 0) << "scale 20, alpha 0: every plate pixel fails the alpha test";
    EXPECT_EQ(wordTextureDrawn(4001), calls::texture(named("text-presents.png"))) << 4001;
    EXPECT_GT(platePixels(), 500) << "scale 1, alpha 1: the word shows";
    EXPECT_EQ(wordTextureDrawn(8000), calls::texture(named("text-kaldra.png"))) << 8000;
    EXPECT_EQ(wordTextureDrawn(12000), calls::texture(named("text-invitation.png"))) << 12000;
}

// The shell is drawn where the stencil is not 1 and marks what it draws, so where it overlaps itself
// a pixel still takes its colour once: shell over background, not shell over shell over background.
TEST_F(BoxIntro, TheOutlineIsBlendedOncePerPixel) {
    const DWORD t = 4250;  // outline alpha 0.5, scale 1.2; the fade is transparent
    const std::vector<uint32_t> frame = show->frameAt(t);
    const std::vector<uint32_t> words = depthStencil();

    // What lies under the shell outside the box: the background alone, drawn again as the scene draws it.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    device->SetTexture(0, named("kaldoback.jpg"));
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    TexturedScreenQuad background;
    const D3DCOLORVALUE halfWhite{1, 1, 1, 0.5f};
    background.draw(&halfWhite, 1.0f, 0, 0, 1024, 512);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    std::vector<uint32_t> under;
    UINT w, h;
    d3d9debug::readBackBuffer(device, under, w, h);

    const double shell[3] = {0.3 * 255, 0.5 * 255, 0.0};
    const double a = 0.5;
    int shellPixels = 0, once = 0, twice = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        // Shell only: marked in the stencil, no depth written (the box and the plate write depth).
        if ((words[i] & 0xFF) != 1 || (words[i] >> 8) != 0xFFFFFF) continue;
        ++shellPixels;
        bool matchesOnce = true, matchesTwice = true, distinct = false;
        for (int c = 0; c < 3; ++c) {
            const int shift = 16 - 8 * c;
            const double u = double((under[i] >> shift) & 0xFF), got = double((frame[i] >> shift) & 0xFF);
            const double one = a * shell[c] + (1 - a) * u;
            const double two = a * shell[c] + (1 - a) * one;
            matchesOnce = matchesOnce && std::fabs(got - one) <= 2;
            matchesTwice = matchesTwice && std::fabs(got - two) <= 2;
            distinct = distinct || std::fabs(one - two) > 5;
        }
        if (!distinct) continue;
        once += matchesOnce;
        twice += matchesTwice && !matchesOnce;
    }
    EXPECT_GT(shellPixels, 2000) << "the outline covers a ring around the box";
    EXPECT_GT(once, shellPixels / 2);
    EXPECT_EQ(twice, 0);
}

TEST_F(BoxIntro, PrepareAndFrameMakeTheirDeviceCallsInOrder) {
    using namespace calls;
    OfflineShow fresh(SHOW_DIR);
    ASSERT_TRUE(fresh.ok()) << fresh.error();
    const std::vector<std::string> prepare = {transform(D3DTS_PROJECTION),
                                              transform(D3DTS_VIEW),
                                              "SetLight(0)",
                                              renderState(D3DRS_STENCILENABLE, TRUE),
                                              transform(D3DTS_TEXTURE0),
                                              stageState(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
                                              stageState(D3DTSS_TEXCOORDINDEX, 0)};
    const std::vector<std::string> frame = sequence({
        {clear(0), texture(named("kaldoback.jpg")), samplerState(D3DSAMP_MAGFILTER, D3DTEXF_POINT),
         samplerState(D3DSAMP_MINFILTER, D3DTEXF_POINT), samplerState(D3DSAMP_MIPFILTER, D3DTEXF_NONE)},
        texturedQuad(),
        {samplerState(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), samplerState(D3DSAMP_MINFILTER, D3DTEXF_LINEAR),
         samplerState(D3DSAMP_MIPFILTER, D3DTEXF_LINEAR)},
        // box
        {transform(D3DTS_WORLD), material, texture(named("kaldobrown.jpg")), lightEnable(TRUE),
         renderState(D3DRS_SPECULARENABLE, TRUE), renderState(D3DRS_AMBIENT, 0xFFFFFFFF)},
        stencil(D3DSTENCILOP_REPLACE, D3DCMP_ALWAYS, 1, 1),
        {stageState(D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR), drawSubset},
        // outline shell
        {lightEnable(FALSE), renderState(D3DRS_SPECULARENABLE, FALSE), renderState(D3DRS_AMBIENT, 0xFFFFFFFF),
         stageState(D3DTSS_TEXCOORDINDEX, 0), renderState(D3DRS_ZWRITEENABLE, FALSE)},
        stencil(D3DSTENCILOP_REPLACE, D3DCMP_NOTEQUAL, 1, 1),
        {texture(nullptr), material},
        meshScaled(),
        stencil(D3DSTENCILOP_KEEP, D3DCMP_ALWAYS, 0, 0xFFFFFFFF),
        {renderState(D3DRS_ZWRITEENABLE, TRUE)},
        // word plate
        {texture(named("text-tovira.png")), material, transform(D3DTS_WORLD), drawSubset},
        screenQuad(),
    });
    {
        Recorder recorder;
        fresh.nextFrame(0);
        EXPECT_EQ(recorder.folded(),
                  sequence({{"BeginScene()"}, prepare, frame, {"EndScene()", "Present()"}}));
    }
    {
        Recorder recorder;
        fresh.nextFrame(40);
        EXPECT_EQ(recorder.folded(), sequence({{"BeginScene()"}, frame, {"EndScene()", "Present()"}}))
            << "the prepare step runs on the first frame only";
    }
    EXPECT_TRUE(engine->scenes.at(0)->prepared);
    fresh.nextFrame(18000);
    EXPECT_FALSE(engine->scenes.at(0)->prepared);
}

}  // namespace
