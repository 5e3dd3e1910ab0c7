// The numbers around a link: crosstalk, bathtub, ranking, responses and jitter by closed forms.
#include "tools/amirun/link/LinkMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/link/Impairments.h"
#include "tools/amirun/link/Search.h"

namespace amirun {
namespace {

// Hand-worked: a pulse peaking at sample 5 with 4 samples per UI; sampled 0.25 UI after the peak
// the victim's grid is 2, 6, 10, ..., and between samples 1 and 2 (0.125 UI before the peak) an
// aggressor counts (0.1 + 0.2 + 0.3) x swing / 2 at samples 1, 5, 9, and the mean of its
// neighbours at 1.5 and 5.5 when the victim samples 3.5 samples before its peak.
TEST(LinkMath, CrosstalkBathtubAndRankingByHand) {
    const std::vector<double> victim{0, 0, 0, 0.2, 0.5, 1.0, 0.4, 0.1, 0, 0};
    const std::vector<double> aggressor{9, 0.1, 9, 9, 9, -0.2, 9, 9, 9, 0.3};
    auto worst = WorstCrosstalk(victim, {aggressor}, 4, 0.0, 0.8);
    ASSERT_EQ(1u, worst.size());
    EXPECT_DOUBLE_EQ(0.4 * 0.6, worst[0]);
    worst = WorstCrosstalk(victim, {aggressor}, 4, -0.875, 0.8);  // 9.5 is past the pulse
    EXPECT_DOUBLE_EQ(0.4 * (4.55 + 4.4), worst[0]);

    EXPECT_DOUBLE_EQ(-0.5, PhaseOfOffset(0, 4));
    EXPECT_DOUBLE_EQ(0.0, PhaseOfOffset(2, 4));
    EXPECT_DOUBLE_EQ(-3.0 / 7.0, PhaseOfOffset(0, 7));  // peak - 3 of 7 samples
    StatisticalEye eye;
    eye.phases = 4;
    eye.ber = {1e-3, 1e-9, 0.0, 1e-6};
    const Bathtub tub = BathtubOf(eye, -30.0);
    EXPECT_EQ((std::vector<double>{-0.5, -0.25, 0.0, 0.25}), tub.phaseUi);
    EXPECT_EQ((std::vector<double>{-3.0, -9.0, -30.0, -6.0}), tub.log10Ber);

    EXPECT_EQ(2u, BestIndex({0.1, 0.3, 0.5, 0.5, -1.0}));
    EXPECT_EQ(0u, BestIndex({-0.2, -0.3}));
}

// A two-tap impulse, 1/dt twice: H(f) = 1 + exp(-j 2 pi f dt), |H| = 2 |cos(pi f dt)|.
TEST(Responses, ClosedFormsOfATwoTapImpulse) {
    const double dt = 1e-12;
    const std::vector<double> h{1.0 / dt, 1.0 / dt};
    for (const double f : {0.0, 1e11, 2.5e11}) {
        const std::complex<double> expected = 1.0 + std::polar(1.0, -2 * M_PI * f * dt);
        EXPECT_LT(std::abs(ResponseAt(h, dt, f) - expected), 1e-12) << f;
    }
    std::vector<double> frequencies, decibels;
    MagnitudeResponse(h, dt, 4e11, frequencies, decibels);
    ASSERT_GT(frequencies.size(), 100u);
    for (std::size_t k = 0; k < frequencies.size(); k += 37)
        EXPECT_NEAR(
            20 * std::log10(std::max(2 * std::fabs(std::cos(M_PI * frequencies[k] * dt)), 1e-15)),
            decibels[k], 1e-9)
            << frequencies[k];
    // A transmitter's response to a step of 1 mV: 1 mV, then 2 mV, held.
    EXPECT_EQ((std::vector<double>{1.0 / dt, 1.0 / dt, 0.0}),
              ImpulseFromStep({1e-3, 2e-3, 2e-3}, 1e-3, dt));
}

// The statistical eye's picture: two unit intervals from the best phase, rows gathered.
TEST(Responses, StatisticalDensityStartsAtTheBestPhase) {
    StatisticalEye eye;
    eye.phases = 2;
    eye.bestPhase = 1;
    eye.low = -1.0;
    eye.high = 1.0;
    eye.density = {{0.1, 0.2, 0.3, 0.4}, {0.5, 0.0, 0.0, 0.5}};
    const EyeDensity picture = StatisticalDensity(eye, 2, 10.0, 0.5);
    EXPECT_EQ(-0.5, picture.low);
    EXPECT_EQ(0.5, picture.high);
    const std::vector<std::vector<double>> expected{{5.0, 5.0}, {3.0, 7.0}, {5.0, 5.0}, {3.0, 7.0}};
    ASSERT_EQ(expected.size(), picture.counts.size());
    for (std::size_t j = 0; j < expected.size(); ++j)
        for (std::size_t i = 0; i < 2; ++i)
            EXPECT_NEAR(expected[j][i], picture.counts[j][i], 1e-12);
}

// The jitter's distribution against its closed forms: dual-Dirac plus random jitter has the
// Q-scale tail P(x > t) = (Q((t - d/2) / s) + Q((t + d/2) / s)) / 2; sinusoidal jitter of
// amplitude a has the variance a^2 / 2.
TEST(Jitter, WeightsFollowTheClosedForms) {
    constexpr int kPhases = 1024;
    Impairments dual;
    dual.rjRms = 0.02;
    dual.djPp = 0.1;
    const auto weights = JitterWeights(dual, kPhases);
    auto q = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };
    for (const double t : {0.06, 0.1, 0.15}) {
        double tail = 0.0;
        for (const auto& [j, w] : weights)  // each weight stands for its phase's whole bin
            tail += w * std::clamp(double(j) + 0.5 - t * kPhases, 0.0, 1.0);
        const double expected = 0.5 * (q((t - 0.05) / 0.02) + q((t + 0.05) / 0.02));
        EXPECT_NEAR(expected, tail, 0.03 * expected + 1e-9) << t;
    }
    Impairments sine;
    sine.sjPp = 0.2;
    double mean = 0.0, variance = 0.0;
    for (const auto& [j, w] : JitterWeights(sine, kPhases)) {
        mean += w * j / double(kPhases);
        variance += w * (j / double(kPhases)) * (j / double(kPhases));
    }
    EXPECT_NEAR(0.0, mean, 1e-12);
    EXPECT_NEAR(0.1 * 0.1 / 2.0, variance, 0.02 * 0.005);
}

// optimize's order: higher eyes first, then wider ones, then the order of the settings; by the
// bit-by-bit eyes when those rank.
TEST(Ranking, HigherThenWiderThenTheSettingsOrder) {
    const double figures[][4] = {// statistical height, width; bit-by-bit height, width
                                 {0.1, 0.5, 0.3, 0.2},
                                 {0.2, 0.3, 0.1, 0.2},
                                 {0.2, 0.4, 0.2, 0.2},
                                 {0.1, 0.5, 0.3, 0.2},
                                 {0.0, 0.0, 0.3, 0.3}};
    std::vector<Candidate> runs(std::size(figures));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        runs[i].stat.eye.height = figures[i][0];
        runs[i].stat.eye.width = figures[i][1];
        runs[i].bits.height = figures[i][2];
        runs[i].bits.width = figures[i][3];
    }
    EXPECT_EQ((std::vector<std::size_t>{2, 1, 0, 3, 4}), Ranking(runs, false));
    EXPECT_EQ((std::vector<std::size_t>{4, 0, 3, 2, 1}), Ranking(runs, true));
}

}  // namespace
}  // namespace amirun

