// Decoding JPEG and PNG files into 8-bit RGBA, and the filters that size them into textures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace image {

constexpr uint32_t maxDimension = 8192;

struct Rgba {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> pixels;  // r, g, b, a per pixel, rows top down
};

// False with a reason for anything that is not a readable PNG or JPEG within the limits.
bool decode(const std::vector<uint8_t>& file, Rgba& out, std::string& error);

// Resamples with a tent filter whose footprint covers each destination pixel's share of the source.
Rgba resizeTriangle(const Rgba& source, uint32_t width, uint32_t height);

// Halves each dimension (never below 1) by averaging 2x2 (or 2x1) blocks.
Rgba halveBox(const Rgba& source);

}  // namespace image
