// The rules of .ibs files beyond the shared lexical and header ones: where each keyword belongs,
// the component, the cross-references between pins and models, the models' data and their
// [Algorithmic Model] files.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/check/CheckKeywords.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

const std::set<std::string> kComponentKeywords = {"manufacturer",
                                                  "package",
                                                  "pin",
                                                  "package model",
                                                  "alternate package models",
                                                  "end alternate package models",
                                                  "pin mapping",
                                                  "bus label",
                                                  "die supply pads",
                                                  "diff pin",
                                                  "repeater pin",
                                                  "series pin mapping",
                                                  "series switch groups",
                                                  "node declarations",
                                                  "end node declarations",
                                                  "circuit call",
                                                  "end circuit call",
                                                  "clock pins",
                                                  "begin emi component",
                                                  "end emi component",
                                                  "interconnect model group",
                                                  "end interconnect model group"};
const std::set<std::string> kModelKeywords = {kModelLimitsKeyword,
                                              "receiver thresholds",
                                              "add submodel",
                                              "driver schedule",
                                              "temperature range",
                                              "voltage range",
                                              "pullup reference",
                                              "pulldown reference",
                                              "power clamp reference",
                                              "gnd clamp reference",
                                              "external reference",
                                              "c comp corner",
                                              "ttgnd",
                                              "ttpower",
                                              "pulldown",
                                              "pullup",
                                              "gnd clamp",
                                              "power clamp",
                                              "isso pd",
                                              "isso pu",
                                              "rgnd",
                                              "rpower",
                                              "rac",
                                              "cac",
                                              "on",
                                              "off",
                                              "r series",
                                              "l series",
                                              "rl series",
                                              "c series",
                                              "lc series",
                                              "rc series",
                                              "series current",
                                              "series mosfet",
                                              "ramp",
                                              "rising waveform",
                                              "falling waveform",
                                              "composite current",
                                              "external model",
                                              "end external model",
                                              "algorithmic model",
                                              "end algorithmic model",
                                              "initial delay",
                                              "begin emi model",
                                              "end emi model"};
// Sections whose contents other rules do not look into.
const std::set<std::string> kOtherTopLevel = {"submodel",
                                              "test data",
                                              "test load",
                                              "external circuit",
                                              "end external circuit",
                                              "define package model",
                                              "end package model",
                                              "interconnect model set",
                                              "end interconnect model set",
                                              "model data",
                                              "end model data"};
const std::set<std::string> kOnceInModel = {
    "voltage range",     "pulldown",          "pullup",
    "gnd clamp",         "power clamp",       "ramp",
    "algorithmic model", kModelLimitsKeyword, "receiver thresholds"};
const std::set<std::string> kOnceInComponent = {"manufacturer", "package", "pin", "diff pin"};
const std::set<std::string> kIvTables = {"pulldown",    "pullup",  "gnd clamp",
                                         "power clamp", "isso pd", "isso pu"};
const std::set<std::string> kVtTables = {"rising waveform", "falling waveform"};
const std::vector<std::string> kModelTypes = {
    "Input",          "Output",        "I/O",           "3-state",     "Open_drain",
    "I/O_open_drain", "Open_sink",     "I/O_open_sink", "Open_source", "I/O_open_source",
    "Input_ECL",      "Output_ECL",    "I/O_ECL",       "3-state_ECL", "Terminator",
    "Series",         "Series_switch", "Input_diff",    "Output_diff", "I/O_diff",
    "3-state_diff"};
const std::set<std::string> kReservedModelNames = {"power", "gnd", "nc", "na"};

struct Model {
    std::string name;
    std::size_t line = 0;
    std::map<std::string, const KeywordSection*> sections;  // the first of each keyword
    std::vector<const KeywordRow*> rows;                    // the rows under [Model] itself
    std::vector<const KeywordSection*> waveforms;           // every waveform table, repeats too
};

struct Ibis {
    const KeywordFile& file;
    CheckReport& report;
    std::vector<Model> models;
    std::map<std::string, std::size_t> modelLines;  // name, line of its first definition
    std::map<std::string, std::size_t> selectors;   // name, line
    std::set<std::string> usedModels;
    std::vector<AmiReference> amis;
    std::size_t lookups = kFileLookups;
    IbisVersion version;
    std::set<std::string> filesSaid;      // files already reported missing: one message each
    std::set<std::string> packageModels;  // [Define Package Model] names of this file

    void Add(int rule, std::size_t line, const std::string& text) {
        report.Add(rule, file.path, line, text);
    }
};

bool IsInputType(const std::string& type) {
    const std::string t = Lower(type);
    return t == "input" || t.rfind("i/o", 0) == 0 || t == "input_ecl" || t == "input_diff";
}

