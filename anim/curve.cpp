#include "anim/curve.h"

#include <iterator>

namespace {

// Segment value for keys a and b at u in (0, 1]; the caller has already handled Hold.
float segmentValue(int mode, float valueA, float tangentA, float valueB, float tangentB, float u) {
    if (mode == Linear) return valueA * (1 - u) + u * valueB;
    float u2 = u * u;
    float u3 = u2 * u;
    return valueA * (2 * u3 - 3 * u2 + 1) + tangentA * (u3 - 2 * u2 + u) + valueB * (3 * u2 - 2 * u3) +
           tangentB * (u3 - u2);
}

// Tangents are half the difference of the neighbours' values, whatever the spacing of the keys; the
// end keys use their one neighbour.
template <typename Map, typename Get, typename Set>
void computeHalfDifferenceTangents(Map& keys, int components, Get get, Set set) {
    auto first = keys.begin();
    auto last = std::prev(keys.end());
    for (auto it = first; it != keys.end(); ++it) {
        auto before = it == first ? it : std::prev(it);
        auto after = it == last ? it : std::next(it);
        for (int c = 0; c < components; ++c) set(it->second, c, (get(after->second, c) - get(before->second, c)) * 0.5f);
    }
}

}  // namespace

void Curve::addKey(int mode, float timeMs, float value) {
    keys.try_emplace(timeMs, CurveKey{mode, value, 0.0f});
    tangentsValid = false;
}

void Curve::computeTangents() {
    if (tangentsValid || keys.size() < 2) return;
    computeHalfDifferenceTangents(
        keys, 1, [](const CurveKey& k, int) { return k.value; },
        [](CurveKey& k, int, float t) { k.tangent = t; });
    tangentsValid = true;
}

float Curve::evaluate(float timeMs) {
    if (!tangentsValid) computeTangents();
    // An empty track is never evaluated by the show; zero is a harmless answer.
    if (keys.empty()) return 0.0f;
    const auto& first = *keys.begin();
    const auto& last = *keys.rbegin();
    if (timeMs <= first.first) return first.second.value;
    if (timeMs >= last.first) return last.second.value;
    auto b = keys.lower_bound(timeMs);
    auto a = std::prev(b);
    const CurveKey& keyA = a->second;
    const CurveKey& keyB = b->second;
    if (keyA.mode == Hold) return keyA.value;
    float u = (timeMs - a->first) / (b->first - a->first);
    return segmentValue(keyA.mode, keyA.value, keyA.tangent, keyB.value, keyB.tangent, u);
}

void ColorCurve::addKey(int mode, float timeMs, float r, float g, float b, float a) {
    keys.try_emplace(timeMs, ColorKey{mode, {r, g, b, a}, {0, 0, 0, 0}});
    tangentsValid = false;
}

void ColorCurve::computeTangents() {
    if (tangentsValid || keys.size() < 2) return;
    computeHalfDifferenceTangents(
        keys, 4, [](const ColorKey& k, int c) { return k.value[c]; },
        [](ColorKey& k, int c, float t) { k.tangent[c] = t; });
    tangentsValid = true;
}

D3DCOLORVALUE ColorCurve::evaluate(float timeMs) {
    if (!tangentsValid) computeTangents();
    if (keys.empty()) return D3DCOLORVALUE{0, 0, 0, 0};
    auto toColor = [](const float* v) { return D3DCOLORVALUE{v[0], v[1], v[2], v[3]}; };
    const auto& first = *keys.begin();
    const auto& last = *keys.rbegin();
    if (timeMs <= first.first) return toColor(first.second.value);
    if (timeMs >= last.first) return toColor(last.second.value);
    auto b = keys.lower_bound(timeMs);
    auto a = std::prev(b);
    const ColorKey& keyA = a->second;
    const ColorKey& keyB = b->second;
    if (keyA.mode == Hold) return toColor(keyA.value);
    float u = (timeMs - a->first) / (b->first - a->first);
    float out[4];
    for (int c = 0; c < 4; ++c)
        out[c] = segmentValue(keyA.mode, keyA.value[c], keyA.tangent[c], keyB.value[c], keyB.tangent[c], u);
    return toColor(out);
}
