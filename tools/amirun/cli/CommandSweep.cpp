// amirun sweep: AMI_Init (or AMI_GetWave) for every value of one List parameter, ranked by eye
// height, with each setting's |H(f)| and step response.
#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <thread>

#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Parallel.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct SweepOptions {
    ModelOptions model;
    ChannelCli channel;
    RunOptions run;
    std::string parameter;
    int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
};

const AmiParameterSpec& SweptParameter(const ModelRun& model, std::string name) {
    if (name.empty())
        for (const AmiParameterSpec& param : model.description.parameters)
            if (!param.reserved && !param.list.empty() && param.usage != "Info" &&
                param.usage != "Out") {
                name = param.name;
                break;
            }
    const AmiParameterSpec* param = model.description.Find(name);
    if (param == nullptr || param->list.empty())
        throw AmiFileError(
            "sweep needs a List parameter; " +
            (name.empty() ? std::string("the model has none") : name + " is not one"));
    // Every value of the List must be one of its Type, or the model would get what --set
    // refuses.
    for (const std::string& value : param->list) ResolveValues(model.description, {{name, value}});
    return *param;
}

// Every setting's eye, on up to `jobs` threads (fewer when the system refuses some).
// Each setting's model message goes through --strict as a single run's does.
std::vector<Eye> SweepEyes(const AmiLibrary& library, const ModelRun& model,
                           const AmiParameterSpec& param, const TimeBase& time,
                           const std::vector<double>& impulse, bool byGetWave, int jobs,
                           bool strict) {
    const std::vector<std::string>& settings = param.list;
    std::vector<Eye> eyes(settings.size());
    ParallelFor(
        settings.size(), jobs, "sweep " + param.name,
        [&](std::size_t i) {
            const std::string parameters = ParametersWith(model, {{param.name, settings[i]}});
            if (byGetWave) {
                const WaveformResult result = RunWaveform(library, time, parameters, impulse, {});
                CheckModelMessage(strict, result.message, model.description.root);
                eyes[i] = result.eye;
                return;
            }
            std::string message;
            const auto after = InitColumns(library, {impulse}, time, parameters, &message);
            CheckModelMessage(strict, message, model.description.root);
            eyes[i] = PeakDistortionEye(PulseFromImpulse(after[0], time.samplesPerBit, time.dt),
                                        time.samplesPerBit);
        },
        [&](std::size_t i) { return param.name + " " + settings[i]; });
    return eyes;
}

// Each setting's own response from AMI_Init on a unit impulse: |H(f)| up to twice the Nyquist
// frequency, and the step response.
void PlotResponses(const AmiLibrary& library, const ModelRun& model, const AmiParameterSpec& param,
                   const TimeBase& time, const std::string& base) {
    std::vector<Series> gains, steps;
    for (const std::string& setting : param.list) {
        const std::vector<double> impulse =
            ImpulseOf(library, model, ParametersWith(model, {{param.name, setting}}), time);
        Series gain{param.name + " " + setting, {}, {}};
        MagnitudeResponse(impulse, time.dt, time.bitRate, gain.x, gain.y);
        for (double& f : gain.x) f *= 1e-9;
        Series step{param.name + " " + setting, Times(impulse.size(), time.dt, time.bitRate), {}};
        double sum = 0.0;
        for (double h : impulse) step.y.push_back(sum += h * time.dt);
        gains.push_back(std::move(gain));
        steps.push_back(std::move(step));
    }
    double lowest = 0.0, highest = 0.0;
    for (const Series& gain : gains)
        for (double db : gain.y) {
            lowest = std::min(lowest, db);
            highest = std::max(highest, db);
        }
    const double nyquist = 0.5 * time.bitRate * 1e-9;
    gains.push_back({"Nyquist frequency", {nyquist, nyquist}, {lowest, highest}});
    const std::string& root = model.description.root;
    PlotLines(base + "_frequency_response.png",
              root + ": |H(f)| of every " + param.name + " setting", "frequency (GHz)", "|H| (dB)",
              gains);
    PlotLines(base + "_step_response.png",
              root + ": step response of every " + param.name + " setting", "time (UI)",
              "output per unit input step", steps);
    std::cout << "wrote " << base << "_frequency_response.png, _step_response.png\n";
}

