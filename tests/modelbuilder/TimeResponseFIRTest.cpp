#include "modelbuilder/TimeResponseFIR.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/Drive.h"
#include "tests/support/StderrCapture.h"

namespace CorvanaModelBuilder {
namespace {

// Owns the response arrays, as a model does, and hands them to the block.
struct Response {
    Response(std::vector<double> t, std::vector<double> v, std::int32_t type, double rate)
        : times(std::move(t)), values(std::move(v)) {
        fir.ResponseTimeStamps = times.data();
        fir.NumResponseTimeStamps = static_cast<std::int32_t>(times.size());
        fir.ResponseCoefficients = values.data();
        fir.NumResponseCoefficients = static_cast<std::int32_t>(values.size());
        fir.ResponseType = type;
        fir.SampleRate = rate;
    }
    std::vector<double> Taps() const { return {fir.Taps, fir.Taps + fir.NumTaps}; }

    std::vector<double> times;
    std::vector<double> values;
    TimeResponseFIR fir;
};

void ExpectNear(const std::vector<double>& expected, const std::vector<double>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(expected[k], actual[k], 1e-12) << "tap " << k;
}

TEST(TimeResponseFIRTaps, StepOfACubeDifferencesTheResampledCube) {
    Response r({0, 1, 2, 3}, {0, 1, 8, 27}, TimeResponseFIR::StepResponse, 2.0);
    ASSERT_TRUE(r.fir.Setup());
    ExpectNear({0, 0.125, 0.875, 2.375, 4.625, 7.625, 11.375}, r.Taps());
}

TEST(TimeResponseFIRTaps, ImpulseOnTheGridIsTakenDirectlyAndScaled) {
    Response r({0, 0.25, 0.5, 0.75}, {0, 4, 2, 1}, TimeResponseFIR::ImpulseResponse, 4.0);
    ASSERT_TRUE(r.fir.Setup());
    EXPECT_EQ((std::vector<double>{0, 1, 0.5, 0.25}), r.Taps());
}

TEST(TimeResponseFIRTaps, StepOnTheGridDifferences) {
    Response r({0, 0.25, 0.5, 0.75}, {0, 0.5, 1, 1}, TimeResponseFIR::StepResponse, 4.0);
    ASSERT_TRUE(r.fir.Setup());
    ExpectNear({0, 0.5, 0.5, 0}, r.Taps());
}

TEST(TimeResponseFIRTaps, CountFollowsTheSampleRate) {
    const struct {
        double rate;
        int taps;
    } cases[] = {{3.84e11, 577}, {1.92e11, 289}, {1e12, 1501}};
    for (const auto& c : cases) {
        Response r({0, 2e-11, 4.21e-11, 5e-10, 1.5e-09}, {0, 0.1, 0.2, 0.06, 0.05},
                   TimeResponseFIR::StepResponse, c.rate);
        ASSERT_TRUE(r.fir.Setup());
        EXPECT_EQ(c.taps, r.fir.NumTaps) << c.rate;
        EXPECT_EQ(c.taps, r.fir.TapsPerPhase);
    }
}

TEST(TimeResponseFIRTaps, RebasesTheOwnersStampsInPlace) {
    const std::vector<double> original{5e-9, 5.25e-9, 5.5e-9, 5.75e-9, 6e-9};
    Response r(original, {0, 0.5, 1, 1, 1}, TimeResponseFIR::StepResponse, 4e9);
    ASSERT_TRUE(r.fir.Setup());
    EXPECT_EQ(0.0, r.times[0]);
    for (size_t i = 1; i < r.times.size(); ++i) EXPECT_EQ(original[i] - 5e-9, r.times[i]);
    EXPECT_EQ(static_cast<int>(r.times[4] * 4e9) + 1, r.fir.NumTaps);
    const std::vector<double> first = r.Taps();
    ASSERT_TRUE(r.fir.Setup());  // rebasing rebased stamps changes nothing
    EXPECT_EQ(first, r.Taps());
}

TEST(TimeResponseFIRTaps, AUnitImpulseThroughTheFilterGivesTheTaps) {
    Response r({0, 1, 2, 3}, {0, 1, 8, 27}, TimeResponseFIR::StepResponse, 2.0);
    ASSERT_TRUE(r.fir.Setup() && r.fir.Initialize());
    std::vector<double> impulse(9, 0.0);
    impulse[0] = 1.0;
    std::vector<double> expected = r.Taps();
    expected.resize(9, 0.0);
    EXPECT_EQ(expected, Drive(r.fir, impulse));
}

std::string SetupMessages(Response& r) {
    StderrCapture capture;
    EXPECT_FALSE(r.fir.Setup());
    return capture.Text();
}

TEST(TimeResponseFIRSetup, ReportsOneMessagePerFailedCheck) {
    const std::string impulse =
        "At least 4 response coefficients are required for input impulse response\n";
    const std::string step =
        "At least 4 response coefficients are required for input step response\n";
    const std::string invalid =
        "Inavlid ResponseType is specified, it can only be Impulse Response, Step Response, "
        "Impulse Response File or Step Response File\n";
    const std::string counts =
        "Number of coefficients in response must be same as the number of values in time "
        "stamps\n";
    const std::vector<double> t4{0, 1, 2, 3};
    const std::vector<double> v4{0, 1, 2, 3};
    {
        Response r({0, 1, 2}, {0, 1, 2}, TimeResponseFIR::ImpulseResponse, 1.0);
        EXPECT_EQ(impulse, SetupMessages(r));
    }
    {
        Response r({0, 1, 2}, {0, 1, 2}, TimeResponseFIR::StepResponseFile, 1.0);
        EXPECT_EQ(step, SetupMessages(r));
    }
    for (std::int32_t type : {4, -1}) {
        Response r(t4, v4, type, 1.0);
        EXPECT_EQ(invalid, SetupMessages(r));
    }
    {
        Response r({0, 1, 2}, v4, TimeResponseFIR::StepResponse, 1.0);
        EXPECT_EQ(counts, SetupMessages(r));
    }
    {
        Response r(t4, v4, TimeResponseFIR::StepResponse, 0.0);
        EXPECT_EQ("SampleRate must be > 0.0\n", SetupMessages(r));
    }
}

TEST(TimeResponseFIRSetup, RepeatedStampNamesBothPositionsAndTimes) {
    Response r({1.5, 2.25, 2.25, 3}, {0, 1, 2, 3}, TimeResponseFIR::StepResponse, 1.0);
    EXPECT_EQ(
        "ResponseTimeStamps[3] = 2.25  <= ResponseTimeStamps[2] = 2.25. Time stamps must be in "
        "non-repeating ascending order.\n",
        SetupMessages(r));
    EXPECT_EQ(0.0, r.times[0]);  // stamps before the bad pair stay rebased
    EXPECT_EQ(0.75, r.times[1]);

    Response tiny({0, 3e-11, 2.5e-11, 4e-11}, {0, 1, 2, 3}, TimeResponseFIR::StepResponse, 1e12);
    EXPECT_EQ(
        "ResponseTimeStamps[3] = 2.5e-11  <= ResponseTimeStamps[2] = 3e-11. Time stamps must be "
        "in non-repeating ascending order.\n",
        SetupMessages(tiny));
}

TEST(TimeResponseFIRSetup, UnusableRateOrLengthFailsAndKeepsTheTaps) {
    Response r({0, 1, 2, 3}, {0, 1, 8, 27}, TimeResponseFIR::StepResponse, 2.0);
    ASSERT_TRUE(r.fir.Setup());
    const double* taps = r.fir.Taps;
    const struct {
        double rate;
        const char* line;
    } cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), "SampleRate must be a finite number\n"},
        {std::numeric_limits<double>::infinity(), "SampleRate must be a finite number\n"},
        {1e9, "The response is too long for SampleRate: more than 2147483647 taps\n"},
        {715827883.0, "The response is too long for SampleRate: more than 2147483647 taps\n"},
    };
    for (const auto& c : cases) {
        r.fir.SampleRate = c.rate;
        EXPECT_EQ(c.line, SetupMessages(r));
        EXPECT_EQ(taps, r.fir.Taps);
        EXPECT_EQ(7, r.fir.NumTaps);
    }
}

