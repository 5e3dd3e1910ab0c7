#include "modelbuilder/Limit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/BitCompare.h"
#include "tests/support/Drive.h"
#include "tests/support/StderrCapture.h"

namespace CorvanaModelBuilder {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSmallest = std::numeric_limits<double>::min();

double Fire(Limit& limit, double x) {
    std::vector<double> in{x};
    std::vector<double> out{-7.0};
    Attach(limit.Input, in);
    Attach(limit.Output, out);
    EXPECT_TRUE(limit.Run());
    return out[0];
}

TEST(LimitLinear, ClipsOutsideTheBandAndPassesItsEdges) {
    Limit limit;
    ASSERT_TRUE(limit.Initialize());
    EXPECT_EQ(1.0, Fire(limit, 1.5));
    EXPECT_EQ(0.0, Fire(limit, -0.2));
    EXPECT_EQ(0.5, Fire(limit, 0.5));
    EXPECT_TRUE(std::isnan(Fire(limit, std::nan(""))));

    limit.Bottom = -0.45;
    limit.Top = 0.45;
    limit.K = 2.0;
    ASSERT_TRUE(limit.Initialize());
    EXPECT_EQ(0.45, Fire(limit, 0.225));
    EXPECT_EQ(0.45, Fire(limit, 10.0));
    EXPECT_EQ(-0.45, Fire(limit, -10.0));
    EXPECT_EQ(0.4, Fire(limit, 0.2));
}

TEST(LimitAtan, FollowsTheArcTangentAndSaturatesWithoutIt) {
    Limit limit;
    limit.Bottom = -1.0;
    limit.Top = 1.0;
    limit.Characteristic = 1;
    ASSERT_TRUE(limit.Initialize());
    EXPECT_DOUBLE_EQ(2.0 / kPi, limit.Scale);
    EXPECT_EQ(0.0, limit.Center);
    EXPECT_EQ(0.0, Fire(limit, 0.0));
    EXPECT_NEAR(2.0 / kPi * std::atan(kPi / 2.0), Fire(limit, 1.0), 1e-15);
    EXPECT_NEAR(0.6391, Fire(limit, 1.0), 1e-4);
    EXPECT_EQ(limit.Scale * 1.5707963267948966, Fire(limit, 1e300));
    EXPECT_EQ(-limit.Scale * 1.5707963267948966, Fire(limit, -1e300));
    // Slope 1 at the centre.
    EXPECT_NEAR(1e-6, Fire(limit, 1e-6), 1e-15);
}

TEST(LimitAtan, AsymmetricBandCentresTheCurve) {
    Limit limit;
    limit.Bottom = 1.0;
    limit.Top = 3.0;
    limit.Characteristic = 5;  // anything but 0 is the atan
    ASSERT_TRUE(limit.Initialize());
    EXPECT_EQ(2.0, Fire(limit, 2.0));
    const double h = 0.5;
    EXPECT_NEAR(2.0 + h, Fire(limit, 2.0 + limit.Scale * std::tan(h / limit.Scale)), 1e-12);
}

TEST(LimitChecks, ProblemsAreErrorsUntilTheFirstInitializeThenRepairedWarnings) {
    Limit limit;
    limit.K = 0.0;
    limit.Top = -1.0;  // not examined while K fails
    {
        StderrCapture capture;
        EXPECT_FALSE(limit.Initialize());
        EXPECT_EQ("K != 0.0\n", capture.Text());
    }
    EXPECT_TRUE(limit.Initialized);
    limit.Top = 1.0;
    {
        StderrCapture capture;
        EXPECT_TRUE(limit.Initialize());
        EXPECT_EQ("K != 0.0\n", capture.Text());
        EXPECT_EQ(kSmallest, limit.K);
    }

    Limit band;
    band.Top = band.Bottom = -2.0;
    {
        StderrCapture capture;
        EXPECT_FALSE(band.Initialize());
        EXPECT_EQ("Top must be > Bottom\n", capture.Text());
    }
    band.Top = band.Bottom = 0.0;
    {
        StderrCapture capture;
        EXPECT_TRUE(band.CheckLimits());
        EXPECT_EQ("Top must be > Bottom\n", capture.Text());
        EXPECT_EQ(kSmallest, band.Top);
    }
    band.Bottom = 4.0;
    band.Top = 3.0;
    {
        StderrCapture capture;
        EXPECT_TRUE(band.Initialize());
        EXPECT_EQ(4.0 + 4.0 * std::numeric_limits<double>::epsilon(), band.Top);
        EXPECT_EQ((band.Top - 4.0) / kPi, band.Scale);
    }
}

TEST(LimitChecks, CheckParametersBringsTheCharacteristicIntoRange) {
    Limit limit;
    limit.Characteristic = 7;
    {
        StderrCapture capture;
        EXPECT_TRUE(limit.CheckParameters());
        EXPECT_EQ("reset to atan\n", capture.Text());
        EXPECT_EQ(1, limit.Characteristic);
    }
    limit.Characteristic = -3;
    limit.K = 0.0;
    StderrCapture capture;
    EXPECT_FALSE(limit.CheckParameters());  // not yet initialized: K is an error
    EXPECT_EQ("reset to linear\nK != 0.0\n", capture.Text());
    EXPECT_EQ(0, limit.Characteristic);
}

// The transmitter's pairs: atan over +-2L, then clipping at +-L.
void MakePair(Limit& soft, Limit& hard, double level) {
    soft.Bottom = -2.0 * level;
    soft.Top = 2.0 * level;
    soft.Characteristic = 1;
    hard.Bottom = -level;
    hard.Top = level;
    ASSERT_TRUE(soft.Initialize() && hard.Initialize());
}

// The edge is returned without the atan only where the full formula gives it too: dense sweeps
// around both thresholds, down to neighbouring doubles, compared bit for bit.
TEST(LimitChain, ShortcutGivesTheFormulasBitsAroundBothThresholds) {
    for (double level : {0.45, 0.5}) {
        SCOPED_TRACE(level);
        Limit soft;
        Limit hard;
        MakePair(soft, hard, level);
        const LimitChain chain(soft, hard);
        ASSERT_TRUE(chain.Shortcut());
        std::vector<double> inputs;
        for (double sign : {1.0, -1.0}) {
            const double edge = sign * chain.Threshold();
            for (int k = -20000; k <= 20000; ++k) inputs.push_back(edge * (1.0 + k * 1e-7));
            double below = edge;
            double above = edge;
            for (int k = 0; k < 64; ++k) {
                inputs.push_back(below = std::nextafter(below, 0.0));
                inputs.push_back(above = std::nextafter(above, 2.0 * edge));
            }
            inputs.push_back(sign * 1e308);
            inputs.push_back(sign * std::numeric_limits<double>::infinity());
        }
        inputs.push_back(std::numeric_limits<double>::quiet_NaN());
        for (double x : {0.0, -0.0, 1e-310, -1e-310, 0.3, -0.3, 1e-9})
            inputs.push_back(x);  // inside the band: the atan's own bits
        std::vector<double> expected;
        std::vector<double> actual;
        for (double x : inputs) {
            expected.push_back(hard.Apply(soft.Apply(x)));
            actual.push_back(chain.Apply(x));
        }
        EXPECT_EQ("", FirstDifference(expected, actual));
        std::vector<double> block = inputs;  // and in blocks, the arc tangents four lanes at once
        chain.ApplyBlock(block.data(), block.size());
        EXPECT_EQ("", FirstDifference(expected, block));
        EXPECT_EQ(level, chain.Apply(chain.Threshold()));  // the shortcut's own answer
    }
}

TEST(LimitChain, KeepsTheFormulaWhereTheShortcutIsNotProven) {
    Limit soft;
    Limit hard;
    MakePair(soft, hard, 0.5);
    soft.Bottom = -0.5;  // off-centre soft band
    ASSERT_TRUE(soft.Initialize());
    EXPECT_FALSE(LimitChain(soft, hard).Shortcut());
    MakePair(soft, hard, 0.5);
    hard.Top = 0.9;  // hard band reaching past what the soft curve surely exceeds
    ASSERT_TRUE(hard.Initialize());
    EXPECT_FALSE(LimitChain(soft, hard).Shortcut());
    const LimitChain chain(soft, hard);
    for (double x : {0.7, 0.8, 3.0, -3.0})
        EXPECT_EQ(hard.Apply(soft.Apply(x)), chain.Apply(x)) << x;
}

}  // namespace
}  // namespace CorvanaModelBuilder
