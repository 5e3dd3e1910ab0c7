// amirun check: the IBIS and AMI file checker on .ibs, .pkg, .ebd and .ami files, following an
// .ibs file's Executable lines to its .ami files.
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/io/Input.h"
#include "tools/amirun/io/Json.h"
#include "tools/amirun/io/Output.h"

namespace amirun {
namespace {

struct CheckOptions {
    std::vector<std::string> files;
    std::string as;
    bool strict = false;
    std::string json;
    std::vector<int> ignore;
    std::string baseline;
};

// The messages of an earlier `check --json` that the modeller accepted.
CheckReport::Accepted ReadBaseline(const std::string& path) {
    const auto fail = [&](const std::string& why) {
        return std::runtime_error("--baseline " + path + ": " + why +
                                  " (give the JSON file of an earlier amirun check --json)");
    };
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(ReadInputFile(path, std::uintmax_t{64} << 20));
    } catch (const nlohmann::json::exception& e) {
        throw fail(std::string("not JSON: ") + e.what());
    }
    if (!json.is_object() || !json.contains("messages") || !json["messages"].is_array())
        throw fail("no \"messages\" list");
    CheckReport::Accepted accepted;
    for (const nlohmann::json& m : json["messages"]) {
        if (!m.is_object() || !m.contains("rule") || !m["rule"].is_number_integer() ||
            !m.contains("file") || !m["file"].is_string() || !m.contains("text") ||
            !m["text"].is_string())
            throw fail("a message without its rule, file and text");
        accepted.emplace(m["rule"].get<int>(),
                         std::filesystem::path(m["file"].get<std::string>()).filename().string(),
                         m["text"].get<std::string>());
    }
    return accepted;
}

int RunCheck(const CheckOptions& options) {
    for (const std::string& file : options.files) ProtectInput(file);
    if (!options.json.empty()) CheckOutputPath(options.json);
    if (!options.baseline.empty()) ProtectInput(options.baseline);
    CheckReport report;
    for (int rule : options.ignore) FindCheckRule(rule);  // an unknown rule is refused
    report.Filter(
        {options.ignore.begin(), options.ignore.end()},
        options.baseline.empty() ? CheckReport::Accepted{} : ReadBaseline(options.baseline));
    std::set<std::string> checked;
    bool readable = true;
    for (const std::string& file : options.files)
        readable = CheckFile(file, options.as, report, checked) && readable;
    std::cout << report.Text();
    if (!options.json.empty()) WriteTextFile(options.json, report.Json(kAmirunVersion) + "\n");
    if (!readable) return kExitUnreadable;
    const bool failed = report.Count(Severity::Error) > 0 ||
                        (options.strict && report.Count(Severity::Warning) > 0);
    return failed ? kExitError : kExitDone;
}

}  // namespace

Command AddCheckCommand(CLI::App& app) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* check = app.add_subcommand(
        "check",
        "check .ibs, .pkg, .ebd and .ami files against the IBIS rules (see docs/check.md)");
    check->add_option("files", options->files, "files to check; an .ibs file's .ami files too")
        ->required();
    check->add_option("--as", options->as, "read every file as this type, whatever its name")
        ->check(CLI::IsMember({"ibs", "pkg", "ebd", "ami"}));
    check->add_flag("--strict", options->strict, "warnings fail the check too (exit status 1)");
    check->add_option("--json", options->json, "write the messages to this JSON file");
    check
        ->add_option("--ignore", options->ignore,
                     "leave out the messages of these rules (numbers, comma-separated)")
        ->delimiter(',')
        ->check(CLI::Range(1, 999));
    check->add_option("--baseline", options->baseline,
                      "leave out the messages an earlier check --json file holds (accepted ones)");
    return {check, [options] { return RunCheck(*options); }};
}

}  // namespace amirun
