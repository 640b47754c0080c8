// Decoding JPEG and PNG files into 8-bit RGBA, and the filters that size them into textures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace image {

// Limits that keep a hostile picture within bounded memory and time. The show's largest picture is
// 2048 pixels on a side; a 4096 x 4096 picture and its texture chain take about 250 MB while loading.
constexpr uint32_t maxDimension = 4096;
constexpr int maxJpegScans = 1000;  // progressive files with endless scans take endless time

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
