// The rules of AMI parameter (.ami) files: the tree parses, the reserved parameters every model
// needs are there, and each parameter's Usage, Type, format and values agree with one another.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "tools/amirun/check/Check.h"
#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

constexpr std::size_t kDeepest = 64;

struct Token {
    std::string text;
    std::size_t line = 0;
};

struct Node {
    std::string name;
    std::size_t line = 0;
    std::vector<Token> values;
    std::vector<std::unique_ptr<Node>> children;
};

const std::set<std::string> kFormats = {"Value",  "Range", "List",     "Increment",  "Steps",
                                        "Corner", "Table", "Gaussian", "Dual-Dirac", "DjRj"};
const std::set<std::string> kProperties = {"Usage",    "Type",   "Format", "Default", "Description",
                                           "List_Tip", "Labels", "Min",    "Max"};
const std::set<std::string> kReserved = {"AMI_Version",
                                         "Init_Returns_Impulse",
                                         "GetWave_Exists",
                                         "Use_Init_Output",
                                         "Max_Init_Aggressors",
                                         "Ignore_Bits",
                                         "Resolve_Exists",
                                         "Model_Name",
                                         "Special_Param_Names",
                                         "Supporting_Files",
                                         "DLL_Path",
                                         "DLL_ID",
                                         "Tx_Jitter",
                                         "Tx_DCD",
                                         "Tx_Rj",
                                         "Tx_Dj",
                                         "Tx_Sj",
                                         "Tx_Sj_Frequency",
                                         "Rx_DCD",
                                         "Rx_Rj",
                                         "Rx_Dj",
                                         "Rx_Sj",
                                         "Rx_Clock_PDF",
                                         "Rx_Clock_Recovery_Mean",
                                         "Rx_Clock_Recovery_Rj",
                                         "Rx_Clock_Recovery_Dj",
                                         "Rx_Clock_Recovery_Sj",
                                         "Rx_Clock_Recovery_DCD",
                                         "Rx_Receiver_Sensitivity",
                                         "Rx_Noise",
                                         "Rx_GaussianNoise",
                                         "Rx_UniformNoise",
                                         "Rx_Use_Clock_Input",
                                         "Rx_Decision_Time",
                                         "Modulation",
                                         "Modulation_Levels",
                                         "PAM_Thresholds",
                                         "PAM4_Mapping",
                                         "PAM4_UpperThreshold",
                                         "PAM4_CenterThreshold",
                                         "PAM4_LowerThreshold",
                                         "PAM4_UpperEyeOffset",
                                         "PAM4_CenterEyeOffset",
                                         "PAM4_LowerEyeOffset",
                                         "Ts4file",
                                         "Tx_V",
                                         "Tx_R",
                                         "Rx_R",
                                         "Repeater_Type",
                                         "BCI_Protocol",
                                         "BCI_ID",
                                         "BCI_State",
                                         "BCI_Message_Interval_UI",
                                         "BCI_Training_UI",
                                         "BCI_Training_Mode",
                                         "Component_Name",
                                         "Tx_Impedance"};
const std::set<std::string> kAmiVersions = {"5.0", "5.1", "6.0", "6.1", "7.0", "7.1", "7.2"};

class Parser {
public:
    Parser(const std::string& text, const std::string& path, CheckReport& report)
        : text_(text), path_(path), report_(report) {}

