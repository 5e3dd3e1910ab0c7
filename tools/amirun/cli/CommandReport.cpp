// amirun report: merges batch results files and writes what they say as CSV, JSON and one
// self-contained HTML page.
#include <filesystem>
#include <iostream>
#include <memory>

#include "tools/amirun/batch/BatchReport.h"
#include "tools/amirun/batch/Results.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/io/Output.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

struct ReportOptions {
    std::vector<std::string> results;
    std::string out = "report";
};

int RunReport(const ReportOptions& options) {
    for (const std::string& file : options.results) ProtectInput(file);
    const MergedResults merged = MergeResults(options.results);
    if (merged.runs.empty())
        throw ResultsError("the results files hold no complete result line: nothing to report");
    fs::create_directories(options.out);
    const fs::path out(options.out);
    WriteTextFile((out / "report.csv").string(), ResultsCsv(merged));
    WriteTextFile((out / "report.json").string(), ResultsJson(merged));
    WriteTextFile((out / "report.html").string(), ResultsHtml(merged));
    std::cout << "plan " << merged.plan << ": " << merged.runs.size() << " runs of "
              << merged.expected << "; " << merged.Missing() << " missing, "
              << merged.duplicates.size() << " found twice, " << merged.broken << " broken lines\n";
    const auto ranked = RankSettings(merged);
    if (!ranked.empty())
        std::cout << "best settings by the worst channel: " << ranked.front().settings << " ("
                  << ranked.front().worst * 1e3 << " mV)\n";
    std::cout << "wrote " << (out / "report.csv").string() << ", report.json, report.html\n";
    return merged.Missing() == 0 ? kExitDone : kExitIncomplete;
}

}  // namespace

Command AddReportCommand(CLI::App& app) {
    auto options = std::make_shared<ReportOptions>();
    CLI::App* report =
        app.add_subcommand("report", "merge batch results files into CSV, JSON and an HTML page");
    report->add_option("results", options->results, "results files of one plan (any shards)")
        ->required()
        ->check(CLI::ExistingFile);
    report->add_option("--out", options->out, "folder of the report")->capture_default_str();
    return {report, [options] { return RunReport(*options); }};
}

}  // namespace amirun
