#include "modelbuilder/FirBlock.h"

#include <emmintrin.h>

#include <atomic>

#include "modelbuilder/OrderedAdd.h"

namespace CorvanaModelBuilder {

// The oracle: the per-sample sum, output after output.
// A pass's input, tapCount - 1 + kFirBlockPass samples, rounded up to whole 8-lane vectors plus
// one: every copy starts 64-byte aligned when the first does.
std::size_t FirBlockCopyLength(std::size_t tapCount) {
    return (tapCount - 1 + kFirBlockPass + 7) / 8 * 8 + 8;
}

std::size_t FirBlockScratchSize(std::size_t tapCount) {
    return kFirBlockCopies * FirBlockCopyLength(tapCount) + 7;
}

void FirBlockGeneric(const double* taps, std::size_t tapCount, const double* x, double* y,
                     std::size_t n, double* /*scratch*/) {
    const double* newest = x + (tapCount - 1);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < tapCount; ++j)
            sum = OrderedAdd(sum, taps[j] * *(newest + i - j));
        y[i] = sum;
    }
}

namespace {

constexpr std::size_t kSse2Lanes = 2;
constexpr std::size_t kSse2Wide = 12 * kSse2Lanes;

// sum + term lane by lane, sum first in the machine code too (see OrderedAdd).
inline __m128d AddInOrder(__m128d sum, __m128d term) {
    __asm__("addpd %1, %0" : "+x"(sum) : "x"(term));
    return sum;
}

// Outputs [i, i + kSse2Wide): twelve two-lane sums, explicitly unrolled so that they stay in
// registers.
void Sse2WideStep(const double* taps, std::size_t tapCount, const double* newest, double* y) {
    __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd(), a2 = _mm_setzero_pd();
    __m128d a3 = _mm_setzero_pd(), a4 = _mm_setzero_pd(), a5 = _mm_setzero_pd();
    __m128d a6 = _mm_setzero_pd(), a7 = _mm_setzero_pd(), a8 = _mm_setzero_pd();
    __m128d a9 = _mm_setzero_pd(), a10 = _mm_setzero_pd(), a11 = _mm_setzero_pd();
    for (std::size_t j = 0; j < tapCount; ++j) {
        const __m128d t = _mm_set1_pd(taps[j]);
        const double* p = newest - j;
        a0 = AddInOrder(a0, _mm_mul_pd(_mm_loadu_pd(p), t));
        a1 = AddInOrder(a1, _mm_mul_pd(_mm_loadu_pd(p + 2), t));
        a2 = AddInOrder(a2, _mm_mul_pd(_mm_loadu_pd(p + 4), t));
        a3 = AddInOrder(a3, _mm_mul_pd(_mm_loadu_pd(p + 6), t));
        a4 = AddInOrder(a4, _mm_mul_pd(_mm_loadu_pd(p + 8), t));
        a5 = AddInOrder(a5, _mm_mul_pd(_mm_loadu_pd(p + 10), t));
        a6 = AddInOrder(a6, _mm_mul_pd(_mm_loadu_pd(p + 12), t));
        a7 = AddInOrder(a7, _mm_mul_pd(_mm_loadu_pd(p + 14), t));
        a8 = AddInOrder(a8, _mm_mul_pd(_mm_loadu_pd(p + 16), t));
        a9 = AddInOrder(a9, _mm_mul_pd(_mm_loadu_pd(p + 18), t));
        a10 = AddInOrder(a10, _mm_mul_pd(_mm_loadu_pd(p + 20), t));
        a11 = AddInOrder(a11, _mm_mul_pd(_mm_loadu_pd(p + 22), t));
    }
    _mm_storeu_pd(y, a0);
    _mm_storeu_pd(y + 2, a1);
    _mm_storeu_pd(y + 4, a2);
    _mm_storeu_pd(y + 6, a3);
    _mm_storeu_pd(y + 8, a4);
    _mm_storeu_pd(y + 10, a5);
    _mm_storeu_pd(y + 12, a6);
    _mm_storeu_pd(y + 14, a7);
    _mm_storeu_pd(y + 16, a8);
    _mm_storeu_pd(y + 18, a9);
    _mm_storeu_pd(y + 20, a10);
    _mm_storeu_pd(y + 22, a11);
}

}  // namespace

void FirBlockSse2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n, double* scratch) {
    const double* newest = x + (tapCount - 1);
    std::size_t i = 0;
    for (; i + kSse2Wide <= n; i += kSse2Wide) Sse2WideStep(taps, tapCount, newest + i, y + i);
    for (; i + kSse2Lanes <= n; i += kSse2Lanes) {
        __m128d a = _mm_setzero_pd();
        for (std::size_t j = 0; j < tapCount; ++j)
            a = AddInOrder(a, _mm_mul_pd(_mm_set1_pd(taps[j]), _mm_loadu_pd(newest + i - j)));
        _mm_storeu_pd(y + i, a);
    }
    if (i < n) FirBlockGeneric(taps, tapCount, x + i, y + i, n - i, scratch);
}

namespace {

FirBlockFn Best() { return FirBlockSupported(FirBlockVariant::Avx2) ? FirBlockAvx2 : FirBlockSse2; }

std::atomic<FirBlockFn>& InUse() {
    static std::atomic<FirBlockFn> inUse{Best()};
    return inUse;
}

}  // namespace

bool FirBlockSupported(FirBlockVariant variant) {
    __builtin_cpu_init();  // the checks include the operating system's support for the registers
    if (variant == FirBlockVariant::Avx2) return __builtin_cpu_supports("avx2") != 0;
    if (variant == FirBlockVariant::Avx512) return __builtin_cpu_supports("avx512f") != 0;
    return true;  // SSE2 is the x86-64 baseline
}

FirBlockFn FirBlockOf(FirBlockVariant variant) {
    switch (variant) {
        case FirBlockVariant::Avx512:
            return FirBlockAvx512;
        case FirBlockVariant::Avx2:
            return FirBlockAvx2;
        case FirBlockVariant::Sse2:
            return FirBlockSse2;
        case FirBlockVariant::Generic:
            break;
    }
    return FirBlockGeneric;
}

FirBlockFn FirBlock() { return InUse().load(std::memory_order_relaxed); }

bool ForceFirBlockVariant(FirBlockVariant variant) {
    if (!FirBlockSupported(variant)) return false;
    InUse().store(FirBlockOf(variant), std::memory_order_relaxed);
    return true;
}

}  // namespace CorvanaModelBuilder
