#include "tools/amirun/link/LinkBits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tools/amirun/channel/Convolution.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {

bool UsesGetWave(const ModelRun& model, const AmiLibrary& library) {
    const bool declared = model.description.ReservedFlag("GetWave_Exists", library.HasGetWave());
    if (declared && !library.HasGetWave())
        throw AmiError(model.description.root + " says GetWave_Exists True, but " + library.Path() +
                       " exports no AMI_GetWave");
    return declared;
}

namespace {

long IgnoreBitsOf(const ModelRun& model) {
    const AmiParameterSpec* p = model.description.Find("Ignore_Bits");
    if (p == nullptr || !p->reserved) return 0;
    char* end = nullptr;
    const long value = std::strtol(p->defaultValue.c_str(), &end, 10);
    if (p->defaultValue.empty() || *end != '\0' || value < 0)
        throw AmiFileError(model.description.root + ": Ignore_Bits is '" + p->defaultValue +
                           "', not a whole number of bits");
    return value;
}

}  // namespace

std::size_t IgnoredBits(const ModelRun& tx, const ModelRun& rx, const LinkBitsRequest& request,
                        std::string* why) {
    std::size_t skip = SkippedBits(request.bits);
    std::string reason = "the filters' start";
    const std::pair<long, std::string> asked[] = {
        {IgnoreBitsOf(tx), "Ignore_Bits of " + tx.description.root},
        {IgnoreBitsOf(rx), "Ignore_Bits of " + rx.description.root},
        {request.ignoreBits, "--ignore-bits"}};
    for (const auto& [bits, whose] : asked)
        if (bits > 0 && std::size_t(bits) > skip) {
            skip = std::size_t(bits);
            reason = whose;
        }
    if (skip >= std::size_t(request.bits))
        throw AmiError(reason + " leaves out " + std::to_string(skip) + " bits of the " +
                       std::to_string(request.bits) + " the run has: --bits must be more");
    if (why != nullptr) *why = reason;
    return skip;
}

LinkBitsResult RunLinkBits(const Models& m, const std::string& txParameters,
                           const std::string& rxParameters, const TimeBase& time,
                           const std::vector<double>& channel, const LinkBitsRequest& request) {
    LinkBitsResult result;
    result.bits = PatternBits(15, request.bits, time.samplesPerBit);
    result.skippedBits = IgnoredBits(m.tx, m.rx, request, &result.skippedWhy);
    std::vector<double> wave = NrzWaveform(result.bits, time.samplesPerBit, request.amplitude);
    const std::size_t block =
        std::size_t(std::min(request.blockBits, request.bits)) * std::size_t(time.samplesPerBit);

    // The transmitter: its AMI_GetWave meets the channel itself; without one, its impulse is
    // the channel as it leaves it. The receiver's AMI_Init gets the channel after the
    // transmitter's AMI_Init when that returns an impulse.
    std::vector<double> h = channel, forReceiver = channel;
    const bool txImpulse = m.tx.description.ReservedFlag("Init_Returns_Impulse", false);
    if (UsesGetWave(m.tx, *m.txLibrary)) {
        std::vector<double> impulse = channel;
        wave = ThroughGetWave(*m.txLibrary, time, txParameters, impulse, std::move(wave), block,
                              "the waveform AMI_GetWave of " + m.txLibrary->Path() + " returned");
        if (txImpulse) forReceiver = impulse;
        result.transmitter = "AMI_GetWave";
        result.channel = "the channel";
    } else {
        if (!txImpulse)
            throw AmiError(m.tx.library + " has neither an AMI_Init impulse nor AMI_GetWave");
        h = forReceiver = InitColumns(*m.txLibrary, {channel}, time, txParameters).front();
        result.transmitter = "AMI_Init impulse";
        result.channel = "the channel after the transmitter's AMI_Init";
    }

    std::vector<double> clock;
    if (UsesGetWave(m.rx, *m.rxLibrary)) {
        std::vector<double> input = Convolve(wave, h, time.dt);
        RequireFinite(input, "the waveform after the channel");
        result.output = ThroughGetWave(
            *m.rxLibrary, time, rxParameters, forReceiver, std::move(input), block,
            "the waveform AMI_GetWave of " + m.rxLibrary->Path() + " returned", &clock);
        result.receiver = "AMI_GetWave";
    } else {
        if (!m.rx.description.ReservedFlag("Init_Returns_Impulse", true))
            throw AmiError(m.rx.library + " has neither an AMI_Init impulse nor AMI_GetWave");
        const auto equalized = InitColumns(*m.rxLibrary, {forReceiver}, time, rxParameters);
        result.output = Convolve(wave, equalized.front(), time.dt);
        result.receiver = "AMI_Init impulse";
        result.channel += " and the receiver's AMI_Init";
    }
    RequireFinite(result.output, "the waveform at the receiver");
    const Impairments& impairments = request.impairments;
    AddNoise(result.output, impairments.noiseRms);
    const std::vector<double> jitter = JitterOffsets(result.bits.size(), impairments, time.bitRate);
    const std::vector<double>* jittered = impairments.Jitter() ? &jitter : nullptr;
    const double margin = 2.0 * impairments.sensitivity;
    if (!clock.empty()) {
        result.clock = ClockEye(result.output, result.bits, time.samplesPerBit, time.dt, clock,
                                result.skippedBits, request.maxLatencyBits, jittered, margin);
        result.modelClock = result.clock.instants > 0;
    }
    result.eye = result.modelClock
                     ? result.clock.eye
                     : WaveformEye(result.output, result.bits, time.samplesPerBit,
                                   result.skippedBits, request.maxLatencyBits, jittered, margin);
    return result;
}

}  // namespace amirun
