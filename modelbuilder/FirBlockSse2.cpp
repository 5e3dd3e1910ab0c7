// The x86-64 baseline kernel: two lanes.
#include <emmintrin.h>

#include "modelbuilder/FirBlockKernel.h"

namespace CorvanaModelBuilder {
namespace {

struct Sse2 {
    using Vec = __m128d;
    static constexpr std::size_t kLanes = 2;
    static Vec Zero() { return _mm_setzero_pd(); }
    static Vec Broadcast(const double* p) { return _mm_set1_pd(*p); }
    static Vec Load(const double* p) { return _mm_load_pd(p); }
    static Vec Mul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
    static Vec AddInOrder(Vec sum, Vec term) {
        __asm__("addpd %1, %0" : "+x"(sum) : "x"(term));
        return sum;
    }
    static void Store(double* p, Vec v) { _mm_storeu_pd(p, v); }
};

}  // namespace

void FirBlockSse2(const double* taps, std::size_t tapCount, const double* x, double* y,
                  std::size_t n, double* scratch) {
    RunAlignedPasses<Sse2>(taps, tapCount, x, y, n, scratch);
}

}  // namespace CorvanaModelBuilder
