// The renderer on its own, driven with plain state snapshots: near-plane clipping, texture
// coordinate generation and transforms, addressing modes, hand-computed lighting, point size limits,
// and byte-identical output for any worker count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/d3d9/d3d9types.h"  // constants only: the renderer takes them as plain numbers
#include "gfx/raster/raster.h"
#include "tests/support/raster_state.h"

namespace {

constexpr uint32_t black = 0xFF000000;

struct Surface {
    int width, height;
    std::vector<uint32_t> color, depth;
    Surface(int w, int h)
        : width(w), height(h), color(size_t(w * h), black), depth(size_t(w * h), 0xFFFFFF00u) {}
    raster::Target target() {
        return {color.data(), width, width, height, depth.data(), width, width, height};
    }
    uint32_t at(int x, int y) const { return color[size_t(y * width + x)]; }
};

template <class Vertex>
void drawList(const raster::State& s, Surface& surface, uint32_t fvf, raster::Primitive primitive,
              const std::vector<Vertex>& vertices, uint32_t count) {
    raster::draw(s, surface.target(), geometryOf(fvf, primitive, vertices, count));
}

// A 4 x 1 texture of four distinct opaque colours, so a pixel tells which texel was read.
const uint32_t strip[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
raster::Texture stripTexture() {
    raster::Texture t;
    t.levelCount = 1;
    t.levels[0] = {strip, 4, 1};
    return t;
}

struct Position {
    float x, y, z;
    D3DCOLOR color;
};

TEST(RasterClip, TheNearPlaneCutsTransformedTrianglesWhereDepthTurnsNegative) {
    Surface surface(16, 16);
    raster::State s = startingState(16, 16);
    // Identity transforms: clip z equals x, so the left half of the square lies in front of the near plane.
    const D3DCOLOR red = 0xFFFF0000;
    std::vector<Position> quad = {{-1, -1, -1, red}, {-1, 1, -1, red}, {1, -1, 1, red}, {1, 1, 1, red}};
    drawList(s, surface, D3DFVF_XYZ | D3DFVF_DIFFUSE, raster::Primitive::TriangleStrip, quad, 2);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 7; ++x) EXPECT_EQ(surface.at(x, y), black) << x << "," << y;
        for (int x = 9; x < 16; ++x) EXPECT_EQ(surface.at(x, y), red) << x << "," << y;
    }
}

struct NormalVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

// A small square far down the z axis, so the eye vector is (0, 0, -1) everywhere on it to within 1%.
raster::State farSquareState(int size) {
    raster::State s = startingState(size, size);
    s.projection[10] = 1.0f / 200.0f;  // z 100 -> depth 0.5
    return s;
}
std::vector<NormalVertex> farSquare(float nx, float ny, float nz, float u, float v) {
    return {{-1, -1, 100, nx, ny, nz, u, v},
            {-1, 1, 100, nx, ny, nz, u, v},
            {1, -1, 100, nx, ny, nz, u, v},
            {1, 1, 100, nx, ny, nz, u, v}};
}

