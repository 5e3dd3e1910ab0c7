#include "tools/amirun/host/Session.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <locale>
#include <sstream>

#include "tools/amirun/host/AmiLibrary.h"
#include "tools/amirun/host/IbisFile.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Text.h"

namespace fs = std::filesystem;

namespace amirun {
namespace {

constexpr double kDefaultRate = 3.84e11;

std::string DefaultAmiFile(const std::string& library) {
    fs::path path(library);
    std::string stem = path.filename().string();
    for (const std::string suffix : {".so", "_x64", "_x86", "_64"})
        if (stem.size() > suffix.size() &&
            stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0)
            stem.erase(stem.size() - suffix.size());
    return (path.parent_path() / (stem + ".ami")).string();
}

// The rate as a person would write it: 15 significant digits when they hold it to 1e-14 (so
// 1 / dt's rounding, 384999999999.99994, is 385000000000), else every digit.
std::string RateText(double rate) {
    for (const int digits : {15, 17}) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << std::setprecision(digits) << rate;
        if (digits == 17 || std::fabs(std::stod(text.str()) - rate) <= 1e-14 * std::fabs(rate))
            return text.str();
    }
    return "";
}

}  // namespace

std::string SafeName(const std::string& text) {
    std::string name;
    for (char c : text)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    if (name.empty() || name[0] == '.') name.insert(name.begin(), '_');
    return name;
}

double ModelRun::Interval() const {
    const AmiParameterSpec* rate = description.SampleRateParameter();
    double value = 0.0;
    if (rate != nullptr && values.count(rate->name))
        value = std::atof(values.at(rate->name).c_str());
    return value > 0.0 && std::isfinite(value) ? 1.0 / value : 1.0 / kDefaultRate;
}

ModelRun ResolveModel(const ModelOptions& options) {
    ModelRun model;
    model.library = options.library;
    std::string amiFile = options.amiFile;
    if (!options.ibsFile.empty()) {
        if (options.ibsModel.empty()) throw AmiFileError("--ibs needs --model NAME");
        if (!options.library.empty())
            throw AmiFileError("give either a library or --ibs, not both");
        const IbisExecutable found =
            FindExecutable(ReadIbisFile(options.ibsFile), options.ibsFile, options.ibsModel,
                           HostPlatform(), options.allowOutside);
        model.library = found.library;
        if (amiFile.empty()) amiFile = found.amiFile;
        std::cout << "model: " << model.library << ", named by " << options.ibsFile
                  << " (loading a model library runs its code in amirun)\n";
        ProtectInput(options.ibsFile);
    }
    if (model.library.empty()) throw AmiFileError("no model library: give one, or --ibs");
    if (!fs::is_regular_file(model.library))
        throw AmiFileError("no such library: " + model.library);
    if (amiFile.empty()) amiFile = DefaultAmiFile(model.library);
    model.description = ReadAmiFile(amiFile);
    ProtectInput(model.library);
    ProtectInput(amiFile);
    for (const std::string& set : options.sets) {
        const auto equals = set.find('=');
        if (equals == std::string::npos || equals == 0)
            throw AmiFileError("--set takes NAME=VALUE, not '" + set + "'");
        model.overrides.emplace_back(set.substr(0, equals), set.substr(equals + 1));
    }
    model.values = ResolveValues(model.description, model.overrides);
    // Settings in the file names, so that runs with other --set values do not overwrite them.
    model.prefix = SafeName(model.description.root);
    for (const std::string& set : options.sets) {
        std::string setting = set;
        setting.erase(setting.find('='), 1);  // EQ=9 becomes _EQ9
        model.prefix += "_" + SafeName(setting);
    }
    return model;
}

void UseTimeBase(ModelRun& model, const TimeBase& base) {
    const AmiParameterSpec* rate = model.description.SampleRateParameter();
    if (rate == nullptr) return;
    const bool pinned = std::any_of(model.overrides.begin(), model.overrides.end(),
                                    [&](const auto& o) { return o.first == rate->name; });
    const double modelRate = 1.0 / model.Interval();
    if (pinned) {
        if (std::fabs(base.dt * modelRate - 1.0) > 1e-9)
            std::cerr << "warning: the sample interval " << base.dt
                      << " s differs from the model's " << rate->name << " (" << modelRate
                      << " samples/s, an interval of " << 1.0 / modelRate
                      << " s); the model filters at its own rate\n";
        return;
    }
    if (std::fabs(base.dt * modelRate - 1.0) <= 1e-12) return;
    auto overrides = model.overrides;
    overrides.emplace_back(rate->name, RateText(1.0 / base.dt));
    model.values = ResolveValues(model.description, overrides);
}

