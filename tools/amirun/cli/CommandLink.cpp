// amirun link: a transmitter and a receiver on one channel through both IBIS-AMI flows.
// Statistical: the channel's impulse responses through the transmitter (its AMI_Init when it
// returns an impulse, else its step response through AMI_GetWave at the bits' own levels) and the
// receiver's AMI_Init, then the statistical eye and bathtub of the pulse responses, crosstalk
// included. Bit by bit: PRBS bits through the transmitter's AMI_GetWave, convolved with the
// receiver-equalized channel, or through the receiver's own AMI_GetWave and clock when it has one.
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/io/Text.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkBits.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct LinkOptions {
    ModelOptions tx, rx;
    ChannelCli channel;
    RunOptions run;
    long bits = 20000;
    long ignoreBits = 0;
    double amplitude = 0.5;
    double targetBer = 1e-12;
    Impairments impairments;
};

StatisticalResult StatisticalFlow(const LinkSetup& link, const LinkOptions& options) {
    const Models& m = link.m;
    const FlowSettings flow =
        MakeFlow(options.amplitude, options.targetBer, options.run.strict, link.impairments);
    const TransmitterShape shape = ShapeByTransmitter(*m.txLibrary, m.tx, m.tx.Parameters(),
                                                      link.time, link.channel.columns, flow);
    return StatisticalFlowAfter(*m.rxLibrary, m.rx, m.rx.Parameters(), link.time, shape, flow);
}

// What every picture's title says besides its figures: the settings, the channel and the
// impairments.
// A model's root name and its settings but the rate parameter: "Tx FG=2 SW=1".
std::string ModelText(const ModelRun& model) {
    std::string text = model.description.root;
    const AmiParameterSpec* rate = model.description.SampleRateParameter();
    for (const auto& [name, value] : model.values)
        if (rate == nullptr || name != rate->name) text += " " + name + "=" + value;
    return text;
}

std::string TitleContext(const LinkSetup& link, const LinkOptions& options) {
    std::ostringstream text;
    text << ModelText(link.m.tx) << " -> "
         << (options.channel.file.empty()
                 ? "built-in " + Fixed(options.channel.lossDb, 1) + " dB line"
                 : std::filesystem::path(options.channel.file).filename().string())
         << " -> " << ModelText(link.m.rx) << '\n';
    const Impairments& i = link.impairments;
    std::vector<std::string> parts;
    if (i.noiseRms > 0.0) parts.push_back("noise " + Fixed(i.noiseRms * 1e3, 2) + " mV rms");
    if (i.rjRms > 0.0) parts.push_back("Rj " + Fixed(i.rjRms, 3) + " UI rms");
    if (i.djPp > 0.0) parts.push_back("Dj " + Fixed(i.djPp, 3) + " UI pp");
    if (i.sjPp > 0.0) parts.push_back("Sj " + Fixed(i.sjPp, 3) + " UI pp");
    if (i.sensitivity > 0.0)
        parts.push_back("sensitivity " + Fixed(i.sensitivity * 1e3, 2) + " mV");
    if (parts.empty()) parts.push_back("no noise or jitter");
    for (std::size_t k = 0; k < parts.size(); ++k) text << (k ? ", " : "") << parts[k];
    text << "; +-" << options.amplitude << " V at " << link.time.bitRate / 1e9 << " Gb/s";
    return text.str();
}

