// Our arc tangent against MPFR's, computed with 256 bits: less than 1 ulp off the exact value
// everywhere tried, and the IEEE edge values exactly.
#include "modelbuilder/Atan.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace CorvanaModelBuilder {
namespace {

// |Atan(x) - atan(x)| in units in the last place of the exact value, by MPFR.
double UlpError(double x) {
    mpfr_t exact, ours, ulp;
    mpfr_inits2(256, exact, ours, ulp, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(exact, x, MPFR_RNDN);
    mpfr_atan(exact, exact, MPFR_RNDN);
    mpfr_set_d(ours, Atan(x), MPFR_RNDN);
    mpfr_sub(ours, ours, exact, MPFR_RNDN);
    mpfr_abs(ours, ours, MPFR_RNDN);
    // One ulp of a double near the exact value: 2^(exponent - 53), never below the subnormal step.
    const long exponent = mpfr_zero_p(exact) ? -1074 : mpfr_get_exp(exact);
    mpfr_set_ui_2exp(ulp, 1, std::max(exponent - 53, -1074L), MPFR_RNDN);
    mpfr_div(ours, ours, ulp, MPFR_RNDN);
    const double error = mpfr_get_d(ours, MPFR_RNDN);
    mpfr_clears(exact, ours, ulp, static_cast<mpfr_ptr>(nullptr));
    return error;
}

TEST(Atan, EdgeValues) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(Atan(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(0.0, Atan(0.0));
    EXPECT_TRUE(std::signbit(Atan(-0.0)));
    EXPECT_EQ(1.5707963267948966, Atan(inf));
    EXPECT_EQ(-1.5707963267948966, Atan(-inf));
    EXPECT_EQ(1.5707963267948966, Atan(std::numeric_limits<double>::max()));
    const double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(tiny, Atan(tiny));
    EXPECT_EQ(-5e-310, Atan(-5e-310));
}

// Dense sweeps of consecutive doubles around every boundary of the argument reduction, and
// random samples over every exponent: each under 1 ulp.
TEST(Atan, LessThanOneUlpEverywhere) {
    double worst = 0.0, worstAt = 0.0;
    auto check = [&](double x) {
        const double error = UlpError(x);
        if (error > worst) {
            worst = error;
            worstAt = x;
        }
    };
    for (const double edge : {0x1p-27, 0.4375, 0.6875, 1.1875, 2.4375, 0x1p66, 1.0, 0.5, 1.5}) {
        double x = edge, y = edge;
        for (int k = 0; k < 2000; ++k, x = std::nextafter(x, 0.0), y = std::nextafter(y, 1e300)) {
            check(x);
            check(y);
            check(-x);
        }
    }
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    for (int n = 0; n < 200000; ++n) {
        const double x = std::ldexp(mantissa(random), exponent(random));
        check(n % 2 ? x : -x);
    }
    for (int n = 0; n < 200000; ++n) check(std::ldexp(mantissa(random), n % 8 - 4));  // near 1
    EXPECT_LT(worst, 1.0) << "at " << worstAt;
    std::printf("largest error: %.3f ulp at %.17g\n", worst, worstAt);
}

// The four-lane form against the scalar one, bit for bit, NaN payloads included: edge values,
// both sides of every reduction boundary, and random doubles, each at every lane position.
TEST(AtanBlock, GivesTheScalarBitsInEveryLane) {
    std::vector<double> x = {0.0,
                             -0.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::denorm_min(),
                             -5e-310,
                             std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min()};
    std::uint64_t payload = 0x7ff4000000000123u;  // a signalling NaN with a payload
    double nan = 0.0;
    std::memcpy(&nan, &payload, sizeof nan);
    x.push_back(nan);
    for (const double edge : {0x1p-27, 0.4375, 0.6875, 1.1875, 2.4375, 0x1p66}) {
        double below = edge, above = edge;
        for (int k = 0; k < 8; ++k) {
            for (double v : {below, above}) {
                x.push_back(v);
                x.push_back(-v);
            }
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1e300);
        }
    }
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    for (int n = 0; n < 20000; ++n)
        x.push_back(std::ldexp(mantissa(random), exponent(random) / 16));
    for (std::size_t shift = 0; shift < 4; ++shift) {
        std::vector<double> in(x.begin() + static_cast<std::ptrdiff_t>(shift), x.end());
        std::vector<double> out(in.size());
        AtanBlock(in.data(), out.data(), in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double expected = Atan(in[i]);
            ASSERT_EQ(0, std::memcmp(&expected, &out[i], sizeof expected))
                << "x = " << in[i] << " (element " << i << ", shift " << shift << ")";
        }
    }
}

}  // namespace
}  // namespace CorvanaModelBuilder
