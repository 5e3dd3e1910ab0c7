// amirun batch: the runs of a plan (channels times settings) through the link's flows, one JSON
// line per finished run in the shard's results file; a rerun does only what is missing.
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "tools/amirun/batch/Plan.h"
#include "tools/amirun/batch/Results.h"
#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Parallel.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkBits.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

struct BatchOptions {
    std::string plan;
    std::string out = "batch";
    std::string shard = "0/1";
    int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
    bool plots = false;
};

// With --plots, each run's statistical eye as DIR/plots/<id>_stat_eye.png.
void PlotRun(const BatchOptions& options, const Plan& plan, const PlanRun& run,
             const StatisticalResult& stat) {
    static std::mutex plotting;  // one gnuplot at a time keeps the runs' own threads busy
    const std::lock_guard<std::mutex> lock(plotting);
    const double swing = 2.0 * plan.amplitude;
    const fs::path folder = fs::path(options.out) / "plots";
    fs::create_directories(folder);
    PlotEye((folder / (run.id + "_stat_eye.png")).string(),
            plan.channelNames[run.channel] + ", tx " + SettingsText(run.tx) + ", rx " +
                SettingsText(run.rx) + ": " + StatisticalEyeText(stat.eye, swing, plan.targetBer),
            StatisticalDensity(stat.eye, 200, 1.0, swing), "log10 probability",
            StatisticalContours(stat.eye, swing));
}

void ParseShard(const std::string& text, std::size_t& k, std::size_t& n) {
    const auto slash = text.find('/');
    try {
        // Digits only: stoul would take "-1" and wrap it.
        if (slash == std::string::npos ||
            text.find_first_not_of("0123456789/") != std::string::npos)
            throw std::invalid_argument(text);
        std::size_t used = 0;
        k = std::stoul(text.substr(0, slash), &used);
        if (used != slash) throw std::invalid_argument(text);
        n = std::stoul(text.substr(slash + 1), &used);
        if (used != text.size() - slash - 1) throw std::invalid_argument(text);
    } catch (const std::logic_error&) {
        throw PlanError("--shard takes K/N, like 3/8, not '" + text + "'");
    }
    if (n == 0 || k >= n) throw PlanError("--shard K/N needs 0 <= K < N, not " + text);
}

ChannelCli ChannelOf(const Plan& plan, std::size_t c) {
    ChannelCli channel;
    const std::string& name = plan.channels[c];
    if (name.rfind("builtin:", 0) == 0)
        channel.lossDb = std::stod(name.substr(8));
    else
        channel.file = name;
    channel.ports = plan.ports;
    channel.windowBits = plan.windowBits;
    channel.extrapolate = plan.extrapolate;
    return channel;
}

nlohmann::json SettingsOf(const PlanRun& run) {
    nlohmann::json settings = nlohmann::json::object();
    for (const auto& [name, value] : run.tx) settings["tx." + name] = value;
    for (const auto& [name, value] : run.rx) settings["rx." + name] = value;
    return settings;
}

