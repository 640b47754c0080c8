// The .x reader on fixtures written here: the same mesh as text, binary and compressed; frames;
// merged meshes; separately indexed normals; and broken files that must fail cleanly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "gfx/d3dx/d3dx9.h"
#include "gfx/d3dx/xfile.h"
#include "tests/support/headless_device.h"

namespace {

const std::string quadText = R"(xof 0303txt 0032
// a textured quad facing -z, normals indexed on their own
Mesh Quad {
  4;
  -1.0;-1.0;0.0;, -1.0;1.0;0.0;, 1.0;1.0;0.0;, 1.0;-1.0;0.0;;
  1;
  4;0,1,2,3;;
  MeshNormals { 1; 0.0;0.0;-1.0;; 1; 4;0,0,0,0;; }
  MeshTextureCoords { 4; 0.0;1.0;, 0.0;0.0;, 1.0;0.0;, 1.0;1.0;; }
  MeshMaterialList { 1; 1; 0;; Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } }
}
)";

xfile::Mesh parseOk(const std::string& text) {
    xfile::Mesh mesh;
    std::string error;
    HRESULT hr = xfile::parse(reinterpret_cast<const uint8_t*>(text.data()), text.size(), mesh, error);
    EXPECT_EQ(hr, S_OK) << error;
    return mesh;
}

HRESULT parseResult(const std::vector<uint8_t>& bytes) {
    xfile::Mesh mesh;
    std::string error;
    return xfile::parse(bytes.data(), bytes.size(), mesh, error);
}

// Binary encoding of the same quad: names, braces, and merged integer and float lists.
class BinaryWriter {
public:
    explicit BinaryWriter(const char* header) { bytes.assign(header, header + 16); }
    BinaryWriter& word(uint16_t w) {
        bytes.push_back(uint8_t(w));
        bytes.push_back(uint8_t(w >> 8));
        return *this;
    }
    BinaryWriter& dword(uint32_t d) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(d >> (8 * i)));
        return *this;
    }
    BinaryWriter& name(const std::string& n) {
        word(1).dword(uint32_t(n.size()));
        bytes.insert(bytes.end(), n.begin(), n.end());
        return *this;
    }
    BinaryWriter& open() { return word(10); }
    BinaryWriter& close() { return word(11); }
    BinaryWriter& integers(const std::vector<uint32_t>& values) {
        word(6).dword(uint32_t(values.size()));
        for (uint32_t v : values) dword(v);
        return *this;
    }
    BinaryWriter& floats(const std::vector<float>& values) {
        word(7).dword(uint32_t(values.size()));
        for (float f : values) {
            uint32_t d;
            std::memcpy(&d, &f, 4);
            dword(d);
        }
        return *this;
    }
    BinaryWriter& doubles(const std::vector<double>& values) {
        word(7).dword(uint32_t(values.size()));
        for (double f : values) {
            uint64_t d;
            std::memcpy(&d, &f, 8);
            dword(uint32_t(d)).dword(uint32_t(d >> 32));
        }
        return *this;
    }
    BinaryWriter& token(uint16_t id) { return word(id); }
    std::vector<uint8_t> bytes;
};

// With `wide`, the float lists hold 64-bit doubles as the header's "0064" says.
std::vector<uint8_t> quadBinary(bool wide = false) {
    BinaryWriter w(wide ? "xof 0303bin 0064" : "xof 0303bin 0032");
    auto floats = [&](const std::vector<float>& values) {
        if (wide)
            w.doubles(std::vector<double>(values.begin(), values.end()));
        else
            w.floats(values);
    };
    // A template declared in the file: template Unused { <guid> DWORD value; }
    w.token(31).name("Unused").open().token(5).dword(0x11111111).dword(0x33332222).dword(0x77665544).dword(0xBBAA9988);
    w.token(41).name("value").token(20).close();
    w.name("Mesh").name("Quad").open();
    w.integers({4});
    floats({-1, -1, 0, -1, 1, 0, 1, 1, 0, 1, -1, 0});
    w.integers({1, 4, 0, 1, 2, 3});
    w.name("MeshNormals").open().integers({1});
    floats({0, 0, -1});
    w.integers({1, 4, 0, 0, 0, 0}).close();
    w.name("MeshTextureCoords").open().integers({4});
    floats({0, 1, 0, 0, 1, 0, 1, 1});
    w.close();
    w.close();
    return w.bytes;
}

