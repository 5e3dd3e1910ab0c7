// Compiled with -mavx512f alone; it includes nothing but the kernel header and the intrinsics,
// so no AVX-512 code can end up in an inline function shared with the rest of the library.
#include <immintrin.h>

#include "modelbuilder/FirBlock.h"

namespace CorvanaModelBuilder {
namespace {

constexpr std::size_t kLanes = 8;
constexpr std::size_t kWide = kLanes * 12;  // twelve independent sums fill the mul and add pipes

// sum + term lane by lane, with sum as the first operand in the machine code too: when both are
// NaN, x86 returns the first operand's NaN, and a compiler may swap the operands of an addition.
inline __m512d AddInOrder(__m512d sum, __m512d term) {
    __asm__("vaddpd %1, %0, %0" : "+v"(sum) : "v"(term));
    return sum;
}

// Outputs [i, i + kWide) of a pass, from its four shifted copies: copy r holds the pass's input
// from sample r on, 32-byte aligned, so input q .. q+3 is one aligned load from copy q mod 4.
// The twelve sums are unrolled by hand so that they stay in registers.
inline void WideStep(const double* taps, std::size_t tapCount, const double* const* copies,
                     std::size_t newest, double* y) {
    __m512d a0 = _mm512_setzero_pd(), a1 = _mm512_setzero_pd(), a2 = _mm512_setzero_pd();
    __m512d a3 = _mm512_setzero_pd(), a4 = _mm512_setzero_pd(), a5 = _mm512_setzero_pd();
    __m512d a6 = _mm512_setzero_pd(), a7 = _mm512_setzero_pd(), a8 = _mm512_setzero_pd();
    __m512d a9 = _mm512_setzero_pd(), a10 = _mm512_setzero_pd(), a11 = _mm512_setzero_pd();
    for (std::size_t j = 0; j < tapCount; ++j) {
        const __m512d t = _mm512_set1_pd(taps[j]);
        const std::size_t q = newest - j;
        const double* p = copies[q & 7] + (q & ~std::size_t{7});
        a0 = AddInOrder(a0, _mm512_mul_pd(t, _mm512_load_pd(p)));
        a1 = AddInOrder(a1, _mm512_mul_pd(t, _mm512_load_pd(p + 8)));
        a2 = AddInOrder(a2, _mm512_mul_pd(t, _mm512_load_pd(p + 16)));
        a3 = AddInOrder(a3, _mm512_mul_pd(t, _mm512_load_pd(p + 24)));
        a4 = AddInOrder(a4, _mm512_mul_pd(t, _mm512_load_pd(p + 32)));
        a5 = AddInOrder(a5, _mm512_mul_pd(t, _mm512_load_pd(p + 40)));
        a6 = AddInOrder(a6, _mm512_mul_pd(t, _mm512_load_pd(p + 48)));
        a7 = AddInOrder(a7, _mm512_mul_pd(t, _mm512_load_pd(p + 56)));
        a8 = AddInOrder(a8, _mm512_mul_pd(t, _mm512_load_pd(p + 64)));
        a9 = AddInOrder(a9, _mm512_mul_pd(t, _mm512_load_pd(p + 72)));
        a10 = AddInOrder(a10, _mm512_mul_pd(t, _mm512_load_pd(p + 80)));
        a11 = AddInOrder(a11, _mm512_mul_pd(t, _mm512_load_pd(p + 88)));
    }
    _mm512_storeu_pd(y, a0);
    _mm512_storeu_pd(y + 8, a1);
    _mm512_storeu_pd(y + 16, a2);
    _mm512_storeu_pd(y + 24, a3);
    _mm512_storeu_pd(y + 32, a4);
    _mm512_storeu_pd(y + 40, a5);
    _mm512_storeu_pd(y + 48, a6);
    _mm512_storeu_pd(y + 56, a7);
    _mm512_storeu_pd(y + 64, a8);
    _mm512_storeu_pd(y + 72, a9);
    _mm512_storeu_pd(y + 80, a10);
    _mm512_storeu_pd(y + 88, a11);
}

}  // namespace

void FirBlockAvx512(const double* taps, std::size_t tapCount, const double* x, double* y,
                    std::size_t n, double* scratch) {
    RunAlignedPasses<kLanes, kWide>(taps, tapCount, x, y, n, scratch, WideStep);
}

}  // namespace CorvanaModelBuilder
