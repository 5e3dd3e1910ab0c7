#include "tools/amirun/link/StatEye.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tools/amirun/link/Impairments.h"

namespace amirun {
namespace {

// A pulse whose peak is at the start of its flat top (8 samples a bit): 0 at sample 2, 1 at 3,
// 0.9 from 4 to 10, 0 at 11. By hand, the worst-case opening main - |pre| - |post| is positive
// from 2.474 (where 1.9 p = 4.7) to 10.474 samples, so the eye's unit interval is centred at
// 6.474, 0.434 UI after the peak, not at the peak.
TEST(StatisticalEye, CentresItsUnitIntervalInTheOpeningNotOnThePeak) {
    std::vector<double> pulse(40, 0.0);
    pulse[3] = 1.0;
    for (int n = 4; n <= 10; ++n) pulse[std::size_t(n)] = 0.9;
    const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 8, 1e-12);
    EXPECT_NEAR(3.474 / 8.0, eye.centreUi, 1.0 / 64.0);
    EXPECT_NEAR(1.0, eye.height, 2e-3);  // the peak, with nothing a unit interval either side
}

// Cursors one sample per bit, the main one first at its own phase: the eye and the BER follow
// from the two or three symbol combinations by hand.
TEST(StatisticalEye, TwoAndThreeTapPulsesGiveTheirClosedForms) {
    // Main 1.0, one post-cursor 0.4: the symbols are +-1/2, so a 1 arrives at 0.5 +- 0.2 and the
    // inner eye is 2 x 0.3 = 0.6 at any BER; no pattern errs.
    StatisticalEye eye = ComputeStatisticalEye({1.0, 0.4}, {}, 1, 1e-12, 1);
    EXPECT_NEAR(0.6, eye.height, 2e-3);
    EXPECT_EQ(0.0, eye.ber[0]);
    EXPECT_EQ(1.0, eye.width);

    // Two post-cursors of 0.6: a 1 after two 0s arrives at 0.5 - 0.6 < 0, a quarter of the time.
    eye = ComputeStatisticalEye({1.0, 0.6, 0.6}, {}, 1, 1e-12, 1);
    EXPECT_NEAR(0.25, eye.ber[0], 1e-12);
    EXPECT_NEAR(-0.2, eye.height, 2e-3);
    EXPECT_EQ(0.0, eye.width);

    // Two post-cursors of 0.3: interference -0.3, 0, +0.3 with 1/4, 1/2, 1/4. Below a BER of
    // 1/4 the worst case counts (inner eye 2 x 0.2); above it the middle one (2 x 0.5).
    eye = ComputeStatisticalEye({1.0, 0.3, 0.3}, {}, 1, 1e-12, 1);
    EXPECT_NEAR(0.4, eye.height, 2e-3);
    eye = ComputeStatisticalEye({1.0, 0.3, 0.3}, {}, 1, 0.3, 1);
    EXPECT_NEAR(1.0, eye.height, 2e-3);
}

TEST(StatisticalEye, CrosstalkClosesTheEyeLikeInterference) {
    // An aggressor cursor of 0.3 acts as one more +-0.15 term: 2 x (0.5 - 0.2 - 0.15) = 0.3.
    const StatisticalEye eye = ComputeStatisticalEye({1.0, 0.4}, {{0.3}}, 1, 1e-12, 1);
    EXPECT_NEAR(0.3, eye.height, 2e-3);
}

TEST(StatisticalEye, TheBathtubFallsTowardsTheCentreOfASmoothPulse) {
    // A raised-cosine pulse over 8 samples per bit with a 0.2 post-cursor tail: the sampling
    // phases near the peak are open, those far from it err.
    std::vector<double> pulse(48, 0.0);
    for (int n = 0; n < 16; ++n) pulse[std::size_t(n)] = 0.5 - 0.5 * std::cos(2 * M_PI * n / 16.0);
    for (int n = 16; n < 24; ++n) pulse[std::size_t(n)] = 0.2;
    const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 8, 1e-12, 8);
    ASSERT_EQ(8u, eye.ber.size());
    EXPECT_EQ(0.0, eye.ber[std::size_t(eye.bestPhase)]);
    EXPECT_GT(eye.height, 0.0);
    EXPECT_GT(eye.width, 0.0);
    EXPECT_LT(eye.width, 1.0);
    double worst = 0.0;
    for (double ber : eye.ber) worst = std::max(worst, ber);
    EXPECT_GT(worst, 1e-3);
}

