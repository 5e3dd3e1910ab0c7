// Runs the built amirun on our libraries, small sizes, as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"
#include "tests/support/Kit.h"
#include "tools/amirun/channel/BuiltInLine.h"

namespace {

namespace fs = std::filesystem;

TEST_F(AmirunRun, InitEqualizesTheBuiltInChannel) {
    const Result r = Amirun("init " + kRx + Out() + " --channel-bits 16 --set EQ=9");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 9))"));
    EXPECT_NE(std::string::npos, r.output.find("message: (none)"));
    EXPECT_NE(std::string::npos, r.output.find("eye after the model:  height 0."));
    // The setting is in the names, so another EQ would not overwrite these.
    EXPECT_TRUE(Png("KT7MRL40562D9_Rx_EQ9_impulse.png"));
    EXPECT_TRUE(Png("KT7MRL40562D9_Rx_EQ9_pulse.png"));
    const std::string csv = ReadBytes(out_ / "KT7MRL40562D9_Rx_EQ9_impulse.csv");
    EXPECT_EQ(0u, csv.find("time_s,before_0,after_0\n"));
}

// A sample interval sets the model's rate parameter, so the model filters at the simulation's
// rate; only a rate that --set pins to another value is warned about.
TEST_F(AmirunRun, InitReadsAnImpulseFileAtTheGivenSampleInterval) {
    fs::create_directories(out_);
    std::ofstream(out_ / "matrix.csv") << "primary,aggressor\n3.84e11,0\n0,1e10\n0,0\n0,0\n";
    const std::string impulse =
        " --impulse '" + (out_ / "matrix.csv").string() + "' --bit-rate 31.25e9";
    Result r = Amirun("init " + kRx + Out() + impulse + " --sample-interval 1e-12");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("(rx_samplerate 1000000000000) (EQ 15)"));
    EXPECT_NE(std::string::npos, r.output.find("message: (none)"));
    EXPECT_EQ(std::string::npos, r.output.find("differs from"));
    const std::string csv = ReadBytes(out_ / "KT7MRL40562D9_Rx_impulse.csv");
    EXPECT_EQ(0u, csv.find("time_s,before_0,after_0,before_1,after_1\n"));

    r = Amirun("init " + kRx + Out() + impulse +
               " --sample-interval 1e-12 --set rx_samplerate=3.84e11");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find(
                  "warning: the sample interval 1e-12 s differs from the model's rx_samplerate"));
    EXPECT_NE(std::string::npos, r.output.find("Set rx_samplerate to 1/sample_interval."));
}

// A channel 2 000 samples (5.2 ns) late is drawn where its pulse is, not as the flat first
// 24 unit intervals.
TEST_F(AmirunRun, InitDrawsADelayedPulseWhereItIs) {
    fs::create_directories(out_);
    {
        std::ofstream delayed(out_ / "delayed.csv");
        for (int n = 0; n < 2000; ++n) delayed << "0\n";
        delayed << "3.84e11\n0\n0\n";
    }
    const Result r =
        Amirun("init " + kRx + Out() + " --impulse '" + (out_ / "delayed.csv").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    std::istringstream script(ReadBytes(out_ / "KT7MRL40562D9_Rx_pulse.png.gp"));
    std::string line;
    while (std::getline(script, line) && line != "$s0 << EOD") {
    }
    double first = 0.0, top = 0.0, t = 0.0, v = 0.0;
    ASSERT_TRUE(std::getline(script, line));
    std::istringstream(line) >> first;
    while (std::getline(script, line) && line != "EOD")
        if (std::istringstream(line) >> t >> v) top = std::max(top, v);
    EXPECT_GT(first, 4000.0);
    EXPECT_LT(first, 2000 / 3.84e11 * 1e12);
    EXPECT_NEAR(1.0, top, 1e-9);  // the whole pulse of a lossless channel is in the picture
}

// The kit's .ibs file leads amirun to the library and .ami file of a model for this platform.
TEST_F(AmirunRun, StartsFromTheIbsFile) {
    const std::string ibs = " --ibs '" KT_AMI_DIR "/KT7MRL40562D9.ibs'";
    Result r =
        Amirun("init" + ibs + " --model KT7MRL40562D9_Rx --channel-bits 8 --set EQ=3" + Out());
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 3))"));
    r = Amirun("getwave" + ibs + " --model KT7MRL40562D9_Tx --bits 100" + Out());
    ASSERT_EQ(0, r.status) << r.output;
    r = Amirun("init" + ibs + " --model KT7MRL40562D9" + Out());
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.output.find("no [Model] KT7MRL40562D9; it has KT7MRL40562D9_Tx, KT7MRL40562D9_Rx"));
    r = Amirun("init" + ibs + Out());
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("--ibs needs --model NAME"));
}

