#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "modelbuilder/ConstUnTimed.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/Fork.h"
#include "modelbuilder/Gain.h"
#include "modelbuilder/Mux.h"
#include "modelbuilder/TypeConverter.h"
#include "tests/support/Drive.h"
#include "tests/support/StderrCapture.h"

namespace CorvanaModelBuilder {
namespace {

TEST(DFModel, DefaultPhasesSucceedSilently) {
    StderrCapture capture;
    DFModel block;
    EXPECT_TRUE(block.Setup());
    EXPECT_TRUE(block.Initialize());
    EXPECT_TRUE(block.Run());
    EXPECT_TRUE(block.Finalize());
    EXPECT_TRUE(block.CheckParameters());
    EXPECT_EQ("", capture.Text());
}

TEST(DFModel, ReportsWriteOneLineEach) {
    StderrCapture capture;
    DFModel block;
    block.ReportError("first");
    block.ReportError("");
    block.ReportWarning("third");
    EXPECT_EQ("first\n\nthird\n", capture.Text());
}

std::vector<double> Emit(ConstUnTimed<double>& source, int firings) {
    std::vector<double> out;
    for (int k = 0; k < firings; ++k) {
        EXPECT_TRUE(source.Run());
        out.push_back(source.Output.Current());
    }
    return out;
}

TEST(ConstUnTimed, DelayRestartsWithEveryInitialize) {
    std::vector<double> store(1, -1.0);
    ConstUnTimed<double> source;
    Attach(source.Output, store);
    source.Value = 3.0;
    source.InitialDelay = 2;
    ASSERT_TRUE(source.Initialize());
    EXPECT_EQ((std::vector<double>{0, 0, 3, 3}), Emit(source, 4));
    ASSERT_TRUE(source.Initialize());
    EXPECT_EQ((std::vector<double>{0, 0, 3}), Emit(source, 3));

    source.InitialDelay = 0;
    ASSERT_TRUE(source.Initialize());
    EXPECT_EQ((std::vector<double>{3}), Emit(source, 1));
}

TEST(ConstUnTimed, NegativeDelayFailsInitializeWithItsMessage) {
    ConstUnTimed<double> source;
    source.InitialDelay = -1;
    source.FiringCount = 5;
    StderrCapture capture;
    EXPECT_FALSE(source.Initialize());
    EXPECT_EQ(0u, source.FiringCount);
    EXPECT_EQ("InitialDelay must be >= 0\n", capture.Text());
}

TEST(Fork, CopiesTheInputToEveryOutput) {
    Fork<CircularBuffer<int>> fork;
    std::vector<int> in{7};
    std::vector<std::vector<int>> outs(4, std::vector<int>(1, 0));
    fork.Outputs.Resize(4);
    Attach(fork.Input, in);
    for (std::uint64_t i = 0; i < 4; ++i) Attach(*fork.Outputs.At(i), outs[i]);
    EXPECT_TRUE(fork.Run());
    for (const auto& out : outs) EXPECT_EQ(7, out[0]);
}

TEST(Gain, MultipliesByItsFactor) {
    Gain<double> gain;
    gain.GainFactor = 10.0;
    std::vector<double> in{0.25};
    std::vector<double> out{0.0};
    Attach(gain.Input, in);
    Attach(gain.Output, out);
    EXPECT_TRUE(gain.Run());
    EXPECT_EQ(2.5, out[0]);
}

struct MuxFixture {
    explicit MuxFixture(std::uint64_t inputs) : stores(inputs, std::vector<double>(1)) {
        mux.Inputs.Resize(inputs);
        for (std::uint64_t i = 0; i < inputs; ++i) {
            stores[i][0] = 100.0 + static_cast<double>(i);
            Attach(*mux.Inputs.At(i), stores[i]);
        }
        Attach(mux.Output, out);
    }
    Mux<CircularBuffer<double>> mux;
    std::vector<std::vector<double>> stores;
    std::vector<double> out{-1.0};
};

TEST(Mux, CopiesTheSelectedInput) {
    MuxFixture f(16);
    ASSERT_TRUE(f.mux.Setup());
    f.mux.Control = 15;
    EXPECT_TRUE(f.mux.Run());
    EXPECT_EQ(115.0, f.out[0]);
}

TEST(Mux, ControlOutOfRangeFailsWithTheComposedMessage) {
    struct Case {
        std::uint64_t inputs;
        std::int32_t control;
        const char* line;
    };
    const Case cases[] = {
        {16, -1,
         "Control input signal value is equal to -1.  There are 16 inputs connected.  The valid "
         "control input range is [0,15]."},
        {16, 16,
         "Control input signal value is equal to 16.  There are 16 inputs connected.  The valid "
         "control input range is [0,15]."},
        {1, 1,
         "Control input signal value is equal to 1.  There is 1 input connected.  The valid "
         "control input range is [0,0]."},
        {2, 1234567,
         "Control input signal value is equal to 1234567.  There are 2 inputs connected.  The "
         "valid control input range is [0,1]."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        MuxFixture f(c.inputs);
        ASSERT_TRUE(f.mux.Setup());
        f.mux.Control = c.control;
        StderrCapture capture;
        EXPECT_FALSE(f.mux.Run());
        EXPECT_EQ(std::string(c.line) + "\n", capture.Text());
        EXPECT_EQ(-1.0, f.out[0]);
    }
}

TEST(Mux, InvalidBlockSizeFailsSetupAndLeavesPortsAlone) {
    MuxFixture f(3);
    f.mux.Output.MinCapacity = 5;
    f.mux.BlockSize = 0;
    StderrCapture capture;
    EXPECT_FALSE(f.mux.Setup());
    EXPECT_EQ("BlockSize must be >= 1\n", capture.Text());
    EXPECT_EQ(1u, f.mux.Output.Rate);
    EXPECT_EQ(5u, f.mux.Output.MinCapacity);
    EXPECT_EQ(1u, f.mux.Inputs.At(2)->MinCapacity);

    f.mux.BlockSize = 3;
    EXPECT_TRUE(f.mux.Setup());
    EXPECT_EQ(3u, f.mux.Output.Rate);
    EXPECT_EQ(5u, f.mux.Output.MinCapacity);  // only ever raised
    EXPECT_EQ(3u, f.mux.Inputs.At(2)->MinCapacity);
}

using Rounder =
    ScalarToScalar<CircularBuffer<double>, CircularBuffer<int>, TypeConverterRound, DFModel>;

TEST(TypeConverterRound, RoundsHalfAwayFromZeroAndClamps) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double in;
        int out;
    } cases[] = {
        {0.5, 1},
        {-0.5, -1},
        {2.5, 3},
        {-2.5, -3},
        {2.4999, 2},
        {1e10, 2147483647},
        {-1e10, -2147483647 - 1},
        {2147483647.4, 2147483647},
        {2147483647.5, 2147483647},
        {-2147483648.4, -2147483647 - 1},
        {-2147483648.6, -2147483647 - 1},
        {inf, 2147483647},
        {-inf, -2147483647 - 1},
        {nan, -2147483647 - 1},
    };
    Rounder converter;
    std::vector<double> in(1);
    std::vector<int> out(1);
    Attach(converter.Input, in);
    Attach(converter.Output, out);
    for (const auto& c : cases) {
        in[0] = c.in;
        EXPECT_TRUE(converter.Run());
        EXPECT_EQ(c.out, out[0]) << "input " << c.in;
    }
}

}  // namespace
}  // namespace CorvanaModelBuilder
