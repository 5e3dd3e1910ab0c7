#include "models/rx/KT7MRL40562D9_Rx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "models/rx/RxStepResponses.h"
#include "tests/support/RunModel.h"
#include "tests/support/StderrCapture.h"

namespace {

struct Figures {
    int points;
    double peak, smallest, last;
};
// The device's figures for every EQ setting.
const Figures kFigures[16] = {
    {35, 0.1371627, -0.001039100000000001, 0.0504718},
    {34, 0.1456074, -0.0009201000000000001, 0.053831},
    {34, 0.1570527, 0.0, 0.0559755},
    {34, 0.1639087, 0.0, 0.0559196},
    {34, 0.172804, 0.0, 0.0602877},
    {34, 0.1821034, 0.0, 0.0601055},
    {34, 0.1904489, 0.0, 0.0595303},
    {34, 0.1986037, 0.0, 0.0592904},
    {33, 0.2089237, 0.0, 0.0594735},
    {33, 0.2160537, 0.0, 0.0594881},
    {33, 0.2227604, 0.0, 0.0594968},
    {33, 0.2290954, 0.0, 0.0595109},
    {33, 0.2386897, 0.0, 0.057489},
    {33, 0.244173, 0.0, 0.05749849999999999},
    {33, 0.2493831, 0.0, 0.0575092},
    {33, 0.2543456, 0.0, 0.0575164},
};

TEST(RxStepResponses, EverySettingHonoursTheDevicesFigures) {
    const RxStepResponses::StepTable& eq0 = RxStepResponses::kTables[0];
    double previousPeak = 0.0;
    for (int eq = 0; eq < 16; ++eq) {
        SCOPED_TRACE("EQ " + std::to_string(eq));
        const RxStepResponses::StepTable& t = RxStepResponses::kTables[eq];
        const Figures& f = kFigures[eq];
        ASSERT_EQ(f.points, t.count);
        for (int i = 0; i <= 16; ++i) EXPECT_EQ(eq0.times[i], t.times[i]) << i;
        EXPECT_EQ(0.0, t.times[0]);
        EXPECT_EQ(1.5e-09, t.times[t.count - 1]);
        for (int i = 1; i < t.count; ++i) EXPECT_LT(t.times[i - 1], t.times[i]) << i;
        const int peakIndex = eq <= 3 ? 15 : 16;
        EXPECT_EQ(f.peak, t.values[peakIndex]);
        double smallest = t.values[0];
        for (int i = 0; i < t.count; ++i) {
            if (i != peakIndex) {
                EXPECT_LT(t.values[i], f.peak) << i;
            }
            smallest = std::min(smallest, t.values[i]);
        }
        EXPECT_EQ(f.smallest, smallest);
        EXPECT_EQ(f.last, t.values[t.count - 1]);
        for (int i = 1; i <= 5 && eq >= 2; ++i) EXPECT_GE(t.values[i], 0.0) << i;
        EXPECT_LT(previousPeak, t.values[peakIndex]);  // peaks rise with EQ
        previousPeak = t.values[peakIndex];
    }
}

TEST(RxStepResponses, OuterSettingsAreTheMeasuredData) {
    const RxStepResponses::StepTable& eq0 = RxStepResponses::kTables[0];
    const RxStepResponses::StepTable& eq15 = RxStepResponses::kTables[15];
    EXPECT_EQ(9.000000000056527e-14, eq0.times[1]);
    EXPECT_EQ(-3.639999999999893e-05, eq0.values[1]);
    EXPECT_EQ(4.210000000000009e-11, eq0.times[16]);
    EXPECT_EQ(1.30395e-09, eq0.times[33]);
    EXPECT_EQ(0.0540044, eq0.values[33]);
    EXPECT_EQ(0.07099330000000001, eq0.values[9]);
    EXPECT_EQ(1.660000000000203e-05, eq15.values[1]);
    EXPECT_EQ(5.452000000000035e-11, eq15.times[17]);
    EXPECT_EQ(0.2017276, eq15.values[17]);
    EXPECT_EQ(1.13756e-09, eq15.times[31]);
    EXPECT_EQ(0.06225269999999999, eq15.values[30]);
}

TEST(KT7MRL40562D9_Rx, AUnitImpulseGivesTenTimesTheSelectedTaps) {
    for (int eq : {15, 0, 4, 9}) {
        SCOPED_TRACE(eq);
        KT7MRL40562D9_Rx model;
        model.EQ = eq;
        std::vector<double> impulse(600, 0.0);
        impulse[0] = 1.0;
        const std::vector<double> y = Cycle(model, impulse);
        ASSERT_TRUE(model.Setup());  // keeps the taps to compare against
        const auto& fir = model.StepFir[eq];
        ASSERT_EQ(577, fir.NumTaps);
        ASSERT_EQ(impulse.size(), y.size());
        for (int k = 0; k < 577; ++k) ASSERT_EQ(10.0 * fir.Taps[k], y[k]) << k;
        for (size_t k = 577; k < y.size(); ++k) ASSERT_EQ(0.0, y[k]) << k;
    }
}

// The outside oracle for the EQ mapping: a unit step settles at 10 times the last value of the
// device's own figures for that setting, through both paths.
TEST(KT7MRL40562D9_Rx, EachEqSettlesAtItsOwnSettingsFinalValue) {
    for (int eq = 0; eq < 16; ++eq) {
        SCOPED_TRACE("EQ " + std::to_string(eq));
        KT7MRL40562D9_Rx model;
        model.EQ = eq;
        const std::vector<double> step(700, 1.0);
        const std::vector<double> y = Cycle(model, step);
        ASSERT_EQ(step.size(), y.size());
        EXPECT_NEAR(10.0 * kFigures[eq].last, y.back(), 1e-12);

        std::vector<double> block = step;
        double in = 0.0;
        double out = 0.0;
        CorvanaModelBuilder::AttachSingleElement(model.Input, &in);
        CorvanaModelBuilder::AttachSingleElement(model.Output, &out);
        ASSERT_TRUE(model.Setup() && model.Initialize());
        ASSERT_TRUE(model.RunBlock(block.data(), static_cast<std::int32_t>(block.size())));
        EXPECT_NEAR(10.0 * kFigures[eq].last, block.back(), 1e-12);
        EXPECT_TRUE(model.Finalize());
    }
}

// Every connection of the graph gets its own store, counted by the pool, none by hand: 34 between
// blocks, three for the relays.
TEST(KT7MRL40562D9_Rx, InitializeWiresEveryConnectionAndFinalizeReleasesThem) {
    KT7MRL40562D9_Rx model;
    EXPECT_EQ(0u, model.ConnectionCount());
    ASSERT_TRUE(model.Setup() && model.Initialize());
    EXPECT_EQ(37u, model.ConnectionCount());
    ASSERT_TRUE(model.Initialize());  // rewiring replaces the stores
    EXPECT_EQ(37u, model.ConnectionCount());
    EXPECT_EQ(model.InputRelay.Data, model.InputGain.Input.Data);
    EXPECT_EQ(model.OutputRelay.Data, model.EqMux.Output.Data);
    EXPECT_EQ(model.ControlRelay.Data, model.EqRound.Output.Data);
    for (int m = 0; m < 16; ++m)
        EXPECT_EQ(model.StepFir[m].Output.Data, model.EqMux.Inputs.At(m)->Data);
    ASSERT_TRUE(model.Finalize());
    EXPECT_EQ(0u, model.ConnectionCount());
}

TEST(KT7MRL40562D9_Rx, RepeatedCyclesGiveIdenticalOutputs) {
    KT7MRL40562D9_Rx model;
    model.EQ = 7;
    std::vector<double> x(800);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i * 7919 % 13) / 13.0 - 0.5;
    const std::vector<double> first = Cycle(model, x);
    ASSERT_EQ(x.size(), first.size());
    EXPECT_EQ(first, Cycle(model, x));
    ASSERT_TRUE(model.Setup() && model.Setup() && model.Initialize() && model.Initialize());
    EXPECT_EQ(first, RunModel(model, x));  // repeated phases restart from zero state
    EXPECT_TRUE(model.Finalize());
}

