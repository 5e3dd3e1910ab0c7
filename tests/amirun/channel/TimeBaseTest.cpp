// The time base, the convolution and the text forms' time units.
#include "tools/amirun/channel/TimeBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/Convolution.h"

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
    EXPECT_EQ(36, ChooseTimeBase(28e9, 1e-12, 0.0).samplesPerBit);          // 35.7: the nearest
    EXPECT_EQ(37, ChooseTimeBase(27e9, 1e-12, 0.0).samplesPerBit);          // 37.04: not rounded up
    EXPECT_EQ(25, ChooseTimeBase(40e9, 1.0 / 9.85e11, 0.0).samplesPerBit);  // 24.6: not cut down
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
    // A header that only starts with t names no time column: "through,crosstalk" are values.
    std::string values = "through,crosstalk\n";
    for (int n = 0; n < 40; ++n) values += (n % 2 ? "1e10,1e8\n" : "3e10,2e8\n");
    const Channel channel = ReadChannel(Write("values.csv", values), options);
    EXPECT_EQ(2u, channel.columns.size());
    EXPECT_EQ(0u, channel.report.source.find("values")) << channel.report.source;
}

}  // namespace
}  // namespace amirun
