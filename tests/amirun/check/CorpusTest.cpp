// The checker against the world: published files and files in their style (corpus/SOURCES.md),
// each with the verdict a careful modeller gives it, and legal variants that must stay clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"
#include "tools/amirun/check/Check.h"
#include "tools/amirun/check/CheckKeywords.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

// The corpus in a fresh folder of its own, with the kit's library stand-in.
class CheckCorpus : public AmirunRun {
protected:
    void SetUp() override {
        AmirunRun::SetUp();
        fs::copy(fs::path(KT_SOURCE_DIR) / "tests" / "amirun" / "check" / "corpus", out_);
        WriteBytes(out_ / "ami50_x64.so", "");  // the library stand-in the kit names
        // The published file's limit-table keyword, kept out of the repository's text.
        std::string published = ReadBytes(out_ / "ibis_v5_1.ibs");
        for (std::size_t at; (at = published.find("@MODEL_LIMITS@")) != std::string::npos;)
            published.replace(at, 14, kModelLimitsKeyword);
        WriteBytes(out_ / "ibis_v5_1.ibs", published);
    }

    // (file, rule, line) of every message.
    std::set<std::tuple<std::string, int, std::size_t>> Verdict(const std::string& file) {
        CheckReport report;
        std::set<std::string> checked;
        CheckFile((out_ / file).string(), "", report, checked);
        std::set<std::tuple<std::string, int, std::size_t>> found;
        for (const CheckMessage& m : report.Messages())
            found.emplace(fs::path(m.file).filename().string(), m.rule, m.line);
        text_ = report.Text();
        return found;
    }
    // The message expected in `file` at the line of `anchor`.
    std::tuple<std::string, int, std::size_t> At(const std::string& file, int rule,
                                                 const std::string& anchor) {
        return {file, rule, LineOf(ReadBytes(out_ / file), anchor)};
    }
    void Change(const std::string& file, const std::string& find, const std::string& replace) {
        std::string text = ReadBytes(out_ / file);
        const std::size_t at = text.find(find);
        ASSERT_NE(std::string::npos, at) << find;
        text.replace(at, find.size(), replace);
        WriteBytes(out_ / file, text);
    }

    std::string text_;
};

