// CPU cost of decoding the show's music: one second of 192 kbit/s stereo per iteration.
#include <benchmark/benchmark.h>
#include <mpg123.h>

#include <string>
#include <vector>

namespace {

void DecodeOneSecondOfMusic(benchmark::State& state) {
    const std::string path = std::string(SHOW_MUSIC);
    std::vector<unsigned char> buffer(44100 * 4);
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    if (mpg123_open(h, path.c_str()) != MPG123_OK) {
        state.SkipWithError("the show's music is missing: build the tree first");
        return;
    }
    for (auto _ : state) {
        size_t got = 0;
        if (mpg123_read(h, buffer.data(), buffer.size(), &got) != MPG123_OK || got < buffer.size()) mpg123_seek(h, 0, SEEK_SET);
    }
    mpg123_close(h);
    mpg123_delete(h);
    state.counters["cpu share of real time"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(DecodeOneSecondOfMusic)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
