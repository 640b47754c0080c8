// The generated show data: the generator is deterministic, and every file the show loads is there with
// what its scene needs (sizes, alpha, mesh fields and winding, music length and gapless tag).
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string showDir = SHOW_DIR;
const std::string generator = std::string(BINARY_DIR) + "/assets/kaldra-assets";

const char* const dataFiles[] = {
    "text-tovira.png",  "text-kaldra.png",  "text-presents.png", "text-invitation.png", "planarbox41.x",
    "kaldobox.x",       "kaldobrown.jpg",   "kaldoback.jpg",     "flareblue.jpg",       "bioplasma.jpg",
    "bioplasmaenv.jpg", "grid.x",           "text-party.png",    "text-company.png",    "text-friends.png",
    "text-harmony.png", "biogen.x",         "plupo.x",           "plupo.jpg",           "plupoback.jpg",
    "info-1.png",       "info-2.png",       "info-3.png",        "info-4.png",          "corrosea.jpg",
    "corrosky.jpg",     "creditz.png",      "flipcube.x",        "flipcube.jpg",        "bluetooth.x",
    "bluetooth.jpg",    "bluetoothenv.jpg", "greetz.png",        "greetzover.png",      "seeya.jpg"};

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string makeTempDir() {
    char name[] = "/tmp/kaldra-assets-test-XXXXXX";
    const char* made = mkdtemp(name);
    return made ? made : "";
}

void removeTree(const std::string& dir) {
    if (dir.rfind("/tmp/kaldra-assets-test-", 0) == 0) std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(AssetGenerator, TwoRunsWriteIdenticalBytes) {
    std::string a = makeTempDir(), b = makeTempDir();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    ASSERT_EQ(std::system(("'" + generator + "' '" + a + "'").c_str()), 0);
    ASSERT_EQ(std::system(("'" + generator + "' '" + b + "'").c_str()), 0);
    std::vector<std::string> files;
    for (const char* f : dataFiles) files.push_back(std::string("data/") + f);
    files.push_back("kaldra.mp3");
    for (const std::string& f : files) {
        std::vector<unsigned char> x = readBytes(a + "/" + f), y = readBytes(b + "/" + f);
        EXPECT_FALSE(x.empty()) << f;
        EXPECT_TRUE(x == y) << f << " differs between two runs";
    }
    removeTree(a);
    removeTree(b);
}

TEST(AssetGenerator, RejectsAMissingArgument) {
    EXPECT_NE(std::system(("'" + generator + "' 2>/dev/null").c_str()), 0);
}

// ---------------------------------------------------------------------------------------------------
// Pictures.

struct PictureInfo {
    int width = 0, height = 0, channels = 0;
};

PictureInfo pngInfo(const std::vector<unsigned char>& b) {
    PictureInfo p;
    if (b.size() < 33 || std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) != 0) return p;
    auto be32 = [&](size_t o) { return int(b[o] << 24 | b[o + 1] << 16 | b[o + 2] << 8 | b[o + 3]); };
    p.width = be32(16);
    p.height = be32(20);
    const int channelsOfType[7] = {1, 0, 3, 1, 2, 0, 4};
    p.channels = b[25] <= 6 ? channelsOfType[b[25]] : 0;
    return p;
}

PictureInfo jpegInfo(const std::vector<unsigned char>& b) {
    PictureInfo p;
    for (size_t i = 2; i + 9 < b.size();) {
        if (b[i] != 0xFF) return p;
        unsigned char marker = b[i + 1];
        size_t len = size_t(b[i + 2] << 8 | b[i + 3]);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            p.height = b[i + 5] << 8 | b[i + 6];
            p.width = b[i + 7] << 8 | b[i + 8];
            p.channels = b[i + 9];
            return p;
        }
        i += 2 + len;
    }
    return p;
}

bool powerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

struct PictureCase {
    const char* file;
    int width, height;
};

