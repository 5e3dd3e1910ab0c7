#pragma once

// The one body of the vector FIR kernels. Each instruction set's file includes this with a traits
// struct and its own compiler flags; the anonymous namespace keeps every instantiation inside that
// file, so no vector code is shared with the rest of the library. Include nowhere else.
//
// Traits: Vec, kLanes, Zero(), Broadcast(const double*), Load(const double*) (aligned),
// Mul(Vec, Vec), AddInOrder(sum, term) (sum the first operand in the machine code too: when both
// are NaN, x86 returns the first operand's NaN, and a compiler may swap an addition's operands),
// Store(double*, Vec) (unaligned).

#include <cstddef>

#include "modelbuilder/FirBlock.h"

namespace CorvanaModelBuilder {
namespace {

// Twelve independent sums fill the multiply and add pipes and still leave registers for the tap
// and a product with sixteen vector registers.
constexpr std::size_t kFirBlockSums = 12;

// Outputs [newest, newest + kLanes * kFirBlockSums) of a pass, from its shifted copies: copy r
// holds the pass's input from sample r on, aligned, so inputs q .. q + kLanes - 1 are one aligned
// load from copy q mod kLanes.
template <class V>
inline void WideStep(const double* taps, std::size_t tapCount, const double* const* copies,
                     std::size_t newest, double* y) {
    typename V::Vec sums[kFirBlockSums];
#pragma GCC unroll 12
    for (std::size_t k = 0; k < kFirBlockSums; ++k) sums[k] = V::Zero();
    for (std::size_t j = 0; j < tapCount; ++j) {
        const typename V::Vec tap = V::Broadcast(taps + j);
        const std::size_t q = newest - j;
        const double* p = copies[q % V::kLanes] + (q - q % V::kLanes);
#pragma GCC unroll 12
        for (std::size_t k = 0; k < kFirBlockSums; ++k)
            sums[k] = V::AddInOrder(sums[k], V::Mul(tap, V::Load(p + k * V::kLanes)));
    }
#pragma GCC unroll 12
    for (std::size_t k = 0; k < kFirBlockSums; ++k) V::Store(y + k * V::kLanes, sums[k]);
}

// A pass copies its input once per shift, padded with zeros to whole wide steps; the last step of
// the last pass keeps only its real outputs; fewer than 16 remaining outputs go to the generic
// kernel.
template <class V>
void RunAlignedPasses(const double* taps, std::size_t tapCount, const double* x, double* y,
                      std::size_t n, double* scratch) {
    constexpr std::size_t kLanes = V::kLanes;
    constexpr std::size_t kWide = kLanes * kFirBlockSums;
    static_assert(kFirBlockPass % kWide == 0, "a full pass is whole wide steps");
    static_assert(kLanes <= kFirBlockCopies, "one copy per shift");
    const std::size_t history = tapCount - 1;
    const std::size_t copyLength = FirBlockCopyLength(tapCount);
    double* aligned = scratch;
    while (reinterpret_cast<std::size_t>(aligned) % 64 != 0) ++aligned;
    double* copies[kLanes];
    for (std::size_t r = 0; r < kLanes; ++r) copies[r] = aligned + r * copyLength;
    std::size_t done = 0;
    while (n - done >= 16) {
        const std::size_t pass = n - done < kFirBlockPass ? n - done : kFirBlockPass;
        const std::size_t steps = (pass + kWide - 1) / kWide;
        const double* input = x + done;  // the pass reads input[0 .. history + pass - 1]
        const std::size_t used = history + pass;
        const std::size_t padded = history + steps * kWide;
        for (std::size_t r = 0; r < kLanes; ++r) {
            std::size_t k = 0;
            for (; k + r < used; ++k) copies[r][k] = input[k + r];
            for (; k + r < padded; ++k) copies[r][k] = 0.0;
        }
        for (std::size_t i = 0; i < pass; i += kWide) {
            if (pass - i >= kWide) {
                WideStep<V>(taps, tapCount, copies, history + i, y + done + i);
            } else {
                double last[kWide];
                WideStep<V>(taps, tapCount, copies, history + i, last);
                for (std::size_t k = 0; k < pass - i; ++k) y[done + i + k] = last[k];
            }
        }
        done += pass;
    }
    if (done < n) FirBlockGeneric(taps, tapCount, x + done, y + done, n - done, scratch);
}

}  // namespace
}  // namespace CorvanaModelBuilder
