// The rules of package (.pkg) and board-description (.ebd) files: their sections and the
// cross-references between their pin lists and what refers to them.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/check/CheckKeywords.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

const KeywordSection* First(const std::vector<const KeywordSection*>& sections,
                            const std::string& name) {
    for (const KeywordSection* s : sections)
        if (s->name == name) return s;
    return nullptr;
}

const KeywordSection* First(const KeywordFile& file, const std::string& name) {
    for (const KeywordSection& s : file.sections)
        if (s.name == name) return &s;
    return nullptr;
}

// The names listed under `section`: each row's first field, but for section and fork rows.
std::vector<std::string> ListedInOrder(const KeywordSection& section) {
    std::vector<std::string> pins;
    for (const KeywordRow& row : section.rows) {
        const std::string& first = row.fields.front();
        const std::string lower = Lower(first);
        if (first.find('=') != std::string::npos || lower == "fork" || lower == "endfork" ||
            lower.rfind("len", 0) == 0)
            continue;
        pins.push_back(first);
    }
    return pins;
}

std::set<std::string> ListedPins(const KeywordSection& section) {
    const std::vector<std::string> listed = ListedInOrder(section);
    return {listed.begin(), listed.end()};
}

void CheckPinCount(const std::string& path, const KeywordSection* count, const KeywordSection* list,
                   int rule, CheckReport& report) {
    if (count == nullptr || list == nullptr) return;
    double expected = 0.0;
    if (!IbisNumber(count->argument, expected)) {
        report.Add(107, path, count->line, "'" + count->argument + "' is not a number");
        return;
    }
    const std::size_t listed = ListedPins(*list).size();
    if (expected != static_cast<double>(listed))
        report.Add(rule, path, count->line,
                   count->written + " says " + count->argument + " but " + list->written +
                       " lists " + std::to_string(listed));
}

// One matrix's [Row] sections: each row a listed pin; a sparse row names each pin once and only
// pins from its own on (the matrix is symmetric: the upper triangle is given); a full row holds
// one number per pin from its own on, a banded one per pin within the bandwidth.
void CheckMatrixRows(const std::string& path, const std::string& type, std::size_t bandwidth,
                     const std::vector<const KeywordSection*>& rows,
                     const std::vector<std::string>& order, CheckReport& report) {
    std::map<std::string, std::size_t> position;
    for (std::size_t i = 0; i < order.size(); ++i) position.emplace(order[i], i);
    const bool named = type == "sparse_matrix" || type == "diagonal_matrix";
    for (const KeywordSection* row : rows) {
        const auto own = position.find(row->argument);
        if (!order.empty() && own == position.end())
            report.Add(705, path, row->line,
                       "[Row] " + row->argument + " is not a pin under [Pin Numbers]");
        std::map<std::string, std::size_t> entries;
        std::size_t numbers = 0;
        for (const KeywordRow& r : row->rows) {
            const bool entry = named && r.fields.size() == 2;
            for (std::size_t k = entry ? 1 : 0; k < r.fields.size(); ++k) {
                double value = 0.0;
                if (!IbisNumber(r.fields[k], value))
                    report.Add(107, path, r.line, "'" + r.fields[k] + "' is not a number");
                ++numbers;
            }
            if (!entry) continue;
            const std::string& pin = r.fields[0];
            const auto where = position.find(pin);
            if (!order.empty() && where == position.end()) {
                report.Add(705, path, r.line,
                           "entry for pin " + pin + ", which is not under [Pin Numbers]");
                continue;
            }
            const auto first = entries.emplace(pin, r.line);
            if (!first.second)
                report.Add(706, path, r.line,
                           "[Row] " + row->argument + " gives pin " + pin +
                               " again (first on line " + std::to_string(first.first->second) +
                               "): give each coupling once");
            if (own != position.end() && where != position.end() && where->second < own->second)
                report.Add(707, path, r.line,
                           "[Row] " + row->argument + " gives pin " + pin +
                               ", which comes before it in [Pin Numbers]: the matrix is "
                               "symmetric, so give that coupling under [Row] " +
                               pin);
        }
        if (named || own == position.end() || order.empty()) continue;
        const std::size_t left = order.size() - own->second;
        const std::size_t expected = type == "banded_matrix" ? std::min(left, bandwidth + 1) : left;
        if (numbers != expected)
            report.Add(708, path, row->line,
                       "[Row] " + row->argument + " of a " + type + " holds " +
                           std::to_string(numbers) + " numbers; it needs " +
                           std::to_string(expected) + " (one per pin from its own on" +
                           (type == "banded_matrix" ? ", within the bandwidth)" : ")"));
    }
}

}  // namespace

