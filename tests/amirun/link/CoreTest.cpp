// The numbers around a link: time base, convolution, crosstalk, bathtub, ranking, JSON, and the
// text forms' time units and parameter trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/Convolution.h"
#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/channel/TimeBase.h"
#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/io/Json.h"
#include "tools/amirun/link/LinkMath.h"

namespace amirun {
namespace {

// 28, 56 and 112 Gb/s are no whole number of the model's 1/3.84e11 s: they run at exactly their
// rate, a unit interval of a whole number (at least 16) of a new interval.
TEST(TimeBase, RunsEveryBitRateExactly) {
    const double model = 1.0 / 3.84e11;
    for (const double rate : {28e9, 56e9, 112e9, 200e9}) {
        SCOPED_TRACE(rate);
        const TimeBase base = ChooseTimeBase(rate, model, 0.0);
        EXPECT_TRUE(base.changed);
        EXPECT_GE(base.samplesPerBit, 16);
        EXPECT_NEAR(1.0 / rate, base.samplesPerBit * base.dt, 1e-12 / rate);
        EXPECT_NEAR(rate, base.bitRate, 1e-6 * rate);
    }
    EXPECT_EQ(36, ChooseTimeBase(28e9, 1e-12, 0.0).samplesPerBit);  // 35.7: the nearest
    const TimeBase same = ChooseTimeBase(32e9, model, 0.0);
    EXPECT_FALSE(same.changed);
    EXPECT_EQ(12, same.samplesPerBit);
    EXPECT_EQ(model, same.dt);
    try {
        ChooseTimeBase(32e9, model, 1e-12);
        ADD_FAILURE() << "a fixed interval that does not divide the unit interval was accepted";
    } catch (const TimeBaseError& error) {
        EXPECT_NE(std::string::npos,
                  std::string(error.what()).find("--sample-interval 1.008064516e-12 s (31"))
            << error.what();
    }
}

TEST(Convolve, TheFftPathEqualsTheDirectSum) {
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    for (const std::size_t taps : {1u, 63u, 64u, 577u, 5000u}) {
        std::vector<double> x(12345), h(taps);
        for (double& v : x) v = normal(random);
        for (double& v : h) v = normal(random);
        const auto direct = ConvolveDirect(x, h, 0.25);
        const auto fast = ConvolveFft(x, h, 0.25);
        double worst = 0.0, scale = 0.0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            worst = std::max(worst, std::fabs(direct[n] - fast[n]));
            scale = std::max(scale, std::fabs(direct[n]));
        }
        EXPECT_LT(worst, 1e-12 * scale) << taps;
    }
}

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

TEST(Json, IsValidWhateverTheText) {
    JsonObject json;
    json.Text("name", std::string("a\"b\\c\n\x01 caf\xc3\xa9 \xff\xfe \xed\xa0\x80 end"))
        .Number("nan", std::nan(""))
        .Number("big", 5.9e296)
        .Bool("yes", true);
    EXPECT_EQ(
        "{\"name\":\"a\\\"b\\\\c\\u000a\\u0001 caf\xc3\xa9 \\ufffd\\ufffd \\ufffd\\ufffd\\ufffd "
        "end\","
        "\"nan\":null,\"big\":5.9e+296,\"yes\":true}",
        json.Json());
}

std::string Number(double value) {
    std::ostringstream text;
    text << std::setprecision(17) << value;
    return text.str();
}

class TextForms : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const auto path = std::filesystem::path(::testing::TempDir()) / name;
        std::ofstream(path) << text;
        return path.string();
    }
};

// The time unit comes from the time column's name only.
TEST_F(TextForms, TimeUnitsComeFromTheTimeColumnsName) {
    ChannelOptions options;
    options.dt = 1e-12;
    options.samplesPerBit = 10;
    options.bitRate = 1e11;
    options.windowBits = 10;
    auto dc = [&](const std::string& header, double scale) {
        std::string text = header + "\n";
        for (int n = 0; n < 100; ++n)  // 2e11/s for 5 ps, then 0: an area of 1
            text += Number(n * 0.1e-12 / scale) + (n < 50 ? ",2e11\n" : ",0\n");
        return ReadChannel(Write("t.csv", text), options).report.dcGain;
    };
    EXPECT_NEAR(1.0, dc("time_fs,v", 1e-15), 1e-9);
    EXPECT_NEAR(1.0, dc("time,value_ns", 1.0), 1e-9);
    EXPECT_NEAR(1.0, dc("t [ps];v", 1e-12), 1e-9);
    EXPECT_THROW(dc("time_min,v", 60.0), ChannelError);
}

// A nested branch of an .ami file goes into the parameter string as a branch, and --set reaches
// its leaves by their dotted path.
TEST(AmiFile, CarriesParameterTreesIntoTheString) {
    const AmiModelDescription model = ParseAmiFile(
        "(M (Reserved_Parameters (AMI_Version (Usage Info) (Type String) (Value \"7.0\")))"
        " (Model_Specific (gain (Usage In) (Type Integer) (List 1 2) (Default 1))"
        "  (ctle (dc (Usage In) (Type Float) (Range 0 -6 0)) (poles (p1 (Usage In) (Type Float)"
        "   (Value 1e9)))) (mode (Usage In) (Type String) (Value \"a\"))))");
    const auto values = ResolveValues(model, {{"ctle.poles.p1", "2e9"}});
    EXPECT_EQ("(M (gain 1) (ctle (dc 0) (poles (p1 2e9))) (mode \"a\"))",
              BuildParameterString(model, values));
    EXPECT_THROW(ResolveValues(model, {{"p1", "1"}}), AmiFileError);
    EXPECT_THROW(ResolveValues(model, {{"ctle.dc", "-7"}}), AmiFileError);
    EXPECT_THROW(ResolveValues(model, {{"mode", "a\") (gain 2"}}), AmiFileError);
}

}  // namespace
}  // namespace amirun

namespace amirun {
namespace {

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

}  // namespace
}  // namespace amirun

#include "tools/amirun/link/Impairments.h"

namespace amirun {
namespace {

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

}  // namespace
}  // namespace amirun
