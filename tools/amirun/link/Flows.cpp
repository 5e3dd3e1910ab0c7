#include "tools/amirun/link/Flows.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "tools/amirun/channel/Convolution.h"
#include "tools/amirun/io/Limits.h"
#include "tools/amirun/link/LinkMath.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {

LinkSetup PrepareLink(const ModelOptions& tx, const ModelOptions& rx, const ChannelCli& channel,
                      const RunOptions& run, const Impairments& impairments) {
    LinkSetup link{{ResolveModel(tx), ResolveModel(rx), nullptr, nullptr}, {}, {}, {}, {}, {}};
    const AmiModelDescription& receiver = link.m.rx.description;
    if (!receiver.ReservedFlag("Init_Returns_Impulse", true)) {
        if (!receiver.ReservedFlag("GetWave_Exists", false))
            throw AmiError(receiver.root +
                           " says Init_Returns_Impulse False and GetWave_Exists False: it has "
                           "neither an equalized impulse nor a waveform to give a link");
        link.noStatisticalFlow =
            receiver.root +
            " says Init_Returns_Impulse False: its AMI_Init returns no impulse response, so "
            "only the bit-by-bit flow (through its AMI_GetWave) applies";
    }
    PrepareOutput(run, {channel.file});
    link.time = ChooseRunTimeBase(run, link.m.rx);
    UseTimeBase(link.m.tx, link.time);
    UseTimeBase(link.m.rx, link.time);
    link.impairments = LinkImpairmentsOf(link.m.tx.description, receiver, link.time.bitRate,
                                         impairments, &link.impairmentTerms);
    link.channel = LoadChannel(channel, link.time);
    if (link.noStatisticalFlow.empty())
        CheckEyeTerms(link.channel.columns, link.time.samplesPerBit);
    WarnOfJitterBeyondHalfUi(link.impairments);
    link.m.txLibrary = std::make_unique<AmiLibrary>(link.m.tx.library);
    link.m.rxLibrary = std::make_unique<AmiLibrary>(link.m.rx.library);
    return link;
}

void CheckEyeTerms(const std::vector<std::vector<double>>& columns, int samplesPerBit) {
    const std::size_t bits = columns.front().size() / std::size_t(samplesPerBit) + 1;
    if (bits * columns.size() <= kMaxEyeTerms) return;
    const std::string over =
        columns.size() == 1 ? "" : " over " + std::to_string(columns.size()) + " channel columns";
    throw ChannelError(
        "a window of " + std::to_string(bits - 1) + " UI" + over + " gives the statistical eye " +
        std::to_string(bits * columns.size()) + " terms per sampling instant, more than the " +
        std::to_string(kMaxEyeTerms) + " amirun computes; a --window-bits of " +
        std::to_string(kMaxEyeTerms / columns.size() - 1) + " or less keeps within it");
}

std::vector<double> ImpulseOf(const AmiLibrary& library, const ModelRun& model,
                              const std::string& parameters, const TimeBase& time) {
    const std::size_t length = std::size_t(time.samplesPerBit) * 96;
    std::vector<double> unit(length, 0.0);
    unit[0] = 1.0 / time.dt;
    if (model.description.ReservedFlag("Init_Returns_Impulse", true))
        return InitColumns(library, {unit}, time, parameters).front();
    const auto step = GetWaveStep(library, time, parameters, unit, 0.0, 1e-3, 0, length);
    return ImpulseFromStep(step, 1.0, time.dt);
}

namespace {

// The transmitter's own output for a PRBS7 pattern at +-amplitude against its linear model's:
// two periods run, the first lets its filters settle; the second's difference, mean removed.
std::vector<double> LinearError(const AmiLibrary& library, const TimeBase& time,
                                const std::string& parameters, const std::vector<double>& channel,
                                const std::vector<double>& response, double amplitude) {
    constexpr std::size_t kPeriod = 127;
    const std::vector<double> input = NrzWaveform(
        PatternBits(7, 2 * long(kPeriod), time.samplesPerBit), time.samplesPerBit, amplitude);
    std::vector<double> matrix = channel;
    const std::vector<double> real = ThroughGetWave(library, time, parameters, matrix, input, 0,
                                                    "the pattern AMI_GetWave returned");
    const std::vector<double> linear = Convolve(input, response, time.dt);
    const std::size_t from = kPeriod * std::size_t(time.samplesPerBit);
    std::vector<double> error;
    double mean = 0.0;
    for (std::size_t n = from; n < real.size() && n < linear.size(); ++n) {
        error.push_back(real[n] - linear[n]);
        mean += error.back();
    }
    if (!error.empty()) mean /= double(error.size());
    for (double& e : error) e -= mean;
    return error;
}

}  // namespace

