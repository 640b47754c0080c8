// Assembles a draw: resolves the pixel setup once, runs the vertex stage, clips transformed triangles
// against the near and far planes, maps to the viewport, expands points into sprites, and hands each
// triangle to the rasteriser.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "gfx/raster/internal.h"

namespace raster {

namespace {

uint32_t indexAt(const Geometry& g, uint32_t i) {
    if (!g.indices) return uint32_t(int64_t(i) + g.baseVertex);
    if (i >= g.indexCount) return UINT32_MAX;
    uint32_t raw;
    if (g.indices32) {
        std::memcpy(&raw, static_cast<const uint8_t*>(g.indices) + size_t(i) * 4, 4);
    } else {
        uint16_t small;
        std::memcpy(&small, static_cast<const uint8_t*>(g.indices) + size_t(i) * 2, 2);
        raw = small;
    }
    int64_t index = int64_t(raw) + g.baseVertex;
    return index < 0 ? UINT32_MAX : uint32_t(index);
}

ClipVertex lerp(const ClipVertex& a, const ClipVertex& b, float t, int attributes) {
    ClipVertex r;
    r.x = a.x + (b.x - a.x) * t;
    r.y = a.y + (b.y - a.y) * t;
    r.z = a.z + (b.z - a.z) * t;
    r.w = a.w + (b.w - a.w) * t;
    for (int k = 0; k < attributes; ++k) r.attributes[k] = a.attributes[k] + (b.attributes[k] - a.attributes[k]) * t;
    return r;
}

// Clips a polygon against one plane, keeping points where distance >= 0.
int clipPlane(const ClipVertex* in, int count, ClipVertex* out, int attributes, float (*distance)(const ClipVertex&)) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& a = in[i];
        const ClipVertex& b = in[(i + 1) % count];
        float da = distance(a), db = distance(b);
        if (da >= 0) out[n++] = a;
        if ((da >= 0) != (db >= 0)) out[n++] = lerp(a, b, da / (da - db), attributes);
    }
    return n;
}

ScreenVertex toScreen(const ClipVertex& c, const Viewport& vp, int attributes) {
    ScreenVertex s;
    const float invW = 1.0f / c.w;
    s.x = float(vp.x) + (1.0f + c.x * invW) * float(vp.width) * 0.5f;
    s.y = float(vp.y) + (1.0f - c.y * invW) * float(vp.height) * 0.5f;
    s.z = vp.minZ + c.z * invW * (vp.maxZ - vp.minZ);
    s.q = invW;
    std::memcpy(s.attributes, c.attributes, sizeof(float) * size_t(attributes));
    return s;
}

ScreenVertex pretransformed(const ClipVertex& c, int attributes) {
    ScreenVertex s;
    s.x = c.x;
    s.y = c.y;
    s.z = c.z;
    s.q = 1.0f / c.w;
    std::memcpy(s.attributes, c.attributes, sizeof(float) * size_t(attributes));
    return s;
}

// The draw's screen-space vertices. A vertex shared by several triangles (a mesh's, a strip's) is
// mapped to the screen once, and triangles name their corners by position in the list.
struct ScreenVertices {
    std::vector<ScreenVertex> list;
    std::vector<int32_t> slotOf;  // per processed vertex: its position in `list`, or -1
    const ClipVertex* processed = nullptr;
    size_t processedCount = 0;

    uint32_t add(const ScreenVertex& v) {
        list.push_back(v);
        return uint32_t(list.size() - 1);
    }
    // `convert` maps the vertex when it is first used.
    template <class Convert>
    uint32_t slot(const ClipVertex* vertex, Convert convert) {
        const uintptr_t offset = uintptr_t(vertex) - uintptr_t(processed);
        const size_t k = size_t(offset / sizeof(ClipVertex));
        if (k >= processedCount) return add(convert(*vertex));  // a stand-in, never shared
        if (slotOf[k] < 0) slotOf[k] = int32_t(add(convert(*vertex)));
        return uint32_t(slotOf[k]);
    }
};

