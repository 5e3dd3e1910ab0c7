// amirun's exit statuses: each one what the table says, and the table the same in the code,
// every command's --help and the reference.
#include "tools/amirun/cli/ExitStatus.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"

namespace {

using namespace amirun;

class Statuses : public AmirunRun {};

TEST_F(Statuses, EachExitStatusIsWhatTheTableSays) {
    fs::create_directories(out_);
    // The receiver's .ami file without EQ: the model falls back to its default EQ.
    std::string ami = ReadBytes(KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami");
    const std::size_t from = ami.find("(EQ (Usage In)");
    ASSERT_NE(std::string::npos, from);
    std::size_t depth = 0, to = from;
    do depth += ami[to] == '(' ? 1 : ami[to] == ')' ? std::size_t(-1) : 0;
    while (++to < ami.size() && depth > 0);
    ami.erase(from, to - from);
    WriteBytes(out_ / "no_eq.ami", ami);
    // One run of a plan of two.
    WriteBytes(out_ / "half.jsonl",
               R"({"channel":"builtin:10","id":"d63011c91e29c047","plan":"4340c7811f64ff51",)"
               R"("runs":2,"settings":{"rx.EQ":"2"},"statistical":{"best_phase_ui":0,)"
               R"("height_v":0.15,"width_ui":0.375}})"
               "\n");
    const std::string out = Out();
    const struct {
        ExitStatus status;
        std::string arguments;
    } cases[] = {
        {kExitDone, "init " + kRx + " --channel-bits 8" + out},
        {kExitDone, "--version"},
        {kExitError, "init '" + (out_ / "missing.so").string() + "'" + out},
        {kExitUnreadable, "check '" + (out_ / "missing.ibs").string() + "'"},
        {kExitStrict, "init " + kRx + " --channel-bits 8 --strict --ami '" +
                          (out_ / "no_eq.ami").string() + "'" + out},
        {kExitIncomplete, "report '" + (out_ / "half.jsonl").string() + "'" + out},
        {kExitUsage, "link " + kTx + " " + kRx + " --no-such-option"},
        {kExitUsage, ""},
    };
    for (const auto& c : cases) {
        const Result r = Amirun(c.arguments);
        EXPECT_EQ(static_cast<int>(c.status), r.status) << c.arguments << "\n" << r.output;
    }
}

TEST_F(Statuses, EveryHelpAndTheReferenceShowTheOneTable) {
    const std::string reference = ReadBytes(KT_SOURCE_DIR "/docs/amirun.md");
    for (const ExitStatusRow& row : ExitStatuses()) {
        const std::string line =
            "| " + std::to_string(static_cast<int>(row.status)) + " | " + row.meaning + " |";
        EXPECT_NE(std::string::npos, reference.find(line)) << line;
    }
    for (const char* command : {"", "init", "getwave", "sweep", "link", "optimize", "datasheet",
                                "check", "batch", "report"}) {
        const Result r = Amirun(std::string(command) + " --help");
        EXPECT_EQ(0, r.status) << command;
        EXPECT_NE(std::string::npos, r.output.find(ExitStatusTable())) << command;
    }
}

}  // namespace
