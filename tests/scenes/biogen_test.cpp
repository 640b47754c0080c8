// The biogen scene on the offline show: real device, real scenes, generated data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/demo_engine.h"
#include "engine/offscreen_target.h"
#include "engine/resources.h"
#include "scenes/scene.h"
#include "tests/scenes/call_trace.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;

class Biogen : public StagedShow {};

TEST_F(Biogen, TakesOverAt18SecondsAndPreparesOnce) {
    show->frameAt(17999);
    EXPECT_TRUE(engine->scenes.at(0)->prepared);
    EXPECT_FALSE(engine->scenes.at(1)->prepared) << "at 17999 ms the box intro still draws";
    int projections = 0;
    {
        calls::Recorder recorder;
        for (DWORD t = 18000; t <= 18100; t += 20) {
            show->nextFrame(t);
            const auto trace = recorder.folded();
            projections = int(std::count(trace.begin(), trace.end(), calls::transform(D3DTS_PROJECTION)));
        }
    }
    EXPECT_EQ(projections, 1) << "the prepare step runs once, on the first frame";
    EXPECT_FALSE(engine->scenes.at(0)->prepared);
    EXPECT_TRUE(engine->scenes.at(1)->prepared);
}

TEST_F(Biogen, LetterboxBarsGrowFromNothingTo64Pixels) {
    struct Case {
        DWORD time;
        int bar;
    };
    for (const Case& c :
         {Case{18000, 0}, Case{19000, 32}, Case{20000, 64}, Case{30000, 64}, Case{49000, 64}}) {
        const auto [top, bottom] = barRows(show->frameAt(c.time));
        EXPECT_EQ(top, c.bar) << c.time;
        EXPECT_EQ(bottom, c.bar) << c.time;
    }
}

TEST_F(Biogen, TheWordPlateTextureFollowsTheSections) {
    auto wordTexture = [](DWORD time) {
        show->frameAt(time - 1);
        calls::Recorder recorder;
        show->nextFrame(time);
        const auto trace = recorder.folded();
        auto draw = std::find(trace.rbegin(), trace.rend(), calls::drawSubset);
        auto bound = std::find_if(draw, trace.rend(),
                                  [](const std::string& l) { return l.rfind("SetTexture(", 0) == 0; });
        return bound == trace.rend() ? std::string() : *bound;
    };
    struct Case {
        DWORD time;
        const char* word;
    };
    for (const Case& c :
         {Case{18000, "text-party.png"}, Case{25999, "text-party.png"}, Case{26000, "text-company.png"},
          Case{33999, "text-company.png"}, Case{34000, "text-friends.png"}, Case{41999, "text-friends.png"},
          Case{42000, "text-harmony.png"}, Case{49999, "text-harmony.png"}}) {
        // Frames may restage the show, so the expected texture is looked up after the frame.
        const std::string drawn = wordTexture(c.time);
        EXPECT_EQ(drawn, calls::texture(named(c.word))) << c.time;
    }
}

// At a section start the sprites are 16 pixels and the glow is at full strength; a second later both
// are gone until the next section comes near.
TEST_F(Biogen, TheGlowShowsAtSectionStarts) {
    auto glowTexels = [](DWORD time) {
        show->frameAt(time);
        std::vector<uint32_t> pixels;
        UINT w, h;
        d3d9debug::readSurface(offscreenTarget->colorSurface, pixels, w, h);
        return pixels;
    };
    auto ink = [](const std::vector<uint32_t>& texels) {
        return std::count_if(texels.begin(), texels.end(), [](uint32_t p) { return (p & 0xFFFFFF) != 0; });
    };
    for (DWORD start : {18000u, 26000u, 34000u, 42000u}) {
        const auto atStart = ink(glowTexels(start));
        EXPECT_GT(atStart, 400) << start;
        EXPECT_GT(atStart, 2 * ink(glowTexels(start + 3000))) << start;
    }
    // At full strength the overlay adds half of each texel to the screen pixels it is stretched over.
    const auto texels = glowTexels(26000);
    std::vector<uint32_t> frame;
    UINT w, h;
    d3d9debug::readBackBuffer(device, frame, w, h);
    int bright = 0, covered = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const uint32_t texel = texels[size_t(y) * 160 + x];
            const int blue = int(texel & 0xFF);
            if (blue < 128) continue;
            ++bright;
            const uint32_t pixel = frame[size_t(y * 4 + 2) * W + size_t(x * 4 + 2)];
            covered += int(pixel & 0xFF) >= blue / 2 - 24;
        }
    EXPECT_GT(bright, 20);
    EXPECT_EQ(covered, bright);
}

TEST_F(Biogen, TheLastQuarterSecondFadesToWhite) {
    const double at49749 = brightness(show->frameAt(49749));
    const double at49875 = brightness(show->frameAt(49875));
    const double at49999 = brightness(show->frameAt(49999));
    EXPECT_LT(at49749, at49875);
    EXPECT_GE(at49999, 253.0) << "alpha 0.996";
    EXPECT_LT(at49999, 255.0);
    show->frameAt(50000);
    EXPECT_FALSE(engine->scenes.at(1)->prepared);
}

