// amirun link: a transmitter and a receiver on one channel through both IBIS-AMI flows.
// Statistical: the channel's impulse responses through the transmitter (its AMI_Init when it
// returns an impulse, else its step response through AMI_GetWave at the bits' own levels) and the
// receiver's AMI_Init, then the statistical eye and bathtub of the pulse responses, crosstalk
// included. Bit by bit: PRBS bits through the transmitter's AMI_GetWave, convolved with the
// receiver-equalized channel.
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/amirun/cli/Commands.h"
#include "tools/amirun/cli/ExitStatus.h"
#include "tools/amirun/cli/Options.h"
#include "tools/amirun/cli/Report.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Output.h"
#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {
namespace {

struct LinkOptions {
    ModelOptions tx, rx;
    ChannelCli channel;
    RunOptions run;
    long bits = 20000;
    double amplitude = 0.5;
    double targetBer = 1e-12;
    Impairments impairments;
};

StatisticalResult StatisticalFlow(const Models& m, const TimeBase& time,
                                  const std::vector<std::vector<double>>& channel,
                                  const LinkOptions& options) {
    const FlowSettings flow =
        MakeFlow(options.amplitude, options.targetBer, options.run.strict, options.impairments);
    const TransmitterShape shape =
        ShapeByTransmitter(*m.txLibrary, m.tx, m.tx.Parameters(), time, channel, flow);
    return StatisticalFlowAfter(*m.rxLibrary, m.rx, m.rx.Parameters(), time, shape, flow);
}

void WritePictures(const std::string& base, const std::string& title, const TimeBase& time,
                   const StatisticalResult& stat, const WaveformResult& wave, double swing,
                   double targetBer, const std::string& statText) {
    const Bathtub tub = BathtubOf(stat.eye, -30.0);
    WriteCsv(base + "_bathtub.csv", {"phase_ui", "log10_ber"}, {&tub.phaseUi, &tub.log10Ber});
    PlotLines(base + "_bathtub.png", "bathtub: " + title, "sampling phase (UI from the pulse peak)",
              "log10 BER (-30: below 1e-30)",
              {{"statistical", tub.phaseUi, tub.log10Ber},
               {"target BER",
                {tub.phaseUi.front(), tub.phaseUi.back()},
                {std::log10(targetBer), std::log10(targetBer)}}});
    std::vector<Series> lines = StatisticalContours(stat.eye, swing);
    if (stat.eye.height > 0.0) {
        const double half = 0.5 * stat.eye.height * swing;
        lines.push_back({"opening at the target BER", {1.0, 1.0}, {-half, half}});
    }
    PlotEye(base + "_stat_eye.png", "statistical eye: " + statText,
            StatisticalDensity(stat.eye, 200, 1.0, swing), "log10 probability", lines);
    if (!wave.output.empty())
        PlotEye(base + "_link_eye.png", "bit-by-bit eye: " + EyeText(wave.eye, 1.0 / time.bitRate),
                TraceDensity(wave.output, time.samplesPerBit, SkippedBits(long(wave.bits.size())),
                             wave.eye.bestPhase));
}

// The link's figures on standard output; returns the sum of the aggressors' worst crosstalk.
double PrintLink(const StatisticalResult& stat, const WaveformResult& wave,
                 const LinkOptions& options, const TimeBase& time, const std::string& statText) {
    std::cout << "transmitter in the statistical flow: " << stat.tx.how << '\n';
    if (stat.tx.smallGain != 0.0)
        std::cout << "transmitter DC gain: " << stat.tx.largeGain << " at +-" << options.amplitude
                  << " V, " << stat.tx.smallGain << " at 1 mV\n";
    std::cout << "statistical eye: " << statText << '\n' << "bit-by-bit eye:  ";
    if (wave.output.empty()) {
        std::cout << "(no AMI_GetWave)\n";
    } else {
        // What the bits measure: every pattern they held, a BER of about one in their number.
        const std::size_t bits = wave.bits.size() - SkippedBits(long(wave.bits.size()));
        std::cout << EyeText(wave.eye, 1.0 / time.bitRate) << " over " << bits
                  << " bits (about BER " << std::setprecision(2) << 1.0 / double(bits)
                  << std::setprecision(6) << ")"
                  << (Compresses(stat.tx) ? "; the measure where the transmitter compresses" : "")
                  << '\n';
    }
    if (Compresses(stat.tx))
        std::cerr << "warning: the transmitter compresses: its DC gain at +-" << options.amplitude
                  << " V is " << stat.tx.largeGain << ", at 1 mV " << stat.tx.smallGain
                  << "; the statistical flow models it linearly at the bits' swing, so the "
                     "statistical eye is an approximation and the bit-by-bit eye the measure\n";
    double worst = 0.0;
    for (std::size_t a = 0; a < stat.crosstalk.size(); ++a) {
        worst += stat.crosstalk[a];
        std::cout << "crosstalk of aggressor column " << a + 1 << ": up to " << stat.crosstalk[a]
                  << " V at the sampling phase (in the statistical eye; the bit-by-bit eye has "
                     "none)\n";
    }
    return worst;
}

JsonObject LinkJson(const Models& m, const TimeBase& time, const Channel& channel,
                    const StatisticalResult& stat, const WaveformResult& wave,
                    const LinkOptions& options, double worstCrosstalk) {
    JsonObject statJson, summary;
    statJson.Number("height_v", stat.eye.height * 2.0 * options.amplitude)
        .Number("width_ui", stat.eye.width)
        .Number("target_ber", options.targetBer)
        .Number("ber_at_best_phase", stat.eye.ber[std::size_t(stat.eye.bestPhase)])
        .Number("best_phase_ui", stat.eye.PhaseUi(stat.eye.bestPhase))
        .Text("state", stat.eye.height > 0.0 ? "open" : "closed");
    JsonObject probe;
    probe.Number("from_v", -options.amplitude)
        .Number("to_v", options.amplitude)
        .Number("small_signal_gain", stat.tx.smallGain)
        .Number("large_signal_gain", stat.tx.largeGain)
        .Bool("compresses", Compresses(stat.tx));
    summary.Number("schema", kJsonSchema)
        .Text("command", "link")
        .Text("transmitter", m.tx.Parameters())
        .Text("receiver", m.rx.Parameters())
        .Text("transmitter_statistical_flow", stat.tx.how)
        .Object("transmitter_probe", probe);
    AddTimeBase(summary, time);
    summary.Object("channel", ChannelJson(channel.report)).Object("statistical_eye", statJson);
    if (!wave.output.empty())
        summary.Object("bit_by_bit_eye", EyeJson(wave.eye, 1.0 / time.bitRate));
    const double swing = 2.0 * options.amplitude;
    std::vector<double> cursors;
    for (double c : stat.cursors) cursors.push_back(c * swing);
    JsonObject link;
    link.Object("statistical", JsonObject()
                                   .Number("height_v", stat.eye.height * swing)
                                   .Number("width_ui", stat.eye.width)
                                   .Number("bound_v", stat.eye.bound * swing))
        .Number("peak_distortion_height_v", stat.eye.peakDistortion * swing)
        .Number("pulse_peak_v", stat.pulsePeak * swing)
        .Numbers("cursors_v", cursors)
        .Number("best_phase_ui", stat.eye.PhaseUi(stat.eye.bestPhase));
    if (!wave.output.empty())
        link.Object(
            "bit_by_bit",
            JsonObject().Number("height_v", wave.eye.height).Number("width_ui", wave.eye.width));
    const Impairments& i = options.impairments;
    link.Object("impairments", JsonObject()
                                   .Number("noise_rms_v", i.noiseRms)
                                   .Number("rj_rms_ui", i.rjRms)
                                   .Number("dj_pp_ui", i.djPp)
                                   .Number("sj_pp_ui", i.sjPp)
                                   .Number("sj_freq_hz", i.sjFreq));
    summary.Object("link", link);
    summary.Number("crosstalk_aggressors", double(stat.crosstalk.size()))
        .Number("crosstalk_worst_v", worstCrosstalk);
    return summary;
}

int RunLink(LinkOptions& options) {
    LinkSetup link =
        PrepareLink(options.tx, options.rx, options.channel, options.run, options.impairments);
    const Models& m = link.m;
    const TimeBase& time = link.time;
    const Channel& channel = link.channel;
    std::cout << "transmitter: " << m.tx.Parameters() << "\nreceiver:    " << m.rx.Parameters()
              << '\n';

    const StatisticalResult stat = StatisticalFlow(m, time, channel.columns, options);
    const auto equalized =
        InitColumns(*m.rxLibrary, {channel.columns.front()}, time, m.rx.Parameters());
    WaveformResult wave;
    const WaveformRequest request = LinkBits(options.bits, options.amplitude, options.impairments);
    if (m.txLibrary->HasGetWave())
        wave = RunWaveform(*m.txLibrary, time, m.tx.Parameters(), equalized[0], request);

    const double swing = 2.0 * options.amplitude;  // the statistical eye is for 1 V
    const std::string statText = StatisticalEyeText(stat.eye, swing, options.targetBer);
    const double worstCrosstalk = PrintLink(stat, wave, options, time, statText);
    const std::string base = OutputBase(options.run, m.tx.prefix + "__" + m.rx.prefix);
    WritePictures(base, m.tx.description.root + " -> channel -> " + m.rx.description.root, time,
                  stat, wave, swing, options.targetBer, statText);

    LinkJson(m, time, channel, stat, wave, options, worstCrosstalk).Write(options.run.json);
    std::cout << "wrote " << base << "_stat_eye.png, _bathtub.png, _bathtub.csv"
              << (wave.output.empty() ? "" : ", _link_eye.png") << '\n';
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
