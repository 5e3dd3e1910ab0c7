// The models' block paths against their per-sample graphs, bit for bit, with every kernel
// variant this CPU runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "modelbuilder/FirBlock.h"
#include "models/rx/KT7MRL40562D9_Rx.h"
#include "models/tx/KT7MRL40562D9_Tx.h"
#include "tests/support/BitCompare.h"
#include "tests/support/RunModel.h"
#include "tests/support/StderrCapture.h"

namespace {

using CorvanaModelBuilder::FirBlockVariant;

const double kRates[] = {1.92e11, 3.84e11, 1e12};

struct VariantName {
    FirBlockVariant variant;
    const char* name;
};

// Each test forces the kernel variants in turn and puts the rule's choice back.
class BlockPath : public ::testing::Test {
protected:
    ~BlockPath() override { CorvanaModelBuilder::UseFirBlockRule(); }
    // The variants this CPU runs; the others are named once as skipped.
    static std::vector<VariantName> Variants() {
        std::vector<VariantName> usable;
        for (FirBlockVariant v : CorvanaModelBuilder::kFirBlockPreference) {
            const char* name = CorvanaModelBuilder::FirBlockVariantName(v);
            if (CorvanaModelBuilder::FirBlockSupported(v))
                usable.push_back({v, name});
            else
                std::printf("skipped: this CPU lacks %s\n", name);
        }
        return usable;
    }
};

TEST_F(BlockPath, ReceiverColumnsEqualThePerSampleGraphForEveryEqAndRate) {
    const std::vector<VariantName> variants = Variants();
    for (double rate : kRates) {
        for (bool awkward : {false, true}) {
            const std::vector<double> x = TestSamples(1700, 5u, awkward);
            for (int eq = 0; eq < 16; ++eq) {
                SCOPED_TRACE("rate " + std::to_string(rate) + ", EQ " + std::to_string(eq) +
                             (awkward ? ", awkward values" : ""));
                KT7MRL40562D9_Rx model;
                model.rx_samplerate = rate;
                model.EQ = eq;
                const std::vector<double> expected = Cycle(model, x);
                for (const VariantName& v : variants) {
                    SCOPED_TRACE(v.name);
                    ASSERT_TRUE(CorvanaModelBuilder::ForceFirBlockVariant(v.variant));
                    std::vector<double> actual = x;
                    ASSERT_TRUE(model.Setup() && model.Initialize());
                    ASSERT_TRUE(RunModelBlock(model, actual.data(), actual.size()));
                    ASSERT_TRUE(model.Finalize());
                    ASSERT_EQ("", FirstDifference(expected, actual));
                }
            }
        }
    }
}

// How a host may cut a waveform into AMI_GetWave blocks; a negative size is one per-sample Run
// call of that many samples.
std::vector<std::vector<long>> DrivePatterns(std::size_t total) {
    std::vector<std::vector<long>> patterns;
    patterns.push_back({static_cast<long>(total)});
    for (long split : {1L, 7L, 1000L, 1024L, 2999L}) patterns.push_back({split});
    std::mt19937 random(3);
    std::vector<long> randomSplits;
    for (std::size_t done = 0; done < total;) {
        const long size = std::uniform_int_distribution<long>(0, 700)(random);
        randomSplits.push_back(size);
        done += static_cast<std::size_t>(size);
    }
    patterns.push_back(randomSplits);
    patterns.push_back({300, -5, 1, -300, 999, -1});  // blocks and single firings alternating
    return patterns;
}

TEST_F(BlockPath, TransmitterEqualsThePerSampleGraphHoweverTheWaveIsCut) {
    const std::vector<VariantName> variants = Variants();
    const std::size_t total = 6000;
    const auto patterns = DrivePatterns(total);
    for (double rate : kRates) {
        for (bool awkward : {false, true}) {
            // Bits of +-1 at 24 samples per bit, with noise that crosses the limiters' knees.
            std::vector<double> x = TestSamples(total, 9u, awkward);
            for (std::size_t i = 0; i < total; ++i) x[i] += (i / 24 * 2654435761u) % 2 ? 1 : -1;
            for (int path = 0; path < 8; ++path) {
                SCOPED_TRACE("rate " + std::to_string(rate) + ", SW " + std::to_string(path / 4) +
                             ", FG " + std::to_string(path % 4) +
                             (awkward ? ", awkward values" : ""));
                KT7MRL40562D9_Tx model;
                model.tx_samplerate = rate;
                model.SW = path / 4;
                model.FG = path % 4;
                const std::vector<double> expected = Cycle(model, x);
                for (const VariantName& v : variants) {
                    ASSERT_TRUE(CorvanaModelBuilder::ForceFirBlockVariant(v.variant));
                    for (std::size_t p = 0; p < patterns.size(); ++p) {
                        SCOPED_TRACE(std::string(v.name) + ", pattern " + std::to_string(p));
                        ASSERT_TRUE(model.Setup() && model.Initialize());
                        std::vector<double> actual = x;
                        ASSERT_TRUE(DriveInBlocks(model, actual, patterns[p]));
                        ASSERT_TRUE(model.Finalize());
                        ASSERT_EQ("", FirstDifference(expected, actual));
                    }
                }
            }
        }
    }
}

// Whatever the block path cannot prove identical stays with the graph: it declines, touches
// nothing and says nothing, so the per-sample Runs give today's messages.
TEST_F(BlockPath, DeclinesSelectorsOutOfRangeAndUnreadyModels) {
    const std::vector<double> x{1.0, -2.0, 3.0};
    StderrCapture capture;
    for (int eq : {16, -1}) {
        KT7MRL40562D9_Rx model;
        model.EQ = eq;
        std::vector<double> y = x;
        ASSERT_TRUE(model.Setup() && model.Initialize());
        EXPECT_FALSE(RunModelBlock(model, y.data(), y.size())) << eq;
        EXPECT_EQ(x, y);
    }
    for (const auto& [sw, fg] : {std::pair{1, 4}, std::pair{-1, 2}, std::pair{2, 0}}) {
        KT7MRL40562D9_Tx model;
        model.SW = sw;
        model.FG = fg;
        std::vector<double> y = x;
        ASSERT_TRUE(model.Setup() && model.Initialize());
        EXPECT_FALSE(RunModelBlock(model, y.data(), y.size())) << sw << " " << fg;
        EXPECT_EQ(x, y);
    }
    KT7MRL40562D9_Tx tx;
    std::vector<double> y = x;
    EXPECT_FALSE(RunModelBlock(tx, y.data(), y.size()));  // never set up
    ASSERT_TRUE(tx.Setup());
    EXPECT_FALSE(RunModelBlock(tx, y.data(), y.size()));  // not initialized
    ASSERT_TRUE(tx.Initialize() && tx.Finalize());
    EXPECT_FALSE(RunModelBlock(tx, y.data(), y.size()));  // finalized
    tx.tx_samplerate = 0.0;
    EXPECT_FALSE(tx.Setup());
    tx.Initialize();
    EXPECT_FALSE(RunModelBlock(tx, y.data(), y.size()));  // the last Setup failed
    EXPECT_EQ(x, y);
    KT7MRL40562D9_Rx rx;
    ASSERT_TRUE(rx.Setup() && rx.Initialize());
    EXPECT_FALSE(rx.RunBlock(y.data(), 3));  // the driver's port stores are missing
    EXPECT_EQ(std::vector<std::string>(8, "SampleRate must be > 0.0"), capture.Lines());
}

}  // namespace
