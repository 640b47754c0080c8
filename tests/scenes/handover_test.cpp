// The device state each scene hands to the next, as the scenes after it rely on it, read on the
// device after the first frame of the next scene.
#include <gtest/gtest.h>

#include <memory>

#include "engine/demo_engine.h"
#include "scenes/corrosion_scene.h"
#include "tools/offline/offline_show.h"

namespace {

DWORD renderState(D3DRENDERSTATETYPE state) {
    DWORD value = 0;
    device->GetRenderState(state, &value);
    return value;
}

DWORD stageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
    DWORD value = 0;
    device->GetTextureStageState(stage, type, &value);
    return value;
}

TEST(Handover, EachSceneFindsTheStatesItDoesNotSetAsTheSceneBeforeLeftThem) {
    OfflineShow show(SHOW_DIR);
    ASSERT_TRUE(show.ok()) << show.error();
    struct Case {
        DWORD lastOfBefore;
        const char* scene;
    };
    for (const Case& c : {Case{49999, "plupo"}, Case{81999, "corrosion"}, Case{97999, "greetings"}, Case{129999, "farewell"}}) {
        show.frameAt(c.lastOfBefore);
        show.nextFrame(c.lastOfBefore + 1);
        // Blending, depth writes and the alpha test of the default state survive every scene.
        EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(TRUE)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_BLENDOP), DWORD(D3DBLENDOP_ADD)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_ZWRITEENABLE), DWORD(TRUE)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_ZENABLE), DWORD(TRUE)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_ALPHATESTENABLE), DWORD(TRUE)) << c.scene;
        EXPECT_EQ(renderState(D3DRS_POINTSPRITEENABLE), DWORD(FALSE)) << c.scene;
        EXPECT_EQ(stageState(0, D3DTSS_TEXCOORDINDEX), 0u) << c.scene;
        IDirect3DBaseTexture9* bound = nullptr;
        device->GetTexture(0, &bound);
        EXPECT_EQ(bound, nullptr) << c.scene << ": the last quad leaves stage 0 empty";
        if (bound) bound->Release();
    }
    // What the farewell leaves at the end: lighting off, and the greetings' stencil left always passing.
    EXPECT_EQ(renderState(D3DRS_LIGHTING), DWORD(FALSE));
    EXPECT_EQ(renderState(D3DRS_STENCILFUNC), DWORD(D3DCMP_ALWAYS));
    EXPECT_EQ(stageState(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
}

TEST(Handover, TheCreditsStripCrossesTheMiddleAt90Seconds) {
    OfflineShow show(SHOW_DIR);
    ASSERT_TRUE(show.ok()) << show.error();
    auto* corrosion = static_cast<CorrosionScene*>(engine->scenes.at(3));
    EXPECT_FLOAT_EQ(corrosion->scrollAt(82000), 16);
    EXPECT_FLOAT_EQ(corrosion->scrollAt(90000), 0);
    EXPECT_NEAR(corrosion->scrollAt(97999), -15.998f, 1e-3);
}

}  // namespace
