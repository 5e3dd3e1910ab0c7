#include "tools/amirun/check/CheckReport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tools/amirun/io/Json.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

constexpr Severity E = Severity::Error;
constexpr Severity W = Severity::Warning;
constexpr Severity C = Severity::Caution;
constexpr Severity N = Severity::Note;

}  // namespace

const char* SeverityName(Severity severity) {
    switch (severity) {
        case Severity::Error:
            return "ERROR";
        case Severity::Warning:
            return "WARNING";
        case Severity::Caution:
            return "CAUTION";
        case Severity::Note:
            break;
    }
    return "NOTE";
}

const std::vector<CheckRule>& CheckRules() {
    static const std::vector<CheckRule> rules = {
        {1, E, "The file cannot be read."},
        {2, E, "The file is larger than 16 MiB; it is not checked further."},
        {3, E, "The file type is unknown: not .ibs, .pkg, .ebd or .ami (see --as)."},
        {4, W, "A file named in the file is not looked up: the checker looks up at most 1000."},
        {101, E,
         "A line is longer than its IBIS version allows: 80 characters before 4.1, 120 from it."},
        {102, E, "A character is not printable ASCII, a tab or a line end."},
        {103, N, "A tab: legal, but expanded to blanks it can push a line past 120 characters."},
        {104, E, "An unknown keyword (keywords ignore case; blanks and underscores are equal)."},
        {105, E, "A keyword without its closing bracket."},
        {106, E, "[Comment Char] is not one of the allowed characters followed by _char."},
        {107, E,
         "A number that is not one: digits, an optional exponent, an optional scale "
         "letter (T G M k m u n p f) and unit."},
        {108, E,
         "A typ/min/max row with missing columns, or NA as typ (a table's typ may be NA only "
         "between its first and last rows)."},
        {109, E, "A reserved word (POWER, GND, NC, NA) used as a model name."},
        {201, E, "[IBIS Ver] is not the first keyword."},
        {202, E, "[IBIS Ver] is not a released IBIS version."},
        {203, E, "[File Name] differs from the file's own name."},
        {204, E, "A required header keyword ([IBIS Ver], [File Name], [File Rev]) is missing."},
        {205, E, "An .ibs file without a [Component]."},
        {206, E,
         "A [Component] without [Manufacturer], [Package] (R_pkg, L_pkg, C_pkg) or "
         "[Pin]."},
        {207, E, "The file does not end with [End]."},
        {208, E, "A keyword outside the section it belongs to."},
        {209, E, "A keyword repeated where only one is allowed."},
        {210, E, "[Algorithmic Model] without [End Algorithmic Model]."},
        {211, W, "Text after [End], which readers ignore."},
        {301, E,
         "[Pin] names a model that is not a [Model], a [Model Selector], POWER, GND or "
         "NC."},
        {302, E, "A pin listed twice under [Pin]."},
        {303, E, "A model or model selector name defined twice."},
        {304, E, "[Diff Pin] names a pin that is not under [Pin]."},
        {305, E, "A pin in more than one [Diff Pin] pair, or paired with itself."},
        {306, E, "[Model Selector] names a model that is not a [Model]."},
        {307, N, "A [Model] that no pin and no model selector uses."},
        {308, E, "A [Pin] row without 3 or 6 columns."},
        {309, E,
         "A [Series Pin Mapping] row without two pins under [Pin] and a [Model] of the file."},
        {310, E, "A [Diff Pin] row without its six columns (NA where unknown)."},
        {311, W,
         "[Package Model] names a package model that neither the file nor a .pkg file beside "
         "it defines."},
        {312, E,
         "A model name longer than its IBIS version allows: 20 characters before 4.2, 40 from it."},
        {313, E, "[Add Submodel] names a [Submodel] the file does not define, or gives no mode."},
        {314, E, "A [Submodel] without Submodel_type Dynamic_clamp, Bus_hold or Fall_back."},
        {315, E, "[Driver Schedule] names a model that is not a [Model] of the file."},
        {316, E, "[Receiver Thresholds] without Vth, Vinh_ac, Vinh_dc, Vinl_ac and Vinl_dc."},
        {401, E, "Model_type is missing or not an IBIS model type."},
        {402, E, "C_comp is missing, or is not a number at least 0."},
        {403, E, "Vinl is not below Vinh."},
        {404, W, "An input model without Vinl and Vinh: tools assume their own thresholds."},
        {405, E, "A table its Model_type needs is missing ([Pulldown], [Pullup], [Ramp])."},
        {406, E, "A model without [Voltage Range] or reference voltages."},
        {407, E,
         "An I-V table whose voltages neither strictly ascend nor strictly descend, or "
         "with fewer than two rows."},
        {408, E,
         "A waveform table whose times do not strictly ascend, or with fewer than two "
         "rows."},
        {409, E, "A table row without its four columns (voltage or time, typ, min, max)."},
        {410, E, "A min or max column that has numbers but is NA in a table's first or last row."},
        {411, E,
         "[Ramp] without dV/dt_r and dV/dt_f, or with a value that is not a positive "
         "rise over a positive time."},
        {412, C, "A typical value outside its min..max (C_comp, R_pkg, L_pkg, C_pkg)."},
        {413, E,
         "A table with more rows than its IBIS version allows: 100 for I-V tables; for "
         "waveforms 100 before 4.0, 1000 from it."},
        {501, E, "An Executable line without a platform, a library and an .ami file."},
        {502, W, "A platform name not of the form OS_compiler_bits (bits 32 or 64)."},
        {503, E, "The model library named by an Executable line does not exist."},
        {504, E, "The .ami file named by an Executable line does not exist."},
        {505, E,
         "A file exists only with different letter case: it fails on case-sensitive "
         "file systems."},
        {506, E,
         "A file named by an absolute path, or one that climbs out of the folder with "
         "..."},
        {507, W,
         "A library whose extension does not suit its platform (.dll for Windows, .so "
         "for Linux)."},
        {508, E, "[Algorithmic Model] without an Executable line."},
        {509, E, "An Executable line's parameter file does not end in .ami."},
        {510, E, "A file name with upper-case letters in a file older than IBIS 7.0."},
        {601, E, "The parameter tree does not parse (parentheses, quotes, names, depth)."},
        {602, N, "The tree's root name differs from the [Model] that uses the file."},
        {603, E, "No Reserved_Parameters branch."},
        {604, E,
         "A reserved parameter every model needs is missing (Init_Returns_Impulse, "
         "GetWave_Exists; AMI_Version from IBIS 5.1)."},
        {605, W, "An unknown reserved parameter."},
        {606, E, "Usage is missing or not In, Out, InOut, Info or Dep."},
        {607, E, "Type is missing or not Float, Integer, UI, String, Boolean or Tap."},
        {608, E,
         "A parameter without a value format, or with more than one (Value, Range, List, "
         "Increment, Steps, Corner, Table, Gaussian, Dual-Dirac, DjRj)."},
        {609, E,
         "A format that does not suit the Type (Range, Increment or Steps of a String or "
         "Boolean)."},
        {610, E, "Range, Increment or Steps without three values in order (min <= typ <= max)."},
        {611, E, "Default is not in its List or Range."},
        {612, E, "A value that is not of its Type."},
        {613, E, "A reserved parameter with the wrong Usage or Type."},
        {614, E, "A name used twice in one branch."},
        {615, W, "An unknown property of a parameter (a misspelling?)."},
        {616, W, "AMI_Version is not a released IBIS-AMI version."},
        {617, E,
         "Init_Returns_Impulse and GetWave_Exists both False: the model has nothing to run."},
        {618, E, "Reserved_Parameters comes after Model_Specific."},
        {619, E, "AMI_Version in the .ami file of an IBIS 5.0 kit, which has none."},
        {620, W, "A Tx_ parameter in a receiver's .ami file, or an Rx_ one in a transmitter's."},
        {621, W,
         "A reserved parameter given by Default alone (the IBIS 5.0 form); Value is the modern "
         "one."},
        {701, E, "A .pkg file without [Define Package Model] and [End Package Model]."},
        {702, E, "[Number Of Pins] differs from the pins listed under [Pin Numbers]."},
        {703, E,
         "[Model Data] without [Inductance Matrix], [Capacitance Matrix] or "
         "[End Model Data]."},
        {704, E,
         "A matrix type that is not Diagonal_matrix, Banded_matrix, Sparse_matrix or "
         "Full_matrix."},
        {705, E, "[Row] names a pin that is not under [Pin Numbers]."},
        {706, E, "A sparse matrix [Row] that gives one pin twice."},
        {707, E,
         "A sparse matrix [Row] that gives a pin listed before its own (the lower triangle of a "
         "symmetric matrix)."},
        {708, E,
         "A full or banded matrix [Row] without one number per pin from its own on (within the "
         "bandwidth)."},
        {709, E, "A Banded_matrix without [Bandwidth]."},
        {711, E, "An .ebd file without [Begin Board Description] and [End Board Description]."},
        {712, E, "[Number Of Pins] differs from the rows of [Pin List]."},
        {713, E, "[Path Description] starts at a pin that is not in [Pin List]."},
        {714, E,
         "A [Path Description] that does not begin with Pin or never ends in Node or "
         "Pin."},
        {715, E, "[Reference Designator Map] names a file that does not exist."},
        {716, E, "A board description without [Manufacturer]."},
    };
    return rules;
}