// What each Model_type needs: pulldown, pullup, ramp.
void TablesNeeded(const std::string& type, bool& pulldown, bool& pullup, bool& ramp) {
    const std::string t = Lower(type);
    const bool drives = t == "output" || t == "i/o" || t == "3-state" || t == "output_ecl" ||
                        t == "i/o_ecl" || t == "3-state_ecl" || t == "output_diff" ||
                        t == "i/o_diff" || t == "3-state_diff";
    const bool sinks =
        t == "open_drain" || t == "i/o_open_drain" || t == "open_sink" || t == "i/o_open_sink";
    const bool sources = t == "open_source" || t == "i/o_open_source";
    pulldown = drives || sinks;
    pullup = drives || sources;
    ramp = drives || sinks || sources;
}

enum class Scope { Header, Component, Selector, Model, Package, Other, Ended };

// A [Component], [Model Selector], [Model] or other top-level section opens a new scope; a
// [Model] is recorded with its rows. Returns the model it opens, if any.
Model* OpenScope(Ibis& ibis, const KeywordSection& s, Scope& scope) {
    const std::string& k = s.name;
    if (k == "component") scope = Scope::Component;
    if (kOtherTopLevel.count(k)) scope = Scope::Other;
    if (k == "model selector") {
        scope = Scope::Selector;
        if (ibis.selectors.count(s.argument))
            ibis.Add(303, s.line, "model selector '" + s.argument + "' is defined twice");
        ibis.selectors.emplace(s.argument, s.line);
    }
    if (k != "model") return nullptr;
    scope = Scope::Model;
    const auto first = ibis.modelLines.emplace(s.argument, s.line);
    if (!first.second)
        ibis.Add(303, s.line,
                 "model '" + s.argument + "' is defined twice (first on line " +
                     std::to_string(first.first->second) + ")");
    ibis.models.push_back({s.argument, s.line, {}, {}, {}});
    Model* model = &ibis.models.back();
    for (const KeywordRow& row : s.rows) model->rows.push_back(&row);
    return model;
}

// A keyword inside a scope: under the right one, and not repeated where it may appear once.
void CheckInScope(Ibis& ibis, const KeywordSection& s, Scope scope,
                  std::map<std::string, std::size_t>& inScope) {
    const std::string& k = s.name;
    if (kComponentKeywords.count(k) && scope != Scope::Component)
        ibis.Add(208, s.line,
                 s.written + " belongs under a [Component], before its models: move it there");
    if (kModelKeywords.count(k) && scope != Scope::Model && scope != Scope::Other)
        ibis.Add(208, s.line, s.written + " belongs under a [Model]: move it into one");
    if ((scope == Scope::Component && kOnceInComponent.count(k)) ||
        (scope == Scope::Model && kOnceInModel.count(k))) {
        if (inScope.count(k))
            ibis.Add(209, s.line,
                     s.written + " again in the same " +
                         (scope == Scope::Model ? "[Model]" : "[Component]") +
                         ": the first is on line " + std::to_string(inScope[k]));
        else
            inScope[k] = s.line;
    }
}

// The sections in order, each placed: component keywords under a [Component], model keywords
// under a [Model]; repeats where one is allowed.
void CheckPlacement(Ibis& ibis) {
    Scope scope = Scope::Header;
    std::map<std::string, std::size_t> inScope;
    Model* model = nullptr;
    const KeywordSection* openAlgorithmic = nullptr;
    auto closeModel = [&] {
        if (openAlgorithmic != nullptr)
            ibis.Add(210, openAlgorithmic->line,
                     "[Algorithmic Model] is not closed by [End Algorithmic Model] before the "
                     "next model or the end");
        openAlgorithmic = nullptr;
    };
    for (const KeywordSection& s : ibis.file.sections) {
        const std::string& k = s.name;
        if (k == "comment char") continue;
        // A package model inside the .ibs file keeps its own keywords; the package rules read them.
        if (k == "define package model") {
            closeModel();
            model = nullptr;
            scope = Scope::Package;
            continue;
        }
        if (scope == Scope::Package) {
            if (k == "end package model") scope = Scope::Other;
            continue;
        }
        if (k == "end package model") {
            ibis.Add(208, s.line, "[End Package Model] without a [Define Package Model]");
            continue;
        }
        if (k == "end") {
            closeModel();
            scope = Scope::Ended;
            continue;
        }
        if (k == "component" || k == "model selector" || k == "model" || kOtherTopLevel.count(k)) {
            closeModel();
            inScope.clear();
            model = OpenScope(ibis, s, scope);
            continue;
        }
        CheckInScope(ibis, s, scope, inScope);
        if (model != nullptr && scope == Scope::Model && !model->sections.count(k))
            model->sections[k] = &s;
        if (model != nullptr && scope == Scope::Model && kVtTables.count(k))
            model->waveforms.push_back(&s);
        if (k == "algorithmic model") openAlgorithmic = &s;
        if (k == "end algorithmic model") {
            if (openAlgorithmic == nullptr)
                ibis.Add(208, s.line, "[End Algorithmic Model] without an [Algorithmic Model]");
            openAlgorithmic = nullptr;
        }
    }
    closeModel();
}

const KeywordSection* FindSection(const std::vector<const KeywordSection*>& sections,
                                  const std::string& name) {
    for (const KeywordSection* s : sections)
        if (s->name == name) return s;
    return nullptr;
}