TEST_F(AmirunRun, ParameterErrorsComeBeforeTheLibraryIsLoaded) {
    const std::string notALibrary =
        "'" KT_IBIS_DIR "/README.md' --ami '" KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami'";
    Result r = Amirun("init " + notALibrary + Out() + " --set EQ=16");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.output.find(
                  "amirun: error: parameter EQ: '16' is not in its List; it accepts one of 0 1 2"));
    r = Amirun("init " + notALibrary + Out() + " --set eq=1");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(
        std::string::npos,
        r.output.find("unknown parameter eq; the model KT7MRL40562D9_Rx takes EQ, rx_samplerate"));
}

TEST_F(AmirunRun, AFailedInitIsAnErrorWithTheModelsMessage) {
    fs::create_directories(out_);
    std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    ami.replace(ami.find("(List 0 1"), 9, "(List 16 0 1");
    std::ofstream(out_ / "wide.ami") << ami;
    const Result r = Amirun("init " + kRx + " --ami '" + (out_ / "wide.ami").string() + "'" +
                            Out() + " --channel-bits 4 --set EQ=16");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.output.find("failed: Error occurred in KT7MRL40562D9_Rx::Run(). "));
}

TEST_F(AmirunRun, GetWaveOutputDoesNotDependOnTheBlockSize) {
    Result r = Amirun("getwave " + kTx + Out() + " --bits 300 --block-bits 1 --prefix one");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("eye of the output: height 0."));
    r = Amirun("getwave " + kTx + Out() + " --bits 300 --block-bits 97 --prefix many --prbs 15");
    ASSERT_EQ(0, r.status) << r.output;
    r = Amirun("getwave " + kTx + Out() + " --bits 300 --block-bits 97 --prefix same");
    ASSERT_EQ(0, r.status) << r.output;
    const std::string one = ReadBytes(out_ / "one_wave.csv");
    EXPECT_GT(one.size(), 3000u);
    EXPECT_EQ(one, ReadBytes(out_ / "same_wave.csv"));
    EXPECT_NE(one, ReadBytes(out_ / "many_wave.csv"));  // another pattern
    EXPECT_TRUE(Png("one_eye.png"));
    r = Amirun("getwave " + kRx + Out() + " --bits 10");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("has no AMI_GetWave"));
}

TEST_F(AmirunRun, SweepRanksEverySetting) {
    const Result r = Amirun("sweep " + kTx + Out() + " --channel-bits 8 -j 2 --param FG");
    ASSERT_EQ(0, r.status) << r.output;
    for (const char* row : {"\n       0  ", "\n       1  ", "\n       2  ", "\n       3  "})
        EXPECT_NE(std::string::npos, r.output.find(row)) << row;
    EXPECT_NE(std::string::npos, r.output.find("<- best"));
    EXPECT_NE(std::string::npos, r.output.find("best FG = "));
    EXPECT_TRUE(Png("KT7MRL40562D9_Tx_sweep_FG.png"));
    const std::string csv = ReadBytes(out_ / "KT7MRL40562D9_Tx_sweep_FG.csv");
    EXPECT_EQ(5, std::count(csv.begin(), csv.end(), '\n'));  // header and four settings
}

}  // namespace