void WritePictures(const std::string& base, const std::string& context, const TimeBase& time,
                   const StatisticalResult* stat, const LinkBitsResult& bits, double swing,
                   double targetBer, const std::string& statText) {
    if (stat != nullptr) {
        const Bathtub tub = BathtubOf(stat->eye, -30.0);
        WriteCsv(base + "_bathtub.csv", {"phase_ui", "log10_ber"}, {&tub.phaseUi, &tub.log10Ber});
        // The pulse response to one bit of the full swing, on the time base.
        std::vector<double> pulse;
        for (double v : stat->pulse) pulse.push_back(v * swing);
        const std::vector<double> t = Times(pulse.size(), time.dt);
        WriteCsv(base + "_pulse.csv", {"time_s", "pulse_v"}, {&t, &pulse});
        PlotLines(base + "_bathtub.png", "bathtub\n" + context,
                  "sampling phase (UI from the pulse peak)", "log10 BER (-30: below 1e-30)",
                  {{"statistical", tub.phaseUi, tub.log10Ber},
                   {"target BER",
                    {tub.phaseUi.front(), tub.phaseUi.back()},
                    {std::log10(targetBer), std::log10(targetBer)}}});
        std::vector<Series> lines = StatisticalContours(stat->eye, swing);
        if (stat->eye.height > 0.0) {
            const double half = 0.5 * stat->eye.height * swing;
            lines.push_back({"opening at the target BER", {1.0, 1.0}, {-half, half}});
        }
        PlotEye(base + "_stat_eye.png",
                // The warning on a line of its own: with the figures it would not fit the width.
                std::string(stat->applies ? ""
                                          : "statistical eye: does not apply (the transmitter "
                                            "is not linear); see the bit-by-bit eye\n") +
                    "statistical eye: " + statText + "\n" + context,
                StatisticalDensity(stat->eye, 200, 1.0, swing), "log10 probability", lines);
    }
    PlotEye(base + "_link_eye.png",
            std::string(bits.modelClock ? "bit-by-bit eye at the receiver's clock: "
                                        : "bit-by-bit eye: ") +
                EyeText(bits.eye, 1.0 / time.bitRate) + "\n" + context,
            TraceDensity(bits.output, time.samplesPerBit, bits.skippedBits, bits.eye.bestPhase));
}

void PrintImpairments(const LinkSetup& link) {
    for (const ImpairmentTerm& t : link.impairmentTerms) {
        std::cout << "impairment " << t.name << " = " << t.value << ' ' << t.unit << " from "
                  << t.source;
        if (!t.applied.empty()) std::cout << " (adds to " << t.applied << ")";
        if (!t.note.empty()) std::cout << ": " << t.note;
        std::cout << '\n';
        if (t.applied.empty())
            std::cerr << "warning: " << t.source << "'s " << t.name << " is not applied: " << t.note
                      << '\n';
    }
}

// The link's figures on standard output; returns the sum of the aggressors' worst crosstalk.
double PrintLink(const LinkSetup& link, const StatisticalResult* stat, const LinkBitsResult& bits,
                 const LinkOptions& options, const std::string& statText) {
    const TimeBase& time = link.time;
    if (stat == nullptr) {
        std::cout << "statistical eye: unavailable: " << link.noStatisticalFlow << '\n';
    } else {
        std::cout << "transmitter in the statistical flow: " << stat->tx.how << '\n';
        if (stat->tx.smallGain != 0.0)
            std::cout << "transmitter DC gain: " << stat->tx.largeGain << " at +-"
                      << options.amplitude << " V, " << stat->tx.smallGain << " at 1 mV\n";
        std::cout << "statistical eye: " << statText << '\n';
        if (stat->tx.smallGain != 0.0)
            std::cout << "statistical flow: " << (stat->applies ? "applies" : "does not apply")
                      << " (the transmitter departs from its linear model by up to "
                      << stat->linearMismatch * 1e3 << " mV at the decision point)\n";
        if (!stat->applies)
            std::cerr << "warning: the statistical eye does not apply: " << stat->why << '\n';
    }
    std::cout << "bit by bit: through the transmitter's " << bits.transmitter << ", convolved with "
              << bits.channel
              << (bits.receiver == "AMI_GetWave" ? ", through the receiver's AMI_GetWave" : "")
              << "; " << bits.skippedBits << " bits left out (" << bits.skippedWhy << ")\n";
    if (bits.modelClock)
        std::cout << "receiver clock: " << bits.clock.instants << " sampling instants at "
                  << bits.clock.phaseUi << " UI into the bit on average, jitter "
                  << bits.clock.jitterRmsUi << " UI rms, " << bits.clock.jitterPpUi
                  << " UI peak to peak\n";
    // The bits are the measure where the statistical eye does not apply; a transmitter whose
    // gain at the swing differs from its small-signal gain is said only where it matters.
    const bool measure = stat != nullptr && !stat->applies;
    // What the bits measure: every pattern they held, a BER of about one in their number.
    const std::size_t counted = bits.bits.size() - bits.skippedBits;
    std::cout << "bit-by-bit eye:  " << EyeText(bits.eye, 1.0 / time.bitRate) << " over " << counted
              << " bits (about BER " << std::setprecision(2) << 1.0 / double(counted)
              << std::setprecision(6) << ")"
              << (bits.modelClock ? " at the receiver's clock" : " at the best phase")
              << (measure ? "; the measure, as the statistical eye does not apply" : "") << '\n';
    if (measure && Compresses(stat->tx))
        std::cerr << "warning: the transmitter compresses: its DC gain at +-" << options.amplitude
                  << " V is " << stat->tx.largeGain << ", at 1 mV " << stat->tx.smallGain << '\n';
    double worst = 0.0;
    if (stat == nullptr) return worst;
    for (std::size_t a = 0; a < stat->crosstalk.size(); ++a) {
        worst += stat->crosstalk[a];
        std::cout << "crosstalk of aggressor column " << a + 1 << ": up to " << stat->crosstalk[a]
                  << " V at the sampling phase (in the statistical eye; the bit-by-bit eye has "
                     "none)\n";
    }
    return worst;
}