struct TriangleCorners {
    uint32_t a, b, c;
    bool cull;
};

thread_local ScreenVertices* screens = nullptr;
thread_local std::vector<TriangleCorners>* collected = nullptr;
// With one worker there is nobody to share with: triangles are drawn as they come, not listed first.
thread_local const PixelSetup* immediate = nullptr;

void emit(uint32_t a, uint32_t b, uint32_t c, bool cull) {
    if (immediate) {
        const std::vector<ScreenVertex>& list = screens->list;
        rasterizeTriangle(*immediate, list[a], list[b], list[c], cull);
    } else {
        collected->push_back(TriangleCorners{a, b, c, cull});
    }
}

void drawTriangle(const PixelSetup& setup, const ClipVertex* pa, const ClipVertex* pb, const ClipVertex* pc,
                  bool screenSpace) {
    const int attributes = setup.attributes;
    const ClipVertex &a = *pa, &b = *pb, &c = *pc;
    if (screenSpace) {
        auto convert = [attributes](const ClipVertex& v) { return pretransformed(v, attributes); };
        emit(screens->slot(pa, convert), screens->slot(pb, convert), screens->slot(pc, convert), true);
        return;
    }
    auto nearDistance = [](const ClipVertex& v) { return v.z; };
    auto farDistance = [](const ClipVertex& v) { return v.w - v.z; };
    bool inside = nearDistance(a) >= 0 && nearDistance(b) >= 0 && nearDistance(c) >= 0 && farDistance(a) >= 0 &&
                  farDistance(b) >= 0 && farDistance(c) >= 0 && a.w > 0 && b.w > 0 && c.w > 0;
    const Viewport& vp = setup.state->viewport;
    if (inside) {
        auto convert = [&vp, attributes](const ClipVertex& v) { return toScreen(v, vp, attributes); };
        emit(screens->slot(pa, convert), screens->slot(pb, convert), screens->slot(pc, convert), true);
        return;
    }
    ClipVertex polygon[maxClippedVertices + 2] = {a, b, c};
    ClipVertex clipped[maxClippedVertices + 2];
    int n = clipPlane(polygon, 3, clipped, attributes, nearDistance);
    n = clipPlane(clipped, n, polygon, attributes, farDistance);
    if (n < 3) return;
    for (int i = 0; i < n; ++i)
        if (polygon[i].w <= 0) return;
    uint32_t screen[maxClippedVertices + 2];
    for (int i = 0; i < n; ++i) screen[i] = screens->add(toScreen(polygon[i], vp, attributes));
    // The clipped polygon keeps the triangle's winding, so its fan is culled as the whole would be.
    for (int i = 1; i + 1 < n; ++i) emit(screen[0], screen[i], screen[i + 1], true);
}

void drawPoint(const PixelSetup& setup, const ClipVertex& p, bool screenSpace) {
    const State& state = *setup.state;
    const int attributes = setup.attributes;
    ScreenVertex centre;
    float size = state.pointSize;
    if (screenSpace) {
        centre = pretransformed(p, attributes);
    } else {
        if (p.w <= 0 || p.z < 0 || p.z > p.w) return;
        centre = toScreen(p, state.viewport, attributes);
        if (state.pointScaleEnable) {
            // Distance from the eye: w is the camera-space depth of a perspective projection.
            float d = p.w;
            float denominator = state.pointScaleA + state.pointScaleB * d + state.pointScaleC * d * d;
            size = denominator > 0 ? float(state.viewport.height) * size * std::sqrt(1.0f / denominator) : size;
        }
    }
    float maxSize = std::min(state.pointSizeMax, maxPointSize);
    size = std::clamp(size, std::min(state.pointSizeMin, maxSize), maxSize);
    if (!std::isfinite(size)) return;
    const float half = size * 0.5f;
    ScreenVertex corners[4];
    const float offsets[4][2] = {{-half, -half}, {half, -half}, {-half, half}, {half, half}};
    const float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
        corners[i] = centre;
        corners[i].x += offsets[i][0];
        corners[i].y += offsets[i][1];
        if (state.pointSpriteEnable)
            for (int s = 0; s < setup.activeStages; ++s) {
                corners[i].attributes[8 + 2 * s] = uv[i][0];
                corners[i].attributes[9 + 2 * s] = uv[i][1];
            }
    }
    uint32_t at[4];
    for (int i = 0; i < 4; ++i) at[i] = screens->add(corners[i]);
    // Points are never culled.
    emit(at[0], at[1], at[2], false);
    emit(at[1], at[3], at[2], false);
}

