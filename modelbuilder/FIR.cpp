#include "modelbuilder/FIR.h"

#include <algorithm>

namespace CorvanaModelBuilder {

template <class T, int Variant>
FIR<T, Variant>::~FIR() {
    ReleaseDelayStorage();
}

template <class T, int Variant>
void FIR<T, Variant>::ReleaseDelayStorage() {
    if (DelayStorage != nullptr) DelayLine.Release(DelayStorage);
    DelayStorage = nullptr;
    DelayLine.Data = nullptr;
    DelayLine.Capacity = 0;
    DelayLine.Position = 0;
}

template <class T, int Variant>
bool FIR<T, Variant>::Setup() {
    bool ok = true;
    if (NumTaps < 1) {
        ReportError("There must be at least one Tap");
        ok = false;
    }
    if (Decimation < 1) {
        ReportError("Decimation must be > 0");
        ok = false;
    }
    if (DecimationPhase < 0) {
        ReportError("DecimationPhase must be >= 0");
        ok = false;
    }
    if (DecimationPhase >= Decimation) {
        ReportError("DecimationPhase must be < Decimation ratio");
        ok = false;
    }
    if (Interpolation < 1) {
        ReportError("Interpolation must be > 0");
        ok = false;
    }
    if (!ok) return false;

    const auto decimation = static_cast<std::uint64_t>(Decimation);
    const auto interpolation = static_cast<std::uint64_t>(Interpolation);
    Input.Rate = decimation;
    Input.MinCapacity = std::max(Input.MinCapacity, decimation);
    Output.Rate = interpolation;
    Output.MinCapacity = std::max(Output.MinCapacity, interpolation);
    // 64-bit so that large settings cannot overflow; equal to the 32-bit result otherwise.
    const std::uint64_t history = static_cast<std::uint64_t>(NumTaps) / interpolation;
    DelayLine.Rate = decimation;
    DelayLine.MinCapacity = std::max(history + 1 + decimation, decimation);
    TapsPerPhase = NumTaps / Interpolation + (NumTaps % Interpolation != 0 ? 1 : 0);
    return true;
}

template <class T, int Variant>
bool FIR<T, Variant>::Initialize() {
    ReleaseDelayStorage();
    const std::uint64_t size = DelayLine.MinCapacity;
    DelayStorage = static_cast<T*>(DelayLine.Allocate(size));
    DelayLine.Data = DelayStorage;
    DelayLine.Capacity = size;
    DelayLine.Position = 0;
    DelayLine.ZeroFill(0, size, nullptr);
    return true;
}

template <class T, int Variant>
bool FIR<T, Variant>::Run() {
    if (DelayStorage == nullptr) return false;  // never initialized: there is no history
    const std::int64_t d = Decimation;
    const std::int64_t i = Interpolation;
    const std::int64_t n = NumTaps;
    const std::int64_t k = TapsPerPhase;
    const std::uint64_t s = DelayLine.Capacity;
    T* const delay = DelayLine.Data;
    const std::uint64_t base = DelayLine.Position;

    // The newest input lands at delay[S - 1].
    for (std::int64_t in = 0; in < d; ++in) {
        const std::uint64_t place = (base + s - static_cast<std::uint64_t>(d - in)) % s;
        std::uint64_t from = Input.Position + static_cast<std::uint64_t>(in);
        if (from >= Input.Capacity) from -= Input.Capacity;
        delay[place] = Input.Data[from];
    }

    std::uint64_t m = 0;
    std::int64_t phase = DecimationPhase;  // restarts each firing: exactly Interpolation outputs
    for (std::int64_t in = 1; in <= d; ++in) {
        // Place of the new sample in the delay line, then of older ones by stepping down.
        const std::uint64_t newest = (base + s - static_cast<std::uint64_t>(d - in + 1)) % s;
        while (phase < i) {
            // Taps phase, phase + I, ... below N: only this polyphase branch is visited.
            const std::int64_t used = std::min(k, (n - phase + i - 1) / i);
            T sum = T(0);
            const T* tap = Taps + phase;
            std::int64_t j = 0;
            std::uint64_t place = newest;
            while (j < used) {
                // A run of contiguous older samples, down to the start of the storage.
                const std::int64_t run =
                    std::min<std::int64_t>(used - j, static_cast<std::int64_t>(place) + 1);
                const T* sample = delay + place;
                for (std::int64_t r = 0; r < run; ++r) {
                    sum += *tap * *sample;
                    tap += i;
                    --sample;
                }
                j += run;
                place = s - 1;
            }
            std::uint64_t to = Output.Position + m;
            if (to >= Output.Capacity) to -= Output.Capacity;
            Output.Data[to] = sum;
            ++m;
            phase += d;
        }
        phase -= i;
    }

    DelayLine.Position = (base + DelayLine.Rate) % s;
    return true;
}

template <class T, int Variant>
bool FIR<T, Variant>::Finalize() {
    ReleaseDelayStorage();
    return true;
}

template class FIR<double, 0>;
template class FIR<double, 1>;
template class FIR<std::complex<double>, 0>;

}  // namespace CorvanaModelBuilder