    // The root, or nothing when there is none. Each fault is reported at its own line and
    // passed over, so that the rest of the file is still read: a stray ')' or value is skipped,
    // a branch without a name or a second tree is read aside (its own faults reported too).
    std::unique_ptr<Node> Parse() {
        std::vector<Node*> open;
        std::unique_ptr<Node> root;
        std::vector<std::unique_ptr<Node>> aside;
        while (true) {
            SkipBlanks();
            if (at_ >= text_.size()) break;
            const char c = text_[at_];
            if (c == '(') {
                ++at_;
                const std::size_t where = line_;
                SkipBlanks();
                Token name;
                if (!Word(name)) break;  // a string that never ends: nothing after it is read
                if (name.text.empty()) Fail(where, "'(' must be followed by a name");
                if (open.size() >= kDeepest) {
                    Fail(where,
                         "branches nest deeper than " + std::to_string(kDeepest) + " levels");
                    return nullptr;
                }
                auto node = std::make_unique<Node>();
                node->name = name.text;
                node->line = where;
                Node* raw = node.get();
                if (name.text.empty() || (open.empty() && root)) {
                    if (!name.text.empty())
                        Fail(where, "a second tree after the first one closed: one tree a file");
                    aside.push_back(std::move(node));
                } else if (open.empty()) {
                    root = std::move(node);
                } else {
                    open.back()->children.push_back(std::move(node));
                }
                open.push_back(raw);
            } else if (c == ')') {
                ++at_;
                if (open.empty())
                    Fail(line_, "')' without its '('");
                else
                    open.pop_back();
            } else {
                Token value;
                if (!Word(value)) break;
                if (open.empty())
                    Fail(value.line, "'" + value.text + "' outside the tree");
                else
                    open.back()->values.push_back(std::move(value));
            }
        }
        if (!open.empty()) Fail(open.back()->line, "'(" + open.back()->name + "' is never closed");
        if (!root) Fail(1, "the file holds no parameter tree");
        return root;
    }

private:
    void Fail(std::size_t line, const std::string& why) { report_.Add(601, path_, line, why); }
    void SkipBlanks() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
    }
    // A quoted string (quotes kept) or a run of characters up to a blank or parenthesis.
    bool Word(Token& token) {
        token.line = line_;
        const std::size_t from = at_;
        if (at_ < text_.size() && text_[at_] == '"') {
            const std::size_t close = text_.find('"', at_ + 1);
            if (close == std::string::npos) {
                Fail(line_, "a string that never ends: close its quote");
                return false;
            }
            line_ += static_cast<std::size_t>(
                std::count(text_.begin() + static_cast<std::ptrdiff_t>(at_),
                           text_.begin() + static_cast<std::ptrdiff_t>(close), '\n'));
            at_ = close + 1;
        } else {
            while (at_ < text_.size() && text_[at_] != '(' && text_[at_] != ')' &&
                   !std::isspace(static_cast<unsigned char>(text_[at_])))
                ++at_;
        }
        token.text = text_.substr(from, at_ - from);
        return true;
    }

    const std::string& text_;
    const std::string& path_;
    CheckReport& report_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
};

bool Quoted(const std::string& t) { return t.size() >= 2 && t.front() == '"' && t.back() == '"'; }

std::optional<double> Number(const std::string& text) {
    double value = 0.0;
    if (!FiniteNumber(text, value)) return std::nullopt;
    return value;
}

bool OfType(const std::string& type, const std::string& value) {
    if (type == "Integer") {
        const auto n = Number(value);
        return n && value.find_first_of(".eE") == std::string::npos;
    }
    if (type == "Float" || type == "UI" || type == "Tap") return Number(value).has_value();
    if (type == "Boolean") return value == "True" || value == "False";
    if (type == "String") return Quoted(value);
    return true;  // an unknown Type is reported on its own
}

bool SameValue(const std::string& type, const std::string& a, const std::string& b) {
    if (type == "Float" || type == "UI" || type == "Tap" || type == "Integer") {
        const auto x = Number(a), y = Number(b);
        if (x && y) return *x == *y;
    }
    return a == b;
}

class AmiChecker {
public:
    AmiChecker(const std::string& path, CheckReport& report) : path_(path), report_(report) {}

