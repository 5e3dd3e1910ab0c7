// Runs the built amirun on our libraries, small sizes, as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string output;  // standard output and standard error
};

Result Amirun(const std::string& arguments) {
    // The plotting library keeps allocations until exit; the sanitizer build would call them leaks.
    const std::string command =
        "ASAN_OPTIONS=detect_leaks=0 '" KT_AMIRUN "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Result result{-1, ""};
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class AmirunRun : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = fs::path(::testing::TempDir()) /
               ("amirun_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(out_);
    }
    void TearDown() override { fs::remove_all(out_); }
    std::string Out() const { return " --out '" + out_.string() + "'"; }
    bool Png(const std::string& name) const {
        const std::string bytes = Read(out_ / name);
        return bytes.size() > 1000 && bytes.compare(1, 3, "PNG") == 0;
    }
    fs::path out_;
};

const std::string kRx = "'" KT_AMI_DIR "/KT7MRL40562D9_Rx_x64.so'";
const std::string kTx = "'" KT_AMI_DIR "/KT7MRL40562D9_Tx_x64.so'";

TEST_F(AmirunRun, InitEqualizesTheBuiltInChannel) {
    const Result r = Amirun("init " + kRx + Out() + " --channel-bits 16 --set EQ=9");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 9))"));
    EXPECT_NE(std::string::npos, r.output.find("message: (none)"));
    EXPECT_NE(std::string::npos, r.output.find("eye after the model:  height 0."));
    EXPECT_TRUE(Png("KT7MRL40562D9_Rx_impulse.png"));
    EXPECT_TRUE(Png("KT7MRL40562D9_Rx_pulse.png"));
    const std::string csv = Read(out_ / "KT7MRL40562D9_Rx_impulse.csv");
    EXPECT_EQ(0u, csv.find("time_s,before_0,after_0\n"));
}

TEST_F(AmirunRun, InitReadsAnImpulseFileAndWarnsOfAForeignSampleInterval) {
    fs::create_directories(out_);
    std::ofstream(out_ / "matrix.csv") << "primary,aggressor\n3.84e11,0\n0,1e10\n0,0\n0,0\n";
    const Result r = Amirun("init " + kRx + Out() + " --impulse '" +
                            (out_ / "matrix.csv").string() + "' --sample-interval 1e-12");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find(
                  "warning: the sample interval 1e-12 s differs from the model's rx_samplerate"));
    const std::string csv = Read(out_ / "KT7MRL40562D9_Rx_impulse.csv");
    EXPECT_EQ(0u, csv.find("time_s,before_0,after_0,before_1,after_1\n"));
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
    std::string ami = Read(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
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
    const std::string one = Read(out_ / "one_wave.csv");
    EXPECT_GT(one.size(), 3000u);
    EXPECT_EQ(one, Read(out_ / "same_wave.csv"));
    EXPECT_NE(one, Read(out_ / "many_wave.csv"));  // another pattern
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
    const std::string csv = Read(out_ / "KT7MRL40562D9_Tx_sweep_FG.csv");
    EXPECT_EQ(5, std::count(csv.begin(), csv.end(), '\n'));  // header and four settings
}

}  // namespace
