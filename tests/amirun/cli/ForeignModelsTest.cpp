// amirun as the host of models shaped like other makers', against closed forms of the test
// models' own arithmetic (tests/amirun/models/ForeignModels.cpp) on an ideal channel, where the
// receiver's input is the transmitter's levels +-A exactly:
// - the DFE receiver's AMI_GetWave gives a one at phase p of its bit A w(p) - tap d[k-1] with
//   the triangle w(p) = 1 - |p - 1/2|; its clock samples at 0.3 UI +- 0.01 UI, so the eye at its
//   clock is 2 (A w(0.29) - tap), at the best phase 2 (A - tap), through its AMI_Init impulse
//   (half the channel) A, and closed when its 300 training bits are counted;
// - the GetWave-only receiver's eye is 2 A gain; the Init-only transmitter's 2 A gain.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"

namespace {

const std::string kModels = KT_PASS_MODELS_DIR;

class ForeignModels : public AmirunRun {
protected:
    void SetUp() override {
        AmirunRun::SetUp();
        fs::create_directories(out_);
        std::string ideal = "3.84e11\n";
        for (int n = 1; n < 12 * 32; ++n) ideal += "0\n";
        WriteBytes(out_ / "ideal.txt", ideal);
    }
    std::string Model(const std::string& name) const {
        return "'" + kModels + "/" + name + "_x64.so'";
    }
    Result Run(const std::string& command, const std::string& tx, const std::string& rx,
               const std::string& options) {
        return Amirun(command + " " + Model(tx) + " " + Model(rx) + " --channel '" +
                      (out_ / "ideal.txt").string() + "' --json '" + (out_ / "out.json").string() +
                      "'" + options + Out());
    }
    nlohmann::json Link(const std::string& tx, const std::string& rx,
                        const std::string& options = "") {
        const Result r = Run("link", tx, rx, options);
        EXPECT_EQ(0, r.status) << r.output;
        return nlohmann::json::parse(ReadBytes(out_ / "out.json"));
    }
    // A copy of a test model's .ami file with `extra` among its reserved parameters.
    std::string AmiWith(const std::string& model, const std::string& extra) {
        std::string text = ReadBytes(kModels + "/" + model + ".ami");
        const std::string anchor = "(Reserved_Parameters";
        text.insert(text.find(anchor) + anchor.size(), "\n" + extra);
        const fs::path path = out_ / (model + std::to_string(++copies_) + ".ami");
        WriteBytes(path, text);
        return "'" + path.string() + "'";
    }
    int copies_ = 0;
};

std::string Exact(double value) {
    std::ostringstream text;
    text << std::setprecision(17) << value;
    return text.str();
}

double Triangle(double phase) { return 1.0 - std::fabs(phase - 0.5); }

TEST_F(ForeignModels, ADualModeReceiverIsMeasuredThroughItsGetWaveAtItsClockAfterItsTraining) {
    const double a = 0.5;
    for (const double tap : {0.1, 0.2}) {
        SCOPED_TRACE(tap);
        const nlohmann::json json =
            Link("PassTx", "DfeRx", " --rx-set dfe_tap=" + std::to_string(tap));
        const nlohmann::json& bits = json["link"]["bit_by_bit"];
        const double expected = 2.0 * (a * Triangle(0.29) - tap);
        EXPECT_NEAR(expected, bits["height_v"].get<double>(), 0.01 * expected);
        EXPECT_EQ("model", bits["clock"]);
        EXPECT_EQ("AMI_GetWave", bits["receiver"]);
        EXPECT_EQ(300, bits["ignored_bits"]);
        EXPECT_NEAR(0.3, bits["clock_phase_ui"].get<double>(), 1e-6);
        EXPECT_NEAR(0.02, bits["clock_jitter_pp_ui"].get<double>(), 1e-6);
        EXPECT_NEAR(0.01, bits["clock_jitter_rms_ui"].get<double>(), 1e-6);
        // Every shift that keeps each instant inside its bit keeps the eye open.
        EXPECT_GT(bits["width_ui"].get<double>(), 0.9);
        // The statistical flow takes the receiver through its AMI_Init: half the channel.
        EXPECT_NEAR(a, json["statistical_eye"]["height_v"].get<double>(), 1e-6);
    }
    // Through a channel that delays by two whole bits the clock's instants belong to the bits
    // sent two unit intervals earlier: the eye is the same.
    const double bitRate = Link("PassTx", "DfeRx")["bit_rate"];
    const auto delay = std::size_t(std::lround(3.84e11 / bitRate)) * 2;
    std::string delayed;
    for (std::size_t n = 0; n < 12 * 32; ++n) delayed += n == delay ? "3.84e11\n" : "0\n";
    WriteBytes(out_ / "ideal.txt", delayed);
    const double expected = 2.0 * (a * Triangle(0.29) - 0.1);
    EXPECT_NEAR(expected, Link("PassTx", "DfeRx")["link"]["bit_by_bit"]["height_v"].get<double>(),
                0.01 * expected);

    // The host's own --ignore-bits counts when it is more than the model's.
    const nlohmann::json more = Link("PassTx", "DfeRx", " --ignore-bits 500");
    EXPECT_EQ(500, more["link"]["bit_by_bit"]["ignored_bits"]);
    EXPECT_EQ("--ignore-bits", more["link"]["bit_by_bit"]["ignored_by"]);
    const Result r = Run("link", "PassTx", "DfeRx", " --bits 300");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Ignore_Bits of DfeRx leaves out 300 bits"))
        << r.output;
}

TEST_F(ForeignModels, AReceiverWithGetWaveOnlyRunsEveryCommandBitByBit) {
    const nlohmann::json json = Link("PassTx", "WaveRx", " --rx-set gain=1.5");
    EXPECT_FALSE(json["link"]["statistical"]["available"].get<bool>());
    EXPECT_NE(std::string::npos, json["link"]["statistical"]["reason"].get<std::string>().find(
                                     "Init_Returns_Impulse False"));
    EXPECT_FALSE(json.contains("statistical_eye"));
    EXPECT_NEAR(2.0 * 0.5 * 1.5, json["link"]["bit_by_bit"]["height_v"].get<double>(), 1e-9);
    EXPECT_EQ("best_phase", json["link"]["bit_by_bit"]["clock"]);

    Result r = Run("optimize", "PassTx", "WaveRx", " --rx-param gain --confirm 1");
    ASSERT_EQ(0, r.status) << r.output;
    const nlohmann::json optimized = nlohmann::json::parse(ReadBytes(out_ / "out.json"));
    EXPECT_EQ("bit_by_bit", optimized["ranked_by"]);
    EXPECT_EQ("1.5", optimized["best"]["rx"]["gain"]);
    // The best carries the figures it was ranked by.
    EXPECT_NEAR(1.5, optimized["best"]["bit_by_bit"]["height_v"].get<double>(), 1e-9);
    EXPECT_FALSE(optimized["best"].contains("statistical"));

    WriteBytes(out_ / "plan.json", "{\"tx\": \"" + kModels + "/PassTx_x64.so\", \"rx\": \"" +
                                       kModels + "/WaveRx_x64.so\", \"channels\": [\"" +
                                       (out_ / "ideal.txt").string() +
                                       "\"], \"sweep\": {\"rx.gain\": \"all\"}, \"bits\": 2000, "
                                       "\"flows\": [\"statistical\"]}");
    r = Amirun("batch '" + (out_ / "plan.json").string() + "' --out '" + (out_ / "b").string() +
               "'");
    ASSERT_EQ(0, r.status) << r.output;
    const std::string lines = ReadBytes(out_ / "b" / "results-0-of-1.jsonl");
    int runs = 0;
    for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
        const nlohmann::json line = nlohmann::json::parse(lines.substr(at, end - at));
        const double gain = std::stod(line["settings"]["rx.gain"].get<std::string>());
        EXPECT_FALSE(line.contains("statistical"));
        EXPECT_NEAR(gain, line["bit_by_bit"]["height_v"].get<double>(), 1e-9);
        ++runs;
    }
    EXPECT_EQ(3, runs);
}