TEST(RasterTexCoords, GeneratedCoordinatesAndTransformsPickTheExpectedTexel) {
    const float h = std::sqrt(0.5f);
    // The normal leans half way between the eye and +x: its camera-space x is 0.707 (texel 2 of 4), and
    // the eye vector reflects about it to exactly +x (u = 1, clamped to texel 3).
    struct Case {
        const char* name;
        uint32_t texCoordIndex, transformFlags;
        int element;  // texture matrix entry set to `value`: 8 is _31, 12 is _41
        float value;
        float u;  // the vertex's own coordinate
        uint32_t expected;
    };
    const Case cases[] = {
        {"pass-through", 0, D3DTTFF_DISABLE, 8, 0.0f, 0.1f, strip[0]},
        {"camera-space normal", D3DTSS_TCI_CAMERASPACENORMAL, D3DTTFF_DISABLE, 8, 0.0f, 0.1f, strip[2]},
        {"reflection", D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR, D3DTTFF_DISABLE, 8, 0.0f, 0.1f, strip[3]},
        {"matrix ignored when disabled", 0, D3DTTFF_DISABLE, 8, 0.5f, 0.1f, strip[0]},
        // Two-component coordinates are (u, v, 1): their translation sits in the third row.
        {"COUNT2 translates 2D coordinates by _31", 0, D3DTTFF_COUNT2, 8, 0.5f, 0.1f, strip[2]},
        {"COUNT2 ignores _41 for 2D coordinates", 0, D3DTTFF_COUNT2, 12, 0.5f, 0.1f, strip[0]},
        // Generated coordinates are (x, y, z, 1): _41 translates, _31 scales z (-0.707 here).
        {"COUNT2 translates a generated normal by _41", D3DTSS_TCI_CAMERASPACENORMAL, D3DTTFF_COUNT2, 12,
         -0.5f, 0.1f, strip[0]},
        {"COUNT2 mixes z into a generated normal by _31", D3DTSS_TCI_CAMERASPACENORMAL, D3DTTFF_COUNT2, 8,
         -0.5f, 0.1f, strip[3]},
    };
    raster::Texture texture = stripTexture();
    for (const Case& c : cases) {
        Surface surface(8, 8);
        raster::State s = farSquareState(8);
        s.stages[0].colorOp = D3DTOP_SELECTARG1;
        s.stages[0].texture = &texture;
        s.stages[0].sampler.addressU = raster::Address::Clamp;
        s.stages[0].sampler.addressV = raster::Address::Clamp;
        s.stages[0].texCoordIndex = c.texCoordIndex;
        s.stages[0].transformFlags = c.transformFlags;
        s.stages[0].textureMatrix[c.element] = c.value;
        drawList(s, surface, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 farSquare(h, 0, -h, c.u, 0.0f), 2);
        EXPECT_EQ(surface.at(4, 4), c.expected) << c.name;
    }
}

struct ScreenTexVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

TEST(RasterSampler, AddressModesBeyondTheFirstRepeat) {
    struct Case {
        raster::Address mode;
        int expected[8];  // texel index read by pixels 0..7 for u running 0..2
    };
    const Case cases[] = {
        {raster::Address::Wrap, {0, 1, 2, 3, 0, 1, 2, 3}},
        {raster::Address::Mirror, {0, 1, 2, 3, 3, 2, 1, 0}},
        {raster::Address::Clamp, {0, 1, 2, 3, 3, 3, 3, 3}},
    };
    raster::Texture texture = stripTexture();
    for (const Case& c : cases) {
        Surface surface(8, 1);
        raster::State s = startingState(8, 1);
        s.stages[0].colorOp = D3DTOP_SELECTARG1;
        s.stages[0].texture = &texture;
        s.stages[0].sampler.addressU = c.mode;
        const D3DCOLOR white = 0xFFFFFFFF;
        std::vector<ScreenTexVertex> quad = {{-0.5f, -0.5f, 0.5f, 1, white, 0, 0},
                                             {7.5f, -0.5f, 0.5f, 1, white, 2, 0},
                                             {-0.5f, 0.5f, 0.5f, 1, white, 0, 1},
                                             {7.5f, 0.5f, 0.5f, 1, white, 2, 1}};
        drawList(s, surface, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 quad, 2);
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(surface.at(x, 0), strip[c.expected[x]]) << "mode " << int(c.mode) << " pixel " << x;
    }
}

void expectNear(uint32_t got, uint32_t want, const char* name) {
    for (int shift = 0; shift < 32; shift += 8) {
        int w = int((want >> shift) & 0xFF), h = int((got >> shift) & 0xFF);
        EXPECT_NEAR(h, w, 1) << name << std::hex << ": got " << got << ", want " << want;
    }
}

std::vector<ScreenTexVertex> screenQuad(int size, D3DCOLOR color) {
    const float e = float(size) - 0.5f;
    return {{-0.5f, -0.5f, 0.5f, 1, color, 0, 0},
            {e, -0.5f, 0.5f, 1, color, 1, 0},
            {-0.5f, e, 0.5f, 1, color, 0, 1},
            {e, e, 0.5f, 1, color, 1, 1}};
}

