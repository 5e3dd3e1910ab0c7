#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/amirun/check/CheckReport.h"

namespace amirun {

// An .ami file an .ibs file's Executable line names, to be checked against that model's name.
struct AmiReference {
    std::string path;         // as found beside the .ibs file
    std::string model;        // the [Model] whose Executable line names it
    std::string ibisVersion;  // of the .ibs file: the .ami file is checked by its rules
    std::string direction;    // "Tx", "Rx" or "" by the model's Model_type
};

// The checks of each file type on a file's text; `path` names the file in messages and locates
// the files it refers to. The .ibs check returns the .ami files to follow.
std::vector<AmiReference> CheckIbisText(const std::string& text, const std::string& path,
                                        CheckReport& report);
void CheckPackageText(const std::string& text, const std::string& path, CheckReport& report);
// One package model's sections (those between [Define Package Model] and [End Package Model]),
// in a .pkg file or inside an .ibs file; `defineLine` is where it begins.
struct KeywordSection;
void CheckPackageModel(const std::vector<const KeywordSection*>& sections, const std::string& path,
                       std::size_t defineLine, CheckReport& report);
void CheckBoardText(const std::string& text, const std::string& path, CheckReport& report);
// `from`: the .ibs file's reference, when the file was found through one (else the root name,
// the version's rules and the direction are not compared).
void CheckAmiText(const std::string& text, const std::string& path, const AmiReference& from,
                  CheckReport& report);

// A file of any type by its extension or `as` (ibs, pkg, ebd, ami), following an .ibs file's
// .ami files; `checked` holds the files already checked in this run, so that none is checked
// twice. Reads at most 16 MiB. False when the file could not be read at all.
bool CheckFile(const std::string& path, const std::string& as, CheckReport& report,
               std::set<std::string>& checked);

}  // namespace amirun