// Full pictures drawn texel for texel need exact sizes; so do the strips and panels drawn at 1:1.
const PictureCase pictureCases[] = {
    {"text-tovira.png", 512, 128},   {"text-kaldra.png", 512, 128},
    {"text-presents.png", 512, 128}, {"text-invitation.png", 512, 128},
    {"text-party.png", 512, 128},    {"text-company.png", 512, 128},
    {"text-friends.png", 512, 128},  {"text-harmony.png", 512, 128},
    {"kaldoback.jpg", 1024, 512},    {"seeya.jpg", 1024, 512},
    {"plupoback.jpg", 1024, 512},    {"info-1.png", 256, 128},
    {"info-2.png", 256, 128},        {"info-3.png", 256, 128},
    {"info-4.png", 256, 128},        {"creditz.png", 1024, 128},
    {"greetz.png", 256, 2048},       {"greetzover.png", 256, 2048},
    {"flareblue.jpg", 64, 64},       {"kaldobrown.jpg", 0, 0},
    {"bioplasma.jpg", 0, 0},         {"bioplasmaenv.jpg", 0, 0},
    {"corrosea.jpg", 0, 0},          {"corrosky.jpg", 0, 0},
    {"flipcube.jpg", 0, 0},          {"bluetooth.jpg", 0, 0},
    {"bluetoothenv.jpg", 0, 0},      {"plupo.jpg", 0, 0}};  // 0: a tileable square of 256 or 512

TEST(AssetPictures, EveryPictureHasItsSizeAndChannels) {
    for (const PictureCase& c : pictureCases) {
        std::vector<unsigned char> bytes = readBytes(showDir + "/data/" + c.file);
        ASSERT_FALSE(bytes.empty()) << c.file << " is missing";
        bool png = std::strstr(c.file, ".png") != nullptr;
        PictureInfo p = png ? pngInfo(bytes) : jpegInfo(bytes);
        if (c.width) {
            EXPECT_EQ(p.width, c.width) << c.file;
            EXPECT_EQ(p.height, c.height) << c.file;
        } else {
            EXPECT_TRUE(p.width == p.height && (p.width == 256 || p.width == 512))
                << c.file << " " << p.width;
        }
        EXPECT_TRUE(powerOfTwo(p.width) && powerOfTwo(p.height)) << c.file;
        EXPECT_EQ(p.channels, png ? 4 : 3) << c.file;
    }
}

// Decodes a PNG to RGBA with libpng's simplified reader.
std::vector<unsigned char> decodePng(const std::string& path, int& w, int& h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    std::vector<unsigned char> out;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return out;
    img.format = PNG_FORMAT_RGBA;
    out.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) out.clear();
    w = int(img.width);
    h = int(img.height);
    return out;
}

TEST(AssetPictures, OverlaysAreTransparentAroundOpaqueInk) {
    for (const PictureCase& c : pictureCases) {
        if (!std::strstr(c.file, ".png")) continue;
        int w = 0, h = 0;
        std::vector<unsigned char> px = decodePng(showDir + "/data/" + c.file, w, h);
        ASSERT_FALSE(px.empty()) << c.file;
        size_t clear = 0, solid = 0;
        for (size_t i = 3; i < px.size(); i += 4) {
            clear += px[i] == 0;
            solid += px[i] >= 250;
        }
        size_t n = px.size() / 4;
        // The information panels are translucent plates (legible over the busy background); the rest
        // are ink and glow on a clear background.
        if (std::strncmp(c.file, "info-", 5) == 0) {
            size_t translucent = 0;
            for (size_t i = 3; i < px.size(); i += 4) translucent += px[i] < 250;
            EXPECT_GT(translucent, n / 2) << c.file;
        } else {
            EXPECT_GT(clear, n / 10) << c.file << ": too little transparent background";
        }
        EXPECT_GT(solid, n / 200) << c.file << ": too little opaque ink";
        // The edges are clear, so no letter or glow is cut off; an information panel also keeps clear
        // of the columns that fall off the screen where the scene places it (x 390 + 256 > 640).
        bool panel = std::strncmp(c.file, "info-", 5) == 0;
        size_t inkOnEdge = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1 || (panel && x >= 640 - 390);
                if (edge) inkOnEdge += px[(size_t(y) * size_t(w) + size_t(x)) * 4 + 3] != 0;
            }
        EXPECT_EQ(inkOnEdge, 0u) << c.file;
    }
}

