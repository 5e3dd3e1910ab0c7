#include "modelbuilder/FirBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "modelbuilder/FIR.h"
#include "tests/support/BitCompare.h"

namespace CorvanaModelBuilder {
namespace {

// The vector variants of the dispatch rule, each against the generic kernel.
std::vector<FirBlockVariant> VectorVariants() {
    std::vector<FirBlockVariant> variants;
    for (FirBlockVariant v : kFirBlockPreference)
        if (v != FirBlockVariant::Generic) variants.push_back(v);
    return variants;
}
const std::size_t kTapCounts[] = {1, 2, 3, 7, 16, 193, 577};
const std::size_t kSizes[] = {0, 1, 7, 8, 9, 1000, 1024, 65536};

std::vector<double> Taps(std::size_t count) {
    return TestSamples(count, static_cast<std::uint32_t>(7 + count), false);
}

std::vector<double> Kernel(FirBlockFn kernel, const std::vector<double>& taps,
                           const std::vector<double>& x, std::size_t n) {
    std::vector<double> y(n, -7.0);
    std::vector<double> scratch(FirBlockScratchSize(taps.size()), -5.0);
    kernel(taps.data(), taps.size(), x.data(), y.data(), n, scratch.data());
    return y;
}

class FirBlockVariants
    : public ::testing::TestWithParam<std::tuple<FirBlockVariant, std::size_t, std::size_t>> {};

TEST_P(FirBlockVariants, MatchTheGenericKernelBitForBit) {
    const auto [variant, tapCount, n] = GetParam();
    if (!FirBlockSupported(variant))
        GTEST_SKIP() << FirBlockVariantName(variant) << " needs a CPU feature this one lacks";
    const std::vector<double> taps = Taps(tapCount);
    for (bool awkward : {false, true}) {
        SCOPED_TRACE(awkward ? "with awkward values" : "plain");
        const std::vector<double> x =
            TestSamples(tapCount - 1 + n, static_cast<std::uint32_t>(n), awkward);
        const auto expected = Kernel(FirBlockGeneric, taps, x, n);
        const auto actual = Kernel(FirBlockOf(variant), taps, x, n);
        ASSERT_EQ("", FirstDifference(expected, actual));
    }
}

INSTANTIATE_TEST_SUITE_P(AllSizes, FirBlockVariants,
                         ::testing::Combine(::testing::ValuesIn(VectorVariants()),
                                            ::testing::ValuesIn(kTapCounts),
                                            ::testing::ValuesIn(kSizes)),
                         [](const auto& test) {
                             std::string name = FirBlockVariantName(std::get<0>(test.param));
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name + "_taps" + std::to_string(std::get<1>(test.param)) +
                                    "_n" + std::to_string(std::get<2>(test.param));
                         });

// The kernel the library runs, against what the kernel reports of its CPU: the widest vector
// variant whose flag it lists (AVX-512 is the fastest wherever it exists, see the rule).
TEST(FirBlockDispatch, TheLibraryRunsTheWidestKernelTheCpuOffers) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.empty()) GTEST_SKIP() << "no /proc/cpuinfo flags to compare with";
    std::istringstream words(line);
    std::set<std::string> flags{std::istream_iterator<std::string>(words), {}};
    const FirBlockVariant expected = flags.count("avx512f") ? FirBlockVariant::Avx512
                                     : flags.count("avx2")  ? FirBlockVariant::Avx2
                                                            : FirBlockVariant::Sse2;
    EXPECT_EQ(FirBlockVariantName(expected), std::string(FirBlockVariantName(FirBlockInUse())));
    EXPECT_EQ(FirBlockOf(expected), FirBlock());
}

// One firing per sample, the reference every block path answers to.
std::vector<double> Fire(FIR<double, 0>& fir, const std::vector<double>& x, std::size_t from,
                         std::size_t count) {
    std::vector<double> y;
    double in = 0.0;
    double out = 0.0;
    AttachSingleElement(fir.Input, &in);
    AttachSingleElement(fir.Output, &out);
    for (std::size_t i = from; i < from + count; ++i) {
        in = x[i];
        EXPECT_TRUE(fir.Run());
        y.push_back(out);
    }
    return y;
}

void SetUpFilter(FIR<double, 0>& fir, std::vector<double>& taps) {
    fir.Taps = taps.data();
    fir.NumTaps = static_cast<std::int32_t>(taps.size());
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
}

// Blocks of every size, then single firings, then a block again: the block path leaves the delay
// line exactly as the firings would, so the streams never part.
TEST(FIRRunBlock, MixedWithSingleFiringsEqualsFiringEverySample) {
    const std::size_t cut = 1000;
    for (std::size_t tapCount : kTapCounts) {
        for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{9},
                              std::size_t{1024}, std::size_t{2 * 65536 + 3}}) {
            SCOPED_TRACE("taps " + std::to_string(tapCount) + ", n " + std::to_string(n));
            std::vector<double> taps = Taps(tapCount);
            const std::vector<double> x = TestSamples(3 * n + 2 * cut, 11u, true);
            FIR<double, 0> reference;
            FIR<double, 0> mixed;
            SetUpFilter(reference, taps);
            SetUpFilter(mixed, taps);
            const std::vector<double> expected = Fire(reference, x, 0, x.size());

            std::vector<double> actual(n);
            ASSERT_TRUE(mixed.RunBlock(x.data(), actual.data(), n));
            const std::vector<double> single = Fire(mixed, x, n, cut);
            actual.insert(actual.end(), single.begin(), single.end());
            std::vector<double> rest(x.begin() + static_cast<std::ptrdiff_t>(n + cut), x.end());
            ASSERT_TRUE(mixed.RunBlock(rest.data(), rest.data(), rest.size()));  // in place
            actual.insert(actual.end(), rest.begin(), rest.end());
            ASSERT_EQ("", FirstDifference(expected, actual));
        }
    }
}

TEST(FIRRunBlock, RefusesWhatItCannotComputeExactly) {
    std::vector<double> taps{1.0, 2.0, 3.0};
    double y = 0.0;
    const double x = 1.0;
    FIR<double, 0> fir;
    fir.Taps = taps.data();
    fir.NumTaps = 3;
    EXPECT_FALSE(fir.RunBlock(&x, &y, 1));  // never initialized
    fir.Interpolation = 2;
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
    EXPECT_FALSE(fir.BlockReady());  // rate changes stay with single firings
    EXPECT_FALSE(fir.RunBlock(&x, &y, 1));
    EXPECT_EQ(0.0, y);
}

}  // namespace
}  // namespace CorvanaModelBuilder