TEST(RasterStages, TextureAndDiffuseCombineAsEachOperationSays) {
    // texel: a 0.5, r 0.5, g 0.25, b 1; diffuse: r 0.25, g 0.5, b 0.75, a 1
    const uint32_t texel = 0x808040FF;
    const D3DCOLOR diffuse = 0xFF4080C0;
    struct Case {
        const char* name;
        uint32_t op0, op1;  // stage 1 combines the texture with the current colour
        uint32_t expected;
    };
    const Case cases[] = {
        {"modulate", D3DTOP_MODULATE, D3DTOP_DISABLE, 0x802020BF},
        {"add, clamped", D3DTOP_ADD, D3DTOP_DISABLE, 0x80BFBFFF},
        {"add smooth", D3DTOP_ADDSMOOTH, D3DTOP_DISABLE, 0x809F9FFF},
        {"modulate 2x, clamped", D3DTOP_MODULATE2X, D3DTOP_DISABLE, 0x804040FF},
        {"subtract, clamped at 0", D3DTOP_SUBTRACT, D3DTOP_DISABLE, 0x80400040},
        {"select diffuse", D3DTOP_SELECTARG2, D3DTOP_DISABLE, 0x804080C0},
        {"modulate then add smooth", D3DTOP_MODULATE, D3DTOP_ADDSMOOTH, 0x808F58FF},
    };
    raster::Texture texture;
    texture.levelCount = 1;
    texture.levels[0] = {&texel, 1, 1};
    for (const Case& c : cases) {
        Surface surface(4, 4);
        raster::State s = startingState(4, 4);
        s.stages[0].texture = &texture;
        s.stages[0].colorOp = c.op0;
        s.stages[0].colorArg2 = D3DTA_DIFFUSE;
        s.stages[1].texture = &texture;
        s.stages[1].colorOp = c.op1;
        s.stages[1].texCoordIndex = 0;
        drawList(s, surface, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 screenQuad(4, diffuse), 2);
        expectNear(surface.at(2, 2), c.expected, c.name);
    }
}

TEST(RasterBlend, OperationsAndFactorsBeyondTheUsualPair) {
    struct Case {
        const char* name;
        uint32_t op, src, dest;
        uint32_t destination, source, expected;
    };
    const Case cases[] = {
        {"min", D3DBLENDOP_MIN, D3DBLEND_ONE, D3DBLEND_ONE, 0xFF804020, 0x40C04010, 0x40804010},
        {"multiply by the target", D3DBLENDOP_ADD, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, 0xFF808080, 0xFF804020,
         0xFF402010},
        {"additive", D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, 0x80C08040, 0x80808080, 0xFFFFFFC0},
        {"inverse target colour", D3DBLENDOP_ADD, D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, 0xFF00FF80,
         0xFFFFFFFF, 0x00FF007F},
    };
    for (const Case& c : cases) {
        Surface surface(4, 4);
        std::fill(surface.color.begin(), surface.color.end(), c.destination);
        raster::State s = startingState(4, 4);
        s.alphaBlendEnable = true;
        s.blendOp = c.op;
        s.srcBlend = c.src;
        s.destBlend = c.dest;
        s.stages[0].colorOp = s.stages[0].alphaOp = D3DTOP_SELECTARG2;
        s.stages[0].colorArg2 = s.stages[0].alphaArg2 = D3DTA_DIFFUSE;
        drawList(s, surface, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 screenQuad(4, c.source), 2);
        expectNear(surface.at(1, 1), c.expected, c.name);
    }
}