namespace {

// Hostile or mistaken input: each case ends with a clear message and a non-zero exit, never with
// a hang, a crash or a wrong file. A status of 0 here means "any non-zero status".
TEST_F(AmirunRun, RefusesHostileInputWithAClearMessage) {
    fs::create_directories(out_);
    std::ofstream(out_ / "holes.csv") << "time,value\n0,1\n1e-12,nan\n2e-12,0.5\n";
    std::ofstream(out_ / "infinite.csv") << "1\n0.5\ninf\n";
    std::ofstream(out_ / "values.csv") << "1e10\n2e10\n1e10\n";
    {
        std::ofstream nested(out_ / "nested.ami");  // parses, but describes no model
        for (int i = 0; i < 20000; ++i) nested << "(a ";
        nested << "(x 1)" << std::string(20000, ')');
    }
    {
        std::ofstream big(out_ / "big.ami");
        big << "(Big (Model_Specific (a (Usage In) (Type Integer) (Default 1) (Range 1 0 2)";
        big << std::string(1100000, ' ') << ")))";
    }
    const std::string dir = out_.string();
    const struct {
        std::string arguments;
        int status;
        std::string message;
    } cases[] = {
        {"getwave " + kTx + " --block-bits 4611686018427387904", 0,
         "--block-bits: Value 4611686018427387904 not in range 1 to 10000000"},
        {"getwave " + kTx + " --bits 20000000", 0, "--bits: Value 20000000 not in range"},
        {"getwave " + kTx + " --bits 9000000 --bit-rate 1e9", 1,
         "samples are more than the 50000000 samples amirun handles"},
        {"sweep " + kRx + " -j 100000", 0, "--jobs: Value 100000 not in range 1 to 256"},
        {"sweep " + kRx + " -j 0", 0, "--jobs: Value 0 not in range 1 to 256"},
        {"getwave " + kTx + " --amplitude 1e308", 0, "--amplitude: '1e308' is outside 1e-06 to"},
        {"getwave " + kTx + " --amplitude nan", 0, "--amplitude: 'nan' is not a finite number"},
        {"getwave " + kTx + " --amplitude inf", 0, "--amplitude: 'inf' is not a finite number"},
        {"init " + kRx + " --impulse '" + dir + "/holes.csv'", 1,
         "holes.csv:3: 'nan' is not a finite number"},
        {"init " + kRx + " --impulse '" + dir + "/infinite.csv'", 1,
         "infinite.csv:3: 'inf' is not a finite number"},
        {"init " + kRx + " --impulse '" + dir + "/values.csv' --bit-rate 28e9", 1,
         "values.csv: bare values are samples at the model's own interval"},
        {"init " + kRx + " --loss nan", 0, "--loss: 'nan' is not a finite number"},
        {"init " + kRx + " --loss -20", 0, "--loss: '-20' is outside 0 to 100"},
        {"init " + kRx + " --loss 1e300", 0, "--loss: '1e300' is outside 0 to 100"},
        {"init " + kRx + " --sample-interval -1", 0, "--sample-interval: '-1' is outside"},
        {"init " + kRx + " --bit-rate 1e4", 0, "--bit-rate: '1e4' is outside 1e+06 to 1e+13"},
        {"init " + kRx + " --bit-rate 0", 0, "--bit-rate: '0' is outside"},
        {"init " + kRx + " --bit-rate 1e6", 1, "amirun needs 2 to 4096"},
        {"init " + kRx + " --channel-bits 2000000", 0, "Value 2000000 not in range"},
        {"init " + kRx + " --channel-bits 500000", 1, "samples amirun keeps"},
        {"link " + kTx + " " + kRx + " --window-bits 100000", 1,
         "more than the 8192 amirun computes; a --window-bits of 8191 or less"},
        {"init " + kRx + " --ami '" + dir + "/nested.ami'", 1,
         "names no model with Reserved_Parameters or Model_Specific parameters"},
        {"init " + kRx + " --ami '" + dir + "/big.ami'", 1, "larger than 1 MiB, not an .ami file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = Amirun(c.arguments + Out());
        if (c.status == 0)
            EXPECT_NE(0, r.status);
        else
            EXPECT_EQ(c.status, r.status);
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << r.output;
        EXPECT_LT(r.output.size(), 2000u) << "a message, not a dump";
    }
    EXPECT_FALSE(fs::exists(out_ / "KT7MRL40562D9_Tx_wave.csv"));
}

// A file-size limit stands in for a full disk: the write fails, amirun says so and exits 1, and
// the file under the output's name is still the previous complete one.
TEST_F(AmirunRun, AFullDiskIsAnErrorAndKeepsThePreviousFile) {
    Result r = Amirun("getwave " + kTx + Out() + " --bits 100");
    ASSERT_EQ(0, r.status) << r.output;
    const fs::path wave = out_ / "KT7MRL40562D9_Tx_wave.csv";
    const std::string previous = ReadBytes(wave);
    ASSERT_GT(previous.size(), 1000u);
    r = Amirun("getwave " + kTx + Out() + " --bits 20000 --block-bits 1000",
               "ulimit -f 16; trap '' XFSZ; ");
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("cannot write")) << r.output;
    EXPECT_EQ(std::string::npos, r.output.find("wrote "));
    EXPECT_EQ(previous, ReadBytes(wave));
    for (const auto& entry : fs::directory_iterator(out_))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp")) << entry.path();
}

// When the system refuses threads, the sweep runs on the ones it got, and still joins them all.
TEST_F(AmirunRun, ASweepWithFewerThreadsThanAskedStillFinishes) {
#if defined(KT_SANITIZE)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address-space limit";
#endif
    const Result r =
        Amirun("sweep " + kRx + Out() + " -j 256 --channel-bits 8", "ulimit -v 400000; ");
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(" of 256 threads started")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("best EQ = "));
}

// Killed while it works, at whatever point, amirun leaves the previous complete file in place.
TEST_F(AmirunRun, AnInterruptedRunKeepsThePreviousFile) {
    Result r = Amirun("getwave " + kTx + Out() + " --bits 2000");
    ASSERT_EQ(0, r.status) << r.output;
    const fs::path wave = out_ / "KT7MRL40562D9_Tx_wave.csv";
    const std::string previous = ReadBytes(wave);
    ASSERT_GT(previous.size(), 1000u);
    for (const char* after : {"0.3", "1.2"}) {
        r = Amirun("getwave " + kTx + Out() + " --bits 1000000 --prbs 23", "",
                   std::string("timeout -s TERM ") + after + " ");
        EXPECT_NE(0, r.status) << after;
        EXPECT_EQ(previous, ReadBytes(wave)) << after;
        for (const auto& entry : fs::directory_iterator(out_))  // SIGTERM removes temporaries
            EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp"))
                << entry.path();
    }
}

}  // namespace

