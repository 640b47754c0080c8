// Key tables as data: one row per key, handed to a track by one small loop.
#pragma once

#include <cstddef>

#include "anim/curve.h"

struct KeyRow {
    float timeMs;
    float value;
    int mode;
};

template <size_t N>
void addKeys(Curve& curve, const KeyRow (&rows)[N]) {
    for (const KeyRow& row : rows) curve.addKey(row.mode, row.timeMs, row.value);
    curve.computeTangents();
}

struct ColorKeyRow {
    float timeMs;
    float r, g, b, a;
    int mode;
};

template <size_t N>
void addKeys(ColorCurve& curve, const ColorKeyRow (&rows)[N]) {
    for (const ColorKeyRow& row : rows) curve.addKey(row.mode, row.timeMs, row.r, row.g, row.b, row.a);
    curve.computeTangents();
}
