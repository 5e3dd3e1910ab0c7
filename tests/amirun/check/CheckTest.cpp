// The file checker against seeded faults: each case breaks one rule in a copy of the kit's own
// files (or in a small valid package or board file) and expects that rule's message on the line
// of the fault. The unchanged files must check clean.
#include "tools/amirun/check/Check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/Files.h"
#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/host/IbisFile.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

const char* const kPackage = R"([IBIS Ver] 7.1
[File Name] test.pkg
[File Rev] 1.0
[Define Package Model] PKG1
[Manufacturer] Test
[OEM] Test
[Description] A two-pin package
[Number Of Pins] 2
[Pin Numbers]
1
2
[Model Data]
[Inductance Matrix] Full_matrix
[Row] 1
1.0nH 0.1nH
[Row] 2
1.0nH
[Capacitance Matrix] Sparse_matrix
[Row] 1
1 0.5pF
[Row] 2
2 0.5pF
[End Model Data]
[End Package Model]
[End]
)";

const char* const kBoard = R"([IBIS Ver] 7.1
[File Name] test.ebd
[File Rev] 1.0
[Begin Board Description] BOARD1
[Manufacturer] Test
[Number Of Pins] 2
[Pin List] signal_name
A1 DATA
A2 GND
[Path Description] P1
Pin A1
Len = 0.5 L=8.0n C=2.0p /
Node U1.1
[Reference Designator Map]
U1 part.ibs Comp
[End Board Description]
[End]
)";

// The kit's .ibs and .ami files with stand-ins for the libraries, and the small package and
// board files, in a fresh folder.
class Checker : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kt_check_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const char* name :
             {"KT7MRL40562D9.ibs", "KT7MRL40562D9_Rx.ami", "KT7MRL40562D9_Tx.ami"})
            fs::copy_file(fs::path(KT_IBIS_DIR) / name, dir_ / name);
        for (const char* name : {"KT7MRL40562D9_Rx_x64.so", "KT7MRL40562D9_Rx_x64.dll",
                                 "KT7MRL40562D9_Tx_x64.so", "KT7MRL40562D9_Tx_x64.dll", "part.ibs"})
            WriteBytes(dir_ / name, "");
        WriteBytes(dir_ / "test.pkg", kPackage);
        WriteBytes(dir_ / "test.ebd", kBoard);
    }
    void TearDown() override { fs::remove_all(dir_); }

    CheckReport Check(const std::string& file) {
        CheckReport report;
        std::set<std::string> checked;
        CheckFile((dir_ / file).string(), "", report, checked);
        return report;
    }

    fs::path dir_;
};

TEST_F(Checker, TheKitAndTheSmallFilesCheckClean) {
    for (const char* file : {"KT7MRL40562D9.ibs", "test.pkg", "test.ebd"}) {
        const CheckReport report = Check(file);
        EXPECT_TRUE(report.Messages().empty()) << report.Text();
    }
}

// The checker and the host that loads a model read keywords by one rule: the .ibs file written
// with other case, blanks and underscores, and with [Comment Char] naming the comment character
// in force, checks clean and gives the host both models' libraries; a keyword line the host
// cannot read is an error of the checker's too.
TEST_F(Checker, TheHostLoadsWhatTheCheckerPasses) {
    std::string text = ReadBytes(dir_ / "KT7MRL40562D9.ibs");
    auto swap = [&](const std::string& from, const std::string& to) {
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
    };
    swap("[Algorithmic Model]", "[algorithmic  MODEL]");
    swap("[End Algorithmic Model]", "[End_Algorithmic_Model]");
    swap("[Model]         KT7MRL40562D9_Rx", "[MODEL]   KT7MRL40562D9_Rx");
    swap("[File Rev]", "[Comment Char] |_char\n[File Rev]");
    WriteBytes(dir_ / "KT7MRL40562D9.ibs", text);
    const CheckReport report = Check("KT7MRL40562D9.ibs");
    EXPECT_TRUE(report.Messages().empty()) << report.Text();
    const IbisFile ibis = ParseIbisFile(text);
    for (const char* model : {"KT7MRL40562D9_Tx", "KT7MRL40562D9_Rx"})
        for (const char* platform : {"Linux_gcc_64", "Windows_gcc_64"}) {
            const IbisExecutable found =
                FindExecutable(ibis, (dir_ / "KT7MRL40562D9.ibs").string(), model, platform);
            EXPECT_EQ(fs::path(found.amiFile).filename(), std::string(model) + ".ami");
        }

    swap("[Notes]         The", "[Notes          The");
    WriteBytes(dir_ / "KT7MRL40562D9.ibs", text);
    const CheckReport broken = Check("KT7MRL40562D9.ibs");
    ASSERT_EQ(1u, broken.Messages().size()) << broken.Text();
    EXPECT_EQ(105, broken.Messages().front().rule);
    EXPECT_THROW(ParseIbisFile(text), AmiFileError);
}