TEST(KT7MRL40562D9_Rx, SelectorOutsideTheFiltersFailsEveryRun) {
    for (int eq : {16, -1}) {
        KT7MRL40562D9_Rx model;
        model.EQ = eq;
        StderrCapture capture;
        ASSERT_TRUE(model.Setup());
        ASSERT_TRUE(model.Initialize());
        EXPECT_TRUE(RunModel(model, {1.0, 2.0}).empty());
        EXPECT_EQ("Control input signal value is equal to " + std::to_string(eq) +
                      ".  There are 16 inputs connected.  The valid control input range is "
                      "[0,15].\n",
                  capture.Text());
        EXPECT_TRUE(model.Finalize());
    }
}

TEST(KT7MRL40562D9_Rx, BadSampleRateFailsSetupInEveryFilter) {
    KT7MRL40562D9_Rx model;
    model.rx_samplerate = 0.0;
    StderrCapture capture;
    EXPECT_FALSE(model.Setup());
    const auto lines = capture.Lines();
    ASSERT_EQ(16u, lines.size());
    for (const auto& line : lines) EXPECT_EQ("SampleRate must be > 0.0", line);
}

TEST(KT7MRL40562D9_Rx, RunBeforeInitializeFailsWithoutTouchingMissingStorage) {
    KT7MRL40562D9_Rx model;
    EXPECT_TRUE(RunModel(model, {1.0}).empty());
    EXPECT_FALSE(model.Initialize());  // never set up
    ASSERT_TRUE(model.Setup());
    EXPECT_TRUE(RunModel(model, {1.0}).empty());
}

}  // namespace