// R_pkg, L_pkg and C_pkg, each typ within its min .. max.
void CheckPackageRows(Ibis& ibis, const KeywordSection& package) {
    std::set<std::string> given;
    for (const KeywordRow& row : package.rows) {
        given.insert(row.fields.front());
        double typ = 0.0;
        if (!CheckTypMinMax(row, 1, ibis.file.path, ibis.report, typ)) continue;
        double lo = 0.0, hi = 0.0;
        if (IbisNumber(row.fields[2], lo) && IbisNumber(row.fields[3], hi) &&
            (typ < lo || typ > hi))
            ibis.Add(412, row.line,
                     row.fields.front() + " typ " + row.fields[1] + " lies outside min " +
                         row.fields[2] + " .. max " + row.fields[3]);
    }
    for (const char* name : {"R_pkg", "L_pkg", "C_pkg"})
        if (!given.count(name))
            ibis.Add(206, package.line, std::string("[Package] has no ") + name);
}

// One [Pin] row: its shape, a pin listed once, a model this file defines, numbers for R/L/C.
void CheckPinRow(Ibis& ibis, const KeywordRow& row, std::map<std::string, std::size_t>& pins) {
    if (row.fields.size() != 3 && row.fields.size() != 6) {
        ibis.Add(308, row.line,
                 "a [Pin] row holds pin, signal and model, optionally followed by R_pin, L_pin "
                 "and C_pin; this one has " +
                     std::to_string(row.fields.size()) + " columns");
        return;
    }
    const std::string& pin = row.fields[0];
    if (pins.count(pin))
        ibis.Add(
            302, row.line,
            "pin " + pin + " is listed again (first on line " + std::to_string(pins[pin]) + ")");
    else
        pins[pin] = row.line;
    const std::string& model = row.fields[2];
    ibis.usedModels.insert(model);
    const std::string lower = Lower(model);
    const bool reserved = lower == "power" || lower == "gnd" || lower == "nc";
    const bool known = ibis.selectors.count(model) || ibis.modelLines.count(model);
    if (!reserved && !known)
        ibis.Add(301, row.line,
                 "pin " + pin + " names model '" + model +
                     "', which is no [Model] or [Model Selector] of this file (nor POWER, GND or "
                     "NC): correct the name or add the model");
    for (std::size_t k = 3; k < row.fields.size(); ++k) {
        double value = 0.0;
        if (row.fields[k] != "NA" && !IbisNumber(row.fields[k], value))
            ibis.Add(107, row.line, "'" + row.fields[k] + "' is not a number");
    }
}

// Each [Diff Pin] pair: two listed pins, neither paired with itself or twice.
void CheckDiffPins(Ibis& ibis, const KeywordSection& diff,
                   const std::map<std::string, std::size_t>& pins) {
    std::map<std::string, std::size_t> paired;
    for (const KeywordRow& row : diff.rows) {
        if (row.fields.size() != 6)
            ibis.Add(310, row.line,
                     "a [Diff Pin] row holds pin, inv_pin, vdiff, tdelay_typ, tdelay_min and "
                     "tdelay_max (NA where unknown); this one has " +
                         std::to_string(row.fields.size()) + " columns");
        if (row.fields.size() < 2) continue;
        if (row.fields[0] == row.fields[1])
            ibis.Add(305, row.line, "pin " + row.fields[0] + " is paired with itself");
        for (std::size_t k = 0; k < 2; ++k) {
            const std::string& pin = row.fields[k];
            if (!pins.count(pin))
                ibis.Add(304, row.line,
                         "[Diff Pin] names pin " + pin + ", which is not under [Pin]");
            if (paired.count(pin) && row.fields[0] != row.fields[1])
                ibis.Add(305, row.line,
                         "pin " + pin + " is already in the pair on line " +
                             std::to_string(paired.at(pin)));
            paired.emplace(pin, row.line);
        }
    }
}

// Each [Series Pin Mapping] row: two pins under [Pin] and a series [Model] between them.
void CheckSeriesPins(Ibis& ibis, const KeywordSection& series,
                     const std::map<std::string, std::size_t>& pins) {
    for (const KeywordRow& row : series.rows) {
        if (row.fields.size() < 3) {
            ibis.Add(309, row.line,
                     "a [Series Pin Mapping] row holds pin_1, pin_2 and model_name; this one has " +
                         std::to_string(row.fields.size()) + " columns");
            continue;
        }
        for (std::size_t k = 0; k < 2; ++k)
            if (!pins.count(row.fields[k]))
                ibis.Add(309, row.line,
                         "[Series Pin Mapping] names pin " + row.fields[k] +
                             ", which is not under [Pin]");
        const std::string& model = row.fields[2];
        ibis.usedModels.insert(model);
        if (!ibis.modelLines.count(model) && !ibis.selectors.count(model))
            ibis.Add(309, row.line,
                     "[Series Pin Mapping] names model '" + model +
                         "', which is no [Model] of this file: add it, or name one that is");
    }
}