void CheckModelMessage(bool strict, const std::string& message, const std::string& root) {
    const std::string intro = "The IBIS-AMI model, ";
    const auto named = message.find(intro);
    if (named != std::string::npos) {
        const auto from = named + intro.size();
        const std::string model = message.substr(from, message.find(',', from) - from);
        if (model != root)
            throw AmiFileError("the .ami file describes " + root + ", but the library is " + model +
                               ": " + message);
    }
    if (message.find("use the default setting") == std::string::npos) return;
    if (strict) throw StrictFailure("the model used a default setting (--strict): " + message);
    std::cerr << "warning: the model used a default setting: " << Printable(message) << '\n';
}

TimeBase ChooseRunTimeBase(const RunOptions& run, const ModelRun& model) {
    const TimeBase base = ChooseTimeBase(run.bitRate, model.Interval(), run.sampleInterval);
    if (base.changed) std::cout << base.note << '\n';
    return base;
}

Channel LoadChannel(const ChannelCli& channel, const TimeBase& base) {
    const ChannelOptions options =
        ToChannelOptions(channel, base.dt, base.samplesPerBit, base.bitRate, base.changed);
    Channel loaded = channel.file.empty() ? BuiltInChannel(channel.lossDb, options)
                                          : ReadChannel(channel.file, options);
    PrintChannel(loaded.report);
    return loaded;
}

RunSetup PrepareRun(const ModelOptions& model, const ChannelCli& channel, const RunOptions& run) {
    RunSetup setup;
    setup.model = ResolveModel(model);
    PrepareOutput(run, {channel.file});
    setup.base = ChooseRunTimeBase(run, setup.model);
    UseTimeBase(setup.model, setup.base);
    setup.channel = LoadChannel(channel, setup.base);
    setup.outputBase = OutputBase(run, setup.model.prefix);
    std::cout << "parameters: " << Printable(setup.model.Parameters()) << '\n';
    return setup;
}

std::string OutputBase(const RunOptions& run, const std::string& prefix) {
    return (fs::path(run.outDir) / (run.prefix.empty() ? prefix : run.prefix)).string();
}

std::vector<std::vector<double>> InitColumns(const AmiLibrary& library,
                                             const std::vector<std::vector<double>>& columns,
                                             const TimeBase& base, const std::string& parameters,
                                             std::string* message) {
    const std::size_t rows = columns.front().size();
    std::vector<double> matrix;
    matrix.reserve(rows * columns.size());
    for (const auto& column : columns) matrix.insert(matrix.end(), column.begin(), column.end());
    {
        AmiSession session(library, matrix, long(rows), long(columns.size()) - 1, base.dt,
                           1.0 / (base.bitRate), parameters);
        if (message != nullptr) *message = session.Message();
    }
    RequireFinite(matrix, "the impulse matrix AMI_Init of " + library.Path() + " returned");
    std::vector<std::vector<double>> after;
    for (std::size_t c = 0; c < columns.size(); ++c)
        after.emplace_back(matrix.begin() + long(c * rows), matrix.begin() + long((c + 1) * rows));
    return after;
}

// Every combination of the values of the named List parameters (all of them when none is named).
std::vector<Settings> AllSettings(const ModelRun& model, const std::vector<std::string>& named) {
    std::vector<const AmiParameterSpec*> swept;
    const AmiParameterSpec* rate = model.description.SampleRateParameter();
    for (const AmiParameterSpec& p : model.description.parameters) {
        const bool input = !p.reserved && (p.usage == "In" || p.usage == "InOut");
        const bool wanted = named.empty() ? input && !p.list.empty() && &p != rate
                                          : std::count(named.begin(), named.end(), p.name) > 0;
        if (wanted && p.list.empty()) throw AmiFileError(p.name + " is not a List parameter");
        if (wanted) swept.push_back(&p);
    }
    if (swept.size() < named.size())
        throw AmiFileError("the model " + model.description.root + " has no such List parameter");
    std::vector<Settings> all{{}};
    for (const AmiParameterSpec* p : swept) {
        std::vector<Settings> longer;
        for (const Settings& s : all)
            for (const std::string& value : p->list) {
                longer.push_back(s);
                longer.back().emplace_back(p->name, value);
            }
        all.swap(longer);
    }
    return all;
}

std::string SettingsText(const Settings& settings) {
    std::string text;
    for (const auto& [name, value] : settings)
        text += (text.empty() ? "" : " ") + name + "=" + value;
    return text.empty() ? "(defaults)" : text;
}

std::string ParametersWith(const ModelRun& model, const Settings& settings) {
    auto values = model.values;
    for (const auto& [name, value] : settings) values[name] = value;
    return BuildParameterString(model.description, values);
}

void PrepareOutput(const RunOptions& run, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs)
        if (!input.empty()) ProtectInput(input);
    fs::create_directories(run.outDir);
    RemoveStaleTemporaries(run.outDir);
    if (!run.json.empty()) CheckOutputPath(run.json);
}

}  // namespace amirun