// Platform names are OS_compiler_bits; a name of any length gets its verdict (one of 100 000
// characters once overflowed the stack).
TEST_F(Checker, PlatformNamesOfAnyLength) {
    const std::string original = ReadBytes(dir_ / "KT7MRL40562D9.ibs");
    const std::pair<std::string, bool> names[] = {
        {"Linux_gcc4.8.5_64", true},
        {"Windows_VisualStudio_32", true},
        {"Linux_gcc_ver_1-2+3_64", true},
        {"Linux.x_gcc_64", false},
        {"Linux__64", false},
        {"Linux_gcc_48", false},
        {"Linux_64", false},
        {"_gcc_64", false},
        {"Linux_" + std::string(100000, 'a') + "_64", true},
        {"Linux_" + std::string(100000, '_') + "_64", false}};
    for (const auto& [name, good] : names) {
        SCOPED_TRACE(name.substr(0, 40));
        std::string text = original;
        text.replace(text.find("Linux_gcc_64"), 12, name);
        WriteBytes(dir_ / "KT7MRL40562D9.ibs", text);
        const CheckReport report = Check("KT7MRL40562D9.ibs");
        const bool flagged = std::any_of(report.Messages().begin(), report.Messages().end(),
                                         [](const CheckMessage& m) { return m.rule == 502; });
        EXPECT_EQ(!good, flagged);
    }
}

// A file reached twice (by a hard link) is read once; references past the lookup bound are said,
// not passed over.
TEST_F(Checker, LinksAreReadOnceAndUnlookedReferencesAreSaid) {
    const std::string ami = ReadBytes(dir_ / "KT7MRL40562D9_Rx.ami");
    WriteBytes(dir_ / "broken.ami", ami.substr(0, ami.size() / 2));
    fs::create_hard_link(dir_ / "broken.ami", dir_ / "again.ami");
    CheckReport twice;
    std::set<std::string> checked;
    CheckFile((dir_ / "broken.ami").string(), "", twice, checked);
    const std::size_t once = twice.Messages().size();
    ASSERT_GT(once, 0u);
    CheckFile((dir_ / "again.ami").string(), "", twice, checked);
    EXPECT_EQ(once, twice.Messages().size());

    std::string ibs = ReadBytes(dir_ / "KT7MRL40562D9.ibs");
    const std::string line =
        "Executable Linux_gcc_64    KT7MRL40562D9_Tx_x64.so   KT7MRL40562D9_Tx.ami\n";
    std::string many;
    for (int i = 0; i < 501; ++i) many += line;
    ibs.replace(ibs.find(line), line.size(), many);
    WriteBytes(dir_ / "KT7MRL40562D9.ibs", ibs);
    const CheckReport report = Check("KT7MRL40562D9.ibs");
    EXPECT_TRUE(std::any_of(report.Messages().begin(), report.Messages().end(),
                            [](const CheckMessage& m) { return m.rule == 4; }))
        << report.Text();
}

// '|' starts a comment in an .ami file, outside quoted strings: comments anywhere, a
// commented-out parameter and text after the tree change nothing for the checker or the host;
// a '|' inside a Description stays text.
TEST_F(Checker, AmiCommentsAreReadAsTheStandardSays) {
    const std::string plain = ReadBytes(dir_ / "KT7MRL40562D9_Rx.ami");
    std::string text = plain;
    text.replace(text.find("    (Model_Specific"), 19,
                 "    | the settings (all of them) \"quoted\n"
                 "    (Model_Specific   | EQ and the rate\n"
                 "        | (EQ2 (Usage In) (Type Integer) (List 0 1) (Default 0))");
    text.replace(text.find("(Description \"Equalizer"), 24, "(Description \"a | b: Equalizer");
    text += "| after the tree ) ( \"\n";
    WriteBytes(dir_ / "KT7MRL40562D9_Rx.ami", text);
    const CheckReport report = Check("KT7MRL40562D9.ibs");
    EXPECT_TRUE(report.Messages().empty()) << report.Text();
    const AmiModelDescription before = ParseAmiFile(plain), after = ParseAmiFile(text);
    EXPECT_EQ(BuildParameterString(before, ResolveValues(before, {})),
              BuildParameterString(after, ResolveValues(after, {})));
    EXPECT_EQ(nullptr, after.Find("EQ2"));
    ASSERT_NE(nullptr, after.Find("EQ"));
}

