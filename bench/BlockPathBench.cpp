// The block paths against the per-sample graphs they replace, side by side in one run, and the
// FIR kernel against the machine's multiply-add peak. At the end the ratios are printed:
//   receiver: AMI_Init's work on 5 columns of 65 536 samples at EQ 15;
//   transmitter: AMI_GetWave's work on 2^20 samples in blocks of 1 000 at SW 1, FG 2;
//   kernel: cycles per output for 577 taps, against 577 / 8 (two 4-lane multiplies and two
//   4-lane adds per cycle), with the clock estimated from a chain of dependent integer adds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/FirBlock.h"
#include "models/rx/KT7MRL40562D9_Rx.h"
#include "models/tx/KT7MRL40562D9_Tx.h"
#include "tests/support/RunModel.h"

namespace {

using CorvanaModelBuilder::AttachSingleElement;
using CorvanaModelBuilder::FirBlockVariant;

constexpr std::size_t kRows = 65536;
constexpr std::size_t kColumns = 5;
constexpr std::size_t kWaveSamples = std::size_t{1} << 20;
constexpr std::size_t kWaveBlock = 1000;
constexpr std::size_t kKernelTaps = 577;
constexpr std::size_t kKernelOutputs = 65536;

std::vector<double> Signal(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = std::sin(0.001 * double(i)) * std::exp(-1e-5 * double(i));
    return x;
}

// A pseudo-random bit stream of +-1 at 32 samples per bit (PRBS 7), as a host hands AMI_GetWave.
std::vector<double> BitStream(std::size_t n) {
    std::vector<double> x(n);
    unsigned state = 0x7f;
    for (std::size_t i = 0; i < n; i += 32) {
        const unsigned bit = ((state >> 6) ^ (state >> 5)) & 1u;
        state = ((state << 1) | bit) & 0x7fu;
        for (std::size_t k = i; k < i + 32 && k < n; ++k) x[k] = bit != 0 ? 1.0 : -1.0;
    }
    return x;
}

// One sample per Run through the model's ports, as the entry points drive it.
template <class Model>
bool RunSamples(Model& model, double* samples, std::size_t count) {
    double in = 0.0;
    double out = 0.0;
    AttachSingleElement(model.Input, &in);
    AttachSingleElement(model.Output, &out);
    bool ok = true;
    for (std::size_t i = 0; i < count && ok; ++i) {
        in = samples[i];
        ok = model.Run();
        samples[i] = out;
    }
    return ok;
}

void BM_Receiver5x65536(benchmark::State& state, bool block, FirBlockVariant variant) {
    if (!CorvanaModelBuilder::ForceFirBlockVariant(variant))
        return state.SkipWithError("this CPU lacks the variant");
    const std::vector<double> input = Signal(kRows * kColumns);
    std::vector<double> matrix(kRows * kColumns);
    for (auto _ : state) {
        matrix = input;
        KT7MRL40562D9_Rx model;
        for (std::size_t c = 0; c < kColumns; ++c) {
            double* column = matrix.data() + c * kRows;
            const bool ok =
                model.Setup() && model.Initialize() &&
                (block ? RunModelBlock(model, column, kRows) : RunSamples(model, column, kRows));
            if (!ok) state.SkipWithError("the receiver failed");
            model.Finalize();
        }
        benchmark::DoNotOptimize(matrix.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows * kColumns));
    CorvanaModelBuilder::UseFirBlockRule();
}
BENCHMARK_CAPTURE(BM_Receiver5x65536, graph, false, FirBlockVariant::Generic)
    ->Name("Receiver5x65536/PerSampleGraph")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Receiver5x65536, avx512, true, FirBlockVariant::Avx512)
    ->Name("Receiver5x65536/BlockPathAvx512")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Receiver5x65536, avx2, true, FirBlockVariant::Avx2)
    ->Name("Receiver5x65536/BlockPathAvx2")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Receiver5x65536, sse2, true, FirBlockVariant::Sse2)
    ->Name("Receiver5x65536/BlockPathSse2")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_TransmitterWave1M(benchmark::State& state, bool block, FirBlockVariant variant) {
    if (!CorvanaModelBuilder::ForceFirBlockVariant(variant))
        return state.SkipWithError("this CPU lacks the variant");
    const std::vector<double> input = BitStream(kWaveSamples);
    std::vector<double> wave(kWaveSamples);
    for (auto _ : state) {
        wave = input;
        KT7MRL40562D9_Tx model;
        if (!model.Setup() || !model.Initialize()) state.SkipWithError("set-up failed");
        for (std::size_t from = 0; from < kWaveSamples; from += kWaveBlock) {
            const std::size_t count = std::min(kWaveBlock, kWaveSamples - from);
            const bool ok = block ? RunModelBlock(model, wave.data() + from, count)
                                  : RunSamples(model, wave.data() + from, count);
            if (!ok) state.SkipWithError("the transmitter failed");
        }
        model.Finalize();
        benchmark::DoNotOptimize(wave.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kWaveSamples));
    CorvanaModelBuilder::UseFirBlockRule();
}
BENCHMARK_CAPTURE(BM_TransmitterWave1M, graph, false, FirBlockVariant::Generic)
    ->Name("TransmitterWave1M/PerSampleGraph")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_TransmitterWave1M, avx512, true, FirBlockVariant::Avx512)
    ->Name("TransmitterWave1M/BlockPathAvx512")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_TransmitterWave1M, avx2, true, FirBlockVariant::Avx2)
    ->Name("TransmitterWave1M/BlockPathAvx2")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_TransmitterWave1M, sse2, true, FirBlockVariant::Sse2)
    ->Name("TransmitterWave1M/BlockPathSse2")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A chain of dependent integer adds: one per cycle on every x86-64 core, so this is the clock.