class ResponseFile : public ::testing::Test {
protected:
    void Write(const std::string& text) {
        std::ofstream out(path_, std::ios::binary);
        out << text;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    std::string Pairs(int count, bool finalNewline) {
        std::string text;
        for (int k = 0; k < count; ++k) {
            text += std::to_string(k) + "e-12 " + std::to_string(k % 3) + ".5";
            if (k + 1 < count || finalNewline) text += "\n";
        }
        return text;
    }
    std::string path_ = ::testing::TempDir() + "kt_response_" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
};

TEST_F(ResponseFile, ALastPairRunningIntoTheEndIsNotTaken) {
    TimeResponseFIR fir;
    std::vector<double> times;
    std::vector<double> values;
    Write(Pairs(20, true));
    ASSERT_TRUE(fir.ReadResponseFile(path_.c_str(), times, values));
    EXPECT_EQ(20u, times.size());
    EXPECT_EQ(19e-12, times.back());
    EXPECT_EQ(1.5, values.back());
    Write(Pairs(20, false));
    ASSERT_TRUE(fir.ReadResponseFile(path_.c_str(), times, values));
    EXPECT_EQ(19u, values.size());
}

TEST_F(ResponseFile, ImpulseFileFeedsTheTaps) {
    Write("0 0\n0.25 4\n0.5 2\n0.75 1\n\n");
    TimeResponseFIR fir;
    fir.ResponseType = TimeResponseFIR::ImpulseResponseFile;
    fir.ResponseFile = path_.c_str();
    fir.SampleRate = 4.0;
    ASSERT_TRUE(fir.Setup());
    EXPECT_EQ((std::vector<double>{0, 1, 0.5, 0.25}), std::vector<double>(fir.Taps, fir.Taps + 4));
}

TEST_F(ResponseFile, MissingOrEmptyFilesReportTheirReasons) {
    TimeResponseFIR fir;
    fir.ResponseType = TimeResponseFIR::ImpulseResponseFile;
    fir.ResponseFile = path_.c_str();
    {
        StderrCapture capture;
        EXPECT_FALSE(fir.Setup());
        EXPECT_EQ("Failed to open response file.\n", capture.Text());
    }
    Write("");
    {
        StderrCapture capture;
        EXPECT_FALSE(fir.Setup());
        EXPECT_EQ("At least 4 response coefficients are required for input impulse response\n",
                  capture.Text());
    }
    fir.ResponseFile = nullptr;
    StderrCapture capture;
    EXPECT_FALSE(fir.Setup());
    EXPECT_EQ("Failed to open response file.\n", capture.Text());
}

TEST_F(ResponseFile, StepResponseFileNeverOpensTheFile) {
    Response r({0, 1, 2, 3}, {0, 1, 8, 27}, TimeResponseFIR::StepResponseFile, 2.0);
    r.fir.ResponseFile = path_.c_str();  // does not exist
    StderrCapture capture;
    ASSERT_TRUE(r.fir.Setup());
    EXPECT_EQ("", capture.Text());
    EXPECT_EQ(7, r.fir.NumTaps);
}

}  // namespace
}  // namespace CorvanaModelBuilder
