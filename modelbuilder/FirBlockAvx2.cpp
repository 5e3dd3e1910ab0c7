// Compiled with -mavx2 alone; it includes nothing but the kernel body and the intrinsics, so no
// AVX2 code can end up in an inline function shared with the rest of the library.
#include <immintrin.h>

#include "modelbuilder/FirBlockKernel.h"

namespace CorvanaModelBuilder {
namespace {

struct Avx2 {
    using Vec = __m256d;
    static constexpr std::size_t kLanes = 4;
    static Vec Zero() { return _mm256_setzero_pd(); }
    static Vec Broadcast(const double* p) { return _mm256_broadcast_sd(p); }
    static Vec Load(const double* p) { return _mm256_load_pd(p); }
    static Vec Mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    static Vec AddInOrder(Vec sum, Vec term) {
        __asm__("vaddpd %1, %0, %0" : "+x"(sum) : "x"(term));
        return sum;
    }
    static void Store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
};

}  // namespace

void FirBlockAvx2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n, double* scratch) {
    RunAlignedPasses<Avx2>(taps, tapCount, x, y, n, scratch);
}

}  // namespace CorvanaModelBuilder