struct Fault {
    int rule;
    const char* file;  // the file changed; .ami faults are checked through the .ibs file
    const char* find;  // replaced by `replace`, first occurrence
    const char* replace;
    const char* at;            // where the message points: nullptr the fault, "" the file (line 0)
    const char* in = nullptr;  // the file the message is in, when not `file` (`at` is in it)
};

// An I-V table of 101 rows, one more than IBIS allows.
const std::string kLongTable = [] {
    std::string table = "[GND Clamp]\n";
    for (int k = 0; k <= 100; ++k)
        table += std::to_string(-1.0 + 0.01 * k) + " " + std::to_string(-k) + "mA NA NA\n";
    return table;
}();
const std::string kLongTableSeed = "R_load = 50\n" + kLongTable;

const Fault kFaults[] = {
    // lexical
    {101, "KT7MRL40562D9.ibs", "[Copyright]     The",
     "[Copyright]     The                                                                          "
     "                         ",
     nullptr},
    {102, "KT7MRL40562D9.ibs", "December 7, 2026", "December 7, 2026 \xc3\xa9", nullptr},
    {103, "KT7MRL40562D9.ibs", "R_pkg           0.10", "R_pkg\t0.10", nullptr},
    {104, "KT7MRL40562D9.ibs", "[Diff Pin]", "[Dif Pin]", nullptr},
    {105, "KT7MRL40562D9.ibs", "[Notes]         The", "[Notes          The", nullptr},
    {106, "KT7MRL40562D9.ibs", "[File Rev]      1.1\n", "[File Rev]      1.1\n[Comment Char] ab\n",
     "[Comment Char]"},
    {107, "KT7MRL40562D9.ibs", "C_comp          1.00pF", "C_comp          1.0x0pF", nullptr},
    {108, "KT7MRL40562D9.ibs", "C_comp          0.80pF", "C_comp          NA", nullptr},
    {109, "KT7MRL40562D9.ibs", "[Model]         KT7MRL40562D9_Rx", "[Model]         GND", nullptr},
    // structure
    {201, "KT7MRL40562D9.ibs", "[IBIS Ver]      7.1\n[File Name]     KT7MRL40562D9.ibs",
     "[File Name]     KT7MRL40562D9.ibs\n[IBIS Ver]      7.1", "[IBIS Ver]"},
    {202, "KT7MRL40562D9.ibs", "[IBIS Ver]      7.1", "[IBIS Ver]      7.9", nullptr},
    {203, "KT7MRL40562D9.ibs", "[File Name]     KT7MRL40562D9.ibs",
     "[File Name]     kt7mrl40562d9.ibs", nullptr},
    {204, "KT7MRL40562D9.ibs", "[File Rev]      1.1\n", "", ""},
    {205, "KT7MRL40562D9.ibs", "[Component]", "|[Component]", ""},
    {206, "KT7MRL40562D9.ibs", "[Manufacturer]  KT7MRL40562D9 IBIS-AMI model project\n", "",
     "[Component]"},
    {207, "KT7MRL40562D9.ibs", "[End]\n", "", ""},
    {208, "KT7MRL40562D9.ibs", "[Package]\n", "[Ramp]\n[Package]\n", "[Ramp]"},
    {209, "KT7MRL40562D9.ibs", "R_load = 50\n",
     "R_load = 50\n[Ramp]\ndV/dt_r 0.3/15p 0.3/15p 0.3/15p\ndV/dt_f 0.3/15p 0.3/15p 0.3/15p\n",
     "[Ramp]\ndV/dt_r 0.3/15p"},
    {209, "KT7MRL40562D9.ibs", "[Source]", "[Date]          again\n[Source]",
     "[Date]          again"},
    {210, "KT7MRL40562D9.ibs", "[End Algorithmic Model]\n", "", "[Algorithmic Model]"},
    {211, "KT7MRL40562D9.ibs", "[End]\n", "[End]\nmore text\n", "more text"},
    // cross-references
    {301, "KT7MRL40562D9.ibs", "5       VDD             POWER", "5       VDD             NOSUCH",
     nullptr},
    {302, "KT7MRL40562D9.ibs", "6       VSS             GND", "5       VSS             GND",
     nullptr},
    {303, "KT7MRL40562D9.ibs", "[Model]         KT7MRL40562D9_Rx",
     "[Model]         KT7MRL40562D9_Tx", "[Model]         KT7MRL40562D9_Tx\nModel_type      Input"},
    {304, "KT7MRL40562D9.ibs", "3           4        0.1V", "3           9        0.1V", nullptr},
    {305, "KT7MRL40562D9.ibs", "3           4        0.1V", "1           4        0.1V", nullptr},
    {306, "KT7MRL40562D9.ibs", "[Model]         KT7MRL40562D9_Tx",
     "[Model Selector] SEL\nNOSUCH  not a model\n[Model]         KT7MRL40562D9_Tx", "NOSUCH"},
    {307, "KT7MRL40562D9.ibs", "[End]\n",
     "[Model] SPARE\nModel_type Input\nC_comp 1pF 1pF 1pF\nVinl = 0.4\nVinh = 0.6\n[Voltage Range] "
     "1 1 1\n[End]\n",
     "[Model] SPARE"},
    {308, "KT7MRL40562D9.ibs", "5       VDD             POWER",
     "5       VDD             POWER   1.0", nullptr},
    {309, "KT7MRL40562D9.ibs", "[Diff Pin]  inv_pin",
     "[Series Pin Mapping]\n1 2 NOSUCH\n[Diff Pin]", "1 2 NOSUCH"},
    {310, "KT7MRL40562D9.ibs", "3           4        0.1V    0ns         NA          NA",
     "3           4        0.1V    0ns", nullptr},
    {311, "KT7MRL40562D9.ibs", "[Pin]   signal_name", "[Package Model] NOPKG\n[Pin]   signal_name",
     "[Package Model]"},
    {312, "KT7MRL40562D9.ibs", "[Model]         KT7MRL40562D9_Rx",
     "[Model]         KT7MRL40562D9_Rx_with_a_name_of_41_characters", nullptr},
    {313, "KT7MRL40562D9.ibs", "Model_type      Input",
     "Model_type      Input\n[Add Submodel]\nNOSUB Non-Driving", "NOSUB"},
    {314, "KT7MRL40562D9.ibs", "[End]\n", "[Submodel] SUB1\nSubmodel_type Weird\n[End]\n",
     "Submodel_type Weird"},
    {315, "KT7MRL40562D9.ibs", "Model_type      Output",
     "Model_type      Output\n[Driver Schedule]\nNOSUCH 1n NA NA NA", "NOSUCH 1n"},
    {316, "KT7MRL40562D9.ibs", "Model_type      Input",
     "Model_type      Input\n[Receiver Thresholds]\nVth = 0.5", "[Receiver Thresholds]"},
    // models
    {401, "KT7MRL40562D9.ibs", "Model_type      Output", "Model_type      Outptu", nullptr},
    {402, "KT7MRL40562D9.ibs", "C_comp          1.00pF        0.80pF        1.20pF\n", "",
     "[Model]         KT7MRL40562D9_Tx"},
    {403, "KT7MRL40562D9.ibs", "Vinl = 0.45V", "Vinl = 0.65V", "Vinh = 0.55V"},
    {404, "KT7MRL40562D9.ibs", "Vinl = 0.45V\nVinh = 0.55V\n", "",
     "[Model]         KT7MRL40562D9_Rx"},
    {405, "KT7MRL40562D9.ibs", "[Pullup]\n", "", "[Model]         KT7MRL40562D9_Tx"},
    {406, "KT7MRL40562D9.ibs", "[Voltage Range] 1.00V         0.95V         1.05V\n[Pulldown]",
     "[Pulldown]", "[Model]         KT7MRL40562D9_Tx"},
    {407, "KT7MRL40562D9.ibs", " 2.00            40.00mA", " 0.50            40.00mA", nullptr},
    {408, "KT7MRL40562D9.ibs", "R_load = 50\n",
     "R_load = 50\n[Rising Waveform]\nR_fixture = 50\n0.0 0.0 0.0 0.0\n2.0n 0.5 0.5 0.5\n1.0n 1.0 "
     "1.0 1.0\n",
     "1.0n 1.0"},
    {409, "KT7MRL40562D9.ibs", " 0.00             0.00mA        0.00mA        0.00mA",
     " 0.00             0.00mA        0.00mA", nullptr},
    {410, "KT7MRL40562D9.ibs", "-20.00mA      -18.18mA      -22.22mA",
     "-20.00mA      NA      -22.22mA", nullptr},
    {413, "KT7MRL40562D9.ibs", "R_load = 50\n", kLongTableSeed.c_str(), "[GND Clamp]"},
    {411, "KT7MRL40562D9.ibs", "dV/dt_r         0.30/15.0p", "dV/dt_r         0.30/-15.0p",
     nullptr},
    {412, "KT7MRL40562D9.ibs", "C_comp          1.00pF", "C_comp          1.30pF", nullptr},
    // [Algorithmic Model]
    {501, "KT7MRL40562D9.ibs", "KT7MRL40562D9_Tx_x64.so   KT7MRL40562D9_Tx.ami",
     "KT7MRL40562D9_Tx_x64.so", nullptr},
    {502, "KT7MRL40562D9.ibs", "Executable Windows_gcc_64  KT7MRL40562D9_Tx",
     "Executable Windows  KT7MRL40562D9_Tx", nullptr},
    {503, "KT7MRL40562D9.ibs", "KT7MRL40562D9_Tx_x64.so", "KT7MRL40562D9_Tx_x65.so", nullptr},
    {504, "KT7MRL40562D9.ibs", "x64.so   KT7MRL40562D9_Tx.ami", "x64.so   missing.ami", nullptr},
    {505, "KT7MRL40562D9.ibs", "x64.so   KT7MRL40562D9_Tx.ami", "x64.so   kt7mrl40562d9_tx.ami",
     nullptr},
    {506, "KT7MRL40562D9.ibs", "x64.so   KT7MRL40562D9_Tx.ami", "x64.so   ../KT7MRL40562D9_Tx.ami",
     nullptr},
    {507, "KT7MRL40562D9.ibs", "Linux_gcc_64    KT7MRL40562D9_Tx_x64.so",
     "Linux_gcc_64    KT7MRL40562D9_Tx_x64.dll", nullptr},
    {508, "KT7MRL40562D9.ibs",
     "Executable Linux_gcc_64    KT7MRL40562D9_Tx_x64.so   KT7MRL40562D9_Tx.ami\nExecutable "
     "Windows_gcc_64  KT7MRL40562D9_Tx_x64.dll  KT7MRL40562D9_Tx.ami\n",
     "", "[Algorithmic Model]"},
    {509, "KT7MRL40562D9.ibs", "x64.so   KT7MRL40562D9_Tx.ami", "x64.so   KT7MRL40562D9_Tx.txt",
     nullptr},
    {510, "KT7MRL40562D9.ibs", "[IBIS Ver]      7.1", "[IBIS Ver]      6.1",
     "Executable Linux_gcc_64    KT7MRL40562D9_Tx_x64.so"},
    // AMI
    {601, "KT7MRL40562D9_Rx.ami", "    (Description \"KT7MRL40562D9 receiver",
     ") (Description \"KT7MRL40562D9 receiver", nullptr},
    {602, "KT7MRL40562D9_Rx.ami", "(KT7MRL40562D9_Rx\n", "(KT7MRL40562D9_Rxx\n", nullptr},
    {603, "KT7MRL40562D9_Rx.ami", "(Reserved_Parameters", "(Reserved_Params", "(KT7MRL40562D9_Rx"},
    {604, "KT7MRL40562D9_Rx.ami", "(GetWave_Exists", "(GetWave_Exist", "(Reserved_Parameters"},
    {605, "KT7MRL40562D9_Rx.ami", "(GetWave_Exists",
     "(Bogus_Reserved (Usage Info) (Type Boolean) (Value True))\n(GetWave_Exists", nullptr},
    {606, "KT7MRL40562D9_Rx.ami", "(EQ (Usage In)", "(EQ (Usage Input)", nullptr},
    {607, "KT7MRL40562D9_Rx.ami", "(EQ (Usage In) (Type Integer)", "(EQ (Usage In) (Type Int)",
     nullptr},
    {608, "KT7MRL40562D9_Rx.ami", "(Type Integer) (List", "(Type Integer) (Value 3) (List",
     nullptr},
    {609, "KT7MRL40562D9_Rx.ami", "(rx_samplerate (Usage In) (Type Float)",
     "(rx_samplerate (Usage In) (Type Boolean)", nullptr},
    {610, "KT7MRL40562D9_Rx.ami", "(Range 3.84e11 1e10 1e14)", "(Range 3.84e11 1e12 1e14)",
     "(rx_samplerate"},
    {611, "KT7MRL40562D9_Rx.ami", "(Default 15)", "(Default 16)", nullptr},
    {612, "KT7MRL40562D9_Rx.ami", "(List 0 1 2 3", "(List 0 1.5 2 3", nullptr},
    {613, "KT7MRL40562D9_Rx.ami", "(Init_Returns_Impulse (Usage Info)",
     "(Init_Returns_Impulse (Usage In)", nullptr},
    {614, "KT7MRL40562D9_Rx.ami", "        (rx_samplerate",
     "        (EQ (Usage In) (Type Integer) (Value 1))\n        (rx_samplerate",
     "(EQ (Usage In) (Type Integer) (List"},
    {615, "KT7MRL40562D9_Rx.ami", "(EQ (Usage In)", "(EQ (Usgae In) (Usage In)", nullptr},
    {616, "KT7MRL40562D9_Rx.ami", "(Value \"7.0\")", "(Value \"7.7\")", nullptr},
    {617, "KT7MRL40562D9_Rx.ami", "(Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True)",
     "(Init_Returns_Impulse (Usage Info) (Type Boolean) (Value False)", "(Reserved_Parameters"},
    {618, "KT7MRL40562D9_Rx.ami", "    (Reserved_Parameters",
     "    (Model_Specific)\n    (Reserved_Parameters", "(Reserved_Parameters"},
    {619, "KT7MRL40562D9.ibs", "[IBIS Ver]      7.1", "[IBIS Ver]      5.0", "(AMI_Version",
     "KT7MRL40562D9_Rx.ami"},
    {620, "KT7MRL40562D9_Rx.ami", "(GetWave_Exists",
     "(Tx_Rj (Usage Info) (Type UI) (Value 0.01))\n(GetWave_Exists", nullptr},
    {621, "KT7MRL40562D9_Rx.ami", "(Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True)",
     "(Init_Returns_Impulse (Usage Info) (Type Boolean) (Default True)", nullptr},
    // package and board files
    {701, "test.pkg", "[End Package Model]\n", "", "[Define Package Model]"},
    {702, "test.pkg", "[Number Of Pins] 2", "[Number Of Pins] 3", nullptr},
    {703, "test.pkg", "[Capacitance Matrix] Sparse_matrix\n[Row] 1\n1 0.5pF\n[Row] 2\n2 0.5pF\n",
     "", "[Model Data]"},
    {704, "test.pkg", "Full_matrix", "Fat_matrix", nullptr},
    {705, "test.pkg", "[Row] 2\n1.0nH", "[Row] 7\n1.0nH", nullptr},
    {706, "test.pkg", "[Row] 1\n1 0.5pF\n", "[Row] 1\n1 0.5pF\n1 0.6pF\n", "1 0.6pF"},
    {707, "test.pkg", "[Row] 2\n2 0.5pF\n", "[Row] 2\n2 0.5pF\n1 0.1pF\n", "1 0.1pF"},
    {708, "test.pkg", "[Row] 1\n1.0nH 0.1nH", "[Row] 1\n1.0nH", "[Row] 1"},
    {709, "test.pkg", "Full_matrix", "Banded_matrix", nullptr},
    {711, "test.ebd", "[End Board Description]\n", "", "[Begin Board Description]"},
    {712, "test.ebd", "[Number Of Pins] 2", "[Number Of Pins] 3", nullptr},
    {713, "test.ebd", "Pin A1", "Pin A9", nullptr},
    {714, "test.ebd", "Node U1.1", "Len = 0.1 L=1n C=1p /", "[Path Description]"},
    {715, "test.ebd", "part.ibs", "none.ibs", nullptr},
    {716, "test.ebd", "[Manufacturer] Test\n", "", "[Begin Board Description]"},
};