// ---------------------------------------------------------------------------------------------------
// Meshes: a small count-driven reader of the text .x files the generator writes.

struct V3 {
    double x, y, z;
};

struct XMesh {
    std::vector<V3> positions, normals;
    std::vector<std::vector<unsigned>> faces, normalFaces;
    std::vector<std::pair<double, double>> uv;
    bool ok = false;
};

XMesh readX(const std::string& path) {
    XMesh m;
    std::vector<unsigned char> raw = readBytes(path);
    std::string text(raw.begin(), raw.end());
    if (text.compare(0, 16, "xof 0303txt 0032") != 0) return m;
    // Numbers in order, per block: the mesh body, MeshNormals, MeshTextureCoords.
    auto numbersIn = [&](size_t from, size_t to) {
        std::vector<double> v;
        std::string body = text.substr(from, to - from);
        for (char& c : body)
            if (c == ';' || c == ',') c = ' ';
        std::istringstream in(body);
        in.imbue(std::locale::classic());
        double d;
        while (in >> d) v.push_back(d);
        return v;
    };
    size_t mesh = text.find("Mesh "), open = text.find('{', mesh), normals = text.find("MeshNormals"),
           uvs = text.find("MeshTextureCoords"), materials = text.find("MeshMaterialList");
    if (mesh == std::string::npos || normals == std::string::npos || materials == std::string::npos) return m;
    auto readFaces = [](const std::vector<double>& v, size_t& i, std::vector<std::vector<unsigned>>& out) {
        size_t n = size_t(v.at(i++));
        for (size_t f = 0; f < n; ++f) {
            size_t k = size_t(v.at(i++));
            std::vector<unsigned> face;
            for (size_t c = 0; c < k; ++c) face.push_back(unsigned(v.at(i++)));
            out.push_back(face);
        }
    };
    std::vector<double> body = numbersIn(open + 1, normals);
    size_t i = 0, nv = size_t(body.at(i++));
    for (size_t k = 0; k < nv; ++k, i += 3)
        m.positions.push_back({body.at(i), body.at(i + 1), body.at(i + 2)});
    readFaces(body, i, m.faces);
    std::vector<double> nb =
        numbersIn(text.find('{', normals) + 1, uvs != std::string::npos ? uvs : materials);
    i = 0;
    size_t nn = size_t(nb.at(i++));
    for (size_t k = 0; k < nn; ++k, i += 3) m.normals.push_back({nb.at(i), nb.at(i + 1), nb.at(i + 2)});
    readFaces(nb, i, m.normalFaces);
    if (uvs != std::string::npos) {
        std::vector<double> ub = numbersIn(text.find('{', uvs) + 1, materials);
        size_t nu = size_t(ub.at(0));
        for (size_t k = 0; k < nu; ++k) m.uv.push_back({ub.at(1 + 2 * k), ub.at(2 + 2 * k)});
    }
    m.ok = true;
    return m;
}

struct Box {
    V3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
    V3 size() const { return {hi.x - lo.x, hi.y - lo.y, hi.z - lo.z}; }
};

Box bounds(const XMesh& m) {
    Box b;
    for (const V3& p : m.positions) {
        b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
        b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
    }
    return b;
}

struct MeshCase {
    const char* file;
    size_t minVertices, maxVertices;
    V3 minSize, maxSize;  // extent of the bounding box
    bool needsUv;
};

const MeshCase meshCases[] = {
    {"planarbox41.x", 4, 2000, {3.99, 0.99, 0}, {4.01, 1.01, 0}, true},
    // An 8-unit cube stood on a corner: its space diagonal (8 * sqrt 3) upright.
    {"kaldobox.x", 1000, 20000, {8, 13.8, 8}, {13.9, 13.9, 13.9}, false},
    {"grid.x", 80 * 80, 10000, {19.9, 19.9, 0}, {20.1, 20.1, 0}, true},
    {"biogen.x", 2000, 6000, {9, 3, 9}, {11, 5, 11}, false},
    {"plupo.x", 500, 20000, {18, 18, 0.5}, {22, 22, 5}, true},
    {"flipcube.x", 500, 20000, {9.9, 9.9, 9.9}, {10.1, 10.1, 10.1}, false},
    {"bluetooth.x", 500, 30000, {20, 20, 4}, {34, 34, 12}, true},
};

