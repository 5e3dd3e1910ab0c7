#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/TimeBase.h"
#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/host/RunConfig.h"

namespace amirun {

// Raised by --strict when the model fell back to a default; its own exit status.
struct StrictFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One model of a run, resolved before its library is loaded: the library file, its .ami
// description, the parameter values and the file-name prefix that carries the --set values.
struct ModelRun {
    std::string library;
    AmiModelDescription description;
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, std::string>> overrides;
    std::string prefix;

    std::string Parameters() const { return BuildParameterString(description, values); }
    double Interval() const;  // the model's own sample interval (1 / its rate parameter)
};

// Letters, digits, '.', '-' and '_' only, never a leading dot: a name inside the output folder.
std::string SafeName(const std::string& text);

// Finds the library (directly or through the .ibs file), reads the .ami file and applies --set.
ModelRun ResolveModel(const ModelOptions& options);

// Sets the model's rate parameter to the time base's interval, unless --set pinned it: then the
// difference is warned about.
void UseTimeBase(ModelRun& model, const TimeBase& base);

// The model's message: a model that names itself other than the .ami file's root was given the
// wrong .ami file (an error); a default it fell back to is warned of, and an error with --strict.
void CheckModelMessage(bool strict, const std::string& message, const std::string& root);

// A run of one model: the model resolved, the output folder ready, the time base chosen and the
// channel read, each assumption printed once; the parameter string printed.
struct RunSetup {
    ModelRun model;
    TimeBase base;
    Channel channel;
    std::string outputBase;  // the output folder and the file-name prefix
};
RunSetup PrepareRun(const ModelOptions& model, const ChannelCli& channel, const RunOptions& run);
TimeBase ChooseRunTimeBase(const RunOptions& run, const ModelRun& model);
Channel LoadChannel(const ChannelCli& channel, const TimeBase& base);
// The output folder joined with --prefix, or with `prefix` when none was given.
std::string OutputBase(const RunOptions& run, const std::string& prefix);

// AMI_Init on the columns (column 0 the through channel, then aggressors) as one impulse
// matrix; returns the columns it gave back, checked to be finite. `message` gets the model's.
class AmiLibrary;
std::vector<std::vector<double>> InitColumns(const AmiLibrary& library,
                                             const std::vector<std::vector<double>>& columns,
                                             const TimeBase& base, const std::string& parameters,
                                             std::string* message = nullptr);

// Settings of a model's List parameters: name and value pairs.
using Settings = std::vector<std::pair<std::string, std::string>>;
// Every combination of the values of the named List parameters; with none named, of every List
// input but the rate parameter. Throws AmiFileError for a name that is no List parameter.
std::vector<Settings> AllSettings(const ModelRun& model, const std::vector<std::string>& named);
std::string SettingsText(const Settings& settings);  // "FG=2 SW=1", or "(defaults)"
std::string ParametersWith(const ModelRun& model, const Settings& settings);

// Makes the output folder, removes what killed runs left there, and protects the inputs.
void PrepareOutput(const RunOptions& run, const std::vector<std::string>& inputs);

}  // namespace amirun