// Twenty equal cursors of 0.04: the interference is 0.02 (2B - 20) with B binomial(20, 1/2), so
// every quantile is known exactly; below 2^-20 the eye is the worst pattern's.
TEST(StatisticalEye, EqualCursorsGiveTheBinomialQuantiles) {
    std::vector<double> pulse{1.0};
    pulse.insert(pulse.end(), 20, 0.04);
    for (const double ber : {0.3, 1e-2, 1e-3, 1e-5, 2e-6, 1e-7, 1e-30}) {
        SCOPED_TRACE(ber);
        double cumulative = 0.0, binomial = 1.0 / double(1 << 20);
        int b = 0;
        for (; b <= 20; binomial *= double(20 - b) / double(b + 1), ++b)
            if ((cumulative += binomial) > ber) break;
        const double expected = 2.0 * (0.5 + 0.02 * (2 * b - 20));
        const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, ber, 1);
        EXPECT_LE(eye.bound, 1e-3);
        EXPECT_NEAR(expected, eye.height, eye.bound + 1e-12);
    }
    EXPECT_NEAR(0.2, ComputeStatisticalEye(pulse, {}, 1, 1e-7, 1).peakDistortion, 1e-12);
    EXPECT_NEAR(0.2, ComputeStatisticalEye(pulse, {}, 1, 1e-7, 1).height, 1e-12);
}

// Random pulses of a dozen cursors against the exact distribution of all 4 096 patterns: never
// inside the peak-distortion eye, never beyond the main cursor, shrinking as the BER falls, equal
// to the worst pattern's below its probability (2^-12), within the stated bound of the exact
// quantile; and the BER as a Monte Carlo run of 2 million patterns finds it.
TEST(StatisticalEye, MatchesEveryPatternAndMonteCarlo) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> cursor(-0.1, 0.1);
    for (int trial = 0; trial < 5; ++trial) {
        SCOPED_TRACE(trial);
        std::vector<double> pulse{0.05, 1.0};
        for (int k = 0; k < 11; ++k) pulse.push_back(cursor(random));
        std::vector<double> ones;  // the received one of every pattern of the other cursors
        for (int pattern = 0; pattern < 4096; ++pattern) {
            double v = 0.5, bit = 0;
            for (std::size_t k = 0; k < pulse.size(); ++k)
                if (k != 1) v += ((pattern >> int(bit++)) & 1 ? 0.5 : -0.5) * pulse[k];
            ones.push_back(v);
        }
        std::sort(ones.begin(), ones.end());
        double previous = 1e9;
        for (const double ber : {1e-2, 3e-3, 1e-3, 1e-6, 1e-12}) {
            const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, ber, 1);
            const double exact = 2.0 * ones[std::size_t(std::floor(ber * 4096.0))];
            EXPECT_NEAR(exact, eye.height, eye.bound + 1e-12) << ber;
            EXPECT_GE(eye.height, eye.peakDistortion);
            EXPECT_LE(eye.height, 1.0);
            EXPECT_LE(eye.height, previous);
            previous = eye.height;
            if (ber < 1.0 / 4096) {
                EXPECT_DOUBLE_EQ(eye.peakDistortion, eye.height);
            }
        }
        std::bernoulli_distribution coin(0.5);
        long errors = 0;
        const long draws = 2000000;
        for (long n = 0; n < draws; ++n) {
            double v = 0.5;
            for (std::size_t k = 0; k < pulse.size(); ++k)
                if (k != 1) v += (coin(random) ? 0.5 : -0.5) * pulse[k];
            errors += v < 0.0;
        }
        const double ber = ComputeStatisticalEye(pulse, {}, 1, 1e-3, 1).ber[0];
        EXPECT_NEAR(double(errors) / double(draws), ber,
                    5.0 * std::sqrt(ber / double(draws)) + 1e-6);
    }
}

// A long random tail on a grid refined from 2^10 to 2^16 bins: each eye lies within its stated
// bound of the finest one, and the bounds shrink as the grid refines.
TEST(StatisticalEye, ConvergesAsTheGridRefines) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> cursor(-0.02, 0.02);
    std::vector<double> pulse{0.1, 1.0};
    for (int k = 0; k < 80; ++k) pulse.push_back(cursor(random));
    const StatisticalEye finest = ComputeStatisticalEye(pulse, {}, 1, 1e-12, 1, 1 << 16);
    double previousBound = 1e9;
    for (const int bins : {1 << 10, 1 << 12, 1 << 14}) {
        const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, 1e-12, 1, bins);
        EXPECT_NEAR(finest.height, eye.height, eye.bound + finest.bound) << bins;
        EXPECT_LT(eye.bound, previousBound);
        previousBound = eye.bound;
    }
    EXPECT_GE(finest.height, finest.peakDistortion);
}