TEST(AssetMeshes, ShapesCountsAndFields) {
    for (const MeshCase& c : meshCases) {
        XMesh m = readX(showDir + "/data/" + c.file);
        ASSERT_TRUE(m.ok) << c.file;
        EXPECT_GE(m.positions.size(), c.minVertices) << c.file;
        EXPECT_LE(m.positions.size(), c.maxVertices) << c.file;
        EXPECT_LT(m.positions.size(), 65535u) << c.file << ": more than a 16-bit index buffer holds";
        V3 s = bounds(m).size();
        EXPECT_TRUE(s.x >= c.minSize.x && s.x <= c.maxSize.x) << c.file << " width " << s.x;
        EXPECT_TRUE(s.y >= c.minSize.y && s.y <= c.maxSize.y) << c.file << " height " << s.y;
        EXPECT_TRUE(s.z >= c.minSize.z && s.z <= c.maxSize.z) << c.file << " depth " << s.z;
        EXPECT_EQ(m.normals.size(), m.positions.size()) << c.file;
        EXPECT_EQ(m.normalFaces, m.faces) << c.file << ": normals are per vertex";
        if (c.needsUv) {
            EXPECT_EQ(m.uv.size(), m.positions.size()) << c.file;
        }
        for (const V3& n : m.normals) {
            double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            ASSERT_NEAR(len, 1.0, 1e-3) << c.file;
        }
    }
}

// The device culls counter-clockwise triangles: seen from the side the normals point to, the corners of
// every triangle must run clockwise, which in left-handed coordinates makes (p1 - p0) x (p2 - p0) point
// the same way as the normals.
TEST(AssetMeshes, FrontFacesAreClockwiseSeenAlongTheirNormals) {
    for (const MeshCase& c : meshCases) {
        XMesh m = readX(showDir + "/data/" + c.file);
        ASSERT_TRUE(m.ok) << c.file;
        size_t wrong = 0;
        for (const auto& f : m.faces) {
            ASSERT_EQ(f.size(), 3u) << c.file;
            ASSERT_LT(std::max({f[0], f[1], f[2]}), m.positions.size()) << c.file;
            const V3 &a = m.positions[f[0]], &b = m.positions[f[1]], &d = m.positions[f[2]];
            V3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{d.x - a.x, d.y - a.y, d.z - a.z};
            V3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
            V3 avg{0, 0, 0};
            for (unsigned k : f)
                avg = {avg.x + m.normals[k].x, avg.y + m.normals[k].y, avg.z + m.normals[k].z};
            if (n.x * avg.x + n.y * avg.y + n.z * avg.z <= 0) ++wrong;
        }
        EXPECT_EQ(wrong, 0u) << c.file << ": triangles facing away from their normals";
    }
}

TEST(AssetMeshes, FlatPlatesFaceTheCameraWithTheirPictureUpright) {
    for (const char* file : {"planarbox41.x", "grid.x"}) {
        XMesh m = readX(showDir + "/data/" + file);
        ASSERT_TRUE(m.ok);
        Box b = bounds(m);
        for (size_t i = 0; i < m.positions.size(); ++i) {
            EXPECT_EQ(m.positions[i].z, 0.0) << file;
            EXPECT_NEAR(m.normals[i].z, -1.0, 1e-6) << file;
            // (0,0) top left, (1,1) bottom right, seen from -z with +y up.
            double u = (m.positions[i].x - b.lo.x) / (b.hi.x - b.lo.x),
                   v = (b.hi.y - m.positions[i].y) / (b.hi.y - b.lo.y);
            ASSERT_NEAR(m.uv[i].first, u, 1e-5) << file;
            ASSERT_NEAR(m.uv[i].second, v, 1e-5) << file;
        }
        // Centred on the origin.
        EXPECT_NEAR(b.lo.x + b.hi.x, 0.0, 1e-5) << file;
        EXPECT_NEAR(b.lo.y + b.hi.y, 0.0, 1e-5) << file;
    }
}