void CheckPackageModel(const std::vector<const KeywordSection*>& sections, const std::string& path,
                       std::size_t defineLine, CheckReport& report) {
    const KeywordSection* pinNumbers = First(sections, "pin numbers");
    CheckPinCount(path, First(sections, "number of pins"), pinNumbers, 702, report);
    const KeywordSection* data = First(sections, "model data");
    if (data != nullptr || First(sections, "inductance matrix") != nullptr) {
        for (const auto& [name, shown] :
             {std::pair<const char*, const char*>{"inductance matrix", "[Inductance Matrix]"},
              {"capacitance matrix", "[Capacitance Matrix]"},
              {"end model data", "[End Model Data]"},
              {"model data", "[Model Data]"}})
            if (First(sections, name) == nullptr)
                report.Add(703, path, data ? data->line : defineLine,
                           std::string("the package's model data has no ") + shown);
    } else {
        report.Add(703, path, defineLine,
                   "the package model has no [Model Data] with its matrices");
    }
    const std::vector<std::string> order =
        pinNumbers ? ListedInOrder(*pinNumbers) : std::vector<std::string>{};
    std::string matrixType;
    std::size_t bandwidth = 0;
    std::vector<const KeywordSection*> rows;
    const KeywordSection* matrix = nullptr;
    auto closeMatrix = [&] {
        if (matrix != nullptr) CheckMatrixRows(path, matrixType, bandwidth, rows, order, report);
        rows.clear();
    };
    for (const KeywordSection* s : sections) {
        if (s->name == "resistance matrix" || s->name == "inductance matrix" ||
            s->name == "capacitance matrix") {
            closeMatrix();
            matrix = s;
            bandwidth = 0;
            matrixType = Lower(s->argument);
            if (matrixType != "diagonal_matrix" && matrixType != "banded_matrix" &&
                matrixType != "sparse_matrix" && matrixType != "full_matrix")
                report.Add(704, path, s->line,
                           "'" + s->argument +
                               "' is not Diagonal_matrix, Banded_matrix, "
                               "Sparse_matrix or Full_matrix");
            continue;
        }
        if (s->name == "bandwidth") {
            double value = 0.0;
            if (IbisNumber(s->argument, value) && value >= 0.0 && value < 1e9)
                bandwidth = std::size_t(value);
            else
                report.Add(107, path, s->line,
                           "'" + s->argument + "' is not a bandwidth (a whole number of pins)");
            continue;
        }
        if (s->name == "row") rows.push_back(s);
        if (s->name == "end model data") {
            closeMatrix();
            matrix = nullptr;
        }
        if (matrixType == "banded_matrix" && s->name == "row" && rows.size() == 1 &&
            First(sections, "bandwidth") == nullptr)
            report.Add(709, path, matrix->line,
                       "a Banded_matrix needs [Bandwidth] before its rows");
    }
    closeMatrix();
}

void CheckPackageText(const std::string& text, const std::string& path, CheckReport& report) {
    const KeywordFile file = ReadKeywordFile(text, path, report);
    CheckHeaderAndEnd(file, report);
    report.Checked(path, "IBIS " + VersionOf(file).text);
    const KeywordSection* define = First(file, "define package model");
    if (define == nullptr || First(file, "end package model") == nullptr) {
        report.Add(701, path, define ? define->line : 0,
                   "a package file holds its model between [Define Package Model] and "
                   "[End Package Model]");
    }
    // Each package model on its own; a file without the brackets as one.
    std::vector<const KeywordSection*> model;
    std::size_t defineLine = 0;
    bool open = define == nullptr;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "define package model") {
            if (!model.empty() || open) CheckPackageModel(model, path, defineLine, report);
            model.clear();
            defineLine = s.line;
            open = true;
            continue;
        }
        if (s.name == "end package model") {
            CheckPackageModel(model, path, defineLine, report);
            model.clear();
            open = false;
            continue;
        }
        if (open) model.push_back(&s);
    }
    if (open) CheckPackageModel(model, path, defineLine, report);
}

void CheckBoardText(const std::string& text, const std::string& path, CheckReport& report) {
    const KeywordFile file = ReadKeywordFile(text, path, report);
    CheckHeaderAndEnd(file, report);
    report.Checked(path, "IBIS " + VersionOf(file).text);
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
    CheckPinCount(path, First(file, "number of pins"), pinList, 712, report);
    const std::set<std::string> pins = pinList ? ListedPins(*pinList) : std::set<std::string>{};
    std::size_t lookups = kFileLookups;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "path description") {
            // A path begins at a Pin and ends at a Node or at another Pin.
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
            for (std::size_t r = 1; r < s.rows.size(); ++r)
                ends = ends || SameWord(s.rows[r].fields.front(), "Node") ||
                       SameWord(s.rows[r].fields.front(), "Pin");
            if (!ends)
                report.Add(714, path, s.line,
                           "[Path Description] " + s.argument +
                               " never reaches a Node or a Pin: end it at one");
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
