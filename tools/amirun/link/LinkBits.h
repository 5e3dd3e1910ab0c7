#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {

// The time-domain flow of a link as IBIS-AMI hosts run it, for either kind of model on either
// side: bits through the transmitter's AMI_GetWave, or its AMI_Init impulse when it has none;
// convolved with the channel as the transmitter leaves it; then through the receiver's
// AMI_GetWave in blocks with a clock_times buffer, or its AMI_Init impulse when it has none.

struct LinkBitsRequest {
    long bits = 20000;
    double amplitude = 0.5;  // the bits' levels are +-amplitude volts
    Impairments impairments;
    long ignoreBits = 0;  // the host's own: the first bits stay out of the eye
    long blockBits = 1024;
    int maxLatencyBits = 64;
};

struct LinkBitsResult {
    std::vector<double> output;  // at the receiver's decision point, noise included
    std::vector<int> bits;
    Eye eye;
    std::size_t skippedBits = 0;
    std::string skippedWhy;   // "Ignore_Bits of Rx (500)", ...
    std::string transmitter;  // "AMI_GetWave" or "AMI_Init impulse"
    std::string receiver;     // "AMI_GetWave" or "AMI_Init impulse"
    std::string channel;      // what the transmitter's waveform was convolved with
    bool modelClock = false;  // measured at the receiver's clock_times
    ClockedEye clock;         // when modelClock
};

// Whether the host is to call the model's AMI_GetWave: its GetWave_Exists, or the library's
// export when the .ami file does not say. Throws AmiError when it says True of a library
// without one.
bool UsesGetWave(const ModelRun& model, const AmiLibrary& library);

// The bits the eye leaves out: the filters' start, the models' Ignore_Bits and the request's,
// whichever is most; `why` says whose. Throws AmiError when that leaves no bit.
std::size_t IgnoredBits(const ModelRun& tx, const ModelRun& rx, const LinkBitsRequest& request,
                        std::string* why = nullptr);

LinkBitsResult RunLinkBits(const Models& m, const std::string& txParameters,
                           const std::string& rxParameters, const TimeBase& time,
                           const std::vector<double>& channel, const LinkBitsRequest& request);

}  // namespace amirun
