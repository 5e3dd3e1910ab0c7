#pragma once

#include <cstddef>

namespace CorvanaModelBuilder {

// Block FIR, bit-identical to firing the one-in, one-out FIR once per sample.
// In:  x[0 .. tapCount-2] is the history (oldest first), x[tapCount-1 .. tapCount-2+n] the new
//      samples; tapCount >= 1.
//      scratch: FirBlockScratchSize(tapCount) doubles of working memory, any alignment.
// Out: y[i] = sum over j ascending of taps[j] * x[tapCount-1+i-j], i = 0 .. n-1, each sum
//      starting from +0.0 with one multiply and one add per term: no fused multiply-add and no
//      reordering, so every variant gives the same bits (NaN signs and payloads included, as long
//      as no tap is NaN). y must not overlap x or scratch.
// Variants vectorize across outputs (one lane per i), never across taps. Nothing is allocated.
using FirBlockFn = void (*)(const double* taps, std::size_t tapCount, const double* x, double* y,
                            std::size_t n, double* scratch);

// Outputs per pass of the AVX2 and AVX-512 variants, which keep copies of a pass's input shifted
// by zero to three (seven) samples, so that every vector load is aligned. The scratch holds
// kFirBlockCopies copies of FirBlockCopyLength(tapCount) doubles, after up to seven doubles
// that align the first to 64 bytes.
constexpr std::size_t kFirBlockPass = 960;
constexpr std::size_t kFirBlockCopies = 8;
std::size_t FirBlockCopyLength(std::size_t tapCount);
std::size_t FirBlockScratchSize(std::size_t tapCount);

void FirBlockGeneric(const double* taps, std::size_t tapCount, const double* x, double* y,
                     std::size_t n, double* scratch);
void FirBlockSse2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n, double* scratch);
void FirBlockAvx2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n, double* scratch);
void FirBlockAvx512(const double* taps, std::size_t tapCount, const double* x, double* y,
                    std::size_t n, double* scratch);

enum class FirBlockVariant { Generic, Sse2, Avx2, Avx512 };

// The variant in use: the best this CPU runs, chosen once, unless a test forced another.
FirBlockFn FirBlock();
bool FirBlockSupported(FirBlockVariant variant);
FirBlockFn FirBlockOf(FirBlockVariant variant);
// For tests that compare the variants inside one process; false (nothing changed) when the CPU
// lacks the variant.
bool ForceFirBlockVariant(FirBlockVariant variant);

// The passes of the kernels that keep shifted aligned copies (AVX2: 4 lanes and copies, AVX-512:
// 8), in one place. A pass copies its input once per shift, padded with zeros to whole wide
// steps; the last step of the last pass keeps only its real outputs; fewer than 16 remaining
// outputs go to the generic kernel. Each kernel's own file instantiates this with its wide step
// under its own instruction set, and the anonymous namespace keeps every instantiation inside
// that file, so no vector code is shared with the rest of the library.
namespace {

template <std::size_t kLanes, std::size_t kWide, class WideStep>
void RunAlignedPasses(const double* taps, std::size_t tapCount, const double* x, double* y,
                      std::size_t n, double* scratch, WideStep step) {
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
                step(taps, tapCount, copies, history + i, y + done + i);
            } else {
                double last[kWide];
                step(taps, tapCount, copies, history + i, last);
                for (std::size_t k = 0; k < pass - i; ++k) y[done + i + k] = last[k];
            }
        }
        done += pass;
    }
    if (done < n) FirBlockGeneric(taps, tapCount, x + done, y + done, n - done, scratch);
}

}  // namespace

}  // namespace CorvanaModelBuilder
