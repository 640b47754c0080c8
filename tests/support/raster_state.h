// The renderer's state snapshot as tests and benchmarks of the renderer start from it.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/d3d9/d3d9types.h"  // constants only: the renderer takes them as plain numbers
#include "gfx/raster/raster.h"

inline void identity(float* m) {
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

// Direct3D's documented defaults, with lighting off, no depth test and no culling.
inline raster::State startingState(int width, int height) {
    raster::State s{};
    identity(s.world);
    identity(s.view);
    identity(s.projection);
    s.viewport = {0, 0, width, height, 0.0f, 1.0f};
    s.lighting = false;
    s.localViewer = true;
    s.colorVertex = true;
    s.diffuseSource = D3DMCS_COLOR1;
    s.specularSource = D3DMCS_COLOR2;
    s.ambientSource = D3DMCS_MATERIAL;
    s.emissiveSource = D3DMCS_MATERIAL;
    s.cullMode = D3DCULL_NONE;
    s.fillMode = D3DFILL_SOLID;
    s.shadeMode = D3DSHADE_GOURAUD;
    s.zEnable = D3DZB_FALSE;
    s.zWriteEnable = TRUE;
    s.zFunc = D3DCMP_LESSEQUAL;
    s.alphaFunc = D3DCMP_ALWAYS;
    s.srcBlend = D3DBLEND_ONE;
    s.destBlend = D3DBLEND_ZERO;
    s.blendOp = D3DBLENDOP_ADD;
    s.stencilFail = s.stencilZFail = s.stencilPass = D3DSTENCILOP_KEEP;
    s.stencilFunc = D3DCMP_ALWAYS;
    s.stencilMask = s.stencilWriteMask = 0xFFFFFFFF;
    s.colorWriteEnable = 0xF;
    s.textureFactor = 0xFFFFFFFF;
    s.pointSize = 1.0f;
    s.pointSizeMin = 1.0f;
    s.pointSizeMax = 64.0f;
    s.pointScaleA = 1.0f;
    for (int i = 0; i < raster::maxTextureStages; ++i) {
        raster::Stage& st = s.stages[i];
        st.colorOp = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        st.alphaOp = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        st.colorArg1 = st.alphaArg1 = D3DTA_TEXTURE;
        st.colorArg2 = st.alphaArg2 = D3DTA_CURRENT;
        st.colorArg0 = st.alphaArg0 = st.resultArg = D3DTA_CURRENT;
        st.texCoordIndex = uint32_t(i);
        st.transformFlags = D3DTTFF_DISABLE;
        identity(st.textureMatrix);
    }
    return s;
}

// A draw of `count` primitives from the vertices in `vertices`, not indexed.
template <class Vertex>
raster::Geometry geometryOf(uint32_t fvf, raster::Primitive primitive, const std::vector<Vertex>& vertices,
                            uint32_t count) {
    raster::Geometry g;
    g.fvf = fvf;
    g.vertices = reinterpret_cast<const uint8_t*>(vertices.data());
    g.stride = sizeof(Vertex);
    g.vertexCount = uint32_t(vertices.size());
    g.primitive = primitive;
    g.primitiveCount = count;
    return g;
}
