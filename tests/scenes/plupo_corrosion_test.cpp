// The plupo and corrosion scenes on the staged show: which pixels the far background may fill, and
// how the letterbox bars, the sea and sky and the credits strip cover each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "anim/quads.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "gfx/d3d9/d3d9debug.h"
#include "gfx/d3dx/d3dx9.h"
#include "tests/scenes/staged_show.h"
#include "tools/offline/offline_show.h"

namespace {

constexpr int W = OfflineShow::width;
constexpr int H = OfflineShow::height;
constexpr int barHeight = 64;
constexpr uint32_t farDepth = 0xFFFFFF;  // the clear depth 1.0 in the upper 24 bits of D24S8

bool inBar(int y) {
    return y < barHeight || y >= H - barHeight;
}

int channel(uint32_t p, int shift) {
    return int(p >> shift & 0xFF);
}

bool isBlack(uint32_t p) {
    return (p & 0xFFFFFF) == 0;
}

// Shaded colours may move by a level or two as the renderer changes; anything closer is the same colour.
bool sameColour(uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16})
        if (std::abs(channel(a, shift) - channel(b, shift)) > 3) return false;
    return true;
}

// The depth the last frame left, per pixel, as 24-bit values.
std::vector<uint32_t> depthAfterFrame() {
    IDirect3DSurface9* surface = nullptr;
    device->GetDepthStencilSurface(&surface);
    std::vector<uint32_t> words;
    UINT w = 0, h = 0;
    if (surface) {
        d3d9debug::readSurface(surface, words, w, h);
        surface->Release();
    }
    for (uint32_t& word : words) word >>= 8;
    return words;
}

class PlupoCorrosion : public StagedShow {
protected:
    void SetUp() override { ASSERT_TRUE(show && show->ok()); }
};

// The plupo background picture on its own, drawn as the scene draws it and in the state the scene
// leaves, on a target cleared to black and depth 1.0: what a background pixel must look like.
std::vector<uint32_t> plupoBackgroundAlone() {
    std::vector<uint32_t> pixels;
    if (device->BeginScene() != D3D_OK) return pixels;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    device->SetTexture(0, static_cast<IDirect3DTexture9*>(getResource("plupoback.jpg")));
    TexturedScreenQuad quad;
    const D3DCOLORVALUE white{1, 1, 1, 1};
    quad.draw(&white, 1.0f, -0.5f, -0.5f, float(W), float(H));
    device->SetTexture(0, nullptr);
    device->EndScene();
    UINT w = 0, h = 0;
    d3d9debug::readBackBuffer(device, pixels, w, h);
    return pixels;
}

// The background goes down after the mesh at the far depth: it may fill exactly the pixels whose depth
// is still the clear value, never a bar or a mesh pixel. Drawn without the depth test it would cover
// bars and mesh; with a strict "less" test or without the mesh's depth writes it would leave the open
// pixels black or take the mesh's.
TEST_F(PlupoCorrosion, PlupoBackgroundFillsOnlyThePixelsLeftAtTheFarDepth) {
    // One frame in each pose and one in a swing, all with the flash gone (its quad would write depth 0).
    for (DWORD time : {53000u, 57000u, 61000u, 69000u, 77000u}) {
        SCOPED_TRACE(testing::Message() << "at " << time << " ms");
        const std::vector<uint32_t> frame = show->frameAt(time);
        const std::vector<uint32_t> depth = depthAfterFrame();
        const std::vector<uint32_t> background = plupoBackgroundAlone();
        ASSERT_EQ(depth.size(), frame.size());
        ASSERT_EQ(background.size(), frame.size());

        int barPixelsWrong = 0, backgroundPixels = 0, backgroundPixelsWrong = 0;
        int meshPixels = 0, meshPixelsLikeBackground = 0;
        double barBackgroundBrightness = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                if (inBar(y)) {
                    if (depth[i] != 0 || !isBlack(frame[i])) ++barPixelsWrong;
                    for (int shift : {0, 8, 16}) barBackgroundBrightness += channel(background[i], shift);
                    continue;
                }
                // The information panel sits at depth 0.1 in the upper right over both.
                if (x >= 390 && y < 64 + 128) continue;
                if (depth[i] == farDepth) {
                    ++backgroundPixels;
                    if (!sameColour(frame[i], background[i])) ++backgroundPixelsWrong;
                } else {
                    ++meshPixels;
                    if (sameColour(frame[i], background[i])) ++meshPixelsLikeBackground;
                }
            }
        barBackgroundBrightness /= 3.0 * W * barHeight * 2;

        // Without a visible picture behind the bars their check would prove nothing.
        EXPECT_GT(barBackgroundBrightness, 10);
        EXPECT_EQ(barPixelsWrong, 0) << "bar pixels not black at depth 0";
        EXPECT_GT(backgroundPixels, W * H / 3);
        EXPECT_EQ(backgroundPixelsWrong, 0) << "of " << backgroundPixels << " open pixels";
        EXPECT_GT(meshPixels, 10000);
        // A lit, textured petal matches the picture behind it only by chance.
        EXPECT_LT(meshPixelsLikeBackground, meshPixels / 20) << "of " << meshPixels << " mesh pixels";
    }
}

