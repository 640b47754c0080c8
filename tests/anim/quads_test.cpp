#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "anim/quads.h"
#include "gfx/d3d9/d3d9debug.h"
#include "tests/anim/test_mesh.h"

namespace {

std::string call(const char* format, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string renderState(D3DRENDERSTATETYPE state, DWORD value) {
    return call("SetRenderState(%u,%u)", unsigned(state), unsigned(value));
}

// A headless device set as the process-wide one, with a trace of every device call.
class DeviceHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore = d3d9debug::liveObjectCount();
        direct3d = Direct3DCreate9(31);
        ASSERT_NE(direct3d, nullptr);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = 64;
        params.BackBufferHeight = 48;
        params.BackBufferFormat = D3DFMT_A8R8G8B8;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
        d3d9debug::setCallTrace(&trace);
    }

    void TearDown() override {
        d3d9debug::setCallTrace(nullptr);
        if (device) device->Release();
        device = nullptr;
        if (direct3d) direct3d->Release();
        EXPECT_EQ(d3d9debug::liveObjectCount(), liveBefore) << "objects left alive";
    }

    std::vector<DWORD> allRenderStates() {
        std::vector<DWORD> states(D3DRS_STATE_COUNT);
        for (DWORD s = 0; s < D3DRS_STATE_COUNT; ++s)
            device->GetRenderState(D3DRENDERSTATETYPE(s), &states[s]);
        return states;
    }

    DWORD state(D3DRENDERSTATETYPE s) {
        DWORD value = 0;
        device->GetRenderState(s, &value);
        return value;
    }

    IDirect3DBaseTexture9* stageZero() {
        IDirect3DBaseTexture9* texture = nullptr;
        device->GetTexture(0, &texture);
        if (texture) texture->Release();
        return texture;
    }

    IDirect3DVertexBuffer9* makeBuffer(UINT bytes) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
        return buffer;
    }

    long liveBefore = 0;
    IDirect3D9* direct3d = nullptr;
    std::vector<std::string> trace;
};

