// Every limit and fixed constant of the software renderer in one place.
#pragma once

namespace raster {

constexpr int maxTextureStages = 8;
constexpr int maxLights = 8;
constexpr int maxMipLevels = 16;
constexpr int maxTextureSize = 8192;
// Vertices a triangle clipped against the near and far planes can grow to.
constexpr int maxClippedVertices = 8;
// Sub-pixel precision of the rasteriser's edge functions: 1/16 pixel.
constexpr int subpixelBits = 4;
constexpr float maxPointSize = 256.0f;

}  // namespace raster