TEST(RasterLighting, DirectionalLightAgainstHandComputedColours) {
    struct Case {
        const char* name;
        float nz;  // the normal's z: -1 faces the light, +1 faces away
        float specularPower;
        uint32_t expected;
    };
    // global ambient 0.25 * material ambient 1 + light diffuse (1, 0.5, 0) * material diffuse 0.5 * N.L
    const Case cases[] = {
        {"facing the light", -1.0f, 0.0f, 0xFFBF8040},
        {"facing away: ambient only", 1.0f, 0.0f, 0xFF404040},
    };
    for (const Case& c : cases) {
        Surface surface(8, 8);
        raster::State s = farSquareState(8);
        s.lighting = true;
        s.ambient = 0x00404040;
        s.diffuseSource = s.specularSource = D3DMCS_MATERIAL;
        s.material.diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
        s.material.ambient = {1, 1, 1, 1};
        raster::Light& light = s.lights[0];
        light.enabled = true;
        light.type = D3DLIGHT_DIRECTIONAL;
        light.diffuse = {1.0f, 0.5f, 0.0f, 1.0f};
        light.direction[2] = 1.0f;
        light.range = 1000.0f;
        light.attenuation0 = 1.0f;
        s.stages[0].colorOp = D3DTOP_SELECTARG2;
        s.stages[0].colorArg2 = D3DTA_DIFFUSE;
        s.stages[0].alphaOp = D3DTOP_SELECTARG2;
        s.stages[0].alphaArg2 = D3DTA_DIFFUSE;
        drawList(s, surface, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 farSquare(0, 0, c.nz, 0, 0), 2);
        uint32_t got = surface.at(4, 4);
        for (int shift = 0; shift < 32; shift += 8) {
            int want = int((c.expected >> shift) & 0xFF), have = int((got >> shift) & 0xFF);
            EXPECT_NEAR(have, want, 1) << c.name << std::hex << " got " << got;
        }
    }
}

struct ScreenPoint {
    float x, y, z, rhw;
    D3DCOLOR color;
};

TEST(RasterPoints, SpriteSizeIsClampedToTheMinimumAndMaximum) {
    struct Case {
        float size, minimum, maximum;
        int side;  // pixels covered along each axis
    };
    const Case cases[] = {
        {4.0f, 1.0f, 64.0f, 4},
        {20.0f, 1.0f, 4.0f, 4},
        {2.0f, 6.0f, 64.0f, 6},
    };
    const D3DCOLOR green = 0xFF00FF00;
    for (const Case& c : cases) {
        Surface surface(16, 16);
        raster::State s = startingState(16, 16);
        s.pointSpriteEnable = true;
        s.pointSize = c.size;
        s.pointSizeMin = c.minimum;
        s.pointSizeMax = c.maximum;
        std::vector<ScreenPoint> point = {{8, 8, 0.5f, 1, green}};
        drawList(s, surface, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, raster::Primitive::PointList, point, 1);
        int covered = 0;
        for (uint32_t p : surface.color) covered += p == green;
        EXPECT_EQ(covered, c.side * c.side) << "size " << c.size;
    }
}

TEST(RasterDeterminism, OneOrTwoWorkersGiveTheSameBytes) {
    raster::Texture texture = stripTexture();
    auto render = [&](int workers) {
        raster::setWorkerThreads(workers);
        Surface surface(64, 48);
        raster::State s = startingState(64, 48);
        s.zEnable = D3DZB_TRUE;
        s.alphaBlendEnable = true;
        s.srcBlend = D3DBLEND_SRCALPHA;
        s.destBlend = D3DBLEND_INVSRCALPHA;
        s.stages[0].texture = &texture;
        s.stages[0].sampler.mag = s.stages[0].sampler.min = raster::Filter::Linear;
        std::vector<ScreenTexVertex> fan;
        for (int i = 0; i < 40; ++i) {
            float a = float(i) * 0.3f;
            fan.push_back({32 + 30 * std::cos(a), 24 + 22 * std::sin(a), 0.25f + 0.01f * float(i % 7), 1,
                           D3DCOLOR(0x80000000u | uint32_t(i * 6151)), std::cos(a) * 3, std::sin(a) * 2});
        }
        drawList(s, surface, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip,
                 fan, 38);
        return std::make_pair(surface.color, surface.depth);
    };
    auto one = render(1);
    auto two = render(2);
    auto again = render(2);
    raster::setWorkerThreads(2);
    EXPECT_TRUE(one == two);
    EXPECT_TRUE(two == again);
}

}  // namespace