TEST_F(ForeignModels, ATransmitterWithInitOnlyShapesTheBitsByItsImpulse) {
    const nlohmann::json json = Link("InitTx", "PassRx");
    EXPECT_EQ("AMI_Init impulse", json["link"]["bit_by_bit"]["transmitter"]);
    EXPECT_NEAR(0.8, json["link"]["bit_by_bit"]["height_v"].get<double>(), 1e-9);
    EXPECT_NEAR(0.8, json["statistical_eye"]["height_v"].get<double>(), 1e-6);
}

// A model's reserved jitter and noise act as the same values given on the command line: Float
// times in seconds, half-widths (Dj, DCD, Sj) twice as peak to peak, rms values in quadrature.
TEST_F(ForeignModels, AModelsReservedJitterAndNoiseActAsTheCommandLine) {
    const double bitRate = Link("PassTx", "PassRx")["bit_rate"];
    const std::string ui = " (Usage Info) (Type UI) ";
    struct Case {
        std::string reserved, options;
    };
    const Case cases[] = {
        {"(Rx_Rj" + ui + "(Value 0.02))", " --rj-rms 0.02"},
        {"(Tx_Dj (Usage Info) (Type Float) (Value " + Exact(0.05 / bitRate) + "))", " --dj-pp 0.1"},
        {"(Rx_DCD" + ui + "(Value 0.05))", " --dj-pp 0.1"},
        {"(Rx_Noise (Usage Info) (Type Float) (Value 0.01))", " --noise-rms 0.01"},
        {"(Rx_Rj" + ui + "(Value 0.012))", " --rj-rms 0.016"},  // with the line's 0.016: 0.02
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reserved);
        const bool tx = c.reserved.rfind("(Tx_", 0) == 0;
        const std::string ami = AmiWith(tx ? "PassTx" : "PassRx", c.reserved);
        const bool quadrature = c.reserved.find("0.012") != std::string::npos;
        const nlohmann::json model =
            Link("PassTx", "PassRx",
                 (tx ? " --tx-ami " : " --rx-ami ") + ami + (quadrature ? " --rj-rms 0.016" : ""));
        const nlohmann::json line =
            Link("PassTx", "PassRx", quadrature ? " --rj-rms 0.02" : c.options);
        for (const char* eye : {"statistical_eye", "bit_by_bit_eye"})
            for (const char* figure : {"height_v", "width_ui"})
                EXPECT_NEAR(line[eye][figure].get<double>(), model[eye][figure].get<double>(),
                            1e-12)
                    << eye << ' ' << figure;
        EXPECT_EQ(tx ? "PassTx" : "PassRx",
                  model["link"]["impairments"]["terms"].back()["source"].get<std::string>());
    }
    // A sensitivity takes twice itself off both heights.
    const nlohmann::json clean = Link("PassTx", "PassRx");
    const nlohmann::json sensing = Link(
        "PassTx", "PassRx",
        " --rx-ami " +
            AmiWith("PassRx", "(Rx_Receiver_Sensitivity (Usage Info) (Type Float) (Value 0.05))"));
    for (const char* eye : {"statistical_eye", "bit_by_bit_eye"})
        EXPECT_NEAR(clean[eye]["height_v"].get<double>() - 0.1,
                    sensing[eye]["height_v"].get<double>(), 1e-9)
            << eye;
    const Result r =
        Run("link", "PassTx", "PassRx",
            " --rx-ami " + AmiWith("PassRx", "(Rx_Rj (Usage Info) (Type Integer) (Value 1))"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Rx_Rj is of Type Integer")) << r.output;
}

}  // namespace
