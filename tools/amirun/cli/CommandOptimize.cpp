// amirun optimize: every transmitter setting against every receiver setting through the
// statistical flow, ranked by eye height and width at the target BER; the best few confirmed at
// full resolution and bit by bit.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <memory>
#include <numeric>
#include <sstream>
#include <thread>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Parallel.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkBits.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Search.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct OptimizeOptions : SearchOptions {
    ModelOptions tx, rx;
    ChannelCli channel;
    RunOptions run;
    std::vector<std::string> txParameters, rxParameters;  // default: every List input
    int confirm = 3;
};

// The figures of one pair: the statistical eye's where that flow applies, the bit-by-bit eye's
// where it ran.
JsonObject PairJson(const Search& s, const Candidate& c, const Eye* bits, double swing) {
    JsonObject json;
    json.Object("tx", SettingsJson(s.txs[c.tx])).Object("rx", SettingsJson(s.rxs[c.rx]));
    if (s.noStatisticalFlow.empty())
        json.Object("statistical", JsonObject()
                                       .Number("height_v", c.stat.eye.height * swing)
                                       .Number("width_ui", c.stat.eye.width));
    if (bits != nullptr) json.Object("bit_by_bit", EyeJson(*bits, 1.0 / s.time.bitRate));
    return json;
}

// The best few again, at full resolution and bit by bit; printed, and for the JSON.
std::vector<JsonObject> Confirm(const Search& s, const std::vector<Candidate>& runs,
                                const std::vector<std::size_t>& order,
                                const OptimizeOptions& options) {
    const FlowSettings fine =
        MakeFlow(options.amplitude, options.targetBer, options.run.strict, s.impairments);
    const double swing = 2.0 * options.amplitude, ui = 1.0 / s.time.bitRate;
    const LinkBitsRequest request = SearchBits(s, options, options.bits);
    std::vector<JsonObject> confirmed;
    std::cout << "rank  transmitter, receiver: statistical eye; bit-by-bit eye\n";
    for (std::size_t r = 0; r < std::min(std::size_t(options.confirm), order.size()); ++r) {
        Candidate c = runs[order[r]];
        const std::string rxParameters = ParametersWith(s.m.rx, s.rxs[c.rx]);
        if (s.noStatisticalFlow.empty())
            c.stat = StatisticalFlowAfter(*s.m.rxLibrary, s.m.rx, rxParameters, s.time,
                                          s.shapes[c.tx], fine);
        const Eye bits = RunLinkBits(s.m, ParametersWith(s.m.tx, s.txs[c.tx]), rxParameters, s.time,
                                     s.channel.columns.front(), request)
                             .eye;
        std::cout << std::setw(4) << r + 1 << "  " << SettingsText(s.txs[c.tx]) << ", "
                  << SettingsText(s.rxs[c.rx]) << ": "
                  << (s.noStatisticalFlow.empty()
                          ? StatisticalEyeText(c.stat.eye, swing, options.targetBer)
                          : std::string("(no statistical flow)"))
                  << "; " << EyeText(bits, ui) << '\n';
        confirmed.push_back(PairJson(s, c, &bits, swing));
    }
    return confirmed;
}