TEST_F(Biogen, PrepareAndFrameMakeTheirDeviceCallsInOrder) {
    using namespace calls;
    show->frameAt(17999);
    auto* biogen = static_cast<ID3DXMesh*>(getResource("biogen.x"));
    auto floatBits = [](float f) {
        DWORD bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    };
    auto normalised = [](std::vector<std::string> trace) {
        // The sprites come from the scene's own copy of the mesh, whose buffer the test cannot name.
        for (auto& line : trace)
            if (line.rfind("SetStreamSource(0,", 0) == 0)
                line = "SetStreamSource(0," + line.substr(line.rfind(',') + 1);
        return trace;
    };
    const std::vector<std::string> prepare = {transform(D3DTS_PROJECTION),
                                              transform(D3DTS_VIEW),
                                              renderState(D3DRS_SPECULARENABLE, FALSE),
                                              renderState(D3DRS_AMBIENT, 0xFFFFFFFF),
                                              "SetLight(0)",
                                              lightEnable(FALSE)};
    auto frame = [&](float spriteSize) {
        return sequence({
            {clear(0)},
            screenQuad(),
            screenQuad(),
            // grid
            {transform(D3DTS_WORLD), texture(named("bioplasma.jpg")), material, transform(D3DTS_TEXTURE0),
             stageState(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2),
             stageState(D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL), drawSubset},
            // object
            {transform(D3DTS_TEXTURE0), stageState(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
             stageState(D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL), material,
             renderState(D3DRS_SPECULARENABLE, TRUE), lightEnable(TRUE),
             renderState(D3DRS_AMBIENT, 0x22222222), texture(named("bioplasmaenv.jpg")),
             transform(D3DTS_WORLD), drawSubset, renderState(D3DRS_SPECULARENABLE, FALSE), lightEnable(FALSE),
             renderState(D3DRS_AMBIENT, 0xFFFFFFFF)},
            // sprites into the small target
            {renderState(D3DRS_POINTSPRITEENABLE, TRUE),
             renderState(D3DRS_POINTSCALEENABLE, FALSE),
             renderState(D3DRS_POINTSIZE, floatBits(spriteSize)),
             stageState(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
             stageState(D3DTSS_TEXCOORDINDEX, 0),
             texture(named("flareblue.jpg")),
             format("SetRenderTarget(0,%p)", (void*)offscreenTarget->colorSurface),
             format("SetDepthStencilSurface(%p)", (void*)offscreenTarget->depthSurface),
             "SetViewport(0,0,160,120,0,1)",
             clear(0),
             renderState(D3DRS_ZWRITEENABLE, FALSE),
             renderState(D3DRS_SPECULARENABLE, FALSE),
             renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD),
             renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
             renderState(D3DRS_DESTBLEND, D3DBLEND_ONE),
             format("SetStreamSource(0,%u)", unsigned(biogen->GetNumBytesPerVertex())),
             format("SetFVF(0x%X)", unsigned(biogen->GetFVF())),
             format("DrawPrimitive(1,0,%u)", unsigned(biogen->GetNumVertices())),
             renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD),
             renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
             renderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA),
             renderState(D3DRS_SPECULARENABLE, TRUE),
             renderState(D3DRS_ZWRITEENABLE, TRUE),
             format("SetRenderTarget(0,%p)", (void*)engine->savedBackBuffer),
             format("SetDepthStencilSurface(%p)", (void*)engine->savedDepthStencil),
             "SetViewport(0,0,640,480,0,1)",
             renderState(D3DRS_POINTSPRITEENABLE, FALSE)},
            // glow
            {texture(offscreenTarget->texture), renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD),
             renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA), renderState(D3DRS_DESTBLEND, D3DBLEND_ONE),
             renderState(D3DRS_ZENABLE, FALSE)},
            texturedQuad(),
            {renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD), renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
             renderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA)},
            // word plate
            {transform(D3DTS_TEXTURE0), stageState(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
             stageState(D3DTSS_TEXCOORDINDEX, 0), transform(D3DTS_WORLD), texture(named("text-party.png")),
             material, drawSubset},
            screenQuad(),
            {renderState(D3DRS_ZENABLE, TRUE)},
        });
    };
    {
        Recorder recorder;
        show->nextFrame(18000);
        EXPECT_EQ(normalised(recorder.folded()),
                  sequence({{"BeginScene()"}, prepare, frame(16.0f), {"EndScene()", "Present()"}}));
    }
    {
        Recorder recorder;
        show->nextFrame(19000);
        EXPECT_EQ(normalised(recorder.folded()),
                  sequence({{"BeginScene()"}, frame(1.0f), {"EndScene()", "Present()"}}));
    }
}

}  // namespace