TEST_F(Checker, EverySeededFaultIsFoundOnItsLine) {
    std::set<int> rulesSeeded;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE("rule " + std::to_string(fault.rule));
        rulesSeeded.insert(fault.rule);
        SetUp();
        const std::string original = ReadBytes(dir_ / fault.file);
        const std::size_t at = original.find(fault.find);
        ASSERT_NE(std::string::npos, at) << "the case's text is not in " << fault.file;
        std::string changed = original;
        changed.replace(at, std::string(fault.find).size(), fault.replace);
        WriteBytes(dir_ / fault.file, changed);
        const std::string reported = fault.in != nullptr ? fault.in : fault.file;
        const std::string where = fault.in != nullptr ? ReadBytes(dir_ / fault.in) : changed;
        const std::size_t line = fault.at == nullptr ? LineOf(changed, fault.replace)
                                 : *fault.at == '\0' ? 0
                                                     : LineOf(where, fault.at);
        const std::string checked = std::string(fault.file).find(".ami") != std::string::npos
                                        ? "KT7MRL40562D9.ibs"
                                        : fault.file;
        const CheckReport report = Check(checked);
        const bool found = std::any_of(report.Messages().begin(), report.Messages().end(),
                                       [&](const CheckMessage& m) {
                                           return m.rule == fault.rule && m.line == line &&
                                                  fs::path(m.file).filename() == reported;
                                       });
        EXPECT_TRUE(found) << "expected rule " << fault.rule << " on line " << line << "; got\n"
                           << report.Text();
    }
    // Every rule of the file types has its seeded fault; the file-level ones follow.
    for (const CheckRule& rule : CheckRules()) {
        if (rule.number >= 100) {
            EXPECT_TRUE(rulesSeeded.count(rule.number)) << rule.number;
        }
    }
}

