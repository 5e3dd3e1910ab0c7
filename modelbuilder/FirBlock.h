#pragma once

#include <cstddef>

namespace CorvanaModelBuilder {

// Block FIR, bit-identical to firing the one-in, one-out FIR once per sample.
// In:  x[0 .. tapCount-2] is the history (oldest first), x[tapCount-1 .. tapCount-2+n] the new
//      samples; tapCount >= 1.
// Out: y[i] = sum over j ascending of taps[j] * x[tapCount-1+i-j], i = 0 .. n-1, each sum
//      starting from +0.0 with one multiply and one add per term: no fused multiply-add and no
//      reordering, so every variant gives the same bits. y must not overlap x.
// Variants vectorize across outputs (one lane per i), never across taps.
using FirBlockFn = void (*)(const double* taps, std::size_t tapCount, const double* x, double* y,
                            std::size_t n);

void FirBlockGeneric(const double* taps, std::size_t tapCount, const double* x, double* y,
                     std::size_t n);
void FirBlockSse2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n);
void FirBlockAvx2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n);

enum class FirBlockVariant { Generic, Sse2, Avx2 };

// The variant in use: the best this CPU runs, chosen once, unless a test forced another.
FirBlockFn FirBlock();
bool FirBlockSupported(FirBlockVariant variant);
FirBlockFn FirBlockOf(FirBlockVariant variant);
// For tests that compare the variants inside one process; false (nothing changed) when the CPU
// lacks the variant.
bool ForceFirBlockVariant(FirBlockVariant variant);

}  // namespace CorvanaModelBuilder