JsonObject ImpairmentsJson(const LinkSetup& link) {
    const Impairments& i = link.impairments;
    std::vector<JsonObject> terms;
    for (const ImpairmentTerm& t : link.impairmentTerms)
        terms.push_back(JsonObject()
                            .Text("name", t.name)
                            .Text("source", t.source)
                            .Number("value", t.value)
                            .Text("unit", t.unit)
                            .Text("applied_to", t.applied)
                            .Text("note", t.note));
    return JsonObject()
        .Number("noise_rms_v", i.noiseRms)
        .Number("rj_rms_ui", i.rjRms)
        .Number("dj_pp_ui", i.djPp)
        .Number("sj_pp_ui", i.sjPp)
        .Number("sj_freq_hz", i.sjFreq)
        .Number("sensitivity_v", i.sensitivity)
        .Objects("terms", terms);
}

JsonObject BitsJson(const LinkBitsResult& bits, double unitInterval) {
    JsonObject json = EyeJson(bits.eye, unitInterval);
    json.Text("clock", bits.modelClock ? "model" : "best_phase")
        .Text("transmitter", bits.transmitter)
        .Text("receiver", bits.receiver)
        .Text("channel", bits.channel)
        .Number("bits", double(bits.bits.size()))
        .Number("ignored_bits", double(bits.skippedBits))
        .Text("ignored_by", bits.skippedWhy);
    if (bits.modelClock)
        json.Number("clock_instants", double(bits.clock.instants))
            .Number("clock_phase_ui", bits.clock.phaseUi)
            .Number("clock_jitter_rms_ui", bits.clock.jitterRmsUi)
            .Number("clock_jitter_pp_ui", bits.clock.jitterPpUi);
    return json;
}

JsonObject LinkJson(const LinkSetup& setup, const StatisticalResult* stat,
                    const LinkBitsResult& bits, const LinkOptions& options, double worstCrosstalk) {
    const Models& m = setup.m;
    const TimeBase& time = setup.time;
    const double swing = 2.0 * options.amplitude;
    JsonObject summary;
    summary.Number("schema", kJsonSchema)
        .Text("command", "link")
        .Text("transmitter", m.tx.Parameters())
        .Text("receiver", m.rx.Parameters());
    if (stat != nullptr) {
        JsonObject probe;
        probe.Number("from_v", -options.amplitude)
            .Number("to_v", options.amplitude)
            .Number("small_signal_gain", stat->tx.smallGain)
            .Number("large_signal_gain", stat->tx.largeGain)
            .Bool("compresses", Compresses(stat->tx));
        summary.Text("transmitter_statistical_flow", stat->tx.how)
            .Object("transmitter_probe", probe);
    }
    AddTimeBase(summary, time);
    summary.Object("channel", ChannelJson(setup.channel.report));
    JsonObject link;
    if (stat != nullptr) {
        const StatisticalEye& eye = stat->eye;
        summary.Object("statistical_eye",
                       JsonObject()
                           .Number("height_v", eye.height * swing)
                           .Number("width_ui", eye.width)
                           .Number("target_ber", options.targetBer)
                           .Number("ber_at_best_phase", eye.ber[std::size_t(eye.bestPhase)])
                           .Number("best_phase_ui", eye.PhaseUi(eye.bestPhase))
                           .Text("state", eye.height > 0.0 ? "open" : "closed"));
        std::vector<double> cursors;
        for (double c : stat->cursors) cursors.push_back(c * swing);
        JsonObject statistical;
        statistical.Bool("available", true)
            .Bool("applies", stat->applies)
            .Number("linear_mismatch_v", stat->linearMismatch)
            .Number("height_v", eye.height * swing)
            .Number("width_ui", eye.width)
            .Number("bound_v", eye.bound * swing);
        if (!stat->applies) statistical.Text("why", stat->why);
        link.Object("statistical", statistical)
            .Number("peak_distortion_height_v", eye.peakDistortion * swing)
            .Number("pulse_peak_v", stat->pulsePeak * swing)
            .Numbers("cursors_v", cursors)
            .Number("best_phase_ui", eye.PhaseUi(eye.bestPhase));
    } else {
        link.Object("statistical",
                    JsonObject().Bool("available", false).Text("reason", setup.noStatisticalFlow));
    }
    summary.Object("bit_by_bit_eye", EyeJson(bits.eye, 1.0 / time.bitRate));
    link.Object("bit_by_bit", BitsJson(bits, 1.0 / time.bitRate))
        .Object("impairments", ImpairmentsJson(setup));
    summary.Object("link", link);
    summary.Number("crosstalk_aggressors", stat != nullptr ? double(stat->crosstalk.size()) : 0.0)
        .Number("crosstalk_worst_v", worstCrosstalk);
    return summary;
}

