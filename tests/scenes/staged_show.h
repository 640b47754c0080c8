// Tests on the show staged offline with the real device, scenes and data: one show per suite, and the
// frame helpers the scene tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/resources.h"
#include "gfx/d3d9/d3d9.h"
#include "tools/offline/offline_show.h"

class StagedShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        show = std::make_unique<OfflineShow>(SHOW_DIR);
        ASSERT_TRUE(show->ok()) << show->error();
    }
    static void TearDownTestSuite() { show.reset(); }
    static inline std::unique_ptr<OfflineShow> show;
};

// Average brightness of a whole frame, 0..255.
inline double brightness(const std::vector<uint32_t>& frame) {
    double sum = 0;
    for (uint32_t p : frame) sum += (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3.0;
    return sum / double(frame.size());
}

inline bool rowIsBlack(const std::vector<uint32_t>& frame, int y) {
    for (int x = 0; x < OfflineShow::width; ++x)
        if (frame[size_t(y) * OfflineShow::width + x] & 0xFFFFFF) return false;
    return true;
}

// Black rows from the top edge and from the bottom edge.
inline std::pair<int, int> barRows(const std::vector<uint32_t>& frame) {
    constexpr int H = OfflineShow::height;
    int top = 0, bottom = 0;
    while (top < H && rowIsBlack(frame, top)) ++top;
    while (bottom < H && rowIsBlack(frame, H - 1 - bottom)) ++bottom;
    return {top, bottom};
}

inline IDirect3DTexture9* named(const char* name) { return static_cast<IDirect3DTexture9*>(getResource(name)); }