    // `version`: the IBIS version of the .ibs file that names the file (tenths; 0: unknown, the
    // latest rules); `direction`: "Tx" or "Rx" when its model's Model_type says.
    void Tree(const Node& root, const AmiReference& from, int version) {
        if (!from.model.empty() && root.name != from.model)
            Add(602, root.line,
                "the root is '" + root.name + "' but the [Model] that uses the file is '" +
                    from.model + "' (legal: a kit may share one .ami file between models)");
        Duplicates(root);
        const Node* reserved = Child(root, "Reserved_Parameters");
        const Node* own = Child(root, "Model_Specific");
        if (reserved == nullptr) {
            Add(603, root.line, "the tree has no Reserved_Parameters branch");
        } else {
            ReservedBranch(*reserved, version, from.direction);
            if (own != nullptr && own->line < reserved->line)
                Add(618, reserved->line,
                    "Reserved_Parameters comes after Model_Specific (line " +
                        std::to_string(own->line) + "): move it first");
        }
        if (own != nullptr) Section(*own, 0);
    }

private:
    void Add(int rule, std::size_t line, const std::string& text) {
        report_.Add(rule, path_, line, text);
    }

    void ReservedBranch(const Node& reserved, int version, const std::string& direction) {
        // AMI_Version came with IBIS 5.1; an IBIS 5.0 kit must not give it.
        const bool versioned = version == 0 || version >= 51;
        for (const char* name : {"AMI_Version", "Init_Returns_Impulse", "GetWave_Exists"})
            if (Child(reserved, name) == nullptr &&
                (versioned || std::string(name) != "AMI_Version"))
                Add(604, reserved.line,
                    std::string("Reserved_Parameters has no ") + name + ": add (" + name +
                        " (Usage Info) (Type " +
                        (std::string(name) == "AMI_Version" ? "String) (Value \"7.0\"))"
                                                            : "Boolean) (Value True))"));
        if (const Node* v = Child(reserved, "AMI_Version"); v != nullptr && !versioned)
            Add(619, v->line,
                "AMI_Version is given, but the .ibs file says IBIS 5.0, which has no "
                "AMI_Version: remove it or make the .ibs file 5.1 or later");
        const Node* init = Child(reserved, "Init_Returns_Impulse");
        const Node* getWave = Child(reserved, "GetWave_Exists");
        if (init != nullptr && getWave != nullptr && FlagValue(*init) == "False" &&
            FlagValue(*getWave) == "False")
            Add(617, reserved.line,
                "Init_Returns_Impulse and GetWave_Exists are both False: the model gives a "
                "simulator nothing to run");
        for (const auto& child : reserved.children) {
            if (child->name == "Description") continue;
            if (!kReserved.count(child->name))
                Add(605, child->line,
                    "'" + child->name +
                        "' is not a reserved parameter "
                        "name; the model's own ones go under Model_Specific");
            const bool tx = child->name.rfind("Tx_", 0) == 0;
            const bool rx = child->name.rfind("Rx_", 0) == 0;
            if ((direction == "Rx" && tx) || (direction == "Tx" && rx))
                Add(620, child->line,
                    child->name + " is a " + (tx ? "transmitter's" : "receiver's") +
                        " parameter, but the model that uses the file is a " +
                        (direction == "Tx" ? "transmitter" : "receiver") +
                        " by its Model_type: is this the right .ami file?");
            Parameter(*child, true);
        }
    }

    // The value a reserved Boolean gives, by Value or (IBIS 5.0) Default.
    static std::string FlagValue(const Node& p) {
        for (const char* kind : {"Value", "Default"})
            if (const Node* v = Child(p, kind); v != nullptr && !v->values.empty())
                return v->values.front().text;
        return "";
    }

    static const Node* Child(const Node& node, const std::string& name) {
        for (const auto& child : node.children)
            if (child->name == name) return child.get();
        return nullptr;
    }

    void Duplicates(const Node& node) {
        std::map<std::string, std::size_t> seen;
        for (const auto& child : node.children) {
            if (seen.count(child->name))
                Add(614, child->line,
                    "'" + child->name + "' again under " + node.name + " (first on line " +
                        std::to_string(seen[child->name]) + ")");
            seen.emplace(child->name, child->line);
            Duplicates(*child);
        }
    }

