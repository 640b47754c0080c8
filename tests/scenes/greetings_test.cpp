// The greetings scene on the staged show: its beat tracks, the calls of its frame in order, the state
// it leaves for the farewell, the ghost trail's alphas, and what its frames show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "anim/quads.h"
#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/greetings_scene.h"
#include "tests/scenes/frame_trace.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

using namespace frametrace;

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;

int red(uint32_t p) {
    return int(p >> 16 & 0xFF);
}
int green(uint32_t p) {
    return int(p >> 8 & 0xFF);
}
int blue(uint32_t p) {
    return int(p & 0xFF);
}

class Greetings : public StagedShow {
protected:
    void SetUp() override { ASSERT_TRUE(show && show->ok()); }
    static GreetingsScene* scene() { return static_cast<GreetingsScene*>(engine->scenes.at(4)); }
};

TEST_F(Greetings, BeatTableIsFourBlocksOfTwelveEightSecondsApart) {
    const float offsets[12] = {0, 500, 1125, 1500, 2500, 3125, 3500, 3750, 4500, 5125, 5500, 6500};
    for (int block = 0; block < 4; ++block)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(beatTimes[block * 12 + i], 98000.0f + 8000.0f * float(block) + offsets[i])
                << "block " << block << " beat " << i;
    EXPECT_EQ(beatTimes[47], 128500.0f);
}

TEST_F(Greetings, EveryBeatKeepsAllItsFlashAndHighlightKeys) {
    EXPECT_EQ(scene()->flashKeyCount(), 192u);
    EXPECT_EQ(scene()->highlightKeyCount(), 144u);
    for (float beat : beatTimes) {
        EXPECT_EQ(scene()->flashAt(beat - 50), 0.0f) << beat;
        EXPECT_EQ(scene()->flashAt(beat), 1.0f) << beat;
        EXPECT_EQ(scene()->flashAt(beat + 100), 1.0f) << beat;
        EXPECT_EQ(scene()->flashAt(beat + 150), 0.0f) << beat;
        EXPECT_EQ(scene()->highlightAt(beat + 100), 0.0f) << beat;
        EXPECT_EQ(scene()->highlightAt(beat + 150), 1.0f) << beat;
    }
    // A beat 500 ms later cuts the decay short: 98150 (1) runs straight to 98600 (0).
    EXPECT_FLOAT_EQ(scene()->highlightAt(98375), 0.5f);
    // An earlier beat's end cuts a later one short too: 104650 (1) runs to 105000 (0), the end of
    // the beat at 103500, and stays there until the next block.
    EXPECT_FLOAT_EQ(scene()->highlightAt(104825), 0.5f);
    EXPECT_EQ(scene()->highlightAt(105500), 0.0f);
    EXPECT_EQ(scene()->highlightAt(106099), 0.0f);
}

