// The farewell scene on the staged show: the bars leaving, the picture texel for texel, the fade, the
// calls of its frame in order, and the stop that ends the show once the clock passes 136 s.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"
#include "scenes/farewell_scene.h"
#include "tests/scenes/frame_trace.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

using namespace frametrace;

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;

int channel(uint32_t p, int shift) {
    return int(p >> shift & 0xFF);
}

class Farewell : public StagedShow {
protected:
    void SetUp() override { ASSERT_TRUE(show && show->ok()); }
    static FarewellScene* scene() { return static_cast<FarewellScene*>(engine->scenes.at(5)); }

    // The top-left 640x480 texels of the picture, as the scene maps them one to one.
    static std::vector<uint32_t> pictureTexels() {
        auto* picture = static_cast<IDirect3DTexture9*>(engine->resources.at("seeya.jpg"));
        D3DLOCKED_RECT locked{};
        std::vector<uint32_t> texels;
        if (picture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return texels;
        for (int y = 0; y < H; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
            texels.insert(texels.end(), row, row + W);
        }
        picture->UnlockRect(0);
        return texels;
    }

};

TEST_F(Farewell, TopBarShrinksAndBottomBarSlidesOut) {
    for (int bar : {64, 32, 0}) {
        const DWORD time = 132000 - DWORD(bar) * 2000 / 64;  // 130000, 131000, 132000
        const auto& frame = show->frameAt(time);
        for (int y = 0; y < bar; ++y) {
            ASSERT_TRUE(rowIsBlack(frame, y)) << time << ": top row " << y;
            ASSERT_TRUE(rowIsBlack(frame, H - 1 - y)) << time << ": bottom row " << H - 1 - y;
        }
        EXPECT_FALSE(rowIsBlack(frame, bar)) << time << ": first picture row";
        EXPECT_FALSE(rowIsBlack(frame, H - 1 - bar)) << time << ": last picture row";
    }
}

TEST_F(Farewell, PictureShowsTexelForTexelThenFadesToBlack) {
    const std::vector<uint32_t> texels = pictureTexels();
    ASSERT_EQ(texels.size(), size_t(W) * H);
    struct Case {
        DWORD time;
        float fade;
    };
    for (const Case& c : {Case{132000, 0.0f}, Case{134000, 0.3f}, Case{136000, 1.0f}}) {
        const auto& frame = show->frameAt(c.time);
        int worst = 0;
        for (size_t i = 0; i < frame.size(); ++i)
            for (int shift : {0, 8, 16}) {
                const int expected = int(float(channel(texels[i], shift)) * (1.0f - c.fade) + 0.5f);
                worst = std::max(worst, std::abs(channel(frame[i], shift) - expected));
            }
        EXPECT_LE(worst, 2) << "at " << c.time << " with fade " << c.fade;
    }
}

// The bars stay black over the far picture and the fade blends over it only with these states, all
// left on by the scenes before.
TEST_F(Farewell, StartsFromTheDepthAndBlendStatesItDrawsWith) {
    show->frameAt(129999);
    struct Case {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Case cases[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_ALPHABLENDENABLE, TRUE},
        {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
        {D3DRS_ALPHATESTENABLE, TRUE},
        {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
        {D3DRS_ALPHAREF, 0},
    };
    for (const auto& c : cases) {
        DWORD value = 0xDEADBEEF;
        device->GetRenderState(c.state, &value);
        EXPECT_EQ(value, c.value) << "render state " << c.state;
    }
}

TEST_F(Farewell, FirstFrameCallsTheDeviceInTheOrderOfItsSteps) {
    show->frameAt(129999);
    const std::vector<std::string> prepare = {
        transform(D3DTS_PROJECTION),     transform(D3DTS_VIEW),
        rs(D3DRS_LIGHTING, FALSE),       rs(D3DRS_SPECULARENABLE, FALSE),
        rs(D3DRS_AMBIENT, 0xFFFFFFFF),   "LightEnable(0,0)",
        tss(0, D3DTSS_TEXCOORDINDEX, 0), tss(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE),
    };
    const std::vector<std::string> frame = {
        "Clear(0,7,0xFFFF0000,1,0)",
        texture(0, "none"),
        quad,
        texture(0, "none"),
        quad,
        texture(0, "seeya.jpg"),
        samp(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT),
        samp(0, D3DSAMP_MINFILTER, D3DTEXF_POINT),
        samp(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE),
        texturedQuad,
        samp(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR),
        samp(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR),
        samp(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR),
        texture(0, "none"),
        quad,
    };
    EXPECT_FALSE(scene()->prepared);
    EXPECT_EQ(frameCalls(130000), join({prepare, frame}));
    EXPECT_TRUE(scene()->prepared);
    EXPECT_EQ(frameCalls(130001), frame);
    // Leaving the window and coming back prepares again.
    frameCalls(129999);
    EXPECT_FALSE(scene()->prepared);
    EXPECT_EQ(frameCalls(140000), join({prepare, frame}));
}

// The stop comes only after 136 s, and the frame that asks for it is still drawn and presented: a
// frame left green beforehand comes out black, the fade's colour.
TEST_F(Farewell, StopsTheShowOnlyAfter136SecondsAndStillPresentsThatFrame) {
    struct Case {
        DWORD time;
        bool stops;
    };
    const Case cases[] = {{130000, false}, {135999, false}, {136000, false},
                          {136001, true},  {200000, true},  {0xFFFFFFFF, true}};
    show->frameAt(130000);
    for (const Case& c : cases) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
        const unsigned presentsBefore = d3d9debug::presentCount(device);
        engine->running = true;
        engine->renderFrame(c.time);
        EXPECT_EQ(!engine->running, c.stops) << c.time;
        EXPECT_EQ(d3d9debug::presentCount(device), presentsBefore + 1) << c.time;
        std::vector<uint32_t> frame;
        UINT w = 0, h = 0;
        ASSERT_TRUE(d3d9debug::readBackBuffer(device, frame, w, h));
        size_t green = 0;
        for (uint32_t p : frame) green += (p & 0xFFFFFF) == 0x00FF00;
        EXPECT_EQ(green, 0u) << c.time;
        if (c.time >= 136000) {
            EXPECT_TRUE(rowIsBlack(frame, H / 2)) << c.time;
        }
    }
    // Before its window the scene asks for nothing, whatever the clock did before.
    engine->running = true;
    engine->renderFrame(129999);
    EXPECT_TRUE(engine->running);
}

}  // namespace
