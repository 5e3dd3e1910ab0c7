// The rules of package (.pkg) and board-description (.ebd) files: their sections and the
// cross-references between their pin lists and what refers to them.
#include <filesystem>
#include <set>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/check/CheckKeywords.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

const KeywordSection* First(const KeywordFile& file, const std::string& name) {
    for (const KeywordSection& s : file.sections)
        if (s.name == name) return &s;
    return nullptr;
}

// The names listed under `section`: each row's first field, but for section and fork rows.
std::set<std::string> ListedPins(const KeywordSection& section) {
    std::set<std::string> pins;
    for (const KeywordRow& row : section.rows) {
        const std::string& first = row.fields.front();
        const std::string lower = Lower(first);
        if (first.find('=') != std::string::npos || lower == "fork" || lower == "endfork" ||
            lower.rfind("len", 0) == 0)
            continue;
        pins.insert(first);
    }
    return pins;
}

void CheckPinCount(const KeywordFile& file, const KeywordSection* count, const KeywordSection* list,
                   int rule, CheckReport& report) {
    if (count == nullptr || list == nullptr) return;
    double expected = 0.0;
    if (!IbisNumber(count->argument, expected)) {
        report.Add(107, file.path, count->line, "'" + count->argument + "' is not a number");
        return;
    }
    const std::size_t listed = ListedPins(*list).size();
    if (expected != static_cast<double>(listed))
        report.Add(rule, file.path, count->line,
                   count->written + " says " + count->argument + " but " + list->written +
                       " lists " + std::to_string(listed));
}

}  // namespace

void CheckPackageText(const std::string& text, const std::string& path, CheckReport& report) {
    const KeywordFile file = ReadKeywordFile(text, path, report);
    CheckHeaderAndEnd(file, report);
    const KeywordSection* define = First(file, "define package model");
    if (define == nullptr || First(file, "end package model") == nullptr) {
        report.Add(701, path, define ? define->line : 0,
                   "a package file holds its model between [Define Package Model] and "
                   "[End Package Model]");
    }
    const KeywordSection* pinNumbers = First(file, "pin numbers");
    CheckPinCount(file, First(file, "number of pins"), pinNumbers, 702, report);
    const KeywordSection* data = First(file, "model data");
    if (data != nullptr || First(file, "inductance matrix") != nullptr) {
        for (const auto& [name, shown] :
             {std::pair<const char*, const char*>{"inductance matrix", "[Inductance Matrix]"},
              {"capacitance matrix", "[Capacitance Matrix]"},
              {"end model data", "[End Model Data]"},
              {"model data", "[Model Data]"}})
            if (First(file, name) == nullptr)
                report.Add(703, path, data ? data->line : 0,
                           std::string("the package's model data has no ") + shown);
    } else {
        report.Add(703, path, define ? define->line : 0,
                   "the package model has no [Model Data] with its matrices");
    }
    const std::set<std::string> pins =
        pinNumbers ? ListedPins(*pinNumbers) : std::set<std::string>{};
    std::string matrixType;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "resistance matrix" || s.name == "inductance matrix" ||
            s.name == "capacitance matrix") {
            matrixType = Lower(s.argument);
            if (matrixType != "diagonal_matrix" && matrixType != "banded_matrix" &&
                matrixType != "sparse_matrix" && matrixType != "full_matrix")
                report.Add(704, path, s.line,
                           "'" + s.argument +
                               "' is not Diagonal_matrix, Banded_matrix, "
                               "Sparse_matrix or Full_matrix");
        }
        if (s.name != "row" || pinNumbers == nullptr) continue;
        if (!pins.count(s.argument))
            report.Add(705, path, s.line,
                       "[Row] " + s.argument + " is not a pin under [Pin Numbers]");
        for (const KeywordRow& row : s.rows) {
            double value = 0.0;
            const bool sparse = matrixType == "sparse_matrix" || matrixType == "diagonal_matrix";
            if (sparse && row.fields.size() == 2 && !pins.count(row.fields[0]))
                report.Add(705, path, row.line,
                           "entry for pin " + row.fields[0] + ", which is not under [Pin Numbers]");
            for (std::size_t k = sparse && row.fields.size() == 2 ? 1 : 0; k < row.fields.size();
                 ++k)
                if (!IbisNumber(row.fields[k], value))
                    report.Add(107, path, row.line, "'" + row.fields[k] + "' is not a number");
        }
    }
}

void CheckBoardText(const std::string& text, const std::string& path, CheckReport& report) {
    const KeywordFile file = ReadKeywordFile(text, path, report);
    CheckHeaderAndEnd(file, report);
    const KeywordSection* begin = First(file, "begin board description");
    if (begin == nullptr || First(file, "end board description") == nullptr)
        report.Add(711, path, begin ? begin->line : 0,
                   "a board file holds its board between [Begin Board Description] and "
                   "[End Board Description]");
    if (First(file, "manufacturer") == nullptr)
        report.Add(716, path, begin ? begin->line : 0,
                   "the board description has no "
                   "[Manufacturer]");
    const KeywordSection* pinList = First(file, "pin list");
    CheckPinCount(file, First(file, "number of pins"), pinList, 712, report);
    const std::set<std::string> pins = pinList ? ListedPins(*pinList) : std::set<std::string>{};
    std::size_t lookups = kFileLookups;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "path description") {
            if (s.rows.empty() || !SameWord(s.rows.front().fields.front(), "Pin") ||
                s.rows.front().fields.size() < 2) {
                report.Add(714, path, s.line,
                           "[Path Description] " + s.argument + " must begin with Pin <name>");
                continue;
            }
            const std::string& pin = s.rows.front().fields[1];
            if (pinList != nullptr && !pins.count(pin))
                report.Add(713, path, s.rows.front().line,
                           "path " + s.argument + " starts at pin " + pin +
                               ", which is not in [Pin List]");
            bool ends = false;
            for (const KeywordRow& row : s.rows)
                ends = ends || SameWord(row.fields.front(), "Node");
            if (!ends)
                report.Add(714, path, s.line,
                           "[Path Description] " + s.argument + " never reaches a Node");
        }
        if (s.name == "reference designator map") {
            for (const KeywordRow& row : s.rows) {
                if (row.fields.size() < 2) continue;
                std::string found;
                const FilePresence presence =
                    LocateBeside(path, row.fields[1], row.line, report, found, lookups);
                if (presence == FilePresence::Missing)
                    report.Add(715, path, row.line,
                               "'" + row.fields[1] + "' is not beside " +
                                   std::filesystem::path(path).filename().string());
                if (presence == FilePresence::OtherCase)
                    report.Add(505, path, row.line,
                               "'" + row.fields[1] + "' exists only as '" +
                                   std::filesystem::path(found).filename().string() + "'");
            }
        }
    }
}

}  // namespace amirun
