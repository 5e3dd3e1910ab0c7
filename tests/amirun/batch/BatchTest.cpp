// Batch plans, results files and their report: the run list, resuming after a kill, merging.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/Files.h"
#include "tests/support/Kit.h"
#include "tools/amirun/batch/BatchReport.h"
#include "tools/amirun/batch/Plan.h"
#include "tools/amirun/batch/Results.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("batch_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "ch");
        CopyKit(dir_);
        for (const char* channel : {"a.s4p", "b.s4p", "c.txt"})
            WriteBytes(dir_ / "ch" / channel, "");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Short windows keep the runs quick (the sanitizer build runs them too).
    std::string PlanWith(const std::string& channels, const std::string& sweep) {
        const fs::path path = dir_ / "plan.json";
        WriteBytes(path, R"({"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
                        "window_bits": 32, "channels": )" +
                             channels + R"(, "sweep": )" + sweep + "}");
        return path.string();
    }
    std::pair<ModelRun, ModelRun> Models() {
        ModelRun tx, rx;
        tx.description = ReadAmiFile((dir_ / "KT7MRL40562D9_Tx.ami").string());
        rx.description = ReadAmiFile((dir_ / "KT7MRL40562D9_Rx.ami").string());
        return {tx, rx};
    }
    std::vector<PlanRun> Runs(const Plan& plan) {
        const auto [tx, rx] = Models();
        return ExpandRuns(plan, tx, rx);
    }

    fs::path dir_;
};

