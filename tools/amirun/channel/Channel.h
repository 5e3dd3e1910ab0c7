#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/amirun/channel/ChannelError.h"
#include "tools/amirun/channel/ChannelReport.h"

namespace amirun {

// A channel, turned into what a receiver's AMI_Init takes: impulse responses sampled every dt,
// in 1/s (so that the samples times dt sum to the DC gain), column 0 the through channel and any
// further columns aggressors, all as long as one window.
//
// Forms, detected or chosen:
//   values      columns of impulse samples already at dt (one column per aggressor), taken whole;
//   time        a time column in seconds (or the unit its name carries: s, ms, us, ns, ps, fs)
//               and one or more value columns: an impulse response in 1/s, or a step response
//               (dimensionless), told apart by its settling or chosen by `step`; any spacing;
//   touchstone  Touchstone 1.0 or 2.0, any even port count: S21 of a two-port, else the
//               differential through response of the victim pair, then the far-end and near-end
//               crosstalk of every other pair; renormalized to 50 ohm.
// Separators: commas, semicolons, tabs or blanks; an optional header line; CRLF or LF.
enum class ChannelFormat { Auto, Values, Time, Touchstone };

struct ChannelOptions {
    ChannelFormat format = ChannelFormat::Auto;
    bool step = false;       // the time form holds a step response
    std::vector<int> ports;  // in+,in-,out+,out- per pair, victim first, 1-based; empty: found
    double dt = 0.0;         // the model's sample interval
    int samplesPerBit = 0;
    double bitRate = 0.0;
    int windowBits = 0;           // the window in unit intervals; 0: from the channel
    bool extrapolate = false;     // continue a band that ends below the Nyquist frequency
    bool chosenInterval = false;  // dt is not the model's own: bare values cannot be read at it
};

struct Channel {
    std::vector<std::vector<double>> columns;
    ChannelReport report;
};

// Throws ChannelError with the file, the line where it applies, and the reason.
Channel ReadChannel(const std::string& path, const ChannelOptions& options);

// The built-in line: `lossDb` at the Nyquist frequency, its skin effect giving way to its DC
// resistance below 100 MHz, as real lines do, so that its step response settles.
Channel BuiltInChannel(double lossDb, const ChannelOptions& options);

// The window of a response: long enough that the step response stays within 0.1 % of `dcGain`
// after it (delay plus settled tail), a whole number of unit intervals, at least kMinWindowBits
// and at most kMaxWindowSamples; or `windowBits` when that is not 0.
struct Window {
    std::size_t samples = 0;
    double kept = 1.0;     // the step response at the window's end over dcGain
    bool bounded = false;  // the response had not settled within the bound
};
Window ChooseWindow(const std::vector<double>& impulse, double dt, int samplesPerBit, double dcGain,
                    int windowBits);

// The parts, for tests.
struct RawChannel {  // every column's whole response, before the window
    std::vector<std::vector<double>> columns;
    ChannelReport report;
    bool keepWhole = false;  // bare values: the user's samples, not cut
};
RawChannel ReadTableChannel(const std::string& path, const std::string& text,
                            const ChannelOptions& options);
RawChannel ReadTouchstoneChannel(const std::string& text, int portsOfName,
                                 const ChannelOptions& options);

}  // namespace amirun
