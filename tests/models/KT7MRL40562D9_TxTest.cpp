#include "models/tx/KT7MRL40562D9_Tx.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "models/tx/TxStepResponses.h"
#include "tests/support/RunModel.h"
#include "tests/support/StderrCapture.h"

namespace {

// Final step-response value of each setting, indexed by 4 * SW + FG.
const double kFinalValue[8] = {0.0994909, 0.1295869, 0.1648692, 0.209292,
                               0.1004772, 0.1314503, 0.168215,  0.214974};

void Configure(KT7MRL40562D9_Tx& model, int sw, int fg) {
    model.SW = sw;
    model.FG = fg;
}

TEST(TxStepResponses, TablesShareTheirStampsAndEndAtTheSettledValue) {
    for (int path = 0; path < 8; ++path) {
        SCOPED_TRACE(path);
        for (int i : {0, 1, 8, 16})
            EXPECT_EQ(TxStepResponses::kTimes[0][i], TxStepResponses::kTimes[path][i]);
        EXPECT_EQ(5.000000000000003e-10, TxStepResponses::kTimes[path][24]);
        for (int i = 1; i < 25; ++i)
            EXPECT_LT(TxStepResponses::kTimes[path][i - 1], TxStepResponses::kTimes[path][i]);
        EXPECT_EQ(0.0, TxStepResponses::kValues[path][0]);
        EXPECT_EQ(kFinalValue[path], TxStepResponses::kValues[path][24]);
    }
    EXPECT_EQ(6.356000000000014e-11, TxStepResponses::kTimes[7][17]);
    EXPECT_EQ(0.1048634351, TxStepResponses::kValues[3][16]);
    EXPECT_EQ(0.108259993, TxStepResponses::kValues[7][16]);
    EXPECT_EQ(-1.000000000001e-06, TxStepResponses::kValues[7][1]);
}

TEST(KT7MRL40562D9_Tx, SetupBuildsTheDefaultFiltersAndLimits) {
    KT7MRL40562D9_Tx model;
    ASSERT_TRUE(model.Setup());
    for (const auto& row : model.StepFir)
        for (const auto& fir : row) EXPECT_EQ(193, fir.NumTaps);
    EXPECT_EQ(-1.0, model.SoftLimit[1][2].Bottom);
    EXPECT_EQ(1.0, model.SoftLimit[1][2].Top);
    EXPECT_EQ(1, model.SoftLimit[1][2].Characteristic);
    EXPECT_EQ(0.45, model.HardLimit[0][3].Top);
    EXPECT_EQ(-0.9, model.SoftLimit[0][0].Bottom);
    EXPECT_EQ(0, model.HardLimit[0][3].Characteristic);
}

TEST(KT7MRL40562D9_Tx, LargeStepsSettleAtTheHardLimit) {
    for (int sw : {0, 1}) {
        for (int fg = 0; fg < 4; ++fg) {
            SCOPED_TRACE(std::to_string(sw) + " " + std::to_string(fg));
            const double level = sw == 0 ? 0.45 : 0.5;
            for (double step : {50.0, -50.0}) {
                KT7MRL40562D9_Tx model;
                Configure(model, sw, fg);
                const std::vector<double> y = Cycle(model, std::vector<double>(400, step));
                ASSERT_EQ(400u, y.size());
                for (double v : y) ASSERT_LE(std::fabs(v), level);
                EXPECT_EQ(step > 0 ? level : -level, y.back());
            }
        }
    }
}

TEST(KT7MRL40562D9_Tx, SmallSignalsFollowTheSelectedStepResponse) {
    for (int path = 0; path < 8; ++path) {
        SCOPED_TRACE(path);
        KT7MRL40562D9_Tx model;
        Configure(model, path / 4, path % 4);
        const double x = 1e-3;
        const std::vector<double> y = Cycle(model, std::vector<double>(400, x));
        ASSERT_EQ(400u, y.size());
        EXPECT_NEAR(10.0 * x * kFinalValue[path], y.back(), 1e-3 * 10.0 * x * kFinalValue[path]);
    }
    KT7MRL40562D9_Tx model;
    const std::vector<double> zeros = Cycle(model, std::vector<double>(300, 0.0));
    EXPECT_EQ(std::vector<double>(300, 0.0), zeros);
}

TEST(KT7MRL40562D9_Tx, SelectorsOutOfRangeReportInFiringOrder) {
    {
        KT7MRL40562D9_Tx model;
        Configure(model, 1, 4);
        StderrCapture capture;
        ASSERT_TRUE(model.Setup() && model.Initialize());
        EXPECT_TRUE(RunModel(model, {0.1}).empty());
        const std::string line =
            "Control input signal value is equal to 4.  There are 4 inputs connected.  The valid "
            "control input range is [0,3].";
        EXPECT_EQ((std::vector<std::string>{line, line}), capture.Lines());
    }
    KT7MRL40562D9_Tx model;
    Configure(model, -1, 2);
    StderrCapture capture;
    ASSERT_TRUE(model.Setup() && model.Initialize());
    EXPECT_TRUE(RunModel(model, {0.1}).empty());
    EXPECT_EQ(
        "Control input signal value is equal to -1.  There are 2 inputs connected.  The valid "
        "control input range is [0,1].\n",
        capture.Text());
}

TEST(KT7MRL40562D9_Tx, StateCarriesAcrossRunsAndRestartsWithEachCycle) {
    std::vector<double> x(700);
    for (size_t i = 0; i < x.size(); ++i) x[i] = ((i * 37) % 11 < 5 ? 0.04 : -0.04);
    KT7MRL40562D9_Tx model;
    const std::vector<double> whole = Cycle(model, x);
    ASSERT_EQ(x.size(), whole.size());
    EXPECT_EQ(whole, Cycle(model, x));

    ASSERT_TRUE(model.Setup() && model.Initialize());
    std::vector<double> pieces = RunModel(model, std::vector<double>(x.begin(), x.begin() + 123));
    const std::vector<double> rest = RunModel(model, std::vector<double>(x.begin() + 123, x.end()));
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, pieces);
    EXPECT_TRUE(model.Finalize());
}

// 41 connections between blocks and two for the relays, every one with its own store.
TEST(KT7MRL40562D9_Tx, InitializeWiresEveryConnectionAndFinalizeReleasesThem) {
    KT7MRL40562D9_Tx model;
    ASSERT_TRUE(model.Setup() && model.Initialize());
    EXPECT_EQ(43u, model.ConnectionCount());
    for (int sw = 0; sw < 2; ++sw) {
        for (int fg = 0; fg < 4; ++fg) {
            EXPECT_EQ(model.StepFir[sw][fg].Output.Data, model.SoftLimit[sw][fg].Input.Data);
            EXPECT_EQ(model.SoftLimit[sw][fg].Output.Data, model.HardLimit[sw][fg].Input.Data);
            EXPECT_EQ(model.HardLimit[sw][fg].Output.Data,
                      (sw == 0 ? model.Sw0Mux : model.Sw1Mux).Inputs.At(fg)->Data);
        }
    }
    ASSERT_TRUE(model.Finalize());
    EXPECT_EQ(0u, model.ConnectionCount());
}

TEST(KT7MRL40562D9_Tx, BadSampleRateFailsSetupInEveryFilter) {
    KT7MRL40562D9_Tx model;
    model.tx_samplerate = -1.0;
    StderrCapture capture;
    EXPECT_FALSE(model.Setup());
    EXPECT_EQ(std::vector<std::string>(8, "SampleRate must be > 0.0"), capture.Lines());
    EXPECT_TRUE(RunModel(model, {1.0}).empty());
}

}  // namespace
