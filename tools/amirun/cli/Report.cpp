#include "tools/amirun/cli/Report.h"

#include <iomanip>
#include <iostream>
#include <sstream>

namespace amirun {

void PrintChannel(const ChannelReport& report) {
    std::ostringstream line;
    // The window whole (it may reach six digits), the figures in four significant digits.
    line << std::setprecision(10) << "channel: " << report.source << "; window " << report.windowUi
         << std::setprecision(4) << " UI keeping " << 100.0 * report.keptDcFraction
         << " % of a DC gain of " << report.dcGain << "; " << report.lossAtNyquistDb
         << " dB at the Nyquist frequency";
    if (!report.ports.empty()) line << "; ports " << report.ports;
    std::cout << line.str() << '\n';
    for (const std::string& note : report.notes) std::cout << "channel: " << note << '\n';
    for (const std::string& warning : report.warnings) std::cerr << "warning: " << warning << '\n';
}

JsonObject ChannelJson(const ChannelReport& report) {
    JsonObject json;
    json.Text("source", report.source)
        .Number("dc_gain", report.dcGain)
        .Number("kept_dc_fraction", report.keptDcFraction)
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

void AddTimeBase(JsonObject& json, const TimeBase& base) {
    json.Number("bit_rate", base.bitRate)
        .Number("sample_interval", base.dt)
        .Number("samples_per_ui", base.samplesPerBit);
}

std::string EyeText(const Eye& eye, double unitInterval) {
    if (!(eye.height > 0.0)) return "closed";
    std::ostringstream text;
    text << std::fixed << std::setprecision(4) << "height " << eye.height << " V, width "
         << std::setprecision(3) << eye.width << " UI (" << std::setprecision(1)
         << eye.width * unitInterval * 1e12 << " ps)";
    return text.str();
}

JsonObject EyeJson(const Eye& eye, double unitInterval) {
    JsonObject json;
    json.Number("height_V", eye.height)
        .Number("width_UI", eye.width)
        .Number("width_ps", eye.width * unitInterval * 1e12)
        .Text("state", eye.height > 0.0 ? "open" : "closed");
    return json;
}

std::string StatisticalEyeText(const StatisticalEye& eye, double swing, double ber) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(4);
    if (eye.height > 0.0)
        text << "height " << eye.height * swing << " V, width " << std::setprecision(3) << eye.width
             << " UI";
    else
        text << "closed";
    text << std::defaultfloat << " at BER " << ber;
    return text.str();
}

}  // namespace amirun