const CheckRule& FindCheckRule(int number) {
    const auto& rules = CheckRules();
    const auto found = std::find_if(rules.begin(), rules.end(),
                                    [&](const CheckRule& rule) { return rule.number == number; });
    if (found == rules.end()) throw std::out_of_range("no check rule " + std::to_string(number));
    return *found;
}

namespace {

// A message's text with the line numbers it names blanked ("first on line 12"): they move when
// lines are added above, and the message stays the same one.
std::string WithoutLineNumbers(const std::string& text) {
    const auto digit = [&](std::size_t i) {
        return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "line ") == 0 && digit(i + 5)) {
            out += "line #";
            for (i += 5; digit(i); ++i) {
            }
            continue;
        }
        out += text[i++];
    }
    return out;
}

}  // namespace

void CheckReport::Filter(const std::set<int>& ignored, const Accepted& accepted) {
    ignore_ = ignored;
    accepted_.clear();
    for (const auto& [rule, file, text] : accepted)
        accepted_.emplace(rule, file, WithoutLineNumbers(text));
}

void CheckReport::Checked(const std::string& file, const std::string& rules) {
    files_.emplace_back(file, rules);
}

void CheckReport::Add(int rule, const std::string& file, std::size_t line,
                      const std::string& text) {
    const CheckRule& found = FindCheckRule(rule);
    if (ignore_.count(rule)) {
        ++ignored_;
        return;
    }
    if (!accepted_.empty() &&
        accepted_.count(
            {rule, std::filesystem::path(file).filename().string(), WithoutLineNumbers(text)})) {
        ++acceptedCount_;
        return;
    }
    ++counts_[found.severity];
    if (++perRule_[{file, rule}] > kMessagesPerRule) return;
    messages_.push_back({rule, found.severity, file, line, text});
}

