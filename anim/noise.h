// Deterministic value noise and the per-vertex effects that bulge, twist, wave and ripple a mesh.
// Every effect rewrites a target mesh from an untouched source, so nothing accumulates from frame to
// frame. Every effect also works in place (source == target), reading a whole position before
// writing it. A target with fewer vertices than its source gets only the ones it has room for.
#pragma once

#include "gfx/d3dx/d3dx9.h"

constexpr int noiseTableSize = 65536;

// Filled once at start by fillNoiseTable, read-only afterwards.
extern float noiseTable[noiseTableSize];

// Same table on every system: a fixed 32-bit LCG with 15-bit draws, scaled by the float nearest
// 1/65535, so every entry lies in [0, 0.49999237].
void fillNoiseTable();

// Catmull-Rom spline through the table, one entry per unit of x, wrapping every 65536 units.
// A non-finite x gives NaN.
float smoothNoise(float x);

// Each axis c with a non-zero amplitude A becomes c + smoothNoise(frequency * c + phase) * A.
// Only the 12 position bytes of a target vertex are written.
void deformMesh(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitudeX,
                float amplitudeY, float amplitudeZ);

// Turns each vertex about the Y axis by twist * y radians. Where that angle is exactly 0 the normal
// that follows the position is copied too, when both meshes carry one.
void twistMesh(ID3DXMesh* source, ID3DXMesh* target, float twist);

// x becomes x + sin(frequency * y + phase) * amplitude.
void waveMeshX(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude);

// z becomes z + sin(sqrt(x² + y²) * frequency + phase) * amplitude: rings around the Z axis.
void rippleMeshZ(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude);

// One weight per vertex, 1 / sqrt(distance from the Z axis); a vertex on the axis gets 0, so a turn
// about the axis scaled by it leaves that vertex where it is (it would not move anyway). The array
// is allocated with new[] and owned by the caller; null when the mesh is null or cannot be read.
float* computeRadialWeights(ID3DXMesh* mesh);
