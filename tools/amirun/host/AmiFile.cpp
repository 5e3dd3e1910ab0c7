#include "tools/amirun/host/AmiFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "amiparams/AmiParameters.h"
#include "tools/amirun/io/Input.h"

namespace amirun {
namespace {

std::vector<std::string> Texts(const AmiParamNode& leaf) {
    std::vector<std::string> texts;
    for (const AmiParamValue& value : leaf.values) texts.push_back(value.text);
    return texts;
}

std::string Unquote(const std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

std::optional<double> Number(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = AmiStrtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool IsInteger(const std::string& text) {
    char* end = nullptr;
    AmiStrtol(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

void ApplyLeaf(AmiParameterSpec& param, const std::string& key, std::vector<std::string> values) {
    if (values.empty()) return;
    if (key == "Format") {  // older files: (Format List ...), (Format Range typ min max), ...
        const std::string kind = values.front();
        values.erase(values.begin());
        ApplyLeaf(param, kind, values);
        return;
    }
    if (key == "Usage") param.usage = values.front();
    if (key == "Type") param.type = values.front();
    if (key == "Default") param.defaultValue = values.front();
    if (key == "Value" && param.defaultValue.empty()) param.defaultValue = values.front();
    if (key == "List") {
        param.list = values;
        if (param.defaultValue.empty()) param.defaultValue = values.front();
    }
    if (key == "Range" && values.size() >= 3) {
        if (param.defaultValue.empty()) param.defaultValue = values[0];
        param.minimum = Number(values[1]);
        param.maximum = Number(values[2]);
    }
}

// Nested groups deeper than this are no parameter tree a model would declare.
constexpr int kDeepestGroup = 16;

// A branch with leaves (Usage, Type, ...) is a parameter; a branch of branches only is a group
// whose parameters are named by their path below the section: "group.leaf".
void ReadSection(const AmiParamNode& section, bool reserved, AmiModelDescription& model,
                 const std::string& prefix = "", int depth = 0) {
    if (depth > kDeepestGroup)
        throw AmiFileError("parameter groups nested deeper than " + std::to_string(kDeepestGroup) +
                           " levels");
    for (const AmiParamEntry& entry : section.children) {
        if (entry.kind != AmiEntryBranch) continue;
        const AmiParamNode& node = *entry.node;
        const bool group =
            !node.children.empty() &&
            std::none_of(node.children.begin(), node.children.end(),
                         [](const AmiParamEntry& child) { return child.kind == AmiEntryLeaf; });
        if (group) {
            ReadSection(node, reserved, model, prefix + node.name + ".", depth + 1);
            continue;
        }
        AmiParameterSpec param;
        param.name = prefix + node.name;
        param.reserved = reserved;
        for (const AmiParamEntry& property : node.children)
            if (property.kind == AmiEntryLeaf)
                ApplyLeaf(param, property.node->name, Texts(*property.node));
        model.parameters.push_back(std::move(param));
    }
}

std::vector<std::string> Split(const std::string& dotted) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t dot; (dot = dotted.find('.', from)) != std::string::npos; from = dot + 1)
        parts.push_back(dotted.substr(from, dot - from));
    parts.push_back(dotted.substr(from));
    return parts;
}

std::string Accepts(const AmiParameterSpec& param) {
    std::ostringstream text;
    if (!param.list.empty()) {
        text << "one of";
        for (const std::string& value : param.list) text << ' ' << value;
    } else if (param.minimum && param.maximum) {
        text << param.type << " values from " << *param.minimum << " to " << *param.maximum;
    } else {
        text << "a " << param.type << " value";
    }
    return text.str();
}

bool SameValue(const AmiParameterSpec& param, const std::string& a, const std::string& b) {
    if (param.type == "String") return Unquote(a) == Unquote(b);
    const auto x = Number(a);
    const auto y = Number(b);
    return x && y ? *x == *y : a == b;
}

void Validate(const AmiParameterSpec& param, const std::string& value) {
    auto fail = [&](const std::string& why) {
        throw AmiFileError("parameter " + param.name + ": " + why + "; it accepts " +
                           Accepts(param));
    };
    if (param.type == "Integer" && !IsInteger(value)) fail("'" + value + "' is not an integer");
    if ((param.type == "Float" || param.type == "UI") && !Number(value))
        fail("'" + value + "' is not a number");
    if (param.type == "String" && Unquote(value).find('"') != std::string::npos)
        fail("a String value cannot hold a double quote");
    if (param.type == "Boolean" && value != "True" && value != "False")
        fail("'" + value + "' is not True or False");
    if (!param.list.empty()) {
        for (const std::string& allowed : param.list)
            if (SameValue(param, allowed, value)) return;
        fail("'" + value + "' is not in its List");
    }
    if (param.minimum && param.maximum) {
        const auto number = Number(value);
        if (!number || *number < *param.minimum || *number > *param.maximum)
            fail("'" + value + "' is outside its Range");
    }
}

bool IsInput(const AmiParameterSpec& param) {
    return !param.reserved && (param.usage == "In" || param.usage == "InOut");
}

}  // namespace

const AmiParameterSpec* AmiModelDescription::Find(const std::string& name) const {
    for (const AmiParameterSpec& param : parameters)
        if (param.name == name) return &param;
    return nullptr;
}

bool AmiModelDescription::ReservedFlag(const std::string& name, bool fallback) const {
    const AmiParameterSpec* param = Find(name);
    if (param == nullptr || !param->reserved) return fallback;
    return param->defaultValue == "True";
}

const AmiParameterSpec* AmiModelDescription::SampleRateParameter() const {
    for (const AmiParameterSpec& param : parameters) {
        std::string lower;
        for (char c : param.name)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!param.reserved && (lower.find("samplerate") != std::string::npos ||
                                lower.find("sample_rate") != std::string::npos))
            return &param;
    }
    return nullptr;
}

std::string WithoutAmiComments(const std::string& text) {
    std::string out = text;
    bool quoted = false, comment = false;
    for (char& c : out) {
        if (c == '\n') {  // a quoted string may go on over lines; a comment ends here
            comment = false;
            continue;
        }
        if (comment) {
            c = ' ';
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '|' && !quoted) {
            comment = true;
            c = ' ';
        }
    }
    return out;
}

AmiModelDescription ParseAmiFile(const std::string& text) {
    AmiParameters parsed = ParseAmiParameters(WithoutAmiComments(text).c_str());
    if (!parsed.valid || !parsed.tree || parsed.tree->entries.empty() ||
        parsed.tree->entries[0].node == nullptr) {
        ReleaseAmiParameters(parsed);
        throw AmiFileError("not a valid .ami parameter tree");
    }
    AmiModelDescription model;
    const AmiParamNode& root = *parsed.tree->entries[0].node;
    model.root = root.name;
    for (const AmiParamEntry& entry : root.children) {
        if (entry.kind != AmiEntryBranch) continue;
        if (entry.node->name == "Reserved_Parameters") ReadSection(*entry.node, true, model);
        if (entry.node->name == "Model_Specific") ReadSection(*entry.node, false, model);
    }
    ReleaseAmiParameters(parsed);
    // A tree that parses but names no model or holds no parameter is no .ami file.
    if (model.root.empty() || model.parameters.empty())
        throw AmiFileError("names no model with Reserved_Parameters or Model_Specific parameters");
    return model;
}

AmiModelDescription ReadAmiFile(const std::string& path) {
    // .ami files are a few kilobytes; anything above 1 MiB is not one.
    const std::string text =
        ReadInputAs<AmiFileError>(path, 1 << 20, "larger than 1 MiB, not an .ami file");
    try {
        return ParseAmiFile(text);
    } catch (const AmiFileError& error) {
        throw AmiFileError(path + ": " + error.what());
    }
}

std::map<std::string, std::string> ResolveValues(
    const AmiModelDescription& model,
    const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::map<std::string, std::string> values;
    for (const AmiParameterSpec& param : model.parameters)
        if (IsInput(param)) values[param.name] = param.defaultValue;
    for (const auto& [name, value] : overrides) {
        const AmiParameterSpec* param = model.Find(name);
        if (param == nullptr || !IsInput(*param)) {
            std::string known;
            for (const auto& entry : values) known += (known.empty() ? "" : ", ") + entry.first;
            throw AmiFileError("unknown parameter " + name + "; the model " + model.root +
                               " takes " + known);
        }
        Validate(*param, value);
        values[name] = value;
    }
    return values;
}

std::string BuildParameterString(const AmiModelDescription& model,
                                 const std::map<std::string, std::string>& values) {
    std::string text = "(" + model.root;
    std::vector<std::string> open;  // the groups open around the next parameter
    for (const AmiParameterSpec& param : model.parameters) {
        const auto found = values.find(param.name);
        if (found == values.end()) continue;
        std::vector<std::string> path = Split(param.name);
        const std::string leaf = path.back();
        path.pop_back();
        std::size_t common = 0;
        while (common < open.size() && common < path.size() && open[common] == path[common])
            ++common;
        for (; open.size() > common; open.pop_back()) text += ")";
        for (; open.size() < path.size(); open.push_back(path[open.size()]))
            text += " (" + path[open.size()];
        std::string value = found->second;
        if (param.type == "String") value = "\"" + Unquote(value) + "\"";
        text += " (" + leaf + " " + value + ")";
    }
    return text + std::string(open.size(), ')') + ")";
}

}  // namespace amirun