std::map<std::pair<std::string, int>, std::size_t> CheckReport::Suppressed() const {
    std::map<std::pair<std::string, int>, std::size_t> suppressed;
    for (const auto& [where, count] : perRule_)
        if (count > kMessagesPerRule) suppressed[where] = count - kMessagesPerRule;
    return suppressed;
}

std::size_t CheckReport::Count(Severity severity) const {
    const auto found = counts_.find(severity);
    return found == counts_.end() ? 0 : found->second;
}

std::string CheckReport::Text() const {
    std::ostringstream out;
    for (const auto& [file, rules] : files_)
        out << Printable(file) << ": checked by the rules of " << rules << '\n';
    for (const CheckMessage& m : messages_)
        out << Printable(m.file) << ':' << m.line << ": " << SeverityName(m.severity) << ' '
            << m.rule << ": " << Printable(m.text) << '\n';
    for (const auto& [where, count] : Suppressed())
        out << Printable(where.first) << ": " << count << " more messages of rule " << where.second
            << " not shown\n";
    const std::size_t files = files_.size();
    out << "checked " << files << (files == 1 ? " file: " : " files: ") << Count(Severity::Error)
        << " errors, " << Count(Severity::Warning) << " warnings, " << Count(Severity::Caution)
        << " cautions, " << Count(Severity::Note) << " notes";
    if (ignored_ > 0) out << "; " << ignored_ << " messages of --ignore'd rules left out";
    if (acceptedCount_ > 0) out << "; " << acceptedCount_ << " accepted by the baseline";
    out << '\n';
    return out.str();
}

std::string CheckReport::Json(const std::string& version) const {
    std::vector<JsonObject> messages;
    for (const CheckMessage& m : messages_)
        messages.push_back(JsonObject()
                               .Text("severity", SeverityName(m.severity))
                               .Number("rule", m.rule)
                               .Text("file", m.file)
                               .Number("line", static_cast<double>(m.line))
                               .Text("text", m.text));
    std::vector<JsonObject> suppressed;
    for (const auto& [where, count] : Suppressed())
        suppressed.push_back(JsonObject()
                                 .Text("file", where.first)
                                 .Number("rule", where.second)
                                 .Number("count", static_cast<double>(count)));
    JsonObject counts;
    for (Severity s : {Severity::Error, Severity::Warning, Severity::Caution, Severity::Note})
        counts.Number(Lower(SeverityName(s)), static_cast<double>(Count(s)));
    std::vector<JsonObject> checked;
    for (const auto& [file, rules] : files_)
        checked.push_back(JsonObject().Text("file", file).Text("rules", rules));
    return JsonObject()
        .Number("schema", kJsonSchema)
        .Text("amirun_version", version)
        .Number("files", static_cast<double>(files_.size()))
        .Objects("checked", checked)
        .Object("counts", counts)
        .Number("ignored", static_cast<double>(ignored_))
        .Number("accepted", static_cast<double>(acceptedCount_))
        .Objects("messages", messages)
        .Objects("suppressed", suppressed)
        .Json();
}

}  // namespace amirun