TEST_F(Checker, FilesThatCannotBeCheckedSaySo) {
    std::set<std::string> checked;
    CheckReport report;
    EXPECT_FALSE(CheckFile((dir_ / "absent.ibs").string(), "", report, checked));
    fs::resize_file(dir_ / "test.ebd", (std::uintmax_t{16} << 20) + 1);  // sparse: no real bytes
    EXPECT_TRUE(CheckFile((dir_ / "test.ebd").string(), "", report, checked));
    WriteBytes(dir_ / "notes.txt", "");
    EXPECT_TRUE(CheckFile((dir_ / "notes.txt").string(), "", report, checked));
    std::vector<int> rules;
    for (const CheckMessage& m : report.Messages()) {
        rules.push_back(m.rule);
        EXPECT_EQ(0u, m.line) << m.text;  // about the file as a whole
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3}), rules);
}

// A file with a thousand copies of a fault keeps twenty messages of it and counts the rest.
TEST_F(Checker, AFloodOfOneFaultIsCappedAndCounted) {
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "\x01\n";
    std::string text = kPackage;
    text.insert(text.find("[Pin Numbers]"), lines);
    WriteBytes(dir_ / "test.pkg", text);
    const CheckReport report = Check("test.pkg");
    EXPECT_EQ(1000u, report.Count(Severity::Error));
    const auto counted = report.Suppressed();
    const auto suppressed = counted.begin();
    ASSERT_NE(counted.end(), suppressed);
    EXPECT_EQ(102, suppressed->first.second);
    EXPECT_EQ(1000u - CheckReport::kMessagesPerRule, suppressed->second);
}

// The rule table of docs/check.md lists every rule with its severity, and nothing else.
// The rule table of docs/check.md is the rule list itself, row by row and in order.
TEST(CheckRules, TheDocsTableListsEveryRule) {
    const std::string docs = ReadBytes(fs::path(KT_SOURCE_DIR) / "docs" / "check.md");
    std::string table = "| Rule | Severity | What it finds |\n|---|---|---|\n";
    for (const CheckRule& rule : CheckRules())
        table += "| " + std::to_string(rule.number) + " | " + SeverityName(rule.severity) + " | " +
                 rule.summary + " |\n";
    EXPECT_NE(std::string::npos, docs.find(table)) << "docs/check.md's table should be:\n" << table;
}

}  // namespace
}  // namespace amirun
