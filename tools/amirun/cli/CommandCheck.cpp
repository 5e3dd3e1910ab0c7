// amirun check: the IBIS and AMI file checker on .ibs, .pkg, .ebd and .ami files, following an
// .ibs file's Executable lines to its .ami files.
#include <iostream>
#include <memory>
#include <set>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/io/Output.h"

namespace amirun {
namespace {

struct CheckOptions {
    std::vector<std::string> files;
    std::string as;
    bool strict = false;
    std::string json;
};

int RunCheck(const CheckOptions& options) {
    for (const std::string& file : options.files) ProtectInput(file);
    if (!options.json.empty()) CheckOutputPath(options.json);
    CheckReport report;
    std::set<std::string> checked;
    bool readable = true;
    for (const std::string& file : options.files)
        readable = CheckFile(file, options.as, report, checked) && readable;
    std::cout << report.Text(checked.size());
    if (!options.json.empty()) WriteTextFile(options.json, report.Json(checked.size()) + "\n");
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
    return {check, [options] { return RunCheck(*options); }};
}

}  // namespace amirun