// Every ERROR and WARNING the checker gives these files is a true defect, and it finds them all.
TEST_F(CheckCorpus, EachFileGetsTheVerdictAModellerGivesIt) {
    const std::string v51 = "ibis_v5_1.ibs", series = "ibis_v4_1_series_pin_mapping.ibs",
                      rseries = "ibis_v4_1_r_series.ibs";
    struct Case {
        std::string file;
        std::set<std::tuple<std::string, int, std::size_t>> expected;
    };
    const Case cases[] = {
        // An [Algorithmic Model] with no Executable line; a sparse [Row] giving B2 twice, twice.
        // Its package model's [Manufacturer], the NA typ of its clamp tables, 'Vinl  = 515mV',
        // [Receiver Thresholds] and [Add Submodel] are all legal.
        {v51,
         {At(v51, 508, "[Algorithmic Model]"), At(v51, 706, "B2      1.90E-12"),
          At(v51, 706, "B2      2.13E-12")}},
        // Its [Series Pin Mapping] names a model the file does not have.
        {series,
         {At(series, 309, "   1       2       series_switch"),
          At(series, 309, "   3       4       series_switch")}},
        // [Notes] may appear once (ROAD8, kept since); this file gives it four times.
        {rseries,
         {At(rseries, 209, "[Notes]         [Rc Series]"),
          At(rseries, 209, "[Notes]         a [Model] block"),
          At(rseries, 209, "[Notes]         Series_switch")}},
        // An IBIS 5.0 kit in its own style: only the modern form of its reserved values is
        // suggested, and the shared .ami file's root name is noted.
        {"ami50_kit.ibs",
         {At("ami50.ami", 602, "(ami50\n"), At("ami50.ami", 621, "(Init_Returns_Impulse"),
          At("ami50.ami", 621, "(GetWave_Exists")}},
        {"path_to_pin.ebd", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(c.expected, Verdict(c.file)) << text_;
    }
}

// The defects the corpus files' own constructs can hide, each found on its own line.
TEST_F(CheckCorpus, DefectsInTheCorpusConstructsAreFound) {
    struct Case {
        const char* file;
        const char* find;
        const char* replace;
        int rule;
        const char* report;  // the file the message is in
        const char* anchor;  // the message's line, in that file
    };
    const Case cases[] = {
        // Vinl written without blanks is read: one above Vinh is found.
        {"ami50_kit.ibs", "Vinl=0.45V", "Vinl=0.65V", 403, "ami50_kit.ibs", "Vinh= 0.55V"},
        // A descending I-V table that turns back, or repeats a voltage.
        {"ami50_kit.ibs", " 0.00             0.00mA      NA", " 1.00             0.00mA      NA",
         407, "ami50_kit.ibs", " 1.00             0.00mA      NA"},
        // NA typ at a table's end; a min column with numbers that ends in NA.
        {"ami50_kit.ibs", " 2.00            40.00mA       36.36mA",
         " 2.00            NA       36.36mA", 108, "ami50_kit.ibs", " 2.00            NA"},
        {"ami50_kit.ibs", " 2.00            40.00mA       36.36mA",
         " 2.00            40.00mA       NA", 410, "ami50_kit.ibs",
         " 2.00            40.00mA       NA"},
        // The same kit at IBIS 5.1 needs AMI_Version; at 5.0 it must not have one.
        {"ami50_kit.ibs", "[IBIS Ver]      5.0", "[IBIS Ver]      5.1", 604, "ami50.ami",
         "(Reserved_Parameters"},
        {"ami50.ami", "    (Reserved_Parameters\n",
         "    (Reserved_Parameters\n        (AMI_Version (Usage Info) (Type String) (Value "
         "\"5.1\"))\n",
         619, "ami50.ami", "(AMI_Version"},
        // A commented-out parameter stays out, but a live one beside a Description is checked.
        {"ami50.ami", "(post (Usage In) (Type Float)", "(post (Usage In) (Type Flaot)", 607,
         "ami50.ami", "(post (Usage In)"},
        // A branch without a name is a parse error at its own line.
        {"ami50.ami", "        (tx_taps\n", "        (tx_taps ( )\n", 601, "ami50.ami", "(tx_taps"},
        // The package model inside the .ibs file is checked by the package rules.
        {"ibis_v5_1.ibs", "[Row]   B1\nB1      1.74E-09", "[Row]   B1\nB1      1.74E-09\nA1 1e-12",
         707, "ibis_v5_1.ibs", "A1 1e-12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.replace);
        SetUp();
        Change(c.file, c.find, c.replace);
        const std::string checked =
            std::string(c.file) == "ami50.ami" ? "ami50_kit.ibs" : std::string(c.file);
        const auto found = Verdict(checked);
        const auto expected = At(c.report, c.rule, c.anchor);
        EXPECT_TRUE(found.count(expected))
            << "expected rule " << c.rule << " at line " << std::get<2>(expected) << "\n"
            << text_;
    }
    // After a parse error the rest is still read: a bad Type further on is found too.
    SetUp();
    Change("ami50.ami", "        (tx_taps\n", "        (tx_taps ( )\n");
    Change("ami50.ami", "(gain (Usage In) (Type Float)", "(gain (Usage In) (Type Flaot)");
    const auto found = Verdict("ami50_kit.ibs");
    EXPECT_TRUE(found.count(At("ami50.ami", 601, "(tx_taps"))) << text_;
    EXPECT_TRUE(found.count(At("ami50.ami", 607, "(gain (Usage In)"))) << text_;
}

// The file's own [IBIS Ver] decides the limits: lines of 80 characters before 4.1, model names
// of 20 before 4.2, waveform tables of 100 rows before 4.0, lower-case file names before 7.0.
TEST_F(CheckCorpus, TheFilesVersionDecidesItsLimits) {
    struct Case {
        const char* before;  // the last version with the old limit
        const char* after;   // the first with the new one
        int rule;
        const char* find;
        std::string replace;
    };
    std::string waveform = "[Rising Waveform]\nR_fixture = 50\nV_fixture = 0\n";
    for (int k = 0; k < 150; ++k) waveform += std::to_string(k) + "p 0.1 NA NA\n";
    const Case cases[] = {
        // Its [Source] line has 95 characters.
        {"4.0", "4.1", 101, "[Source]        Written", "[Source]        Written"},
        {"4.1", "4.2", 312, "[Model]         ami50_rx", "[Model]         ami50_rx_named_with_23c"},
        {"3.2", "4.0", 413, "[Ramp]\n", waveform + "[Ramp]\n"},
        {"6.1", "7.0", 510, "ami50_x64.so   ami50.ami\n[End Algorithmic Model]\n|",
         "Ami50_x64.so   ami50.ami\n[End Algorithmic Model]\n|"},
    };
    for (const Case& c : cases) {
        for (const char* version : {c.before, c.after}) {
            SCOPED_TRACE(std::to_string(c.rule) + " at IBIS " + version);
            SetUp();
            Change("ami50_kit.ibs", c.find, c.replace);
            Change("ami50_kit.ibs", "[IBIS Ver]      5.0",
                   std::string("[IBIS Ver]      ") + version);
            const auto found = Verdict("ami50_kit.ibs");
            const bool flagged = std::any_of(found.begin(), found.end(), [&](const auto& m) {
                return std::get<1>(m) == c.rule;
            });
            EXPECT_EQ(version == c.before, flagged) << text_;
        }
    }
}

// CI controls: --ignore leaves rules out, --baseline the messages an earlier run's JSON holds
// (found again though lines above them moved); the JSON says which version's rules applied.
TEST_F(CheckCorpus, IgnoredRulesAndABaselineLeaveAcceptedMessagesOut) {
    const std::string file = "'" + (out_ / "ibis_v5_1.ibs").string() + "'";
    const std::string json = (out_ / "accepted.json").string();
    Result r = Amirun("check " + file + " --json '" + json + "'");
    EXPECT_EQ(1, r.status) << r.output;
    const nlohmann::json accepted = nlohmann::json::parse(ReadBytes(json));
    EXPECT_EQ("IBIS 5.1", accepted["checked"][0]["rules"]);
    EXPECT_FALSE(accepted["amirun_version"].get<std::string>().empty());
    EXPECT_EQ(3u, accepted["messages"].size());

    Change("ibis_v5_1.ibs", "[Notes]         For kibis QA\n",
           "[Notes]         For kibis QA\n|\n|\n");
    r = Amirun("check " + file + " --baseline '" + json + "'");
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("3 accepted by the baseline")) << r.output;
    // A new fault is not in the baseline.
    Change("ibis_v5_1.ibs", "B1      0.2560", "B1      0.2560\nB1      0.2561");
    r = Amirun("check " + file + " --baseline '" + json + "'");
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("ERROR 706")) << r.output;

    r = Amirun("check " + file + " --ignore 706,508");
    EXPECT_EQ(0, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("4 messages of --ignore'd rules left out"))
        << r.output;
    r = Amirun("check " + file + " --ignore 999");
    EXPECT_EQ(1, r.status) << r.output;
    WriteBytes(out_ / "not.json", "[1, 2");
    r = Amirun("check " + file + " --baseline '" + (out_ / "not.json").string() + "'");
    EXPECT_EQ(1, r.status) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("--baseline")) << r.output;
}

}  // namespace
}  // namespace amirun
