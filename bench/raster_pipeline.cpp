// The renderer alone, without the device in front, on the four kinds of draw a frame of the show is
// made of. Each reports pixels per second ("items_per_second") so the numbers compare with other
// rasterisers; Arg is the worker count (1 or 2).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "gfx/d3d9/d3d9types.h"  // constants only
#include "gfx/raster/raster.h"
#include "tests/support/raster_state.h"

namespace {

constexpr int screenWidth = 640, screenHeight = 480;

// The renderer's starting state on the whole screen, with Direct3D's default culling and depth test.
raster::State defaultState() {
    raster::State s = startingState(screenWidth, screenHeight);
    s.cullMode = D3DCULL_CCW;
    s.zEnable = D3DZB_TRUE;
    return s;
}

// A mip-mapped picture with a soft alpha ramp, boxed down level by level.
struct Picture {
    std::vector<std::vector<uint32_t>> levels;
    raster::Texture texture;
    Picture(int width, int height) {
        std::vector<uint32_t> top(size_t(width * height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                top[size_t(y * width + x)] = uint32_t((x + y) & 0xFF) << 24 | uint32_t(x * 7 & 0xFF) << 16 |
                                             uint32_t(y * 5 & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF);
        levels.push_back(top);
        int w = width, h = height;
        while ((w > 1 || h > 1) && int(levels.size()) < raster::maxMipLevels) {
            int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
            std::vector<uint32_t> next(size_t(nw * nh));
            const std::vector<uint32_t>& prev = levels.back();
            for (int y = 0; y < nh; ++y)
                for (int x = 0; x < nw; ++x)
                    next[size_t(y * nw + x)] =
                        prev[size_t(std::min(2 * y, h - 1) * w + std::min(2 * x, w - 1))];
            levels.push_back(std::move(next));
            w = nw;
            h = nh;
        }
        texture.levelCount = int(levels.size());
        w = width;
        h = height;
        for (size_t i = 0; i < levels.size(); ++i) {
            texture.levels[i] = {levels[i].data(), w, h};
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
        }
    }
};

struct Screen {
    std::vector<uint32_t> color = std::vector<uint32_t>(screenWidth * screenHeight, 0xFF202020);
    std::vector<uint32_t> depth = std::vector<uint32_t>(screenWidth * screenHeight, 0xFFFFFF00u);
    raster::Target target() {
        return {color.data(), screenWidth, screenWidth, screenHeight,
                depth.data(), screenWidth, screenWidth, screenHeight};
    }
    void clearDepth() { std::fill(depth.begin(), depth.end(), 0xFFFFFF00u); }
};

struct ScreenTexVertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

void linear(raster::Sampler& sampler) {
    sampler.mag = sampler.min = sampler.mip = raster::Filter::Linear;
}

// A 1024 x 512 picture stretched over the screen, bilinear, modulated by vertex alpha 0.5, alpha-tested
// (greater than 0) and blended over the target.
void TexturedBlendedQuad(benchmark::State& bench) {
    raster::setWorkerThreads(int(bench.range(0)));
    Picture picture(1024, 512);
    Screen screen;
    raster::State s = defaultState();
    s.zEnable = D3DZB_FALSE;
    s.alphaTestEnable = true;
    s.alphaFunc = D3DCMP_GREATER;
    s.alphaBlendEnable = true;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    s.stages[0].texture = &picture.texture;
    s.stages[0].colorArg2 = s.stages[0].alphaArg2 = D3DTA_DIFFUSE;
    s.stages[0].alphaOp = D3DTOP_MODULATE;
    s.stages[0].sampler.mag = s.stages[0].sampler.min = raster::Filter::Linear;
    const uint32_t half = 0x80FFFFFF;
    std::vector<ScreenTexVertex> quad = {{-0.5f, 479.5f, 0.5f, 1, half, 0, 1},
                                         {-0.5f, -0.5f, 0.5f, 1, half, 0, 0},
                                         {639.5f, 479.5f, 0.5f, 1, half, 1, 1},
                                         {639.5f, -0.5f, 0.5f, 1, half, 1, 0}};
    raster::Geometry g =
        geometryOf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip, quad, 2);
    raster::setSpecialisedSpans(bench.range(1) != 0);
    for (auto _ : bench) raster::draw(s, screen.target(), g);
    raster::setSpecialisedSpans(true);
    bench.SetItemsProcessed(bench.iterations() * screenWidth * screenHeight);
}
// Second argument 0: the general pipeline, for comparison with the one-pass span.
BENCHMARK(TexturedBlendedQuad)
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t color;
};

// The fade: a flat half-transparent black quad over the whole screen, no texture.
void FlatFadeQuad(benchmark::State& bench) {
    raster::setWorkerThreads(int(bench.range(0)));
    Screen screen;
    raster::State s = defaultState();
    s.zEnable = D3DZB_FALSE;
    s.alphaBlendEnable = true;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    s.stages[0].colorOp = s.stages[0].alphaOp = D3DTOP_SELECTARG2;
    s.stages[0].colorArg2 = s.stages[0].alphaArg2 = D3DTA_DIFFUSE;
    const uint32_t fade = 0x80000000;
    std::vector<ScreenVertex> quad = {{-0.5f, 479.5f, 0.5f, 1, fade},
                                      {-0.5f, -0.5f, 0.5f, 1, fade},
                                      {639.5f, 479.5f, 0.5f, 1, fade},
                                      {639.5f, -0.5f, 0.5f, 1, fade}};
    raster::Geometry g = geometryOf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE, raster::Primitive::TriangleStrip, quad, 2);
    for (auto _ : bench) raster::draw(s, screen.target(), g);
    bench.SetItemsProcessed(bench.iterations() * screenWidth * screenHeight);
}
BENCHMARK(FlatFadeQuad)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// Left-handed perspective, 60 degrees vertical, 4:3, near 1, far 1000.
void perspective(float* m) {
    const float yScale = 1.0f / std::tan(3.14159265f / 6.0f), xScale = yScale / (4.0f / 3.0f);
    const float zn = 1.0f, zf = 1000.0f;
    for (int i = 0; i < 16; ++i) m[i] = 0.0f;
    m[0] = xScale;
    m[5] = yScale;
    m[10] = zf / (zf - zn);
    m[11] = 1.0f;
    m[14] = -zn * zf / (zf - zn);
}