// A channel-like pulse of 240 cursors (a decaying tail of random sign), where 1e-12 is a real
// quantile far above the worst pattern's probability (2^-240), against an independent
// computation: every term rounded to a grid of 2 uV and the exact distribution of the rounded sum,
// off by at most half a step per term. The two agree within 2 % and within their bounds.
TEST(StatisticalEye, MatchesAnIndependentFineGridAtTheTargetBer) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> sign(-1.0, 1.0);
    std::vector<double> pulse{0.03, 0.12, 0.6};
    for (int k = 1; k <= 237; ++k) pulse.push_back(0.04 * std::exp(-k / 20.0) * sign(random));
    const double h = 2e-6;
    std::vector<long> steps;
    long reach = 0;
    for (std::size_t k = 0; k < pulse.size(); ++k)
        if (k != 2) reach += steps.emplace_back(std::lround(0.5 * std::fabs(pulse[k]) / h));
    std::vector<double> pdf(std::size_t(2 * reach + 1), 0.0), next(pdf.size());
    pdf[std::size_t(reach)] = 1.0;
    long spread = 0;
    for (const long s : steps) {
        spread += s;
        std::fill(next.begin(), next.end(), 0.0);
        for (long i = reach - spread + s; i <= reach + spread - s; ++i) {
            next[std::size_t(i - s)] += 0.5 * pdf[std::size_t(i)];
            next[std::size_t(i + s)] += 0.5 * pdf[std::size_t(i)];
        }
        pdf.swap(next);
    }
    const double rounding = 0.5 * h * double(steps.size());
    for (const double ber : {1e-6, 1e-12}) {
        SCOPED_TRACE(ber);
        double cumulative = 0.0;
        long i = 0;
        while ((cumulative += pdf[std::size_t(i)]) <= ber) ++i;
        const double oracle = 2.0 * (0.3 + double(i - reach) * h);
        const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, ber, 1);
        EXPECT_GT(oracle, eye.peakDistortion + 0.02);
        EXPECT_NEAR(oracle, eye.height, 0.02 * oracle);
        EXPECT_NEAR(oracle, eye.height, eye.bound + 2.0 * rounding);
    }
}

// Twenty cursors of 0.02 and a tail of 3 000 equal ones far under the grid's step, against the
// exact distribution of the two binomials. The tail is left out of the grid and its size stated
// instead of a step per term: the bound is a third of the old one and still holds (the tail
// moves the 1e-12 quantile by about a hundred steps, beyond the big terms' rounding alone).
TEST(StatisticalEye, ATailUnderTheGridStepIsBoundedByItsOwnSize) {
    const int big = 20, tail = 3000;
    const double bins = 1 << 16;
    // Each tail term's half is 0.3 of the step, the step being the worst pattern / (bins / 2).
    const double half = 0.3 * 0.2 / (0.5 * bins) / (1.0 - 0.3 * tail / (0.5 * bins));
    std::vector<double> pulse{1.0};
    for (int k = 0; k < big; ++k) pulse.push_back(0.02);
    for (int k = 0; k < tail; ++k) pulse.push_back(2.0 * half);
    std::vector<std::pair<double, double>> values;  // the received one and its probability
    auto logChoose = [](int n, int k) {
        return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0);
    };
    for (int b = 0; b <= big; ++b)
        for (int k = 0; k <= tail; ++k)
            values.emplace_back(
                0.5 + 0.01 * (2 * b - big) + half * (2 * k - tail),
                std::exp(logChoose(big, b) + logChoose(tail, k) - (big + tail) * std::log(2.0)));
    std::sort(values.begin(), values.end());
    const double target = 1e-12;
    double cumulative = 0.0, exact = 0.0;
    for (const auto& [v, p] : values)
        if ((cumulative += p) > target) {
            exact = 2.0 * v;
            break;
        }
    const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, target, 1, int(bins));
    const double step = (0.2 + tail * half) / (0.5 * bins);
    EXPECT_NEAR(exact, eye.height, eye.bound);
    EXPECT_GT(std::fabs(exact - eye.height), 2.0 * big * step);
    EXPECT_LT(eye.bound, 0.35 * 2.0 * (big + tail) * step);
}

