// The statistical eye of the built-in 20 dB line at 32 Gb/s (142 UI, 12 samples a UI, 64 phases,
// 65 536 bins), its interference terms added in the cursors' own order against smallest first,
// without impairments and with the demo's noise and jitter. Run side by side; each benchmark
// also reports the largest difference of its eye from the other order's (height and BER), which
// the method says is nothing but rounding. docs/speed.md records the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/amirun/channel/BuiltInLine.h"
#include "tools/amirun/link/Impairments.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/StatEye.h"

namespace {

constexpr double kDt = 1.0 / 3.84e11;
constexpr int kSamplesPerBit = 12;

const std::vector<double>& LinePulse() {
    static const std::vector<double> pulse = amirun::PulseFromImpulse(
        amirun::LossyLineImpulse(20.0, 32e9, kDt, std::size_t(142 * kSamplesPerBit)),
        kSamplesPerBit, kDt);
    return pulse;
}

amirun::EyeImpairments Demo() {
    amirun::Impairments demo;
    demo.noiseRms = 1e-3;
    demo.rjRms = 0.01;
    demo.djPp = 0.05;
    amirun::EyeImpairments eye;
    eye.noiseSigma = demo.noiseRms;  // for a 1 V swing
    eye.jitter = amirun::EyeJitter(demo, 64);
    return eye;
}

amirun::StatisticalEye Eye(bool impaired, amirun::TermOrder order) {
    return amirun::ComputeStatisticalEye(LinePulse(), {}, kSamplesPerBit, 1e-12, 64, 1 << 16,
                                         impaired ? Demo() : amirun::EyeImpairments{}, order);
}

void BM_StatisticalEye(benchmark::State& state) {
    const bool impaired = state.range(0) != 0;
    const auto order =
        state.range(1) != 0 ? amirun::TermOrder::SmallestFirst : amirun::TermOrder::AsTheyCome;
    for (auto _ : state) benchmark::DoNotOptimize(Eye(impaired, order).height);
    const amirun::StatisticalEye mine = Eye(impaired, order);
    const amirun::StatisticalEye other =
        Eye(impaired, order == amirun::TermOrder::SmallestFirst ? amirun::TermOrder::AsTheyCome
                                                                : amirun::TermOrder::SmallestFirst);
    double ber = 0.0;
    for (std::size_t k = 0; k < mine.ber.size(); ++k)
        ber = std::max(ber, std::fabs(mine.ber[k] - other.ber[k]));
    state.counters["height_diff_v"] = std::fabs(mine.height - other.height);
    state.counters["ber_diff"] = ber;
}
// {impairments, order}: 0 = the cursors' order, 1 = smallest first.
BENCHMARK(BM_StatisticalEye)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
