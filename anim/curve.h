// Keyframe tracks over show time: one float (Curve) or one colour (ColorCurve). The mode of a segment
// belongs to the key that starts it, tangents ignore key spacing, and a lower-bound search decides the
// value exactly at a key's time.
#pragma once

#include <map>

#include "gfx/d3d9/d3d9types.h"

enum CurveMode : int {
    Hold = 0,
    Linear = 1,
    Hermite = 2,  // also every value other than 0 and 1
};

struct CurveKey {
    int mode;
    float value;
    float tangent;
};

class Curve {
public:
    Curve() = default;

    void addKey(int mode, float timeMs, float value);
    void computeTangents();
    float evaluate(float timeMs);
    size_t keyCount() const { return keys.size(); }

private:
    std::map<float, CurveKey> keys;
    bool tangentsValid = false;
};

struct ColorKey {
    int mode;
    float value[4];
    float tangent[4];
};

class ColorCurve {
public:
    ColorCurve() = default;

    void addKey(int mode, float timeMs, float r, float g, float b, float a);
    void computeTangents();
    D3DCOLORVALUE evaluate(float timeMs);

private:
    std::map<float, ColorKey> keys;
    bool tangentsValid = false;
};
