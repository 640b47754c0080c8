// The one-pass textured span against the general pipeline it stands in for: the same draws with the
// specialised spans on and off must agree to rounding, pixel for pixel, for every filter, addressing,
// blend, alpha test, colour source and write mask it takes, on spans of every length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9types.h"  // constants only
#include "gfx/raster/raster.h"
#include "tests/support/raster_state.h"

namespace {

// Stage 0 modulates texture and diffuse colour in every channel, the stage the span stands in for.
raster::State spanState(int width, int height) {
    raster::State s = startingState(width, height);
    raster::Stage& stage = s.stages[0];
    stage.alphaOp = D3DTOP_MODULATE;
    stage.colorArg2 = stage.alphaArg2 = D3DTA_DIFFUSE;
    return s;
}

struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

// A fixed pseudo-random sequence, so a failure repeats.
struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

struct Picture {
    int width, height;
    std::vector<uint32_t> texels;
    std::vector<std::vector<uint32_t>> smaller;  // mip levels below the top, each halved
    raster::Texture texture;
    Picture(int w, int h, bool opaque, uint32_t seed, int levels = 1) : width(w), height(h), texels(size_t(w * h)) {
        Random random{seed};
        for (uint32_t& t : texels) t = random.next() | (random.next() << 24);
        texture.levelCount = levels;
        texture.opaque = opaque;
        texture.levels[0] = {texels.data(), w, h};
        for (int level = 1; level < levels; ++level) {
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
            smaller.emplace_back(size_t(w * h));
            for (uint32_t& t : smaller.back()) t = random.next() | (random.next() << 24);
            texture.levels[level] = {smaller.back().data(), w, h};
        }
    }
};

struct Case {
    const char* name;
    raster::Filter filter;
    raster::Address address;
    int textureWidth;  // a non-power of two under wrap is left to the general pipeline
    int blend;         // 0 none, 1 source alpha over, 2 source alpha added, 3 added
    bool alphaTest;
    bool opaque;
    bool flat;
    bool varyingColor;
    uint32_t writeMask;
    bool depth = false;       // depth-tested against a random depth buffer, written where it passes
    int mipLevels = 1;        // several: a 256-texel picture squeezed, so two levels blend
    bool untextured = false;  // the diffuse colour alone
};

struct Frame {
    std::vector<uint32_t> color, depth;
};

Frame render(const Case& c, bool specialised, int workers) {
    constexpr int W = 203, H = 61;  // odd sizes: spans of every length modulo eight
    raster::setSpecialisedSpans(specialised);
    raster::setWorkerThreads(workers);
    Picture picture(c.mipLevels > 1 ? 256 : c.textureWidth, c.mipLevels > 1 ? 128 : 32, c.opaque, 7, c.mipLevels);
    Frame frame;
    frame.color.resize(W * H);
    frame.depth.resize(W * H);
    Random random{99};
    for (uint32_t& p : frame.color) p = random.next() | (random.next() << 24);
    for (uint32_t& d : frame.depth) d = (random.next() % 0xFFFFFF) << 8 | 0x5A;
    raster::State s = spanState(W, H);
    s.zEnable = c.depth ? D3DZB_TRUE : D3DZB_FALSE;
    s.zWriteEnable = TRUE;
    s.shadeMode = c.flat ? D3DSHADE_FLAT : D3DSHADE_GOURAUD;
    s.alphaTestEnable = c.alphaTest;
    s.alphaFunc = D3DCMP_GREATER;
    s.alphaRef = 0x60;
    s.alphaBlendEnable = c.blend != 0;
    s.srcBlend = c.blend == 3 ? D3DBLEND_ONE : D3DBLEND_SRCALPHA;
    s.destBlend = c.blend >= 2 ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA;
    s.colorWriteEnable = c.writeMask;
    raster::Stage& stage = s.stages[0];
    if (c.untextured) {
        stage.colorOp = stage.alphaOp = D3DTOP_DISABLE;
    } else {
        stage.texture = &picture.texture;
    }
    stage.sampler.mag = stage.sampler.min = c.filter;
    stage.sampler.mip = c.mipLevels > 1 ? raster::Filter::Linear : raster::Filter::None;
    stage.sampler.addressU = stage.sampler.addressV = c.address;
    const uint32_t a = 0xC0F0E0D0, b = c.varyingColor ? 0x30204080 : a;
    // Stretched, offset and beyond [0, 1], so filtering, addressing and edges all show; sloped in
    // depth, so a depth test passes in some places and fails in others.
    const std::vector<Vertex> quad = {{3.3f, 57.6f, 0.1f, 1, a, -0.3f, 1.7f},
                                      {3.3f, 2.2f, 0.3f, 1, a, -0.3f, -0.2f},
                                      {199.7f, 57.6f, 0.7f, 1, b, 1.4f, 1.7f},
                                      {199.7f, 2.2f, 0.9f, 1, b, 1.4f, -0.2f}};
    const raster::Geometry g =
        geometryOf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip, quad, 2);
    const raster::Target target{frame.color.data(), W, W, H, frame.depth.data(), W, W, H};
    raster::draw(s, target, g);
    raster::setSpecialisedSpans(true);
    raster::setWorkerThreads(2);
    return frame;
}

