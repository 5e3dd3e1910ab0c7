// amirun getwave: PRBS bits through a transmitter's AMI_GetWave, and optionally the channel.
#include <filesystem>
#include <iostream>
#include <memory>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct GetWaveOptions {
    ModelOptions model;
    ChannelCli channel;
    RunOptions run;
    WaveformRequest request;
};

int RunGetWave(GetWaveOptions& options) {
    const RunSetup setup = PrepareRun(options.model, options.channel, options.run);
    const ModelRun& model = setup.model;
    const TimeBase& time = setup.base;
    const std::string parameters = model.Parameters();
    AmiLibrary library(model.library);
    if (!library.HasGetWave()) throw AmiError(model.library + " has no AMI_GetWave");

    WaveformRequest request = options.request;
    request.maxLatencyBits = 32;
    const WaveformResult wave =
        RunWaveform(library, time, parameters, setup.channel.columns.front(), request);
    std::cout << "message: " << (wave.message.empty() ? "(none)" : wave.message) << '\n';
    CheckModelMessage(options.run.strict, wave.message, model.description.root);

    const std::string& base = setup.outputBase;
    const std::string prefix = std::filesystem::path(base).filename().string();
    const std::vector<double> t = Times(wave.output.size(), time.dt);
    // Thinned for size, never below 16 samples per unit interval.
    const std::size_t step = std::max<std::size_t>(
        1, std::min(wave.output.size() / 200000, std::size_t(time.samplesPerBit) / 16));
    WriteCsv(base + "_wave.csv", {"time_s", "input", "output"}, {&t, &wave.input, &wave.output},
             step);
    const double ui = 1.0 / time.bitRate;
    const bool through = request.throughChannel;
    PlotEye(
        base + "_eye.png",
        prefix + (through ? ": eye after the channel, " : ": output eye, ") + EyeText(wave.eye, ui),
        TraceDensity(wave.output, time.samplesPerBit, SkippedBits(request.bits),
                     wave.eye.bestPhase));
    std::cout << "eye of the output" << (through ? " after the channel" : "") << ": "
              << EyeText(wave.eye, ui) << '\n'
              << "wrote " << base << "_wave.csv"
              << (step > 1 ? " (every " + std::to_string(step) + "th sample)" : "") << ", " << base
              << "_eye.png\n";
    JsonObject summary;
    summary.Number("schema", kJsonSchema).Text("command", "getwave").Text("parameters", parameters);
    AddTimeBase(summary, time);
    summary.Object("channel", ChannelJson(setup.channel.report))
        .Object(through ? "eye_after_channel" : "eye", EyeJson(wave.eye, ui));
    summary.Write(options.run.json);
    return kExitDone;
}

}  // namespace

Command AddGetWaveCommand(CLI::App& app) {
    auto options = std::make_shared<GetWaveOptions>();
    options->request.prbsOrder = 7;
    options->request.bits = 20000;
    options->request.throughChannel = false;
    WaveformRequest& request = options->request;
    CLI::App* getwave = app.add_subcommand("getwave", "AMI_GetWave on a PRBS NRZ waveform");
    AddModelOptions(*getwave, options->model);
    AddChannelOptions(*getwave, options->channel);
    AddRunOptions(*getwave, options->run);
    getwave->add_option("--prbs", request.prbsOrder, "PRBS order")
        ->check(CLI::IsMember({7, 15, 23, 31}))
        ->capture_default_str();
    getwave->add_option("--bits", request.bits, "number of bits")
        ->check(CLI::Range(1L, 10000000L))
        ->capture_default_str();
    getwave->add_option("--block-bits", request.blockBits, "bits per AMI_GetWave call")
        ->check(CLI::Range(1L, 10000000L))
        ->capture_default_str();
    getwave->add_flag("--through-channel", request.throughChannel,
                      "pass the model's output through the channel");
    getwave->add_option("--amplitude", request.amplitude, "NRZ levels are +-amplitude volts")
        ->capture_default_str()
        ->check(FiniteRange(kAmplitudeRange));
    return {getwave, [options] { return RunGetWave(*options); }};
}

}  // namespace amirun