namespace {

std::string JsonNumber(const std::string& json, const std::string& object, const std::string& key) {
    const auto at = json.find("\"" + key + "\":", json.find("\"" + object + "\""));
    if (at == std::string::npos) return "";
    const auto from = at + key.size() + 3;
    return json.substr(from, json.find_first_of(",}", from) - from);
}

// Both flows on one link: the statistical eye at a BER that 20 000 bits can show and the
// bit-by-bit eye of those bits agree, and the summary says so for scripts.
TEST_F(AmirunRun, LinkGivesMatchingStatisticalAndBitByBitEyes) {
    const Result r = Amirun("link " + kTx + " " + kRx + Out() +
                            " --rx-set EQ=9 --tx-set FG=0 --amplitude 0.01 --bits 20000 --ber 1e-5"
                            " --json '" +
                            (out_ / "link.json").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    const std::string json = ReadBytes(out_ / "link.json");
    const double stat = std::stod(JsonNumber(json, "statistical_eye", "height_v"));
    const double bits = std::stod(JsonNumber(json, "bit_by_bit_eye", "height_v"));
    EXPECT_GT(stat, 0.0) << json;
    EXPECT_NEAR(stat, bits, 0.25 * bits) << json;
    EXPECT_NE(std::string::npos, json.find("\"transmitter_statistical_flow\":\"AMI_GetWave"));
    const std::string prefix = "KT7MRL40562D9_Tx_FG0__KT7MRL40562D9_Rx_EQ9";
    EXPECT_TRUE(Png(prefix + "_stat_eye.png"));
    EXPECT_TRUE(Png(prefix + "_link_eye.png"));
    EXPECT_TRUE(Png(prefix + "_bathtub.png"));
    EXPECT_NE(std::string::npos,
              ReadBytes(out_ / (prefix + "_bathtub.csv")).find("phase_ui,log10_ber"));
}

// An aggressor column adds its crosstalk to the statistical eye, which closes by as much.
TEST_F(AmirunRun, LinkCountsTheAggressorsCrosstalk) {
    fs::create_directories(out_);
    const std::vector<double> h = amirun::LossyLineImpulse(20.0, 32e9, 1.0 / 3.84e11, 64 * 12);
    {
        std::ofstream columns(out_ / "with_aggressor.txt");
        columns << std::setprecision(17);
        for (double v : h) columns << v << ' ' << 0.01 * v << '\n';
    }
    const std::string common = "link " + kTx + " " + kRx + Out() + " --rx-set EQ=9 --bits 2000";
    Result r = Amirun(common + " --prefix alone --json '" + (out_ / "alone.json").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    r = Amirun(common + " --prefix xt --channel '" + (out_ / "with_aggressor.txt").string() +
               "' --json '" + (out_ / "xt.json").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    const std::string alone = ReadBytes(out_ / "alone.json");
    const std::string xt = ReadBytes(out_ / "xt.json");
    EXPECT_NE(std::string::npos, xt.find("\"crosstalk_aggressors\":1,"));
    EXPECT_NE(std::string::npos, alone.find("\"crosstalk_aggressors\":0,"));
    const double crosstalk = std::stod(xt.substr(xt.find("\"crosstalk_worst_v\":") + 20));
    EXPECT_GT(crosstalk, 0.001);
    // The aggressor's worst sum narrows the eye from both sides at most; at 1e-12 its rarest
    // patterns need not all count, so by less than that.
    const double before = std::stod(JsonNumber(alone, "statistical_eye", "height_v"));
    const double after = std::stod(JsonNumber(xt, "statistical_eye", "height_v"));
    EXPECT_LT(after, before - 0.5 * crosstalk) << alone << "\n" << xt;
    EXPECT_GE(after, before - 2.0 * crosstalk - 1e-4) << alone << "\n" << xt;
}

TEST_F(AmirunRun, RefusesOrWarnsInsteadOfPrintingNonsense) {
    fs::create_directories(out_);
    std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    ami.erase(ami.find("(EQ (Usage In)"),
              ami.find("(Description", ami.find("(EQ (Usage In)")) - ami.find("(EQ (Usage In)"));
    ami.erase(ami.find("(Description \"Equalizer"),
              ami.find("))", ami.find("(Description \"Equalizer")) + 2 -
                  ami.find("(Description \"Equalizer"));
    std::ofstream(out_ / "no_eq.ami") << ami;
    const std::string noEq = " --ami '" + (out_ / "no_eq.ami").string() + "' --channel-bits 8";

    Result r = Amirun("init " + kRx + Out() + noEq);
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("warning: the model used a default setting"));
    r = Amirun("init " + kRx + Out() + noEq + " --strict");
    EXPECT_EQ(3, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("the model used a default setting (--strict)"));

    r = Amirun("init " + kRx + Out() + " --ami '" KT_IBIS_DIR "/KT7MRL40562D9_Tx.ami'");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("the .ami file describes KT7MRL40562D9_Tx, but the "
                                               "library is KT7MRL40562D9_Rx"));

    // A receiver that returns no impulse from AMI_Init: init says its figures are not the
    // model's, and link refuses it: without AMI_GetWave either, it has nothing to give a link.
    std::string noImpulse = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    const std::size_t flag = noImpulse.find("(Value True)", noImpulse.find("Init_Returns_Impulse"));
    noImpulse.replace(flag, 12, "(Value False)");
    std::ofstream(out_ / "no_impulse.ami") << noImpulse;
    const std::string noImpulseAmi = "'" + (out_ / "no_impulse.ami").string() + "'";
    r = Amirun("init " + kRx + Out() + " --channel-bits 8 --ami " + noImpulseAmi);
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("the figures 'after the model' are not the"));
    r = Amirun("link " + kTx + " " + kRx + Out() + " --channel-bits 8 --rx-ami " + noImpulseAmi);
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Init_Returns_Impulse False and GetWave_Exists "
                                               "False: it has neither"));

    r = Amirun("sweep " + kTx + Out() + " --channel-bits 8 --param FG -j 2");
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("sweeping through AMI_GetWave"));

    r = Amirun("init " + kRx + Out() + " --bit-rate 3.3e10 --channel-bits 8");
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("amirun runs at 16 samples per unit interval"));

    r = Amirun("--version");
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.output.find("amirun 1.2.0"));
}

}  // namespace