int channelDifference(uint32_t p, uint32_t q) {
    int worst = 0;
    for (int shift = 0; shift < 32; shift += 8)
        worst = std::max(worst, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
    return worst;
}

const Case cases[] = {
    {"bilinear wrap, blended over, alpha-tested", raster::Filter::Linear, raster::Address::Wrap, 64, 1, true, false,
     false, false, 0xF},
    {"bilinear clamp, added", raster::Filter::Linear, raster::Address::Clamp, 64, 2, false, false, false, true, 0xF},
    {"bilinear wrap, no blend, opaque", raster::Filter::Linear, raster::Address::Wrap, 32, 0, false, true, false, true,
     0xF},
    {"point wrap, blended over", raster::Filter::Point, raster::Address::Wrap, 64, 1, false, false, false, true, 0xF},
    {"point clamp, alpha-tested, no blend", raster::Filter::Point, raster::Address::Clamp, 48, 0, true, false, false,
     false, 0xF},
    {"flat colour, bilinear, added", raster::Filter::Linear, raster::Address::Wrap, 64, 2, true, false, true, true, 0xF},
    {"point wrap, one plus one", raster::Filter::Point, raster::Address::Wrap, 64, 3, false, false, false, true, 0xF},
    {"colour writes without alpha", raster::Filter::Linear, raster::Address::Wrap, 64, 1, false, false, false, true,
     0x7},
    {"wrap on a width of 48 (general pipeline both ways)", raster::Filter::Linear, raster::Address::Wrap, 48, 1, true,
     false, false, true, 0xF},
    {"depth-tested, alpha-tested, blended over", raster::Filter::Linear, raster::Address::Wrap, 64, 1, true, false,
     false, true, 0xF, true},
    {"two mip levels blended, added", raster::Filter::Linear, raster::Address::Wrap, 64, 2, false, false, false, true,
     0xF, false, 4},
    {"untextured, depth-tested, blended over", raster::Filter::Point, raster::Address::Wrap, 64, 1, false, false,
     false, true, 0xF, true, 1, true},
};

TEST(TexturedSpan, AgreesWithTheGeneralPipelineToRounding) {
    for (const Case& c : cases) {
        const Frame fastFrame = render(c, true, 1), generalFrame = render(c, false, 1);
        const std::vector<uint32_t>& fast = fastFrame.color;
        const std::vector<uint32_t>& general = generalFrame.color;
        ASSERT_EQ(fast.size(), general.size());
        // Depth is computed the same way on both paths; only an alpha test decided the other way
        // may leave a word unwritten on one of them.
        size_t depthDiffers = 0;
        for (size_t i = 0; i < fast.size(); ++i) depthDiffers += fastFrame.depth[i] != generalFrame.depth[i];
        if (c.alphaTest) {
            EXPECT_LE(depthDiffers, fast.size() / 100) << c.name;
        } else {
            EXPECT_EQ(depthDiffers, 0u) << c.name;
        }
        int worst = 0;
        size_t far = 0, changed = 0;
        for (size_t i = 0; i < fast.size(); ++i) {
            const int d = channelDifference(fast[i], general[i]);
            worst = std::max(worst, d);
            far += d > 2;
        }
        // Something was drawn at all: compare against the untouched background.
        const std::vector<uint32_t> background = [] {
            std::vector<uint32_t> color(203 * 61);
            Random random{99};
            for (uint32_t& p : color) p = random.next() | (random.next() << 24);
            return color;
        }();
        for (size_t i = 0; i < fast.size(); ++i) changed += fast[i] != background[i];
        EXPECT_GT(changed, fast.size() / 20) << c.name;
        // Bilinear weights in 1/128ths and colours rounded to bytes between steps: at most two levels
        // apart. An alpha test may decide a pixel whose alpha sits within rounding of the reference
        // the other way: with this picture's random alpha about one pixel in 256 is that close.
        if (c.alphaTest) {
            EXPECT_LE(far, fast.size() / 100) << c.name << ": worst channel difference " << worst;
        } else {
            EXPECT_LE(worst, 2) << c.name;
        }
    }
}

TEST(TexturedSpan, SameBytesEveryTimeAndForAnyWorkerCount) {
    for (const Case& c : cases) {
        const Frame first = render(c, true, 1), again = render(c, true, 1), shared = render(c, true, 2);
        EXPECT_EQ(first.color, again.color) << c.name;
        EXPECT_EQ(first.color, shared.color) << c.name;
        EXPECT_EQ(first.depth, shared.depth) << c.name;
    }
}

// A picture drawn one texel to one pixel with Direct3D's half-pixel offset lands on texel centres:
// bilinear filtering must give back the texels exactly, whichever path draws it.
TEST(TexturedSpan, TexelCentresComeBackExactly) {
    constexpr int W = 64, H = 32;
    Picture picture(W, H, false, 3);
    for (bool specialised : {true, false}) {
        raster::setSpecialisedSpans(specialised);
        std::vector<uint32_t> color(W * H, 0);
        raster::State s = spanState(W, H);
        raster::Stage& stage = s.stages[0];
        stage.texture = &picture.texture;
        stage.sampler.mag = stage.sampler.min = raster::Filter::Linear;
        const uint32_t white = 0xFFFFFFFF;
        const std::vector<Vertex> quad = {{-0.5f, H - 0.5f, 0.5f, 1, white, 0, 1},
                                          {-0.5f, -0.5f, 0.5f, 1, white, 0, 0},
                                          {W - 0.5f, H - 0.5f, 0.5f, 1, white, 1, 1},
                                          {W - 0.5f, -0.5f, 0.5f, 1, white, 1, 0}};
        const raster::Geometry g =
            geometryOf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, raster::Primitive::TriangleStrip, quad, 2);
        raster::draw(s, raster::Target{color.data(), W, W, H, nullptr, 0, 0, 0}, g);
        EXPECT_EQ(color, picture.texels) << (specialised ? "specialised span" : "general pipeline");
    }
    raster::setSpecialisedSpans(true);
}

}  // namespace
