// Drawing must not allocate: a frame makes hundreds of draws, and the allocator's lock would be
// shared with the worker thread. Counts operator new calls made while draws run.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "gfx/d3d9/d3d9types.h"
#include "gfx/raster/raster.h"
#include "tests/support/raster_state.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// GCC pairs these replacements with the library's own new and warns of a mismatch that is not there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (counting) ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

struct Vertex {
    float x, y, z, nx, ny, nz;
    uint32_t color;
    float u, v;
};

TEST(RasterAllocation, LitTexturedBlendedDrawsAndSpritesAllocateNothing) {
    constexpr int width = 256, height = 192;
    std::vector<uint32_t> color(width * height, 0xFF000000), depth(width * height, 0xFFFFFF00u);
    raster::Target target{color.data(), width, width, height, depth.data(), width, width, height};
    std::vector<uint32_t> texels(16 * 16, 0x80FF8040);
    raster::Texture texture;
    texture.levelCount = 1;
    texture.levels[0] = {texels.data(), 16, 16};

    raster::State s{};
    identity(s.world);
    identity(s.view);
    identity(s.projection);
    s.projection[10] = 0.5f;  // z 1 -> depth 0.5
    s.viewport = {0, 0, width, height, 0, 1};
    s.lighting = true;
    s.ambient = 0xFF202020;
    s.material = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    s.lights[0].enabled = true;
    s.lights[0].type = D3DLIGHT_DIRECTIONAL;
    s.lights[0].diffuse = {1, 1, 1, 1};
    s.lights[0].direction[2] = 1;
    s.cullMode = D3DCULL_NONE;
    s.fillMode = D3DFILL_SOLID;
    s.shadeMode = D3DSHADE_GOURAUD;
    s.zEnable = D3DZB_TRUE;
    s.zWriteEnable = TRUE;
    s.zFunc = D3DCMP_LESSEQUAL;
    s.alphaTestEnable = true;
    s.alphaFunc = D3DCMP_GREATER;
    s.alphaBlendEnable = true;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    s.blendOp = D3DBLENDOP_ADD;
    s.stencilFunc = D3DCMP_ALWAYS;
    s.stencilFail = s.stencilZFail = s.stencilPass = D3DSTENCILOP_KEEP;
    s.stencilMask = s.stencilWriteMask = 0xFFFFFFFF;
    s.colorWriteEnable = 0xF;
    s.pointSize = 6;
    s.pointSizeMin = 1;
    s.pointSizeMax = 64;
    s.pointScaleA = 1;
    for (int i = 0; i < raster::maxTextureStages; ++i) {
        raster::Stage& st = s.stages[i];
        st.colorOp = st.alphaOp = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        st.colorArg1 = st.alphaArg1 = D3DTA_TEXTURE;
        st.colorArg2 = st.alphaArg2 = D3DTA_DIFFUSE;
        st.colorArg0 = st.alphaArg0 = st.resultArg = D3DTA_CURRENT;
        st.texCoordIndex = uint32_t(i);
        identity(st.textureMatrix);
    }
    s.stages[0].texture = &texture;
    s.stages[0].sampler.mag = s.stages[0].sampler.min = raster::Filter::Linear;

    // A fan crossing the near plane (clipping) and covering most of the target (shared rows).
    std::vector<Vertex> mesh;
    for (int i = 0; i < 64; ++i) {
        float a = float(i) * 0.2f;
        mesh.push_back({std::cos(a) * 1.5f, std::sin(a) * 1.5f, float(i % 5) * 0.5f - 0.5f, 0, 0, -1,
                        0x80FFFFFF, std::cos(a), std::sin(a)});
    }
    std::vector<uint16_t> indices;
    for (uint16_t i = 1; i + 1 < 64; ++i)
        for (uint16_t k : {uint16_t(0), i, uint16_t(i + 1)}) indices.push_back(k);
    raster::Geometry triangles;
    triangles.fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    triangles.vertices = reinterpret_cast<const uint8_t*>(mesh.data());
    triangles.stride = sizeof(Vertex);
    triangles.vertexCount = uint32_t(mesh.size());
    triangles.indices = indices.data();
    triangles.indexCount = uint32_t(indices.size());
    triangles.primitiveCount = uint32_t(indices.size() / 3);
    raster::Geometry points = triangles;
    points.indices = nullptr;
    points.indexCount = 0;
    points.primitive = raster::Primitive::PointList;
    points.primitiveCount = uint32_t(mesh.size());

    // The hook itself counts.
    counting = true;
    ::operator delete(::operator new(16));  // a call, which unlike a new-expression cannot be elided
    counting = false;
    ASSERT_EQ(allocations.load(), 1);

    for (int workers : {1, 2}) {
        raster::setWorkerThreads(workers);
        raster::draw(s, target, triangles);  // first use may start the worker thread
        allocations = 0;
        counting = true;
        for (int repeat = 0; repeat < 3; ++repeat) {
            raster::draw(s, target, triangles);
            s.pointSpriteEnable = true;
            raster::draw(s, target, points);
            s.pointSpriteEnable = false;
        }
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << workers << " worker(s)";
    }
    raster::setWorkerThreads(2);
}

}  // namespace