namespace {

// amirun started without any shell, so that the arguments reach it byte for byte, in `dir`.
Result Spawn(const std::vector<std::string>& arguments, const fs::path& dir) {
    int ends[2];
    if (pipe(ends) != 0) return {-1, ""};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], 1);
        dup2(ends[1], 2);
        close(ends[0]);
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(KT_AMIRUN)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execv(KT_AMIRUN, argv.data());
        _exit(127);
    }
    close(ends[1]);
    Result result{-1, ""};
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, std::size_t(n));
    close(ends[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string kRxPath = KT_AMI_DIR "/KT7MRL40562D9_Rx_x64.so";

// Data never becomes a command: a payload in the output folder's name and in .ami List values
// (which go into plot titles, labels and saved scripts) runs nothing.
TEST_F(AmirunRun, DataInNamesAndPlotsRunsNothing) {
    fs::create_directories(out_);
    const std::string payload = "a$(touch ran1)`touch ran2`'\"\\`touch ran3`";
    std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    ami.insert(ami.rfind("(EQ (Usage In)"),
               "(label (Usage In) (Type String) (List \"`touch ran4`\" \"x'`touch ran5`\"))\n");
    std::ofstream(out_ / "label.ami") << ami;
    Result r = Spawn({"init", kRxPath, "--out", payload, "--channel-bits", "8"}, out_);
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_TRUE(Png(payload + "/KT7MRL40562D9_Rx_impulse.png"));
    r = Spawn({"sweep", kRxPath, "--ami", "label.ami", "--param", "label", "--out", "sweep",
               "--channel-bits", "8", "-j", "1"},
              out_);
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_TRUE(Png("sweep/KT7MRL40562D9_Rx_sweep_label.png"));
    for (const char* marker : {"ran1", "ran2", "ran3", "ran4", "ran5"})
        EXPECT_FALSE(fs::exists(out_ / marker) || fs::exists(out_ / payload / marker)) << marker;
}

// No output replaces a link, a FIFO or one of the run's inputs; an .ibs file cannot send amirun
// outside its folder; what killed runs left behind is removed.
TEST_F(AmirunRun, OutputsReplaceOnlyTheirOwnPlainFiles) {
    fs::create_directories(out_);
    std::ofstream(out_ / "target.txt") << "keep";
    fs::create_symlink(out_ / "target.txt", out_ / "link.json");
    ASSERT_EQ(0, mkfifo((out_ / "fifo.json").c_str(), 0600));
    std::ofstream(out_ / "channel.csv") << "1e10\n2e10\n1e10\n";
    fs::create_directories(out_ / "out");  // the default output folder
    // A temporary a killed run of this host left; a user's own hidden file and another host's
    // temporary on a shared folder, which are not this run's to remove.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string stale = ".stale.csv.amirun-" + std::string(host) + "-999999.tmp";
    std::ofstream(out_ / "out" / stale) << "left by a killed run";
    std::ofstream(out_ / "out" / ".notes.tmp999999") << "the user's";
    std::ofstream(out_ / "out" / ".stale.csv.amirun-otherhost-999999.tmp") << "another host's";
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"init", kRxPath, "--json", "link.json"}, "is not a plain file"},
        {{"init", kRxPath, "--json", "fifo.json"}, "is not a plain file"},
        {{"init", kRxPath, "--impulse", "channel.csv", "--json", "channel.csv"},
         "it is an input of this run"},
        {{"init", kRxPath, "--json", kRxPath}, "it is an input of this run"},
        {{"init", kRxPath, "--channel", "channel.csv", "--ports", "1,3,2,4x"}, "--ports takes"},
        {{"init", kRxPath, "--channel", "channel.csv", "--ports", "1,3,2,4"},
         "--ports applies to Touchstone files only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const Result r = Spawn(c.arguments, out_);
        EXPECT_EQ(1, r.status) << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.message)) << r.output;
    }
    EXPECT_EQ("keep", ReadBytes(out_ / "target.txt"));
    EXPECT_TRUE(fs::is_symlink(out_ / "link.json"));
    EXPECT_TRUE(fs::is_fifo(out_ / "fifo.json"));
    EXPECT_EQ("1e10\n2e10\n1e10\n", ReadBytes(out_ / "channel.csv"));
    EXPECT_FALSE(fs::exists(out_ / "out" / stale));
    EXPECT_TRUE(fs::exists(out_ / "out" / ".notes.tmp999999"));
    EXPECT_TRUE(fs::exists(out_ / "out" / ".stale.csv.amirun-otherhost-999999.tmp"));

    std::string ibs = ReadBytes(KT_AMI_DIR "/KT7MRL40562D9.ibs");
    for (std::size_t at; (at = ibs.find("   KT7MRL40562D9_Rx_x64.so")) != std::string::npos;)
        ibs.replace(at, 27, " ../KT7MRL40562D9_Rx_x64.so");
    std::ofstream(out_ / "KT7MRL40562D9.ibs") << ibs;
    const Result r =
        Spawn({"init", "--ibs", "KT7MRL40562D9.ibs", "--model", "KT7MRL40562D9_Rx"}, out_);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("lies outside the .ibs file's folder")) << r.output;
}