// Gaussian noise on a pulse with one post-cursor: a one arrives at 0.4 or 0.6, each half the time,
// plus noise; P(one < x) = (erfc((0.4 - x) / (sigma sqrt 2)) + erfc((0.6 - x) / ...)) / 4 gives
// the BER at x = 0 and, solved by bisection, the edge at each target BER.
// Down to a BER of 1e-30, where the noise's tail beyond 11 sigma decides the eye.
TEST(StatisticalEye, GaussianNoiseGivesItsClosedForm) {
    const std::vector<double> pulse{0.0, 1.0, 0.2};
    for (const double sigma : {0.1, 0.037}) {
        EyeImpairments noise;
        noise.noiseSigma = sigma;
        auto below = [sigma](double x) {
            return 0.25 * (std::erfc((0.4 - x) / (sigma * std::sqrt(2.0))) +
                           std::erfc((0.6 - x) / (sigma * std::sqrt(2.0))));
        };
        for (const double ber : {1e-3, 1e-6, 1e-12, 1e-20, 1e-30}) {
            if (sigma > 0.05 && ber < 1e-12) continue;  // closed past the picture's range
            SCOPED_TRACE(std::to_string(sigma) + " at " + std::to_string(std::log10(ber)));
            double lo = -1.0, hi = 0.5;
            for (int i = 0; i < 200; ++i)
                (below(0.5 * (lo + hi)) > ber ? hi : lo) = 0.5 * (lo + hi);
            const StatisticalEye eye = ComputeStatisticalEye(pulse, {}, 1, ber, 1, 1 << 16, noise);
            // Right to the noise grid (sigma / 32): in the far tail a grid step moves the BER
            // by a factor, so the BER lies between those a step either side of the threshold.
            const double step = sigma / 32;
            EXPECT_GE(eye.ber[0], below(-step));
            EXPECT_LE(eye.ber[0], below(step));
            EXPECT_NEAR(2.0 * lo, eye.height, 2.0 * step + 1e-3);
        }
    }
}

// Dual-Dirac jitter of two phases: each phase's BER is the mean of the BERs of the two phases
// the sampling instant jumps to, computed without jitter.
TEST(StatisticalEye, DualDiracJitterMixesTheNeighbouringPhases) {
    std::vector<double> pulse(64, 0.0);
    for (int n = 0; n < 32; ++n) pulse[std::size_t(n)] = 0.5 - 0.5 * std::cos(2 * M_PI * n / 32.0);
    for (int n = 32; n < 48; ++n) pulse[std::size_t(n)] = 0.3 * (48 - n) / 16.0;
    const StatisticalEye clean = ComputeStatisticalEye(pulse, {}, 16, 1e-12, 16);
    EyeImpairments dj;
    dj.jitter = {{-2, 0.5}, {2, 0.5}};
    const StatisticalEye jittered = ComputeStatisticalEye(pulse, {}, 16, 1e-12, 16, 1 << 16, dj);
    for (std::size_t p = 2; p + 2 < 16; ++p)
        EXPECT_NEAR(0.5 * (clean.ber[p - 2] + clean.ber[p + 2]), jittered.ber[p],
                    1e-9 + 1e-6 * jittered.ber[p])
            << p;
}

// Dual-Dirac jitter between phases (0.1 UI is 6.4 of 64 phases): the pulse is read at the exact
// instants. A triangle of half-width 0.5 UI has no interference and a main cursor of
// 1 - |x| / 32 samples from its peak, so with noise sigma each phase's BER is the mean of
// Q((1 - |x -+ 3.2| / 32) / (2 sigma)) over the two instants. Splitting each Dirac between the
// two nearest phases, as the grid would, is off by about a factor of 2 here.
TEST(StatisticalEye, DualDiracJitterIsReadAtItsExactInstants) {
    std::vector<double> pulse(129, 0.0);
    for (int n = 32; n <= 96; ++n) pulse[std::size_t(n)] = 1.0 - std::abs(n - 64) / 32.0;
    const double sigma = 0.05;
    EyeImpairments impairments;
    impairments.noiseSigma = sigma;
    Impairments dj;
    dj.djPp = 0.1;
    impairments.jitter = EyeJitter(dj, 64);
    const StatisticalEye eye =
        ComputeStatisticalEye(pulse, {}, 64, 1e-12, 64, 1 << 16, impairments);
    auto q = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };
    for (int k = 16; k <= 48; k += 4) {
        const double x = eye.PhaseUi(k) * 64.0;  // samples from the peak
        double exact = 0.0;
        for (const double d : {-3.2, 3.2})
            exact += 0.5 * q(0.5 * (1.0 - std::fabs(x + d) / 32.0) / sigma);
        // The noise grid (sigma / 32) moves a tail's BER by up to a factor exp(z / 32).
        const double z = 0.5 * (1.0 - (std::fabs(x) + 3.2) / 32.0) / sigma;
        const double factor = std::exp(z / 32.0) * 1.02;
        EXPECT_LE(eye.ber[std::size_t(k)], exact * factor) << k;
        EXPECT_GE(eye.ber[std::size_t(k)], exact / factor) << k;
    }
}

