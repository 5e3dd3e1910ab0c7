// Compiled with -mavx512f alone; it includes nothing but the kernel body and the intrinsics, so
// no AVX-512 code can end up in an inline function shared with the rest of the library.
#include <immintrin.h>

#include "modelbuilder/FirBlockKernel.h"

namespace CorvanaModelBuilder {
namespace {

struct Avx512 {
    using Vec = __m512d;
    static constexpr std::size_t kLanes = 8;
    static Vec Zero() { return _mm512_setzero_pd(); }
    static Vec Broadcast(const double* p) { return _mm512_set1_pd(*p); }
    static Vec Load(const double* p) { return _mm512_load_pd(p); }
    static Vec Mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    static Vec AddInOrder(Vec sum, Vec term) {
        __asm__("vaddpd %1, %0, %0" : "+v"(sum) : "v"(term));
        return sum;
    }
    static void Store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
};

}  // namespace

void FirBlockAvx512(const double* taps, std::size_t tapCount, const double* x, double* y,
                    std::size_t n, double* scratch) {
    RunAlignedPasses<Avx512>(taps, tapCount, x, y, n, scratch);
}

}  // namespace CorvanaModelBuilder