TEST(PackColor, ClampsAndRoundsEachComponentHalfUp) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        D3DCOLORVALUE color;
        DWORD packed;
    };
    const Case cases[] = {
        {{1, 0.5f, 0, 0.5f}, 0x80FF8000},
        {{0.2f, 0.4f, 0.6f, 0.8f}, 0xCC336699},  // alpha on top, blue lowest
        {{1.7f, -3, 0, 1}, 0xFFFF0000},
        {{0.002f, 0.001f, 0, 0}, 0x00010000},
        {{nan, 1, nan, nan}, 0x0000FF00},
        {{-0.0f, 0.999f, 1e30f, -1e30f}, 0x0000FFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(packColor(c.color), c.packed)
            << c.color.r << " " << c.color.g << " " << c.color.b << " " << c.color.a;
}

TEST_F(DeviceHelpers, ScreenQuadCornersAndDrawCall) {
    ScreenQuad quad;
    const D3DCOLORVALUE color = {1, 0.5f, 0, 0.5f};
    quad.draw(&color, 0.25f, -0.5f, -0.5f, 640, 480);

    const float corners[4][2] = {{-0.5f, 479.5f}, {-0.5f, -0.5f}, {639.5f, 479.5f}, {639.5f, -0.5f}};
    for (int i = 0; i < 4; ++i) {
        const QuadVertex& v = quad.vertices[i];
        EXPECT_EQ(v.x, corners[i][0]) << "vertex " << i;
        EXPECT_EQ(v.y, corners[i][1]) << "vertex " << i;
        EXPECT_EQ(v.z, 0.25f) << "vertex " << i;
        EXPECT_EQ(v.rhw, 1.0f) << "vertex " << i;
        EXPECT_EQ(v.diffuse, 0x80FF8000u) << "vertex " << i;
    }
    EXPECT_EQ(ScreenQuad::fvf, 0x44u);
    EXPECT_EQ(trace, (std::vector<std::string>{call("SetTexture(0,%p)", static_cast<void*>(nullptr)),
                                               "SetFVF(0x44)", "DrawPrimitiveUP(5,2,20)"}));
}

TEST_F(DeviceHelpers, TexturedQuadCornersMapTheWholeTexture) {
    TexturedScreenQuad quad;
    const D3DCOLORVALUE color = {1, 1, 1, 1};
    quad.draw(&color, 1.0f, 390, 64, 256, 128);

    const float corners[4][4] = {{390, 192, 0, 1}, {390, 64, 0, 0}, {646, 192, 1, 1}, {646, 64, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        const TexturedQuadVertex& v = quad.vertices[i];
        EXPECT_EQ(v.x, corners[i][0]) << "vertex " << i;
        EXPECT_EQ(v.y, corners[i][1]) << "vertex " << i;
        EXPECT_EQ(v.u, corners[i][2]) << "vertex " << i;
        EXPECT_EQ(v.v, corners[i][3]) << "vertex " << i;
        EXPECT_EQ(v.z, 1.0f) << "vertex " << i;
        EXPECT_EQ(v.rhw, 1.0f) << "vertex " << i;
        EXPECT_EQ(v.diffuse, 0xFFFFFFFFu) << "vertex " << i;
    }
    EXPECT_EQ(TexturedScreenQuad::fvf, 0x144u);
    EXPECT_EQ(trace, (std::vector<std::string>{"SetFVF(0x144)", "DrawPrimitiveUP(5,2,28)"}));
}

TEST_F(DeviceHelpers, ScreenQuadLeavesStageZeroEmptyAndRenderStatesAlone) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    const std::vector<DWORD> statesBefore = allRenderStates();

    ScreenQuad bar;
    TexturedScreenQuad picture;
    const D3DCOLORVALUE black = {0, 0, 0, 1};
    bar.draw(&black, 0, 0, 0, 640, 64);
    EXPECT_EQ(stageZero(), nullptr);
    picture.draw(&black, 0, 0, 0, 640, 64);  // no texture of its own: stays untextured
    EXPECT_EQ(stageZero(), nullptr);
    EXPECT_EQ(allRenderStates(), statesBefore);
    texture->Release();
}

// The back buffer after one frame of `draw`, with colour and depth cleared first.
std::vector<uint32_t> renderFrame(const std::function<void()>& draw) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    draw();
    device->EndScene();
    std::vector<uint32_t> pixels;
    UINT width = 0, height = 0;
    d3d9debug::readBackBuffer(device, pixels, width, height);
    return pixels;
}

TEST_F(DeviceHelpers, FullScreenQuadCoversEveryPixelAndBarsWholeRows) {
    const D3DCOLORVALUE color = {1, 0.5f, 0, 1};
    ScreenQuad quad;
    std::vector<uint32_t> pixels = renderFrame([&] { quad.draw(&color, 0, -0.5f, -0.5f, 64, 48); });
    ASSERT_EQ(pixels.size(), 64u * 48u);
    for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(pixels[i], 0xFFFF8000u) << "pixel " << i;

    // A bar at whole-pixel positions covers exactly its rows: 8 rows from row 40 down.
    pixels = renderFrame([&] { quad.draw(&color, 0, 0, 40, 64, 8); });
    for (int y = 0; y < 48; ++y)
        EXPECT_EQ(pixels[size_t(y) * 64 + 10], y >= 40 ? 0xFFFF8000u : 0xFF000000u) << "row " << y;
}

TEST_F(DeviceHelpers, TexturedQuadAfterScreenQuadDrawsUntextured) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int i = 0; i < 16; ++i) static_cast<uint32_t*>(locked.pBits)[i] = 0xFFFF0000;  // red
    texture->UnlockRect(0);

    const D3DCOLORVALUE white = {1, 1, 1, 1}, green = {0, 1, 0, 1};
    ScreenQuad bar;
    TexturedScreenQuad picture;
    device->SetTexture(0, texture);
    std::vector<uint32_t> pixels = renderFrame([&] { picture.draw(&white, 0, -0.5f, -0.5f, 64, 48); });
    EXPECT_EQ(pixels[100], 0xFFFF0000u) << "the texture shows while bound";

    pixels = renderFrame([&] {
        bar.draw(&white, 0, 0, 0, 64, 8);
        picture.draw(&green, 0, -0.5f, -0.5f, 64, 48);
    });
    EXPECT_EQ(pixels[100], 0xFF00FF00u) << "only the quad's own colour is left";
    texture->Release();
}