// Random, sinusoidal and dual-Dirac jitter with noise on the triangle above, against an
// independent integration over the sampling instant: the sine's phase at 1 000 points, the random
// jitter's Gaussian at 561 points out to 14 sigma, both Diracs. Each phase's BER agrees within
// the factor the noise grid allows, down to 1e-30, and the width at the target BER within one
// phase. Mixing the two grid phases around each instant instead of reading the pulse at the
// instant itself is off by a factor of 10 to 14 in the bathtub's walls; random jitter cut at 8
// sigma leaves the second case's tail out.
TEST(StatisticalEye, JitterOfEveryKindMatchesAnIntegrationOverTheInstant) {
    std::vector<double> pulse(129, 0.0);
    for (int n = 32; n <= 96; ++n) pulse[std::size_t(n)] = 1.0 - std::abs(n - 64) / 32.0;
    auto q = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };
    struct Case {
        double noise, rj, sj, dj, target;
    };
    for (const Case& c :
         {Case{0.01, 0.005, 0.12, 0.1, 1e-12}, Case{0.002, 0.02, 0.0, 0.0, 1e-30}}) {
        SCOPED_TRACE(c.rj);
        Impairments jitter;
        jitter.rjRms = c.rj;
        jitter.sjPp = c.sj;
        jitter.djPp = c.dj;
        EyeImpairments impairments;
        impairments.noiseSigma = c.noise;
        impairments.jitter = EyeJitter(jitter, 64);
        const StatisticalEye eye =
            ComputeStatisticalEye(pulse, {}, 64, c.target, 64, 1 << 16, impairments);
        // In samples from the peak, which here are 64ths of a unit interval.
        auto exactBer = [&](double x) {
            const int sines = c.sj > 0.0 ? 1000 : 1, randoms = 280;
            const double rj = c.rj * 64.0, step = 14.0 * rj / randoms;
            double gauss = 0.0, sum = 0.0;
            for (int r = -randoms; r <= randoms; ++r)
                gauss += std::exp(-0.5 * std::pow(r * step / rj, 2));
            for (const double d : {-0.5 * c.dj * 64.0, 0.5 * c.dj * 64.0})
                for (int n = 0; n < sines; ++n) {
                    const double sine = 0.5 * c.sj * 64.0 * std::sin(2 * M_PI * (n + 0.5) / sines);
                    for (int r = -randoms; r <= randoms; ++r) {
                        const double main =
                            std::max(0.0, 1.0 - std::fabs(x + d + sine + r * step) / 32.0);
                        sum += std::exp(-0.5 * std::pow(r * step / rj, 2)) / gauss *
                               q(0.5 * main / c.noise);
                    }
                }
            return sum / (2.0 * sines);
        };
        int open = 0;
        for (int k = 0; k < 64; ++k) {
            const double x = eye.PhaseUi(k) * 64.0;
            const double exact = exactBer(x);
            open += exact < c.target;
            if (exact < 1e-30) continue;
            // The noise grid (sigma / 32) moves a tail's BER by up to a factor exp(z / 32), z
            // under sqrt(2 ln(1 / BER)).
            const double factor = std::exp(std::sqrt(2.0 * std::log(1.0 / exact)) / 32.0) * 1.1;
            EXPECT_LE(eye.ber[std::size_t(k)], exact * factor) << k;
            EXPECT_GE(eye.ber[std::size_t(k)], exact / factor) << k;
        }
        EXPECT_GT(open, 8);
        EXPECT_NEAR(double(open) / 64.0, eye.width, 1.0 / 64.0 + 1e-12);
    }
}

}  // namespace
}  // namespace amirun