int RunLink(LinkOptions& options) {
    LinkSetup link =
        PrepareLink(options.tx, options.rx, options.channel, options.run, options.impairments);
    const Models& m = link.m;
    const TimeBase& time = link.time;
    std::cout << "transmitter: " << m.tx.Parameters() << "\nreceiver:    " << m.rx.Parameters()
              << '\n';
    PrintImpairments(link);

    std::optional<StatisticalResult> stat;
    if (link.noStatisticalFlow.empty()) stat = StatisticalFlow(link, options);
    LinkBitsRequest request;
    request.bits = options.bits;
    request.amplitude = options.amplitude;
    request.impairments = link.impairments;
    request.ignoreBits = options.ignoreBits;
    const LinkBitsResult bits = RunLinkBits(m, m.tx.Parameters(), m.rx.Parameters(), time,
                                            link.channel.columns.front(), request);

    const double swing = 2.0 * options.amplitude;  // the statistical eye is for 1 V
    const StatisticalResult* statistical = stat ? &*stat : nullptr;
    const std::string statText =
        stat ? StatisticalEyeText(stat->eye, swing, options.targetBer) : std::string();
    const double worstCrosstalk = PrintLink(link, statistical, bits, options, statText);
    const std::string base = OutputBase(options.run, m.tx.prefix + "__" + m.rx.prefix);
    WritePictures(base, TitleContext(link, options), time, statistical, bits, swing,
                  options.targetBer, statText);

    LinkJson(link, statistical, bits, options, worstCrosstalk).Write(options.run.json);
    std::cout << "wrote " << base
              << (stat ? "_stat_eye.png, _bathtub.png, _bathtub.csv, _pulse.csv, _link_eye.png"
                       : "_link_eye.png")
              << '\n';
    return kExitDone;
}

}  // namespace

Command AddLinkCommand(CLI::App& app) {
    auto options = std::make_shared<LinkOptions>();
    CLI::App* link = app.add_subcommand(
        "link", "a transmitter and a receiver on one channel: statistical and bit-by-bit eyes");
    AddModelOptions(*link, options->tx, "tx");
    AddModelOptions(*link, options->rx, "rx");
    AddChannelOptions(*link, options->channel);
    AddRunOptions(*link, options->run);
    AddImpairmentOptions(*link, options->impairments);
    link->add_option("--bits", options->bits, "bit-by-bit: number of PRBS15 bits")
        ->check(CLI::Range(long(kBitsRange.low), long(kBitsRange.high)))
        ->capture_default_str();
    link->add_option("--ignore-bits", options->ignoreBits,
                     "bit-by-bit: leave the first bits out of the eye (besides the models' "
                     "Ignore_Bits)")
        ->check(CLI::Range(0L, long(kBitsRange.high)))
        ->capture_default_str();
    link->add_option("--amplitude", options->amplitude,
                     "bit-by-bit: NRZ levels are +-amplitude volts")
        ->check(FiniteRange(kAmplitudeRange))
        ->capture_default_str();
    link->add_option("--ber", options->targetBer, "statistical eye: the target bit error ratio")
        ->check(FiniteRange(kBerRange))
        ->capture_default_str();
    return {link, [options] { return RunLink(*options); }};
}

}  // namespace amirun