TEST(AssetMeshes, PlupoHasNoVertexOnItsSwirlAxis) {
    XMesh m = readX(showDir + "/data/plupo.x");
    ASSERT_TRUE(m.ok);
    double nearest = 1e9;
    for (const V3& p : m.positions) nearest = std::min(nearest, std::sqrt(p.x * p.x + p.y * p.y));
    EXPECT_GT(nearest, 1.0) << "the swirl weight 1/sqrt(r) must stay finite and moderate";
}

TEST(AssetMeshes, BiogenVerticesAreDistinctSprites) {
    // Every vertex is drawn as a sprite: duplicates would show as brighter dots.
    XMesh m = readX(showDir + "/data/biogen.x");
    ASSERT_TRUE(m.ok);
    std::vector<V3> p = m.positions;
    std::sort(p.begin(), p.end(), [](const V3& a, const V3& b) {
        return a.x != b.x ? a.x < b.x : (a.y != b.y ? a.y < b.y : a.z < b.z);
    });
    for (size_t i = 1; i < p.size(); ++i)
        EXPECT_FALSE(p[i].x == p[i - 1].x && p[i].y == p[i - 1].y && p[i].z == p[i - 1].z) << i;
}

// ---------------------------------------------------------------------------------------------------
// Music: MPEG-1 layer III frames at 44.1 kHz, 192 kbit/s, stereo; an Info/LAME tag first, whose
// encoder delay and padding let a gapless decoder start at sample 0 and end on the last real sample.

struct Mp3Scan {
    size_t frames = 0, badFrames = 0;
    bool tag = false;
    int delay = -1, padding = -1;
};

Mp3Scan scanMp3(const std::vector<unsigned char>& b) {
    Mp3Scan s;
    size_t i = 0;
    bool first = true;
    while (i + 4 <= b.size()) {
        uint32_t h = uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3];
        bool sync = (h >> 21) == 0x7FF, mpeg1 = ((h >> 19) & 3) == 3, layer3 = ((h >> 17) & 3) == 1;
        int bitrateIndex = int((h >> 12) & 15), rateIndex = int((h >> 10) & 3), pad = int((h >> 9) & 1);
        int mode = int((h >> 6) & 3);
        if (!sync || !mpeg1 || !layer3 || rateIndex != 0 || bitrateIndex != 11 || mode == 3) {
            ++s.badFrames;
            break;
        }
        size_t size = size_t(144 * 192000 / 44100 + pad);
        if (first) {
            std::string frame(b.begin() + long(i), b.begin() + long(std::min(b.size(), i + size)));
            size_t info = frame.find("Info"), lame = frame.find("LAME");
            if (info != std::string::npos && lame != std::string::npos && lame + 24 <= frame.size()) {
                s.tag = true;
                const unsigned char* d = reinterpret_cast<const unsigned char*>(frame.data()) + lame + 21;
                s.delay = d[0] << 4 | d[1] >> 4;
                s.padding = (d[1] & 15) << 8 | d[2];
            }
            first = false;
        } else {
            ++s.frames;
        }
        i += size;
    }
    return s;
}

TEST(AssetMusic, LastsLongerThanTheShowWithAGaplessTag) {
    std::vector<unsigned char> bytes = readBytes(showDir + "/kaldra.mp3");
    ASSERT_FALSE(bytes.empty());
    Mp3Scan s = scanMp3(bytes);
    EXPECT_EQ(s.badFrames, 0u) << "every frame is 192 kbit/s, 44.1 kHz, MPEG-1 layer III, two channels";
    ASSERT_TRUE(s.tag) << "the first frame carries the Info/LAME tag";
    EXPECT_EQ(s.delay, 576);
    ASSERT_GE(s.padding, 0);
    long samples = long(s.frames) * 1152 - s.delay - s.padding;
    double seconds = double(samples) / 44100.0;
    EXPECT_GT(seconds, 136.0);
    EXPECT_NEAR(seconds, 140.0, 0.01);
}

}  // namespace
