// Every JSON file amirun writes follows one naming rule: "schema" at the top, snake_case keys,
// units as lower-case suffixes. Only the maps named by data (a model's parameter names, channel
// names) keep the names they are given.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"
#include "tests/support/Kit.h"

namespace {

class JsonKeys : public AmirunRun {};

// Objects under these keys are maps named by data; arrays under them are walked.
const std::set<std::string> kDataKeyed = {"settings", "tx", "rx", "best_per_channel"};

void Walk(const nlohmann::json& value, const std::string& where, std::vector<std::string>& broken) {
    static const std::regex rule("[a-z][a-z0-9]*(_[a-z0-9]+)*");
    if (value.is_array()) {
        for (const auto& item : value) Walk(item, where + "[]", broken);
        return;
    }
    if (!value.is_object()) return;
    for (const auto& [key, inner] : value.items()) {
        if (!std::regex_match(key, rule)) broken.push_back(where + "." + key);
        if (kDataKeyed.count(key) == 0 || !inner.is_object())
            Walk(inner, where + "." + key, broken);
    }
}

TEST_F(JsonKeys, EveryJsonAmirunWritesFollowsTheRule) {
    const std::string out = Out();
    const std::string dir = out_.string();
    fs::create_directories(out_ / "plan");
    CopyKit(out_ / "plan");
    WriteBytes(out_ / "plan" / "plan.json",
               R"({"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
                   "window_bits": 32, "channels": ["builtin:10"], "bits": 200,
                   "sweep": {"tx.FG": [0, 3]}, "flows": ["statistical", "bit_by_bit"]})");
    const std::string runs[] = {
        "init " + kRx + " --channel-bits 8 --json '" + dir + "/init.json'" + out,
        "getwave " + kTx + " --bits 200 --json '" + dir + "/getwave.json'" + out,
        "sweep " + kRx + " --channel-bits 8 --json '" + dir + "/sweep.json'" + out,
        "link " + kTx + " " + kRx + " --window-bits 32 --bits 200 --json '" + dir + "/link.json'" +
            out,
        "optimize " + kTx + " " + kRx + " --window-bits 32 --bits 200 --tx-param FG --rx-param " +
            "EQ --confirm 1 --json '" + dir + "/optimize.json'" + out,
        // A receiver with its own clock, and impairments from the command line.
        "link '" KT_PASS_MODELS_DIR "/PassTx_x64.so' '" KT_PASS_MODELS_DIR
        "/DfeRx_x64.so' "
        "--bits 1000 --rj-rms 0.01 --json '" +
            dir + "/clocked.json'" + out,
        "optimize '" KT_PASS_MODELS_DIR "/PassTx_x64.so' '" KT_PASS_MODELS_DIR
        "/WaveRx_x64.so' "
        "--bits 1000 --confirm 1 --json '" +
            dir + "/getwave_only.json'" + out,
        "datasheet " + kRx + " --json '" + dir + "/datasheet.json'" + out,
        "check '" KT_IBIS_DIR "/KT7MRL40562D9_Rx.ami' --json '" + dir + "/check.json'",
        "batch '" + dir + "/plan/plan.json' --out '" + dir + "/batch'",
        "report '" + dir + "/batch/results-0-of-1.jsonl' --out '" + dir + "/report'",
    };
    for (const std::string& arguments : runs) {
        const Result r = Amirun(arguments);
        EXPECT_EQ(0, r.status) << arguments << "\n" << r.output;
    }
    const std::string files[] = {"init.json",        "getwave.json",       "sweep.json",
                                 "link.json",        "optimize.json",      "datasheet.json",
                                 "check.json",       "report/report.json", "clocked.json",
                                 "getwave_only.json"};
    std::vector<std::string> broken;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const nlohmann::json json = nlohmann::json::parse(ReadBytes(out_ / file));
        EXPECT_EQ(1, json.value("schema", 0));
        Walk(json, file, broken);
    }
    std::istringstream lines(ReadBytes(out_ / "batch" / "results-0-of-1.jsonl"));
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        const nlohmann::json json = nlohmann::json::parse(line);
        EXPECT_EQ(1, json.value("schema", 0));
        Walk(json, "results line", broken);
    }
    EXPECT_EQ(2u, count);
    EXPECT_TRUE(broken.empty()) << ::testing::PrintToString(broken);
}

}  // namespace