// Whether a .pkg file beside the .ibs file defines the package model `name`. Bounded: the first
// 64 .pkg files of the folder, up to 1 MiB of each.
bool PackageFileDefines(Ibis& ibis, const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::path(ibis.file.path).parent_path();
    std::size_t entries = 0, files = 0;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), last;
         !error && it != last && ++entries < 20000 && files < 64; it.increment(error)) {
        if (Lower(it->path().extension().string()) != ".pkg" || !it->is_regular_file(error))
            continue;
        ++files;
        std::ifstream in(it->path(), std::ios::binary);
        std::string text(1 << 20, '\0');
        in.read(text.data(), std::streamsize(text.size()));
        text.resize(std::size_t(in.gcount()));
        for (const KeywordSection& s : ReadKeywords(text, it->path().string()).sections)
            if (s.name == "define package model" && s.argument == name) return true;
    }
    return false;
}

// Each [Component]'s own sections, the [Component] first.
std::vector<std::vector<const KeywordSection*>> ComponentSections(const KeywordFile& file) {
    std::vector<std::vector<const KeywordSection*>> components;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "component")
            components.push_back({&s});
        else if (s.name == "model" || s.name == "model selector" || kOtherTopLevel.count(s.name))
            components.push_back({});  // ends the component's scope
        else if (!components.empty() && !components.back().empty() &&
                 kComponentKeywords.count(s.name))
            components.back().push_back(&s);
    }
    return components;
}

void CheckComponents(Ibis& ibis) {
    bool any = false;
    for (const auto& sections : ComponentSections(ibis.file)) {
        if (sections.empty()) continue;
        any = true;
        const KeywordSection& head = *sections.front();
        for (const auto& [name, shown] :
             {std::pair<const char*, const char*>{"manufacturer", "[Manufacturer]"},
              {"package", "[Package]"},
              {"pin", "[Pin]"}})
            if (FindSection(sections, name) == nullptr)
                ibis.Add(206, head.line, "[Component] " + head.argument + " has no " + shown);
        if (const KeywordSection* package = FindSection(sections, "package"))
            CheckPackageRows(ibis, *package);
        std::map<std::string, std::size_t> pins;
        if (const KeywordSection* pinSection = FindSection(sections, "pin"))
            for (const KeywordRow& row : pinSection->rows) CheckPinRow(ibis, row, pins);
        if (const KeywordSection* diff = FindSection(sections, "diff pin"))
            CheckDiffPins(ibis, *diff, pins);
        if (const KeywordSection* series = FindSection(sections, "series pin mapping"))
            CheckSeriesPins(ibis, *series, pins);
        if (const KeywordSection* package = FindSection(sections, "package model"))
            if (!ibis.packageModels.count(package->argument) &&
                !PackageFileDefines(ibis, package->argument))
                ibis.Add(311, package->line,
                         "[Package Model] " + package->argument +
                             " is defined by no [Define Package Model] of this file nor of a "
                             ".pkg file beside it");
    }
    if (!any) ibis.Add(205, 0, "the file has no [Component]: an .ibs file describes one or more");
}

void CheckSelectors(Ibis& ibis) {
    for (const KeywordSection& s : ibis.file.sections) {
        if (s.name != "model selector") continue;
        for (const KeywordRow& row : s.rows) {
            const std::string& name = row.fields.front();
            ibis.usedModels.insert(name);
            if (!ibis.modelLines.count(name))
                ibis.Add(306, row.line,
                         "[Model Selector] " + s.argument + " names '" + name +
                             "', which is no [Model] of this file");
        }
    }
}

// A subparameter row as IBIS reads it, with its '=' a field of its own: "Name=value",
// "Name = value", "Name= value" and "Name =value" alike.
std::vector<std::string> SubparameterFields(const KeywordRow& row) {
    std::vector<std::string> fields;
    for (const std::string& f : row.fields) {
        std::size_t from = 0;
        for (std::size_t eq; (eq = f.find('=', from)) != std::string::npos; from = eq + 1) {
            if (eq > from) fields.push_back(f.substr(from, eq - from));
            fields.push_back("=");
        }
        if (from < f.size()) fields.push_back(f.substr(from));
    }
    return fields;
}

