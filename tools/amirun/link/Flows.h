#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/amirun/host/AmiLibrary.h"
#include "tools/amirun/host/Session.h"
#include "tools/amirun/link/Impairments.h"
#include "tools/amirun/link/StatEye.h"

namespace amirun {

// The statistical flow of a link, shared by link and optimize: the channel's impulse responses
// through the transmitter and then the receiver, and the statistical eye of the pulses.

struct Models {
    ModelRun tx, rx;
    std::unique_ptr<AmiLibrary> txLibrary, rxLibrary;
};

// Both models of a link resolved and loaded, the output folder ready, one time base for both
// (from the receiver's rate; the transmitter's rate parameter follows), the channel read, and
// the impairments: the command line's with those the models' .ami files declare.
struct LinkSetup {
    Models m;
    TimeBase time;
    Channel channel;
    Impairments impairments;
    std::vector<ImpairmentTerm> impairmentTerms;
    // The statistical flow needs the receiver's AMI_Init impulse; empty when it has one.
    std::string noStatisticalFlow;
};
LinkSetup PrepareLink(const ModelOptions& tx, const ModelOptions& rx, const ChannelCli& channel,
                      const RunOptions& run, const Impairments& impairments);

// Throws ChannelError when the statistical eye of these channel columns would have more terms
// per sampling instant than kMaxEyeTerms, naming the window that keeps within it.
void CheckEyeTerms(const std::vector<std::vector<double>>& columns, int samplesPerBit);

// One model's impulse response at one setting, 96 unit intervals of it: its AMI_Init on a unit
// impulse, or, for a transmitter without an impulse from AMI_Init, the differences of its
// response to a 1 mV step through AMI_GetWave (small signal, where its limiters are linear).
std::vector<double> ImpulseOf(const AmiLibrary& library, const ModelRun& model,
                              const std::string& parameters, const TimeBase& time);

struct FlowSettings {
    double amplitude = 0.5;  // the bits' levels are +-amplitude volts
    double targetBer = 1e-12;
    bool strict = false;
    int phases = 64;  // of the statistical eye, per unit interval
    int bins = 1 << 16;
    Impairments impairments;
};

inline FlowSettings MakeFlow(double amplitude, double targetBer, bool strict,
                             const Impairments& impairments, int phases = 64, int bins = 1 << 16) {
    FlowSettings flow;
    flow.amplitude = amplitude;
    flow.targetBer = targetBer;
    flow.strict = strict;
    flow.impairments = impairments;
    flow.phases = phases;
    flow.bins = bins;
    return flow;
}

// How the statistical flow took the transmitter, and its DC gains at 1 mV and at the bits' swing.
struct TransmitterShape {
    std::vector<std::vector<double>> columns;
    std::string how;
    double smallGain = 0.0, largeGain = 0.0;
    // Where the transmitter runs through AMI_GetWave: its own output for a PRBS7 period at the
    // bits' levels less what its linear model (the response the columns were shaped with) gives,
    // its mean removed (an offset moves ones and zeros alike). Empty for an AMI_Init impulse.
    std::vector<double> linearError;
};

// The transmitter's AMI_Init impulse, or its step response through AMI_GetWave at the bits' own
// levels, where its limiters act as they do on the bits (a 1 mV step tells its small-signal gain
// beside it), applied to every channel column.
TransmitterShape ShapeByTransmitter(const AmiLibrary& library, const ModelRun& model,
                                    const std::string& parameters, const TimeBase& time,
                                    const std::vector<std::vector<double>>& channel,
                                    const FlowSettings& flow);

// Warns when the jitter reaches beyond half a unit interval: the statistical eye leaves that
// probability out (the bit-by-bit flow keeps it).
void WarnOfJitterBeyondHalfUi(const Impairments& impairments);

// A transmitter whose gain at the bits' swing is more than 5 % from its small-signal gain
// compresses: a linear model of it fits one swing only.
bool Compresses(const TransmitterShape& tx);

struct StatisticalResult {
    StatisticalEye eye;
    // How far the statistical flow's linear transmitter is from the real one at the decision
    // point: the largest difference of their samples over a PRBS7 period at the best phase
    // (volts), and whether the statistical eye therefore applies.
    double linearMismatch = 0.0;
    bool applies = true;
    std::string why;                // when it does not apply
    std::vector<double> crosstalk;  // volts, per aggressor column
    TransmitterShape tx;            // without its columns
    double pulsePeak = 0.0;         // the victim's pulse response at its peak, per volt
    std::vector<double> cursors;    // per volt, -2 to +5 unit intervals from the best phase
    std::vector<double> pulse;      // the victim's pulse response per volt, at the time base
};

// The receiver's AMI_Init on the shaped columns, and the statistical eye of their pulses.
StatisticalResult StatisticalFlowAfter(const AmiLibrary& library, const ModelRun& model,
                                       const std::string& parameters, const TimeBase& time,
                                       const TransmitterShape& shape, const FlowSettings& flow);

}  // namespace amirun