// The sea reaches close below the eye and the sky close above it, so both run on behind the bars: the
// rows just inside the bars are theirs. Only the bars' depth 0 keeps them out of the bar rows.
TEST_F(PlupoCorrosion, CorrosionBarsHideTheSeaAndTheSky) {
    for (DWORD time : {84000u, 86000u, 88000u, 90000u, 93000u, 96000u, 97500u}) {
        SCOPED_TRACE(testing::Message() << "at " << time << " ms");
        const std::vector<uint32_t> frame = show->frameAt(time);
        const std::vector<uint32_t> depth = depthAfterFrame();
        ASSERT_EQ(depth.size(), frame.size());
        int barPixelsWrong = 0, edgePixels = 0, edgePixelsOpen = 0;
        double edgeBrightness = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const size_t i = size_t(y) * W + x;
                if (inBar(y)) {
                    if (depth[i] != 0 || !isBlack(frame[i])) ++barPixelsWrong;
                } else if (y < barHeight + 8 || y >= H - barHeight - 8) {
                    ++edgePixels;
                    if (depth[i] == 0 || depth[i] == farDepth) ++edgePixelsOpen;
                    for (int shift : {0, 8, 16}) edgeBrightness += channel(frame[i], shift);
                }
            }
        edgeBrightness /= 3.0 * edgePixels;
        EXPECT_EQ(barPixelsWrong, 0) << "bar pixels not black at depth 0";
        EXPECT_EQ(edgePixelsOpen, 0) << "pixels next to the bars not covered by the sea or sky";
        EXPECT_GT(edgeBrightness, 10);
    }
}

// Sets a view for the frames rendered while it lives, and puts the scene's own back.
class ViewOverride {
public:
    explicit ViewOverride(const D3DMATRIX& view) {
        device->GetTransform(D3DTS_VIEW, &saved_);
        device->SetTransform(D3DTS_VIEW, &view);
    }
    ~ViewOverride() { device->SetTransform(D3DTS_VIEW, &saved_); }
    ViewOverride(const ViewOverride&) = delete;
    ViewOverride& operator=(const ViewOverride&) = delete;

private:
    D3DMATRIX saved_;
};

// With the show's camera the strip's waves keep 30 pixels clear of the bars, so the eye is raised until
// the strip's lower line of letters runs down into the bottom bar, with the sea close behind both.
// Drawn with the depth test the strip would vanish in the bar; drawn before the bars it would be
// painted over; drawn opaque its white letters would reach 255.
TEST_F(PlupoCorrosion, CreditsStripShowsOverTheBars) {
    for (DWORD time : {86500u, 90000u, 93500u}) {
        SCOPED_TRACE(testing::Message() << "at " << time << " ms");
        // The frame before, so the next one is not restaged: a prepare step would put back the scene's view.
        show->frameAt(time - 1);
        D3DXMATRIX view, down, raised;
        device->GetTransform(D3DTS_VIEW, &view);
        D3DXMatrixTranslation(&down, 0, -3.0f, 0);
        D3DXMatrixMultiply(&raised, &view, &down);
        std::vector<uint32_t> frame;
        {
            ViewOverride override(raised);
            frame = show->frameAt(time);
        }
        int lit = 0, black = 0, brightest = 0;
        for (int y = H - barHeight; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint32_t p = frame[size_t(y) * W + x];
                isBlack(p) ? ++black : ++lit;
                for (int shift : {0, 8, 16}) brightest = std::max(brightest, channel(p, shift));
            }
        EXPECT_GT(lit, W * barHeight / 10) << "the strip is hidden by the bar";
        // Between and around the letters the bar stays black: the sea behind it does not show.
        EXPECT_GT(black, W * barHeight / 10) << "the sea shows through the bar";
        // White letters at the strip's 0.75 alpha over black.
        EXPECT_NEAR(brightest, 191, 3);
    }
}

}  // namespace