TEST_F(DeviceHelpers, StencilStateSetsBothMasksAndNothingElse) {
    setStencilState(D3DSTENCILOP_REPLACE, D3DCMP_NOTEQUAL, 1, 1);
    EXPECT_EQ(trace, (std::vector<std::string>{
                         renderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE),
                         renderState(D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL),
                         renderState(D3DRS_STENCILREF, 1),
                         renderState(D3DRS_STENCILMASK, 1),
                         renderState(D3DRS_STENCILWRITEMASK, 1),
                     }));
    EXPECT_EQ(state(D3DRS_STENCILENABLE), DWORD(FALSE));
}

TEST_F(DeviceHelpers, BlendModesSetOperationThenFactors) {
    struct Row {
        unsigned mode;
        DWORD op, source, destination;
    };
    const Row rows[] = {
        {Alpha, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
        {Additive, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
        {Subtract, D3DBLENDOP_SUBTRACT, D3DBLEND_INVSRCALPHA, D3DBLEND_ONE},
        {ReverseSubtract, D3DBLENDOP_REVSUBTRACT, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
        {Min, D3DBLENDOP_MIN, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
        {Max, D3DBLENDOP_MAX, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    };
    for (const Row& r : rows) {
        trace.clear();
        setBlendMode(r.mode);
        EXPECT_EQ(trace, (std::vector<std::string>{renderState(D3DRS_BLENDOP, r.op),
                                                   renderState(D3DRS_SRCBLEND, r.source),
                                                   renderState(D3DRS_DESTBLEND, r.destination)}))
            << "mode " << r.mode;
        EXPECT_EQ(state(D3DRS_ALPHABLENDENABLE), DWORD(FALSE)) << "mode " << r.mode;
    }
}

TEST_F(DeviceHelpers, UnknownBlendModesChangeNothing) {
    setBlendMode(Subtract);
    const std::vector<DWORD> statesBefore = allRenderStates();
    trace.clear();
    for (unsigned mode : {6u, 7u, 1000u, UINT_MAX}) setBlendMode(mode);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(allRenderStates(), statesBefore);
}

TEST(LightAndMaterial, PointLightFillsEveryField) {
    D3DLIGHT9 light;
    std::memset(&light, 0xFF, sizeof light);
    const D3DCOLORVALUE color = {0.7f, 0.6f, 0.5f, 1};
    const D3DVECTOR position = {-10, 15, -30};
    initPointLight(&light, &color, &position, 1000);

    D3DLIGHT9 expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Type = D3DLIGHT_POINT;
    expected.Diffuse = color;
    expected.Specular = color;
    expected.Position = position;
    expected.Direction = {0, 0, 1};
    expected.Range = 1000;
    expected.Attenuation0 = 1;
    EXPECT_EQ(std::memcmp(&light, &expected, sizeof light), 0);
}

TEST(LightAndMaterial, MaterialTakesDiffuseAmbientSpecularEmissiveInThatOrder) {
    D3DMATERIAL9 material;
    const D3DCOLORVALUE diffuse = {1, 0, 0, 1}, ambient = {0, 1, 0, 1}, specular = {0, 0, 1, 1},
                        emissive = {0.5f, 0.5f, 0.5f, 0.25f};
    initMaterial(&material, &diffuse, &ambient, &specular, &emissive, 8);
    EXPECT_EQ(std::memcmp(&material.Diffuse, &diffuse, sizeof diffuse), 0);
    EXPECT_EQ(std::memcmp(&material.Ambient, &ambient, sizeof ambient), 0);
    EXPECT_EQ(std::memcmp(&material.Specular, &specular, sizeof specular), 0);
    EXPECT_EQ(std::memcmp(&material.Emissive, &emissive, sizeof emissive), 0);
    EXPECT_EQ(material.Power, 8.0f);
}

TEST_F(DeviceHelpers, DrawMeshScaledScalesInTheMeshSpaceEachTime) {
    TestMesh mesh(D3DFVF_XYZ | D3DFVF_NORMAL, 24, 3);
    std::vector<DWORD> depthWritesWhileDrawing;
    mesh.onDrawSubset = [&](DWORD subset) {
        EXPECT_EQ(subset, 0u);
        depthWritesWhileDrawing.push_back(state(D3DRS_ZWRITEENABLE));
    };
    D3DXMATRIX world;
    D3DXMatrixTranslation(&world, 1, 2, 3);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);

    drawMeshScaled(&mesh, 1.1f);
    drawMeshScaled(&mesh, 1.1f);

    D3DMATRIX result;
    device->GetTransform(D3DTS_WORLD, &result);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float expected = r == c ? (r < 3 ? 1.21f : 1.0f) : 0.0f;
            if (r == 3 && c < 3) expected = float(c + 1);  // the scale does not reach the translation
            EXPECT_NEAR(result.m[r][c], expected, 1e-6f) << "m" << r + 1 << c + 1;
        }
    EXPECT_EQ(depthWritesWhileDrawing, (std::vector<DWORD>{FALSE, FALSE}));
    EXPECT_EQ(state(D3DRS_ZWRITEENABLE), DWORD(TRUE));
}

TEST_F(DeviceHelpers, PointCloudDrawsNothingUntilAttached) {
    MeshPointCloud cloud;
    cloud.drawPoints();
    cloud.attach(nullptr);
    cloud.drawPoints();
    EXPECT_TRUE(trace.empty());
}

TEST_F(DeviceHelpers, PointCloudDrawsEveryVertexAdditivelyAndRestoresBlending) {
    TestMesh mesh(D3DFVF_XYZ | D3DFVF_NORMAL, 24, 5);
    mesh.deviceBuffer = makeBuffer(24 * 5);
    ASSERT_NE(mesh.deviceBuffer, nullptr);
    {
        MeshPointCloud cloud;
        cloud.attach(&mesh);
        EXPECT_EQ(cloud.vertexBuffer, mesh.deviceBuffer);
        EXPECT_EQ(cloud.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL));
        EXPECT_EQ(cloud.vertexCount, 5u);
        EXPECT_EQ(cloud.stride, 24u);

        trace.clear();
        cloud.drawPoints();
        EXPECT_EQ(trace, (std::vector<std::string>{
                             renderState(D3DRS_ZWRITEENABLE, FALSE),
                             renderState(D3DRS_SPECULARENABLE, FALSE),
                             renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD),
                             renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
                             renderState(D3DRS_DESTBLEND, D3DBLEND_ONE),
                             call("SetStreamSource(0,%p,0,24)", static_cast<void*>(mesh.deviceBuffer)),
                             "SetFVF(0x12)",
                             "DrawPrimitive(1,0,5)",
                             renderState(D3DRS_BLENDOP, D3DBLENDOP_ADD),
                             renderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
                             renderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA),
                             renderState(D3DRS_SPECULARENABLE, TRUE),
                             renderState(D3DRS_ZWRITEENABLE, TRUE),
                         }));
        device->SetStreamSource(0, nullptr, 0, 0);
    }
    mesh.deviceBuffer->Release();  // the cloud's reference went with it, or this leaks (TearDown)
}

TEST_F(DeviceHelpers, PointCloudHoldsOneReferenceToTheLastAttachedBuffer) {
    TestMesh first(D3DFVF_XYZ, 12, 4), second(D3DFVF_XYZ | D3DFVF_DIFFUSE, 16, 2);
    first.deviceBuffer = makeBuffer(12 * 4);
    second.deviceBuffer = makeBuffer(16 * 2);
    auto references = [](IDirect3DVertexBuffer9* buffer) {
        buffer->AddRef();
        return buffer->Release();
    };
    {
        MeshPointCloud cloud;
        cloud.attach(&first);
        EXPECT_EQ(references(first.deviceBuffer), 2u);
        cloud.attach(&first);  // attaching again every frame takes no extra reference
        EXPECT_EQ(references(first.deviceBuffer), 2u);
        cloud.attach(&second);
        EXPECT_EQ(references(first.deviceBuffer), 1u);
        EXPECT_EQ(references(second.deviceBuffer), 2u);
        EXPECT_EQ(cloud.stride, 16u);
        EXPECT_EQ(cloud.vertexCount, 2u);
    }
    EXPECT_EQ(references(second.deviceBuffer), 1u);
    first.deviceBuffer->Release();
    second.deviceBuffer->Release();
}

}  // namespace
