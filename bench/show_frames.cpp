// One frame of the show at a fixed show time, rendered offline with the real device, scenes and data:
// what a frame costs at the heaviest moments of the first two scenes. Run with
// --benchmark_filter=Sweep to time one frame every second of the first 50 s and find those moments.
#include <benchmark/benchmark.h>

#include <memory>

#include "tools/offline/offline_show.h"

namespace {

OfflineShow& show() {
    static std::unique_ptr<OfflineShow> staged = std::make_unique<OfflineShow>(SHOW_DIR);
    return *staged;
}

void frameAt(benchmark::State& state) {
    const DWORD t = DWORD(state.range(0));
    if (!show().ok()) {
        state.SkipWithError(show().error().c_str());
        return;
    }
    show().frameAt(t);  // stages the scenes before t, outside the timing
    for (auto _ : state) benchmark::DoNotOptimize(show().nextFrame(t).data());
}

// Box intro: 16000 is the jolt of amplitude 8 under the white flash, 12250 a word plate at full
// alpha while the outline is large. Biogen: section starts (16-pixel sprites, full glow, shaken grid)
// and the strongest twist at 38000.
BENCHMARK(frameAt)
    ->Name("Frame")
    ->Arg(500)
    ->Arg(12250)
    ->Arg(16000)
    ->Arg(18000)
    ->Arg(26000)
    ->Arg(30000)
    ->Arg(38000)
    ->Arg(42000)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(frameAt)
    ->Name("Sweep")
    ->DenseRange(0, 49000, 1000)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
