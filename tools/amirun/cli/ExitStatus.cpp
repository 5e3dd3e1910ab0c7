#include "tools/amirun/cli/ExitStatus.h"

namespace amirun {

const std::vector<ExitStatusRow>& ExitStatuses() {
    static const std::vector<ExitStatusRow> rows{
        {kExitDone, "done (check: no errors; report: every run of the plan is there)"},
        {kExitError,
         "an error while running, the reason on standard error (check: the files have errors, "
         "or with --strict warnings)"},
        {kExitUnreadable, "check: a file could not be read"},
        {kExitStrict, "--strict: the model used a default for a parameter it could not read"},
        {kExitIncomplete, "report: the report was written, but runs of the plan are missing"},
        {kExitUsage, "the command line was not understood, the reason on standard error"}};
    return rows;
}

std::string ExitStatusTable() {
    std::string text = "Exit status:";
    for (const ExitStatusRow& row : ExitStatuses())
        text += "\n  " + std::to_string(static_cast<int>(row.status)) + "  " + row.meaning;
    return text;
}

}  // namespace amirun