// Channels times the product of the swept values, "all" from the model's List; ids that depend
// on the run alone; shards that split the list exactly.
TEST_F(Batch, ThePlanGivesEveryRunOnceWithAStableId) {
    const Plan plan =
        ReadPlan(PlanWith(R"(["ch/*.s4p", "builtin:20"])", R"({"tx.FG": [0, 3], "rx.EQ": "all"})"));
    ASSERT_EQ((std::vector<std::string>{"ch/a.s4p", "ch/b.s4p", "builtin:20"}), plan.channelNames);
    const std::vector<PlanRun> runs = Runs(plan);
    ASSERT_EQ(3u * 2u * 16u, runs.size());
    std::set<std::string> ids;
    for (const PlanRun& r : runs) ids.insert(r.id);
    EXPECT_EQ(runs.size(), ids.size());
    std::set<std::string> sharded;
    const auto [tx, rx] = Models();
    const RunSpace space(plan, tx, rx);
    for (std::size_t k = 0; k < 5; ++k)
        for (const PlanRun& r : space.Shard(k, 5)) EXPECT_TRUE(sharded.insert(r.id).second);
    EXPECT_EQ(ids, sharded);
    // Another order of the channels and sweep values: other positions, the same ids.
    const Plan reordered = ReadPlan(PlanWith(R"(["builtin:20", "ch/b.s4p", "ch/a.s4p"])",
                                             R"({"rx.EQ": "all", "tx.FG": [3, 0]})"));
    std::set<std::string> again;
    for (const PlanRun& r : Runs(reordered)) again.insert(r.id);
    EXPECT_EQ(ids, again);
    EXPECT_NE(plan.fingerprint, reordered.fingerprint);  // but it is another plan
    EXPECT_THROW(ReadPlan(PlanWith(R"(["ch/*.nothing"])", "{}")), PlanError);
    EXPECT_THROW(ReadPlan(PlanWith(R"(["builtin:20"])", R"({"FG": [1]})")), PlanError);
}

TEST_F(Batch, AResultsFileLosesOnlyAKilledRunsHalfLine) {
    const fs::path file = dir_ / "results.jsonl";
    const std::string good = R"({"id":"a","plan":"p","runs":3})"
                             "\n"
                             R"({"id":"b","plan":"p","runs":3})"
                             "\n";
    WriteBytes(file, good + R"({"id":"c","pl)");
    EXPECT_EQ((std::set<std::string>{"a", "b"}), RecoverResults(file.string(), "p"));
    EXPECT_EQ(good, ReadBytes(file));
    WriteBytes(file, good + "{");  // killed after one byte
    EXPECT_EQ((std::set<std::string>{"a", "b"}), RecoverResults(file.string(), "p"));
    EXPECT_EQ(good, ReadBytes(file));
    EXPECT_THROW(RecoverResults(file.string(), "q"), ResultsError);  // another plan's file
    WriteBytes(file, R"({"id":"a","plan":"p"})"
                     "\nnot json\n"
                     R"({"id":"b","plan":"p"})"
                     "\n");
    EXPECT_THROW(RecoverResults(file.string(), "p"), ResultsError);
    const std::string unchanged = ReadBytes(file);
    EXPECT_EQ(3, std::count(unchanged.begin(), unchanged.end(), '\n'));  // left as it was
}

// A run id as batch writes them: 16 hexadecimal digits.
std::string Id(const std::string& digits) { return std::string(16 - digits.size(), '0') + digits; }

std::string Line(const std::string& id, const std::string& channel, double height,
                 const std::string& plan = "p") {
    return R"({"id":")" + Id(id) + R"(","plan":")" + plan + R"(","runs":4,"channel":")" + channel +
           R"(","settings":{"tx.FG":"0","rx.EQ":")" + id + R"("},"statistical":{"height_v":)" +
           std::to_string(height) + R"(,"width_ui":0.5}})" + "\n";
}

TEST_F(Batch, MergingCountsMissingAndDuplicateRunsAndRefusesMixedPlans) {
    WriteBytes(dir_ / "r0.jsonl", Line("1", "x", 0.10) + Line("2", "x", 0.30));
    WriteBytes(dir_ / "r1.jsonl", Line("2", "x", 0.30) + Line("3", "y", 0.05) + "{\"id\":\"4\",");
    const MergedResults merged =
        MergeResults({(dir_ / "r0.jsonl").string(), (dir_ / "r1.jsonl").string()});
    EXPECT_EQ(3u, merged.runs.size());
    EXPECT_EQ(1u, merged.Missing());
    EXPECT_EQ((std::vector<std::string>{Id("2")}), merged.duplicates);
    EXPECT_EQ(1u, merged.broken);
    const auto best = RankPerChannel(merged);
    EXPECT_EQ(Id("2"), best.at("x").front()->id);
    WriteBytes(dir_ / "r2.jsonl", Line("1", "x", 0.11));  // the same run, another figure
    EXPECT_THROW(MergeResults({(dir_ / "r0.jsonl").string(), (dir_ / "r2.jsonl").string()}),
                 ResultsError);
    WriteBytes(dir_ / "r3.jsonl", Line("9", "x", 0.1, "other"));
    EXPECT_THROW(MergeResults({(dir_ / "r0.jsonl").string(), (dir_ / "r3.jsonl").string()}),
                 ResultsError);
}

int RunAmirun(const std::vector<std::string>& arguments, const fs::path& dir,
              const std::function<bool(pid_t)>& whileRunning = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        std::vector<char*> argv{const_cast<char*>(KT_AMIRUN)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execv(KT_AMIRUN, argv.data());
        _exit(127);
    }
    if (whileRunning) whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A shard killed mid-run and started again ends with the lines of an uninterrupted run.
TEST_F(Batch, AKilledShardRerunEqualsAnUninterruptedOne) {
    const std::string plan =
        PlanWith(R"(["builtin:10", "builtin:20"])", R"({"tx.FG": [0, 3], "rx.EQ": [4, 12]})");
    ASSERT_EQ(0, RunAmirun({"batch", plan, "--out", "whole", "--jobs", "1"}, dir_));
    const std::string whole = ReadBytes(dir_ / "whole" / "results-0-of-1.jsonl");
    ASSERT_EQ(8, std::count(whole.begin(), whole.end(), '\n'));
    const fs::path killed = dir_ / "killed" / "results-0-of-1.jsonl";
    RunAmirun({"batch", plan, "--out", "killed", "--jobs", "1"}, dir_, [&](pid_t pid) {
        for (int i = 0; i < 3000; ++i) {  // until two runs are in, then SIGKILL
            const std::string part = ReadBytes(killed);
            if (std::count(part.begin(), part.end(), '\n') >= 2) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        return true;
    });
    const std::string part = ReadBytes(killed);
    EXPECT_LT(std::count(part.begin(), part.end(), '\n'), 8);
    std::ofstream(killed, std::ios::app) << R"({"id":"half a li)";  // as a kill mid-write would
    ASSERT_EQ(0, RunAmirun({"batch", plan, "--out", "killed", "--jobs", "2"}, dir_));
    EXPECT_EQ(SortedLines(whole), SortedLines(ReadBytes(killed)));
}

// The plan's run ids are FNV-1a, 64 bits: its published test vectors.
TEST(PlanIds, HashAsPublished) {
    EXPECT_EQ("cbf29ce484222325", Fnv1a64Hex(""));
    EXPECT_EQ("af63dc4c8601ec8c", Fnv1a64Hex("a"));
    EXPECT_EQ("85944171f73967e8", Fnv1a64Hex("foobar"));
}

// Four settings on three channels, ranked by hand: by the worst channel (not the best, where
// FG=0 would win), ties by the mean and then by name; per channel by height, then width, then
// the settings' order.
TEST_F(Batch, TheReportRanksByTheWorstChannelAndBreaksTiesAsItSays) {
    struct Row {
        const char* fg;
        double a, b, c, widthA;
    };
    const Row rows[] = {{"0", 0.30, 0.05, 0.30, 0.5},
                        {"1", 0.10, 0.10, 0.10, 0.5},
                        {"2", 0.10, 0.20, 0.15, 0.6},
                        {"3", 0.10, 0.20, 0.15, 0.6}};
    std::string text;
    int id = 0;
    for (const Row& row : rows)
        for (const auto& [channel, height] :
             {std::pair{"A", row.a}, std::pair{"B", row.b}, std::pair{"C", row.c}}) {
            char hex[17];
            std::snprintf(hex, sizeof hex, "%016x", ++id);
            text += std::string(R"({"id":")") + hex + R"(","plan":"p","runs":12,"channel":")" +
                    channel + R"(","settings":{"tx.FG":")" + row.fg +
                    R"("},"statistical":{"height_v":)" + std::to_string(height) +
                    R"(,"width_ui":)" + std::to_string(channel[0] == 'A' ? row.widthA : 0.5) +
                    "}}\n";
        }
    WriteBytes(dir_ / "results.jsonl", text);
    const MergedResults merged = MergeResults({(dir_ / "results.jsonl").string()});
    ASSERT_EQ(12u, merged.runs.size());
    std::vector<std::string> order;
    for (const SettingScore& s : RankSettings(merged)) order.push_back(s.tx);
    EXPECT_EQ((std::vector<std::string>{"FG=2", "FG=3", "FG=1", "FG=0"}), order);
    std::vector<std::string> channelA;
    const auto perChannel = RankPerChannel(merged);
    for (const ResultRun* run : perChannel.at("A")) channelA.push_back(run->Side("tx."));
    EXPECT_EQ((std::vector<std::string>{"FG=0", "FG=2", "FG=3", "FG=1"}), channelA);
}

// A plan's numbers take the command line's ranges, whole numbers stay whole, and a value nested
// without bound is refused without being shown (showing it once overflowed the stack).
TEST_F(Batch, PlansAreReadAsTheCommandLineReadsItsOptions) {
    auto error = [&](const std::string& extra) -> std::string {
        const fs::path path = dir_ / "plan.json";
        WriteBytes(path, R"({"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
                             "channels": ["builtin:20"])" +
                             extra + "}");
        try {
            ReadPlan(path.string());
        } catch (const PlanError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ("", error(R"(, "noise_rms_v": 5, "window_bits": 64, "bits": 2e3)"));
    EXPECT_NE(std::string::npos, error(R"(, "window_bits": 0.5)").find("a whole number"));
    EXPECT_NE(std::string::npos, error(R"(, "rj_rms_ui": 0.3)").find("[0, 0.1]"));
    EXPECT_EQ("", error(R"(, "bit_rate": 5e12)"));
    const std::string deep = std::string(80000, '[') + std::string(80000, ']');
    EXPECT_NE(std::string::npos, error(R"(, "flows": [)" + deep + "]").find("\"flows\""));
}

// Results files as an adversary or an accident leaves them: a crafted id, a null height, lines
// that disagree on the plan's size are refused naming the file and line; a link, a FIFO or a
// device where the results file should be is refused without being read, cut or waited on; a
// second batch on the same file is refused while the first holds it.
TEST_F(Batch, HostileResultsFilesAreRefusedAndNeverFollowed) {
    auto refusal = [&](const std::string& text) -> std::string {
        WriteBytes(dir_ / "r.jsonl", text);
        try {
            MergeResults({(dir_ / "r.jsonl").string()});
        } catch (const ResultsError& error) {
            return error.what();
        }
        return "";
    };
    std::string crafted = Line("1", "x", 0.1);
    crafted.replace(crafted.find(Id("1")), 16, "<script>x</script>");
    EXPECT_NE(std::string::npos, refusal(Line("2", "x", 0.1) + crafted).find("line 2: the run id"));
    std::string null = Line("1", "x", 0.1);
    null.replace(null.find("0.100000"), 8, "null");
    EXPECT_NE(std::string::npos, refusal(null).find("r.jsonl: line 1: not a result line"));
    std::string other = Line("2", "x", 0.1);
    other.replace(other.find("\"runs\":4"), 8, "\"runs\":9");
    EXPECT_NE(std::string::npos,
              refusal(Line("1", "x", 0.1) + other).find("line 2: says the plan"));

    WriteBytes(dir_ / "target.txt", "keep\nthis");
    fs::create_symlink(dir_ / "target.txt", dir_ / "link.jsonl");
    EXPECT_THROW(RecoverResults((dir_ / "link.jsonl").string(), "p"), ResultsError);
    EXPECT_EQ("keep\nthis", ReadBytes(dir_ / "target.txt"));
    ASSERT_EQ(0, mkfifo((dir_ / "fifo.jsonl").c_str(), 0600));
    EXPECT_THROW(RecoverResults((dir_ / "fifo.jsonl").string(), "p"), ResultsError);
    fs::create_symlink("/dev/zero", dir_ / "zero.jsonl");
    EXPECT_THROW(ResultsWriter((dir_ / "zero.jsonl").string()), ResultsError);
    std::size_t broken = 0;
    EXPECT_THROW(ReadResultLines((dir_ / "fifo.jsonl").string(), broken), ResultsError);

    ResultsWriter first((dir_ / "locked.jsonl").string());
    try {
        ResultsWriter second((dir_ / "locked.jsonl").string());
        ADD_FAILURE() << "two writers on one results file";
    } catch (const ResultsError& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("another batch"));
    }
}

// The page lets its own script run and no other: the policy names the script's SHA-256, as
// sha256sum computes it.
TEST_F(Batch, ThePagesPolicyNamesItsOwnScript) {
    WriteBytes(dir_ / "script.js", ReportScript());
    FILE* pipe = popen(("sha256sum '" + (dir_ / "script.js").string() + "'").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    char hex[65] = {};
    ASSERT_EQ(64u, fread(hex, 1, 64, pipe));
    pclose(pipe);
    std::string bytes;
    for (int i = 0; i < 64; i += 2) bytes += char(std::stoi(std::string(hex + i, 2), nullptr, 16));
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string base64;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 |
                           (i + 1 < bytes.size() ? (unsigned char)bytes[i + 1] << 8 : 0) |
                           (i + 2 < bytes.size() ? (unsigned char)bytes[i + 2] : 0);
        base64 += digits[v >> 18 & 63];
        base64 += digits[v >> 12 & 63];
        base64 += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        base64 += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    WriteBytes(dir_ / "r.jsonl", Line("1", "x", 0.1));
    const std::string page = ResultsHtml(MergeResults({(dir_ / "r.jsonl").string()}));
    EXPECT_NE(std::string::npos, page.find("script-src 'sha256-" + base64 + "'")) << base64;
    EXPECT_NE(std::string::npos, page.find(std::string("<script>") + ReportScript() + "</script>"));
}

// A plan's swept values are checked against the models' .ami files as --set checks them, before
// anything runs; the number of runs is computed, not listed, and a shard holds only its own.
TEST_F(Batch, SweepValuesAreCheckedAndRunsMadeByIndex) {
    const auto [tx, rx] = Models();
    for (const char* sweep :
         {R"({"rx.EQ": ["abc"]})", R"({"rx.EQ": ["15 "]})", R"({"rx.EQ": [2.5]})",
          R"({"rx.eq": [1]})", R"({"tx.NOPE": [1]})", R"({"rx.EQ": ["3) (rx_samplerate 1e10"]})"}) {
        SCOPED_TRACE(sweep);
        const Plan plan = ReadPlan(PlanWith(R"(["builtin:20"])", sweep));
        EXPECT_THROW(RunSpace(plan, tx, rx), PlanError);
    }
    std::string channels = "[";
    for (int c = 0; c < 10000; ++c)
        channels += (c ? ",\"builtin:" : "\"builtin:") + std::to_string(1 + c % 99) + "." +
                    std::to_string(c / 99) + "\"";
    channels += "]";
    const Plan large = ReadPlan(PlanWith(channels, R"({"tx.FG": "all", "tx.SW": "all",
                                                        "rx.EQ": "all"})"));
    const RunSpace space(large, tx, rx);
    EXPECT_EQ(10000u * 4u * 2u * 16u, space.Count());
    const std::vector<PlanRun> shard = space.Shard(7, 1000000);
    ASSERT_EQ(2u, shard.size());  // runs 7 and 1 000 007
    EXPECT_EQ(space.At(1000007).id, shard[1].id);
    const std::string rates =
        "[3.84e11, 3.85e11, 3.86e11, 3.87e11, 3.88e11, 3.89e11, 3.9e11, "
        "3.91e11, 3.92e11, 3.93e11]";
    const Plan larger = ReadPlan(PlanWith(
        channels,
        R"({"rx.EQ": "all", "tx.FG": "all", "tx.SW": "all", "rx.rx_samplerate": )" + rates + "}"));
    const RunSpace tenfold(larger, tx, rx);
    EXPECT_THROW(tenfold.Shard(0, 1), PlanError);  // 12.8 million runs in one shard
    EXPECT_EQ(2u, tenfold.Shard(3, 10000000).size());
    const Plan huge = ReadPlan(PlanWith(
        channels, R"({"rx.EQ": "all", "tx.FG": "all", "tx.SW": "all", "rx.rx_samplerate": )" +
                      rates + R"(, "tx.tx_samplerate": )" + rates + "}"));
    EXPECT_THROW(RunSpace(huge, tx, rx), PlanError);  // 128 million
}

// The report's CSV keeps every text in its cell and never hands a spreadsheet a formula.
TEST_F(Batch, TheReportsCsvQuotesEveryTextAndDisarmsFormulas) {
    WriteBytes(dir_ / "r.jsonl",
               R"j({"id":"0000000000000001","plan":"p","runs":1,"channel":"a,b\nc",)j"
               R"j("settings":{"rx.EQ":"=HYPERLINK(\"x\")"},"statistical":{"height_v":0.1,)j"
               R"j("width_ui":0.5}})j"
               "\n");
    const std::string csv = ResultsCsv(MergeResults({(dir_ / "r.jsonl").string()}));
    EXPECT_NE(std::string::npos, csv.find("\"a,b\nc\"")) << csv;
    EXPECT_NE(std::string::npos, csv.find("\"'=HYPERLINK(\"\"x\"\")\"")) << csv;
    EXPECT_EQ(2, std::count(csv.begin(), csv.end(), '\n') - 1);  // the header, one row
}

}  // namespace
}  // namespace amirun

namespace amirun {
namespace {

// A transmitter that compresses at the bits' swing (FG 3 at 32 Gb/s) makes the statistical eye a
// linear model that no longer holds: the results line says so, a short bit-by-bit run is made,
// and the report ranks by it, so the statistical eye's open FG 3 is not named best.
TEST_F(Batch, WhereTheStatisticalEyeDoesNotApplyShortBitsRankTheRun) {
    WriteBytes(dir_ / "plan.json",
               R"({"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
                   "window_bits": 32, "channels": ["builtin:20"], "bit_rate": 32e9,
                   "bits": 2000, "sweep": {"tx.FG": [0, 3]}, "flows": ["statistical"]})");
    ASSERT_EQ(0, RunAmirun({"batch", (dir_ / "plan.json").string(), "--out", "b"}, dir_));
    std::istringstream lines(ReadBytes(dir_ / "b" / "results-0-of-1.jsonl"));
    int checked = 0;
    for (std::string text; std::getline(lines, text);) {
        const nlohmann::json line = nlohmann::json::parse(text);
        if (line["settings"]["tx.FG"] != "3") continue;
        EXPECT_FALSE(line["statistical"]["applies"].get<bool>());
        EXPECT_GT(line["statistical"]["height_v"].get<double>(), 0.0);  // open, but not so
        EXPECT_LT(line["bit_by_bit"]["height_v"].get<double>(), 0.0);
        ++checked;
    }
    EXPECT_EQ(1, checked);
    ASSERT_EQ(0, RunAmirun({"report", (dir_ / "b" / "results-0-of-1.jsonl").string(), "--out", "r"},
                           dir_));
    const nlohmann::json report = nlohmann::json::parse(ReadBytes(dir_ / "r" / "report.json"));
    EXPECT_EQ("tx: FG=0, rx: (defaults)", report["settings_by_worst_channel"][0]["settings"]);
}

}  // namespace
}  // namespace amirun
