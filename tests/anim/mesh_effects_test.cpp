#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "anim/noise.h"
#include "tests/anim/test_mesh.h"

namespace {

constexpr DWORD fullFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;  // position, normal, uv: 32 bytes
constexpr DWORD fullStride = 32;
constexpr DWORD texturedFvf = D3DFVF_XYZ | D3DFVF_TEX1;  // position, uv: 20 bytes
constexpr DWORD texturedStride = 20;
constexpr BYTE oldByte = 0x3C;  // what a target held before an effect ran

// Includes vertices at y = 0 (no twist there) and one on the Z axis.
const float restPositions[][3] = {
    {1, 0, 0}, {0.5f, 0.25f, -2}, {3, 4, 1}, {-1.5f, -0.75f, 0.5f}, {2, 1, -1}, {0, 0, 3}, {-0.5f, 0, 2},
};
constexpr DWORD restCount = std::size(restPositions);

std::unique_ptr<TestMesh> makeSource(DWORD count = restCount) {
    auto mesh = std::make_unique<TestMesh>(fullFvf, fullStride, count);
    for (DWORD i = 0; i < count; ++i) {
        float* v = mesh->vertex(i);
        std::memcpy(v, restPositions[i], 12);
        const float rest[5] = {10.0f + i, 20.0f + i, 30.0f + i, 100.0f + i, 200.0f + i};  // normal, uv
        std::memcpy(v + 3, rest, sizeof rest);
    }
    return mesh;
}

std::unique_ptr<TestMesh> makeTarget(DWORD fvf, DWORD stride, DWORD count = restCount) {
    auto mesh = std::make_unique<TestMesh>(fvf, stride, count);
    std::memset(mesh->bytes.data(), oldByte, size_t(stride) * count);
    return mesh;
}

void expectPosition(TestMesh& mesh, DWORD i, const float (&expected)[3], const std::string& what) {
    const float* p = mesh.vertex(i);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(p[c], expected[c]) << what << ", vertex " << i << ", axis " << c;
}

bool keepsOldBytes(TestMesh& mesh, DWORD i, size_t from, size_t to) {
    const BYTE* v = mesh.bytes.data() + size_t(i) * mesh.stride;
    for (size_t b = from; b < to; ++b)
        if (v[b] != oldByte) return false;
    return true;
}

using Effect = std::function<void(ID3DXMesh*, ID3DXMesh*)>;
struct NamedEffect {
    std::string name;
    Effect run;
};

const std::vector<NamedEffect>& movingEffects() {
    static const std::vector<NamedEffect> effects = {
        {"deformMesh", [](ID3DXMesh* s, ID3DXMesh* t) { deformMesh(s, t, 1.3f, 0.7f, 0.5f, -1.0f, 2.0f); }},
        {"waveMeshX", [](ID3DXMesh* s, ID3DXMesh* t) { waveMeshX(s, t, 10.0f, 0.3f, 0.8f); }},
        {"rippleMeshZ", [](ID3DXMesh* s, ID3DXMesh* t) { rippleMeshZ(s, t, 4.0f, 1.1f, 0.25f); }},
        {"twistMesh", [](ID3DXMesh* s, ID3DXMesh* t) { twistMesh(s, t, 0.9f); }},
    };
    return effects;
}

const std::vector<NamedEffect>& restingEffects() {
    static const std::vector<NamedEffect> effects = {
        {"deformMesh", [](ID3DXMesh* s, ID3DXMesh* t) { deformMesh(s, t, 1.3f, 0.7f, 0, 0, 0); }},
        {"waveMeshX", [](ID3DXMesh* s, ID3DXMesh* t) { waveMeshX(s, t, 10.0f, 0.3f, 0); }},
        {"rippleMeshZ", [](ID3DXMesh* s, ID3DXMesh* t) { rippleMeshZ(s, t, 4.0f, 1.1f, 0); }},
    };
    return effects;
}

class MeshEffects : public ::testing::Test {
protected:
    void SetUp() override { fillNoiseTable(); }
};

TEST_F(MeshEffects, InPlaceGivesTheSamePositionsAsASeparateTarget) {
    for (const NamedEffect& effect : movingEffects()) {
        auto inPlace = makeSource();
        auto source = makeSource();
        auto target = makeTarget(fullFvf, fullStride);
        effect.run(inPlace.get(), inPlace.get());
        effect.run(source.get(), target.get());
        for (DWORD i = 0; i < restCount; ++i) {
            const float* p = target->vertex(i);
            expectPosition(*inPlace, i, {p[0], p[1], p[2]}, effect.name);
        }
        // One lock for both roles, for writing.
        EXPECT_EQ(inPlace->lockFlags, std::vector<DWORD>{0}) << effect.name;
        EXPECT_EQ(inPlace->openLocks, 0) << effect.name;
    }
}

TEST_F(MeshEffects, OnlyPositionsAreWrittenAndTheSourceIsOnlyRead) {
    std::vector<NamedEffect> effects = movingEffects();
    effects.pop_back();  // twistMesh copies normals where it does not turn; see its own test
    for (const NamedEffect& e : restingEffects()) effects.push_back({e.name + " at rest", e.run});

    for (const NamedEffect& effect : effects) {
        for (DWORD stride : {fullStride, texturedStride}) {
            auto source = makeSource();
            const std::vector<BYTE> sourceBefore = source->bytes;
            auto target = makeTarget(stride == fullStride ? fullFvf : texturedFvf, stride);
            effect.run(source.get(), target.get());
            const std::string what = effect.name + ", target stride " + std::to_string(stride);

            EXPECT_EQ(source->bytes, sourceBefore) << what;
            EXPECT_EQ(source->lockFlags, std::vector<DWORD>{D3DLOCK_READONLY}) << what;
            EXPECT_EQ(target->lockFlags, std::vector<DWORD>{0}) << what;
            EXPECT_EQ(source->openLocks + target->openLocks, 0) << what;
            EXPECT_TRUE(target->guardIntact()) << what;
            for (DWORD i = 0; i < restCount; ++i) {
                EXPECT_TRUE(keepsOldBytes(*target, i, 12, stride)) << what << ", vertex " << i;
                EXPECT_FALSE(keepsOldBytes(*target, i, 0, 12)) << what << ", vertex " << i;
            }
        }
    }
}

TEST_F(MeshEffects, ZeroAmplitudesReproduceTheSourcePositions) {
    for (const NamedEffect& effect : restingEffects()) {
        auto source = makeSource();
        auto target = makeTarget(texturedFvf, texturedStride);
        effect.run(source.get(), target.get());
        for (DWORD i = 0; i < restCount; ++i) expectPosition(*target, i, restPositions[i], effect.name);
    }
}

TEST_F(MeshEffects, DeformMovesEachAxisByNoiseOfItsOwnCoordinate) {
    const float frequency = 1.7f, phase = 0.4f;
    struct Case {
        float amplitude[3];
    };
    const Case cases[] = {{{0, 1.5f, 0}}, {{-2, 0, 0}}, {{0, 0, 0.75f}}, {{1, 2, 3}}};
    for (const Case& c : cases) {
        auto mesh = makeSource();
        deformMesh(mesh.get(), mesh.get(), frequency, phase, c.amplitude[0], c.amplitude[1], c.amplitude[2]);
        for (DWORD i = 0; i < restCount; ++i) {
            float expected[3];
            for (int axis = 0; axis < 3; ++axis) {
                const float rest = restPositions[i][axis];
                const float a = c.amplitude[axis];
                expected[axis] = a == 0 ? rest : smoothNoise(frequency * rest + phase) * a + rest;
            }
            expectPosition(*mesh, i, expected, "deformMesh");
        }
    }
}

TEST_F(MeshEffects, WaveRippleAndTwistMoveKnownPoints) {
    auto source = makeSource();
    auto target = makeTarget(fullFvf, fullStride);

    // Vertex 1 is (0.5, 0.25, -2): sin(2 * 0.25 + 0.5) = sin(1).
    waveMeshX(source.get(), target.get(), 2.0f, 0.5f, 3.0f);
    EXPECT_NEAR(target->vertex(1)[0], 0.5f + 3.0f * 0.84147098f, 1e-5f);

    // Vertex 2 is (3, 4, 1), 5 from the Z axis: sin(5 * 0.5 - 1) = sin(1.5).
    rippleMeshZ(source.get(), target.get(), 0.5f, -1.0f, 2.0f);
    EXPECT_NEAR(target->vertex(2)[2], 1.0f + 2.0f * 0.99749499f, 1e-5f);

    // Twist pi: vertex 1 turns by pi/4, vertex 4 (2, 1, -1) by pi.
    twistMesh(source.get(), target.get(), 3.14159265f);
    const float h = 0.70710678f;
    const float* p = target->vertex(1);
    EXPECT_NEAR(p[0], h * -2.0f + h * 0.5f, 1e-5f);
    EXPECT_EQ(p[1], 0.25f);
    EXPECT_NEAR(p[2], -h * 0.5f + h * -2.0f, 1e-5f);
    p = target->vertex(4);
    EXPECT_NEAR(p[0], -2.0f, 1e-5f);
    EXPECT_EQ(p[1], 1.0f);
    EXPECT_NEAR(p[2], 1.0f, 1e-5f);
}

TEST_F(MeshEffects, TwistCopiesTheNormalOnlyWhereItDoesNotTurn) {
    for (float twist : {0.0f, 0.9f}) {
        auto source = makeSource();
        auto target = makeTarget(fullFvf, fullStride);
        twistMesh(source.get(), target.get(), twist);
        for (DWORD i = 0; i < restCount; ++i) {
            const bool still = twist * restPositions[i][1] == 0.0f;
            const std::string what = "twist " + std::to_string(twist) + ", vertex " + std::to_string(i);
            if (still) {
                EXPECT_EQ(std::memcmp(target->vertex(i), source->vertex(i), 24), 0) << what;
            } else {
                EXPECT_TRUE(keepsOldBytes(*target, i, 12, 24)) << what;
            }
            EXPECT_TRUE(keepsOldBytes(*target, i, 24, fullStride)) << what;  // uv never written
        }
    }
}

TEST_F(MeshEffects, TwistCopiesNoNormalIntoATargetWithout) {
    auto source = makeSource();
    auto target = makeTarget(texturedFvf, texturedStride);
    twistMesh(source.get(), target.get(), 0.0f);
    for (DWORD i = 0; i < restCount; ++i) {
        expectPosition(*target, i, restPositions[i], "twist 0");
        EXPECT_TRUE(keepsOldBytes(*target, i, 12, texturedStride)) << "vertex " << i;
    }
    EXPECT_TRUE(target->guardIntact());
}

TEST_F(MeshEffects, ASmallerTargetGetsOnlyTheVerticesItHas) {
    for (const NamedEffect& effect : movingEffects()) {
        auto source = makeSource();
        auto target = makeTarget(fullFvf, fullStride, 3);
        effect.run(source.get(), target.get());
        EXPECT_TRUE(target->guardIntact()) << effect.name;
        EXPECT_FALSE(keepsOldBytes(*target, 2, 0, 12)) << effect.name;
    }
}

TEST_F(MeshEffects, NothingIsWrittenWithoutBothLocks) {
    for (const NamedEffect& effect : movingEffects()) {
        auto source = makeSource();
        auto target = makeTarget(fullFvf, fullStride);
        const std::vector<BYTE> before = target->bytes;
        target->failLocks = true;
        effect.run(source.get(), target.get());
        EXPECT_EQ(target->bytes, before) << effect.name;
        EXPECT_EQ(source->openLocks, 0) << effect.name;

        effect.run(nullptr, target.get());
        effect.run(source.get(), nullptr);
        effect.run(nullptr, nullptr);
        EXPECT_EQ(source->openLocks, 0) << effect.name;
    }
}

TEST(RadialWeights, OneOverTheRootOfTheDistanceFromTheZAxis) {
    struct Case {
        float x, y, z, weight;
    };
    const Case cases[] = {
        {16, 0, 5, 0.25f},      {0, -16, 0, 0.25f}, {1, 0, 0, 1}, {0.6f, 0.8f, -3, 1},
        {3, 4, 0, 0.44721359f}, {0.0625f, 0, 0, 4}, {0, 0, 7, 0},  // on the axis: no finite weight, and a
                                                                   // turn about the axis would not move it
    };
    const DWORD count = std::size(cases);
    TestMesh mesh(fullFvf, fullStride, count);
    for (DWORD i = 0; i < count; ++i) mesh.setPosition(i, cases[i].x, cases[i].y, cases[i].z);

    std::unique_ptr<float[]> weights(computeRadialWeights(&mesh));
    ASSERT_NE(weights, nullptr);
    for (DWORD i = 0; i < count; ++i) EXPECT_FLOAT_EQ(weights[i], cases[i].weight) << "vertex " << i;
    EXPECT_EQ(mesh.lockFlags, std::vector<DWORD>{D3DLOCK_READONLY});
    EXPECT_EQ(mesh.openLocks, 0);
}

TEST(RadialWeights, NoArrayForAMeshThatCannotBeRead) {
    EXPECT_EQ(computeRadialWeights(nullptr), nullptr);
    TestMesh mesh(fullFvf, fullStride, 2);
    mesh.failLocks = true;
    EXPECT_EQ(computeRadialWeights(&mesh), nullptr);
    EXPECT_EQ(mesh.openLocks, 0);
}

}  // namespace
