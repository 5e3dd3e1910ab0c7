#include "tools/amirun/channel/ChannelReport.h"

#include <iomanip>
#include <iostream>
#include <sstream>

#include "tools/amirun/io/Text.h"

namespace amirun {

void PrintChannel(const ChannelReport& report) {
    std::ostringstream line;
    // The window whole (it may reach six digits), the figures in four significant digits.
    line << std::setprecision(10) << "channel: " << report.source << "; window " << report.windowUi
         << std::setprecision(4) << " UI keeping " << 100.0 * report.keptDcFraction
         << " % of a DC gain of " << report.dcGain << "; " << report.lossAtNyquistDb
         << " dB at the Nyquist frequency";
    if (!report.ports.empty()) line << "; ports " << report.ports;
    std::cout << Printable(line.str()) << '\n';
    for (const std::string& note : report.notes)
        std::cout << "channel: " << Printable(note) << '\n';
    for (const std::string& warning : report.warnings)
        std::cerr << "warning: " << Printable(warning) << '\n';
}

JsonObject ChannelJson(const ChannelReport& report) {
    JsonObject json;
    json.Text("source", report.source)
        .Number("dc_gain", report.dcGain)
        .Number("kept_dc_fraction", report.keptDcFraction)
        .Number("acausal_fraction", report.acausalFraction)
        .Number("window_ui", report.windowUi)
        .Text("ports", report.ports)
        .Number("f_max_hz", report.fMaxHz)
        .Bool("extrapolated", report.extrapolated)
        .Number("loss_at_nyquist_db", report.lossAtNyquistDb)
        .Bool("inverted", report.inverted)
        .Texts("notes", report.notes)
        .Texts("warnings", report.warnings);
    return json;
}

}  // namespace amirun