// 28 Gb/s is no whole number of the model's samples: the run says which interval it chose, once,
// and its summary records the rate and interval it used.
TEST_F(AmirunRun, ALinkAtAnAwkwardRateRunsAtExactlyThatRate) {
    const Result r =
        Amirun("link " + kTx + " " + kRx + Out() + " --bit-rate 28e9 --bits 500 --json '" +
               (out_ / "l.json").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    std::size_t notes = 0;
    for (std::size_t at = 0; (at = r.output.find("time base:", at)) != std::string::npos; ++at)
        ++notes;
    EXPECT_EQ(1u, notes) << r.output;
    const std::string json = ReadBytes(out_ / "l.json");
    EXPECT_NE(std::string::npos, json.find("\"bit_rate\":2.8e+10,")) << json;
    EXPECT_NE(std::string::npos, json.find("\"samples_per_ui\":16,")) << json;
    EXPECT_NE(std::string::npos, json.find("(rx_samplerate 448000000000)")) << json;
    EXPECT_NE(std::string::npos, json.find("\"kept_dc_fraction\":0.99")) << json;
}

}  // namespace

namespace {

// The transmitter's small-signal DC gain for FG 3 is 2.15 (an independent host measured 1.00,
// 1.31, 1.68 and 2.15 for FG 0 to 3); at +-0.5 V its limiters compress it, which the run says.
TEST_F(AmirunRun, LinkTakesTheTransmitterAtTheBitsSwingAndSaysWhenItCompresses) {
    const std::string json = (out_ / "l.json").string();
    Result r = Amirun("link " + kTx + " " + kRx + Out() + " --tx-set FG=3 --bits 500 --json '" +
                      json + "'");
    ASSERT_EQ(0, r.status) << r.output;
    std::string text = ReadBytes(json);
    EXPECT_NEAR(2.15, std::stod(JsonNumber(text, "transmitter_probe", "small_signal_gain")), 0.01);
    EXPECT_LT(std::stod(JsonNumber(text, "transmitter_probe", "large_signal_gain")), 1.5);
    EXPECT_EQ("true", JsonNumber(text, "transmitter_probe", "compresses"));
    EXPECT_NE(std::string::npos, r.output.find("warning: the transmitter compresses")) << r.output;

    r = Amirun("link " + kTx + " " + kRx + Out() + " --tx-set FG=3 --amplitude 0.001 --bits 500" +
               " --json '" + json + "'");
    ASSERT_EQ(0, r.status) << r.output;
    text = ReadBytes(json);
    EXPECT_EQ("false", JsonNumber(text, "transmitter_probe", "compresses"));
    EXPECT_EQ(std::string::npos, r.output.find("compresses")) << r.output;
}

}  // namespace