    // A branch of parameters or of groups of them.
    void Section(const Node& section, std::size_t depth) {
        for (const auto& child : section.children) {
            if (child->name == "Description") continue;
            // A group holds branches, and may hold a Description leaf besides.
            const bool group =
                Child(*child, "Usage") == nullptr && Child(*child, "Type") == nullptr &&
                std::any_of(child->children.begin(), child->children.end(),
                            [](const auto& c) { return !c->children.empty(); }) &&
                std::all_of(child->children.begin(), child->children.end(), [](const auto& c) {
                    return !c->children.empty() || c->name == "Description";
                });
            if (group && depth < kDeepest)
                Section(*child, depth + 1);
            else
                Parameter(*child, false);
        }
    }

    static std::vector<std::string> Texts(const Node& node) {
        std::vector<std::string> texts;
        for (const Token& t : node.values) texts.push_back(t.text);
        return texts;
    }

    void Parameter(const Node& p, bool reserved) {
        const Node* usage = Child(p, "Usage");
        const Node* type = Child(p, "Type");
        const std::string usageText = usage && !usage->values.empty() ? usage->values[0].text : "";
        const std::string typeText = type && !type->values.empty() ? type->values[0].text : "";
        static const std::set<std::string> usages = {"In", "Out", "InOut", "Info", "Dep"};
        static const std::set<std::string> types = {"Float",  "Integer", "UI",
                                                    "String", "Boolean", "Tap"};
        if (!usages.count(usageText))
            Add(606, usage ? usage->line : p.line,
                p.name + ": Usage " + (usageText.empty() ? "is missing" : "'" + usageText + "'") +
                    "; it is one of In, Out, InOut, Info, Dep");
        if (!types.count(typeText))
            Add(607, type ? type->line : p.line,
                p.name + ": Type " + (typeText.empty() ? "is missing" : "'" + typeText + "'") +
                    "; it is one of Float, Integer, UI, String, Boolean, Tap");
        // The formats, with (Format Kind values...) read as (Kind values...).
        std::vector<std::pair<std::string, std::vector<Token>>> formats;
        for (const auto& child : p.children) {
            if (kFormats.count(child->name)) {
                formats.push_back({child->name, child->values});
            } else if (child->name == "Format") {
                std::vector<Token> values = child->values;
                const std::string kind = values.empty() ? "" : values.front().text;
                if (!values.empty()) values.erase(values.begin());
                formats.push_back({kind, values});
            } else if (!kProperties.count(child->name)) {
                Add(615, child->line,
                    p.name + ": '" + child->name +
                        "' is not a property of a "
                        "parameter (Usage, Type, Default, Description, a format)");
            }
        }
        const Node* defaultNode = Child(p, "Default");
        if (formats.empty() && reserved && defaultNode != nullptr && !defaultNode->values.empty()) {
            Add(621, defaultNode->line,
                p.name + " gives its value by Default alone, as IBIS 5.0 wrote it; write (Value " +
                    defaultNode->values.front().text + ") instead");
        } else if (formats.size() != 1) {
            Add(608, p.line,
                p.name + " has " + std::to_string(formats.size()) +
                    " value formats; it needs exactly one of Value, Range, List, "
                    "Increment, Steps, Corner, Table, Gaussian, Dual-Dirac, DjRj");
        }
        for (const auto& [kind, values] : formats) Format(p, typeText, kind, values, defaultNode);
        if (defaultNode && !defaultNode->values.empty() &&
            !OfType(typeText, defaultNode->values[0].text))
            Add(612, defaultNode->line,
                p.name + ": Default '" + defaultNode->values[0].text + "' is not of Type " +
                    typeText);
        if (reserved) Reserved(p, usageText, typeText, formats);
    }