struct MeshVertex {
    float x, y, z, nx, ny, nz, u, v;
};

int coveredPixels(const Screen& before, const Screen& after) {
    int n = 0;
    for (size_t i = 0; i < before.color.size(); ++i) n += before.color[i] != after.color[i];
    return n;
}

// A sphere of 9 940 triangles lit by a directional light with specular, textured with trilinear
// filtering, depth-tested, covering about half the screen.
void LitTexturedMesh(benchmark::State& bench) {
    raster::setWorkerThreads(int(bench.range(0)));
    Picture picture(256, 256);
    const int rings = 71, segments = 72;
    std::vector<MeshVertex> vertices;
    for (int r = 0; r < rings; ++r)
        for (int k = 0; k < segments; ++k) {
            float th = 3.14159265f * float(r) / float(rings - 1),
                  ph = 6.2831853f * float(k) / float(segments - 1);
            float n[3] = {std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
            vertices.push_back({5.5f * n[0], 5.5f * n[1], 5.5f * n[2], n[0], n[1], n[2],
                                float(k) / float(segments), float(r) / float(rings)});
        }
    std::vector<uint16_t> indices;
    for (int r = 0; r < rings - 1; ++r)
        for (int k = 0; k < segments - 1; ++k) {
            uint16_t a = uint16_t(r * segments + k), b = uint16_t(a + segments);
            for (uint16_t i : {a, uint16_t(a + 1), b, uint16_t(a + 1), uint16_t(b + 1), b})
                indices.push_back(i);
        }
    raster::State s = defaultState();
    perspective(s.projection);
    s.world[14] = 12.0f;        // pushed 12 units in front of the eye
    s.cullMode = D3DCULL_NONE;  // whichever winding the sphere has, the far half is hidden by depth
    s.lighting = true;
    s.specularEnable = true;
    s.ambient = 0xFF202020;
    s.diffuseSource = s.specularSource = D3DMCS_MATERIAL;
    s.material = {{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, 16.0f};
    s.lights[0].enabled = true;
    s.lights[0].type = D3DLIGHT_DIRECTIONAL;
    s.lights[0].diffuse = s.lights[0].specular = {1, 1, 1, 1};
    s.lights[0].direction[0] = 0.5f;
    s.lights[0].direction[1] = -0.5f;
    s.lights[0].direction[2] = 0.7f;
    s.lights[0].range = 1000.0f;
    s.lights[0].attenuation0 = 1.0f;
    s.stages[0].texture = &picture.texture;
    linear(s.stages[0].sampler);
    raster::Geometry g = geometryOf(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, raster::Primitive::TriangleList,
                                  vertices, uint32_t(indices.size() / 3));
    g.indices = indices.data();
    g.indexCount = uint32_t(indices.size());
    Screen screen, blank;
    raster::draw(s, screen.target(), g);
    const int pixels = coveredPixels(blank, screen);
    for (auto _ : bench) {
        screen.clearDepth();
        raster::draw(s, screen.target(), g);
    }
    bench.SetItemsProcessed(bench.iterations() * pixels);
    bench.counters["triangles"] = double(indices.size() / 3);
    bench.counters["screen_fraction"] = double(pixels) / (screenWidth * screenHeight);
}
BENCHMARK(LitTexturedMesh)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

struct PointVertex {
    float x, y, z;
    uint32_t color;
};

// 5 000 textured point sprites of 16 x 16 pixels, added to the target, depth-tested without writing.
void PointSprites(benchmark::State& bench) {
    raster::setWorkerThreads(int(bench.range(0)));
    Picture picture(64, 64);
    std::vector<PointVertex> points;
    for (int i = 0; i < 5000; ++i)
        points.push_back({std::sin(float(i) * 0.37f) * 9.0f, std::cos(float(i) * 0.11f) * 6.5f,
                          20.0f + std::sin(float(i) * 0.05f) * 5.0f, 0xFF8080FFu});
    raster::State s = defaultState();
    perspective(s.projection);
    s.zWriteEnable = FALSE;
    s.alphaBlendEnable = true;
    s.srcBlend = D3DBLEND_ONE;
    s.destBlend = D3DBLEND_ONE;
    s.pointSpriteEnable = true;
    s.pointSize = 16.0f;
    s.stages[0].texture = &picture.texture;
    s.stages[0].colorArg2 = D3DTA_DIFFUSE;
    linear(s.stages[0].sampler);
    raster::Geometry g =
        geometryOf(D3DFVF_XYZ | D3DFVF_DIFFUSE, raster::Primitive::PointList, points, uint32_t(points.size()));
    Screen screen;
    for (auto _ : bench) raster::draw(s, screen.target(), g);
    bench.SetItemsProcessed(bench.iterations() * int64_t(points.size()) * 16 * 16);
}
BENCHMARK(PointSprites)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