// "Name value", "Name = value" (blanks or none around '=') or "Name typ min max".
std::optional<std::vector<std::string>> ModelValue(const std::vector<const KeywordRow*>& rows,
                                                   const std::string& name, std::size_t& line) {
    for (const KeywordRow* row : rows) {
        std::vector<std::string> fields = SubparameterFields(*row);
        if (fields.empty() || !SameWord(fields.front(), name)) continue;
        line = row->line;
        std::vector<std::string> values(fields.begin() + 1, fields.end());
        if (!values.empty() && values.front() == "=") values.erase(values.begin());
        return values;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> ModelValue(const Model& model, const std::string& name,
                                                   std::size_t& line) {
    return ModelValue(model.rows, name, line);
}

// A table's rows: voltages (I-V) strictly monotonic either way, times (V-T) strictly ascending,
// as many rows as the file's version allows; typ may be NA only between the first and last rows,
// and a min or max column with numbers must not begin or end with NA.
void CheckTable(Ibis& ibis, const KeywordSection& table, bool timeTable) {
    std::vector<double> firsts;
    std::vector<const KeywordRow*> data;
    std::size_t lastLine = table.line, badLine = 0;
    for (const KeywordRow& row : table.rows) {
        double first = 0.0;
        // Subparameters of waveform tables (R_fixture = 50, ...) are not data rows.
        if (!IbisNumber(row.fields.front(), first)) {
            if (!timeTable) ibis.Add(107, row.line, "'" + row.fields.front() + "' is not a number");
            continue;
        }
        if (row.fields.size() != 4) {
            ibis.Add(409, row.line,
                     table.written + " rows hold " + (timeTable ? "time" : "voltage") +
                         ", typ, min and max; this one has " + std::to_string(row.fields.size()) +
                         " columns");
            continue;
        }
        for (std::size_t k = 1; k < 4; ++k) {
            double value = 0.0;
            if (row.fields[k] != "NA" && !IbisNumber(row.fields[k], value))
                ibis.Add(107, row.line, "'" + row.fields[k] + "' is not a number");
        }
        if (badLine == 0 && !firsts.empty()) {
            const double step = first - firsts.back();
            const double direction = firsts.size() >= 2 ? firsts[1] - firsts[0] : step;
            const bool along =
                timeTable ? step > 0.0
                          : (step > 0.0 && direction > 0.0) || (step < 0.0 && direction < 0.0);
            if (!along) badLine = row.line;
        }
        firsts.push_back(first);
        data.push_back(&row);
        lastLine = row.line;
    }
    const int rule = timeTable ? 408 : 407;
    if (firsts.size() < 2)
        ibis.Add(rule, lastLine, table.written + " needs at least two rows");
    else if (badLine != 0)
        ibis.Add(
            rule, badLine,
            table.written + (timeTable ? " times must strictly ascend; this row's does not"
                                       : " voltages must strictly ascend or strictly descend; this "
                                         "row's repeats or turns back"));
    const std::size_t most = !timeTable ? 100 : ibis.version.Before(40) ? 100 : 1000;
    if (firsts.size() > most)
        ibis.Add(413, table.line,
                 table.written + " has " + std::to_string(firsts.size()) + " rows; IBIS " +
                     ibis.version.text + " allows " + std::to_string(most) +
                     ": resample it more coarsely");
    if (data.empty()) return;
    for (const KeywordRow* end : {data.front(), data.back()})
        if (end->fields[1] == "NA")
            ibis.Add(108, end->line,
                     table.written + ": typ is NA in its " +
                         (end == data.front() ? "first" : "last") +
                         " row; typ may be NA only between the first and last rows");
    for (std::size_t column = 2; column < 4; ++column) {
        const bool numbers = std::any_of(data.begin(), data.end(), [&](const KeywordRow* r) {
            return r->fields[column] != "NA";
        });
        if (!numbers) continue;
        for (const KeywordRow* end : {data.front(), data.back()})
            if (end->fields[column] == "NA") {
                ibis.Add(410, end->line,
                         table.written + ": the " + (column == 2 ? "min" : "max") +
                             " column has numbers but is NA in its " +
                             (end == data.front() ? "first" : "last") +
                             " row; give that row's value or make the column NA throughout");
                break;
            }
    }
}

void CheckRamp(Ibis& ibis, const KeywordSection& ramp) {
    for (const char* name : {"dV/dt_r", "dV/dt_f"}) {
        const auto row = std::find_if(ramp.rows.begin(), ramp.rows.end(), [&](const KeywordRow& r) {
            return SameWord(r.fields.front(), name);
        });
        if (row == ramp.rows.end()) {
            ibis.Add(411, ramp.line, std::string("[Ramp] has no ") + name);
            continue;
        }
        if (row->fields.size() < 4) {
            ibis.Add(108, row->line, std::string(name) + " needs typ, min and max values");
            continue;
        }
        for (std::size_t k = 1; k < 4; ++k) {
            const std::string& f = row->fields[k];
            if (f == "NA" && k > 1) continue;
            const std::size_t slash = f.find('/');
            double rise = 0.0, time = 0.0;
            if (slash == std::string::npos || !IbisNumber(f.substr(0, slash), rise) ||
                !IbisNumber(f.substr(slash + 1), time) || !(rise > 0.0) || !(time > 0.0))
                ibis.Add(411, row->line,
                         std::string(name) + " '" + f +
                             "' is not a positive rise over a positive time, like 0.3/15p");
        }
    }
}

// OS_compiler[_more]_bits: an alphanumeric first part, parts of letters, digits and . + -, and
// 32 or 64 last. Read part by part, in time and memory linear in the name whatever its length.
bool PlatformName(const std::string& name) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = name.find('_', from)) != std::string::npos; from = at + 1)
        parts.push_back(name.substr(from, at - from));
    parts.push_back(name.substr(from));
    if (parts.size() < 3 || (parts.back() != "32" && parts.back() != "64")) return false;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].empty()) return false;
        for (const char c : parts[i]) {
            const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
            if (!alnum && (i == 0 || (c != '.' && c != '+' && c != '-'))) return false;
        }
    }
    return true;
}