// The runs of one channel: its transmitter shapes once per transmitter setting, then every run.
void RunChannel(const Plan& plan, std::size_t total, const std::vector<PlanRun>& runs,
                const BatchOptions& options, ResultsWriter& writer) {
    RunOptions run;
    run.sampleInterval = plan.sampleInterval;
    run.bitRate = plan.bitRate;
    run.outDir = options.out;
    const LinkSetup link =
        PrepareLink(plan.tx, plan.rx, ChannelOf(plan, runs.front().channel), run, plan.impairments);
    const FlowSettings flow = MakeFlow(plan.amplitude, plan.targetBer, false, link.impairments);
    // A receiver without an AMI_Init impulse has the bit-by-bit flow only: it ranks its runs.
    const bool statistical = plan.statistical && link.noStatisticalFlow.empty();
    const bool bitByBit = plan.bitByBit || !link.noStatisticalFlow.empty();
    if (plan.statistical && !statistical)
        std::cout << link.noStatisticalFlow << ": its runs go bit by bit\n";
    std::map<Settings, TransmitterShape> shapes;
    if (statistical)
        for (const PlanRun& r : runs) shapes.emplace(r.tx, TransmitterShape{});
    std::vector<const Settings*> txs;
    for (auto& entry : shapes) txs.push_back(&entry.first);
    ParallelFor(
        txs.size(), options.jobs, "transmitter settings",
        [&](std::size_t i) {
            shapes.at(*txs[i]) =
                ShapeByTransmitter(*link.m.txLibrary, link.m.tx, ParametersWith(link.m.tx, *txs[i]),
                                   link.time, link.channel.columns, flow);
        },
        [&](std::size_t i) { return SettingsText(*txs[i]); });
    ParallelFor(
        runs.size(), options.jobs, plan.channelNames[runs.front().channel],
        [&](std::size_t i) {
            const PlanRun& r = runs[i];
            const std::string rxParameters = ParametersWith(link.m.rx, r.rx);
            nlohmann::json line = {{"schema", kJsonSchema},
                                   {"id", r.id},
                                   {"plan", plan.fingerprint},
                                   {"runs", total},
                                   {"channel", plan.channelNames[r.channel]},
                                   {"settings", SettingsOf(r)}};
            const double swing = 2.0 * plan.amplitude;
            // Where the statistical eye does not apply (a transmitter that is not linear at the
            // bits' swing), a short bit-by-bit run ranks the run instead.
            bool shortBits = false;
            if (statistical) {
                const StatisticalResult stat = StatisticalFlowAfter(
                    *link.m.rxLibrary, link.m.rx, rxParameters, link.time, shapes.at(r.tx), flow);
                line["statistical"] = {{"height_v", stat.eye.height * swing},
                                       {"width_ui", stat.eye.width},
                                       {"best_phase_ui", stat.eye.PhaseUi(stat.eye.bestPhase)},
                                       {"bound_v", stat.eye.bound * swing},
                                       {"applies", stat.applies}};
                shortBits = !stat.applies && !bitByBit;
                if (options.plots) PlotRun(options, plan, r, stat);
            }
            if (bitByBit || shortBits) {
                LinkBitsRequest request;
                request.bits = shortBits ? std::max(1000L, plan.bits / 10) : plan.bits;
                request.amplitude = plan.amplitude;
                request.impairments = link.impairments;
                const LinkBitsResult bits =
                    RunLinkBits(link.m, ParametersWith(link.m.tx, r.tx), rxParameters, link.time,
                                link.channel.columns.front(), request);
                line["bit_by_bit"] = {{"height_v", bits.eye.height},
                                      {"width_ui", bits.eye.width},
                                      {"clock", bits.modelClock ? "model" : "best_phase"}};
            }
            // A channel name that is no UTF-8 is written with U+FFFD; its run is found again by
            // its id, made from the name's own bytes.
            writer.Append(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        },
        [&](std::size_t i) { return "run " + runs[i].id; });
}

int RunBatch(const BatchOptions& options) {
    const Plan plan = ReadPlan(options.plan);
    std::size_t k = 0, n = 1;
    ParseShard(options.shard, k, n);
    const ModelRun tx = ResolveModel(plan.tx), rx = ResolveModel(plan.rx);
    const RunSpace space(plan, tx, rx);
    const std::vector<PlanRun> shard = space.Shard(k, n);
    fs::create_directories(options.out);
    const std::string results = (fs::path(options.out) / ("results-" + std::to_string(k) + "-of-" +
                                                          std::to_string(n) + ".jsonl"))
                                    .string();
    ResultsWriter writer(results);
    const std::set<std::string> done = writer.Recover(plan.fingerprint);
    std::map<std::size_t, std::vector<PlanRun>> byChannel;
    std::size_t todo = 0;
    for (const PlanRun& r : shard) {
        if (done.count(r.id)) continue;
        byChannel[r.channel].push_back(r);
        ++todo;
    }
    std::cout << "plan " << plan.path << " (" << plan.fingerprint << "): " << space.Count()
              << " runs; shard " << k << "/" << n << ": " << shard.size() << " runs, "
              << shard.size() - todo << " already done, " << todo << " to run\n";
    for (const auto& [channel, runs] : byChannel)
        RunChannel(plan, space.Count(), runs, options, writer);
    std::cout << "results: " << results << '\n';
    return kExitDone;
}

}  // namespace

Command AddBatchCommand(CLI::App& app) {
    auto options = std::make_shared<BatchOptions>();
    CLI::App* batch = app.add_subcommand(
        "batch", "the runs of a plan (channels x settings), resumable, shardable across a cluster");
    batch->add_option("plan", options->plan, "the plan: a JSON file (see docs/batch.md)")
        ->required()
        ->check(CLI::ExistingFile);
    batch->add_option("--out", options->out, "folder of the results files")->capture_default_str();
    batch->add_option("--shard", options->shard, "K/N: run every N-th run from run K")
        ->capture_default_str();
    batch->add_option("--jobs", options->jobs, "runs at a time on this machine")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    batch->add_flag("--plots", options->plots,
                    "draw each run's statistical eye into DIR/plots (off: batches are large)");
    return {batch, [options] { return RunBatch(*options); }};
}

}  // namespace amirun
