#include "modelbuilder/Limit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

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

}  // namespace
}  // namespace CorvanaModelBuilder
