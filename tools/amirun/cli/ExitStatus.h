#pragma once

#include <string>
#include <vector>

namespace amirun {

// amirun's exit statuses, one table for the code, every command's --help and docs/amirun.md.
enum ExitStatus : int {
    kExitDone = 0,
    kExitError = 1,       // an error while running; check: the files have errors
    kExitUnreadable = 2,  // check: a file could not be read
    kExitStrict = 3,      // --strict: the model used a default
    kExitIncomplete = 4,  // report: written, but runs are missing
    kExitUsage = 5,       // the command line was not understood
};

struct ExitStatusRow {
    ExitStatus status;
    const char* meaning;
};
const std::vector<ExitStatusRow>& ExitStatuses();

// "Exit status:" and one line per status, as --help shows it.
std::string ExitStatusTable();

}  // namespace amirun