// One helper thread shares the rows of every large draw with the calling thread.
class RowWorker {
public:
    static RowWorker& instance() {
        static RowWorker worker;
        return worker;
    }

    // Runs job(1) on the helper while the caller runs job(0); returns when both are done.
    void runPair(const std::function<void(int)>& job) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            pending = &job;
            done = false;
        }
        wake.notify_one();
        job(0);
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [this] { return done; });
        pending = nullptr;
    }

    ~RowWorker() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        wake.notify_one();
        if (thread.joinable()) thread.join();
    }

private:
    RowWorker() : thread([this] { loop(); }) {}

    void loop() {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return quit || (pending && !done && !running); });
            if (quit) return;
            running = true;
            const std::function<void(int)>* job = pending;
            lock.unlock();
            (*job)(1);
            lock.lock();
            running = false;
            done = true;
            finished.notify_one();
        }
    }

    std::mutex mutex;
    std::condition_variable wake, finished;
    const std::function<void(int)>* pending = nullptr;
    bool done = true;
    bool running = false;
    bool quit = false;
    std::thread thread;
};

std::atomic<int> workerCount{2};

// Rows below this many pixels of work are not worth a hand-over.
constexpr double sharedWorkPixels = 4096;

}  // namespace

void setWorkerThreads(int count) { workerCount = count < 2 ? 1 : 2; }

