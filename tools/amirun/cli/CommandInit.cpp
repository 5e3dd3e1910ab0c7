// amirun init: AMI_Init on a channel's impulse responses; the responses before and after the
// model, their pulse responses and peak-distortion eyes.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/host/AmiLibrary.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/io/Text.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {
namespace {

struct InitOptions {
    ModelOptions model;
    ChannelCli channel;
    RunOptions run;
    std::string impulse;
};

// Where the pulses live, so that a delayed or long channel is not drawn as a flat line: from
// 4 UI before the first sample above 1 % of either pulse's peak to 4 UI after the last, at least
// 24 UI.
std::pair<std::size_t, std::size_t> ShownRange(const std::vector<double>& a,
                                               const std::vector<double>& b, int samplesPerBit) {
    const std::size_t size = std::min(a.size(), b.size());
    const auto spb = std::size_t(samplesPerBit);
    double peak = 0.0;
    for (std::size_t i = 0; i < size; ++i)
        peak = std::max({peak, std::fabs(a[i]), std::fabs(b[i])});
    std::size_t first = size, last = 0;
    for (std::size_t i = 0; i < size; ++i)
        if (std::max(std::fabs(a[i]), std::fabs(b[i])) > 0.01 * peak) {
            first = std::min(first, i);
            last = i;
        }
    if (first == size) first = last = 0;
    const std::size_t from = first > 4 * spb ? first - 4 * spb : 0;
    const std::size_t to = std::min(size, std::max(last + 4 * spb, from + 24 * spb));
    return {from, to};
}

void PlotColumn0(const std::string& base, const std::string& title, const TimeBase& time,
                 const std::vector<double>& before, const std::vector<double>& after,
                 const std::vector<double>& pulseBefore, const std::vector<double>& pulseAfter) {
    const auto range = ShownRange(pulseBefore, pulseAfter, time.samplesPerBit);
    // A pulse is longer than its impulse by a unit interval: draw what both have.
    const std::size_t to = std::min({range.second, before.size(), after.size()});
    const std::size_t from = std::min(range.first, to);
    std::vector<double> ps(to - from), scaledBefore(to - from), scaledAfter(to - from);
    for (std::size_t i = from; i < to; ++i) {
        ps[i - from] = double(i) * time.dt * 1e12;
        scaledBefore[i - from] = before[i] * time.dt;  // per-sample area: comparable across rates
        scaledAfter[i - from] = after[i] * time.dt;
    }
    PlotLines(base + "_impulse.png", title + ": impulse response, column 0", "time (ps)",
              "impulse x dt",
              {{"before the model", ps, scaledBefore}, {"after the model", ps, scaledAfter}});
    PlotLines(base + "_pulse.png", title + ": pulse response, column 0", "time (ps)",
              "volts per volt",
              {{"before the model",
                ps,
                {pulseBefore.begin() + long(from), pulseBefore.begin() + long(to)}},
               {"after the model",
                ps,
                {pulseAfter.begin() + long(from), pulseAfter.begin() + long(to)}}});
}

void WriteColumns(const std::string& base, const TimeBase& time,
                  const std::vector<std::vector<double>>& before,
                  const std::vector<std::vector<double>>& after,
                  std::vector<std::vector<double>>& pulses) {
    std::vector<std::string> header{"time_s"};
    for (std::size_t c = 0; c < before.size(); ++c) {
        header.push_back("before_" + std::to_string(c));
        header.push_back("after_" + std::to_string(c));
        pulses.push_back(PulseFromImpulse(before[c], time.samplesPerBit, time.dt));
        pulses.push_back(PulseFromImpulse(after[c], time.samplesPerBit, time.dt));
    }
    const std::vector<double> t = Times(before.front().size(), time.dt);
    const std::vector<double> pulseTime = Times(pulses.front().size(), time.dt);
    std::vector<const std::vector<double>*> impulseColumns{&t}, pulseColumns{&pulseTime};
    for (std::size_t c = 0; c < before.size(); ++c) {
        impulseColumns.insert(impulseColumns.end(), {&before[c], &after[c]});
        pulseColumns.insert(pulseColumns.end(), {&pulses[2 * c], &pulses[2 * c + 1]});
    }
    WriteCsv(base + "_impulse.csv", header, impulseColumns);
    WriteCsv(base + "_pulse.csv", header, pulseColumns);
}

int RunInit(InitOptions& options) {
    if (!options.impulse.empty()) {  // bare columns at the sample interval
        options.channel.file = options.impulse;
        options.channel.format = "values";
    }
    const RunSetup setup = PrepareRun(options.model, options.channel, options.run);
    const ModelRun& model = setup.model;
    const TimeBase& time = setup.base;
    const std::string parameters = model.Parameters();
    AmiLibrary library(model.library);
    std::string message;
    const auto& before = setup.channel.columns;
    const auto after = InitColumns(library, before, time, parameters, &message);
    std::cout << "message: " << (message.empty() ? "(none)" : Printable(message)) << '\n';
    const bool returnsImpulse = model.description.ReservedFlag("Init_Returns_Impulse", true);
    if (!returnsImpulse)
        std::cerr << "warning: " << model.description.root
                  << " says Init_Returns_Impulse False: what its AMI_Init returned is not its "
                     "response, so the figures 'after the model' are not the model's\n";
    CheckModelMessage(options.run.strict, message, model.description.root);

    const std::string& base = setup.outputBase;
    std::vector<std::vector<double>> pulses;
    WriteColumns(base, time, before, after, pulses);
    PlotColumn0(base, std::filesystem::path(base).filename().string(), time, before[0], after[0],
                pulses[0], pulses[1]);

    const double ui = 1.0 / time.bitRate;
    const Eye eyeBefore = PeakDistortionEye(pulses[0], time.samplesPerBit);
    const Eye eyeAfter = PeakDistortionEye(pulses[1], time.samplesPerBit);
    std::cout << "eye before the model: " << EyeText(eyeBefore, ui) << '\n'
              << "eye after the model:  " << EyeText(eyeAfter, ui) << '\n'
              << "wrote " << base << "_impulse.csv, _pulse.csv, _impulse.png, _pulse.png\n";
    JsonObject summary;
    summary.Number("schema", kJsonSchema)
        .Text("command", "init")
        .Text("parameters", parameters)
        .Bool("init_returns_impulse", returnsImpulse);
    AddTimeBase(summary, time);
    summary.Object("channel", ChannelJson(setup.channel.report))
        .Object("eye_before", EyeJson(eyeBefore, ui))
        .Object("eye_after", EyeJson(eyeAfter, ui));
    summary.Write(options.run.json);
    return kExitDone;
}

}  // namespace

Command AddInitCommand(CLI::App& app) {
    auto options = std::make_shared<InitOptions>();
    CLI::App* init = app.add_subcommand("init", "AMI_Init on an impulse matrix or a channel");
    AddModelOptions(*init, options->model);
    AddChannelOptions(*init, options->channel);
    AddRunOptions(*init, options->run);
    init->add_option("--impulse", options->impulse,
                     "impulse matrix: one column per aggressor, text or CSV, taken whole")
        ->check(CLI::ExistingFile);
    return {init, [options] { return RunInit(*options); }};
}

}  // namespace amirun