// MSZIP: the size of the whole file, then blocks of at most 32 KiB, each "CK" + raw deflate that may
// refer back into the previous block.
std::vector<uint8_t> compress(const std::string& header, const std::string& body) {
    std::vector<uint8_t> out(header.begin(), header.end());
    uint32_t total = uint32_t(body.size() + 16);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(total >> (8 * i)));
    for (size_t done = 0; done < body.size();) {
        size_t chunk = std::min<size_t>(32768, body.size() - done);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (done > 0) {
            size_t history = std::min<size_t>(32768, done);
            deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(body.data() + done - history), uInt(history));
        }
        std::vector<uint8_t> packed(deflateBound(&z, uLong(chunk)) + 16);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data() + done));
        z.avail_in = uInt(chunk);
        z.next_out = packed.data();
        z.avail_out = uInt(packed.size());
        deflate(&z, Z_FINISH);
        size_t packedSize = packed.size() - z.avail_out;
        deflateEnd(&z);
        uint16_t usize = uint16_t(chunk), csize = uint16_t(packedSize + 2);
        out.push_back(uint8_t(usize));
        out.push_back(uint8_t(usize >> 8));
        out.push_back(uint8_t(csize));
        out.push_back(uint8_t(csize >> 8));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.begin() + long(packedSize));
        done += chunk;
    }
    return out;
}

void expectSameVertices(const xfile::Mesh& a, const xfile::Mesh& b) {
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    EXPECT_EQ(a.indices, b.indices);
    for (size_t i = 0; i < a.vertices.size(); ++i) {
        EXPECT_EQ(std::memcmp(a.vertices[i].position, b.vertices[i].position, 12), 0) << "vertex " << i;
        EXPECT_EQ(std::memcmp(a.vertices[i].normal, b.vertices[i].normal, 12), 0) << "vertex " << i;
        EXPECT_EQ(std::memcmp(a.vertices[i].uv, b.vertices[i].uv, 8), 0) << "vertex " << i;
    }
}

TEST(XFile, TextQuadIsSplitIntoAFanAndKeepsItsWinding) {
    xfile::Mesh m = parseOk(quadText);
    EXPECT_TRUE(m.hasNormals);
    EXPECT_TRUE(m.hasTexCoords);
    EXPECT_FALSE(m.hasColors);
    ASSERT_EQ(m.vertices.size(), 4u);
    EXPECT_EQ(m.indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(m.vertices[1].uv[1], 0.0f);
    EXPECT_EQ(m.vertices[3].normal[2], -1.0f);
}

TEST(XFile, BinaryAndCompressedFormsGiveTheSameVertices) {
    xfile::Mesh text = parseOk(quadText);
    xfile::Mesh binary, textZip, binaryZip;
    std::string error;
    auto bin = quadBinary();
    ASSERT_EQ(xfile::parse(bin.data(), bin.size(), binary, error), S_OK) << error;
    expectSameVertices(text, binary);

    // Padding with comments makes the body span several blocks that refer back to each other.
    std::string body = quadText.substr(16);
    std::string padded = std::string(40000, ' ') + "\n";
    for (int i = 0; i < 2000; ++i) padded += "// padding line " + std::to_string(i % 7) + "\n";
    auto tzip = compress("xof 0303tzip0032", padded + body);
    ASSERT_EQ(xfile::parse(tzip.data(), tzip.size(), textZip, error), S_OK) << error;
    expectSameVertices(text, textZip);

    auto bzip = compress("xof 0303bzip0032", std::string(bin.begin() + 16, bin.end()));
    ASSERT_EQ(xfile::parse(bzip.data(), bzip.size(), binaryZip, error), S_OK) << error;
    expectSameVertices(text, binaryZip);

    // 64-bit floats, plain and compressed.
    xfile::Mesh wide, wideZip;
    auto bin64 = quadBinary(true);
    ASSERT_EQ(xfile::parse(bin64.data(), bin64.size(), wide, error), S_OK) << error;
    expectSameVertices(text, wide);
    auto bzip64 = compress("xof 0303bzip0064", std::string(bin64.begin() + 16, bin64.end()));
    ASSERT_EQ(xfile::parse(bzip64.data(), bzip64.size(), wideZip, error), S_OK) << error;
    expectSameVertices(text, wideZip);
}

TEST(XFile, NestedFramesTransformPositionsAndNormalise) {
    const std::string text = R"(xof 0302txt 0032
Frame Outer {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,5,1;; }
  Frame Inner {
    FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 1,0,0,1;; }
    Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;
      MeshNormals { 1; 0;0;-1;; 1; 3;0,0,0;; } }
  }
}
)";
    xfile::Mesh m = parseOk(text);
    ASSERT_EQ(m.vertices.size(), 3u);
    // Inner first (scale 2, then +1 in x), then outer (+5 in z).
    EXPECT_FLOAT_EQ(m.vertices[1].position[0], 1);
    EXPECT_FLOAT_EQ(m.vertices[1].position[1], 2);
    EXPECT_FLOAT_EQ(m.vertices[1].position[2], 5);
    EXPECT_FLOAT_EQ(m.vertices[2].position[0], 3);
    EXPECT_FLOAT_EQ(m.vertices[0].normal[2], -1);
}

