#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/amirun/channel/TimeBase.h"
#include "tools/amirun/host/AmiLibrary.h"
#include "tools/amirun/link/Impairments.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {

// PRBS bits as an NRZ waveform through a transmitter's AMI_GetWave (after its AMI_Init on
// `impulse`), in blocks as a host calls it, optionally through the channel `impulse`, and the
// measured eye of the result.
struct WaveformRequest {
    int prbsOrder = 15;
    long bits = 4000;
    long blockBits = 1024;
    double amplitude = 0.5;
    bool throughChannel = true;
    int maxLatencyBits = 64;  // the model's filters and the channel delay the bits
    Impairments impairments;  // noise added after the channel, jitter at the sampling instants
};
// A link's bit-by-bit request: PRBS15 bits at +-amplitude through the channel, with impairments.
inline WaveformRequest LinkBits(long bits, double amplitude, const Impairments& impairments) {
    WaveformRequest request;
    request.bits = bits;
    request.amplitude = amplitude;
    request.impairments = impairments;
    return request;
}

struct WaveformResult {
    std::vector<double> input, output;
    std::vector<int> bits;
    std::string message;  // the model's AMI_Init message
    Eye eye;
};
WaveformResult RunWaveform(const AmiLibrary& library, const TimeBase& time,
                           const std::string& parameters, const std::vector<double>& impulse,
                           const WaveformRequest& request);

// A transmitter's response to a step through AMI_GetWave (after its AMI_Init on `impulse`): the
// input sits at `from` volts for `settle` samples, then at `to`; the result is `length` samples
// from the step on, less the output's level before it, per volt of step. Its last sample is the
// gain at that swing; its differences are the impulse response at that swing.
std::vector<double> GetWaveStep(const AmiLibrary& library, const TimeBase& time,
                                const std::string& parameters, const std::vector<double>& impulse,
                                double from, double to, std::size_t settle, std::size_t length,
                                std::string* message = nullptr);

// The PRBS bits of a bit-by-bit run; throws AmiError when they hold more samples than amirun
// handles.
std::vector<int> PatternBits(int prbsOrder, long bits, int samplesPerBit);

// `wave` through a model's AMI_GetWave in blocks of `block` samples (all at once when 0), after
// its AMI_Init on `impulse`, which gets what the model wrote into it. `clock` gets the clock
// times it returned, in order, `message` its AMI_Init message; `what` names the result when
// its samples are not finite.
std::vector<double> ThroughGetWave(const AmiLibrary& library, const TimeBase& time,
                                   const std::string& parameters, std::vector<double>& impulse,
                                   std::vector<double> wave, std::size_t block,
                                   const std::string& what, std::vector<double>* clock = nullptr,
                                   std::string* message = nullptr);

// Bits before this are left out of eyes: the filters' start.
std::size_t SkippedBits(long bits);

}  // namespace amirun