namespace amirun {
namespace {

AmiModelDescription Described(const std::string& root, const std::string& reserved) {
    return ParseAmiFile("(" + root +
                        " (Reserved_Parameters (AMI_Version (Usage Info) (Type String) "
                        "(Value \"7.0\")) " +
                        reserved + ") (Model_Specific (x (Usage In) (Type Integer) (Value 1))))");
}

// What each reserved parameter adds, in the run's own terms, at 10 Gb/s (a UI of 100 ps).
TEST(ModelImpairments, EachReservedParameterAddsInTheRunsTerms) {
    Impairments line;
    line.rjRms = 0.03;
    line.djPp = 0.05;
    std::vector<ImpairmentTerm> terms;
    const Impairments total = LinkImpairmentsOf(
        Described("T",
                  "(Tx_Rj (Usage Info) (Type Float) (Value 4e-12)) "
                  "(Tx_DCD (Usage Info) (Type UI) (Value 0.01)) "
                  "(Tx_Sj (Usage Info) (Type Float) (Value 5e-12)) "
                  "(Tx_Sj_Frequency (Usage Info) (Type Float) (Value 1e6))"),
        Described("R",
                  "(Rx_Dj (Usage Info) (Type UI) (Value 0.02)) "
                  "(Rx_Noise (Usage Info) (Type Float) (Value 0.003)) "
                  "(Rx_Receiver_Sensitivity (Usage Info) (Type Float) (Value 0.004)) "
                  "(Rx_Clock_PDF (Usage Info) (Type String) (Value \"table\"))"),
        1e10, line, &terms);
    EXPECT_NEAR(0.05, total.rjRms, 1e-12);               // 0.03 and 0.04 UI in quadrature
    EXPECT_NEAR(0.05 + 0.02 + 0.04, total.djPp, 1e-12);  // half-widths count twice
    EXPECT_NEAR(0.1, total.sjPp, 1e-12);
    EXPECT_EQ(1e6, total.sjFreq);
    EXPECT_NEAR(0.003, total.noiseRms, 1e-12);
    EXPECT_EQ(0.004, total.sensitivity);
    ASSERT_EQ(10u, terms.size());  // the two options, then every parameter in the files' order
    EXPECT_EQ("--rj-rms", terms[0].name);
    EXPECT_EQ("T", terms[2].source);
    EXPECT_EQ("s", terms[2].unit);
    EXPECT_TRUE(terms.back().applied.empty());  // the clock PDF is read, not applied
    EXPECT_FALSE(terms.back().note.empty());
}

TEST(ModelImpairments, RefusesWhatNoRunCanTake) {
    const Impairments none;
    const AmiModelDescription plain = Described("T", "");
    const char* refused[] = {
        "(Rx_Rj (Usage Info) (Type UI) (Value -0.01))",
        "(Rx_Rj (Usage Info) (Type UI) (Value abc))",
        "(Rx_Dj (Usage Info) (Type Integer) (Value 1))",
        "(Rx_Dj (Usage Info) (Type UI) (Value 0.3))",  // 0.6 UI peak to peak
        "(Rx_Noise (Usage Info) (Type Float) (Value 1e400))",
    };
    for (const char* reserved : refused) {
        SCOPED_TRACE(reserved);
        EXPECT_THROW(LinkImpairmentsOf(plain, Described("R", reserved), 1e10, none), AmiFileError);
    }
}

}  // namespace
}  // namespace amirun
