#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Rate-changing FIR. A firing reads Decimation samples at Input's Position and writes
// Interpolation samples at Output's Position; it moves neither port, only its delay line.
// Setup reports every invalid setting and fails; the other phases never fail. The block owns its
// delay line (allocated in Initialize, freed in Finalize), never Taps.
template <class T, int Variant>
class FIR : public DFModel {
public:
    FIR() = default;
    FIR(const FIR&) = delete;
    FIR& operator=(const FIR&) = delete;
    ~FIR() override;

    bool Setup() override;
    bool Initialize() override;
    bool Run() override;
    bool Finalize() override;

    CircularBuffer<T> Input;
    CircularBuffer<T> Output;
    CircularBuffer<T> DelayLine;
    T* DelayStorage = nullptr;
    T* Taps = nullptr;
    std::int32_t NumTaps = 0;
    std::int32_t Decimation = 1;
    std::int32_t DecimationPhase = 0;
    std::int32_t Interpolation = 1;
    std::int32_t TapsPerPhase = 0;

    // Block firing of the real one-in, one-out filter (Decimation and Interpolation 1): count
    // samples from in to out, which may be the same array, bit-identical to count Runs on
    // in[i] * inputGain (the product a Gain block ahead of the filter would fire, folded into the
    // copy the kernel reads) and leaving the same delay line, so the two may be mixed freely. It
    // applies only when BlockReady; otherwise RunBlock does nothing and answers false. Its working
    // memory grows with the block up to 65 536 samples, and no further.
    bool BlockReady() const;
    bool RunBlock(const T* in, T* out, std::size_t count, T inputGain = T(1));

private:
    // The delay line's length: the history the taps reach, plus room for one firing's inputs.
    static std::uint64_t DelayCapacity(std::int32_t numTaps, std::int32_t interpolation,
                                       std::int32_t decimation);
    void ReleaseDelayStorage();
    // Where the input sample of the given age (0 the newest) lies in the delay line between
    // firings.
    std::uint64_t PlaceOfAge(std::uint64_t age) const;

    std::vector<T> blockWork_;     // history, then the block
    std::vector<T> blockScratch_;  // the kernel's working memory
};

extern template class FIR<double, 0>;
extern template class FIR<double, 1>;
extern template class FIR<std::complex<double>, 0>;

}  // namespace CorvanaModelBuilder