// "Tx", "Rx" or "" (both, or unknown) by the model's Model_type.
std::string ModelDirection(const Model& model) {
    std::size_t line = 0;
    const auto type = ModelValue(model, "Model_type", line);
    if (!type || type->empty()) return "";
    const std::string t = Lower(type->front());
    if (t.rfind("i/o", 0) == 0) return "";
    if (IsInputType(t)) return "Rx";
    bool pulldown = false, pullup = false, ramp = false;
    TablesNeeded(t, pulldown, pullup, ramp);
    return ramp ? "Tx" : "";
}

void CheckAlgorithmic(Ibis& ibis, const Model& model, const KeywordSection& section) {
    std::size_t executables = 0;
    for (const KeywordRow& row : section.rows) {
        const std::string lead = Lower(row.fields.front());
        if (lead != "executable" && lead != "executable_rx" && lead != "executable_tx") continue;
        ++executables;
        if (row.fields.size() != 4) {
            ibis.Add(501, row.line,
                     "an Executable line names a platform, a library and an .ami file; this one "
                     "has " +
                         std::to_string(row.fields.size() - 1) + " fields");
            continue;
        }
        const std::string& name = row.fields[1];
        if (!PlatformName(name))
            ibis.Add(502, row.line,
                     "platform '" + name +
                         "' is not OS_compiler_bits, like Linux_gcc_64 or "
                         "Windows_VisualStudio_32");
        const std::string extension =
            Lower(std::filesystem::path(row.fields[2]).extension().string());
        const bool windows = Lower(name).rfind("windows", 0) == 0;
        const bool linux = Lower(name).rfind("linux", 0) == 0;
        if ((windows && extension != ".dll") || (linux && extension != ".so"))
            ibis.Add(507, row.line,
                     "library '" + row.fields[2] + "' for platform " + name + " should end in " +
                         (windows ? ".dll" : ".so"));
        if (Lower(std::filesystem::path(row.fields[3]).extension().string()) != ".ami")
            ibis.Add(509, row.line,
                     "parameter file '" + row.fields[3] +
                         "' does not end in .ami, as IBIS requires of it");
        for (std::size_t k = 2; k < 4; ++k) {
            if (ibis.version.Before(70) && Lower(row.fields[k]) != row.fields[k])
                ibis.Add(510, row.line,
                         "'" + row.fields[k] +
                             "' has upper-case letters; before IBIS 7.0 file "
                             "names are lower case (this file says " +
                             ibis.version.text + ")");
            // One message per missing file, however many Executable lines name it.
            if (ibis.filesSaid.count(row.fields[k])) continue;
            std::string found;
            const FilePresence presence = LocateBeside(ibis.file.path, row.fields[k], row.line,
                                                       ibis.report, found, ibis.lookups);
            if (presence == FilePresence::Missing || presence == FilePresence::OtherCase)
                ibis.filesSaid.insert(row.fields[k]);
            if (presence == FilePresence::Missing)
                ibis.Add(k == 2 ? 503 : 504, row.line,
                         "'" + row.fields[k] + "' is not beside " +
                             std::filesystem::path(ibis.file.path).filename().string());
            if (presence == FilePresence::OtherCase)
                ibis.Add(505, row.line,
                         "'" + row.fields[k] + "' exists only as '" +
                             std::filesystem::path(found).filename().string() +
                             "': make the name and the file agree letter for letter");
            if (k == 3 && presence == FilePresence::Present &&
                std::none_of(ibis.amis.begin(), ibis.amis.end(),
                             [&](const AmiReference& r) { return r.path == found; }))
                ibis.amis.push_back({found, model.name, ibis.version.text, ModelDirection(model)});
        }
    }
    if (executables == 0)
        ibis.Add(508, section.line,
                 "[Algorithmic Model] of " + model.name +
                     " has no Executable line: add 'Executable <platform> <library> <file>.ami'");
}

// The model's Model_type, checked against IBIS's list; empty when it has none.
std::string CheckModelType(Ibis& ibis, const Model& model) {
    std::size_t line = model.line;
    const auto type = ModelValue(model, "Model_type", line);
    if (!type || type->empty()) {
        ibis.Add(401, model.line,
                 "[Model] " + model.name + " has no Model_type: add one, such as Input or I/O");
        return "";
    }
    const std::string typeName = type->front();
    if (std::none_of(kModelTypes.begin(), kModelTypes.end(),
                     [&](const std::string& t) { return SameWord(t, typeName); }))
        ibis.Add(401, line, "Model_type '" + typeName + "' is not an IBIS model type");
    return typeName;
}

