#include "modelbuilder/FIR.h"

#include <algorithm>
#include <type_traits>

#include "modelbuilder/FirBlock.h"
#include "modelbuilder/OrderedAdd.h"

namespace CorvanaModelBuilder {
namespace {

// Complex sums have no NaN order to keep.
std::complex<double> OrderedAdd(std::complex<double> sum, std::complex<double> term) {
    return sum + term;
}

}  // namespace

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
    DelayLine.Rate = decimation;
    DelayLine.MinCapacity = DelayCapacity(NumTaps, Interpolation, Decimation);
    TapsPerPhase = NumTaps / Interpolation + (NumTaps % Interpolation != 0 ? 1 : 0);
    return true;
}

template <class T, int Variant>
std::uint64_t FIR<T, Variant>::DelayCapacity(std::int32_t numTaps, std::int32_t interpolation,
                                             std::int32_t decimation) {
    // 64-bit so that large settings cannot overflow; equal to the 32-bit result otherwise.
    const std::uint64_t history =
        static_cast<std::uint64_t>(numTaps) / static_cast<std::uint64_t>(interpolation);
    return history + 1 + static_cast<std::uint64_t>(decimation);
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
std::uint64_t FIR<T, Variant>::PlaceOfAge(std::uint64_t age) const {
    // A firing writes its Decimation inputs just before Position, then moves Position past them.
    const std::uint64_t size = DelayLine.Capacity;
    const std::uint64_t back = (static_cast<std::uint64_t>(Decimation) + 1 + age) % size;
    return (DelayLine.Position + size - back) % size;
}

template <class T, int Variant>
bool FIR<T, Variant>::Run() {
    if (DelayStorage == nullptr) return false;  // never initialized: there is no history
    const std::int64_t decimation = Decimation;
    const std::int64_t interpolation = Interpolation;
    const std::int64_t numTaps = NumTaps;
    const std::int64_t tapsPerPhase = TapsPerPhase;
    const std::uint64_t size = DelayLine.Capacity;
    T* const delay = DelayLine.Data;
    const std::uint64_t base = DelayLine.Position;
    // The place `back` elements before base, wrapping.
    auto before = [&](std::int64_t back) {
        return (base + size - static_cast<std::uint64_t>(back)) % size;
    };

    // The newest input lands just before base.
    for (std::int64_t k = 0; k < decimation; ++k)
        delay[before(decimation - k)] = Input.At(static_cast<std::uint64_t>(k));

    std::uint64_t written = 0;
    std::int64_t phase = DecimationPhase;  // restarts each firing: exactly Interpolation outputs
    for (std::int64_t k = 1; k <= decimation; ++k) {
        const std::uint64_t newest = before(decimation - k + 1);
        while (phase < interpolation) {
            // Taps phase, phase + I, ... below N: only this polyphase branch is visited.
            const std::int64_t used =
                std::min(tapsPerPhase, (numTaps - phase + interpolation - 1) / interpolation);
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
                    sum = OrderedAdd(sum, *tap * *sample);
                    tap += interpolation;
                    --sample;
                }
                j += run;
                place = size - 1;
            }
            Output.At(written++) = sum;
            phase += decimation;
        }
        phase -= interpolation;
    }

    DelayLine.Position = (base + DelayLine.Rate) % size;
    return true;
}

template <class T, int Variant>
bool FIR<T, Variant>::BlockReady() const {
    // Only real sums have a vector kernel; complex filters fire one sample at a time.
    return std::is_same<T, double>::value && DelayStorage != nullptr && Taps != nullptr &&
           NumTaps >= 1 && Decimation == 1 && Interpolation == 1 && DecimationPhase == 0 &&
           DelayLine.Capacity == DelayCapacity(NumTaps, 1, 1);
}

template <class T, int Variant>
bool FIR<T, Variant>::RunBlock(const T* in, T* out, std::size_t count, T inputGain) {
    if (!BlockReady()) return false;
    // Long blocks in pieces, so that the working memory stays bounded whatever the host hands in.
    constexpr std::size_t kLongest = std::size_t{1} << 16;
    for (; count > kLongest; count -= kLongest, in += kLongest, out += kLongest)
        RunBlock(in, out, kLongest, inputGain);
    if (count == 0) return true;
    // Linear work: the whole delay line oldest first, then the block. Oldest first, the delay line
    // reads from the place of its oldest sample round to the one before it; after count firings
    // it holds the last S samples of the work, in the same rotation.
    const std::uint64_t size = DelayLine.Capacity;
    const auto history = static_cast<std::size_t>(size);
    blockWork_.resize(history + count);
    T* const work = blockWork_.data();
    const auto rotate = [&](T* ring, std::size_t oldest, T* linear, bool toRing) {
        const std::size_t head = history - oldest;  // the oldest sample up to the ring's end
        if (toRing) {
            std::copy(linear, linear + head, ring + oldest);
            std::copy(linear + head, linear + history, ring);
        } else {
            std::copy(ring + oldest, ring + history, linear);
            std::copy(ring, ring + oldest, linear + head);
        }
    };
    rotate(DelayLine.Data, static_cast<std::size_t>(PlaceOfAge(size - 1)), work, false);
    T* const block = work + history;
    if (inputGain == T(1)) {  // the samples as Run stores them, signalling NaNs included
        std::copy(in, in + count, block);
    } else {
        for (std::size_t i = 0; i < count; ++i) block[i] = in[i] * inputGain;
    }

    const auto taps = static_cast<std::size_t>(NumTaps);
    const T* x = block - (taps - 1);
    if constexpr (std::is_same<T, double>::value) {
        blockScratch_.resize(FirBlockScratchSize(taps));
        FirBlock()(Taps, taps, x, out, count, blockScratch_.data());
    }

    DelayLine.Position = (DelayLine.Position + count) % size;
    rotate(DelayLine.Data, static_cast<std::size_t>(PlaceOfAge(size - 1)), work + count, true);
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
