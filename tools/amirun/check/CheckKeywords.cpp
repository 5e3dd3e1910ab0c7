#include "tools/amirun/check/CheckKeywords.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

// Lines of 80 characters until IBIS 4.1 made them 120.
constexpr std::size_t kLongestLine = 120;
constexpr std::size_t kLongestOldLine = 80;
constexpr int kLongLinesFrom = 41;

// The keywords of IBIS 7.x, normalized. Those of .pkg and .ebd files are here too, since an
// .ibs file may hold package models and the header keywords are shared.
const std::set<std::string>& KnownKeywords() {
    static const std::set<std::string> known = {
        // header
        "ibis ver", "comment char", "file name", "file rev", "date", "source", "notes",
        "disclaimer", "copyright", "end",
        // component
        "component", "manufacturer", "package", "pin", "package model", "alternate package models",
        "end alternate package models", "pin mapping", "bus label", "die supply pads", "diff pin",
        "repeater pin", "series pin mapping", "series switch groups", "node declarations",
        "end node declarations", "circuit call", "end circuit call", "clock pins",
        "begin emi component", "end emi component", "interconnect model group",
        "end interconnect model group", "model selector",
        // model
        "model", kModelLimitsKeyword, "receiver thresholds", "add submodel", "driver schedule",
        "temperature range", "voltage range", "pullup reference", "pulldown reference",
        "power clamp reference", "gnd clamp reference", "external reference", "c comp corner",
        "ttgnd", "ttpower", "pulldown", "pullup", "gnd clamp", "power clamp", "isso pd", "isso pu",
        "rgnd", "rpower", "rac", "cac", "on", "off", "r series", "l series", "rl series",
        "c series", "lc series", "rc series", "series current", "series mosfet", "ramp",
        "rising waveform", "falling waveform", "composite current", "external model",
        "end external model", "algorithmic model", "end algorithmic model", "initial delay",
        "begin emi model", "end emi model", "submodel", kSubmodelLimitsKeyword, "gnd pulse table",
        "power pulse table", "external circuit", "end external circuit", "test data",
        "rising waveform near", "falling waveform near", "rising waveform far",
        "falling waveform far", "diff rising waveform near", "diff falling waveform near",
        "diff rising waveform far", "diff falling waveform far", "test load",
        "interconnect model set", "end interconnect model set", "interconnect model",
        "end interconnect model", "model data", "end model data",
        // package model
        "define package model", "end package model", "oem", "description", "number of sections",
        "number of pins", "pin numbers", "merged pins", "resistance matrix", "inductance matrix",
        "capacitance matrix", "bandwidth", "row",
        // board description
        "begin board description", "end board description", "pin list", "path description",
        "reference designator map"};
    return known;
}

}  // namespace

namespace {

// The lexical rules of one raw line: its characters, its tabs; its length, if it may be too long
// for the file's version, goes to `longLines`.
void CheckCharacters(const std::string& line, std::size_t number, const std::string& path,
                     CheckReport& report,
                     std::vector<std::pair<std::size_t, std::size_t>>& longLines) {
    std::size_t length = line.size();
    if (length > 0 && line.back() == '\r') --length;
    if (length > kLongestOldLine) longLines.emplace_back(number, length);
    bool tabSaid = false;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\t') {
            if (!tabSaid)
                report.Add(103, path, number,
                           "a tab at column " + std::to_string(i + 1) +
                               ": legal, but tools that expand it may see a longer line");
            tabSaid = true;
        } else if (c < 0x20 || c > 0x7e) {
            report.Add(102, path, number,
                       "byte " + std::to_string(c) + " at column " + std::to_string(i + 1) +
                           ": IBIS files hold printable ASCII (32 to 126), tabs and line ends "
                           "only");
            return;  // one per line is enough
        }
    }
}

}  // namespace

