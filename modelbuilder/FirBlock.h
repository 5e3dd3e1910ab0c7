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

// Outputs per pass of the vector variants, which keep copies of a pass's input shifted by zero to
// lanes - 1 samples, so that every vector load is aligned. The scratch holds
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

// The dispatch rule, the one place that orders the variants: fastest first, as measured side by
// side on the same machine (bench/block_path_bench; the README's speed table). Every variant does
// the same multiplies and adds, so the wider one wins where the CPU has it: the AVX-512 kernel
// runs 577 taps at the machine's multiply-add peak where AVX2 reaches about three quarters of it.
// The rule does not try to guess CPUs that slow their clock for 512-bit work: there the loss is a
// few per cent, and the bits do not change.
inline constexpr FirBlockVariant kFirBlockPreference[] = {
    FirBlockVariant::Avx512, FirBlockVariant::Avx2, FirBlockVariant::Sse2,
    FirBlockVariant::Generic};
// The first variant of kFirBlockPreference this CPU and operating system run.
FirBlockVariant FirBlockRuleChoice();
const char* FirBlockVariantName(FirBlockVariant variant);

// The variant in use: the rule's choice, unless a test or benchmark forced another.
FirBlockFn FirBlock();
FirBlockVariant FirBlockInUse();
bool FirBlockSupported(FirBlockVariant variant);
FirBlockFn FirBlockOf(FirBlockVariant variant);
// For tests and benchmarks that compare the variants inside one process; false (nothing changed)
// when the CPU lacks the variant. UseFirBlockRule goes back to the rule's choice.
bool ForceFirBlockVariant(FirBlockVariant variant);
void UseFirBlockRule();

}  // namespace CorvanaModelBuilder
