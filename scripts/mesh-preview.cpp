// A quick look at a generated .x mesh: perspective, z-buffer, counter-clockwise triangles culled as the
// device culls them, lit by one light, textured by the mesh's own coordinates or, with "env", by its
// camera-space normals as the scenes map environment textures. Built and run by scripts/contact-sheet.sh;
// not part of the show.
//   mesh-preview <mesh.x> <out.ppm> <yaw> <pitch> <distance> [texture.ppm [env]]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct V {
    double x, y, z;
};

std::vector<double> numbers(const std::string& text, size_t from, size_t to) {
    std::string s = text.substr(from, to - from);
    for (char& c : s)
        if (c == ';' || c == ',') c = ' ';
    std::istringstream in(s);
    in.imbue(std::locale::classic());
    std::vector<double> v;
    double d;
    while (in >> d) v.push_back(d);
    return v;
}

struct Picture {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
    bool read(const char* path) {
        FILE* f = std::fopen(path, "rb");
        if (!f) return false;
        int maxValue = 0;
        bool ok = std::fscanf(f, "P6 %d %d %d", &w, &h, &maxValue) == 3 && std::fgetc(f) != EOF;
        rgb.resize(size_t(w) * size_t(h) * 3);
        ok = ok && std::fread(rgb.data(), 1, rgb.size(), f) == rgb.size();
        std::fclose(f);
        return ok;
    }
    V at(double u, double v) const {
        u -= std::floor(u);
        v -= std::floor(v);
        int x = std::min(w - 1, int(u * w)), y = std::min(h - 1, int(v * h));
        const unsigned char* p = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
        return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0};
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: mesh-preview mesh.x out.ppm yaw pitch distance [texture.ppm [env]]\n");
        return 2;
    }
    std::ifstream file(argv[1]);
    std::stringstream buffer;
    buffer << file.rdbuf();
    std::string t = buffer.str();
    double yaw = std::atof(argv[3]), pitch = std::atof(argv[4]), distance = std::atof(argv[5]);
    Picture texture;
    bool textured = argc > 6 && texture.read(argv[6]), env = argc > 7 && std::string(argv[7]) == "env";

    size_t meshAt = t.find("Mesh "), normalsAt = t.find("MeshNormals"), uvAt = t.find("MeshTextureCoords");
    if (meshAt == std::string::npos || normalsAt == std::string::npos) {
        std::fprintf(stderr, "mesh-preview: %s has no mesh with normals\n", argv[1]);
        return 1;
    }
    std::vector<double> body = numbers(t, t.find('{', meshAt) + 1, normalsAt);
    size_t i = 0, nv = size_t(body[i++]);
    std::vector<V> pos(nv), nrm(nv);
    for (V& p : pos) p = {body[i], body[i + 1], body[i + 2]}, i += 3;
    size_t nf = size_t(body[i++]);
    std::vector<size_t> idx;
    for (size_t f = 0; f < nf; ++f, i += 4) idx.insert(idx.end(), {size_t(body[i + 1]), size_t(body[i + 2]), size_t(body[i + 3])});
    std::vector<double> nb = numbers(t, t.find('{', normalsAt) + 1, t.find('}', normalsAt));
    for (size_t k = 0; k < nv; ++k) nrm[k] = {nb[1 + 3 * k], nb[2 + 3 * k], nb[3 + 3 * k]};
    std::vector<double> uv(2 * nv, 0.0);
    if (uvAt != std::string::npos) {
        std::vector<double> ub = numbers(t, t.find('{', uvAt) + 1, t.find('}', uvAt));
        for (size_t k = 0; k < 2 * nv; ++k) uv[k] = ub[1 + k];
    }

    // Yaw about y, then pitch about x; the camera looks along +z from -distance (left-handed, y up).
    auto turn = [&](V v) {
        double cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
        V a{v.x * cy + v.z * sy, v.y, -v.x * sy + v.z * cy};
        return V{a.x, a.y * cp - a.z * sp, a.y * sp + a.z * cp};
    };
    const int W = 480, H = 360;
    std::vector<double> depth(size_t(W) * H, 1e30);
    std::vector<unsigned char> image(size_t(W) * H * 3, 24);
    std::vector<V> screen(nv), camNormal(nv);
    for (size_t k = 0; k < nv; ++k) {
        V p = turn(pos[k]);
        p.z += distance;
        screen[k] = {W / 2 + p.x / p.z * H * 0.9, H / 2 - p.y / p.z * H * 0.9, p.z};
        camNormal[k] = turn(nrm[k]);
    }
    const V light{0.45, 0.55, -0.7};  // towards the light
    for (size_t f = 0; f < nf; ++f) {
        size_t a = idx[3 * f], b = idx[3 * f + 1], c = idx[3 * f + 2];
        const V &A = screen[a], &B = screen[b], &C = screen[c];
        double area = (B.x - A.x) * (C.y - A.y) - (C.x - A.x) * (B.y - A.y);  // > 0: clockwise on screen
        if (area <= 0) continue;
        int x0 = std::max(0, int(std::min({A.x, B.x, C.x}))), x1 = std::min(W - 1, int(std::max({A.x, B.x, C.x})) + 1);
        int y0 = std::max(0, int(std::min({A.y, B.y, C.y}))), y1 = std::min(H - 1, int(std::max({A.y, B.y, C.y})) + 1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                double px = x + 0.5, py = y + 0.5;
                double w0 = ((B.x - px) * (C.y - py) - (C.x - px) * (B.y - py)) / area;
                double w1 = ((C.x - px) * (A.y - py) - (A.x - px) * (C.y - py)) / area;
                double w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                double z = w0 * A.z + w1 * B.z + w2 * C.z;
                size_t o = size_t(y) * W + size_t(x);
                if (z >= depth[o]) continue;
                depth[o] = z;
                V n{w0 * camNormal[a].x + w1 * camNormal[b].x + w2 * camNormal[c].x,
                    w0 * camNormal[a].y + w1 * camNormal[b].y + w2 * camNormal[c].y,
                    w0 * camNormal[a].z + w1 * camNormal[b].z + w2 * camNormal[c].z};
                double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
                double lit = 0.25 + 0.75 * std::max(0.0, (n.x * light.x + n.y * light.y + n.z * light.z) / len);
                V col{0.9, 0.8, 0.65};
                if (textured && env) {
                    col = texture.at(n.x / len, n.y / len);
                    lit = 1.0;  // environment maps carry their own light
                } else if (textured) {
                    col = texture.at(w0 * uv[2 * a] + w1 * uv[2 * b] + w2 * uv[2 * c],
                                     w0 * uv[2 * a + 1] + w1 * uv[2 * b + 1] + w2 * uv[2 * c + 1]);
                }
                image[o * 3] = (unsigned char)std::lround(std::min(1.0, col.x * lit) * 255);
                image[o * 3 + 1] = (unsigned char)std::lround(std::min(1.0, col.y * lit) * 255);
                image[o * 3 + 2] = (unsigned char)std::lround(std::min(1.0, col.z * lit) * 255);
            }
    }
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fprintf(out, "P6 %d %d 255\n", W, H);
    std::fwrite(image.data(), 1, image.size(), out);
    return std::fclose(out) == 0 ? 0 : 1;
}
