// amirun datasheet: what every setting of a model does to a signal, measured: DC gain, gain at
// the Nyquist frequency, and where |H| peaks and by how much. A transmitter without an impulse
// from AMI_Init is measured through AMI_GetWave with a 1 mV step (its small-signal response).
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Parallel.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct DatasheetOptions {
    ModelOptions model;
    RunOptions run;
    std::vector<std::string> parameters;  // default: every List input
    int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
};

std::string Row(const std::string& setting, const ResponseFigures& f) {
    std::ostringstream row;
    row << std::fixed << "| " << setting << " | " << std::setprecision(3) << f.dcGain << " | "
        << std::setprecision(1) << f.quarterDb << " | " << f.nyquistDb << " | "
        << std::setprecision(2) << f.peakHz * 1e-9 << " | " << std::setprecision(1) << f.peakBoostDb
        << " |";
    return row.str();
}

int RunDatasheet(DatasheetOptions& options) {
    ModelRun model = ResolveModel(options.model);
    PrepareOutput(options.run, {});
    const TimeBase time = ChooseRunTimeBase(options.run, model);
    UseTimeBase(model, time);
    AmiLibrary library(model.library);
    const std::vector<Settings> settings = AllSettings(model, options.parameters);
    std::vector<ResponseFigures> figures(settings.size());
    ParallelFor(
        settings.size(), options.jobs, "datasheet",
        [&](std::size_t i) {
            figures[i] =
                FiguresOf(ImpulseOf(library, model, ParametersWith(model, settings[i]), time),
                          time.dt, 0.5 * time.bitRate);
        },
        [&](std::size_t i) { return SettingsText(settings[i]); });
    std::ostringstream header;
    header << "| setting | DC gain | at " << 0.125 * time.bitRate * 1e-9
           << " GHz (dB above DC) | at " << 0.5 * time.bitRate * 1e-9
           << " GHz (dB above DC) | peak (GHz) | peak (dB above DC) |\n|---|---|---|---|---|---|\n";
    std::string table = header.str();
    std::vector<JsonObject> rows;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        table += Row(SettingsText(settings[i]), figures[i]) + "\n";
        rows.push_back(JsonObject()
                           .Text("setting", SettingsText(settings[i]))
                           .Number("dc_gain", figures[i].dcGain)
                           .Number("quarter_nyquist_db", figures[i].quarterDb)
                           .Number("nyquist_db", figures[i].nyquistDb)
                           .Number("peak_hz", figures[i].peakHz)
                           .Number("peak_boost_db", figures[i].peakBoostDb));
    }
    std::cout << model.description.root << ", measured at " << 1.0 / time.dt << " samples/s"
              << (model.description.ReservedFlag("Init_Returns_Impulse", true)
                      ? ""
                      : " (small-signal, through AMI_GetWave)")
              << ":\n"
              << table;
    const std::string base = OutputBase(options.run, model.prefix) + "_datasheet";
    WriteTextFile(base + ".md", table);
    JsonObject summary;
    summary.Number("schema", kJsonSchema)
        .Text("command", "datasheet")
        .Text("model", model.description.root);
    AddTimeBase(summary, time);
    summary.Objects("settings", rows).Write(options.run.json);
    std::cout << "wrote " << base << ".md\n";
    return kExitDone;
}

}  // namespace

Command AddDatasheetCommand(CLI::App& app) {
    auto options = std::make_shared<DatasheetOptions>();
    CLI::App* datasheet = app.add_subcommand(
        "datasheet", "measure every setting of a model: DC gain, Nyquist gain, peak and boost");
    AddModelOptions(*datasheet, options->model);
    AddRunOptions(*datasheet, options->run);
    datasheet->add_option("--param", options->parameters,
                          "a List parameter to vary (default: all of them)");
    datasheet->add_option("-j,--jobs", options->jobs, "parallel model instances")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    return {datasheet, [options] { return RunDatasheet(*options); }};
}

}  // namespace amirun