    void Format(const Node& p, const std::string& type, const std::string& kind,
                const std::vector<Token>& values, const Node* defaultNode) {
        const bool numeric = type == "Float" || type == "Integer" || type == "UI" || type == "Tap";
        const bool ranged = kind == "Range" || kind == "Increment" || kind == "Steps";
        if (ranged && !numeric && !type.empty())
            Add(609, p.line, p.name + ": " + kind + " needs a numeric Type, not " + type);
        if (kind == "Table" || kind == "Gaussian" || kind == "Dual-Dirac" || kind == "DjRj")
            return;  // their values are checked by their own structure, not here
        for (const Token& v : values)
            if (!OfType(type, v.text))
                Add(612, v.line, p.name + ": '" + v.text + "' is not of Type " + type);
        if (ranged && numeric) {
            const std::size_t needed = kind == "Range" ? 3 : 4;
            std::vector<double> n;
            for (const Token& v : values)
                if (const auto x = Number(v.text)) n.push_back(*x);
            if (values.size() != needed || n.size() != needed || !(n[1] <= n[0] && n[0] <= n[2]))
                Add(610, p.line,
                    p.name + ": " + kind + " takes typ, min and max" +
                        (needed == 4 ? " and a step" : "") + " with min <= typ <= max");
            else if (defaultNode && !defaultNode->values.empty()) {
                const auto d = Number(defaultNode->values[0].text);
                if (d && (*d < n[1] || *d > n[2]))
                    Add(611, defaultNode->line,
                        p.name + ": Default " + defaultNode->values[0].text + " is outside the " +
                            kind + " " + values[1].text + " .. " + values[2].text);
            }
        }
        if (kind == "List" && defaultNode && !defaultNode->values.empty()) {
            const std::string& d = defaultNode->values[0].text;
            if (std::none_of(values.begin(), values.end(),
                             [&](const Token& v) { return SameValue(type, v.text, d); }))
                Add(611, defaultNode->line, p.name + ": Default " + d + " is not in its List");
        }
    }

    void Reserved(const Node& p, const std::string& usage, const std::string& type,
                  const std::vector<std::pair<std::string, std::vector<Token>>>& formats) {
        static const std::map<std::string, std::pair<std::string, std::string>> expected = {
            {"AMI_Version", {"Info", "String"}},
            {"Init_Returns_Impulse", {"Info", "Boolean"}},
            {"GetWave_Exists", {"Info", "Boolean"}},
            {"Use_Init_Output", {"Info", "Boolean"}},
            {"Max_Init_Aggressors", {"Info", "Integer"}},
            {"Ignore_Bits", {"Info", "Integer"}}};
        const auto found = expected.find(p.name);
        if (found == expected.end()) return;
        if (usage != found->second.first || type != found->second.second)
            Add(613, p.line,
                p.name + " is (Usage " + found->second.first + ") (Type " + found->second.second +
                    "), not (Usage " + usage + ") (Type " + type + ")");
        if (p.name == "AMI_Version")
            for (const auto& [kind, values] : formats)
                for (const Token& v : values) {
                    std::string version = v.text;
                    if (Quoted(version)) version = version.substr(1, version.size() - 2);
                    if (!kAmiVersions.count(version))
                        Add(616, v.line,
                            "AMI_Version " + v.text +
                                " is not a released IBIS-AMI version (5.0 to 7.2)");
                }
    }

    const std::string& path_;
    CheckReport& report_;
};

}  // namespace

void CheckAmiText(const std::string& text, const std::string& path, const AmiReference& from,
                  CheckReport& report) {
    int version = 0;
    if (from.ibisVersion.size() == 3)
        version = (from.ibisVersion[0] - '0') * 10 + (from.ibisVersion[2] - '0');
    report.Checked(path, from.ibisVersion.empty()
                             ? std::string("IBIS-AMI of the latest IBIS (no .ibs file named it)")
                             : "IBIS-AMI of IBIS " + from.ibisVersion + " (its .ibs file's)");
    const std::string uncommented = WithoutAmiComments(text);
    Parser parser(uncommented, path, report);
    const std::unique_ptr<Node> root = parser.Parse();
    if (!root) return;
    AmiChecker(path, report).Tree(*root, from, version);
}

}  // namespace amirun
