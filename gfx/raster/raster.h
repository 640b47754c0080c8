// The software renderer's one entry: a draw with a fully resolved state snapshot. It knows nothing of
// the API objects in front of it; the device builds the snapshot from its state and resources.
#pragma once

#include <cstdint>

#include "gfx/raster/limits.h"

namespace raster {

struct Color {
    float r, g, b, a;
};

// 32-bit A8R8G8B8 colour target and D24S8 depth/stencil (depth in the upper 24 bits).
struct Target {
    uint32_t* color = nullptr;
    int colorPitch = 0;  // in pixels
    int colorWidth = 0;
    int colorHeight = 0;
    uint32_t* depthStencil = nullptr;
    int depthPitch = 0;
    int depthWidth = 0;
    int depthHeight = 0;
};

struct Viewport {
    int x, y, width, height;
    float minZ, maxZ;
};

struct TextureLevel {
    const uint32_t* texels = nullptr;  // A8R8G8B8 words
    int width = 0;
    int height = 0;
};

struct Texture {
    int levelCount = 0;
    bool opaque = false;  // X8R8G8B8: alpha reads as 1
    TextureLevel levels[maxMipLevels];
};

enum class Address { Wrap = 1, Mirror = 2, Clamp = 3, Border = 4, MirrorOnce = 5 };
enum class Filter { None = 0, Point = 1, Linear = 2 };

struct Sampler {
    Address addressU = Address::Wrap;
    Address addressV = Address::Wrap;
    Filter mag = Filter::Point;
    Filter min = Filter::Point;
    Filter mip = Filter::None;
    uint32_t borderColor = 0;
};

struct Stage {
    uint32_t colorOp, colorArg1, colorArg2, colorArg0;
    uint32_t alphaOp, alphaArg1, alphaArg2, alphaArg0;
    uint32_t resultArg;
    uint32_t texCoordIndex;   // low 16 bits: coordinate set; high bits: generation mode
    uint32_t transformFlags;  // D3DTTFF_*
    float textureMatrix[16];
    const Texture* texture = nullptr;
    Sampler sampler;
};

struct Light {
    bool enabled = false;
    uint32_t type = 0;  // 1 point, 2 spot, 3 directional
    Color diffuse, specular, ambient;
    float position[3];
    float direction[3];
    float range, falloff, attenuation0, attenuation1, attenuation2, theta, phi;
};

struct Material {
    Color diffuse, ambient, specular, emissive;
    float power;
};

// The render, stage and transform state of one draw, already resolved from the API's state.
struct State {
    float world[16], view[16], projection[16];
    Viewport viewport;

    bool lighting, specularEnable, normalizeNormals, localViewer, colorVertex;
    uint32_t ambient;  // global ambient, A8R8G8B8
    uint32_t diffuseSource, ambientSource, specularSource, emissiveSource;
    Material material;
    Light lights[maxLights];

    uint32_t cullMode;  // D3DCULL_*
    uint32_t fillMode;
    uint32_t shadeMode;
    uint32_t zEnable, zWriteEnable, zFunc;
    bool alphaTestEnable;
    uint32_t alphaRef, alphaFunc;
    bool alphaBlendEnable;
    uint32_t srcBlend, destBlend, blendOp;
    bool stencilEnable;
    uint32_t stencilFail, stencilZFail, stencilPass, stencilFunc, stencilRef, stencilMask, stencilWriteMask;
    uint32_t colorWriteEnable;
    uint32_t textureFactor;

    bool pointSpriteEnable, pointScaleEnable;
    float pointSize, pointSizeMin, pointSizeMax, pointScaleA, pointScaleB, pointScaleC;

    Stage stages[maxTextureStages];
};

enum class Primitive { PointList = 1, LineList = 2, LineStrip = 3, TriangleList = 4, TriangleStrip = 5, TriangleFan = 6 };

// Vertices in a flexible vertex format; indices optional (16- or 32-bit).
struct Geometry {
    uint32_t fvf = 0;
    const uint8_t* vertices = nullptr;
    uint32_t stride = 0;
    uint32_t vertexCount = 0;  // vertices readable from `vertices`
    const void* indices = nullptr;
    uint32_t indexCount = 0;  // indices readable from `indices`
    bool indices32 = false;
    int32_t baseVertex = 0;
    Primitive primitive = Primitive::TriangleList;
    uint32_t primitiveCount = 0;
};

void draw(const State& state, const Target& target, const Geometry& geometry);

// Threads that share the rows of a large draw: 2 (the default) or 1. Either way the pixels are the
// same. Tools that render frames in parallel of their own ask for 1.
void setWorkerThreads(int count);

// Whether common states may run one-pass span routines (the default) instead of the general pipeline.
// They agree to within two steps of 255; tests and benchmarks switch them off to compare.
void setSpecialisedSpans(bool enabled);

}  // namespace raster
