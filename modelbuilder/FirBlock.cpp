#include "modelbuilder/FirBlock.h"

#include <atomic>

#include "modelbuilder/OrderedAdd.h"

namespace CorvanaModelBuilder {

// A pass's input, tapCount - 1 + kFirBlockPass samples, rounded up to whole 8-lane vectors plus
// one: every copy starts 64-byte aligned when the first does.
std::size_t FirBlockCopyLength(std::size_t tapCount) {
    return (tapCount - 1 + kFirBlockPass + 7) / 8 * 8 + 8;
}

std::size_t FirBlockScratchSize(std::size_t tapCount) {
    return kFirBlockCopies * FirBlockCopyLength(tapCount) + 7;
}

// The oracle: the per-sample sum, output after output.
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

std::atomic<FirBlockVariant>& InUse() {
    static std::atomic<FirBlockVariant> inUse{FirBlockRuleChoice()};
    return inUse;
}

}  // namespace

FirBlockVariant FirBlockRuleChoice() {
    for (FirBlockVariant variant : kFirBlockPreference)
        if (FirBlockSupported(variant)) return variant;
    return FirBlockVariant::Generic;
}

const char* FirBlockVariantName(FirBlockVariant variant) {
    switch (variant) {
        case FirBlockVariant::Avx512:
            return "AVX-512";
        case FirBlockVariant::Avx2:
            return "AVX2";
        case FirBlockVariant::Sse2:
            return "SSE2";
        case FirBlockVariant::Generic:
            break;
    }
    return "generic";
}

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

FirBlockVariant FirBlockInUse() { return InUse().load(std::memory_order_relaxed); }

FirBlockFn FirBlock() { return FirBlockOf(FirBlockInUse()); }

bool ForceFirBlockVariant(FirBlockVariant variant) {
    if (!FirBlockSupported(variant)) return false;
    InUse().store(variant, std::memory_order_relaxed);
    return true;
}

void UseFirBlockRule() { InUse().store(FirBlockRuleChoice(), std::memory_order_relaxed); }

}  // namespace CorvanaModelBuilder
