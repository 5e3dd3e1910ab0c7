#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace amirun {

// A channel file, turned into what a receiver's AMI_Init takes: impulse responses sampled every
// dt, in 1/s (so that the samples times dt sum to the DC gain), column 0 the through channel and
// any further columns aggressors.
//
// Forms, detected or chosen:
//   values      columns of impulse samples already at dt (one column per aggressor), taken whole;
//   time        a time column in seconds (or in the unit a header names: s, ms, us, ns, ps) and
//               one or more value columns: an impulse response in 1/s, or a step response
//               (dimensionless), told apart by its settling or chosen by `step`; any spacing;
//   touchstone  Touchstone 1.0 .s2p (S21) or .s4p (Sdd21, ports in+, in-, out+, out- as given).
// Separators: commas, semicolons, tabs or blanks; an optional header line; CRLF or LF.
enum class ChannelFormat { Auto, Values, Time, Touchstone };

struct ChannelOptions {
    ChannelFormat format = ChannelFormat::Auto;
    bool step = false;                   // the time form holds a step response
    std::vector<int> ports{1, 3, 2, 4};  // .s4p: in+, in-, out+, out- (1-based)
    double dt = 0.0;                     // the model's sample interval
    std::size_t length = 0;              // samples to keep
};

struct ChannelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws ChannelError with the file, the line where it applies, and the reason.
std::vector<std::vector<double>> ReadChannel(const std::string& path,
                                             const ChannelOptions& options);

// The parts, for tests and for the frequency-response plot.
struct Touchstone {
    int ports = 0;
    std::vector<double> frequencies;  // Hz
    // s[k][row][column], complex as {re, im}
    std::vector<std::vector<std::vector<std::pair<double, double>>>> s;
};
Touchstone ParseTouchstone(const std::string& text, int expectedPorts);

// Impulse response, every dt for `length` samples, of a transfer function given at ascending
// frequencies: extrapolated to DC, tapered to zero at the highest frequency, and transformed.
std::vector<double> ImpulseFromResponse(const std::vector<double>& frequencies,
                                        const std::vector<std::pair<double, double>>& response,
                                        double dt, std::size_t length);

// |H(f)| in dB of an impulse response sampled every dt (in 1/s), at frequencies up to
// `highest`, on the grid of its zero-padded transform.
void MagnitudeResponse(const std::vector<double>& impulse, double dt, double highest,
                       std::vector<double>& frequencies, std::vector<double>& decibels);

}  // namespace amirun
