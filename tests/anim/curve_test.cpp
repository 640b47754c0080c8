#include "anim/curve.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Row {
    int mode;
    float time;
    float value;
};

Curve makeCurve(const std::vector<Row>& rows) {
    Curve c;
    for (const Row& r : rows) c.addKey(r.mode, r.time, r.value);
    return c;
}

struct Probe {
    float time;
    float expected;
};

void expectValues(Curve& curve, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) EXPECT_FLOAT_EQ(curve.evaluate(p.time), p.expected) << "at " << p.time;
}

TEST(Curve, OneKeyTrackIsConstantEverywhere) {
    Curve c = makeCurve({{Hermite, 500, 3.5f}});
    expectValues(c, {{-100, 3.5f}, {500, 3.5f}, {1e9f, 3.5f}});
}

TEST(Curve, LinearSegmentAndClampingOutsideTheKeys) {
    Curve c = makeCurve({{Linear, 0, 0}, {Linear, 1000, 10}});
    expectValues(c, {{250, 2.5f}, {-5, 0}, {5000, 10}, {1000, 10}, {0, 0}});
}

TEST(Curve, HermiteUsesHalfDifferenceTangents) {
    Curve c = makeCurve({{Hermite, 0, 0}, {Hermite, 1000, 1}, {Hermite, 2000, 0}});
    expectValues(c, {{500, 0.5625f}, {1000, 1}, {1500, 0.5625f}});
}

TEST(Curve, TangentsIgnoreKeySpacing) {
    // Same values as the evenly spaced track: the first tangent is 0.5 and the middle one 0, so a
    // quarter of the way into the first segment gives the same value as on the even track.
    Curve uneven = makeCurve({{Hermite, 0, 0}, {Hermite, 100, 1}, {Hermite, 1100, 0}});
    Curve even = makeCurve({{Hermite, 0, 0}, {Hermite, 1000, 1}, {Hermite, 2000, 0}});
    EXPECT_FLOAT_EQ(uneven.evaluate(25), even.evaluate(250));
    EXPECT_FLOAT_EQ(uneven.evaluate(50), 0.5625f);
    EXPECT_FLOAT_EQ(uneven.evaluate(600), even.evaluate(1500));
}

TEST(Curve, HoldAtAnInnerKeyKeepsThePreviousValueAtTheKeyTime) {
    Curve c = makeCurve({{Hold, 0, 1}, {Hermite, 2000, 1}, {Hold, 3999.9f, 20}, {Hold, 4000, 1}, {Hermite, 6000, 1}});
    expectValues(c, {{4000, 20}, {4001, 1}, {1000, 1}, {5000, 1}});
}

TEST(Curve, ModeOfTheStartingKeyGovernsTheSegment) {
    // First key Hold: the whole first segment holds; last key's mode is never used.
    Curve c = makeCurve({{Hold, 0, 5}, {Linear, 100, 10}, {Hold, 200, 20}});
    expectValues(c, {{50, 5}, {100, 5}, {150, 15}, {300, 20}});
    Curve other = makeCurve({{Linear, 0, 5}, {Linear, 100, 10}, {Hermite, 200, 20}});
    EXPECT_FLOAT_EQ(other.evaluate(150), 15);
}

TEST(Curve, UnknownModesAreHermite) {
    Curve seven = makeCurve({{7, 0, 0}, {7, 1000, 1}, {7, 2000, 0}});
    EXPECT_FLOAT_EQ(seven.evaluate(500), 0.5625f);
}

TEST(Curve, InsertIfAbsentKeepsTheFirstKeyAndMakesTangentsStale) {
    Curve c = makeCurve({{Linear, 0, 0}, {Linear, 1000, 10}});
    EXPECT_FLOAT_EQ(c.evaluate(500), 5);
    c.addKey(Hold, 1000, 99);
    c.addKey(Hold, 0, 42);
    EXPECT_FLOAT_EQ(c.evaluate(500), 5);
    EXPECT_FLOAT_EQ(c.evaluate(1000), 10);

    // A key added after an evaluate is taken into the tangents on the next evaluate.
    Curve h = makeCurve({{Hermite, 0, 0}, {Hermite, 1000, 1}});
    EXPECT_FLOAT_EQ(h.evaluate(500), 0.5f);
    h.addKey(Hermite, 2000, 0);
    EXPECT_FLOAT_EQ(h.evaluate(500), 0.5625f);
}

TEST(Curve, ExplicitComputeTangentsIsIdempotent) {
    Curve c = makeCurve({{Hermite, 0, 0}, {Hermite, 1000, 1}, {Hermite, 2000, 0}});
    c.computeTangents();
    c.computeTangents();
    EXPECT_FLOAT_EQ(c.evaluate(500), 0.5625f);
}

TEST(ColorCurve, EachComponentBehavesAsItsOwnCurve) {
    ColorCurve color;
    color.addKey(Hermite, 0, 1, 1, 1, 0.6f);
    color.addKey(Hermite, 4000, 0.5f, 1, 0.5f, 0.8f);
    color.computeTangents();
    const float first[4] = {1, 1, 1, 0.6f};
    const float second[4] = {0.5f, 1, 0.5f, 0.8f};
    for (float t : {-10.0f, 0.0f, 1000.0f, 2500.0f, 3999.0f, 4000.0f, 9000.0f}) {
        D3DCOLORVALUE v = color.evaluate(t);
        const float got[4] = {v.r, v.g, v.b, v.a};
        for (int c = 0; c < 4; ++c) {
            Curve single;
            single.addKey(Hermite, 0, first[c]);
            single.addKey(Hermite, 4000, second[c]);
            EXPECT_FLOAT_EQ(got[c], single.evaluate(t)) << "component " << c << " at " << t;
        }
    }
}

TEST(ColorCurve, HoldAndClampCopyAllFourComponents) {
    ColorCurve color;
    color.addKey(Hold, 100, 0.1f, 0.2f, 0.3f, 0.4f);
    color.addKey(Linear, 200, 1, 1, 1, 1);
    D3DCOLORVALUE before = color.evaluate(0);
    D3DCOLORVALUE held = color.evaluate(199.5f);
    D3DCOLORVALUE after = color.evaluate(300);
    EXPECT_FLOAT_EQ(before.b, 0.3f);
    EXPECT_FLOAT_EQ(held.a, 0.4f);
    EXPECT_FLOAT_EQ(after.r, 1.0f);
}

}  // namespace