TEST(XFile, MeshesAreMergedInFileOrderAndSplitPerNormal) {
    const std::string text = R"(xof 0302txt 0032
template Unused { <11111111-2222-3333-4444-555555555555> DWORD x; }
Header { 1; 0; 1; }
Mesh First { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }
Mesh Second { 4; 0;0;1;, 0;1;1;, 1;1;1;, 1;0;1;; 2; 3;0,1,2;, 3;0,2,3;;
  MeshNormals { 2; 0;0;-1;, 0;0;1;; 2; 3;0,0,0;, 3;1,1,1;; } }
)";
    xfile::Mesh m = parseOk(text);
    // Positions 0 and 2 of the second mesh carry two normals each: 4 + 2 vertices, after the first 3.
    EXPECT_EQ(m.vertices.size(), 3u + 6u);
    EXPECT_EQ(m.indices.size(), 9u);
    EXPECT_EQ(m.indices[3], 3u);
    EXPECT_TRUE(m.hasNormals);
    EXPECT_FLOAT_EQ(m.vertices[3].position[2], 1);
}

TEST(XFile, BrokenFilesFailCleanly) {
    struct Case {
        const char* name;
        std::string text;
        HRESULT expected;  // 0: any failure
    };
    const std::vector<Case> cases = {
        {"empty", "", 0},
        {"not an x file", "hello world, this is not it", 0},
        {"no mesh", "xof 0302txt 0032\nHeader { 1; 0; 1; }\n", E_FAIL},
        {"index out of range", "xof 0302txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,7;; }", 0},
        {"truncated", quadText.substr(0, quadText.size() / 2), 0},
        {"huge count", "xof 0302txt 0032\nMesh { 4000000000; 0;0;0;; }", 0},
        {"nan", "xof 0302txt 0032\nMesh { 3; nan;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }", 0},
        {"two-corner face", "xof 0302txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 2;0,1;; }", 0},
        {"normal faces differ", "xof 0302txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; } }", 0},
        {"unknown format", "xof 0302abc 0032\nMesh { }", 0},
        {"unclosed", "xof 0302txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; MeshNormals {", 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.text.begin(), c.text.end());
        HRESULT hr = parseResult(bytes);
        EXPECT_TRUE(FAILED(hr)) << c.name;
        if (c.expected) {
            EXPECT_EQ(hr, c.expected) << c.name;
        }
    }
    // Too many vertices for 16-bit indices.
    std::string big = "xof 0302txt 0032\nMesh { 70002;";
    for (int i = 0; i < 70002; ++i) big += "0;0;" + std::to_string(i) + ";,";
    big += "; 23334;";
    for (int i = 0; i < 23334; ++i) big += "3;" + std::to_string(3 * i) + "," + std::to_string(3 * i + 1) + "," + std::to_string(3 * i + 2) + ";,";
    big += "; }";
    EXPECT_TRUE(FAILED(parseResult(std::vector<uint8_t>(big.begin(), big.end()))));
}

TEST(XFile, AFrameMatrixAppliesToItsMeshesWhereverItStands) {
    const std::string text = R"(xof 0302txt 0032
Frame Outer {
  Frame Inner {
    Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;;
      MeshNormals { 1; 1;0;0;; 1; 3;0,0,0;; } }
    FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 1,0,0,1;; }
  }
  FrameTransformMatrix { 0,0,1,0, 0,1,0,0, -1,0,0,0, 0,0,5,1;; }
}
)";
    xfile::Mesh m = parseOk(text);
    ASSERT_EQ(m.vertices.size(), 3u);
    // (0,1,0): inner scale and shift -> (1,2,0); outer turns x into z and shifts z -> (0,2,6).
    EXPECT_FLOAT_EQ(m.vertices[1].position[0], 0);
    EXPECT_FLOAT_EQ(m.vertices[1].position[1], 2);
    EXPECT_FLOAT_EQ(m.vertices[1].position[2], 6);
    // The normal (1,0,0) is scaled, turned to (0,0,2) and made unit length again.
    EXPECT_FLOAT_EQ(m.vertices[0].normal[0], 0);
    EXPECT_FLOAT_EQ(m.vertices[0].normal[2], 1);
}