namespace {

// optimize's best is the brute-force best: every pair of a small List run through link.
TEST_F(AmirunRun, OptimizeFindsTheBruteForceBest) {
    fs::create_directories(out_);
    std::string rx = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami"),
                tx = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Tx.ami");
    rx.replace(rx.find("(List 0 1 2"),
               rx.find(')', rx.find("(List 0 1 2")) - rx.find("(List 0 1 2"), "(List 2 8 14");
    tx.replace(tx.find("(List 0 1 2 3)"), 14, "(List 0 3)");
    std::ofstream(out_ / "rx.ami") << rx;
    std::ofstream(out_ / "tx.ami") << tx;
    const std::string models = kTx + " " + kRx + " --tx-ami '" + (out_ / "tx.ami").string() +
                               "' --rx-ami '" + (out_ / "rx.ami").string() +
                               "' --amplitude 0.001 --bits 500" + Out();
    const Result r = Amirun("optimize " + models + " --tx-param FG --rx-param EQ --json '" +
                            (out_ / "o.json").string() + "'");
    ASSERT_EQ(0, r.status) << r.output;
    const std::string json = ReadBytes(out_ / "o.json");
    double bestHeight = -1e9;
    std::string best;
    for (const char* fg : {"0", "3"})
        for (const char* eq : {"2", "8", "14"}) {
            const std::string file = (out_ / "l.json").string();
            const Result l = Amirun("link " + models + " --tx-set FG=" + fg + " --rx-set EQ=" + eq +
                                    " --json '" + file + "'");
            ASSERT_EQ(0, l.status) << l.output;
            const double height =
                std::stod(JsonNumber(ReadBytes(file), "statistical_eye", "height_v"));
            if (height > bestHeight) {
                bestHeight = height;
                best =
                    std::string("\"best\":{\"tx\":{\"FG\":\"") + fg + "\"},\"rx\":{\"EQ\":\"" + eq;
            }
        }
    EXPECT_NE(std::string::npos, json.find(best)) << best << "\n" << json.substr(0, 600);
    EXPECT_NE(std::string::npos, json.find("\"ranked_by\":\"statistical\""));
    EXPECT_TRUE(Png("KT7MRL40562D9_Tx__KT7MRL40562D9_Rx_optimize.png"));
}

}  // namespace

namespace {

// The datasheet against an independent host's measurements: the transmitter's small-signal DC
// gains 1.00, 1.31, 1.68 and 2.15 for FG 0 to 3 (SW 1); the receiver's DC gain 0.51 to 0.60 and
// its gain at 16 GHz 12.0 to 13.4 dB above DC for every EQ, which moves the mid band instead.
TEST_F(AmirunRun, TheDatasheetMatchesIndependentMeasurements) {
    const std::string json = (out_ / "d.json").string();
    Result r = Amirun("datasheet " + kTx + Out() + " --param FG --json '" + json + "'");
    ASSERT_EQ(0, r.status) << r.output;
    std::string text = ReadBytes(json);
    const double expected[] = {1.00, 1.31, 1.68, 2.15};
    std::size_t at = 0;
    for (double gain : expected) {
        at = text.find("\"dc_gain\":", at) + 10;
        EXPECT_NEAR(gain, std::stod(text.substr(at)), 0.01) << text;
    }
    r = Amirun("datasheet " + kRx + Out() + " --json '" + json + "'");
    ASSERT_EQ(0, r.status) << r.output;
    text = ReadBytes(json);
    double previousMid = -1e9;
    int rows = 0;
    for (at = text.find("\"dc_gain\":"); at != std::string::npos;
         at = text.find("\"dc_gain\":", at + 1), ++rows) {
        const double dc = std::stod(text.substr(at + 10));
        const std::size_t mid = text.find("\"quarter_nyquist_db\":", at) + 21;
        const std::size_t top = text.find("\"nyquist_db\":", at) + 13;
        EXPECT_GE(dc, 0.50);
        EXPECT_LE(dc, 0.61);
        EXPECT_NEAR(12.7, std::stod(text.substr(top)), 0.8);
        EXPECT_GT(std::stod(text.substr(mid)), previousMid);  // EQ raises the mid band
        previousMid = std::stod(text.substr(mid));
    }
    EXPECT_EQ(16, rows);
}

// A FIFO where a file is read is refused at once, never waited on: a channel, an .ami file, a
// plan, a report's results file.
TEST_F(AmirunRun, FifoInputsAreRefusedNotWaitedOn) {
    fs::create_directories(out_);
    for (const char* name : {"fifo.s4p", "fifo.ami", "plan.json", "results.jsonl"})
        ASSERT_EQ(0, mkfifo((out_ / name).c_str(), 0600));
    const std::string dir = out_.string();
    for (const std::string& arguments :
         {"init " + kRx + " --channel '" + dir + "/fifo.s4p'" + Out(),
          "init " + kRx + " --ami '" + dir + "/fifo.ami'" + Out(),
          "batch '" + dir + "/plan.json' --out '" + dir + "/b'",
          "report '" + dir + "/results.jsonl' --out '" + dir + "/r'"}) {
        SCOPED_TRACE(arguments);
        const Result r = Amirun(arguments, "", "timeout 60 ");
        EXPECT_EQ(1, r.status) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("not a plain file")) << r.output;
    }
}

// check --json may not replace a file the check read, also one found through an .ibs file.
TEST_F(AmirunRun, CheckNeverWritesOverWhatItRead) {
    fs::create_directories(out_);
    for (const char* name : {"KT7MRL40562D9.ibs", "KT7MRL40562D9_Rx.ami", "KT7MRL40562D9_Tx.ami"})
        fs::copy_file(fs::path(KT_IBIS_DIR) / name, out_ / name);
    const std::string ami = ReadBytes(out_ / "KT7MRL40562D9_Rx.ami");
    const Result r = Amirun("check '" + (out_ / "KT7MRL40562D9.ibs").string() + "' --json '" +
                            (out_ / "KT7MRL40562D9_Rx.ami").string() + "'");
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.output.find("it is an input of this run")) << r.output;
    EXPECT_EQ(ami, ReadBytes(out_ / "KT7MRL40562D9_Rx.ami"));
}

