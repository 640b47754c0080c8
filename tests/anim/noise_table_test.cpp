#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "anim/noise.h"

namespace {

class NoiseTable : public ::testing::Test {
protected:
    void SetUp() override { fillNoiseTable(); }
};

TEST_F(NoiseTable, StartsWithTheFixedSequence) {
    EXPECT_EQ(noiseTable[0], 0.00057984283f);
    EXPECT_EQ(noiseTable[1], 0.11778439f);
    EXPECT_EQ(noiseTable[2], 0.32407111f);
    EXPECT_EQ(noiseTable[3], 0.037186235f);
}

TEST_F(NoiseTable, StaysBelowOneHalf) {
    const auto [low, high] = std::minmax_element(noiseTable, noiseTable + noiseTableSize);
    EXPECT_GE(*low, 0.0f);
    EXPECT_EQ(*high, 0.49999237f);  // the largest 15-bit draw is reached and is the bound
}

TEST_F(NoiseTable, FillingAgainGivesTheSameTable) {
    const float last = noiseTable[noiseTableSize - 1];
    noiseTable[noiseTableSize - 1] = -1;
    fillNoiseTable();
    EXPECT_EQ(noiseTable[noiseTableSize - 1], last);
}

TEST_F(NoiseTable, SmoothNoisePassesThroughTheEntries) {
    struct Case {
        float x;
        int entry;
    };
    const Case cases[] = {
        {0, 0},
        {1, 1},
        {2, 2},
        {65535, 65535},
        {-1, 65535},
        {-2, 65534},
        {-65536, 0},  // negative whole numbers take the u = 1 path
        {65536, 0},
        {65536 * 200 + 6, 6},
        {65536 * 300 + 6, 6},  // beyond 2^24, where every float is a whole number
        {-(65536 * 300 + 6), 65530},
    };
    for (const Case& c : cases) EXPECT_EQ(smoothNoise(c.x), noiseTable[c.entry]) << "x = " << c.x;
}

TEST_F(NoiseTable, SmoothNoiseBetweenEntries) {
    EXPECT_FLOAT_EQ(smoothNoise(0.5f), 0.021047913f);
    // Same value one period on, in both directions.
    for (float x : {0.25f, 0.5f, 0.75f, 100.125f, -3.5f, -0.25f}) {
        EXPECT_EQ(smoothNoise(x), smoothNoise(x + 65536.0f)) << "x = " << x;
        EXPECT_EQ(smoothNoise(x), smoothNoise(x - 65536.0f)) << "x = " << x;
    }
}

TEST_F(NoiseTable, SmoothNoiseIsContinuousAtEveryEntry) {
    for (float k : {-65535.0f, -3.0f, -1.0f, 0.0f, 1.0f, 7.0f, 65535.0f}) {
        const float step = 1.0f / 256;
        EXPECT_NEAR(smoothNoise(k - step), smoothNoise(k), 0.02f) << "below " << k;
        EXPECT_NEAR(smoothNoise(k + step), smoothNoise(k), 0.02f) << "above " << k;
    }
}

TEST_F(NoiseTable, SmoothNoiseOfNonFiniteIsNaN) {
    EXPECT_TRUE(std::isnan(smoothNoise(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(smoothNoise(std::numeric_limits<float>::infinity())));
    EXPECT_TRUE(std::isnan(smoothNoise(-std::numeric_limits<float>::infinity())));
}

}  // namespace