TEST(XFile, ColoursAndMaterialsComeWithTheirPositions) {
    const std::string text = R"(xof 0302txt 0032
Mesh { 4; 0;0;0;, 0;1;0;, 1;1;0;, 1;0;0;; 2; 3;0,1,2;, 3;0,2,3;;
  MeshVertexColors { 2; 1; 1.0;0.0;0.0;1.0;;, 3; 0.0;0.0;1.0;0.5;;; }
  MeshMaterialList { 2; 2; 1, 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } }
}
)";
    xfile::Mesh m = parseOk(text);
    EXPECT_TRUE(m.hasColors);
    EXPECT_FALSE(m.hasNormals);
    ASSERT_EQ(m.vertices.size(), 4u);
    EXPECT_EQ(m.vertices[0].color, 0xFFFFFFFFu);  // no colour given: opaque white
    EXPECT_EQ(m.vertices[1].color, 0xFFFF0000u);
    EXPECT_EQ(m.vertices[3].color, 0x800000FFu);
    EXPECT_EQ(m.attributes, (std::vector<uint32_t>{1, 0}));
}

TEST(XFile, HostileStructureFailsWithoutExhaustingStackOrMemory) {
    // Frames nested a million deep.
    std::string deep = "xof 0302txt 0032\n";
    for (int i = 0; i < 1000000; ++i) deep += "Frame{";
    EXPECT_EQ(parseResult(std::vector<uint8_t>(deep.begin(), deep.end())), static_cast<HRESULT>(0x88760B59u));
    // Nesting within the limit still loads.
    std::string nested = "xof 0302txt 0032\n";
    for (int i = 0; i < 20; ++i) nested += "Frame{";
    nested += "Mesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1; 3;0,1,2;; }";
    for (int i = 0; i < 20; ++i) nested += "}";
    EXPECT_EQ(parseResult(std::vector<uint8_t>(nested.begin(), nested.end())), S_OK);
    // Millions of empty binary lists.
    BinaryWriter empty("xof 0303bin 0032");
    for (int i = 0; i < 2000000; ++i) empty.integers({});
    EXPECT_TRUE(FAILED(parseResult(empty.bytes)));
    // Empty lists between the members of a mesh are harmless.
    BinaryWriter spaced("xof 0303bin 0032");
    spaced.name("Mesh").open().integers({3}).floats({}).floats({0, 0, 0, 0, 1, 0, 1, 0, 0}).integers({});
    spaced.integers({1, 3, 0, 1, 2}).close();
    EXPECT_EQ(parseResult(spaced.bytes), S_OK);
    // Big polygons whose fans would multiply into tens of millions of triangles.
    std::string fan = "xof 0302txt 0032\nMesh { 3; 0;0;0;, 0;1;0;, 1;0;0;; 1000;";
    std::string polygon = "4096;";
    for (int k = 0; k < 4096; ++k) polygon += k ? ",0" : "0";
    for (int i = 0; i < 1000; ++i) fan += polygon + ";,";
    fan += "; }";
    EXPECT_TRUE(FAILED(parseResult(std::vector<uint8_t>(fan.begin(), fan.end()))));
    // A compressed file that claims a huge body but holds none.
    std::vector<uint8_t> claim = {'x', 'o', 'f', ' ', '0', '3', '0', '3', 't', 'z', 'i', 'p', '0', '0', '3', '2',
                                  0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_TRUE(FAILED(parseResult(claim)));
}

TEST(XFile, TruncationsAndByteFlipsOfValidFilesNeverCrash) {
    const std::vector<uint8_t> binary = quadBinary(), wide = quadBinary(true);
    std::vector<std::vector<uint8_t>> sources = {std::vector<uint8_t>(quadText.begin(), quadText.end()), binary, wide,
                                                 compress("xof 0303tzip0032", quadText.substr(16)),
                                                 compress("xof 0303bzip0064", std::string(wide.begin() + 16, wide.end()))};
    uint32_t seed = 12345;
    for (const auto& source : sources) {
        for (size_t cut = 0; cut < source.size(); ++cut) parseResult(std::vector<uint8_t>(source.begin(), source.begin() + long(cut)));
        for (int round = 0; round < 2000; ++round) {
            std::vector<uint8_t> damaged = source;
            for (int flips = 0; flips < 3; ++flips) {
                seed = seed * 1664525u + 1013904223u;
                damaged[16 + seed % (damaged.size() - 16)] ^= uint8_t(seed >> 24);
            }
            parseResult(damaged);
        }
    }
    SUCCEED();
}

TEST(XFileLoader, LoadsIntoAManagedMeshWithTheFileFields) {
    const std::string path = std::string(::testing::TempDir()) + "quad.x";
    std::ofstream(path) << quadText;
    HeadlessDevice d;
    ID3DXMesh* mesh = nullptr;
    // The show's backslash paths work on the host.
    std::string showStyle = path;
    ASSERT_EQ(D3DXLoadMeshFromXA(showStyle.c_str(), D3DXMESH_MANAGED, d.device, nullptr, nullptr, nullptr, nullptr, &mesh),
              D3D_OK);
    EXPECT_EQ(mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), 32u);
    EXPECT_EQ(mesh->GetNumVertices(), 4u);
    EXPECT_EQ(mesh->GetNumFaces(), 2u);
    mesh->Release();
    EXPECT_EQ(D3DXLoadMeshFromXA("no/such/file.x", D3DXMESH_MANAGED, d.device, nullptr, nullptr, nullptr, nullptr, &mesh),
              static_cast<HRESULT>(0x80070002u));
    EXPECT_EQ(D3DXLoadMeshFromXA(nullptr, 0, d.device, nullptr, nullptr, nullptr, nullptr, &mesh), D3DERR_INVALIDCALL);
    EXPECT_TRUE(FAILED(D3DXLoadMeshFromXA(::testing::TempDir().c_str(), 0, d.device, nullptr, nullptr, nullptr, nullptr, &mesh)));
}