TransmitterShape ShapeByTransmitter(const AmiLibrary& library, const ModelRun& model,
                                    const std::string& parameters, const TimeBase& time,
                                    const std::vector<std::vector<double>>& channel,
                                    const FlowSettings& flow) {
    TransmitterShape shape;
    std::string message;
    if (model.description.ReservedFlag("Init_Returns_Impulse", false)) {
        shape.columns = InitColumns(library, channel, time, parameters, &message);
        CheckModelMessage(flow.strict, message, model.description.root);
        shape.how = "AMI_Init";
        return shape;
    }
    if (!library.HasGetWave())
        throw AmiError(model.library + " has neither an AMI_Init impulse nor AMI_GetWave");
    const std::size_t rows = channel.front().size();
    const double a = flow.amplitude;
    const auto small =
        GetWaveStep(library, time, parameters, channel.front(), 0.0, 1e-3, 0, rows, &message);
    CheckModelMessage(flow.strict, message, model.description.root);
    const auto large = GetWaveStep(library, time, parameters, channel.front(), -a, a, rows, rows);
    shape.smallGain = small.back();
    shape.largeGain = large.back();
    std::ostringstream how;
    how << "AMI_GetWave on a step from " << -a << " to " << a << " V (the bits' levels)";
    shape.how = how.str();
    const std::vector<double> response = ImpulseFromStep(large, 1.0, time.dt);
    for (const auto& column : channel) shape.columns.push_back(Convolve(column, response, time.dt));
    shape.linearError = LinearError(library, time, parameters, channel.front(), response, a);
    return shape;
}

void WarnOfJitterBeyondHalfUi(const Impairments& impairments) {
    double beyond = 0.0;
    if (impairments.Jitter()) JitterWeights(impairments, 64, &beyond);
    // Under a tenth of the lowest BER a run may ask for, the part left out changes no result.
    if (beyond > 1e-31)
        std::cerr
            << "warning: the jitter reaches beyond half a unit interval with a probability of "
            << beyond << "; the statistical eye leaves that out\n";
}

bool Compresses(const TransmitterShape& tx) {
    return tx.smallGain != 0.0 && std::fabs(tx.largeGain / tx.smallGain - 1.0) > 0.05;
}

StatisticalResult StatisticalFlowAfter(const AmiLibrary& library, const ModelRun& model,
                                       const std::string& parameters, const TimeBase& time,
                                       const TransmitterShape& shape, const FlowSettings& flow) {
    StatisticalResult result;
    result.tx = {{}, shape.how, shape.smallGain, shape.largeGain, {}};
    std::string message;
    const auto equalized = InitColumns(library, shape.columns, time, parameters, &message);
    CheckModelMessage(flow.strict, message, model.description.root);
    std::vector<std::vector<double>> pulses;
    for (const auto& column : equalized)
        pulses.push_back(PulseFromImpulse(column, time.samplesPerBit, time.dt));
    const std::vector<std::vector<double>> aggressors(pulses.begin() + 1, pulses.end());
    // The eye is for a 1 V swing: the noise scales with it.
    EyeImpairments impairments;
    impairments.noiseSigma = flow.impairments.noiseRms / (2.0 * flow.amplitude);
    impairments.jitter = EyeJitter(flow.impairments, flow.phases);
    result.eye = ComputeStatisticalEye(pulses.front(), aggressors, time.samplesPerBit,
                                       flow.targetBer, flow.phases, flow.bins, impairments);
    // A receiver's sensitivity narrows the opening it can read by twice itself.
    result.eye.height -= 2.0 * flow.impairments.sensitivity / (2.0 * flow.amplitude);
    const auto& victim = pulses.front();
    const double spb = time.samplesPerBit;
    const double peak = double(std::max_element(victim.begin(), victim.end()) - victim.begin());
    result.pulsePeak = victim[std::size_t(peak)];
    const double best = peak + result.eye.PhaseUi(result.eye.bestPhase) * spb;
    for (int k = -2; k <= 5; ++k) result.cursors.push_back(PulseAt(victim, best + k * spb));
    result.pulse = victim;
    if (!shape.linearError.empty()) {
        // The transmitter's departure from its linear model, through the channel and receiver,
        // at the best phase of each bit.
        const std::vector<double> atReceiver =
            Convolve(shape.linearError, equalized.front(), time.dt);
        for (double k = 0.0; k * spb + best < double(atReceiver.size()); k += 1.0)
            result.linearMismatch =
                std::max(result.linearMismatch, std::fabs(PulseAt(atReceiver, k * spb + best)));
        const double swing = 2.0 * flow.amplitude;
        const double allowed = std::max(0.1 * std::fabs(result.eye.height), 1e-3) * swing;
        if (2.0 * result.linearMismatch > allowed) {
            result.applies = false;
            std::ostringstream why;
            why << "the transmitter is not linear at +-" << flow.amplitude
                << " V: through the channel and receiver its own output differs from the "
                   "statistical flow's linear model by up to "
                << result.linearMismatch * 1e3 << " mV a sample, more than a tenth of the "
                << "statistical eye (or a thousandth of the swing) allows; the bit-by-bit eye is "
                   "the measure";
            result.why = why.str();
        }
    }
    result.crosstalk =
        WorstCrosstalk(pulses.front(), aggressors, time.samplesPerBit,
                       result.eye.PhaseUi(result.eye.bestPhase), 2.0 * flow.amplitude);
    return result;
}

}  // namespace amirun
