// The heaviest frame of the plupo, corrosion, greetings and farewell scenes, on the staged show with
// the real device and data. A first pass renders every 250 ms of each window and keeps the slowest
// frame; the benchmark then renders that frame over and over. "allocations" is heap allocations per
// frame.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "engine/demo_engine.h"
#include "tools/offline/offline_show.h"

namespace {

std::atomic<long> allocations{0};

[[gnu::noinline]] void* heapAllocate(std::size_t size) {
    return std::malloc(size ? size : 1);
}
[[gnu::noinline]] void heapFree(void* p) {
    std::free(p);
}

struct Window {
    const char* scene;
    DWORD from, to;  // inclusive
};
// The farewell is measured to one second past the stop.
constexpr Window windows[] = {{"plupo", 50000, 81999},
                              {"corrosion", 82000, 97999},
                              {"greetings", 98000, 129999},
                              {"farewell", 130000, 137000}};

double frameSeconds(DWORD t) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        engine->renderFrame(t);
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void renderFrame(benchmark::State& state, OfflineShow* show, DWORD t) {
    show->frameAt(t);  // stages the frame's scene as a run reaches it
    long before = allocations.load();
    engine->renderFrame(t);
    state.counters["allocations"] = double(allocations.load() - before);
    for (auto _ : state) engine->renderFrame(t);
}

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = heapAllocate(size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    heapFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    heapFree(p);
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    OfflineShow show(SHOW_DIR);
    if (!show.ok()) {
        std::fprintf(stderr, "scene_frames: %s\n", show.error().c_str());
        return 1;
    }
    for (const Window& w : windows) {
        DWORD heaviest = w.from;
        double worst = 0;
        for (DWORD t = w.from; t <= w.to; t = std::min(t + 250, w.to + 1)) {
            show.frameAt(t);
            const double seconds = frameSeconds(t);
            if (seconds > worst) worst = seconds, heaviest = t;
        }
        std::fprintf(stderr, "scene_frames: %s scan: heaviest frame at %u ms, %.2f ms\n", w.scene,
                     unsigned(heaviest), worst * 1000);
        const std::string name = std::string(w.scene) + "/heaviest/" + std::to_string(heaviest);
        // Process time, so the rows a second render thread draws are counted too.
        benchmark::RegisterBenchmark(name.c_str(), renderFrame, &show, heaviest)
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