// C_comp, or its split parts, or a corner table; its typ positive and within min .. max.
void CheckCcomp(Ibis& ibis, const Model& model, bool series) {
    std::size_t line = model.line;
    const auto ccomp = ModelValue(model, "C_comp", line);
    bool splitCcomp = false;
    for (const char* part :
         {"C_comp_pullup", "C_comp_pulldown", "C_comp_power_clamp", "C_comp_gnd_clamp"}) {
        std::size_t ignored = 0;
        splitCcomp = splitCcomp || ModelValue(model, part, ignored).has_value();
    }
    if (!ccomp && !splitCcomp && !series && !model.sections.count("c comp corner")) {
        ibis.Add(402, model.line, "[Model] " + model.name + " has no C_comp");
        return;
    }
    if (!ccomp) return;
    KeywordRow row{line, {"C_comp"}};
    row.fields.insert(row.fields.end(), ccomp->begin(), ccomp->end());
    double typ = 0.0;
    if (!CheckTypMinMax(row, 1, ibis.file.path, ibis.report, typ)) return;
    if (typ < 0.0) ibis.Add(402, line, "C_comp typ is negative");
    double lo = 0.0, hi = 0.0;
    if (row.fields.size() >= 4 && IbisNumber(row.fields[2], lo) && IbisNumber(row.fields[3], hi) &&
        (typ < lo || typ > hi))
        ibis.Add(412, line,
                 "C_comp typ " + row.fields[1] + " lies outside min " + row.fields[2] + " .. max " +
                     row.fields[3]);
}

// Vinl below Vinh, one number each; an input model gives them or thresholds of its own.
void CheckThresholds(Ibis& ibis, const Model& model, const std::string& typeName) {
    std::size_t vinlLine = 0, vinhLine = 0;
    const auto vinl = ModelValue(model, "Vinl", vinlLine);
    const auto vinh = ModelValue(model, "Vinh", vinhLine);
    double low = 0.0, high = 0.0;
    for (const auto& [value, where] : {std::pair{&vinl, vinlLine}, std::pair{&vinh, vinhLine}})
        if (*value && (value->value().empty() || !IbisNumber(value->value().front(), low)))
            ibis.Add(107, where, "Vinl and Vinh take one number each");
    if (vinl && vinh && !vinl->empty() && !vinh->empty() && IbisNumber(vinl->front(), low) &&
        IbisNumber(vinh->front(), high) && !(low < high))
        ibis.Add(403, vinhLine, "Vinl " + vinl->front() + " is not below Vinh " + vinh->front());
    if (IsInputType(typeName) && (!vinl || !vinh) && !model.sections.count(kModelLimitsKeyword) &&
        !model.sections.count("receiver thresholds"))
        ibis.Add(404, model.line,
                 "input model " + model.name +
                     " gives no Vinl and Vinh; simulators will assume their own");
}

// The tables its type needs, a voltage range or references, and each table's own rules.
void CheckModelTables(Ibis& ibis, const Model& model, const std::string& typeName, bool series) {
    bool pulldown = false, pullup = false, ramp = false;
    TablesNeeded(typeName, pulldown, pullup, ramp);
    for (const auto& [needed, name, shown] :
         {std::tuple{pulldown, "pulldown", "[Pulldown]"}, std::tuple{pullup, "pullup", "[Pullup]"},
          std::tuple{ramp, "ramp", "[Ramp]"}})
        if (needed && !model.sections.count(name))
            ibis.Add(
                405, model.line,
                "Model_type " + typeName + " needs " + shown + "; " + model.name + " has none");
    const bool referenced = model.sections.count("pullup reference") ||
                            model.sections.count("pulldown reference") ||
                            model.sections.count("power clamp reference") ||
                            model.sections.count("gnd clamp reference");
    if (!series && !model.sections.count("voltage range") && !referenced)
        ibis.Add(406, model.line,
                 "[Model] " + model.name + " has neither [Voltage Range] nor reference voltages");
    if (const auto range = model.sections.find("voltage range"); range != model.sections.end()) {
        const KeywordSection& s = *range->second;
        KeywordRow row{s.line, SplitFields("[Voltage_Range] " + s.argument)};
        double typ = 0.0;
        CheckTypMinMax(row, 1, ibis.file.path, ibis.report, typ);
    }
    for (const auto& [name, section] : model.sections)
        if (kIvTables.count(name)) CheckTable(ibis, *section, false);
    for (const KeywordSection* waveform : model.waveforms) CheckTable(ibis, *waveform, true);
    if (const auto r = model.sections.find("ramp"); r != model.sections.end())
        CheckRamp(ibis, *r->second);
}