void draw(const State& state, const Target& target, const Geometry& geometry) {
    if (!target.color || !geometry.vertices || geometry.stride == 0 || geometry.primitiveCount == 0) return;
    PixelSetup setup;
    setup.state = &state;
    setup.target = &target;
    setup.activeStages = countActiveStages(state);
    setup.attributes = 8 + 2 * setup.activeStages;
    setup.flatShade = state.shadeMode == 1;
    // Nothing is drawn outside the viewport, nor outside the colour target.
    setup.clipX0 = std::max(0, state.viewport.x);
    setup.clipY0 = std::max(0, state.viewport.y);
    setup.clipX1 = std::min(target.colorWidth, state.viewport.x + state.viewport.width);
    setup.clipY1 = std::min(target.colorHeight, state.viewport.y + state.viewport.height);
    if (setup.clipX0 >= setup.clipX1 || setup.clipY0 >= setup.clipY1) return;

    uint32_t vertexCount = 0;
    switch (geometry.primitive) {
        case Primitive::PointList: vertexCount = geometry.primitiveCount; break;
        case Primitive::LineList: vertexCount = geometry.primitiveCount * 2; break;
        case Primitive::LineStrip: vertexCount = geometry.primitiveCount + 1; break;
        case Primitive::TriangleList: vertexCount = geometry.primitiveCount * 3; break;
        case Primitive::TriangleStrip:
        case Primitive::TriangleFan: vertexCount = geometry.primitiveCount + 2; break;
    }
    // The vertex stage runs once per referenced vertex, in the order the primitives use them.
    thread_local std::vector<uint32_t> indices;
    thread_local std::vector<ClipVertex> processed;
    thread_local std::vector<const ClipVertex*> vertices;
    indices.resize(vertexCount);
    vertices.resize(vertexCount);
    for (uint32_t i = 0; i < vertexCount; ++i) indices[i] = indexAt(geometry, i);
    static const ClipVertex unusable = [] {
        ClipVertex c{};
        c.w = -1;  // outside every clip volume: no triangle can show it
        return c;
    }();
    if (geometry.indices) {
        // Each vertex of the buffer goes through the vertex stage once, however often it is used.
        uint32_t used = 0;
        for (uint32_t index : indices)
            if (index != UINT32_MAX && index < geometry.vertexCount) used = std::max(used, index + 1);
        processed.resize(used);
        processVertices(state, geometry, nullptr, int(used), setup.activeStages, processed.data());
        for (uint32_t i = 0; i < vertexCount; ++i) vertices[i] = indices[i] < used ? &processed[indices[i]] : &unusable;
    } else {
        processed.resize(vertexCount);
        processVertices(state, geometry, indices.data(), int(vertexCount), setup.activeStages, processed.data());
        for (uint32_t i = 0; i < vertexCount; ++i) vertices[i] = &processed[i];
    }

    thread_local ScreenVertices screenVertices;
    screenVertices.list.clear();
    screenVertices.processed = processed.data();
    screenVertices.processedCount = processed.size();
    screenVertices.slotOf.assign(processed.size(), -1);
    screens = &screenVertices;
    thread_local std::vector<TriangleCorners> triangles;
    triangles.clear();
    collected = &triangles;
    immediate = workerCount.load() > 1 ? nullptr : &setup;
    const bool screenSpace = isPretransformed(geometry.fvf);
    const ClipVertex* const* v = vertices.data();
    switch (geometry.primitive) {
        case Primitive::PointList:
            for (uint32_t i = 0; i < geometry.primitiveCount; ++i) drawPoint(setup, *v[i], screenSpace);
            break;
        case Primitive::TriangleList:
            for (uint32_t i = 0; i < geometry.primitiveCount; ++i)
                drawTriangle(setup, v[3 * i], v[3 * i + 1], v[3 * i + 2], screenSpace);
            break;
        case Primitive::TriangleStrip:
            for (uint32_t i = 0; i < geometry.primitiveCount; ++i) {
                if (i % 2 == 0)
                    drawTriangle(setup, v[i], v[i + 1], v[i + 2], screenSpace);
                else
                    drawTriangle(setup, v[i], v[i + 2], v[i + 1], screenSpace);
            }
            break;
        case Primitive::TriangleFan:
            for (uint32_t i = 0; i < geometry.primitiveCount; ++i)
                drawTriangle(setup, v[0], v[i + 1], v[i + 2], screenSpace);
            break;
        default:
            // Lines are not used by the show.
            break;
    }
    collected = nullptr;
    immediate = nullptr;
    screens = nullptr;
    if (triangles.empty()) return;

    const std::vector<ScreenVertex>& corners = screenVertices.list;
    double work = 0;
    for (const TriangleCorners& t : triangles) {
        const ScreenVertex &a = corners[t.a], &b = corners[t.b], &c = corners[t.c];
        double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
        work += std::clamp(maxX - minX, 0.0, 4096.0) * std::clamp(maxY - minY, 0.0, 4096.0) * 0.5;
        if (work > sharedWorkPixels) break;
    }
    // The helper must see this thread's list, not its own thread_local one.
    const std::vector<TriangleCorners>& list = triangles;
    auto rasterize = [&list, &corners, &setup](int worker, int workers) {
        PixelSetup mine = setup;
        mine.rowCount = workers;
        mine.rowIndex = worker;
        for (const TriangleCorners& t : list) rasterizeTriangle(mine, corners[t.a], corners[t.b], corners[t.c], t.cull);
    };
    if (workerCount.load() > 1 && work > sharedWorkPixels) {
        const std::function<void(int)> job = [&](int worker) { rasterize(worker, 2); };
        RowWorker::instance().runPair(job);
    } else {
        rasterize(0, 1);
    }
}

}  // namespace raster