TEST_F(Greetings, OpensOnAWhiteFrameWithTheStripAtItsStartAndNoHighlight) {
    show->frameAt(97999);
    EXPECT_FALSE(scene()->prepared);
    const auto& frame = show->frameAt(98000);
    EXPECT_TRUE(scene()->prepared);
    size_t notWhite = 0;
    for (uint32_t p : frame) notWhite += (p & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_EQ(notWhite, 0u);
    EXPECT_EQ(scene()->scrollAt(98000), 300.0f);
    EXPECT_EQ(scene()->highlightAt(98000), 0.0f);  // the highlighted strip is drawn at alpha 0
}

TEST_F(Greetings, FirstFrameCallsTheDeviceInTheOrderOfItsSteps) {
    show->frameAt(97999);
    const std::vector<std::string> prepare = {
        transform(D3DTS_PROJECTION),    transform(D3DTS_VIEW), rs(D3DRS_LIGHTING, TRUE),
        rs(D3DRS_SPECULARENABLE, TRUE), "LightEnable(0,1)",    "SetLight(0)",
    };
    const std::vector<std::string> frame = join({
        {"Clear(0,7,0x00000000,1,0)", rs(D3DRS_AMBIENT, 0), texture(0, "none"), quad, texture(0, "none"),
         quad},
        // flipcube
        {transform(D3DTS_WORLD), texture(0, "flipcube.jpg"), "SetMaterial()",
         tss(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL), transform(D3DTS_TEXTURE0),
         tss(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2), rs(D3DRS_SPECULARENABLE, FALSE), mesh,
         rs(D3DRS_SPECULARENABLE, TRUE)},
        // bluetooth object, marking its pixels in the stencil
        {transform(D3DTS_WORLD), tss(0, D3DTSS_TEXCOORDINDEX, 0),
         tss(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE), texture(0, "bluetooth.jpg"),
         tss(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL), texture(1, "bluetoothenv.jpg"),
         tss(1, D3DTSS_COLOROP, D3DTOP_ADDSMOOTH), tss(1, D3DTSS_COLORARG1, D3DTA_TEXTURE),
         tss(1, D3DTSS_COLORARG2, D3DTA_CURRENT), "SetMaterial()", rs(D3DRS_STENCILENABLE, TRUE)},
        stencil(D3DSTENCILOP_REPLACE, D3DCMP_ALWAYS, 1, 1),
        {mesh},
        // the trail adds light only where the object is not
        {rs(D3DRS_BLENDOP, D3DBLENDOP_ADD), rs(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
         rs(D3DRS_DESTBLEND, D3DBLEND_ONE)},
        stencil(D3DSTENCILOP_KEEP, D3DCMP_NOTEQUAL, 1, 1),
        {rs(D3DRS_ZWRITEENABLE, FALSE), "SetMaterial()", transform(D3DTS_WORLD), mesh, "SetMaterial()",
         transform(D3DTS_WORLD), mesh, "SetMaterial()", transform(D3DTS_WORLD), mesh,
         rs(D3DRS_ZWRITEENABLE, TRUE), "SetMaterial()"},
        stencil(D3DSTENCILOP_KEEP, D3DCMP_ALWAYS, 0, 0xFFFFFFFF),
        {rs(D3DRS_BLENDOP, D3DBLENDOP_ADD), rs(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
         rs(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA), tss(1, D3DTSS_COLOROP, D3DTOP_DISABLE),
         tss(1, D3DTSS_COLORARG1, D3DTA_TEXTURE), tss(1, D3DTSS_COLORARG2, D3DTA_CURRENT),
         texture(1, "none")},
        // greetings strip and its highlighted twin, then the flash
        {rs(D3DRS_ZWRITEENABLE, FALSE), texture(0, "greetz.png"), texturedQuad, texture(0, "greetzover.png"),
         texturedQuad, rs(D3DRS_ZWRITEENABLE, TRUE), texture(0, "none"), quad},
    });
    EXPECT_EQ(frameCalls(98000), join({prepare, frame}));
    EXPECT_EQ(frameCalls(98001), frame);
}

// The bars hide everything drawn later only if depth tests and writes are on when the scene starts,
// and a flash at alpha 0 vanishes only under the alpha test; nothing before this scene turns them off.
TEST_F(Greetings, StartsFromTheDepthAndAlphaStatesItDrawsWith) {
    show->frameAt(97999);
    struct Case {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Case cases[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},   {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ZWRITEENABLE, TRUE},    {D3DRS_ALPHABLENDENABLE, TRUE},
        {D3DRS_ALPHATESTENABLE, TRUE}, {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
        {D3DRS_ALPHAREF, 0},
    };
    for (const auto& c : cases) {
        DWORD value = 0xDEADBEEF;
        device->GetRenderState(c.state, &value);
        EXPECT_EQ(value, c.value) << "render state " << c.state;
    }
}

TEST_F(Greetings, LeavesTheStatesTheFarewellStartsFrom) {
    show->frameAt(129999);
    struct RenderStateCase {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const RenderStateCase renderStates[] = {
        {D3DRS_STENCILENABLE, TRUE},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_STENCILREF, 0},
        {D3DRS_STENCILMASK, 0xFFFFFFFF},
        {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
        {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_AMBIENT, 0},
        {D3DRS_LIGHTING, TRUE},
        {D3DRS_SPECULARENABLE, TRUE},
    };
    for (const auto& c : renderStates) {
        DWORD value = 0xDEADBEEF;
        device->GetRenderState(c.state, &value);
        EXPECT_EQ(value, c.value) << "render state " << c.state;
    }
    struct StageCase {
        DWORD stage;
        D3DTEXTURESTAGESTATETYPE type;
        DWORD value;
    };
    const StageCase stages[] = {
        {0, D3DTSS_TEXCOORDINDEX, 0},
        {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
        {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
        {1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL},
    };
    for (const auto& c : stages) {
        DWORD value = 0xDEADBEEF;
        device->GetTextureStageState(c.stage, c.type, &value);
        EXPECT_EQ(value, c.value) << "stage " << c.stage << " state " << c.type;
    }
    BOOL lightOn = FALSE;
    device->GetLightEnable(0, &lightOn);
    EXPECT_TRUE(lightOn);
    for (DWORD stage : {0u, 1u}) {
        IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(1);
        device->GetTexture(stage, &bound);
        EXPECT_EQ(bound, nullptr) << "stage " << stage;
        if (bound) bound->Release();
    }
}

TEST_F(Greetings, DrawsUpTo129999AndNothingFrom130000) {
    show->frameAt(129998);
    const std::vector<std::string> last = frameCalls(129999);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.front(), "Clear(0,7,0x00000000,1,0)");
    EXPECT_TRUE(scene()->prepared);
    const std::vector<std::string> after = frameCalls(130000);
    EXPECT_FALSE(scene()->prepared);
    // The farewell alone draws this frame: its prepare step, then its one clear.
    ASSERT_GE(after.size(), 9u);
    EXPECT_EQ(after[0], transform(D3DTS_PROJECTION));
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [](const std::string& c) { return c.starts_with("Clear"); }),
              1);
    EXPECT_EQ(after[8], "Clear(0,7,0xFFFF0000,1,0)");
}

TEST_F(Greetings, ComingBackIntoTheWindowPreparesAgain) {
    show->frameAt(110000);
    engine->renderFrame(130000);
    EXPECT_FALSE(scene()->prepared);
    const std::vector<std::string> back = frameCalls(110000);
    ASSERT_GE(back.size(), 7u);
    EXPECT_EQ(back[0], transform(D3DTS_PROJECTION));
    EXPECT_EQ(back[5], "SetLight(0)");
    EXPECT_EQ(back[6], "Clear(0,7,0x00000000,1,0)");
    EXPECT_TRUE(scene()->prepared);
}

// Between beats the flash is discarded and the strip shows: black above its top edge, ink below it,
// warm while a highlight is up and cool once it has decayed.
TEST_F(Greetings, StripScrollsUpAndCrossFadesToItsHighlight) {
    struct Case {
        DWORD time;
        bool highlighted;
    };
    for (const Case& c : {Case{99700, true}, Case{105900, false}, Case{108700, true}, Case{113900, false}}) {
        ASSERT_LE(scene()->flashAt(float(c.time)), 0.0f) << c.time;
        if (c.highlighted)
            ASSERT_GT(scene()->highlightAt(float(c.time)), 0.8f) << c.time;
        else
            ASSERT_LT(scene()->highlightAt(float(c.time)), 0.1f) << c.time;
        const auto& frame = show->frameAt(c.time);
        const int top = int(std::ceil(scene()->scrollAt(float(c.time))));
        long warm = 0, ink = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 384; x < W; ++x) {
                const uint32_t p = frame[size_t(y) * W + x];
                const bool lit = red(p) + green(p) + blue(p) > 60;
                if (y < 64 || y >= 416 || y < top - 1) {
                    EXPECT_FALSE(lit) << c.time << ": lit pixel at " << x << "," << y << " outside the strip";
                    if (lit) return;
                } else if (lit) {
                    ++ink;
                    warm += red(p) > blue(p);
                }
            }
        EXPECT_GT(ink, 500) << c.time;
        if (c.highlighted)
            EXPECT_GT(warm, ink / 2) << c.time;
        else
            EXPECT_LT(warm, ink / 10) << c.time;
    }
}

// A plain square drawn by drawTrail on its own: lit only by its emissive white, so each copy adds
// exactly its material alpha of white to a black frame.
class GreetingsTrail : public ::testing::Test {
protected:
    void SetUp() override {
        show = std::make_unique<OfflineShow>(SHOW_DIR);
        ASSERT_TRUE(show->ok()) << show->error();
        ASSERT_EQ(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, device, &square),
                  D3D_OK);
        struct Vertex {
            float x, y, z, nx, ny, nz;
        };
        Vertex* v = nullptr;
        square->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
        const float corners[4][2] = {{-0.1f, -0.1f}, {-0.1f, 0.1f}, {0.1f, -0.1f}, {0.1f, 0.1f}};
        for (int i = 0; i < 4; ++i) v[i] = {corners[i][0], corners[i][1], 0.5f, 0, 0, -1};
        square->UnlockVertexBuffer();
        WORD* index = nullptr;
        square->LockIndexBuffer(0, reinterpret_cast<void**>(&index));
        const WORD indices[6] = {0, 1, 2, 2, 1, 3};
        std::copy(std::begin(indices), std::end(indices), index);
        square->UnlockIndexBuffer();
        DWORD* attributes = nullptr;
        square->LockAttributeBuffer(0, &attributes);
        attributes[0] = attributes[1] = 0;
        square->UnlockAttributeBuffer();

        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device->SetTransform(D3DTS_VIEW, &identity);
        device->SetTransform(D3DTS_PROJECTION, &identity);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, 0);
        device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
        device->LightEnable(0, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        device->SetTexture(0, nullptr);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        // Copies at x -0.6, 0 and 0.6 of the clip space: screen columns 128, 320 and 512.
        for (int i = 0; i < 3; ++i) D3DXMatrixTranslation(&copies[i], -0.6f + 0.6f * float(i), 0, 0);
    }
    void TearDown() override {
        if (square) square->Release();
        show.reset();
    }

    // The three copy centres after drawTrail with a material of diffuse alpha `alpha`.
    static void setAlpha(float alpha) {
        D3DMATERIAL9 material{};
        material.Diffuse = {0, 0, 0, alpha};
        material.Emissive = {1, 1, 1, 1};
        device->SetMaterial(&material);
    }

    std::vector<int> drawCopies(GreetingsScene* scene, float alpha, unsigned steps) {
        setAlpha(alpha);
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        device->BeginScene();
        scene->drawTrail(square, copies, steps);
        device->EndScene();
        return centres();
    }

    static std::vector<int> centres() {
        std::vector<uint32_t> pixels;
        UINT w = 0, h = 0;
        d3d9debug::readBackBuffer(device, pixels, w, h);
        std::vector<int> values;
        for (int x : {128, 320, 512}) values.push_back(green(pixels[size_t(240) * w + size_t(x)]));
        return values;
    }

    std::unique_ptr<OfflineShow> show;
    ID3DXMesh* square = nullptr;
    D3DXMATRIX copies[3];
};

TEST_F(GreetingsTrail, CopiesShowAtGrowingFractionsOfTheAlphaAndTheMaterialIsRestored) {
    struct Case {
        float alpha;
        unsigned steps;
        std::vector<int> centres;  // 0..255 at each copy's centre; the object itself is never drawn
    };
    const Case cases[] = {
        {1.0f, 4, {64, 128, 191}},  // the scene's trail: 0.25, 0.5, 0.75
        {0.8f, 4, {51, 102, 153}},
        {1.0f, 2, {128, 0, 0}},
        {1.0f, 1, {0, 0, 0}},  // no copy, but depth writes and the material still come back
    };
    auto* scene = static_cast<GreetingsScene*>(engine->scenes.at(4));
    for (const Case& c : cases) {
        const std::vector<int> centres = drawCopies(scene, c.alpha, c.steps);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_NEAR(centres[i], c.centres[i], 1)
                << "alpha " << c.alpha << ", steps " << c.steps << ", copy " << i;
        D3DMATERIAL9 after{};
        device->GetMaterial(&after);
        EXPECT_EQ(after.Diffuse.a, c.alpha);
        DWORD depthWrites = FALSE;
        device->GetRenderState(D3DRS_ZWRITEENABLE, &depthWrites);
        EXPECT_EQ(depthWrites, DWORD(TRUE));
    }
}

// The object marks its pixels in the stencil as the scene draws it, and the copies, drawn with the
// scene's not-equal test, light everything but those pixels: the middle copy lies on the object.
TEST_F(GreetingsTrail, CopiesNeverCoverTheObject) {
    auto* scene = static_cast<GreetingsScene*>(engine->scenes.at(4));
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->BeginScene();
    setAlpha(0.4f);
    device->SetTransform(D3DTS_WORLD, &copies[1]);
    setStencilState(D3DSTENCILOP_REPLACE, D3DCMP_ALWAYS, 1, 1);
    square->DrawSubset(0);
    setAlpha(1.0f);
    setStencilState(D3DSTENCILOP_KEEP, D3DCMP_NOTEQUAL, 1, 1);
    scene->drawTrail(square, copies, 4);
    device->EndScene();
    const std::vector<int> values = centres();
    EXPECT_NEAR(values[0], 64, 1);
    EXPECT_NEAR(values[1], 102, 1);  // the object alone, at 0.4
    EXPECT_NEAR(values[2], 191, 1);
}

}  // namespace