// [Add Submodel] rows name a [Submodel] of this file; [Driver Schedule] rows a [Model];
// [Receiver Thresholds] gives the thresholds IBIS requires of it.
void CheckModelReferences(Ibis& ibis, const Model& model,
                          const std::map<std::string, std::size_t>& submodels) {
    if (const auto add = model.sections.find("add submodel"); add != model.sections.end())
        for (const KeywordRow& row : add->second->rows) {
            if (row.fields.size() < 2)
                ibis.Add(313, row.line,
                         "an [Add Submodel] row holds a submodel name and its mode (Driving, "
                         "Non-Driving or All)");
            else if (!submodels.count(row.fields[0]))
                ibis.Add(313, row.line,
                         "[Add Submodel] names '" + row.fields[0] +
                             "', which is no [Submodel] of this file");
        }
    if (const auto schedule = model.sections.find("driver schedule");
        schedule != model.sections.end())
        for (const KeywordRow& row : schedule->second->rows) {
            ibis.usedModels.insert(row.fields[0]);
            if (!ibis.modelLines.count(row.fields[0]))
                ibis.Add(315, row.line,
                         "[Driver Schedule] names '" + row.fields[0] +
                             "', which is no [Model] of this file");
        }
    if (const auto thresholds = model.sections.find("receiver thresholds");
        thresholds != model.sections.end()) {
        std::vector<const KeywordRow*> rows;
        for (const KeywordRow& row : thresholds->second->rows) rows.push_back(&row);
        std::string missing;
        for (const char* name : {"Vth", "Vinh_ac", "Vinh_dc", "Vinl_ac", "Vinl_dc"}) {
            std::size_t line = 0;
            if (!ModelValue(rows, name, line))
                missing += std::string(missing.empty() ? "" : ", ") + name;
        }
        if (!missing.empty())
            ibis.Add(316, thresholds->second->line,
                     "[Receiver Thresholds] of " + model.name + " has no " + missing +
                         ": IBIS requires Vth, Vinh_ac, Vinh_dc, Vinl_ac and Vinl_dc");
    }
}

void CheckModel(Ibis& ibis, const Model& model) {
    const std::size_t longest = ibis.version.Before(42) ? 20 : 40;
    if (model.name.size() > longest)
        ibis.Add(312, model.line,
                 "model name '" + model.name + "' has " + std::to_string(model.name.size()) +
                     " characters; IBIS " + ibis.version.text + " allows " +
                     std::to_string(longest));
    if (kReservedModelNames.count(Lower(model.name)))
        ibis.Add(109, model.line, "'" + model.name + "' is a reserved word, not a model name");
    if (ibis.selectors.count(model.name))
        ibis.Add(303, model.line,
                 "'" + model.name + "' names both a [Model] and a [Model Selector]");
    const std::string typeName = CheckModelType(ibis, model);
    const bool series = SameWord(typeName, "Series") || SameWord(typeName, "Series_switch");
    CheckCcomp(ibis, model, series);
    CheckThresholds(ibis, model, typeName);
    CheckModelTables(ibis, model, typeName, series);
    if (const auto a = model.sections.find("algorithmic model"); a != model.sections.end())
        CheckAlgorithmic(ibis, model, *a->second);
}

}  // namespace

std::vector<AmiReference> CheckIbisText(const std::string& text, const std::string& path,
                                        CheckReport& report) {
    const KeywordFile file = ReadKeywordFile(text, path, report);
    CheckHeaderAndEnd(file, report);
    Ibis ibis{file, report, {}, {}, {}, {}, {}, kFileLookups, VersionOf(file), {}, {}};
    report.Checked(path, "IBIS " + ibis.version.text);
    CheckPlacement(ibis);
    // Package models inside the file, by the package rules.
    std::vector<const KeywordSection*> package;
    std::size_t packageLine = 0;
    bool inPackage = false;
    std::map<std::string, std::size_t> submodels;
    for (const KeywordSection& s : file.sections) {
        if (s.name == "define package model") {
            ibis.packageModels.insert(s.argument);
            package.clear();
            packageLine = s.line;
            inPackage = true;
        } else if (s.name == "end package model" && inPackage) {
            CheckPackageModel(package, path, packageLine, report);
            inPackage = false;
        } else if (inPackage) {
            package.push_back(&s);
        }
        if (s.name == "submodel") {
            submodels.emplace(s.argument, s.line);
            std::vector<const KeywordRow*> rows;
            for (const KeywordRow& row : s.rows) rows.push_back(&row);
            std::size_t line = s.line;
            const auto type = ModelValue(rows, "Submodel_type", line);
            static const std::set<std::string> types = {"dynamic_clamp", "bus_hold", "fall_back"};
            if (!type || type->empty() || !types.count(Lower(type->front())))
                report.Add(
                    314, path, line,
                    "[Submodel] " + s.argument +
                        (type && !type->empty() ? " has Submodel_type '" + type->front() + "'"
                                                : " has no Submodel_type") +
                        "; it is Dynamic_clamp, Bus_hold or Fall_back");
        }
    }
    CheckComponents(ibis);
    CheckSelectors(ibis);
    for (const Model& model : ibis.models) {
        CheckModel(ibis, model);
        CheckModelReferences(ibis, model, submodels);
    }
    for (const Model& model : ibis.models) {
        if (!ibis.usedModels.count(model.name))
            ibis.Add(307, model.line, "no pin and no model selector uses model " + model.name);
    }
    return ibis.amis;
}

}  // namespace amirun