int RunSweep(SweepOptions& options) {
    const RunSetup setup = PrepareRun(options.model, options.channel, options.run);
    const ModelRun& model = setup.model;
    const AmiParameterSpec& param = SweptParameter(model, options.parameter);
    const TimeBase& time = setup.base;
    const std::vector<double>& impulse = setup.channel.columns.front();
    AmiLibrary library(model.library);
    // A model whose AMI_Init returns no impulse is swept through AMI_GetWave and the channel.
    const bool byGetWave = !model.description.ReservedFlag("Init_Returns_Impulse", true) &&
                           model.description.ReservedFlag("GetWave_Exists", false);
    if (!byGetWave && !model.description.ReservedFlag("Init_Returns_Impulse", true))
        throw AmiError(model.description.root +
                       " returns no impulse from AMI_Init and declares no AMI_GetWave: nothing to "
                       "sweep");
    if (byGetWave && !library.HasGetWave())
        throw AmiError(model.library + ": its .ami file promises AMI_GetWave, which it lacks");
    if (byGetWave) std::cout << "sweeping through AMI_GetWave: its AMI_Init returns no impulse\n";
    const std::vector<Eye> eyes = SweepEyes(library, model, param, time, impulse, byGetWave,
                                            options.jobs, options.run.strict);

    std::vector<double> heights, widths, index;
    for (std::size_t i = 0; i < eyes.size(); ++i) {
        heights.push_back(eyes[i].height);
        widths.push_back(eyes[i].width);
        index.push_back(std::atof(param.list[i].c_str()));
    }
    const std::size_t best = BestIndex(heights);
    const double ui = 1.0 / time.bitRate;
    const Eye channelEye = PeakDistortionEye(PulseFromImpulse(impulse, time.samplesPerBit, time.dt),
                                             time.samplesPerBit);
    std::cout << "channel alone: eye " << EyeText(channelEye, ui) << '\n'
              << std::setw(8) << param.name << "  eye height (V)  eye width (UI)\n";
    for (std::size_t i = 0; i < eyes.size(); ++i)
        std::cout << std::setw(8) << param.list[i] << "  " << std::setw(14) << std::fixed
                  << std::setprecision(4) << heights[i] << "  " << std::setw(14)
                  << std::setprecision(3) << widths[i] << (i == best ? "  <- best" : "") << '\n';
    std::cout << std::defaultfloat << "best " << param.name << " = " << param.list[best] << '\n';
    JsonObject summary;
    summary.Number("schema", kJsonSchema)
        .Text("command", "sweep")
        .Text("parameter", param.name)
        .Text("best", param.list[best]);
    AddTimeBase(summary, time);
    summary.Object("channel", ChannelJson(setup.channel.report))
        .Object("best_eye", EyeJson(eyes[best], ui))
        .Texts("settings", param.list)
        .Numbers("heights_v", heights);
    summary.Write(options.run.json);
    const std::string base = setup.outputBase + "_sweep_" + SafeName(param.name);
    const std::string prefix = std::filesystem::path(setup.outputBase).filename().string();
    WriteCsv(base + ".csv", {param.name, "eye_height_v", "eye_width_ui"},
             {&index, &heights, &widths});
    PlotBars(base + ".png", prefix + ": eye height per " + param.name + " setting", param.name,
             "eye height (V; below 0: closed)", param.list, heights, best);
    if (!byGetWave) PlotResponses(library, model, param, time, base);
    std::cout << "wrote " << base << ".csv, " << base << ".png\n";
    return kExitDone;
}

}  // namespace

Command AddSweepCommand(CLI::App& app) {
    auto options = std::make_shared<SweepOptions>();
    CLI::App* sweep = app.add_subcommand("sweep", "AMI_Init for every value of one List parameter");
    AddModelOptions(*sweep, options->model);
    AddChannelOptions(*sweep, options->channel);
    AddRunOptions(*sweep, options->run);
    sweep->add_option("--param", options->parameter,
                      "the List parameter (default: the model's first)");
    sweep->add_option("-j,--jobs", options->jobs, "parallel model instances")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    return {sweep, [options] { return RunSweep(*options); }};
}

}  // namespace amirun
