#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace amirun {

// One parameter of an .ami file, as far as a host needs it to build the parameter string.
struct AmiParameterSpec {
    std::string name;
    std::string usage;              // In, Out, InOut, Info
    std::string type;               // Integer, Float, UI, String, Boolean, Tap
    std::string defaultValue;       // Default, else Value, else the typical value of a Range
    std::vector<std::string> list;  // List values, empty when not a List
    std::optional<double> minimum;  // Range bounds
    std::optional<double> maximum;
    bool reserved = false;  // under Reserved_Parameters
};

struct AmiModelDescription {
    std::string root;
    std::vector<AmiParameterSpec> parameters;

    const AmiParameterSpec* Find(const std::string& name) const;
    // A reserved Boolean such as GetWave_Exists; `fallback` when absent.
    bool ReservedFlag(const std::string& name, bool fallback) const;
    // The model's own sample-rate parameter (a Model_Specific Float whose name mentions
    // "samplerate" or "sample_rate"), if it has one.
    const AmiParameterSpec* SampleRateParameter() const;
};

struct AmiFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

AmiModelDescription ParseAmiFile(const std::string& text);
AmiModelDescription ReadAmiFile(const std::string& path);

// An .ami file's text with its comments blanked out: from a '|' outside a quoted string to the
// end of its line (the IBIS-AMI comment character). Lines and columns stay where they were.
std::string WithoutAmiComments(const std::string& text);

// The values the string will carry: every Model_Specific input at its default, with overrides.
// An unknown name, a parameter that is not an input, a value of the wrong type or one outside
// the List or Range throws AmiFileError naming the parameter and what it accepts.
std::map<std::string, std::string> ResolveValues(
    const AmiModelDescription& model,
    const std::vector<std::pair<std::string, std::string>>& overrides);

// "(Root (name value) ...)" in the order of the file; String values are quoted.
std::string BuildParameterString(const AmiModelDescription& model,
                                 const std::map<std::string, std::string>& values);

}  // namespace amirun
