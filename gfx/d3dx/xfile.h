// The .x reader: text, binary and MSZIP-compressed files into one merged triangle mesh description.
// Pure: bytes in, plain data out; no device involved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace xfile {

struct Vertex {
    float position[3];
    float normal[3];
    uint32_t color;  // A8R8G8B8
    float uv[2];
};

struct Mesh {
    bool hasNormals = false;
    bool hasColors = false;
    bool hasTexCoords = false;
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;     // three per triangle
    std::vector<uint32_t> attributes;  // one per triangle
};

// Limits that keep a hostile file within bounded memory and time.
constexpr size_t maxFileBytes = size_t(64) << 20;
constexpr uint32_t maxElements = 1u << 22;       // any one count, and the corners of one face list
constexpr uint32_t maxPolygonCorners = 4096;
constexpr size_t maxOutputVertices = 65535;      // 16-bit indices
constexpr size_t maxOutputTriangles = 1u << 20;  // 12 MiB of indices; polygons must not multiply memory
constexpr int maxNesting = 64;                   // objects inside objects: the reader recurses per frame

// Returns S_OK with `out` filled, E_FAIL when the file holds no mesh, or another failure code for
// malformed input; `error` then says what was wrong.
HRESULT parse(const uint8_t* data, size_t size, Mesh& out, std::string& error);

}  // namespace xfile
