#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/amirun/check/CheckReport.h"
#include "tools/amirun/host/IbisKeywords.h"

namespace amirun {

// Normalized names of the keywords holding a model's and a submodel's input thresholds and
// overshoot limits.
constexpr char kModelLimitsKeyword[] =
    "model s"
    "pec";
constexpr char kSubmodelLimitsKeyword[] =
    "submodel s"
    "pec";

// Reads `text` (the whole file) with the host's reader; every lexical finding goes to `report`
// under `path`, the line length by the file's own [IBIS Ver].
KeywordFile ReadKeywordFile(const std::string& text, const std::string& path, CheckReport& report);

// The IBIS version whose rules a file is checked by: its [IBIS Ver] when that is a released
// version, else the latest (the unknown version is reported on its own).
struct IbisVersion {
    int tenths = 72;  // 5.1 is 51
    std::string text = "7.2";
    bool Before(int tenthsOf) const { return tenths < tenthsOf; }
};
IbisVersion VersionOf(const KeywordFile& file);

// An IBIS number: digits with an optional point and exponent, then an optional scale letter
// (T G M k m u n p f) and any unit letters: "1.5nH", "-20.00mA", "0.30". NA is not a number.
bool IbisNumber(const std::string& field, double& value);

// Case-insensitive equality, for model names, Model_type and other enumerations.
bool SameWord(const std::string& a, const std::string& b);

}  // namespace amirun

namespace amirun {

// The rules every keyword file shares: [IBIS Ver] first and released, [File Name] the file's own
// name, the required header keywords once each, and [End] last.
void CheckHeaderAndEnd(const KeywordFile& file, CheckReport& report);

// Checks a typ/min/max row's values (from fields[first] on): three of them, typ a number, min and
// max numbers or NA. Reports 107 and 108 and answers whether typ is a number (into `typ`).
bool CheckTypMinMax(const KeywordRow& row, std::size_t first, const std::string& path,
                    CheckReport& report, double& typ);

// Where a file named in another lies: beside it exactly, only with other letter case, or not at
// all. An absolute name or one with .. is reported (506) and not looked for. Each call spends one
// of `budget` lookups; with none left the file is not looked for (Unchecked), which bounds the
// work a file with millions of names can cause.
enum class FilePresence { Present, OtherCase, Missing, Refused, Unchecked };
constexpr std::size_t kFileLookups = 1000;
FilePresence LocateBeside(const std::string& referrer, const std::string& name, std::size_t line,
                          CheckReport& report, std::string& found, std::size_t& budget);

}  // namespace amirun