bool SameWord(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool IbisNumber(const std::string& field, double& value) {
    const char* start = field.c_str();
    std::size_t i = 0;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < field.size() && std::isdigit(static_cast<unsigned char>(field[i]))) ++i, ++digits;
    if (i < field.size() && field[i] == '.') {
        ++i;
        while (i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < field.size() && (field[j] == '+' || field[j] == '-')) ++j;
        const std::size_t exponentStart = j;
        while (j < field.size() && std::isdigit(static_cast<unsigned char>(field[j]))) ++j;
        if (j > exponentStart) i = j;  // else the e starts a unit
    }
    const std::string mantissa(start, i);
    double scale = 1.0;
    if (i < field.size()) {
        switch (field[i]) {
            case 'T':
                scale = 1e12;
                break;
            case 'G':
                scale = 1e9;
                break;
            case 'M':
                scale = 1e6;
                break;
            case 'k':
                scale = 1e3;
                break;
            case 'm':
                scale = 1e-3;
                break;
            case 'u':
                scale = 1e-6;
                break;
            case 'n':
                scale = 1e-9;
                break;
            case 'p':
                scale = 1e-12;
                break;
            case 'f':
                scale = 1e-15;
                break;
            default:
                scale = 0.0;
                break;
        }
        if (scale != 0.0)
            ++i;
        else
            scale = 1.0;
    }
    for (; i < field.size(); ++i)  // a unit: letters only
        if (!std::isalpha(static_cast<unsigned char>(field[i]))) return false;
    double mantissaValue = 0.0;
    if (!FiniteNumber(mantissa, mantissaValue)) return false;
    value = mantissaValue * scale;
    return std::isfinite(value);
}

KeywordFile ReadKeywordFile(const std::string& text, const std::string& path, CheckReport& report) {
    std::vector<std::pair<std::size_t, std::size_t>> longLines;
    KeywordFile file = ReadKeywords(text, path, [&](std::size_t number, const std::string& raw) {
        CheckCharacters(raw, number, path, report, longLines);
    });
    const IbisVersion version = VersionOf(file);
    const std::size_t longest = version.Before(kLongLinesFrom) ? kLongestOldLine : kLongestLine;
    for (const auto& [number, length] : longLines)
        if (length > longest)
            report.Add(101, path, number,
                       "the line has " + std::to_string(length) + " characters; IBIS " +
                           version.text + " allows " + std::to_string(longest) +
                           ", comments included: wrap it or shorten its comment");
    for (const KeywordFinding& finding : file.findings) {
        if (finding.problem == KeywordProblem::NoClosingBracket)
            report.Add(105, path, finding.line, "'" + finding.text + "' has no closing bracket");
        else
            report.Add(106, path, finding.line,
                       "'" + finding.text + "': the comment character is one of " +
                           "!\"#$%&'()*,:;<>?@\\^`{|}~ followed by _char, e.g. #_char");
    }
    for (const KeywordSection& section : file.sections)
        if (KnownKeywords().count(section.name) == 0)
            report.Add(
                104, path, section.line,
                section.written + " is not an IBIS keyword (case, blanks and underscores aside)");
    return file;
}

}  // namespace amirun

