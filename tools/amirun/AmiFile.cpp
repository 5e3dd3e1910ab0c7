#include "tools/amirun/AmiFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "amiparams/AmiParameters.h"

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

void ApplyLeaf(AmiParameterSpec& spec, const std::string& key, std::vector<std::string> values) {
    if (values.empty()) return;
    if (key == "Format") {  // older files: (Format List ...), (Format Range typ min max), ...
        const std::string kind = values.front();
        values.erase(values.begin());
        ApplyLeaf(spec, kind, values);
        return;
    }
    if (key == "Usage") spec.usage = values.front();
    if (key == "Type") spec.type = values.front();
    if (key == "Default") spec.defaultValue = values.front();
    if (key == "Value" && spec.defaultValue.empty()) spec.defaultValue = values.front();
    if (key == "List") {
        spec.list = values;
        if (spec.defaultValue.empty()) spec.defaultValue = values.front();
    }
    if (key == "Range" && values.size() >= 3) {
        if (spec.defaultValue.empty()) spec.defaultValue = values[0];
        spec.minimum = Number(values[1]);
        spec.maximum = Number(values[2]);
    }
}

void ReadSection(const AmiParamNode& section, bool reserved, AmiModelDescription& model) {
    for (const AmiParamEntry& entry : section.children) {
        if (entry.kind != kAmiEntryBranch) continue;  // a parameter is a group of properties
        AmiParameterSpec spec;
        spec.name = entry.node->name;
        spec.reserved = reserved;
        for (const AmiParamEntry& property : entry.node->children)
            if (property.kind == kAmiEntryLeaf)
                ApplyLeaf(spec, property.node->name, Texts(*property.node));
        model.parameters.push_back(std::move(spec));
    }
}

std::string Accepts(const AmiParameterSpec& spec) {
    std::ostringstream text;
    if (!spec.list.empty()) {
        text << "one of";
        for (const std::string& value : spec.list) text << ' ' << value;
    } else if (spec.minimum && spec.maximum) {
        text << spec.type << " values from " << *spec.minimum << " to " << *spec.maximum;
    } else {
        text << "a " << spec.type << " value";
    }
    return text.str();
}

bool SameValue(const AmiParameterSpec& spec, const std::string& a, const std::string& b) {
    if (spec.type == "String") return Unquote(a) == Unquote(b);
    const auto x = Number(a);
    const auto y = Number(b);
    return x && y ? *x == *y : a == b;
}

void Validate(const AmiParameterSpec& spec, const std::string& value) {
    auto fail = [&](const std::string& why) {
        throw AmiFileError("parameter " + spec.name + ": " + why + "; it accepts " + Accepts(spec));
    };
    if (spec.type == "Integer" && !IsInteger(value)) fail("'" + value + "' is not an integer");
    if ((spec.type == "Float" || spec.type == "UI") && !Number(value))
        fail("'" + value + "' is not a number");
    if (spec.type == "Boolean" && value != "True" && value != "False")
        fail("'" + value + "' is not True or False");
    if (!spec.list.empty()) {
        for (const std::string& allowed : spec.list)
            if (SameValue(spec, allowed, value)) return;
        fail("'" + value + "' is not in its List");
    }
    if (spec.minimum && spec.maximum) {
        const auto number = Number(value);
        if (!number || *number < *spec.minimum || *number > *spec.maximum)
            fail("'" + value + "' is outside its Range");
    }
}

bool IsInput(const AmiParameterSpec& spec) {
    return !spec.reserved && (spec.usage == "In" || spec.usage == "InOut");
}

}  // namespace

const AmiParameterSpec* AmiModelDescription::Find(const std::string& name) const {
    for (const AmiParameterSpec& spec : parameters)
        if (spec.name == name) return &spec;
    return nullptr;
}

bool AmiModelDescription::ReservedFlag(const std::string& name, bool fallback) const {
    const AmiParameterSpec* spec = Find(name);
    if (spec == nullptr || !spec->reserved) return fallback;
    return spec->defaultValue == "True";
}

const AmiParameterSpec* AmiModelDescription::SampleRateParameter() const {
    for (const AmiParameterSpec& spec : parameters) {
        std::string lower;
        for (char c : spec.name)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!spec.reserved && (lower.find("samplerate") != std::string::npos ||
                               lower.find("sample_rate") != std::string::npos))
            return &spec;
    }
    return nullptr;
}

AmiModelDescription ParseAmiFile(const std::string& text) {
    AmiParameters parsed = ParseAmiParameters(text.c_str());
    if (!parsed.valid || !parsed.tree || parsed.tree->entries.empty() ||
        parsed.tree->entries[0].node == nullptr) {
        ReleaseAmiParameters(parsed);
        throw AmiFileError("not a valid .ami parameter tree");
    }
    AmiModelDescription model;
    const AmiParamNode& root = *parsed.tree->entries[0].node;
    model.root = root.name;
    for (const AmiParamEntry& entry : root.children) {
        if (entry.kind != kAmiEntryBranch) continue;
        if (entry.node->name == "Reserved_Parameters") ReadSection(*entry.node, true, model);
        if (entry.node->name == "Model_Specific") ReadSection(*entry.node, false, model);
    }
    ReleaseAmiParameters(parsed);
    return model;
}

AmiModelDescription ReadAmiFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw AmiFileError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ParseAmiFile(text.str());
    } catch (const AmiFileError& error) {
        throw AmiFileError(path + ": " + error.what());
    }
}

std::map<std::string, std::string> ResolveValues(
    const AmiModelDescription& model,
    const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::map<std::string, std::string> values;
    for (const AmiParameterSpec& spec : model.parameters)
        if (IsInput(spec)) values[spec.name] = spec.defaultValue;
    for (const auto& [name, value] : overrides) {
        const AmiParameterSpec* spec = model.Find(name);
        if (spec == nullptr || !IsInput(*spec)) {
            std::string known;
            for (const auto& entry : values) known += (known.empty() ? "" : ", ") + entry.first;
            throw AmiFileError("unknown parameter " + name + "; the model " + model.root +
                               " takes " + known);
        }
        Validate(*spec, value);
        values[name] = value;
    }
    return values;
}

std::string BuildParameterString(const AmiModelDescription& model,
                                 const std::map<std::string, std::string>& values) {
    std::string text = "(" + model.root;
    for (const AmiParameterSpec& spec : model.parameters) {
        const auto found = values.find(spec.name);
        if (found == values.end()) continue;
        std::string value = found->second;
        if (spec.type == "String") value = "\"" + Unquote(value) + "\"";
        text += " (" + spec.name + " " + value + ")";
    }
    return text + ")";
}

}  // namespace amirun
