// Vertex stage: transform to clip space, fixed-function lighting in camera space, texture
// coordinate selection, generation and transform.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "gfx/raster/internal.h"

namespace raster {

namespace {

constexpr uint32_t fvfXyz = 0x002, fvfXyzrhw = 0x004, fvfNormal = 0x010, fvfPsize = 0x020, fvfDiffuse = 0x040,
                   fvfSpecular = 0x080;

struct Layout {
    int normal = -1, diffuse = -1, specular = -1;
    int texCount = 0;
    int tex[8] = {};
    int texSize[8] = {};
    bool pretransformed = false;
};

Layout layoutOf(uint32_t fvf) {
    Layout l;
    int offset = 0;
    uint32_t position = fvf & 0x400E;
    if (position == fvfXyzrhw) {
        l.pretransformed = true;
        offset = 16;
    } else if (position == fvfXyz) {
        offset = 12;
    } else if (position >= 0x6 && position <= 0xE) {
        offset = 12 + 4 * int((position - 0x6) / 2 + 1);  // blend weights follow the position
    }
    if (fvf & fvfNormal) {
        l.normal = offset;
        offset += 12;
    }
    if (fvf & fvfPsize) offset += 4;
    if (fvf & fvfDiffuse) {
        l.diffuse = offset;
        offset += 4;
    }
    if (fvf & fvfSpecular) {
        l.specular = offset;
        offset += 4;
    }
    l.texCount = int((fvf >> 8) & 0xF);
    if (l.texCount > 8) l.texCount = 8;
    for (int i = 0; i < l.texCount; ++i) {
        static const int sizes[4] = {2, 3, 4, 1};
        l.texSize[i] = sizes[(fvf >> (16 + 2 * i)) & 3];
        l.tex[i] = offset;
        offset += 4 * l.texSize[i];
    }
    return l;
}

void multiply(const float* a, const float* b, float* out) {
    float r[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r[i * 4 + j] = a[i * 4] * b[j] + a[i * 4 + 1] * b[4 + j] + a[i * 4 + 2] * b[8 + j] + a[i * 4 + 3] * b[12 + j];
    std::memcpy(out, r, sizeof r);
}

void transformPoint(const float* m, const float* p, float w, float* out) {
    for (int j = 0; j < 4; ++j) out[j] = p[0] * m[j] + p[1] * m[4 + j] + p[2] * m[8 + j] + w * m[12 + j];
}

void unpack(uint32_t c, float* out) {
    out[0] = float((c >> 16) & 0xFF) / 255.0f;
    out[1] = float((c >> 8) & 0xFF) / 255.0f;
    out[2] = float(c & 0xFF) / 255.0f;
    out[3] = float(c >> 24) / 255.0f;
}

float dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void normalize3(float* v) {
    float s = dot3(v, v);
    if (s > 1e-30f) {
        float inv = 1.0f / std::sqrt(s);
        v[0] *= inv;
        v[1] *= inv;
        v[2] *= inv;
    } else {
        v[0] = v[1] = v[2] = 0;
    }
}

struct CameraLight {
    bool directional;
    float position[3];   // camera space
    float toLight[3];    // for directional lights
    const Light* light;
};

}  // namespace

int countActiveStages(const State& state) {
    int n = 0;
    for (; n < maxTextureStages; ++n) {
        const Stage& s = state.stages[n];
        if (s.colorOp == 1 /*DISABLE*/) break;
        // A stage whose first colour argument is a texture that is not bound ends the cascade.
        if ((s.colorArg1 & 0xF) == 2 /*TEXTURE*/ && !s.texture) break;
    }
    return n;
}

void processVertices(const State& state, const Geometry& geometry, const uint32_t* indices, int count,
                     int activeStages, ClipVertex* out) {
    const Layout layout = layoutOf(geometry.fvf);
    float worldView[16], worldViewProjection[16];
    multiply(state.world, state.view, worldView);
    multiply(worldView, state.projection, worldViewProjection);

    // Normals go through the inverse transpose of world-view; when it does not exist they are used
    // as given, so a flattening scale never produces NaN colours.
    float normalMatrix[9];
    {
        const float* m = worldView;
        float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
        float cof[9] = {e * i - f * h, -(d * i - f * g), d * h - e * g, -(b * i - c * h), a * i - c * g,
                        -(a * h - b * g), b * f - c * e, -(a * f - c * d), a * e - b * d};
        float det = a * cof[0] + b * cof[1] + c * cof[2];
        if (std::fabs(det) > 1e-12f && std::isfinite(det)) {
            for (int k = 0; k < 9; ++k) normalMatrix[k] = cof[k] / det;
        } else {
            static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
            std::memcpy(normalMatrix, identity, sizeof normalMatrix);
        }
    }

    const bool lighting = state.lighting && !layout.pretransformed;
    CameraLight lights[maxLights];
    int lightCount = 0;
    if (lighting) {
        for (const Light& l : state.lights) {
            if (!l.enabled) continue;
            CameraLight& cl = lights[lightCount++];
            cl.light = &l;
            cl.directional = l.type == 3;
            float p[4];
            transformPoint(state.view, l.position, 1.0f, p);
            std::memcpy(cl.position, p, sizeof cl.position);
            float d[3];
            for (int j = 0; j < 3; ++j)
                d[j] = l.direction[0] * state.view[j] + l.direction[1] * state.view[4 + j] +
                       l.direction[2] * state.view[8 + j];
            normalize3(d);
            cl.toLight[0] = -d[0];
            cl.toLight[1] = -d[1];
            cl.toLight[2] = -d[2];
        }
    }
    float globalAmbient[4];
    unpack(state.ambient, globalAmbient);

    for (int n = 0; n < count; ++n) {
        uint32_t index = indices ? indices[n] : uint32_t(n);
        ClipVertex& o = out[n];
        std::memset(o.attributes, 0, sizeof(float) * size_t(8 + 2 * activeStages));
        if (index >= geometry.vertexCount) {
            // Out-of-range indices make a vertex that no triangle can show.
            o.x = o.y = o.z = 0;
            o.w = -1;
            continue;
        }
        const uint8_t* v = geometry.vertices + size_t(index) * geometry.stride;
        float position[4];
        std::memcpy(position, v, 12);
        float vertexDiffuse[4] = {1, 1, 1, 1}, vertexSpecular[4] = {0, 0, 0, 0};
        if (layout.diffuse >= 0) {
            uint32_t c;
            std::memcpy(&c, v + layout.diffuse, 4);
            unpack(c, vertexDiffuse);
        }
        if (layout.specular >= 0) {
            uint32_t c;
            std::memcpy(&c, v + layout.specular, 4);
            unpack(c, vertexSpecular);
        }

        float* diffuse = o.attributes;
        float* specular = o.attributes + 4;
        float cameraPosition[4] = {0, 0, 0, 1};
        float cameraNormal[3] = {0, 0, 0};
        const bool needsCamera = lighting || activeStages > 0;

        if (layout.pretransformed) {
            std::memcpy(&position[3], v + 12, 4);
            o.x = position[0];
            o.y = position[1];
            o.z = position[2];
            o.w = position[3] != 0.0f ? 1.0f / position[3] : 1.0f;
            std::memcpy(diffuse, vertexDiffuse, sizeof vertexDiffuse);
            std::memcpy(specular, vertexSpecular, sizeof vertexSpecular);
        } else {
            float clip[4];
            transformPoint(worldViewProjection, position, 1.0f, clip);
            o.x = clip[0];
            o.y = clip[1];
            o.z = clip[2];
            o.w = clip[3];
            if (needsCamera) {
                transformPoint(worldView, position, 1.0f, cameraPosition);
                if (layout.normal >= 0) {
                    float nm[3];
                    std::memcpy(nm, v + layout.normal, 12);
                    for (int j = 0; j < 3; ++j)
                        cameraNormal[j] = nm[0] * normalMatrix[j] + nm[1] * normalMatrix[3 + j] + nm[2] * normalMatrix[6 + j];
                    if (state.normalizeNormals) normalize3(cameraNormal);
                }
            }
            if (!lighting) {
                std::memcpy(diffuse, vertexDiffuse, sizeof vertexDiffuse);
                std::memcpy(specular, vertexSpecular, sizeof vertexSpecular);
            } else {
                const Material& m = state.material;
                auto source = [&](uint32_t which, const Color& materialColor, float* dst) {
                    if (state.colorVertex && which == 1 && layout.diffuse >= 0)
                        std::memcpy(dst, vertexDiffuse, 16);
                    else if (state.colorVertex && which == 2 && layout.specular >= 0)
                        std::memcpy(dst, vertexSpecular, 16);
                    else {
                        dst[0] = materialColor.r;
                        dst[1] = materialColor.g;
                        dst[2] = materialColor.b;
                        dst[3] = materialColor.a;
                    }
                };
                float cd[4], ca[4], cs[4], ce[4];
                source(state.diffuseSource, m.diffuse, cd);
                source(state.ambientSource, m.ambient, ca);
                source(state.specularSource, m.specular, cs);
                source(state.emissiveSource, m.emissive, ce);
                float sumAmbient[3] = {globalAmbient[0], globalAmbient[1], globalAmbient[2]};
                float sumDiffuse[3] = {0, 0, 0}, sumSpecular[3] = {0, 0, 0};
                float toEye[3] = {-cameraPosition[0], -cameraPosition[1], -cameraPosition[2]};
                normalize3(toEye);
                for (int li = 0; li < lightCount; ++li) {
                    const CameraLight& cl = lights[li];
                    const Light& l = *cl.light;
                    float toLight[3];
                    float attenuation = 1.0f;
                    if (cl.directional) {
                        std::memcpy(toLight, cl.toLight, sizeof toLight);
                    } else {
                        for (int j = 0; j < 3; ++j) toLight[j] = cl.position[j] - cameraPosition[j];
                        float distance = std::sqrt(dot3(toLight, toLight));
                        if (distance > l.range) continue;
                        float denominator = l.attenuation0 + l.attenuation1 * distance + l.attenuation2 * distance * distance;
                        attenuation = denominator > 0.0f ? 1.0f / denominator : 1.0f;
                        normalize3(toLight);
                    }
                    float nl = std::max(0.0f, dot3(cameraNormal, toLight));
                    sumAmbient[0] += attenuation * l.ambient.r;
                    sumAmbient[1] += attenuation * l.ambient.g;
                    sumAmbient[2] += attenuation * l.ambient.b;
                    sumDiffuse[0] += attenuation * l.diffuse.r * nl;
                    sumDiffuse[1] += attenuation * l.diffuse.g * nl;
                    sumDiffuse[2] += attenuation * l.diffuse.b * nl;
                    if (state.specularEnable) {
                        float half[3] = {toEye[0] + toLight[0], toEye[1] + toLight[1], toEye[2] + toLight[2]};
                        normalize3(half);
                        float nh = std::max(0.0f, dot3(cameraNormal, half));
                        float power = nh > 0.0f ? std::pow(nh, m.power) : 0.0f;
                        sumSpecular[0] += attenuation * l.specular.r * power;
                        sumSpecular[1] += attenuation * l.specular.g * power;
                        sumSpecular[2] += attenuation * l.specular.b * power;
                    }
                }
                for (int j = 0; j < 3; ++j) {
                    diffuse[j] = std::clamp(ce[j] + ca[j] * sumAmbient[j] + cd[j] * sumDiffuse[j], 0.0f, 1.0f);
                    specular[j] = std::clamp(cs[j] * sumSpecular[j], 0.0f, 1.0f);
                }
                diffuse[3] = std::clamp(cd[3], 0.0f, 1.0f);
                specular[3] = 0.0f;
            }
        }

        for (int s = 0; s < activeStages; ++s) {
            const Stage& stage = state.stages[s];
            float in[4] = {0, 0, 1, 0};
            uint32_t generation = stage.texCoordIndex & 0xFFFF0000u;
            int set = int(stage.texCoordIndex & 0xFFFF);
            bool generated = generation != 0 && !layout.pretransformed;
            if (generated) {
                if (generation == 0x10000) {  // camera-space normal
                    in[0] = cameraNormal[0];
                    in[1] = cameraNormal[1];
                    in[2] = cameraNormal[2];
                } else if (generation == 0x20000) {  // camera-space position
                    in[0] = cameraPosition[0];
                    in[1] = cameraPosition[1];
                    in[2] = cameraPosition[2];
                } else if (generation == 0x30000) {  // reflection of the eye vector
                    float e[3] = {-cameraPosition[0], -cameraPosition[1], -cameraPosition[2]};
                    normalize3(e);
                    float en = dot3(e, cameraNormal);
                    for (int j = 0; j < 3; ++j) in[j] = 2.0f * en * cameraNormal[j] - e[j];
                } else if (generation == 0x40000) {  // sphere map
                    float e[3] = {cameraPosition[0], cameraPosition[1], cameraPosition[2]};
                    normalize3(e);
                    float en = dot3(e, cameraNormal);
                    float r[3];
                    for (int j = 0; j < 3; ++j) r[j] = e[j] - 2.0f * en * cameraNormal[j];
                    float mm = 2.0f * std::sqrt(r[0] * r[0] + r[1] * r[1] + (r[2] + 1) * (r[2] + 1));
                    in[0] = mm > 0 ? r[0] / mm + 0.5f : 0.5f;
                    in[1] = mm > 0 ? -r[1] / mm + 0.5f : 0.5f;
                    in[2] = 1.0f;
                }
                in[3] = 1.0f;
            } else if (set < layout.texCount) {
                const float* t = reinterpret_cast<const float*>(v + layout.tex[set]);
                float coords[4] = {0, 0, 0, 0};
                std::memcpy(coords, t, size_t(4 * layout.texSize[set]));
                in[0] = coords[0];
                in[1] = layout.texSize[set] > 1 ? coords[1] : 0.0f;
                if (layout.texSize[set] >= 3) {
                    in[2] = coords[2];
                    in[3] = layout.texSize[set] == 4 ? coords[3] : 1.0f;
                }
            }
            float u = in[0], w = in[1];
            uint32_t count2 = stage.transformFlags & 0xFF;
            if (count2 != 0 && !layout.pretransformed) {
                float t[4];
                transformPoint(stage.textureMatrix, in, in[3], t);
                u = t[0];
                w = t[1];
                if ((stage.transformFlags & 256) && count2 >= 2) {
                    float d = t[count2 - 1];
                    if (d != 0.0f) {
                        u /= d;
                        w /= d;
                    }
                }
            }
            o.attributes[8 + 2 * s] = u;
            o.attributes[9 + 2 * s] = w;
        }
    }
}

}  // namespace raster