TEST(ComputeNormals, SumsUnnormalisedFaceNormalsAndFailsWithoutANormalField) {
    HeadlessDevice d;
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, d.device, &mesh), D3D_OK);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    // Two triangles of a bent quad: a big one in the z = 0 plane and a small one tilted.
    const float positions[4][3] = {{0, 0, 0}, {0, 4, 0}, {4, 0, 0}, {0, 0, 1}};
    for (int i = 0; i < 4; ++i) {
        std::memcpy(v + i * 6, positions[i], 12);
        v[i * 6 + 3] = 9;
    }
    mesh->UnlockVertexBuffer();
    uint16_t* idx = nullptr;
    mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&idx));
    const uint16_t indices[6] = {0, 1, 2, 0, 3, 1};
    std::memcpy(idx, indices, sizeof indices);
    mesh->UnlockIndexBuffer();
    ASSERT_EQ(D3DXComputeNormals(mesh, nullptr), D3D_OK);
    mesh->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&v));
    // Vertex 2 only touches the first face: (0,4,0)x(4,0,0) = (0,0,-16) -> (0,0,-1).
    EXPECT_FLOAT_EQ(v[2 * 6 + 5], -1);
    // Vertex 0 sums (0,0,-16) and (0,0,1)x(0,4,0) = (-4,0,0): the larger face weighs more.
    float n[3] = {v[3], v[4], v[5]};
    float len = std::sqrt(16.0f * 16 + 4 * 4);
    EXPECT_NEAR(n[0], -4 / len, 1e-6);
    EXPECT_NEAR(n[2], -16 / len, 1e-6);
    EXPECT_EQ(v[0], 0.0f);  // positions untouched
    mesh->UnlockVertexBuffer();
    mesh->Release();

    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_TEX1, d.device, &mesh), D3D_OK);
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    v[3] = 0.25f;
    mesh->UnlockVertexBuffer();
    EXPECT_EQ(D3DXComputeNormals(mesh, nullptr), D3DERR_INVALIDCALL);
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    EXPECT_EQ(v[3], 0.25f);
    mesh->UnlockVertexBuffer();
    mesh->Release();
    EXPECT_EQ(D3DXComputeNormals(nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST(MeshObject, CloneIsIndependentAndDrawSubsetDrawsItsFaces) {
    HeadlessDevice d;
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, d.device, &mesh), D3D_OK);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    v[0] = 7;
    mesh->UnlockVertexBuffer();
    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_MANAGED, mesh->GetFVF(), d.device, &clone), D3D_OK);
    clone->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    EXPECT_EQ(v[0], 7);
    v[0] = 1;
    clone->UnlockVertexBuffer();
    mesh->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&v));
    EXPECT_EQ(v[0], 7);
    mesh->UnlockVertexBuffer();
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(clone->GetVertexBuffer(&vb), D3D_OK);
    D3DVERTEXBUFFER_DESC desc;
    vb->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 3u * 24u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    vb->Release();
    clone->Release();
    mesh->Release();
}

}  // namespace
