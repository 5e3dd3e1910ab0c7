#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/amirun/check/CheckReport.h"

namespace amirun {

// An .ami file an .ibs file's Executable line names, to be checked against that model's name.
struct AmiReference {
    std::string path;   // as found beside the .ibs file
    std::string model;  // the [Model] whose Executable line names it
};

// The checks of each file type on a file's text; `path` names the file in messages and locates
// the files it refers to. The .ibs check returns the .ami files to follow.
std::vector<AmiReference> CheckIbisText(const std::string& text, const std::string& path,
                                        CheckReport& report);
void CheckPackageText(const std::string& text, const std::string& path, CheckReport& report);
void CheckBoardText(const std::string& text, const std::string& path, CheckReport& report);
// `model`: the [Model] that uses the file, when known (else the root name is not compared).
void CheckAmiText(const std::string& text, const std::string& path, const std::string& model,
                  CheckReport& report);

// A file of any type by its extension or `as` (ibs, pkg, ebd, ami), following an .ibs file's
// .ami files; `checked` holds the files already checked in this run, so that none is checked
// twice. Reads at most 16 MiB. False when the file could not be read at all.
bool CheckFile(const std::string& path, const std::string& as, CheckReport& report,
               std::set<std::string>& checked);

}  // namespace amirun