void WriteResults(const Search& s, const std::vector<Candidate>& runs, const Candidate& best,
                  const std::vector<JsonObject>& confirmed, const OptimizeOptions& options) {
    const double swing = 2.0 * options.amplitude;
    std::vector<std::string> txNames, rxNames;
    for (const Settings& settings : s.txs) txNames.push_back(SettingsText(settings));
    for (const Settings& settings : s.rxs) rxNames.push_back(SettingsText(settings));
    std::vector<std::vector<double>> heights(s.txs.size(), std::vector<double>(s.rxs.size()));
    std::vector<JsonObject> all;
    for (const Candidate& c : runs) {
        const double ranked = s.byBits ? c.bits.height : c.stat.eye.height * swing;
        heights[c.tx][c.rx] = ranked > 0.0 ? ranked : NAN;
        all.push_back(PairJson(s, c, s.byBits ? &c.bits : nullptr, swing));
    }
    const std::string base =
        OutputBase(options.run, s.m.tx.prefix + "__" + s.m.rx.prefix) + "_optimize";
    std::ostringstream title;
    if (s.byBits)
        title << "bit-by-bit eye height (V), +-" << options.amplitude << " V";
    else
        title << "statistical eye height (V) at BER " << options.targetBer << ", +-"
              << options.amplitude << " V";
    PlotHeatMap(base + ".png", title.str(), "receiver setting", "transmitter setting", rxNames,
                txNames, heights, "eye height (V); white: closed", best.tx, best.rx);
    JsonObject summary;
    summary.Number("schema", kJsonSchema).Text("command", "optimize");
    AddTimeBase(summary, s.time);
    summary.Object("channel", ChannelJson(s.channel.report))
        .Object("best", PairJson(s, best, s.byBits ? &best.bits : nullptr, swing))
        .Number("pairs", double(runs.size()))
        .Text("ranked_by", s.byBits ? "bit_by_bit" : "statistical");
    if (!s.noStatisticalFlow.empty()) summary.Text("statistical_unavailable", s.noStatisticalFlow);
    summary.Objects("confirmed", confirmed).Objects("runs", all);
    summary.Write(options.run.json);
    std::cout << "best: " << SettingsText(s.txs[best.tx]) << ", " << SettingsText(s.rxs[best.rx])
              << '\n'
              << "wrote " << base << ".png\n";
}

int RunOptimize(OptimizeOptions& options) {
    Search s;
    static_cast<LinkSetup&>(s) =
        PrepareLink(options.tx, options.rx, options.channel, options.run, options.impairments);
    s.txs = AllSettings(s.m.tx, options.txParameters);
    s.rxs = AllSettings(s.m.rx, options.rxParameters);
    std::cout << "searching " << s.txs.size() << " transmitter x " << s.rxs.size()
              << " receiver settings\n";
    options.strict = options.run.strict;
    const std::vector<Candidate> runs = SearchAll(s, options);
    const std::vector<std::size_t> order = Ranking(runs, s.byBits);
    const std::vector<JsonObject> confirmed = Confirm(s, runs, order, options);
    WriteResults(s, runs, runs[order.front()], confirmed, options);
    return kExitDone;
}

}  // namespace

Command AddOptimizeCommand(CLI::App& app) {
    auto options = std::make_shared<OptimizeOptions>();
    CLI::App* optimize = app.add_subcommand(
        "optimize",
        "every transmitter setting against every receiver setting: the best for a channel");
    AddModelOptions(*optimize, options->tx, "tx");
    AddModelOptions(*optimize, options->rx, "rx");
    AddChannelOptions(*optimize, options->channel);
    AddRunOptions(*optimize, options->run);
    AddImpairmentOptions(*optimize, options->impairments);
    optimize->add_option("--tx-param", options->txParameters,
                         "a transmitter List parameter to search (default: all of them)");
    optimize->add_option("--rx-param", options->rxParameters,
                         "a receiver List parameter to search (default: all of them)");
    optimize
        ->add_option("--amplitude", options->amplitude, "the bits' levels are +-amplitude volts")
        ->check(FiniteRange(kAmplitudeRange))
        ->capture_default_str();
    optimize->add_option("--ber", options->targetBer, "the target bit error ratio")
        ->check(FiniteRange(kBerRange))
        ->capture_default_str();
    optimize->add_option("--bits", options->bits, "bit-by-bit confirmation: PRBS15 bits")
        ->check(CLI::Range(long(kBitsRange.low), long(kBitsRange.high)))
        ->capture_default_str();
    optimize
        ->add_option("--ignore-bits", options->ignoreBits,
                     "bit-by-bit: leave the first bits out of the eye (besides the models' "
                     "Ignore_Bits)")
        ->check(CLI::Range(0L, long(kBitsRange.high)))
        ->capture_default_str();
    optimize->add_option("--confirm", options->confirm, "the best this many are confirmed")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    optimize->add_option("-j,--jobs", options->jobs, "parallel model instances")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    return {optimize, [options] { return RunOptimize(*options); }};
}

}  // namespace amirun
