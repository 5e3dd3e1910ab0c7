#include "tools/amirun/host/AmiFile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ami/AmiExport.h"
#include "models/rx/KT7MRL40562D9_Rx.h"
#include "models/tx/KT7MRL40562D9_Tx.h"

namespace amirun {
namespace {

double Number(const std::string& text) { return std::stod(text); }

TEST(ModelKit, AmiDefaultsAreTheModelsConstructorDefaults) {
    const AmiModelDescription rx = ReadAmiFile(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    const AmiModelDescription tx = ReadAmiFile(KT_IBIS_DIR "/KT7MRL40562D9_Tx.ami");
    EXPECT_EQ("KT7MRL40562D9_Rx", rx.root);
    EXPECT_EQ("KT7MRL40562D9_Tx", tx.root);
    const KT7MRL40562D9_Rx rxModel;
    const KT7MRL40562D9_Tx txModel;
    EXPECT_EQ(rxModel.rx_samplerate, Number(rx.Find("rx_samplerate")->defaultValue));
    EXPECT_EQ(rxModel.EQ, Number(rx.Find("EQ")->defaultValue));
    EXPECT_EQ(16u, rx.Find("EQ")->list.size());
    EXPECT_EQ(txModel.tx_samplerate, Number(tx.Find("tx_samplerate")->defaultValue));
    EXPECT_EQ(txModel.FG, Number(tx.Find("FG")->defaultValue));
    EXPECT_EQ(txModel.SW, Number(tx.Find("SW")->defaultValue));
    EXPECT_TRUE(rx.ReservedFlag("Init_Returns_Impulse", false));
    EXPECT_FALSE(rx.ReservedFlag("GetWave_Exists", true));
    EXPECT_FALSE(tx.ReservedFlag("Init_Returns_Impulse", true));
    EXPECT_TRUE(tx.ReservedFlag("GetWave_Exists", false));
    ASSERT_NE(nullptr, rx.SampleRateParameter());
    EXPECT_EQ("rx_samplerate", rx.SampleRateParameter()->name);
    for (const AmiModelDescription* model : {&rx, &tx}) {
        for (const AmiParameterSpec& param : model->parameters) {
            if (!param.reserved) {
                EXPECT_EQ("In", param.usage) << param.name;
            }
        }
    }
}

TEST(ModelKit, TheHostsParameterStringGivesAnEmptyMessageLog) {
    using InitFn = AmiInitFn;
    using CloseFn = AmiCloseFn;
    for (const char* name : {"KT7MRL40562D9_Rx", "KT7MRL40562D9_Tx"}) {
        SCOPED_TRACE(name);
        const AmiModelDescription model = ReadAmiFile(std::string(KT_IBIS_DIR "/") + name + ".ami");
        std::string text = BuildParameterString(model, ResolveValues(model, {}));
        void* library =
            dlopen((std::string(KT_AMI_DIR "/") + name + "_x64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library) << dlerror();
        auto init = reinterpret_cast<InitFn>(dlsym(library, "AMI_Init"));
        auto close = reinterpret_cast<CloseFn>(dlsym(library, "AMI_Close"));
        std::vector<double> impulse(64, 0.0);
        impulse[0] = 3.84e11;
        void* handle = nullptr;
        char* msg = nullptr;
        EXPECT_EQ(1, init(impulse.data(), 64, 0, 1.0 / 3.84e11, 32e-12, text.data(), nullptr,
                          &handle, &msg));
        EXPECT_EQ(nullptr, msg) << msg;
        EXPECT_EQ(1, close(handle));
        dlclose(library);
    }
}

const char kSample[] = R"((Sample
    (Reserved_Parameters (AMI_Version (Usage Info) (Type String) (Value "7.0")))
    (Model_Specific
        (mode (Usage In) (Type String) (List "fast" "slow") (Default "slow"))
        (gain (Usage In) (Type Float) (Format Range 1.5 0.5 4))
        (taps (Usage In) (Type Integer) (Format List 1 2 4) (Description "a (b) c"))
        (flag (Usage In) (Type Boolean) (Value True))
        (label (Usage In) (Type String) (Value "a b"))
        (status (Usage Out) (Type Integer) (Value 0)))))";

std::string Build(const std::vector<std::pair<std::string, std::string>>& overrides) {
    const AmiModelDescription model = ParseAmiFile(kSample);
    return BuildParameterString(model, ResolveValues(model, overrides));
}

std::string Rejection(const std::vector<std::pair<std::string, std::string>>& overrides) {
    try {
        Build(overrides);
    } catch (const AmiFileError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(AmiFile, BuildsTheParameterStringFromDefaultsAndOverrides) {
    EXPECT_EQ("(Sample (mode \"slow\") (gain 1.5) (taps 1) (flag True) (label \"a b\"))",
              Build({}));
    EXPECT_EQ("(Sample (mode \"fast\") (gain 0.5) (taps 4) (flag False) (label \"x y\"))",
              Build({{"mode", "fast"},
                     {"gain", "0.5"},
                     {"taps", "4"},
                     {"flag", "False"},
                     {"label", "\"x y\""}}));
    EXPECT_EQ("(Sample (mode \"slow\") (gain 4.0) (taps 2) (flag True) (label \"a b\"))",
              Build({{"gain", "4.0"}, {"taps", "2"}}));
}

TEST(AmiFile, RejectsWhatTheFileDoesNotAccept) {
    EXPECT_EQ("parameter taps: '3' is not in its List; it accepts one of 1 2 4",
              Rejection({{"taps", "3"}}));
    EXPECT_EQ("parameter taps: '2.5' is not an integer; it accepts one of 1 2 4",
              Rejection({{"taps", "2.5"}}));
    EXPECT_EQ("parameter gain: '4.5' is outside its Range; it accepts Float values from 0.5 to 4",
              Rejection({{"gain", "4.5"}}));
    EXPECT_EQ("parameter gain: 'fast' is not a number; it accepts Float values from 0.5 to 4",
              Rejection({{"gain", "fast"}}));
    EXPECT_EQ("parameter mode: 'medium' is not in its List; it accepts one of \"fast\" \"slow\"",
              Rejection({{"mode", "medium"}}));
    EXPECT_EQ("parameter flag: 'yes' is not True or False; it accepts a Boolean value",
              Rejection({{"flag", "yes"}}));
    EXPECT_EQ("unknown parameter EQ; the model Sample takes flag, gain, label, mode, taps",
              Rejection({{"EQ", "3"}}));
    EXPECT_EQ("unknown parameter status; the model Sample takes flag, gain, label, mode, taps",
              Rejection({{"status", "1"}}));
    EXPECT_THROW(ParseAmiFile("(Broken (a 1)"), AmiFileError);
    EXPECT_THROW(ReadAmiFile("/nonexistent/file.ami"), AmiFileError);
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
