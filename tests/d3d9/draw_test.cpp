// Render tests through the device: fill rule, culling, depth, alpha test, blending, stencil,
// texturing, lighting, texture coordinate generation and point sprites.
#include <cmath>

#include "device_fixture.h"
#include "gfx/raster/raster.h"

namespace {

constexpr uint32_t red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, black = 0xFF000000;

class DrawTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, black, 1.0f, 0);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
    }
};

TEST_F(DrawTest, TopLeftFillRuleSplitsAQuadWithoutGapsOrOverlap) {
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // (0,0),(5,0),(5,5) with pixel centres on integers covers 15 pixels; its partner 10.
    drawScreen(D3DPT_TRIANGLELIST, {{0, 0, 0.5f, 1, red}, {5, 0, 0.5f, 1, red}, {5, 5, 0.5f, 1, red}}, 1);
    EXPECT_EQ(countPixels(red), 15);
    drawScreen(D3DPT_TRIANGLELIST, {{0, 5, 0.5f, 1, green}, {0, 0, 0.5f, 1, green}, {5, 5, 0.5f, 1, green}}, 1);
    EXPECT_EQ(countPixels(green), 10);
    EXPECT_EQ(countPixels(red), 15);
}

TEST_F(DrawTest, CounterClockwiseTrianglesAreCulledByDefault) {
    drawScreen(D3DPT_TRIANGLELIST, {{0, 0, 0.5f, 1, red}, {0, 8, 0.5f, 1, red}, {8, 0, 0.5f, 1, red}}, 1);
    EXPECT_EQ(countPixels(red), 0);
    drawScreen(D3DPT_TRIANGLELIST, {{0, 0, 0.5f, 1, red}, {8, 0, 0.5f, 1, red}, {0, 8, 0.5f, 1, red}}, 1);
    EXPECT_GT(countPixels(red), 0);
}

TEST_F(DrawTest, DepthTestIsLessOrEqualByDefault) {
    fillRect(0, 0, 4, 4, red, 0.5f);
    fillRect(0, 0, 4, 4, green, 0.7f);  // behind: rejected
    EXPECT_EQ(countPixels(red), 16);
    fillRect(0, 0, 4, 4, blue, 0.5f);  // equal: accepted
    EXPECT_EQ(countPixels(blue), 16);
}

TEST_F(DrawTest, AlphaTestGreaterThanZeroDiscardsTransparentPixelsBeforeDepthAndStencil) {
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    fillRect(0, 0, 4, 4, 0x00FF0000, 0.1f);
    EXPECT_EQ(countPixels(black), 256);
    for (uint32_t word : depthWords()) EXPECT_EQ(word, 0xFFFFFF00u);
}

TEST_F(DrawTest, BlendModesCombineWithTheTarget) {
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    struct Case {
        DWORD op, src, dest;
        uint32_t destination, source, expected;
    };
    const Case cases[] = {
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF000000, 0x80FFFFFF, 0xBF808080},
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0xFF404040, 0x80808080, 0xFF808080},
        {D3DBLENDOP_SUBTRACT, D3DBLEND_INVSRCALPHA, D3DBLEND_ONE, 0xFF202020, 0x00808080, 0x00606060},
        {D3DBLENDOP_REVSUBTRACT, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA, 0xFF808080, 0x00202020, 0xFF606060},
        {D3DBLENDOP_MAX, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0xFF102030, 0x80302010, 0xFF302030},
    };
    for (const Case& c : cases) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, c.destination, 1.0f, 0);
        device->SetRenderState(D3DRS_BLENDOP, c.op);
        device->SetRenderState(D3DRS_SRCBLEND, c.src);
        device->SetRenderState(D3DRS_DESTBLEND, c.dest);
        fillRect(0, 0, 2, 2, c.source);
        EXPECT_EQ(pixel(1, 1), c.expected) << "op " << c.op;
    }
}

TEST_F(DrawTest, StencilMarksAndMasks) {
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    fillRect(0, 0, 4, 4, red);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    fillRect(0, 0, 8, 8, green);
    EXPECT_EQ(countPixels(red), 16);
    EXPECT_EQ(countPixels(green), 48);
}

TEST_F(DrawTest, TexelsMapOneToOneWithTheHalfPixelOffsetAndWrapByDefault) {
    IDirect3DTexture9* texture = makeTexture(2, 2, {red, green, blue, 0xFFFFFFFF});
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetFVF(texturedScreenFvf);
    auto quad = [&](float u1, float v1) {
        std::vector<TexturedScreenVertex> v = {{-0.5f, 3.5f, 0.5f, 1, 0xFFFFFFFF, 0, v1},
                                               {-0.5f, -0.5f, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                               {3.5f, 3.5f, 0.5f, 1, 0xFFFFFFFF, u1, v1},
                                               {3.5f, -0.5f, 0.5f, 1, 0xFFFFFFFF, u1, 0}};
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(TexturedScreenVertex));
    };
    quad(2, 2);
    EXPECT_EQ(pixel(0, 0), red);
    EXPECT_EQ(pixel(1, 0), green);
    EXPECT_EQ(pixel(0, 1), blue);
    EXPECT_EQ(pixel(2, 0), red);  // wrapped
    EXPECT_EQ(pixel(3, 3), 0xFFFFFFFFu);
    texture->Release();
}

