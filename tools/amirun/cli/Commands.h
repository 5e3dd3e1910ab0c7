#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace amirun {

// A subcommand: its CLI11 app, with its options bound, and what runs it once parsed.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command AddInitCommand(CLI::App& app);
Command AddGetWaveCommand(CLI::App& app);
Command AddSweepCommand(CLI::App& app);
Command AddLinkCommand(CLI::App& app);
Command AddOptimizeCommand(CLI::App& app);
Command AddDatasheetCommand(CLI::App& app);
Command AddCheckCommand(CLI::App& app);
Command AddBatchCommand(CLI::App& app);
Command AddReportCommand(CLI::App& app);

}  // namespace amirun