namespace amirun {
namespace {

const std::set<std::string> kIbisVersions = {"1.1", "2.1", "3.2", "4.0", "4.1", "4.2", "5.0",
                                             "5.1", "6.0", "6.1", "7.0", "7.1", "7.2"};

}  // namespace

IbisVersion VersionOf(const KeywordFile& file) {
    IbisVersion version;
    for (const KeywordSection& s : file.sections) {
        if (s.name != "ibis ver") continue;
        if (kIbisVersions.count(s.argument)) {
            version.text = s.argument;
            version.tenths = (s.argument[0] - '0') * 10 + (s.argument[2] - '0');
        }
        break;
    }
    return version;
}

void CheckHeaderAndEnd(const KeywordFile& file, CheckReport& report) {
    const std::string& path = file.path;
    std::map<std::string, std::size_t> seen;
    for (const KeywordSection& s : file.sections) {
        // [Disclaimer] may be repeated; the other header keywords appear once.
        const bool header = s.name == "ibis ver" || s.name == "file name" || s.name == "file rev" ||
                            s.name == "date" || s.name == "source" || s.name == "notes" ||
                            s.name == "copyright";
        if (header && seen.count(s.name))
            report.Add(209, path, s.line,
                       s.written + " again: it was given on line " + std::to_string(seen[s.name]) +
                           " and is allowed once");
        if (header && !seen.count(s.name)) seen[s.name] = s.line;
    }
    if (!file.sections.empty() && file.sections.front().name != "ibis ver" &&
        seen.count("ibis ver"))
        report.Add(201, path, seen["ibis ver"],
                   "[IBIS Ver] must be the file's first keyword; " + file.sections.front().written +
                       " comes before it");
    for (const KeywordSection& s : file.sections) {
        if (s.name == "ibis ver" && kIbisVersions.count(s.argument) == 0)
            report.Add(202, path, s.line,
                       "'" + s.argument + "' is not a released IBIS version (1.1 to 7.2)");
        if (s.name == "file name") {
            const std::string own = std::filesystem::path(path).filename().string();
            if (s.argument != own)
                report.Add(203, path, s.line,
                           "[File Name] is '" + s.argument + "' but the file is '" + own + "'" +
                               (Lower(s.argument) == Lower(own) ? " (letter case differs)" : ""));
        }
    }
    const std::pair<const char*, const char*> required[] = {
        {"ibis ver", "[IBIS Ver]"}, {"file name", "[File Name]"}, {"file rev", "[File Rev]"}};
    for (const auto& [name, shown] : required)
        if (!seen.count(name))
            report.Add(204, path, 0, std::string("no ") + shown + ": every IBIS file needs it");
    std::size_t end = 0;
    for (std::size_t i = 0; i < file.sections.size(); ++i)
        if (file.sections[i].name == "end") end = i + 1;
    if (end == 0) {
        report.Add(207, path, 0, "the file has no [End]; readers take what follows for missing");
        return;
    }
    const KeywordSection& last = file.sections[end - 1];
    std::size_t after = 0;
    if (!last.rows.empty()) after = last.rows.front().line;
    if (end < file.sections.size()) after = after ? after : file.sections[end].line;
    if (after != 0)
        report.Add(
            211, path, after,
            "text after [End] (line " + std::to_string(last.line) + ") is ignored by readers");
}

bool CheckTypMinMax(const KeywordRow& row, std::size_t first, const std::string& path,
                    CheckReport& report, double& typ) {
    if (row.fields.size() < first + 3) {
        report.Add(108, path, row.line,
                   "'" + row.fields.front() + "' needs typ, min and max values (NA for an " +
                       "unknown min or max)");
        return false;
    }
    bool ok = true;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string& f = row.fields[first + k];
        double value = 0.0;
        if (f == "NA" && k == 0) {
            report.Add(108, path, row.line,
                       "typ of '" + row.fields.front() +
                           "' is NA: only min "
                           "and max may be unknown");
            ok = false;
        } else if (f != "NA" && !IbisNumber(f, value)) {
            report.Add(107, path, row.line, "'" + f + "' is not a number");
            if (k == 0) ok = false;
        } else if (k == 0) {
            typ = value;
        }
    }
    return ok;
}

FilePresence LocateBeside(const std::string& referrer, const std::string& name, std::size_t line,
                          CheckReport& report, std::string& found, std::size_t& budget) {
    namespace fs = std::filesystem;
    const fs::path relative(name);
    bool climbs = false;
    for (const auto& part : relative)
        if (part == "..") climbs = true;
    if (relative.is_absolute() || climbs || name.find('\\') != std::string::npos) {
        report.Add(506, referrer, line,
                   "'" + name + "' is not a plain name beside " +
                       fs::path(referrer).filename().string() +
                       ": use a path relative to the file's folder, without .. or \\");
        return FilePresence::Refused;
    }
    if (budget == 0) {  // said, so that a file past the bound never passes unseen
        report.Add(4, referrer, line,
                   "'" + name + "' is not looked up: the checker looks up at most " +
                       std::to_string(kFileLookups) + " files a file names");
        return FilePresence::Unchecked;
    }
    --budget;
    const fs::path folder = fs::path(referrer).parent_path();
    const fs::path exact = folder / relative;
    std::error_code error;
    if (fs::is_regular_file(exact, error)) {
        found = exact.string();
        return FilePresence::Present;
    }
    const fs::path parent = exact.parent_path().empty() ? fs::path(".") : exact.parent_path();
    std::size_t entries = 0;
    for (fs::directory_iterator it(parent, error), last; !error && it != last;
         it.increment(error)) {
        if (++entries > 20000) break;  // a bound on huge folders
        if (Lower(it->path().filename().string()) == Lower(exact.filename().string())) {
            found = it->path().string();
            return FilePresence::OtherCase;
        }
    }
    return FilePresence::Missing;
}

}  // namespace amirun
