#include "modelbuilder/FIR.h"

#include <gtest/gtest.h>

#include <complex>
#include <string>
#include <vector>

#include "tests/support/Drive.h"
#include "tests/support/StderrCapture.h"

namespace CorvanaModelBuilder {
namespace {

// Textbook zero-stuff, convolve, keep every D-th from P: slow on purpose, no code shared with FIR.
template <class T>
std::vector<T> Reference(const std::vector<T>& h, size_t I, size_t D, size_t P,
                         const std::vector<T>& x) {
    std::vector<T> y;
    for (size_t n = P; n < x.size() * I; n += D) {
        T sum = T(0);
        for (size_t t = 0; t < h.size() && t <= n; ++t)
            if ((n - t) % I == 0) sum += h[t] * x[(n - t) / I];
        y.push_back(sum);
    }
    return y;
}

struct Rates {
    int I, D, P;
};

class FIRResampling : public ::testing::TestWithParam<Rates> {};

TEST_P(FIRResampling, MatchesZeroStuffFilterDecimate) {
    const Rates r = GetParam();
    std::vector<double> taps{0.5, -1.0, 2.0, 0.25, 3.0, -0.75, 1.5};
    const std::vector<double> x{1, -2, 3, 0.5, 4, -1, 2, 7, -3, 5, 0, 1, 2.5, -4, 6, 1, -1, 3};
    FIR<double, 1> fir;
    fir.Taps = taps.data();
    fir.NumTaps = static_cast<int>(taps.size());
    fir.Interpolation = r.I;
    fir.Decimation = r.D;
    fir.DecimationPhase = r.P;
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
    EXPECT_EQ(static_cast<std::uint64_t>(7 / r.I + 1 + r.D), fir.DelayLine.Capacity);
    const auto actual = Drive(fir, x);
    // Only whole firings are fed: compare the outputs they cover.
    const size_t fed = x.size() / static_cast<size_t>(r.D) * static_cast<size_t>(r.D);
    const auto expected =
        Reference(taps, r.I, r.D, r.P, std::vector<double>(x.begin(), x.begin() + fed));
    ASSERT_EQ(fed / static_cast<size_t>(r.D) * static_cast<size_t>(r.I), actual.size());
    for (size_t m = 0; m < actual.size(); ++m)
        EXPECT_NEAR(expected[m], actual[m], 1e-12) << "output " << m;
}

INSTANTIATE_TEST_SUITE_P(PolyphasePaths, FIRResampling,
                         ::testing::Values(Rates{1, 1, 0}, Rates{1, 2, 0}, Rates{1, 2, 1},
                                           Rates{2, 1, 0}, Rates{3, 2, 0}, Rates{3, 2, 1},
                                           Rates{2, 3, 2}, Rates{4, 3, 1}, Rates{5, 1, 0},
                                           Rates{1, 5, 4}, Rates{7, 2, 1}, Rates{9, 4, 3}));

TEST(FIR, PlainConvolutionSumsInTapOrder) {
    // (1 + 1e16) - 1e16 is 0, (-1e16 + 1e16) + 1 is 1: the sum must run from tap 0 upward.
    std::vector<double> taps{1.0, 1e16, -1e16};
    FIR<double, 0> fir;
    fir.Taps = taps.data();
    fir.NumTaps = 3;
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
    const auto y = Drive(fir, std::vector<double>{1.0, 1.0, 1.0, 1.0});
    EXPECT_EQ((std::vector<double>{1.0, 1e16, 0.0, 0.0}), y);
}

TEST(FIR, OneTapScalesAndTwoTapsDelay) {
    std::vector<double> gain{2.5};
    FIR<double, 0> scale;
    scale.Taps = gain.data();
    scale.NumTaps = 1;
    ASSERT_TRUE(scale.Setup() && scale.Initialize());
    EXPECT_EQ((std::vector<double>{2.5, -5.0, 7.5}), Drive(scale, std::vector<double>{1, -2, 3}));

    std::vector<double> delay{0.0, 1.0};
    FIR<double, 0> shift;
    shift.Taps = delay.data();
    shift.NumTaps = 2;
    ASSERT_TRUE(shift.Setup() && shift.Initialize());
    EXPECT_EQ((std::vector<double>{0, 1, -2}), Drive(shift, std::vector<double>{1, -2, 3}));
    // Initialize again: history is zero again.
    ASSERT_TRUE(shift.Initialize());
    EXPECT_EQ((std::vector<double>{0, 4}), Drive(shift, std::vector<double>{4, 5}));
    EXPECT_TRUE(shift.Finalize());
    EXPECT_EQ(nullptr, shift.DelayStorage);
}

TEST(FIR, InterpolationByTwoWithTwoOnesRepeatsEachSample) {
    std::vector<double> taps{1.0, 1.0};
    FIR<double, 0> fir;
    fir.Taps = taps.data();
    fir.NumTaps = 2;
    fir.Interpolation = 2;
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
    EXPECT_EQ(2, fir.Output.Rate);
    EXPECT_EQ((std::vector<double>{3, 3, -1, -1, 2, 2}), Drive(fir, std::vector<double>{3, -1, 2}));
}

TEST(FIR, ComplexSamplesUseComplexArithmetic) {
    using C = std::complex<double>;
    std::vector<C> taps{C(1, 1), C(0, -2), C(0.5, 0)};
    const std::vector<C> x{C(1, 0), C(0, 1), C(2, -1), C(-1, 3), C(0.5, 0.5)};
    FIR<C, 0> fir;
    fir.Taps = taps.data();
    fir.NumTaps = 3;
    fir.Interpolation = 2;
    fir.Decimation = 1;
    ASSERT_TRUE(fir.Setup() && fir.Initialize());
    const auto actual = Drive(fir, x);
    const auto expected = Reference(taps, 2, 1, 0, x);
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t m = 0; m < actual.size(); ++m) {
        EXPECT_NEAR(expected[m].real(), actual[m].real(), 1e-12);
        EXPECT_NEAR(expected[m].imag(), actual[m].imag(), 1e-12);
    }
}

TEST(FIRSetup, ReportsEveryViolatedRuleInOrder) {
    struct Case {
        int taps, decimation, phase, interpolation;
        std::string lines;
    };
    const Case cases[] = {
        {0, 1, 0, 1, "There must be at least one Tap\n"},
        {1, 0, 0, 1, "Decimation must be > 0\nDecimationPhase must be < Decimation ratio\n"},
        {1, 2, 2, 1, "DecimationPhase must be < Decimation ratio\n"},
        {1, 2, -1, 1, "DecimationPhase must be >= 0\n"},
        {1, 1, 0, 0, "Interpolation must be > 0\n"},
        {0, -1, -2, -3,
         "There must be at least one Tap\nDecimation must be > 0\nDecimationPhase must be >= 0\n"
         "Interpolation must be > 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        double tap = 1.0;
        FIR<double, 0> fir;
        fir.Taps = &tap;
        fir.NumTaps = c.taps;
        fir.Decimation = c.decimation;
        fir.DecimationPhase = c.phase;
        fir.Interpolation = c.interpolation;
        StderrCapture capture;
        EXPECT_FALSE(fir.Setup());
        EXPECT_EQ(c.lines, capture.Text());
        EXPECT_EQ(1u, fir.Input.Rate);  // nothing else changed
        EXPECT_EQ(1u, fir.DelayLine.MinCapacity);
    }
}

TEST(FIRSetup, DerivesRatesAndTapsPerPhase) {
    std::vector<double> taps(10, 1.0);
    FIR<double, 0> fir;
    fir.Taps = taps.data();
    fir.NumTaps = 10;
    fir.Interpolation = 4;
    fir.Decimation = 3;
    fir.Input.MinCapacity = 8;
    ASSERT_TRUE(fir.Setup());
    EXPECT_EQ(3, fir.TapsPerPhase);
    EXPECT_EQ(3u, fir.Input.Rate);
    EXPECT_EQ(8u, fir.Input.MinCapacity);
    EXPECT_EQ(4u, fir.Output.Rate);
    EXPECT_EQ(4u, fir.Output.MinCapacity);
    EXPECT_EQ(3u, fir.DelayLine.Rate);
    EXPECT_EQ(10u / 4u + 1u + 3u, fir.DelayLine.MinCapacity);
}

TEST(FIR, RunWithoutInitializeFailsInsteadOfTouchingMissingStorage) {
    double tap = 1.0;
    FIR<double, 0> fir;
    fir.Taps = &tap;
    fir.NumTaps = 1;
    ASSERT_TRUE(fir.Setup());
    EXPECT_FALSE(fir.Run());
}

}  // namespace
}  // namespace CorvanaModelBuilder