TEST_F(DrawTest, AStageReadingAnUnboundTextureActsAsDisabled) {
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSMOOTH);
    fillRect(0, 0, 2, 2, 0xFF336699);
    EXPECT_EQ(pixel(0, 0), 0xFF336699u);
}

TEST_F(DrawTest, LightingWithASingularWorldMatrixNeverGivesNaNColours) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 1, 1, 1};
    material.Ambient = {0.2f, 0.2f, 0.2f, 1};
    device->SetMaterial(&material);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 0.5f, 0.25f, 1};
    light.Position = {0, 0, -5};
    light.Range = 100;
    light.Attenuation0 = 1;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    D3DMATRIX flat{};
    flat._11 = 1;
    flat._22 = 1;
    flat._33 = 0;  // flattens z: no inverse
    flat._44 = 1;
    device->SetTransform(D3DTS_WORLD, &flat);
    D3DMATRIX projection{};
    projection._11 = 1;
    projection._22 = 1;
    projection._33 = 1;
    projection._34 = 1;
    projection._43 = -1;
    D3DMATRIX view{};
    view._11 = view._22 = view._33 = view._44 = 1;
    view._43 = 5;
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    std::vector<MeshVertex> v = {{-3, -3, 0, 0, 0, -1}, {-3, 3, 0, 0, 0, -1}, {3, -3, 0, 0, 0, -1}, {3, 3, 0, 0, 0, -1}};
    device->SetFVF(meshFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(MeshVertex));
    uint32_t c = pixel(8, 8);
    EXPECT_NE(c, black);
    // Lit by the light straight on: the colour follows the light's, with the ambient added.
    EXPECT_GT((c >> 16) & 0xFF, (c >> 8) & 0xFF);
    EXPECT_GT((c >> 8) & 0xFF, c & 0xFF);
}

TEST_F(DrawTest, CameraSpaceNormalsAddressTheTextureWhenGenerated) {
    // A texture whose left half is red and right half green: u = n.x picks the half.
    IDirect3DTexture9* texture = makeTexture(2, 1, {red, green});
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    D3DMATRIX projection{};
    projection._11 = projection._22 = projection._33 = projection._44 = 0.1f;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetFVF(meshFvf);
    auto square = [&](float nx) {
        std::vector<MeshVertex> v = {{-10, -10, 1, nx, 0, 0.5f}, {-10, 10, 1, nx, 0, 0.5f},
                                     {10, -10, 1, nx, 0, 0.5f},  {10, 10, 1, nx, 0, 0.5f}};
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(MeshVertex));
    };
    square(0.2f);
    EXPECT_EQ(pixel(8, 8), red);
    square(0.9f);
    EXPECT_EQ(pixel(8, 8), green);
    // A texture transform with COUNT2 scales the coordinates; DISABLE ignores the matrix.
    D3DMATRIX half{};
    half._11 = 0.5f;
    half._22 = half._33 = half._44 = 1;
    device->SetTransform(D3DTS_TEXTURE0, &half);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    square(0.9f);
    EXPECT_EQ(pixel(8, 8), red);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    square(0.9f);
    EXPECT_EQ(pixel(8, 8), green);
    texture->Release();
}

TEST_F(DrawTest, PointSpritesCoverASquareOfThePointSizeWithTheWholeTexture) {
    IDirect3DTexture9* texture = makeTexture(2, 2, {red, green, blue, 0xFFFFFFFF});
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    float size = 4.0f;
    DWORD bits;
    std::memcpy(&bits, &size, 4);
    device->SetRenderState(D3DRS_POINTSIZE, bits);
    drawScreen(D3DPT_POINTLIST, {{8, 8, 0.5f, 1, 0xFFFFFFFF}}, 1);
    EXPECT_EQ(countPixels(black), 256 - 16);
    EXPECT_EQ(pixel(6, 6), red);
    EXPECT_EQ(pixel(9, 6), green);
    EXPECT_EQ(pixel(6, 9), blue);
    texture->Release();
}

}  // namespace

namespace {

TEST_F(DeviceTest, SharingRowsWithASecondThreadGivesTheSamePixels) {
    release();
    create(640, 480);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    std::vector<std::vector<uint32_t>> results;
    for (int threads : {1, 2}) {
        raster::setWorkerThreads(threads);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        fillRect(0, 0, 640, 480, 0x80FF8000, 0.5f);
        drawScreen(D3DPT_TRIANGLELIST,
                   {{10, 400, 0.2f, 1, 0xC00080FF}, {320, 20, 0.7f, 1, 0x8040FF40}, {630, 470, 0.4f, 1, 0xFFFFFFFF}}, 1);
        results.push_back(pixels());
    }
    raster::setWorkerThreads(2);
    EXPECT_TRUE(results[0] == results[1]);
    EXPECT_EQ(results[1][479 * 640 + 1], 0xBF804000u);  // the last row was drawn
}

}  // namespace

namespace {

// The outline trick: a shell drawn where the stencil is not 1 and marking as it goes blends each
// pixel once, however often its triangles overlap.
TEST_F(DeviceTest, AMarkingStencilBlendsOverlappingTrianglesOnce) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    device->SetRenderState(D3DRS_STENCILMASK, 1);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    for (int copy = 0; copy < 3; ++copy) fillRect(0, 0, 8, 8, 0x80FFFFFF);
    EXPECT_EQ(pixel(3, 3), 0xBF808080u);  // one blend of half white over black
    EXPECT_EQ(countPixels(0xBF808080u), 64);
}

}  // namespace
