#pragma once

#include <string>
#include <vector>

#include "tools/amirun/channel/Channel.h"

namespace amirun {

// What a run was asked to do, as the command line or a batch plan gives it; the command line
// binds these in cli/Options.

// The range of every number a run takes, the same from the command line and from a plan.
struct NumberRange {
    double low, high;
};
inline constexpr NumberRange kBitRateRange{1e6, 1e13};           // bits per second
inline constexpr NumberRange kSampleIntervalRange{1e-16, 1e-6};  // seconds
inline constexpr NumberRange kAmplitudeRange{1e-6, 1e3};         // volts
inline constexpr NumberRange kBerRange{1e-30, 1e-3};
inline constexpr NumberRange kBitsRange{100, 1000000};
inline constexpr NumberRange kWindowBitsRange{1, 1 << 20};
inline constexpr NumberRange kLossRange{0.0, 100.0};     // dB at the Nyquist frequency
inline constexpr NumberRange kNoiseRmsRange{0.0, 10.0};  // volts
inline constexpr NumberRange kRjRmsRange{0.0, 0.1};      // unit intervals
inline constexpr NumberRange kDjPpRange{0.0, 0.5};       // unit intervals
inline constexpr NumberRange kSjPpRange{0.0, 0.5};       // unit intervals
inline constexpr NumberRange kSjFreqRange{0.0, 1e12};    // hertz

// A model: a library and its .ami file, or an .ibs file that names them, and parameter values.
struct ModelOptions {
    std::string library, amiFile, ibsFile, ibsModel;
    std::vector<std::string> sets;
    bool allowOutside = false;
};

// The channel: a file, or the built-in line; its window, band and ports.
struct ChannelCli {
    std::string file;
    std::string format = "auto";
    bool step = false;
    std::string ports;  // empty: found from the file
    double lossDb = 20.0;
    int windowBits = 0;
    bool extrapolate = false;
};

// The time base, checks and outputs of a run.
struct RunOptions {
    double sampleInterval = 0.0;
    double bitRate = 32e9;
    bool strict = false;
    std::string json;
    std::string outDir = "out";
    std::string prefix;
};

// "1,3,2,4": whole numbers separated by commas, nothing else. Throws ChannelError.
std::vector<int> ParsePorts(const std::string& text);

// The channel options for the reader, at a run's time base.
ChannelOptions ToChannelOptions(const ChannelCli& channel, double dt, int samplesPerBit,
                                double bitRate, bool chosenInterval);

}  // namespace amirun
