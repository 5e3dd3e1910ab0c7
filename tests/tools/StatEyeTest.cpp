#include "tools/amirun/StatEye.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace amirun {
namespace {

// Cursors one sample per bit, the main one first at its own phase: the eye and the BER follow
// from the two or three symbol combinations by hand.
TEST(StatisticalEye, TwoAndThreeTapPulsesGiveTheirClosedForms) {
    // Main 1.0, one post-cursor 0.4: the symbols are +-1/2, so a 1 arrives at 0.5 +- 0.2 and the
    // inner eye is 2 x 0.3 = 0.6 at any BER; no pattern errs.
    StatisticalEye eye = ComputeStatisticalEye({1.0, 0.4}, {}, 1, 1e-12);
    EXPECT_NEAR(0.6, eye.height, 2e-3);
    EXPECT_EQ(0.0, eye.ber[0]);
    EXPECT_EQ(1.0, eye.width);

    // Two post-cursors of 0.6: a 1 after two 0s arrives at 0.5 - 0.6 < 0, a quarter of the time.
    eye = ComputeStatisticalEye({1.0, 0.6, 0.6}, {}, 1, 1e-12);
    EXPECT_NEAR(0.25, eye.ber[0], 1e-12);
    EXPECT_NEAR(-0.2, eye.height, 2e-3);
    EXPECT_EQ(0.0, eye.width);

    // Two post-cursors of 0.3: interference -0.3, 0, +0.3 with 1/4, 1/2, 1/4. Below a BER of
    // 1/4 the worst case counts (inner eye 2 x 0.2); above it the middle one (2 x 0.5).
    eye = ComputeStatisticalEye({1.0, 0.3, 0.3}, {}, 1, 1e-12);
    EXPECT_NEAR(0.4, eye.height, 2e-3);
    eye = ComputeStatisticalEye({1.0, 0.3, 0.3}, {}, 1, 0.3);
    EXPECT_NEAR(1.0, eye.height, 2e-3);
}

TEST(StatisticalEye, CrosstalkClosesTheEyeLikeInterference) {
    // An aggressor cursor of 0.3 acts as one more +-0.15 term: 2 x (0.5 - 0.2 - 0.15) = 0.3.
    const StatisticalEye eye = ComputeStatisticalEye({1.0, 0.4}, {{0.3}}, 1, 1e-12);
    EXPECT_NEAR(0.3, eye.height, 2e-3);
}

TEST(StatisticalEye, TheBathtubFallsTowardsTheCentreOfASmoothPulse) {
    // A raised-cosine pulse over 8 samples per bit with a 0.2 post-cursor tail: the sampling
    // phases near the peak are open, those far from it err.
    std::vector<double> pulse(48, 0.0);
    for (int n = 0; n < 16; ++n) pulse[std::size_t(n)] = 0.5 - 0.5 * std::cos(2 * M_PI * n / 16.0);
    for (int n = 16; n < 24; ++n) pulse[std::size_t(n)] = 0.2;
    const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 8, 1e-12);
    ASSERT_EQ(8u, eye.ber.size());
    EXPECT_EQ(0.0, eye.ber[std::size_t(eye.bestPhase)]);
    EXPECT_GT(eye.height, 0.0);
    EXPECT_GT(eye.width, 0.0);
    EXPECT_LT(eye.width, 1.0);
    double worst = 0.0;
    for (double ber : eye.ber) worst = std::max(worst, ber);
    EXPECT_GT(worst, 1e-3);
}

}  // namespace
}  // namespace amirun
