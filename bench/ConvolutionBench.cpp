// Direct against FFT (overlap-add) convolution of a waveform with a channel's impulse response:
// the crossover in taps, and the bit-by-bit flow of a link at 1 Gb/s (20 000 bits of 384 samples
// through a 32-UI window of 12 288 taps). Run side by side; docs/speed.md records the ratios.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "tools/amirun/channel/Convolution.h"

namespace {

std::vector<double> Wave(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = std::sin(0.37 * double(i)) > 0 ? 0.5 : -0.5;
    return x;
}

std::vector<double> Impulse(std::size_t taps) {
    std::vector<double> h(taps);
    for (std::size_t i = 0; i < taps; ++i) h[i] = std::exp(-double(i) / double(taps / 4 + 1));
    return h;
}

template <std::vector<double> (*Convolution)(const std::vector<double>&, const std::vector<double>&,
                                             double)>
void BM_Convolve(benchmark::State& state) {
    const std::vector<double> x = Wave(std::size_t(state.range(0)));
    const std::vector<double> h = Impulse(std::size_t(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(Convolution(x, h, 1e-12));
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

// 20 000 bits of 12 samples (32 Gb/s) through windows of 16 to 4096 taps.
void Crossover(benchmark::internal::Benchmark* b) {
    for (long taps : {16, 32, 64, 128, 256, 1024, 4096}) b->Args({240000, taps});
}
BENCHMARK_TEMPLATE(BM_Convolve, amirun::ConvolveDirect)->Apply(Crossover);
BENCHMARK_TEMPLATE(BM_Convolve, amirun::ConvolveFft)->Apply(Crossover);

// The 1 Gb/s link's bit-by-bit convolution.
BENCHMARK_TEMPLATE(BM_Convolve, amirun::ConvolveDirect)
    ->Args({20000 * 384, 32 * 384})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_TEMPLATE(BM_Convolve, amirun::ConvolveFft)
    ->Args({20000 * 384, 32 * 384})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
