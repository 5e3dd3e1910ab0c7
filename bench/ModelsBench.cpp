// The two hot paths at the models' defaults, through the built libraries as a host loads them:
// receiver AMI_Init on 5 columns of 65 536 samples, transmitter AMI_GetWave on 2^20 samples in
// blocks of 1 024. Reported in samples per second.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ami/AmiExport.h"

namespace {

using InitFn = AmiInitFn;
using GetWaveFn = AmiGetWaveFn;
using CloseFn = AmiCloseFn;

template <class Fn>
Fn Symbol(const char* library, const char* name) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);  // stays loaded for the run
    return handle != nullptr ? reinterpret_cast<Fn>(dlsym(handle, name)) : nullptr;
}

std::vector<double> Signal(std::size_t n) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = std::sin(0.001 * double(i)) * std::exp(-1e-5 * double(i));
    return x;
}

void BM_ReceiverInit5x65536(benchmark::State& state) {
    const auto init = Symbol<InitFn>(KT_RX_LIBRARY, "AMI_Init");
    const auto close = Symbol<CloseFn>(KT_RX_LIBRARY, "AMI_Close");
    if (init == nullptr || close == nullptr) return state.SkipWithError("library not loaded");
    const long rows = 65536;
    const std::vector<double> input = Signal(5 * rows);
    char parameters[] = "(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 15))";
    for (auto _ : state) {
        std::vector<double> matrix = input;
        void* handle = nullptr;
        char* msg = nullptr;
        if (init(matrix.data(), rows, 4, 1.0 / 3.84e11, 32e-12, parameters, nullptr, &handle,
                 &msg) != 1)
            state.SkipWithError("AMI_Init failed");
        benchmark::DoNotOptimize(matrix.data());
        close(handle);
    }
    state.SetItemsProcessed(state.iterations() * 5 * rows);
}
BENCHMARK(BM_ReceiverInit5x65536)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TransmitterGetWave1M(benchmark::State& state) {
    const auto init = Symbol<InitFn>(KT_TX_LIBRARY, "AMI_Init");
    const auto getWave = Symbol<GetWaveFn>(KT_TX_LIBRARY, "AMI_GetWave");
    const auto close = Symbol<CloseFn>(KT_TX_LIBRARY, "AMI_Close");
    if (init == nullptr || getWave == nullptr || close == nullptr)
        return state.SkipWithError("library not loaded");
    const long total = 1L << 20;
    const long block = 1024;
    const std::vector<double> input = Signal(static_cast<std::size_t>(total));
    char parameters[] = "(KT7MRL40562D9_Tx (tx_samplerate 3.84e11) (FG 2) (SW 1))";
    for (auto _ : state) {
        std::vector<double> wave = input;
        void* handle = nullptr;
        char* msg = nullptr;
        init(nullptr, 0, 0, 1.0 / 3.84e11, 32e-12, parameters, nullptr, &handle, &msg);
        double clock = 0.0;
        for (long from = 0; from < total; from += block)
            if (getWave(wave.data() + from, block, &clock, nullptr, handle) != 1)
                state.SkipWithError("AMI_GetWave failed");
        benchmark::DoNotOptimize(wave.data());
        close(handle);
    }
    state.SetItemsProcessed(state.iterations() * total);
}
BENCHMARK(BM_TransmitterGetWave1M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