void BM_ClockEstimate(benchmark::State& state) {
    constexpr std::int64_t kAdds = 1 << 24;
    for (auto _ : state) {
        std::uint64_t x = 0;
        for (std::int64_t i = 0; i < kAdds / 8; ++i) {
            __asm__ volatile(
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
                : "+r"(x));
        }
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(state.iterations() * kAdds);
}
BENCHMARK(BM_ClockEstimate)->Name("ClockEstimate")->UseRealTime();

void BM_Kernel(benchmark::State& state, FirBlockVariant variant) {
    if (!CorvanaModelBuilder::FirBlockSupported(variant))
        return state.SkipWithError("this CPU lacks the variant");
    const auto kernel = CorvanaModelBuilder::FirBlockOf(variant);
    const std::vector<double> taps = Signal(kKernelTaps);
    const std::vector<double> x = Signal(kKernelTaps - 1 + kKernelOutputs);
    std::vector<double> y(kKernelOutputs);
    std::vector<double> scratch(CorvanaModelBuilder::FirBlockScratchSize(kKernelTaps));
    for (auto _ : state) {
        kernel(taps.data(), kKernelTaps, x.data(), y.data(), kKernelOutputs, scratch.data());
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kKernelOutputs));
}
BENCHMARK_CAPTURE(BM_Kernel, Avx512, FirBlockVariant::Avx512)
    ->Name("Kernel577/AVX512")
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Kernel, Avx2, FirBlockVariant::Avx2)->Name("Kernel577/AVX2")->UseRealTime();
BENCHMARK_CAPTURE(BM_Kernel, Sse2, FirBlockVariant::Sse2)->Name("Kernel577/SSE2")->UseRealTime();
BENCHMARK_CAPTURE(BM_Kernel, Generic, FirBlockVariant::Generic)
    ->Name("Kernel577/Generic")
    ->UseRealTime();

// The console report, then the ratios computed from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            // Seconds per item, from the real time of the whole run.
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end() && items->second.value > 0)
                secondsPerItem_[run.benchmark_name()] = 1.0 / items->second.value;
            else
                secondsPerItem_[run.benchmark_name()] = seconds;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto ratio = [&](const char* model, const char* kernel, const std::string& slow,
                         const std::string& fast) {
            if (secondsPerItem_.count(slow) && secondsPerItem_.count(fast))
                std::printf("%s, %s kernel: block path %.0fx the per-sample graph\n", model, kernel,
                            secondsPerItem_[slow] / secondsPerItem_[fast]);
        };
        for (const char* model : {"Receiver5x65536", "TransmitterWave1M"}) {
            const std::string graph = std::string(model) + "/PerSampleGraph/iterations:1/real_time";
            for (const char* kernel : {"Avx512", "Avx2", "Sse2"})
                ratio(model, kernel, graph,
                      std::string(model) + "/BlockPath" + kernel + "/real_time");
        }
        const auto clock = secondsPerItem_.find("ClockEstimate/real_time");
        if (clock == secondsPerItem_.end()) return;
        std::printf("clock estimate: %.2f GHz\n", 1e-9 / clock->second);
        const double peak = static_cast<double>(kKernelTaps) / 8.0;
        for (const char* name : {"AVX512", "AVX2", "SSE2", "Generic"}) {
            const auto kernel =
                secondsPerItem_.find(std::string("Kernel577/") + name + "/real_time");
            if (kernel == secondsPerItem_.end()) continue;
            const double cycles = kernel->second / clock->second;
            std::printf("kernel %s: %.1f cycles per output, %.0f%% of the multiply-add peak\n",
                        name, cycles, 100.0 * peak / cycles);
        }
        const auto perSample =
            secondsPerItem_.find("Receiver5x65536/PerSampleGraph/iterations:1/real_time");
        if (perSample != secondsPerItem_.end())
            std::printf("receiver per-sample graph: %.0f cycles per sample\n",
                        perSample->second / clock->second);
    }

private:
    std::map<std::string, double> secondsPerItem_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