// sweep keeps to what a single run keeps to: List values of the parameter's Type only, and
// --strict when the model falls back to a default.
TEST_F(AmirunRun, SweepKeepsToTypesAndStrict) {
    fs::create_directories(out_);
    const std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    std::string renamed = ami, badList = ami;
    renamed.replace(renamed.find("(EQ (Usage In)"), 14, "(eq (Usage In)");
    badList.replace(badList.find("(List 0 1 2 3"), 13, "(List 0 1 2.5 3");
    WriteBytes(out_ / "renamed.ami", renamed);
    WriteBytes(out_ / "bad_list.ami", badList);
    Result r = Amirun("sweep " + kRx + " --channel-bits 8 --param eq --strict --ami '" +
                      (out_ / "renamed.ami").string() + "'" + Out());
    EXPECT_EQ(3, r.status) << r.output;
    r = Amirun("sweep " + kRx + " --channel-bits 8 --param EQ --ami '" +
               (out_ / "bad_list.ami").string() + "'" + Out());
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("2.5")) << r.output;
}

// Control bytes from input files reach the terminal as \xNN, never raw.
TEST_F(AmirunRun, ControlBytesFromFilesAreNotEchoedRaw) {
    fs::create_directories(out_);
    std::string ibs = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9.ibs");
    ibs.replace(ibs.find("[Component]"), 11, "[Bogus\x1b[2J\x07]\n[Component]");
    WriteBytes(out_ / "odd.ibs", ibs);
    std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    ami.replace(ami.find("    (Model_Specific"), 19,
                "    (Model_Specific\n        (label (Usage In) (Type String) (Value "
                "\"a\x1b]0;owned\x07\"))");
    WriteBytes(out_ / "odd.ami", ami);
    for (const std::string& arguments : {"check '" + (out_ / "odd.ibs").string() + "'",
                                         "init " + kRx + " --channel-bits 8 --ami '" +
                                             (out_ / "odd.ami").string() + "'" + Out()}) {
        SCOPED_TRACE(arguments);
        const Result r = Amirun(arguments);
        EXPECT_EQ(std::string::npos, r.output.find('\x1b')) << r.output;
        EXPECT_EQ(std::string::npos, r.output.find('\x07')) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("\\x1b")) << r.output;
    }
}

// The rate amirun sets for an awkward bit rate is written as a person would write it: 16 samples
// of 29 Gb/s are 4.64e11 samples/s, not 1 / dt's 463999999999.99994.
TEST_F(AmirunRun, TheRateItSetsCarriesNoRoundingNoise) {
    const Result r = Amirun("init " + kRx + " --bit-rate 29e9 --channel-bits 8" + Out());
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("(rx_samplerate 464000000000)")) << r.output;
}

// A channel file whose name is no UTF-8 runs, and a rerun finds its result again.
TEST_F(AmirunRun, ABatchRerunsPastAChannelNamedInOtherBytes) {
    fs::create_directories(out_);
    CopyKit(out_);
    fs::copy_file(KT_SOURCE_DIR "/tools/examples/pair_1to3.s4p", out_ / "caf\xe9.s4p");
    WriteBytes(out_ / "plan.json",
               R"({"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
                   "window_bits": 32, "channels": ["*.s4p"], "sweep": {"rx.EQ": [3]}})");
    const std::string batch =
        "batch '" + (out_ / "plan.json").string() + "' --out '" + (out_ / "b").string() + "'";
    Result r = Amirun(batch);
    ASSERT_EQ(0, r.status) << r.output;
    r = Amirun(batch);
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("1 already done, 0 to run")) << r.output;
    r = Amirun(batch + " --shard 1/-1");  // no wrapping round to a huge N
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("--shard takes K/N")) << r.output;
}

// The statistical eye says whether its linear transmitter holds: at 10 Gb/s the kit's
// transmitter is linear at every FG, at 32 Gb/s with FG 3 it compresses and the eye is marked.
TEST_F(AmirunRun, TheStatisticalEyeSaysWhereItDoesNotApply) {
    auto applies = [&](const std::string& rate, int fg) {
        const std::string json = (out_ / "link.json").string();
        const Result r =
            Amirun("link " + kTx + " " + kRx + " --window-bits 32 --bits 500" + " --bit-rate " +
                   rate + " --tx-set FG=" + std::to_string(fg) + " --json '" + json + "'" + Out());
        EXPECT_EQ(0, r.status) << r.output;
        return nlohmann::json::parse(ReadBytes(json))["link"]["statistical"]["applies"].get<bool>();
    };
    for (int fg = 0; fg <= 3; ++fg) EXPECT_TRUE(applies("10e9", fg)) << fg;
    EXPECT_FALSE(applies("32e9", 3));
}

}  // namespace
