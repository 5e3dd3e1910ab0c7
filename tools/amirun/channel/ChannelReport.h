#pragma once

#include <limits>
#include <string>
#include <vector>

#include "tools/amirun/io/Json.h"

namespace amirun {

// What a run assumed about its channel, for standard output and the JSON summary. Numbers that
// do not apply (the band of a time-domain file) stay NaN and are written as null.
struct ChannelReport {
    std::string source;                 // "built-in line", "Touchstone", "time", "values"
    std::string ports;                  // "1,3,2,4 (found)", "2->1", ""
    double dcGain = 0.0;                // the whole response's DC gain
    double keptDcFraction = 1.0;        // of the DC gain inside the window
    double acausalFraction = 0.0;       // of the DC gain a file's data put before t = 0 (left out)
    double windowUi = 0.0;              // the window in unit intervals
    double fMaxHz = kNan;               // the file's last frequency
    bool extrapolated = false;          // the band was filled above the file's last frequency
    double lossAtNyquistDb = kNan;      // |H| at the bit rate's Nyquist frequency, in dB
    bool inverted = false;              // negative DC gain: a P/N swap, kept
    std::vector<std::string> notes;     // assumptions, printed as they are
    std::vector<std::string> warnings;  // printed with "warning: "

    static constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
};

// Prints the channel's assumptions and warnings; the JSON's channel object.
void PrintChannel(const ChannelReport& report);
JsonObject ChannelJson(const ChannelReport& report);

}  // namespace amirun
